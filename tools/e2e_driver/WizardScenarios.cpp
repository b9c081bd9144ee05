// Scenarios that run the wizard itself against the Designer simulator: the
// form's layout and fields, the capture by pointing at the simulator's
// caption, whole builds through the form, failed and stopped builds. Each
// starts its own simulator and wizard.
#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <optional>
#include <functional>
#include <filesystem>
#include <string>
#include <vector>

#include "PhaseTimer.h"
#include "Scenarios.h"
#include "SimPayload.h"
#include "SimSession.h"
#include "WizardSession.h"
#include "designer/PackageBuild.h"
#include "designer/WindowCapture.h"
#include "designer/win32/Win32Ports.h"
#include "package/PackageDocument.h"
#include "platform/Platform.h"
#include "platform/Win32Clipboard.h"
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

// The simulator's switches of a scenario, followed by those of --set
// simextra="..." (blank-separated), so that any scenario can run against a
// stricter or slower simulator.
std::vector<std::wstring> SimArgs(const TScenarioContext& c, std::vector<std::wstring> args = {})
{
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
TBuildEnd RunBuild(TWizardSession& wizard, DWORD timeoutMs, const std::function<void()>& during = {}, DWORD pollMs = 5)
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
    }, timeoutMs, pollMs);
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
    TSimSession sim(c.SimExe, L"wizard_demo", SimArgs(c, simArgs));
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


// ---- Layout

struct TExpectedControl {
    int Id;
    const wchar_t* Name;
    const wchar_t* Class;
    bool InPanel;
    int Left, Top, Width, Height;
    const wchar_t* Text;
    bool Bold;
    DWORD StyleBits;  // bits that must be set
};

// The form's controls at 96 DPI, as the form's table gives them.
const TExpectedControl kLayout[] = {
    {wiz::Grab1CWnd, L"Grab1CWnd", L"Static", false, 1, 3, 16, 16, L"", false, SS_NOTIFY},
    {wiz::wnd1CStatus, L"wnd1CStatus", L"Static", false, 20, 4, 133, 13, L"Окно 1С не захвачено", true, 0},
    {wiz::GroupPreparation, L"GroupPreparation", L"Button", false, 1, 23, 658, 166, L"Подготовка пакета инсталляции", false, BS_GROUPBOX},
    {wiz::Label1, L"Label1", L"Static", true, 35, 23, 98, 13, L"Отчет о сравнении:", false, SS_RIGHT},
    {wiz::Label4, L"Label4", L"Static", true, 50, 45, 83, 13, L"Файл лицензии:", false, SS_RIGHT},
    {wiz::Label5, L"Label5", L"Static", true, 25, 67, 108, 13, L"Путь к файлу пакета:", false, SS_RIGHT},
    {wiz::Label6, L"Label6", L"Static", true, 12, 89, 121, 13, L"Файл описания пакета:", false, SS_RIGHT},
    {wiz::Label3, L"Label3", L"Static", true, 11, 111, 122, 13, L"Регистрационный ключ:", false, SS_RIGHT},
    {wiz::Label2, L"Label2", L"Static", true, 57, 133, 76, 13, L"Задержка (ms):", false, SS_RIGHT},
    {wiz::PathToDiffFile, L"PathToDiffFile", L"Edit", true, 135, 19, 518, 21, L"", false, WS_TABSTOP | ES_AUTOHSCROLL},
    {wiz::OpenFile, L"OpenFile", L"Button", true, 630, 21, 22, 16, L"...", false, WS_TABSTOP},
    {wiz::LicensePath, L"LicensePath", L"Edit", true, 135, 41, 518, 21, L"", false, WS_TABSTOP | ES_AUTOHSCROLL},
    {wiz::SelectLicense, L"SelectLicense", L"Button", true, 630, 43, 22, 16, L"...", false, WS_TABSTOP},
    {wiz::PathToPackageFile, L"PathToPackageFile", L"Edit", true, 135, 63, 518, 21, L"", false, WS_TABSTOP | ES_AUTOHSCROLL},
    {wiz::SelectPackageFile, L"SelectPackageFile", L"Button", true, 630, 65, 22, 16, L"...", false, WS_TABSTOP},
    {wiz::PathToDescription, L"PathToDescription", L"Edit", true, 135, 85, 518, 21, L"", false, WS_TABSTOP | ES_AUTOHSCROLL},
    {wiz::SelectDescrFile, L"SelectDescrFile", L"Button", true, 630, 87, 22, 16, L"...", false, WS_TABSTOP},
    {wiz::SerialKey, L"SerialKey", L"Edit", true, 135, 108, 410, 21, L"", true, WS_TABSTOP},
    {wiz::GenerateKey, L"GenerateKey", L"Button", true, 546, 108, 106, 19, L"Сгенерировать", false, WS_TABSTOP},
    {wiz::sl, L"sl", L"Edit", true, 135, 130, 33, 21, L"20", false, WS_TABSTOP},
    {wiz::MakePackage, L"MakePackage", L"Button", true, 546, 134, 106, 23, L"Сформировать", false, WS_TABSTOP},
    {wiz::res, L"res", L"Edit", false, 1, 192, 657, 217, L"", false, WS_TABSTOP | ES_MULTILINE | ES_READONLY},
};

// Tab order, the panel's controls in the panel's place.
const int kTabOrder[] = {wiz::MakePackage, wiz::sl, wiz::SerialKey, wiz::GenerateKey, wiz::OpenFile,
                         wiz::PathToDiffFile, wiz::LicensePath, wiz::SelectLicense, wiz::PathToPackageFile,
                         wiz::SelectPackageFile, wiz::PathToDescription, wiz::SelectDescrFile, wiz::res};

int ScaleBy(int v, int dpi) { return MulDiv(v, dpi, 96); }

RECT RectIn(HWND control, HWND parent)
{
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// Every control of the table read back from the running wizard at `dpi`.
void CheckLayout(TScenarioContext& c, TWizardSession& wizard, int dpi)
{
    HWND form = wizard.Form();
    c.Check.Equal(wnd::ClassName(form), L"TMainForm", L"form class");
    c.Check.Equal(wnd::Text(form), kTitle, L"form caption");
    const LONG style = GetWindowLongW(form, GWL_STYLE);
    c.Check.Check((style & (WS_SYSMENU | WS_THICKFRAME | WS_CAPTION)) == (WS_SYSMENU | WS_THICKFRAME | WS_CAPTION),
                  L"sizeable frame with a system menu");
    c.Check.Check((style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_HSCROLL | WS_VSCROLL)) == 0,
                  L"no minimise or maximise button, no scroll bars");
    RECT client{};
    GetClientRect(form, &client);
    c.Check.Equal(client.right, ScaleBy(661, dpi), L"client width");
    const RECT outer = wizard.OuterRect();
    c.Check.Equal(outer.left, 324, L"form left");
    c.Check.Equal(outer.top, 133, L"form top");
    c.Check.Equal(outer.bottom - outer.top, ScaleBy(60, dpi), L"outer height after FormCreate");
    c.Check.Equal(wizard.FontFace(form), L"MS Sans Serif", L"form font");
    c.Check.Equal(wizard.Describe(form, wiz::FontHeight), -MulDiv(8, dpi, 72), L"form font height");

    HWND panel = wizard.Control(wiz::GroupPreparation);
    for (const TExpectedControl& e : kLayout) {
        HWND h = wizard.Control(e.Id);
        const std::wstring name = e.Name;
        if (!c.Check.Check(h != nullptr, name + L" exists")) continue;
        c.Check.Equal(wnd::ClassName(h), e.Class, name + L" class");
        c.Check.Check(GetParent(h) == (e.InPanel ? panel : form), name + L" parent");
        const RECT r = RectIn(h, e.InPanel ? panel : form);
        const bool label = std::wstring(e.Class) == L"Static" && e.InPanel;
        // The status label grows to the right with its text.
        const bool status = e.Id == wiz::wnd1CStatus;
        // A label keeps its right edge on its field; under a substituted
        // face wider than the form's font it grows to the left.
        if (label) {
            c.Check.Check(r.left <= ScaleBy(e.Left, dpi), name + L" left", std::to_wstring(r.left));
            // Grown past the panel's edge, its text would be cut there. At
            // 96 DPI every label fits; at 144 DPI the 16-pixel MS Sans
            // Serif makes "Регистрационный ключ:" 2 pixels too wide for
            // the table's layout, and its first letter touches the border.
            if (dpi == 96)
                c.Check.Check(r.left >= 0, name + L" lies inside the panel", std::to_wstring(r.left));
            c.Check.Equal(r.right, ScaleBy(e.Left + e.Width, dpi), name + L" right edge");
        } else if (status) {
            c.Check.Equal(r.left, ScaleBy(e.Left, dpi), name + L" left");
            c.Check.Check(r.right - r.left >= ScaleBy(e.Width, dpi), name + L" width", std::to_wstring(r.right - r.left));
        } else {
            c.Check.Equal(r.left, ScaleBy(e.Left, dpi), name + L" left");
            c.Check.Equal(r.right - r.left, ScaleBy(e.Width, dpi), name + L" width");
        }
        c.Check.Equal(r.top, ScaleBy(e.Top, dpi), name + L" top");
        c.Check.Equal(r.bottom - r.top, ScaleBy(e.Height, dpi), name + L" height");
        c.Check.Equal(wnd::Text(h), e.Text, name + L" text");
        const LONG cs = GetWindowLongW(h, GWL_STYLE);
        c.Check.Check((cs & e.StyleBits) == e.StyleBits, name + L" style bits");
        c.Check.Equal(wizard.FontFace(h), L"MS Sans Serif", name + L" font face");
        c.Check.Equal(wizard.Describe(h, wiz::FontHeight), -MulDiv(8, dpi, 72), name + L" font height");
        c.Check.Equal(wizard.Describe(h, wiz::FontWeight), e.Bold ? 700 : 400, name + L" font weight");
    }
    c.Check.Check((GetWindowLongW(wizard.Control(wiz::res), GWL_STYLE) & ES_READONLY) != 0, L"res is read-only");
    c.Check.Equal(static_cast<long long>(SendMessageW(wizard.Control(wiz::SerialKey), EM_GETLIMITTEXT, 0, 0)), 36,
                  L"SerialKey takes 36 characters");
    c.Check.Equal(wizard.Describe(wizard.Control(wiz::wnd1CStatus), wiz::TextColour), RGB(255, 0, 0), L"status is red");
    c.Check.Check(!IsWindowVisible(panel), L"the panel is hidden at start");
}

void Layout(TScenarioContext& c)
{
    TWizardSession wizard(c.WizardExe);
    if (!c.Check.Check(wizard.Started(), L"the wizard starts", wizard.Error())) return;
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    c.Check.Note(L"screen at " + std::to_wstring(dpi) + L" DPI");
    CheckLayout(c, wizard, dpi);
}

// The same at 144 DPI (150 %): the system DPI is set for the wizard's start
// and put back afterwards.
void Layout144(TScenarioContext& c)
{
    HKEY desktop = nullptr;
    if (!c.Check.Check(RegOpenKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                                     &desktop) == ERROR_SUCCESS,
                       L"the desktop settings open"))
        return;
    DWORD previous = 0, size = sizeof previous, type = 0;
    const bool hadValue = RegQueryValueExW(desktop, L"LogPixels", nullptr, &type, reinterpret_cast<BYTE*>(&previous), &size) ==
                          ERROR_SUCCESS;
    const DWORD dpi = 144;
    RegSetValueExW(desktop, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi);
    {
        TWizardSession wizard(c.WizardExe);
        if (c.Check.Check(wizard.Started(), L"the wizard starts at 144 DPI", wizard.Error()))
            CheckLayout(c, wizard, 144);
    }
    if (hadValue)
        RegSetValueExW(desktop, L"LogPixels", 0, type, reinterpret_cast<const BYTE*>(&previous), size);
    else
        RegDeleteValueW(desktop, L"LogPixels");
    RegCloseKey(desktop);
}

// ---- Start-up and capture

HWND FocusOf(DWORD pid, HWND anyWindow)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    (void)pid;
    return GetGUIThreadInfo(GetWindowThreadProcessId(anyWindow, nullptr), &info) ? info.hwndFocus : nullptr;
}

// Puts the focus in `id` by a click on it, with the form in front; tries
// again when a window activated meanwhile (the Designer handling the
// capture's last key) took the click.
bool ClickInto(TWizardSession& wizard, int id)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        wnd::MakeForeground(wizard.Form(), kTimeout);
        RECT r{};
        GetWindowRect(wizard.Control(id), &r);
        mouse::ClickAt(POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
        if (wait::Until([&] { return FocusOf(wizard.Pid(), wizard.Form()) == wizard.Control(id); }, 1500)) return true;
    }
    return false;
}

void CaptureCases(TScenarioContext& c)
{
    TSimSession sim(c.SimExe, L"wizard_capture", SimArgs(c));
    TWizardSession wizard(c.WizardExe);
    if (!StartBoth(c, sim, wizard)) return;
    c.Check.Equal(wizard.OuterHeight(), 60, L"collapsed to 60 at start");
    c.Check.Equal(wizard.Text(wiz::wnd1CStatus), L"Окно 1С не захвачено", L"red status text");

    // The client area of a Designer frame is not its caption.
    c.Check.Check(wizard.StartCapture(), L"the form hides while it waits");
    c.Check.Check(!wizard.PointAndWait(wnd::ClientCentre(sim.Frame()), 1500), L"the client area captures nothing");
    // Nor the caption of a window of another class (the simulator's
    // configuration window made top-level).
    {
        TSimSession other(c.SimExe, L"wizard_capture_other", SimArgs(c, {L"--top-level-config-window", L"--caption", L"Другой"}));
        if (other.Started()) other.OpenConfiguration();  // top-level: not found below the frame
        HWND configuration = other.Started() ? wnd::WaitTopLevel(L"V8NewLocalFrameBaseWnd", std::wstring(L"Конфигурация"),
                                                                 other.Pid(), kTimeout)
                                             : nullptr;
        if (c.Check.Check(configuration != nullptr, L"a top-level window of another class")) {
            c.Check.Check(!wizard.PointAndWait(wnd::CaptionPoint(configuration), 1500),
                          L"another class's caption captures nothing");
        }
        other.Close();
    }
    // Esc ends the wait and brings the form back as it was.
    keys::Press(VK_ESCAPE);
    c.Check.Check(wait::Until([&] { return wizard.Visible(); }, 3000), L"Esc ends the wait");
    c.Check.Equal(wizard.OuterHeight(), 60, L"still collapsed after Esc");
    c.Check.Check(!IsWindowVisible(wizard.Control(wiz::GroupPreparation)), L"panel still hidden after Esc");

    const size_t mark = sim.Log().Count();
    if (!Capture(c, sim, wizard, L"Конфигуратор - Демонстрационная конфигурация")) return;
    c.Check.Equal(wizard.Describe(wizard.Control(wiz::wnd1CStatus), wiz::TextColour), 0x8000, L"status is green");
    // The keys of the capture, as the simulator received them (the last, Esc,
    // is queued input that may still be on its way when the form shows).
    sim.Log().WaitFor(L"close search", mark, kTimeout);
    std::vector<std::wstring> events;
    for (const std::wstring& line : sim.Log().From(mark))
        if (line.rfind(L"key ", 0) != 0 && line.rfind(L"tree ", 0) != 0 && line.rfind(L"delay ", 0) != 0)
            events.push_back(line);  // keys, tree moves and a slow simulator's notes aside
    const std::vector<std::wstring> expected = {L"ignore Alt+J", L"ignore C", L"ignore Esc", L"open configuration",
                                                L"open search Ctrl+F", L"ignore Ctrl+Insert", L"close search"};
    std::wstring got;
    for (const auto& e : events) got += e + L"; ";
    c.Check.Check(events == expected, L"the capture's effects in order", got);

    // Tab order across the expanded form (brought to the front first: the
    // Designer may have come forward with the capture's last key).
    c.Check.Check(ClickInto(wizard, wiz::sl), L"sl has the focus");
    bool inOrder = true;
    std::wstring path = L"sl";
    for (size_t i = 2; i < std::size(kTabOrder) + 2; ++i) {
        keys::Press(VK_TAB);
        HWND want = wizard.Control(kTabOrder[i % std::size(kTabOrder)]);
        if (!wait::Until([&] { return FocusOf(wizard.Pid(), wizard.Form()) == want; }, 2000)) {
            inOrder = false;
            path += L" -> (not " + std::to_wstring(kTabOrder[i % std::size(kTabOrder)]) + L")";
            break;
        }
        path += L" -> " + std::to_wstring(kTabOrder[i % std::size(kTabOrder)]);
    }
    c.Check.Check(inOrder, L"Tab follows the tab order and wraps round", path);

    // A second capture of the same Designer still finds its tree.
    c.Check.Check(wizard.CaptureAt(wnd::CaptionPoint(sim.Frame())), L"a second capture comes back");
    c.Check.Equal(wizard.OuterHeight(), 450, L"still expanded");
}

void CaptureSearchWindowLate(TScenarioContext& c)
{
    {
        TSimSession sim(c.SimExe, L"wizard_search_second", SimArgs(c, {L"--search", L"second"}));
        TWizardSession wizard(c.WizardExe);
        if (!StartBoth(c, sim, wizard)) return;
        Capture(c, sim, wizard, L"Конфигуратор - Демонстрационная конфигурация");
        const auto log = sim.Log().Lines();
        c.Check.Equal(std::count(log.begin(), log.end(), L"open search menu"), 1, L"the menu path opened the search window once");
    }
    {
        TSimSession sim(c.SimExe, L"wizard_search_never", SimArgs(c, {L"--search", L"never"}));
        TWizardSession wizard(c.WizardExe);
        if (!StartBoth(c, sim, wizard)) return;
        c.Check.Check(wizard.CaptureAt(wnd::CaptionPoint(sim.Frame()), 60000), L"the form comes back after five attempts");
        c.Check.Equal(wizard.OuterHeight(), 60, L"a search window that never opens leaves the form collapsed");
        c.Check.Equal(wizard.Text(wiz::wnd1CStatus), L"Окно 1С не захвачено", L"and the status red");
        const auto log = sim.Log().Lines();
        c.Check.Equal(std::count(log.begin(), log.end(), L"ignore menu search"), 5, L"five attempts by the menu");
    }
}

// ---- Builds

// A comparison report on the simulator's default tree: all four kinds, an
// attribute, a depth skip, a module block.
std::string BuildReport()
{
    const wchar_t* lines[] = {
        L"Отчет о сравнении конфигураций",
        L"\tДемонстрационная конфигурация",
        L"\t\t  <--Справочник.Склады",
        L"\t\t\t  <--Справочник.Склады.Реквизит.Ответственный",
        L"\t\t  ***Обработка.Загрузка",
        L"\t\t\t  Модуль объекта. Различаются значения",
        L"\t\t\tОбъект присутствует только в основной конфигурации: 41 - 42",
        L"Процедура Загрузить() Экспорт",
        L"\t\t  <--ОбщийМодуль.Чужой",
        L"\t\t\t  <--Обработка.Загрузка.Форма.Основная",
        L"\t\t  <--ОбщийМодуль.СервисКлиент",
        L"\t\t  <--Подсистема.Склад",
        L"\t\t  <--Справочник.Склады.Реквизит.Адрес",
    };
    std::string r;
    for (const wchar_t* l : lines) r += Cp1251(l) + "\r\n";
    return r;
}

struct TExpectedObject {
    const wchar_t* Path;
    const wchar_t* Section;
    const wchar_t* TreePath;
};
const TExpectedObject kBuildObjects[] = {
    {L"Справочник.Склады", L"Directories", L"Справочники.Склады"},
    {L"Обработка.Загрузка.Форма.Основная", L"Processings", L"Обработки.Загрузка.Форма.Основная"},
    {L"ОбщийМодуль.СервисКлиент", L"CommonModules", L"Общие.Общие модули.СервисКлиент"},
    {L"Подсистема.Склад", L"Subsystems", L"Общие.Подсистемы.Склад"},
    {L"Справочник.Склады.Реквизит.Адрес", L"Directories", L"Справочники.Склады.Реквизит.Адрес"},
};

std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// What each object of the package must hold: the simulator's formats for its
// node and their bytes up to the first zero, which the package keeps.
void WriteExpectedObjects(const fs::path& file)
{
    std::string out;
    for (const TExpectedObject& o : kBuildObjects) {
        const std::string tree = Cp1251(o.TreePath);
        out += "object\t" + text::Utf16ToUtf8(std::u16string(o.Section, o.Section + wcslen(o.Section))) + "\t" +
               text::Cp1251ToUtf8(tree) + "\n";
        for (const std::string& format : SimCopiedFormats(tree)) {
            const std::string payload = SimPayload(tree, format);
            out += "item\t" + format + "\t" + Hex(payload.substr(0, payload.find('\0'))) + "\n";
        }
    }
    WriteBytes(file, out);
}

TBuildFiles PrepareFiles(const fs::path& dir)
{
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir);
    TBuildFiles f{dir / L"Отчет.txt", dir / L"Соглашение.txt", dir / L"Описание.txt", dir / L"Пакет.1c82pkg"};
    WriteBytes(f.Report, BuildReport());
    WriteBytes(f.Agreement, Cp1251(L"Пользовательское соглашение: текст для проверки."));
    WriteBytes(f.Description, Cp1251(L"Описание пакета: пять объектов демонстрационной конфигурации."));
    WriteBytes(f.Package, "an earlier package");
    return f;
}

// Temporary files a build may leave: its private folders under TMP and
// partial packages beside the target.
std::vector<std::wstring> Leftovers(const fs::path& dir)
{
    std::vector<std::wstring> found;
    std::error_code ec;
    wchar_t tmp[MAX_PATH];
    const DWORD n = GetTempPathW(MAX_PATH, tmp);
    for (const fs::path& where : {fs::path(std::wstring(tmp, n)), dir})
        for (const auto& e : fs::directory_iterator(where, ec)) {
            const std::wstring name = e.path().filename().wstring();
            if (name.rfind(L"1c82pkg-", 0) == 0 || e.path().extension() == L".tmp") found.push_back(name);
        }
    return found;
}

void BuildThroughTheForm(TScenarioContext& c)
{
    const fs::path out = fs::current_path() / L"wizard_build_out";
    const TBuildFiles files = PrepareFiles(out);
    const auto before = Leftovers(out);
    TSimSession sim(c.SimExe, L"wizard_build", SimArgs(c, {L"--latency", L"100"}));
    TWizardSession wizard(c.WizardExe);
    if (!StartBoth(c, sim, wizard) || !Capture(c, sim, wizard, L"Конфигуратор - Демонстрационная конфигурация")) return;
    const std::wstring key = L"3F2504E0-4F89-11D3-9A0C-0305E82C3301";
    Fill(wizard, files, key, L"3000");
    size_t linesDuringBuild = 0;
    std::wstring progressSeen;
    const TBuildEnd end = RunBuild(wizard, 60000, [&] {
        // Watch the log while the build runs: lines must appear before it ends.
        wait::Until([&] {
            const std::wstring caption = wnd::Text(wizard.Form());
            if (caption.find(L"(4 из 5)") != std::wstring::npos) {
                progressSeen = caption;
                linesDuringBuild = wizard.LogLines().size();
                return true;
            }
            return caption == kTitle;
        }, 30000, 5);
    });
    if (end.Box) {
        c.Check.Check(false, L"the build ends without a box", msgbox::Text(end.Box));
        msgbox::PressOk(end.Box);
        return;
    }
    c.Check.Check(end.Ended, L"the build ends");
    c.Check.Equal(progressSeen, kTitle + L" (4 из 5)", L"the caption shows the progress");
    c.Check.Equal(static_cast<long long>(linesDuringBuild), 3, L"the log shows three lines while the fourth object is taken");
    c.Check.Equal(wnd::Text(wizard.Form()), kTitle, L"the caption is restored");
    std::vector<std::wstring> expectedLog;
    for (const TExpectedObject& o : kBuildObjects) expectedLog.push_back(LogLine(o.Path, true));
    c.Check.Check(wizard.LogLines() == expectedLog, L"one success line per object, in report order");
    const auto onClipboard = clip::Read(CF_UNICODETEXT);
    c.Check.Equal(onClipboard ? std::wstring(reinterpret_cast<const wchar_t*>(onClipboard->data())) : L"", key,
                  L"the key is on the clipboard");
    c.Check.Check(ReadBytes(files.Package) != "an earlier package", L"the package replaced the earlier file");
    c.Check.Check(Leftovers(out) == before, L"no temporary file is left");
    WriteExpectedObjects(out / L"expected_objects.txt");
    WriteBytes(out / L"key.txt", Cp1251(key));

    // The same with an empty key: the default password, an empty clipboard text.
    std::error_code ec;
    fs::rename(files.Package, out / L"Пакет с ключом.1c82pkg", ec);
    wizard.SetText(wiz::SerialKey, L"");
    const TBuildEnd again = RunBuild(wizard, 60000);
    c.Check.Check(again.Ended && !again.Box, L"a build with an empty key ends",
                  again.Box ? msgbox::Text(again.Box) : L"seen progress: " + std::to_wstring(again.SawProgress));
    if (again.Box) {
        for (const std::wstring& line : wizard.LogLines()) c.Check.Note(L"log: " + line);
        msgbox::PressOk(again.Box);
    }
    const auto emptyKey = clip::Read(CF_UNICODETEXT);
    c.Check.Check(emptyKey && reinterpret_cast<const wchar_t*>(emptyKey->data())[0] == 0, L"the empty key is on the clipboard");
    fs::rename(files.Package, out / L"Пакет без ключа.1c82pkg", ec);
}

// Waits for the wizard's message box and checks its caption and text.
void ExpectBox(TScenarioContext& c, TWizardSession& wizard, HWND box, const std::wstring& caption, const std::wstring& text,
               const std::wstring& what)
{
    if (!box) box = msgbox::WaitFor(wizard.Pid(), kTimeout);
    if (!c.Check.Check(box != nullptr, what + L": a box is shown")) return;
    c.Check.Equal(wnd::Text(box), caption, what + L": box caption");
    c.Check.Equal(msgbox::Text(box), text, what + L": box text");
    msgbox::PressOk(box);
    wait::Until([&] { return msgbox::Find(wizard.Pid()).empty(); }, kTimeout);
}

const std::wstring kCaptureFailed =
    L"ОШИБКА ПОЛУЧЕНИЯ ДАННЫХ ДЛЯ ФОРИМРОВАНИЯ ПАКЕТА.\r\nПопробуйте увеличить задержку и повторите попытку";

// A failed or stopped build writes nothing and leaves the earlier package.
void CheckNothingWritten(TScenarioContext& c, const TBuildFiles& files, const std::vector<std::wstring>& before,
                         const std::wstring& what)
{
    c.Check.EqualBytes(ReadBytes(files.Package), "an earlier package", what + L": the earlier package is intact");
    c.Check.Check(Leftovers(files.Package.parent_path()) == before, what + L": no temporary file is left");
}

// Two Designers, the first captured, then the second: the build must work
// on the second one's tree, never on the tree found for the first.
void TwoDesigners(TScenarioContext& c)
{
    const fs::path out = fs::current_path() / L"wizard_two_out";
    const TBuildFiles files = PrepareFiles(out);
    TSimSession first(c.SimExe, L"wizard_two_first", SimArgs(c, {L"--caption", L"Конфигуратор - Первая"}));
    TSimSession second(c.SimExe, L"wizard_two_second", SimArgs(c, {L"--caption", L"Конфигуратор - Вторая"}));
    TWizardSession wizard(c.WizardExe);
    if (!c.Check.Check(first.Started(), L"the first simulator starts", first.Error()) || !StartBoth(c, second, wizard))
        return;
    // Side by side, so that each caption can be pointed at.
    SetWindowPos(second.Frame(), HWND_TOP, 260, 200, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
    if (!Capture(c, first, wizard, L"Конфигуратор - Первая")) return;
    wnd::MakeForeground(second.Frame(), kTimeout);
    if (!Capture(c, second, wizard, L"Конфигуратор - Вторая")) return;

    const size_t firstMark = first.Log().Count();
    const size_t secondMark = second.Log().Count();
    Fill(wizard, files, L"KEY", L"3000");
    const TBuildEnd end = RunBuild(wizard, 60000);
    if (end.Box) {
        c.Check.Check(false, L"the build ends without a box", msgbox::Text(end.Box));
        msgbox::PressOk(end.Box);
        return;
    }
    c.Check.Check(end.Ended, L"the build ends");
    const auto copies = [](TSimSession& sim, size_t mark) {
        long long n = 0;
        for (const std::wstring& line : sim.Log().From(mark)) n += line.rfind(L"copy ", 0) == 0;
        return n;
    };
    const auto typed = [](TSimSession& sim, size_t mark) {
        long long n = 0;
        for (const std::wstring& line : sim.Log().From(mark)) n += line.rfind(L"tree ", 0) == 0;
        return n;
    };
    c.Check.Equal(copies(second, secondMark), static_cast<long long>(std::size(kBuildObjects)),
                  L"every object is copied from the Designer captured last");
    c.Check.Equal(typed(first, firstMark) + copies(first, firstMark), 0LL,
                  L"the Designer captured first gets no message and copies nothing");
}

void BuildFailures(TScenarioContext& c)
{
    const fs::path out = fs::current_path() / L"wizard_fail_out";
    const TBuildFiles files = PrepareFiles(out);
    const auto before = Leftovers(out);
    {
        // A copy that lacks a format, at the third object.
        TSimSession sim(c.SimExe, L"wizard_drop",
                        SimArgs(c, {L"--drop-format", L"1C:MD8 Info", L"--drop-node", L"Общие.Общие модули.СервисКлиент"}));
        TWizardSession wizard(c.WizardExe);
        if (!StartBoth(c, sim, wizard) || !Capture(c, sim, wizard, L"Конфигуратор - Демонстрационная конфигурация")) return;
        Fill(wizard, files, L"KEY", L"3000");
        const TBuildEnd end = RunBuild(wizard, 60000);
        const auto log = wizard.LogLines();  // as the box shows
        ExpectBox(c, wizard, end.Box, L"Error", kCaptureFailed, L"a dropped format");
        c.Check.Equal(static_cast<long long>(log.size()), 3, L"the build stops at the third object");
        c.Check.Equal(log.empty() ? L"" : log.back(), LogLine(L"ОбщийМодуль.СервисКлиент", false), L"the last line is the failure");
        CheckNothingWritten(c, files, before, L"a dropped format");
        c.Check.Check(clip::Read(CF_UNICODETEXT).value_or("") != std::string("K\0E\0Y\0\0\0", 8), L"the key is not put on the clipboard");
    }
    {
        // A Designer slower than the delay. With the shortest delay the
        // failure comes within the log's update interval of the build's
        // start: its line must be on the screen before the box is.
        TSimSession sim(c.SimExe, L"wizard_slow", SimArgs(c, {L"--latency", L"1500"}));
        TWizardSession wizard(c.WizardExe);
        if (!StartBoth(c, sim, wizard) || !Capture(c, sim, wizard, L"Конфигуратор - Демонстрационная конфигурация")) return;
        Fill(wizard, files, L"KEY", L"10");
        const TBuildEnd end = RunBuild(wizard, 60000);
        const auto log = wizard.LogLines();
        ExpectBox(c, wizard, end.Box, L"Error", kCaptureFailed, L"a slow Designer");
        c.Check.Check(log == std::vector<std::wstring>{LogLine(L"Справочник.Склады", false)},
                      L"one failure line for the first object, shown with the box");
        CheckNothingWritten(c, files, before, L"a slow Designer");
    }
    {
        // A report that does not exist: the standard error box.
        TSimSession sim(c.SimExe, L"wizard_noreport", SimArgs(c));
        TWizardSession wizard(c.WizardExe);
        if (!StartBoth(c, sim, wizard) || !Capture(c, sim, wizard, L"Конфигуратор - Демонстрационная конфигурация")) return;
        TBuildFiles missing = files;
        missing.Report = out / L"нет такого.txt";
        Fill(wizard, missing, L"KEY", L"200");
        ctl::PressButton(wizard.Control(wiz::MakePackage));
        ExpectBox(c, wizard, nullptr, kTitle, L"File not found.", L"a missing report");
        CheckNothingWritten(c, files, before, L"a missing report");
        c.Check.Check(wizard.Visible() && IsWindowEnabled(wizard.Form()), L"the form stays usable");
    }
}

void BuildStopped(TScenarioContext& c)
{
    const fs::path out = fs::current_path() / L"wizard_stop_out";
    const TBuildFiles files = PrepareFiles(out);
    const auto before = Leftovers(out);
    const std::wstring stopped = L"Формирование пакета остановлено пользователем";
    {
        TSimSession sim(c.SimExe, L"wizard_stop", SimArgs(c, {L"--latency", L"300"}));
        TWizardSession wizard(c.WizardExe);
        if (!StartBoth(c, sim, wizard) || !Capture(c, sim, wizard, L"Конфигуратор - Демонстрационная конфигурация")) return;
        Fill(wizard, files, L"KEY", L"3000");
        const TBuildEnd end = RunBuild(wizard, 60000, [&] {
            wait::Until([&] { return wnd::Text(wizard.Form()).find(L"(2 из 5)") != std::wstring::npos; }, 20000, 5);
            keys::Press(VK_ESCAPE);
        });
        c.Check.Check(end.Ended && !end.Box, L"Esc ends the build without a box");
        const auto log = wizard.LogLines();
        c.Check.Check(log.size() >= 2 && log.size() < 6 && log.back() == stopped, L"the log says the build was stopped",
                      log.empty() ? L"" : log.back());
        CheckNothingWritten(c, files, before, L"Esc");
        c.Check.Equal(wnd::Text(wizard.Form()), kTitle, L"the caption is restored");
    }
    {
        TSimSession sim(c.SimExe, L"wizard_close", SimArgs(c, {L"--latency", L"300"}));
        TWizardSession wizard(c.WizardExe);
        if (!StartBoth(c, sim, wizard) || !Capture(c, sim, wizard, L"Конфигуратор - Демонстрационная конфигурация")) return;
        Fill(wizard, files, L"KEY", L"3000");
        ctl::PressButton(wizard.Control(wiz::MakePackage));
        wait::Until([&] { return wnd::Text(wizard.Form()).find(L"(2 из 5)") != std::wstring::npos; }, 20000, 5);
        const auto code = wizard.Close(20000);
        c.Check.Check(code.has_value(), L"closing the form stops the build and ends the program");
        CheckNothingWritten(c, files, before, L"closing");
    }
}

// ---- Fields and dialogs

void Fields(TScenarioContext& c)
{
    TSimSession sim(c.SimExe, L"wizard_fields", SimArgs(c));
    TWizardSession wizard(c.WizardExe);
    if (!StartBoth(c, sim, wizard) || !Capture(c, sim, wizard, L"Конфигуратор - Демонстрационная конфигурация")) return;

    struct TCase {
        const wchar_t* Text;
        const wchar_t* Caption;  // nullptr: no box
        const wchar_t* Message;
        const wchar_t* After;
    };
    const TCase cases[] = {
        {L"9", L"Information", L"Значение задержки не должно быть менее 10 ms.", L"10"},
        {L"-1", L"Information", L"Значение задержки не должно быть менее 10 ms.", L"10"},
        {L"abc", kTitle.c_str(), L"'abc' is not a valid integer value.", L"abc"},
        {L"", kTitle.c_str(), L"'' is not a valid integer value.", L""},
        {L"10", nullptr, nullptr, L"10"},
        {L"$20", nullptr, nullptr, L"$20"},
    };
    ClickInto(wizard, wiz::PathToDiffFile);  // the first click activates the form
    for (const TCase& t : cases) {
        const std::wstring what = L"sl left with \"" + std::wstring(t.Text) + L"\"";
        ClickInto(wizard, wiz::sl);
        wizard.SetText(wiz::sl, t.Text);
        ClickInto(wizard, wiz::PathToDiffFile);
        if (t.Caption) {
            ExpectBox(c, wizard, nullptr, t.Caption, t.Message, what);
        } else {
            Sleep(300);
            c.Check.Check(msgbox::Find(wizard.Pid()).empty(), what + L": no box");
        }
        c.Check.Equal(wizard.Text(wiz::sl), t.After, what + L": the field after");
    }

    // The key generator.
    std::wstring previous;
    for (int i = 0; i < 2; ++i) {
        wizard.SetText(wiz::SerialKey, L"");
        ctl::PressButton(wizard.Control(wiz::GenerateKey));
        wait::Until([&] { return !wizard.Text(wiz::SerialKey).empty(); }, kTimeout);
        const std::wstring key = wizard.Text(wiz::SerialKey);
        bool form = key.size() == 36;
        for (size_t k = 0; form && k < key.size(); ++k)
            form = (k == 8 || k == 13 || k == 18 || k == 23) ? key[k] == L'-'
                                                              : ((key[k] >= L'0' && key[k] <= L'9') || (key[k] >= L'A' && key[k] <= L'F'));
        c.Check.Check(form, L"a generated key is 8-4-4-4-12 upper-case hex", key);
        c.Check.Check(key != previous, L"each key is new");
        previous = key;
    }
}

// One file dialog: its title and filter, then a name typed without an
// extension (or cancelled); what the edit holds afterwards.
struct TDialogCase {
    int Button;
    int Edit;
    const wchar_t* Title;
    const wchar_t* Filter;
    const wchar_t* Typed;  // nullptr: cancel
    const wchar_t* Expected;
};

void Dialogs(TScenarioContext& c)
{
    TSimSession sim(c.SimExe, L"wizard_dialogs", SimArgs(c));
    TWizardSession wizard(c.WizardExe);
    if (!StartBoth(c, sim, wizard) || !Capture(c, sim, wizard, L"Конфигуратор - Демонстрационная конфигурация")) return;
    // The dialogs open in the wizard's working directory: the driver's.
    const std::wstring dir = fs::current_path().wstring();
    WriteBytes(fs::current_path() / L"существующий.1c82pkg", "old");
    // Wine's open dialog adds the default extension only when the file so
    // named exists (Windows adds it always), so the typed names exist.
    WriteBytes(fs::current_path() / L"отчет.txt", "report");
    WriteBytes(fs::current_path() / L"соглашение.txt", "agreement");
    const TDialogCase cases[] = {
        {wiz::OpenFile, wiz::PathToDiffFile, L"Выберите файл различий конфигураций 1С", L"Текстовый документ", L"отчет", L"отчет.txt"},
        {wiz::SelectLicense, wiz::LicensePath, L"Выберите файл соглашения", L"Текстовый документ", L"соглашение", L"соглашение.txt"},
        {wiz::SelectPackageFile, wiz::PathToPackageFile, L"Укажите файл для сохранения пакета инталляции",
         L"Файл инсталляционного пакета 1С 8.2", L"существующий", L"существующий.1c82pkg"},
        {wiz::SelectDescrFile, wiz::PathToDescription, L"Выберите файл описания пакета", L"Текстовый документ", nullptr, L"прежний"},
    };
    for (const TDialogCase& t : cases) {
        const std::wstring what = t.Title;
        wizard.SetText(t.Edit, L"прежний");
        ctl::PressButton(wizard.Control(t.Button));
        HWND dialog = nullptr;
        wait::Until([&] {
            for (HWND h : wnd::TopLevel(L"#32770", std::nullopt, wizard.Pid()))
                if (IsWindowVisible(h) && wnd::Text(h) == t.Title) dialog = h;
            return dialog != nullptr;
        }, kTimeout);
        if (!c.Check.Check(dialog != nullptr, what + L": the dialog opens with its title")) continue;
        HWND filter = GetDlgItem(dialog, 0x470);  // cmb1: the file types
        c.Check.Equal(filter ? static_cast<long long>(SendMessageW(filter, CB_GETCOUNT, 0, 0)) : -1, 1, what + L": one filter");
        wchar_t item[256] = {};
        if (filter) SendMessageW(filter, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(item));
        c.Check.Equal(item, t.Filter, what + L": the filter's description");
        c.Check.Check(!IsWindowVisible(GetDlgItem(dialog, 0x410)), what + L": no read-only box");  // chx1
        c.Check.Check((GetWindowLongW(dialog, GWL_STYLE) & WS_THICKFRAME) != 0, what + L": resizable");
        if (t.Typed) {
            HWND name = GetDlgItem(dialog, 0x47C);  // cmb13: the file name
            if (!name) name = GetDlgItem(dialog, 0x480);  // edt1
            wnd::SetText(name, t.Typed);
            PostMessageW(dialog, WM_COMMAND, IDOK, 0);
        } else {
            PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        }
        c.Check.Check(wait::Until([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, kTimeout),
                      what + L": the dialog closes without a question");
        const std::wstring expected = t.Typed ? dir + L"\\" + t.Expected : std::wstring(t.Expected);
        c.Check.Equal(wizard.Text(t.Edit), expected, what + L": the field receives the path");
    }
}


// The tree gets the right letters whatever the machine's ANSI code page: run
// under a Russian locale and under one whose code page is 1252.
void Typing(TScenarioContext& c)
{
    c.Check.Note(L"the wizard runs with ANSI code page " + std::to_wstring(GetACP()));
    const fs::path out = fs::current_path() / L"wizard_typing_out";
    const TBuildFiles files = PrepareFiles(out);
    TSimSession sim(c.SimExe, L"wizard_typing", SimArgs(c));
    TWizardSession wizard(c.WizardExe);
    if (!StartBoth(c, sim, wizard) || !Capture(c, sim, wizard, L"Конфигуратор - Демонстрационная конфигурация")) return;
    const size_t mark = sim.Log().Count();
    Fill(wizard, files, L"KEY", L"3000");
    const TBuildEnd end = RunBuild(wizard, 60000);
    c.Check.Check(end.Ended && !end.Box, L"the build ends without a box", end.Box ? msgbox::Text(end.Box) : L"");
    if (end.Box) msgbox::PressOk(end.Box);
    // Every character the tree received, as the simulator logged it.
    std::wstring typed;
    bool noMiss = true;
    for (const std::wstring& line : sim.Log().From(mark)) {
        if (line.rfind(L"tree char ", 0) != 0) continue;
        // "tree char U+XXXX c -> path": the character after the code.
        typed += line.size() > 17 ? line[17] : L'?';
        noMiss = noMiss && line.find(L"(no match)") == std::wstring::npos;
    }
    std::wstring expected;
    for (const TExpectedObject& o : kBuildObjects)
        for (const wchar_t* p = o.TreePath; *p; ++p)
            if (*p != L'.') expected += *p;
    c.Check.Equal(typed, expected, L"the tree received every letter of the five tree paths");
    c.Check.Check(noMiss, L"every letter selected a node");
}


// Another program comes to the front in the middle of a build: the copy
// keystrokes must not reach it. The wizard brings the Designer back (or,
// where the system refuses that, stops with its message).
void ForegroundStolen(TScenarioContext& c)
{
    const fs::path out = fs::current_path() / L"wizard_foreground_out";
    const TBuildFiles files = PrepareFiles(out);
    TSimSession sim(c.SimExe, L"wizard_foreground", SimArgs(c, {L"--latency", L"300"}));
    TWizardSession wizard(c.WizardExe);
    if (!StartBoth(c, sim, wizard) || !Capture(c, sim, wizard, L"Конфигуратор - Демонстрационная конфигурация")) return;
    // Started after the capture, so that its frame does not cover the Designer's caption.
    TSimSession other(c.SimExe, L"wizard_foreground_other", SimArgs(c, {L"--caption", L"Другая программа"}));
    if (!c.Check.Check(other.Started(), L"another program starts")) return;
    Fill(wizard, files, L"KEY", L"3000");
    size_t mark = 0;
    bool activated = false;
    const TBuildEnd end = RunBuild(wizard, 60000, [&] {
        wait::Until([&] { return wnd::Text(wizard.Form()).find(L"(2 из 5)") != std::wstring::npos; }, 20000, 2);
        mark = other.Log().Count();
        activated = wnd::MakeForeground(other.Frame(), 3000);
    });
    c.Check.Check(activated, L"the other program was brought to the front during the build");
    std::wstring keysThere;
    for (const std::wstring& line : other.Log().From(mark))
        if (line.rfind(L"key ", 0) == 0) keysThere += line + L"; ";
    c.Check.Equal(keysThere, L"", L"the other program received no keys");
    if (end.Box) {
        c.Check.Equal(msgbox::Text(end.Box),
                      L"Окно конфигуратора не удалось вывести на передний план, поэтому нажатия клавиш не отправлены: "
                      L"они попали бы в другую программу. Не переключайтесь на другие окна, пока мастер работает с "
                      L"конфигуратором, и повторите попытку.",
                      L"the build stops with the message");
        msgbox::PressOk(end.Box);
    } else {
        c.Check.Equal(static_cast<long long>(wizard.LogLines().size()), 5, L"the Designer was brought back and the build completed");
    }
}


// ---- Benchmark (not a test): the time per object of a 200-object build
// through the form, and the capture's own duration.

struct TBenchRun {
    double CaptureMs = 0;
    double BuildMs = 0;
    double CoreMs = 0;
    double MessagesPerObject = 0;  // sent to the tree, each waited for
    double RoundTripMs = 0;        // a bare SendMessage(WM_NULL) to the tree and back
    bool Ok = false;
    bool CoreOk = false;
};

// Counts the messages the capture sends to the tree.
class TCountingTree : public designer::ITreeWindow {
public:
    explicit TCountingTree(designer::ITreeWindow& inner) : inner_(inner) {}
    void KeyDown(std::uint8_t vk) override {
        ++Count;
        inner_.KeyDown(vk);
    }
    void Char(std::uint8_t code) override {
        ++Count;
        inner_.Char(code);
    }
    long long Count = 0;

private:
    designer::ITreeWindow& inner_;
};

class TConstantDelay : public designer::IDelayField {
public:
    explicit TConstantDelay(std::string text) : text_(std::move(text)) {}
    std::string Text() override { return text_; }

private:
    std::string text_;
};

class TCountingLog : public designer::ILogSink {
public:
    void AddLine(const std::string&) override { ++Lines; }
    int Lines = 0;
};

TBenchRun BenchOnce(TScenarioContext& c, const fs::path& dir, int objects, const std::wstring& delay, const std::wstring& latency)
{
    TBenchRun run;
    const bool phases = Option(c, L"phases", L"") == L"1";
    std::vector<std::wstring> simArgs = {L"--config", (dir / L"tree.txt").wstring(), L"--latency", latency};
    if (phases) simArgs.push_back(L"--stats");
    TSimSession sim(c.SimExe, L"wizard_bench", SimArgs(c, simArgs));
    TWizardSession wizard(c.WizardExe);
    if (!StartBoth(c, sim, wizard)) return run;
    LARGE_INTEGER f, t0, t1;
    QueryPerformanceFrequency(&f);
    if (!wizard.StartCapture()) return run;
    QueryPerformanceCounter(&t0);
    const bool back = wizard.PointAndWait(wnd::CaptionPoint(sim.Frame()), 60000);
    QueryPerformanceCounter(&t1);
    run.CaptureMs = 1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(f.QuadPart);
    if (!back || wizard.OuterHeight() != 450) return run;
    TBuildFiles files{dir / L"report.txt", dir / L"agreement.txt", dir / L"description.txt", dir / L"bench.1c82pkg"};
    Fill(wizard, files, L"BENCH", delay);
    QueryPerformanceCounter(&t0);
    // Looked at every 20 ms: each look takes the processor from the wizard
    // and the simulator on a machine with few cores.
    const TBuildEnd end = RunBuild(wizard, 600000, {}, 20);
    QueryPerformanceCounter(&t1);
    run.BuildMs = 1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(f.QuadPart);
    const auto log = wizard.LogLines();
    run.Ok = end.Ended && !end.Box && static_cast<int>(log.size()) == objects;
    wizard.Close();

    // The baseline: the same walk and capture run by the driver itself over
    // the same Win32 ports, without the form, on the same simulator.
    HWND configuration = wnd::Descendant(sim.Frame(), L"V8NewLocalFrameBaseWnd", std::wstring(L"Конфигурация"));
    HWND tree = configuration ? sim.Tree(configuration) : nullptr;
    if (tree && wnd::MakeForeground(tree, 5000)) {
        designer::TWin32TreeWindow treeWindow(tree);
        designer::TWin32Keyboard keyboard;
        designer::TWin32MessageClock clock;
        platform::TWin32Clipboard clipboard;
        TConstantDelay delayField(Cp1251(delay));
        TCountingLog countingLog;
        TCountingTree countingTree(treeWindow);
        package::TPackageDocument document;
        QueryPerformanceCounter(&t0);
        designer::CaptureReportObjects(document, text::PathTo1251(files.Report),
                                       {countingTree, keyboard, clock, clipboard, delayField, countingLog});
        QueryPerformanceCounter(&t1);
        run.CoreMs = 1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(f.QuadPart);
        run.CoreOk = countingLog.Lines == objects;
        run.MessagesPerObject = static_cast<double>(countingTree.Count) / objects;
        // What one of those messages costs at the least on this system: a
        // message the tree does not handle, there and back, 200 times.
        const int sends = 200;
        QueryPerformanceCounter(&t0);
        for (int i = 0; i < sends; ++i) SendMessageW(tree, WM_NULL, 0, 0);
        QueryPerformanceCounter(&t1);
        run.RoundTripMs = 1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(f.QuadPart) / sends;
        // With --set phases=1: the same capture once more, every port call
        // timed, and the cost of a message that the tree does not handle.
        if (phases) {
            bench::TPhaseTimes times;
            bench::TTimedTree timedTree(treeWindow, times);
            bench::TTimedKeyboard timedKeyboard(keyboard, times);
            bench::TTimedClock timedClock(clock, times);
            bench::TTimedClipboard timedClipboard(clipboard, times);
            bench::TTimedLog timedLog(countingLog, times);
            designer::CaptureReportObjects(document, text::PathTo1251(files.Report),
                                           {timedTree, timedKeyboard, timedClock, timedClipboard, delayField, timedLog});
            PrintUtf8(L"phases of the capture without the form (delay " + delay + L" ms, copy latency " + latency +
                      L" ms):\n" + times.Table());
            const int sends = 200;
            for (const UINT message : {static_cast<UINT>(WM_NULL), static_cast<UINT>(WM_GETTEXTLENGTH)}) {
                QueryPerformanceCounter(&t0);
                for (int i = 0; i < sends; ++i) SendMessageW(tree, message, 0, 0);
                QueryPerformanceCounter(&t1);
                wchar_t line[128];
                swprintf(line, 128, L"  SendMessage %ls to the tree: %.3f ms per call\n",
                         message == WM_NULL ? L"WM_NULL" : L"WM_GETTEXTLENGTH",
                         1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(f.QuadPart) / sends);
                PrintUtf8(line);
            }
        }
    }
    if (phases) {
        // The simulator's own handling over the whole session (three builds
        // of `objects` objects: the form's, the baseline's, the timed one).
        const size_t mark = sim.Log().Count();
        sim.Close();
        for (const std::wstring& line : sim.Log().From(mark))
            if (line.rfind(L"stats ", 0) == 0) PrintUtf8(L"  simulator " + line + L"\n");
    }
    if (!run.Ok)
        c.Check.Note(std::to_wstring(log.size()) + L" log lines, the last: " + (log.empty() ? L"" : log.back()) +
                     (end.Box ? L"; box: " + msgbox::Text(end.Box) : L""));
    if (end.Box) msgbox::PressOk(end.Box);
    return run;
}

void Bench(TScenarioContext& c)
{
    const int objects = std::stoi(Option(c, L"objects", L"200"));
    const fs::path dir = fs::current_path() / L"wizard_bench_out";
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir);
    std::string tree = "Конфигурация для замера\n  Общие\n    Подсистемы\n      Склад\n    Общие модули\n      Сервис\n  Справочники\n";
    std::string report = Cp1251(L"Отчет о сравнении\r\n\tКонфигурация\r\n");
    for (int i = 1; i <= objects; ++i) {
        wchar_t name[32];
        swprintf(name, 32, L"Справочник%03d", i);
        tree += "    " + text::Utf16ToUtf8(std::u16string(name, name + wcslen(name))) + "\n";
        report += Cp1251(std::wstring(L"\t\t  <--Справочник.") + name + L"\r\n");
    }
    tree += "  Обработки\n    Загрузка\n";
    WriteBytes(dir / L"tree.txt", tree);
    WriteBytes(dir / L"report.txt", report);
    WriteBytes(dir / L"agreement.txt", "agreement");
    WriteBytes(dir / L"description.txt", "description");
    const struct {
        const wchar_t* Delay;
        const wchar_t* Latency;
    } cases[] = {{L"20", L"0"}, {L"200", L"5"}};
    for (const auto& k : cases) {
        const TBenchRun run = BenchOnce(c, dir, objects, k.Delay, k.Latency);
        c.Check.Check(run.Ok, L"delay " + std::wstring(k.Delay) + L" ms, latency " + k.Latency + L" ms: the build completes");
        wchar_t line[512];
        c.Check.Check(run.CoreOk, L"the baseline without the form completes");
        swprintf(line, 512, L"delay %ls ms, copy latency %ls ms: %d objects in %.0f ms, %.1f ms per object "
                            L"(without the form %.1f ms, ratio %.2f); capture %.0f ms (its sleeps alone 2200 ms, ratio %.2f)",
                 k.Delay, k.Latency, objects, run.BuildMs, run.BuildMs / objects, run.CoreMs / objects,
                 run.BuildMs / run.CoreMs, run.CaptureMs, run.CaptureMs / 2200.0);
        PrintUtf8(std::wstring(line) + L"\n");
        // The part no wizard can go below here: each message to the tree is
        // waited for, so an object costs at least its messages' round trips.
        const double floorMs = run.MessagesPerObject * run.RoundTripMs;
        swprintf(line, 512, L"  %.1f messages to the tree per object x %.3f ms per bare round trip = %.1f ms per object "
                            L"before the copy; through the form %.2f times that, without the form %.2f times",
                 run.MessagesPerObject, run.RoundTripMs, floorMs, run.BuildMs / objects / floorMs,
                 run.CoreMs / objects / floorMs);
        PrintUtf8(std::wstring(line) + L"\n");
    }
}

// ---- pkgtool build: the wizard's build from the command line

// A finished run of pkgtool: its exit code and its output, one entry per line.
struct TToolRun {
    std::optional<DWORD> Code;
    std::vector<std::wstring> Out, Err;
};

std::vector<std::wstring> Utf8Lines(const std::string& bytes)
{
    std::vector<std::wstring> lines;
    const std::wstring all = text::FromUtf8(bytes);
    size_t pos = 0;
    while (pos < all.size()) {
        size_t end = all.find(L'\n', pos);
        if (end == std::wstring::npos) end = all.size();
        std::wstring line = all.substr(pos, end - pos);
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        lines.push_back(line);
        pos = end + 1;
    }
    return lines;
}

std::vector<std::wstring> ToolBuildArgs(const TBuildFiles& f, const fs::path& package, const std::wstring& key,
                                        const std::wstring& delay)
{
    return {L"build", L"--report", proc::DosPath(f.Report.wstring()), L"--package", proc::DosPath(package.wstring()),
            L"--license", proc::DosPath(f.Agreement.wstring()), L"--description",
            proc::DosPath(f.Description.wstring()), L"--key", key, L"--delay", delay, L"--window", L"Демонстрационная"};
}

// Runs pkgtool with `args`; `during` runs while it is running and gets the
// path of its standard output.
TToolRun RunTool(TScenarioContext& c, const fs::path& dir, const std::vector<std::wstring>& args,
                 const std::function<void(proc::TProcess&, const fs::path&)>& during = {})
{
    TToolRun run;
    const fs::path out = dir / L"stdout.txt", err = dir / L"stderr.txt";
    proc::TProcess tool;
    if (!c.Check.Check(tool.StartConsole(c.PkgtoolExe, args, out.wstring(), err.wstring()), L"pkgtool starts",
                       tool.error()))
        return run;
    if (during) during(tool, out);
    run.Code = tool.WaitExit(120000);
    if (!run.Code) tool.Terminate();
    run.Out = Utf8Lines(ReadBytes(out));
    run.Err = Utf8Lines(ReadBytes(err));
    for (const std::wstring& line : run.Err) c.Check.Note(L"pkgtool stderr: " + line);
    return run;
}

void PkgtoolBuild(TScenarioContext& c)
{
    const fs::path out = fs::current_path() / L"pkgtool_build_out";
    const TBuildFiles files = PrepareFiles(out);
    const auto before = Leftovers(out);
    const std::wstring key = L"3F2504E0-4F89-11D3-9A0C-0305E82C3301";
    {
        TSimSession sim(c.SimExe, L"pkgtool_build", SimArgs(c, {L"--latency", L"100"}));
        if (!c.Check.Check(sim.Started(), L"the simulator starts", sim.Error())) return;
        const TToolRun run = RunTool(c, out, ToolBuildArgs(files, files.Package, key, L"3000"));
        c.Check.Check(run.Code == std::optional<DWORD>(0), L"a build exits 0",
                      run.Code ? std::to_wstring(*run.Code) : L"no exit");
        std::vector<std::wstring> expected{L"Используется: Конфигуратор - Демонстрационная конфигурация"};
        for (const TExpectedObject& o : kBuildObjects) expected.push_back(LogLine(o.Path, true));
        expected.push_back(key);
        c.Check.Check(run.Out == expected, L"the capture, one success line per object and the key, in order",
                      run.Out.empty() ? L"(no output)" : run.Out.back());
        const auto onClipboard = clip::Read(CF_UNICODETEXT);
        c.Check.Equal(onClipboard ? std::wstring(reinterpret_cast<const wchar_t*>(onClipboard->data())) : L"", key,
                      L"the key is on the clipboard");
        c.Check.Check(ReadBytes(files.Package) != "an earlier package", L"the package replaced the earlier file");
        c.Check.Check(Leftovers(out) == before, L"no temporary file is left");
        WriteExpectedObjects(out / L"expected_objects.txt");

        // The first Designer found, and a new key: printed last and put on the clipboard.
        std::vector<std::wstring> args = ToolBuildArgs(files, out / L"Пакет с новым ключом.1c82pkg", L"", L"3000");
        args.resize(args.size() - 2);  // no --window
        args.erase(std::find(args.begin(), args.end(), L"--key"), std::find(args.begin(), args.end(), L"--delay"));
        args.push_back(L"--new-key");
        const TToolRun fresh = RunTool(c, out, args);
        c.Check.Check(fresh.Code == std::optional<DWORD>(0), L"a build with --new-key exits 0");
        const std::wstring newKey = fresh.Out.empty() ? L"" : fresh.Out.back();
        const bool guidShape = newKey.size() == 36 && std::all_of(newKey.begin(), newKey.end(), [](wchar_t ch) {
            return ch == L'-' || (ch >= L'0' && ch <= L'9') || (ch >= L'A' && ch <= L'F');
        }) && newKey[8] == L'-' && newKey[13] == L'-' && newKey[18] == L'-' && newKey[23] == L'-';
        c.Check.Check(guidShape && newKey != key, L"a new key in the GUID's registry form is printed last", newKey);
        const auto newOnClipboard = clip::Read(CF_UNICODETEXT);
        c.Check.Equal(newOnClipboard ? std::wstring(reinterpret_cast<const wchar_t*>(newOnClipboard->data())) : L"",
                      newKey, L"the new key is on the clipboard");
        WriteBytes(out / L"new_key.txt", text::ToUtf8(newKey));

        // A caption that no Designer has.
        args = ToolBuildArgs(files, out / L"Нет.1c82pkg", key, L"3000");
        args.back() = L"Бухгалтерия";
        const TToolRun none = RunTool(c, out, args);
        c.Check.Check(none.Code == std::optional<DWORD>(1), L"no such Designer: exit 1");
        c.Check.Equal(none.Err.empty() ? L"" : none.Err.front(),
                      L"No running Designer has \"Бухгалтерия\" in its caption", L"no such Designer: the message");
        c.Check.Check(!fs::exists(out / L"Нет.1c82pkg"), L"no such Designer: nothing written");
    }
    const fs::path kept = out / L"Прежний пакет.1c82pkg";
    WriteBytes(kept, "an earlier package");
    const TBuildFiles keptFiles{files.Report, files.Agreement, files.Description, kept};
    {
        // A copy that lacks a format, at the third object: the wizard's message.
        TSimSession sim(c.SimExe, L"pkgtool_drop",
                        SimArgs(c, {L"--drop-format", L"1C:MD8 Info", L"--drop-node", L"Общие.Общие модули.СервисКлиент"}));
        if (!c.Check.Check(sim.Started(), L"the simulator starts", sim.Error())) return;
        const TToolRun run = RunTool(c, out, ToolBuildArgs(files, kept, L"KEY", L"3000"));
        c.Check.Check(run.Code == std::optional<DWORD>(1), L"a dropped format exits 1",
                      run.Code ? std::to_wstring(*run.Code) : L"no exit");
        c.Check.Check(run.Err == Utf8Lines(text::ToUtf8(kCaptureFailed)), L"stderr holds the wizard's message");
        c.Check.Equal(static_cast<long long>(run.Out.size()), 4, L"the capture line and three object lines");
        c.Check.Equal(run.Out.empty() ? L"" : run.Out.back(), LogLine(L"ОбщийМодуль.СервисКлиент", false),
                      L"the last line is the failure");
        CheckNothingWritten(c, keptFiles, before, L"a dropped format");
    }
    {
        // Interrupted (Ctrl+Break or Ctrl+C) once the first object is in: the build stops cleanly.
        TSimSession sim(c.SimExe, L"pkgtool_stop", SimArgs(c, {L"--latency", L"300"}));
        if (!c.Check.Check(sim.Started(), L"the simulator starts", sim.Error())) return;
        bool sent = false;
        const TToolRun run = RunTool(c, out, ToolBuildArgs(files, kept, L"KEY", L"3000"),
                                     [&](proc::TProcess& tool, const fs::path& stdoutFile) {
            wait::Until([&] { return Utf8Lines(ReadBytes(stdoutFile)).size() >= 2; }, 30000, 5);
            sent = tool.Interrupt();
        });
        c.Check.Check(sent, L"the interrupt is sent", std::to_wstring(GetLastError()));
        c.Check.Check(run.Code == std::optional<DWORD>(1), L"a stopped build exits 1",
                      run.Code ? std::to_wstring(*run.Code) : L"no exit");
        c.Check.Check(!run.Out.empty() && run.Out.back() == L"Формирование пакета остановлено пользователем",
                      L"the output ends with the stop", run.Out.empty() ? L"" : run.Out.back());
        // Each object takes 300 ms and the interrupt came with the first one
        // done: the build stops at the next object, long before the last.
        c.Check.Check(run.Out.size() >= 3 && run.Out.size() <= 5, L"the build stops at the next object",
                      std::to_wstring(run.Out.size()) + L" lines");
        CheckNothingWritten(c, keptFiles, before, L"an interrupt");
    }
    {
        // Another program holds the clipboard when the key would go there:
        // the package is in place and its key printed, then exit 1. A large
        // agreement keeps the package write long enough for this program to
        // take the clipboard once the last object is in.
        TBuildFiles large = files;
        large.Agreement = out / L"Большое соглашение.txt";
        std::string text(32u << 20, ' ');
        std::uint32_t seed = 12345;
        for (char& ch : text) {
            seed = seed * 1103515245u + 12345u;
            ch = static_cast<char>('a' + (seed >> 16) % 26);
        }
        WriteBytes(large.Agreement, text);
        const fs::path package = out / L"Пакет при занятом буфере.1c82pkg";
        TSimSession sim(c.SimExe, L"pkgtool_clipboard", SimArgs(c));
        if (!c.Check.Check(sim.Started(), L"the simulator starts", sim.Error())) return;
        bool held = false;
        const TToolRun run = RunTool(c, out, ToolBuildArgs(large, package, key, L"3000"),
                                     [&](proc::TProcess&, const fs::path& stdoutFile) {
            wait::Until([&] { return Utf8Lines(ReadBytes(stdoutFile)).size() >= 6; }, 60000, 2);
            held = clip::Open();
            wait::Until([&] { return Utf8Lines(ReadBytes(stdoutFile)).size() >= 7; }, 30000, 5);
            Sleep(2500);  // beyond the patience of every clipboard open
            if (held) CloseClipboard();
        });
        c.Check.Check(held, L"the clipboard is taken after the last object");
        c.Check.Check(run.Code == std::optional<DWORD>(1), L"a clipboard that cannot be opened exits 1",
                      run.Code ? std::to_wstring(*run.Code) : L"no exit");
        c.Check.Equal(run.Out.empty() ? L"" : run.Out.back(), key, L"the key is printed all the same");
        c.Check.Equal(run.Err.empty() ? L"" : run.Err.front(), L"Cannot open clipboard", L"stderr says why");
        c.Check.Check(ReadBytes(package).size() > (32u << 20) / 2, L"the package is in place");
    }
}

}  // namespace

void WizardWindowCapture(client::TDesignerWindows& windows)
{
    designer::TWin32WindowSystem system;
    designer::TWin32Keyboard keyboard;
    designer::TWin32MessageClock clock;
    const auto handle = [](HWND h) { return designer::FromHwnd(h); };
    designer::TDesignerWindows found{handle(windows.MainFrame), handle(windows.ConfigurationWindow),
                                     handle(windows.SearchWindow), handle(windows.TreeGrid)};
    try {
        designer::CaptureDesigner(found, found.MainFrame, {system, keyboard, clock});
    } catch (const std::exception& e) {
        PrintUtf8(L"# the wizard's capture raised: " + text::FromCodePage(e.what(), 1251) + L"\n");
    }
    windows = {designer::ToHwnd(found.MainFrame), designer::ToHwnd(found.ConfigurationWindow),
               designer::ToHwnd(found.SearchWindow), designer::ToHwnd(found.TreeGrid)};
}

const std::vector<TScenario>& WizardScenarios()
{
    static const std::vector<TScenario> scenarios = {
        {"wizard_demo", Demo},
        {"wizard_layout", Layout},
        {"wizard_layout_144", Layout144},
        {"wizard_capture", CaptureCases},
        {"wizard_search_late", CaptureSearchWindowLate},
        {"wizard_build", BuildThroughTheForm},
        {"wizard_build_fails", BuildFailures},
        {"wizard_build_stopped", BuildStopped},
        {"wizard_two_designers", TwoDesigners},
        {"wizard_fields", Fields},
        {"wizard_dialogs", Dialogs},
        {"wizard_typing", Typing},
        {"wizard_foreground", ForegroundStolen},
        {"wizard_bench", Bench},
        {"pkgtool_build", PkgtoolBuild},
    };
    return scenarios;
}
