// The wizard's form against the simulator: its layout at 96 and 144 DPI, the
// delay field's checks and the key generator, the four file dialogs, and the
// letters the tree receives whatever the machine's ANSI code page.
#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "FileBytes.h"
#include "Scenarios.h"
#include "SimSession.h"
#include "WizardFixtures.h"
#include "WizardSession.h"
#include "WizardSteps.h"

namespace fs = std::filesystem;

namespace {

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
    {wiz::GroupPreparation, L"GroupPreparation", L"Button", false, 1, 23, 658, 166, L"Подготовка пакета инсталляции",
     false, BS_GROUPBOX},
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
    {wiz::PathToPackageFile, L"PathToPackageFile", L"Edit", true, 135, 63, 518, 21, L"", false,
     WS_TABSTOP | ES_AUTOHSCROLL},
    {wiz::SelectPackageFile, L"SelectPackageFile", L"Button", true, 630, 65, 22, 16, L"...", false, WS_TABSTOP},
    {wiz::PathToDescription, L"PathToDescription", L"Edit", true, 135, 85, 518, 21, L"", false,
     WS_TABSTOP | ES_AUTOHSCROLL},
    {wiz::SelectDescrFile, L"SelectDescrFile", L"Button", true, 630, 87, 22, 16, L"...", false, WS_TABSTOP},
    {wiz::SerialKey, L"SerialKey", L"Edit", true, 135, 108, 410, 21, L"", true, WS_TABSTOP},
    {wiz::GenerateKey, L"GenerateKey", L"Button", true, 546, 108, 106, 19, L"Сгенерировать", false, WS_TABSTOP},
    {wiz::sl, L"sl", L"Edit", true, 135, 130, 33, 21, L"20", false, WS_TABSTOP},
    {wiz::MakePackage, L"MakePackage", L"Button", true, 546, 134, 106, 23, L"Сформировать", false, WS_TABSTOP},
    {wiz::res, L"res", L"Edit", false, 1, 192, 657, 217, L"", false, WS_TABSTOP | ES_MULTILINE | ES_READONLY},
};

int ScaleBy(int v, int dpi) { return MulDiv(v, dpi, 96); }

RECT RectIn(HWND control, HWND parent) {
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// Every control of the table read back from the running wizard at `dpi`.
void CheckLayout(TScenarioContext& c, TWizardSession& wizard, int dpi) {
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
            if (dpi == 96) c.Check.Check(r.left >= 0, name + L" lies inside the panel", std::to_wstring(r.left));
            c.Check.Equal(r.right, ScaleBy(e.Left + e.Width, dpi), name + L" right edge");
        } else if (status) {
            c.Check.Equal(r.left, ScaleBy(e.Left, dpi), name + L" left");
            c.Check.Check(r.right - r.left >= ScaleBy(e.Width, dpi), name + L" width",
                          std::to_wstring(r.right - r.left));
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

void Layout(TScenarioContext& c) {
    TWizardSession wizard(c.WizardExe);
    if (!c.Check.Check(wizard.Started(), L"the wizard starts", wizard.Error())) return;
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    c.Check.Note(L"screen at " + std::to_wstring(dpi) + L" DPI");
    CheckLayout(c, wizard, dpi);
}
const TScenarioEntry kLayoutEntry(TArea::Form, "wizard_layout", Layout);

// The same at 144 DPI (150 %): the system DPI is set for the wizard's start
// and put back afterwards.
void Layout144(TScenarioContext& c) {
    HKEY desktop = nullptr;
    if (!c.Check.Check(RegOpenKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                                     &desktop) == ERROR_SUCCESS,
                       L"the desktop settings open"))
        return;
    DWORD previous = 0, size = sizeof previous, type = 0;
    const bool hadValue = RegQueryValueExW(desktop, L"LogPixels", nullptr, &type, reinterpret_cast<BYTE*>(&previous),
                                           &size) == ERROR_SUCCESS;
    const DWORD dpi = 144;
    RegSetValueExW(desktop, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi);
    {
        TWizardSession wizard(c.WizardExe);
        if (c.Check.Check(wizard.Started(), L"the wizard starts at 144 DPI", wizard.Error()))
            CheckLayout(c, wizard, 144);
    }
    if (hadValue) RegSetValueExW(desktop, L"LogPixels", 0, type, reinterpret_cast<const BYTE*>(&previous), size);
    else RegDeleteValueW(desktop, L"LogPixels");
    RegCloseKey(desktop);
}
const TScenarioEntry kLayout144Entry(TArea::Form, "wizard_layout_144", Layout144);

void Fields(TScenarioContext& c) {
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
            form = (k == 8 || k == 13 || k == 18 || k == 23)
                       ? key[k] == L'-'
                       : ((key[k] >= L'0' && key[k] <= L'9') || (key[k] >= L'A' && key[k] <= L'F'));
        c.Check.Check(form, L"a generated key is 8-4-4-4-12 upper-case hex", key);
        c.Check.Check(key != previous, L"each key is new");
        previous = key;
    }
}
const TScenarioEntry kFieldsEntry(TArea::Form, "wizard_fields", Fields);

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

void Dialogs(TScenarioContext& c) {
    TSimSession sim(c.SimExe, L"wizard_dialogs", SimArgs(c));
    TWizardSession wizard(c.WizardExe);
    if (!StartBoth(c, sim, wizard) || !Capture(c, sim, wizard, L"Конфигуратор - Демонстрационная конфигурация")) return;
    // The dialogs open in the wizard's working directory: the driver's.
    const std::wstring dir = fs::current_path().wstring();
    file::Write(fs::current_path() / L"существующий.1c82pkg", "old");
    // Wine's open dialog adds the default extension only when the file so
    // named exists (Windows adds it always), so the typed names exist.
    file::Write(fs::current_path() / L"отчет.txt", "report");
    file::Write(fs::current_path() / L"соглашение.txt", "agreement");
    const TDialogCase cases[] = {
        {wiz::OpenFile, wiz::PathToDiffFile, L"Выберите файл различий конфигураций 1С", L"Текстовый документ", L"отчет",
         L"отчет.txt"},
        {wiz::SelectLicense, wiz::LicensePath, L"Выберите файл соглашения", L"Текстовый документ", L"соглашение",
         L"соглашение.txt"},
        {wiz::SelectPackageFile, wiz::PathToPackageFile, L"Укажите файл для сохранения пакета инталляции",
         L"Файл инсталляционного пакета 1С 8.2", L"существующий", L"существующий.1c82pkg"},
        {wiz::SelectDescrFile, wiz::PathToDescription, L"Выберите файл описания пакета", L"Текстовый документ", nullptr,
         L"прежний"},
    };
    for (const TDialogCase& t : cases) {
        const std::wstring what = t.Title;
        wizard.SetText(t.Edit, L"прежний");
        ctl::PressButton(wizard.Control(t.Button));
        HWND dialog = nullptr;
        wait::Until(
            [&] {
                for (HWND h : wnd::TopLevel(L"#32770", std::nullopt, wizard.Pid()))
                    if (IsWindowVisible(h) && wnd::Text(h) == t.Title) dialog = h;
                return dialog != nullptr;
            },
            kTimeout);
        if (!c.Check.Check(dialog != nullptr, what + L": the dialog opens with its title")) continue;
        HWND filter = GetDlgItem(dialog, 0x470);  // cmb1: the file types
        c.Check.Equal(filter ? static_cast<long long>(SendMessageW(filter, CB_GETCOUNT, 0, 0)) : -1, 1,
                      what + L": one filter");
        wchar_t item[256] = {};
        if (filter) SendMessageW(filter, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(item));
        c.Check.Equal(item, t.Filter, what + L": the filter's description");
        c.Check.Check(!IsWindowVisible(GetDlgItem(dialog, 0x410)), what + L": no read-only box");  // chx1
        c.Check.Check((GetWindowLongW(dialog, GWL_STYLE) & WS_THICKFRAME) != 0, what + L": resizable");
        if (t.Typed) {
            HWND name = GetDlgItem(dialog, 0x47C);        // cmb13: the file name
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
const TScenarioEntry kDialogsEntry(TArea::Form, "wizard_dialogs", Dialogs);

// The tree gets the right letters whatever the machine's ANSI code page: run
// under a Russian locale and under one whose code page is 1252.
void Typing(TScenarioContext& c) {
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
const TScenarioEntry kTypingEntry(TArea::Form, "wizard_typing", Typing);

}  // namespace
