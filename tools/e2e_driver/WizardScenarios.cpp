// Scenarios that run the wizard itself against the Designer simulator: the
// form's layout and fields, the capture by pointing at the simulator's
// caption, whole builds through the form, failed and stopped builds. Each
// starts its own simulator and wizard.
#include <windows.h>

#include <cwchar>
#include <filesystem>
#include <string>
#include <vector>

#include "Scenarios.h"
#include "SimPayload.h"
#include "SimSession.h"
#include "WizardSession.h"
#include "platform/Platform.h"
#include "text/Codepage.h"

namespace fs = std::filesystem;

namespace {

constexpr DWORD kTimeout = 10000;
const std::wstring kTitle = L"Мастер создания пакета инсталляции 1С 8.2";
const std::wstring kDemoCaption = L"Конфигуратор - Управление складом (пример)";

std::wstring Option(const TScenarioContext& c, const std::wstring& name, const std::wstring& fallback)
{
    const auto it = c.Options.find(name);
    return it == c.Options.end() ? fallback : it->second;
}

void WriteBytes(const fs::path& path, const std::string& bytes)
{
    auto f = platform::TFile::Create(path);
    f.WriteAll(bytes.data(), bytes.size());
    f.Close();
}

std::string ReadBytes(const fs::path& path)
{
    std::string out;
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    fclose(f);
    return out;
}

std::string Cp1251(const std::wstring& s)
{
    return text::Utf16ToCp1251(std::u16string(s.begin(), s.end()));
}

bool StartBoth(TScenarioContext& c, TSimSession& sim, TWizardSession& wizard)
{
    if (!c.Check.Check(sim.Started(), L"the simulator starts", sim.Error())) return false;
    return c.Check.Check(wizard.Started(), L"the wizard starts", wizard.Error());
}

// Points the wizard at the simulator's caption and checks the expanded form.
bool Capture(TScenarioContext& c, TSimSession& sim, TWizardSession& wizard, const std::wstring& caption)
{
    if (!c.Check.Check(wizard.CaptureAt(wnd::CaptionPoint(sim.Frame())), L"the form comes back after the capture"))
        return false;
    const bool ok = c.Check.Equal(wizard.Text(wiz::wnd1CStatus), L"Используется: " + caption, L"status names the Designer");
    c.Check.Equal(wizard.OuterHeight(), 450, L"the form grows to 450");
    c.Check.Check(IsWindowVisible(wizard.Control(wiz::GroupPreparation)) != FALSE, L"the panel is shown");
    return ok;
}

struct TBuildFiles {
    fs::path Report, Agreement, Description, Package;
};

void Fill(TWizardSession& wizard, const TBuildFiles& f, const std::wstring& key, const std::wstring& delay)
{
    wizard.SetText(wiz::PathToDiffFile, proc::DosPath(f.Report.wstring()));
    wizard.SetText(wiz::LicensePath, proc::DosPath(f.Agreement.wstring()));
    wizard.SetText(wiz::PathToDescription, proc::DosPath(f.Description.wstring()));
    wizard.SetText(wiz::PathToPackageFile, proc::DosPath(f.Package.wstring()));
    wizard.SetText(wiz::SerialKey, key);
    wizard.SetText(wiz::sl, delay);
}

// How a build through the form ended.
struct TBuildEnd {
    bool Ended = false;    // the caption came back, or a box is up
    HWND Box = nullptr;    // a message box of the wizard, when one is up
    bool SawProgress = false;
};

// Presses "Сформировать" and waits until the build has ended: the caption
// shows no progress any more, or the wizard shows a box. `during` runs once
// while the progress is shown.
TBuildEnd RunBuild(TWizardSession& wizard, DWORD timeoutMs, const std::function<void()>& during = {})
{
    TBuildEnd end;
    ctl::PressButton(wizard.Control(wiz::MakePackage));
    end.Ended = wait::Until([&] {
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
    }, timeoutMs, 5);
    return end;
}

std::wstring LogLine(const std::wstring& path, bool ok)
{
    return L"Захват объекта для добавления (" + path + (ok ? L") - УСПЕХ" : L") - ОШИБКА");
}

// The objects of samples/report.txt, in report order.
const wchar_t* const kSampleObjects[] = {
    L"Справочник.Контрагенты",
    L"Справочник.Склады.Реквизит.Кладовщик",
    L"ОбщийМодуль.ПечатьСервер",
    L"Обработка.ЗагрузкаОстатков",
    L"Подсистема.СкладскойУчет",
};

// The main job: the wizard captures the simulator, builds a package from a
// report and says where it is. Inputs through --set: report, config,
// agreement, description, out (a package path), shots (a directory for the
// screenshots); all Unix or Windows paths.
void Demo(TScenarioContext& c)
{
    const std::wstring config = proc::DosPath(Option(c, L"config", L""));
    std::vector<std::wstring> simArgs = {L"--caption", kDemoCaption, L"--latency", L"150"};
    if (!config.empty()) simArgs.insert(simArgs.end(), {L"--config", config});
    TSimSession sim(c.SimExe, L"wizard_demo", simArgs);
    TWizardSession wizard(c.WizardExe);
    if (!StartBoth(c, sim, wizard)) return;
    const std::wstring shots = Option(c, L"shots", L"");
    const auto shot = [&](const wchar_t* name) {
        if (shots.empty()) return;
        DWORD_PTR ignored;
        SendMessageTimeoutW(wizard.Form(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kTimeout, &ignored);
        const std::wstring target = shots + L"/" + name;
        c.Check.Note(screen::Request(target, 15000) ? L"screenshot " + target : L"no screenshot (not run by winrun.sh)");
    };
    shot(L"wizard-collapsed.png");
    if (!Capture(c, sim, wizard, kDemoCaption)) return;

    TBuildFiles files{proc::DosPath(Option(c, L"report", L"")), proc::DosPath(Option(c, L"agreement", L"")),
                      proc::DosPath(Option(c, L"description", L"")), proc::DosPath(Option(c, L"out", L""))};
    wizard.SetText(wiz::PathToDiffFile, files.Report.wstring());
    wizard.SetText(wiz::LicensePath, files.Agreement.wstring());
    wizard.SetText(wiz::PathToDescription, files.Description.wstring());
    wizard.SetText(wiz::PathToPackageFile, files.Package.wstring());
    // A key as the generator makes it.
    ctl::PressButton(wizard.Control(wiz::GenerateKey));
    wait::Until([&] { return wizard.Text(wiz::SerialKey).size() == 36; }, kTimeout);
    wizard.SetText(wiz::sl, L"2000");
    shot(L"wizard-expanded.png");

    const TBuildEnd end = RunBuild(wizard, 120000, [&] { shot(L"wizard-building.png"); });
    if (end.Box) {
        HWND front = GetForegroundWindow();
        c.Check.Note(L"foreground: " + wnd::ClassName(front) + L" \"" + wnd::Text(front) + L"\" pid " + std::to_wstring(wnd::ProcessOf(front)) + L", simulator " + std::to_wstring(sim.Pid()) + L", wizard " + std::to_wstring(wizard.Pid()));
        for (const std::wstring& line : wizard.LogLines()) c.Check.Note(L"log: " + line);
        c.Check.Check(false, L"the build ends without a box", msgbox::Text(end.Box));
        msgbox::PressOk(end.Box);
        return;
    }
    c.Check.Check(end.Ended, L"the build ends");
    const std::wstring key = wizard.Text(wiz::SerialKey);
    c.Check.Check(GetFileAttributesW(files.Package.c_str()) != INVALID_FILE_ATTRIBUTES, L"the package is written");
    const auto onClipboard = clip::Read(CF_UNICODETEXT);
    c.Check.Equal(onClipboard ? std::wstring(reinterpret_cast<const wchar_t*>(onClipboard->data())) : L"", key,
                  L"the key is on the clipboard");
    for (const std::wstring& line : wizard.LogLines()) c.Check.Note(L"log: " + line);
    PrintUtf8(L"package: " + files.Package.wstring() + L"\nkey: " + key + L"\n");
    const std::wstring keyFile = Option(c, L"keyfile", L"");
    if (!keyFile.empty()) WriteBytes(proc::DosPath(keyFile), Cp1251(key));
    c.Check.Check(wizard.Close().has_value(), L"the wizard closes");
}

}  // namespace

const std::vector<TScenario>& WizardScenarios()
{
    static const std::vector<TScenario> scenarios = {
        {"wizard_demo", Demo},
    };
    return scenarios;
}
