#include "WizardSteps.h"

#include "Win32Drive.h"
#include "text/Codepage.h"

std::wstring Option(const TScenarioContext& c, const std::wstring& name, const std::wstring& fallback) {
    const auto it = c.Options.find(name);
    return it == c.Options.end() ? fallback : it->second;
}

std::vector<std::wstring> SimArgs(const TScenarioContext& c, std::vector<std::wstring> args) {
    const std::wstring extra = Option(c, L"simextra", L"");
    size_t pos = 0;
    while (pos < extra.size()) {
        const size_t end = extra.find(L' ', pos);
        const std::wstring word = extra.substr(pos, end == std::wstring::npos ? std::wstring::npos : end - pos);
        if (!word.empty()) args.push_back(word);
        if (end == std::wstring::npos) break;
        pos = end + 1;
    }
    return args;
}

std::string Cp1251(const std::wstring& s) { return text::Utf16ToCp1251(std::u16string(s.begin(), s.end())); }

bool StartBoth(TScenarioContext& c, TSimSession& sim, TWizardSession& wizard) {
    if (!c.Check.Check(sim.Started(), L"the simulator starts", sim.Error())) return false;
    return c.Check.Check(wizard.Started(), L"the wizard starts", wizard.Error());
}

bool Capture(TScenarioContext& c, TSimSession& sim, TWizardSession& wizard, const std::wstring& caption) {
    if (!c.Check.Check(wizard.CaptureAt(wnd::CaptionPoint(sim.Frame())), L"the form comes back after the capture"))
        return false;
    const bool ok =
        c.Check.Equal(wizard.Text(wiz::wnd1CStatus), L"Используется: " + caption, L"status names the Designer");
    c.Check.Equal(wizard.OuterHeight(), 450, L"the form grows to 450");
    c.Check.Check(IsWindowVisible(wizard.Control(wiz::GroupPreparation)) != FALSE, L"the panel is shown");
    return ok;
}

HWND FocusOf(HWND anyWindow) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(GetWindowThreadProcessId(anyWindow, nullptr), &info) ? info.hwndFocus : nullptr;
}

// Tries again when a window activated meanwhile (the Designer handling the
// capture's last key) took the click.
bool ClickInto(TWizardSession& wizard, int id) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        wnd::MakeForeground(wizard.Form(), kTimeout);
        RECT r{};
        GetWindowRect(wizard.Control(id), &r);
        mouse::ClickAt(POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
        if (wait::Until([&] { return FocusOf(wizard.Form()) == wizard.Control(id); }, 1500)) return true;
    }
    return false;
}

void Fill(TWizardSession& wizard, const TBuildFiles& f, const std::wstring& key, const std::wstring& delay) {
    wizard.SetText(wiz::PathToDiffFile, proc::DosPath(f.Report.wstring()));
    wizard.SetText(wiz::LicensePath, proc::DosPath(f.Agreement.wstring()));
    wizard.SetText(wiz::PathToDescription, proc::DosPath(f.Description.wstring()));
    wizard.SetText(wiz::PathToPackageFile, proc::DosPath(f.Package.wstring()));
    wizard.SetText(wiz::SerialKey, key);
    wizard.SetText(wiz::sl, delay);
}

TBuildEnd RunBuild(TWizardSession& wizard, DWORD timeoutMs, const std::function<void()>& during, DWORD pollMs) {
    TBuildEnd end;
    ctl::PressButton(wizard.Control(wiz::MakePackage));
    end.Ended = wait::Until(
        [&] {
            const std::wstring caption = wnd::Text(wizard.Form());
            if (caption.find(L" из ") != std::wstring::npos && !end.SawProgress) {
                end.SawProgress = true;
                if (during) during();
            }
            const auto boxes = msgbox::Find(wizard.Pid());
            if (!boxes.empty()) {
                end.Box = boxes.front();
                return true;
            }
            return end.SawProgress && caption == kTitle;
        },
        timeoutMs, pollMs);
    return end;
}

std::wstring ClipboardText() {
    const auto data = clip::Read(CF_UNICODETEXT);
    return data ? std::wstring(reinterpret_cast<const wchar_t*>(data->data())) : L"";
}

void ExpectBox(TScenarioContext& c, TWizardSession& wizard, HWND box, const std::wstring& caption,
               const std::wstring& text, const std::wstring& what, bool escape) {
    if (!box) box = msgbox::WaitFor(wizard.Pid(), kTimeout);
    if (!c.Check.Check(box != nullptr, what + L": a box is shown")) return;
    c.Check.Equal(wnd::Text(box), caption, what + L": box caption");
    c.Check.Equal(msgbox::Text(box), text, what + L": box text");
    if (escape) {
        wnd::MakeForeground(box, kTimeout);
        keys::Press(VK_ESCAPE);
        c.Check.Check(wait::Until([&] { return msgbox::Find(wizard.Pid()).empty(); }, 5000),
                      what + L": Esc closes the box");
    }
    msgbox::PressOk(box);
    wait::Until([&] { return msgbox::Find(wizard.Pid()).empty(); }, kTimeout);
}
