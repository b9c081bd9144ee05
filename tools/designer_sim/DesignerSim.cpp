// A stand-in for the 1C:Enterprise 8.2 Designer: the windows, shortcuts,
// tree behaviour and clipboard formats that an outside program relies on when
// it drives the Designer, plus a log of everything it received. Here: its
// switches, its log, its message loop and its start.
#include <windows.h>
#include <mmsystem.h>
#include <shellapi.h>

#include <exception>
#include <filesystem>
#include <optional>
#include <string>

#include "ExeDirectory.h"
#include "FileBytes.h"
#include "Simulator.h"
#include "text/Codepage.h"

std::wstring Widen(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }
std::u16string Narrow16(const std::wstring& s) { return std::u16string(s.begin(), s.end()); }

namespace {

std::string ToUtf8(const std::wstring& s) { return text::Utf16ToUtf8(Narrow16(s)); }

}  // namespace

bool TSimulator::OpenLog() {
    if (options_.LogFile.empty()) return true;
    log_.open(std::filesystem::path(options_.LogFile), std::ios::binary | std::ios::trunc);
    return log_.is_open();
}

void TSimulator::Log(const std::wstring& line) {
    if (!log_.is_open()) return;
    TStatsScope timed(stats_, L"log line written and flushed");
    log_ << ToUtf8(line) << '\n';
    log_.flush();
}

// The message loop, which also starts a delayed render when its timer is due.
int TSimulator::Run() {
    MSG msg{};
    for (;;) {
        const DWORD woke = MsgWaitForMultipleObjectsEx(renderTimer_ ? 1 : 0, &renderTimer_, INFINITE, QS_ALLINPUT,
                                                       MWMO_INPUTAVAILABLE);
        if (woke == WAIT_OBJECT_0) {
            if (renderPending_) {
                renderPending_ = false;
                RenderClipboard();
            }
            continue;
        }
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                Log(L"exit");
                return static_cast<int>(msg.wParam);
            }
            bool key = msg.message == WM_KEYDOWN || msg.message == WM_KEYUP || msg.message == WM_SYSKEYDOWN ||
                       msg.message == WM_SYSKEYUP;
            if (key && HandleKey(msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

namespace {

const wchar_t kUsage[] =
    L"designer_sim [--config FILE] [--log FILE] [--caption TEXT] [--latency MS [--keep-stale]]\n"
    L"             [--drop-format NAME --drop-node PATH] [--search any|second|never]\n"
    L"             [--no-config-window | --top-level-config-window] [--decoys]\n"
    L"             [--config-delay MS] [--ctrl-f-delay MS] [--menu-delay MS] [--hold-open MS] [--key-times] [--stats]\n"
    L"             [--hung-frame] [--user-mode] [--search-keeps-focus] [--hang-after N] [--render-on-request]";

// Returns an empty string on success, else the complaint.
std::wstring ParseOptions(int argc, wchar_t** argv, TSimOptions& o) {
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        auto value = [&](std::wstring& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        // A number of milliseconds after the switch.
        auto millis = [&](UINT& out) {
            std::wstring v;
            if (!value(v) || v.empty() || v.size() > 7 || v.find_first_not_of(L"0123456789") != std::wstring::npos)
                return false;
            out = static_cast<UINT>(std::stoul(v));
            return true;
        };
        std::wstring v;
        if (a == L"--no-config-window") o.ConfigurationWindow = false;
        else if (a == L"--decoys") o.Decoys = true;
        else if (a == L"--key-times") o.KeyTimes = true;
        else if (a == L"--stats") o.Stats = true;
        else if (a == L"--hung-frame") o.HungFrame = true;
        else if (a == L"--user-mode") {
            o.UserMode = true;
            o.ConfigurationWindow = false;
        } else if (a == L"--search-keeps-focus") o.SearchKeepsFocus = true;
        else if (a == L"--render-on-request") o.RenderOnRequest = true;
        else if (a == L"--hang-after") {
            UINT n = 0;
            if (!millis(n) || n == 0) return L"--hang-after needs a number of messages";
            o.HangAfter = n;
        }
        else if (a == L"--config-delay") {
            if (!millis(o.ConfigurationDelayMs)) return L"--config-delay needs milliseconds";
        } else if (a == L"--ctrl-f-delay") {
            if (!millis(o.CtrlFDelayMs)) return L"--ctrl-f-delay needs milliseconds";
        } else if (a == L"--menu-delay") {
            if (!millis(o.MenuDelayMs)) return L"--menu-delay needs milliseconds";
        } else if (a == L"--hold-open") {
            if (!millis(o.HoldOpenMs)) return L"--hold-open needs milliseconds";
        } else if (a == L"--top-level-config-window") o.ConfigurationTopLevel = true;
        else if (a == L"--keep-stale") o.KeepStale = true;
        else if (a == L"--config") {
            if (!value(o.ConfigFile)) return L"--config needs a file";
        } else if (a == L"--log") {
            if (!value(o.LogFile)) return L"--log needs a file";
        } else if (a == L"--caption") {
            if (!value(o.Caption)) return L"--caption needs a text";
        } else if (a == L"--drop-format") {
            if (!value(o.DropFormat)) return L"--drop-format needs a name";
        } else if (a == L"--drop-node") {
            if (!value(o.DropNode)) return L"--drop-node needs a path";
        } else if (a == L"--latency") {
            if (!millis(o.LatencyMs)) return L"--latency needs milliseconds";
        } else if (a == L"--search") {
            if (!value(v)) return L"--search needs a mode";
            if (v == L"any") o.Search = TSearchMode::Any;
            else if (v == L"second") o.Search = TSearchMode::SecondTry;
            else if (v == L"never") o.Search = TSearchMode::Never;
            else return L"unknown --search mode " + v;
        } else {
            return L"unknown switch " + a;
        }
    }
    if (o.ConfigFile.empty()) o.ConfigFile = proc::ExeDirectory() + L"\\designer_tree.txt";
    return {};
}

// The start-up problem as the log's only line; false when it cannot be written.
bool WriteError(const std::wstring& logFile, const std::wstring& text) {
    try {
        file::Write(logFile, "error " + ToUtf8(text) + "\n");
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// Start-up problems go to the log when there is one, else to a message box.
int Fail(const std::wstring& logFile, const std::wstring& text) {
    if (logFile.empty() || !WriteError(logFile, text))
        MessageBoxW(nullptr, (text + L"\n\n" + kUsage).c_str(), L"designer_sim", MB_ICONERROR | MB_OK);
    return 2;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    // Timers and waits to the millisecond, not to the system's 10-16 ms tick.
    timeBeginPeriod(1);
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    TSimOptions options;
    std::wstring complaint = ParseOptions(argc, argv, options);
    LocalFree(argv);
    if (!complaint.empty()) return Fail(options.LogFile, complaint);

    const std::optional<std::string> text = file::Read(options.ConfigFile);
    if (!text) return Fail(options.LogFile, L"cannot read " + options.ConfigFile);
    TSimTree tree;
    try {
        tree = TSimTree::Parse(*text);
    } catch (const std::exception& e) {
        return Fail(options.LogFile, options.ConfigFile + L": " + Widen(text::Utf8ToUtf16(e.what())));
    }

    TSimulator sim(std::move(options), std::move(tree));
    if (!sim.OpenLog()) return Fail(L"", L"cannot write the log file");
    if (!sim.RegisterClasses(instance) || !sim.CreateFrame(instance, show))
        return Fail(L"", L"cannot create the windows");
    return sim.Run();
}
