// Builds through the wizard's form against the simulator: the main job's run
// with screenshots, a whole build read back later on Linux, two Designers,
// failed and stopped builds, another program taking the front mid-build.
#include <windows.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "FileBytes.h"
#include "Scenarios.h"
#include "SimSession.h"
#include "WizardFixtures.h"
#include "WizardSession.h"
#include "WizardSteps.h"

namespace fs = std::filesystem;

namespace {

const std::wstring kDemoCaption = L"Конфигуратор - Управление складом (пример)";

// The main job: the wizard captures the simulator, builds a package from a
// report and says where it is. Inputs through --set: report, config,
// agreement, description, out (a package path), shots (a directory for the
// screenshots); all Unix or Windows paths.
void Demo(TScenarioContext& c) {
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
        c.Check.Note(screen::Request(target, 15000) ? L"screenshot " + target
                                                    : L"no screenshot (not run by winrun.sh)");
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
        c.Check.Note(L"foreground: " + wnd::ClassName(front) + L" \"" + wnd::Text(front) + L"\" pid " +
                     std::to_wstring(wnd::ProcessOf(front)) + L", simulator " + std::to_wstring(sim.Pid()) +
                     L", wizard " + std::to_wstring(wizard.Pid()));
        for (const std::wstring& line : wizard.LogLines()) c.Check.Note(L"log: " + line);
        c.Check.Check(false, L"the build ends without a box", msgbox::Text(end.Box));
        msgbox::PressOk(end.Box);
        return;
    }
    c.Check.Check(end.Ended, L"the build ends");
    const std::wstring key = wizard.Text(wiz::SerialKey);
    c.Check.Check(GetFileAttributesW(files.Package.c_str()) != INVALID_FILE_ATTRIBUTES, L"the package is written");
    c.Check.Equal(ClipboardText(), key, L"the key is on the clipboard");
    for (const std::wstring& line : wizard.LogLines()) c.Check.Note(L"log: " + line);
    PrintUtf8(L"package: " + files.Package.wstring() + L"\nkey: " + key + L"\n");
    const std::wstring keyFile = Option(c, L"keyfile", L"");
    if (!keyFile.empty()) file::Write(proc::DosPath(keyFile), Cp1251(key));
    c.Check.Check(wizard.Close().has_value(), L"the wizard closes");
}
const TScenarioEntry kDemoEntry(TArea::WizardBuild, "wizard_demo", Demo);

void BuildThroughTheForm(TScenarioContext& c) {
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
        wait::Until(
            [&] {
                const std::wstring caption = wnd::Text(wizard.Form());
                if (caption.find(L"(4 из 5)") != std::wstring::npos) {
                    progressSeen = caption;
                    linesDuringBuild = wizard.LogLines().size();
                    return true;
                }
                return caption == kTitle;
            },
            30000, 5);
    });
    if (end.Box) {
        c.Check.Check(false, L"the build ends without a box", msgbox::Text(end.Box));
        msgbox::PressOk(end.Box);
        return;
    }
    c.Check.Check(end.Ended, L"the build ends");
    c.Check.Equal(progressSeen, kTitle + L" (4 из 5)", L"the caption shows the progress");
    c.Check.Equal(static_cast<long long>(linesDuringBuild), 3,
                  L"the log shows three lines while the fourth object is taken");
    c.Check.Equal(wnd::Text(wizard.Form()), kTitle, L"the caption is restored");
    std::vector<std::wstring> expectedLog;
    for (const TExpectedObject& o : kBuildObjects) expectedLog.push_back(LogLine(o.Path, true));
    c.Check.Check(wizard.LogLines() == expectedLog, L"one success line per object, in report order");
    c.Check.Equal(ClipboardText(), key, L"the key is on the clipboard");
    // Marked by the documented formats that keep it out of the clipboard
    // history and the cloud clipboard.
    for (const wchar_t* mark :
         {L"ExcludeClipboardContentFromMonitorProcessing", L"CanIncludeInClipboardHistory", L"CanUploadToCloudClipboard"})
        c.Check.Check(clip::Read(RegisterClipboardFormatW(mark)).value_or("") == std::string(4, '\0'),
                      std::wstring(L"the key carries ") + mark + L" = 0");
    c.Check.Check(file::Read(files.Package).value_or("") != "an earlier package",
                  L"the package replaced the earlier file");
    c.Check.Check(Leftovers(out) == before, L"no temporary file is left");
    WriteExpectedObjects(out / L"expected_objects.txt");
    file::Write(out / L"key.txt", Cp1251(key));

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
    c.Check.Check(emptyKey && reinterpret_cast<const wchar_t*>(emptyKey->data())[0] == 0,
                  L"the empty key is on the clipboard");
    fs::rename(files.Package, out / L"Пакет без ключа.1c82pkg", ec);
    wizard.Close(20000);
    sim.Close();

    // A long build: every one of 600 lines stays in the log, the last
    // object's included (an edit control's default limit held about 400).
    const int many = 600;
    std::string tree = "Конфигурация\n  Общие\n    Подсистемы\n    Общие модули\n  Справочники\n";
    std::string report = Cp1251(L"Отчет о сравнении\r\n\tКонфигурация\r\n");
    std::vector<std::wstring> manyLines;
    for (int i = 1; i <= many; ++i) {
        const std::wstring name = L"Справочник" + std::to_wstring(1000 + i);
        tree += "    " + text::ToUtf8(name) + "\n";
        report += Cp1251(L"\t\t  <--Справочник." + name + L"\r\n");
        manyLines.push_back(LogLine(L"Справочник." + name, true));
    }
    tree += "  Обработки\n";
    file::Write(out / L"tree600.txt", tree);
    TBuildFiles long600 = files;
    long600.Report = out / L"Отчет600.txt";
    long600.Package = out / L"Пакет600.1c82pkg";
    file::Write(long600.Report, report);
    TSimSession longSim(c.SimExe, L"wizard_build_600", SimArgs(c, {L"--config", (out / L"tree600.txt").wstring()}));
    TWizardSession longWizard(c.WizardExe);
    if (!StartBoth(c, longSim, longWizard) ||
        !Capture(c, longSim, longWizard, L"Конфигуратор - Демонстрационная конфигурация"))
        return;
    Fill(longWizard, long600, L"KEY", L"3000");
    const TBuildEnd longEnd = RunBuild(longWizard, 300000);
    c.Check.Check(longEnd.Ended && !longEnd.Box, L"600 objects are built",
                  longEnd.Box ? msgbox::Text(longEnd.Box) : L"");
    if (longEnd.Box) msgbox::PressOk(longEnd.Box);
    const std::vector<std::wstring> longLog = longWizard.LogLines();
    c.Check.Equal(static_cast<long long>(longLog.size()), many, L"the log holds all 600 lines");
    c.Check.Check(longLog == manyLines, L"every line in order, the last one included",
                  longLog.empty() ? L"" : longLog.back());
}
const TScenarioEntry kBuildThroughTheFormEntry(TArea::WizardBuild, "wizard_build", BuildThroughTheForm);

// Two Designers, the first captured, then the second: the build must work
// on the second one's tree, never on the tree found for the first.
void TwoDesigners(TScenarioContext& c) {
    const fs::path out = fs::current_path() / L"wizard_two_out";
    const TBuildFiles files = PrepareFiles(out);
    TSimSession first(c.SimExe, L"wizard_two_first", SimArgs(c, {L"--caption", L"Конфигуратор - Первая"}));
    TSimSession second(c.SimExe, L"wizard_two_second", SimArgs(c, {L"--caption", L"Конфигуратор - Вторая"}));
    TWizardSession wizard(c.WizardExe);
    if (!c.Check.Check(first.Started(), L"the first simulator starts", first.Error()) || !StartBoth(c, second, wizard))
        return;
    // The second frame below the first (760x560 at 20,20), so that neither
    // caption is ever covered by the other frame: the first Designer may
    // still come to the front while it closes its search window after its
    // capture, when the second one is already being pointed at.
    SetWindowPos(second.Frame(), HWND_TOP, 260, 600, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
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
const TScenarioEntry kTwoDesignersEntry(TArea::WizardBuild, "wizard_two_designers", TwoDesigners);

void BuildFailures(TScenarioContext& c) {
    const fs::path out = fs::current_path() / L"wizard_fail_out";
    const TBuildFiles files = PrepareFiles(out);
    const auto before = Leftovers(out);
    {
        // A copy that lacks a format, at the third object.
        TSimSession sim(
            c.SimExe, L"wizard_drop",
            SimArgs(c, {L"--drop-format", L"1C:MD8 Info", L"--drop-node", L"Общие.Общие модули.СервисКлиент"}));
        TWizardSession wizard(c.WizardExe);
        if (!StartBoth(c, sim, wizard) || !Capture(c, sim, wizard, L"Конфигуратор - Демонстрационная конфигурация"))
            return;
        Fill(wizard, files, L"KEY", L"3000");
        const TBuildEnd end = RunBuild(wizard, 60000);
        const auto log = wizard.LogLines();  // as the box shows
        ExpectBox(c, wizard, end.Box, L"Error", kCaptureFailed, L"a dropped format");
        c.Check.Equal(static_cast<long long>(log.size()), 3, L"the build stops at the third object");
        c.Check.Equal(log.empty() ? L"" : log.back(), LogLine(L"ОбщийМодуль.СервисКлиент", false),
                      L"the last line is the failure");
        CheckNothingWritten(c, files, before, L"a dropped format");
        c.Check.Check(clip::Read(CF_UNICODETEXT).value_or("") != std::string("K\0E\0Y\0\0\0", 8),
                      L"the key is not put on the clipboard");
    }
    {
        // A Designer slower than the delay. With the shortest delay the
        // failure comes within the log's update interval of the build's
        // start: its line must be on the screen before the box is.
        TSimSession sim(c.SimExe, L"wizard_slow", SimArgs(c, {L"--latency", L"1500"}));
        TWizardSession wizard(c.WizardExe);
        if (!StartBoth(c, sim, wizard) || !Capture(c, sim, wizard, L"Конфигуратор - Демонстрационная конфигурация"))
            return;
        Fill(wizard, files, L"KEY", L"10");
        const TBuildEnd end = RunBuild(wizard, 60000);
        const auto log = wizard.LogLines();
        ExpectBox(c, wizard, end.Box, L"Error", kCaptureFailed, L"a slow Designer", true);
        c.Check.Check(log == std::vector<std::wstring>{LogLine(L"Справочник.Склады", false)},
                      L"one failure line for the first object, shown with the box");
        CheckNothingWritten(c, files, before, L"a slow Designer");
    }
    {
        // A report that does not exist: the standard error box.
        TSimSession sim(c.SimExe, L"wizard_noreport", SimArgs(c));
        TWizardSession wizard(c.WizardExe);
        if (!StartBoth(c, sim, wizard) || !Capture(c, sim, wizard, L"Конфигуратор - Демонстрационная конфигурация"))
            return;
        TBuildFiles missing = files;
        missing.Report = out / L"нет такого.txt";
        Fill(wizard, missing, L"KEY", L"200");
        ctl::PressButton(wizard.Control(wiz::MakePackage));
        ExpectBox(c, wizard, nullptr, kTitle, L"File not found.", L"a missing report");
        CheckNothingWritten(c, files, before, L"a missing report");
        c.Check.Check(wizard.Visible() && IsWindowEnabled(wizard.Form()), L"the form stays usable");
    }
    {
        // The metadata search left open after the capture keeps the
        // Designer's focus: Ctrl+Insert there would copy the object it found
        // (Справочники.Номенклатура) for every object of the report.
        TSimSession sim(c.SimExe, L"wizard_search_open", SimArgs(c, {L"--search-keeps-focus"}));
        TWizardSession wizard(c.WizardExe);
        if (!StartBoth(c, sim, wizard) || !Capture(c, sim, wizard, L"Конфигуратор - Демонстрационная конфигурация"))
            return;
        HWND configuration = wnd::Descendant(sim.Frame(), L"V8NewLocalFrameBaseWnd", std::wstring(L"Конфигурация"));
        sim.TypePath(sim.Tree(configuration), L"Справочники.Номенклатура");
        const size_t mark = sim.Log().Count();
        // Unless it is still open since the capture (its Esc may reach the
        // Designer while another window is in front).
        if (!wnd::WaitTopLevel(L"V8NewLocalFrameBaseWnd", std::wstring(L"Поиск объектов метаданных"), sim.Pid(), 0)) {
            wnd::MakeForeground(configuration, kTimeout);
            keys::Chord({VK_CONTROL, 'F'});
        }
        c.Check.Check(wnd::WaitTopLevel(L"V8NewLocalFrameBaseWnd", std::wstring(L"Поиск объектов метаданных"),
                                        sim.Pid(), kTimeout) != nullptr,
                      L"the search window is open");
        Fill(wizard, files, L"KEY", L"3000");
        const TBuildEnd end = RunBuild(wizard, 60000);
        ExpectBox(c, wizard, end.Box, kTitle,
                  L"Клавиатурный фокус конфигуратора находится не в дереве конфигурации (например, оставлено открытым "
                  L"окно поиска объектов метаданных или выбран другой список), поэтому команда копирования не "
                  L"отправлена: скопировался бы другой объект. Пакет не записан. Щелкните мышью в дереве конфигурации "
                  L"в окне конфигуратора и нажмите «Сформировать» еще раз.",
                  L"the focus in the search window");
        CheckNothingWritten(c, files, before, L"the focus in the search window");
        std::wstring copies;
        for (const std::wstring& line : sim.Log().From(mark))
            if (line.rfind(L"copy ", 0) == 0 || line == L"search window copy") copies += line + L"; ";
        c.Check.Equal(copies, L"", L"nothing was copied");
    }
    {
        // The Designer restarted since the capture: the captured handles name
        // no window now, or windows that only reuse their values.
        TWizardSession wizard(c.WizardExe);
        {
            TSimSession sim(c.SimExe, L"wizard_restarted_first", SimArgs(c));
            if (!StartBoth(c, sim, wizard) || !Capture(c, sim, wizard, L"Конфигуратор - Демонстрационная конфигурация"))
                return;
            sim.Close();
        }
        TSimSession restarted(c.SimExe, L"wizard_restarted", SimArgs(c));
        if (!c.Check.Check(restarted.Started(), L"the Designer starts again", restarted.Error())) return;
        Fill(wizard, files, L"KEY", L"3000");
        ctl::PressButton(wizard.Control(wiz::MakePackage));
        ExpectBox(c, wizard, nullptr, kTitle,
                  L"Окно конфигуратора, захваченное мастером, закрыто или изменилось (конфигуратор перезапущен или "
                  L"окно конфигурации закрыто). Захватите окно конфигуратора заново и повторите попытку.",
                  L"a restarted Designer");
        CheckNothingWritten(c, files, before, L"a restarted Designer");
        c.Check.Check(LinesWithPrefix(restarted, L"key ").empty(), L"the restarted Designer got no key");
        c.Check.Equal(wizard.Text(wiz::wnd1CStatus), L"Окно 1С не захвачено", L"the status turns red");
        c.Check.Check(!IsWindowEnabled(wizard.Control(wiz::MakePackage)), L"\"Сформировать\" is disabled");
    }
}
const TScenarioEntry kBuildFailuresEntry(TArea::WizardBuild, "wizard_build_fails", BuildFailures);

void BuildStopped(TScenarioContext& c) {
    const fs::path out = fs::current_path() / L"wizard_stop_out";
    const TBuildFiles files = PrepareFiles(out);
    const auto before = Leftovers(out);
    const std::wstring stopped = L"Формирование пакета остановлено пользователем";
    {
        TSimSession sim(c.SimExe, L"wizard_stop", SimArgs(c, {L"--latency", L"300"}));
        TWizardSession wizard(c.WizardExe);
        if (!StartBoth(c, sim, wizard) || !Capture(c, sim, wizard, L"Конфигуратор - Демонстрационная конфигурация"))
            return;
        Fill(wizard, files, L"KEY", L"3000");
        // While the build runs, no field and no choice button takes input.
        const wiz::TControlId fields[] = {wiz::PathToDiffFile, wiz::OpenFile, wiz::SerialKey, wiz::GenerateKey, wiz::sl};
        const auto enabledCount = [&] {
            int n = 0;
            for (const wiz::TControlId id : fields) n += IsWindowEnabled(wizard.Control(id)) ? 1 : 0;
            return n;
        };
        int enabledDuring = -1;
        const TBuildEnd end = RunBuild(wizard, 60000, [&] {
            wait::Until([&] { return wnd::Text(wizard.Form()).find(L"(2 из 5)") != std::wstring::npos; }, 20000, 5);
            enabledDuring = enabledCount();
            keys::Press(VK_ESCAPE);
        });
        c.Check.Equal(enabledDuring, 0, L"the fields and their buttons are disabled while the build runs");
        c.Check.Equal(enabledCount(), 5, L"and enabled again when it has ended");
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
        if (!StartBoth(c, sim, wizard) || !Capture(c, sim, wizard, L"Конфигуратор - Демонстрационная конфигурация"))
            return;
        Fill(wizard, files, L"KEY", L"3000");
        ctl::PressButton(wizard.Control(wiz::MakePackage));
        wait::Until([&] { return wnd::Text(wizard.Form()).find(L"(2 из 5)") != std::wstring::npos; }, 20000, 5);
        const auto code = wizard.Close(20000);
        c.Check.Check(code.has_value(), L"closing the form stops the build and ends the program");
        CheckNothingWritten(c, files, before, L"closing");
    }
}
const TScenarioEntry kBuildStoppedEntry(TArea::WizardBuild, "wizard_build_stopped", BuildStopped);

// Another program comes to the front in the middle of a build: the copy
// keystrokes must not reach it. The wizard brings the Designer back (or,
// where the system refuses that, stops with its message).
void ForegroundStolen(TScenarioContext& c) {
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
        c.Check.Equal(static_cast<long long>(wizard.LogLines().size()), 5,
                      L"the Designer was brought back and the build completed");
    }
}
const TScenarioEntry kForegroundStolenEntry(TArea::WizardBuild, "wizard_foreground", ForegroundStolen);

}  // namespace
