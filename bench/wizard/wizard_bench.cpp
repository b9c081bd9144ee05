// The wizard benchmark (not a test): the time per object of a build of
// `objects` objects (200 unless --set objects=N) through the form against the
// simulator, the same capture driven without the form over the same Win32
// ports, the floor of the messages to the tree, and the capture's own
// duration; with --set phases=1 also every port call timed. It prints its
// checks like the end-to-end driver and ends with "N passed, N failed".
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cwchar>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "FileBytes.h"
#include "PhaseTimer.h"
#include "designer/PackageBuild.h"
#include "designer/win32/Win32Ports.h"
#include "package/PackageDocument.h"
#include "platform/Win32Clipboard.h"
#include "text/Codepage.h"
#include "tools/e2e_driver/Check.h"
#include "tools/e2e_driver/FixedPorts.h"
#include "tools/e2e_driver/Scenarios.h"
#include "tools/e2e_driver/SimSession.h"
#include "tools/e2e_driver/Switches.h"
#include "tools/e2e_driver/WizardSession.h"
#include "tools/e2e_driver/WizardSteps.h"

namespace fs = std::filesystem;

namespace {

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

class TCountingLog : public designer::ILogSink {
public:
    void AddLine(const std::string&) override { ++Lines; }
    int Lines = 0;
};

TBenchRun BenchOnce(TScenarioContext& c, const fs::path& dir, int objects, const std::wstring& delay,
                    const std::wstring& latency) {
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
        designer::TWin32Keyboard keyboard;
        designer::TWin32MessageClock clock;
        designer::TWin32TreeWindow treeWindow(tree, clock);
        platform::TWin32Clipboard clipboard;
        // As the form's build: woken by the clipboard's change.
        HWND listenerWindow = CreateWindowExW(0, L"STATIC", L"bench", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                              GetModuleHandleW(nullptr), nullptr);
        const designer::TClipboardListener listener(listenerWindow);
        clock.WakeOnClipboardChange();
        TDelayText delayField(Cp1251(delay));
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
        run.RoundTripMs =
            1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(f.QuadPart) / sends;
        // With --set phases=1: the same capture once more, every port call
        // timed, and the cost of a message that the tree does not handle.
        if (phases) {
            bench::TPhaseTimes times;
            bench::TTimedTree timedTree(treeWindow, times);
            bench::TTimedKeyboard timedKeyboard(keyboard, times);
            bench::TTimedClock timedClock(clock, times);
            bench::TTimedClipboard timedClipboard(clipboard, times);
            bench::TTimedLog timedLog(countingLog, times);
            designer::CaptureReportObjects(
                document, text::PathTo1251(files.Report),
                {timedTree, timedKeyboard, timedClock, timedClipboard, delayField, timedLog});
            PrintUtf8(L"phases of the capture without the form (delay " + delay + L" ms, copy latency " + latency +
                      L" ms):\n" + times.Table());
            const int sends = 200;
            for (const UINT message : {static_cast<UINT>(WM_NULL), static_cast<UINT>(WM_GETTEXTLENGTH)}) {
                QueryPerformanceCounter(&t0);
                for (int i = 0; i < sends; ++i) SendMessageW(tree, message, 0, 0);
                QueryPerformanceCounter(&t1);
                wchar_t line[128];
                swprintf(
                    line, 128, L"  SendMessage %ls to the tree: %.3f ms per call\n",
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

void Bench(TScenarioContext& c) {
    const int objects = std::stoi(Option(c, L"objects", L"200"));
    const fs::path dir = fs::current_path() / L"wizard_bench_out";
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir);
    std::string tree =
        "Конфигурация для замера\n  Общие\n    Подсистемы\n      Склад\n    Общие модули\n      Сервис\n  "
        "Справочники\n";
    std::string report = Cp1251(L"Отчет о сравнении\r\n\tКонфигурация\r\n");
    for (int i = 1; i <= objects; ++i) {
        wchar_t name[32];
        swprintf(name, 32, L"Справочник%03d", i);
        tree += "    " + text::Utf16ToUtf8(std::u16string(name, name + wcslen(name))) + "\n";
        report += Cp1251(std::wstring(L"\t\t  <--Справочник.") + name + L"\r\n");
    }
    tree += "  Обработки\n    Загрузка\n";
    file::Write(dir / L"tree.txt", tree);
    file::Write(dir / L"report.txt", report);
    file::Write(dir / L"agreement.txt", "agreement");
    file::Write(dir / L"description.txt", "description");
    const struct {
        const wchar_t* Delay;
        const wchar_t* Latency;
    } cases[] = {{L"20", L"0"}, {L"200", L"5"}};
    for (const auto& k : cases) {
        const TBenchRun run = BenchOnce(c, dir, objects, k.Delay, k.Latency);
        c.Check.Check(run.Ok,
                      L"delay " + std::wstring(k.Delay) + L" ms, latency " + k.Latency + L" ms: the build completes");
        wchar_t line[512];
        c.Check.Check(run.CoreOk, L"the baseline without the form completes");
        swprintf(line, 512,
                 L"delay %ls ms, copy latency %ls ms: %d objects in %.0f ms, %.1f ms per object "
                 L"(without the form %.1f ms, ratio %.2f); capture %.0f ms (its sleeps alone 2200 ms, ratio %.2f)",
                 k.Delay, k.Latency, objects, run.BuildMs, run.BuildMs / objects, run.CoreMs / objects,
                 run.BuildMs / run.CoreMs, run.CaptureMs, run.CaptureMs / 2200.0);
        PrintUtf8(std::wstring(line) + L"\n");
        // The part no wizard can go below here: each message to the tree is
        // waited for, so an object costs at least its messages' round trips.
        const double floorMs = run.MessagesPerObject * run.RoundTripMs;
        swprintf(line, 512,
                 L"  %.1f messages to the tree per object x %.3f ms per bare round trip = %.1f ms per object "
                 L"before the copy; through the form %.2f times that, without the form %.2f times",
                 run.MessagesPerObject, run.RoundTripMs, floorMs, run.BuildMs / objects / floorMs,
                 run.CoreMs / objects / floorMs);
        PrintUtf8(std::wstring(line) + L"\n");
    }
}

int Usage() {
    PrintUtf8(
        L"usage: wizard_bench [--sim designer_sim.exe] [--wizard wizard.exe] [--set NAME=VALUE]...\n"
        L"  objects=N (200), phases=1 (time every port call), simextra=\"SWITCHES\" (for the simulator)\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    TSharedSwitches switches;
    for (int i = 1; i < argc; ++i)
        if (!TakeSharedSwitch(argc, argv, i, switches)) return Usage();

    TChecker check;
    // The wizard reads the report in Windows-1251, as on a Russian machine.
    check.Equal(GetACP(), 1251, L"ANSI code page");
    check.Equal(GetOEMCP(), 866, L"OEM code page");
    TScenarioContext ctx{check, switches.Sim(), switches.Wizard(), L"", switches.Options};
    Bench(ctx);
    return check.Finish();
}
