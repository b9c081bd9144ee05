// pkgtool build on Windows: the Designer found by its frame's class, its
// windows captured as the wizard captures them, the objects captured and the
// package written as the wizard's "Сформировать" does, the log on the console.

#include "Build.h"

#include <windows.h>

#include <atomic>
#include <ostream>

#include "Cli.h"
#include "designer/PackageBuild.h"
#include "designer/WindowCapture.h"
#include "designer/win32/Win32Ports.h"
#include "package/PackageDocument.h"
#include "package/ReportWalk.h"
#include "platform/Platform.h"
#include "platform/Win32Clipboard.h"
#include "text/Codepage.h"
#include "text/Error.h"

namespace pkgtool {
namespace {

// Set by Ctrl+C, Ctrl+Break or the console closing; the build stops at the
// next object, or before the new package replaces the old one.
std::atomic<bool> stopRequested{false};
// Signalled when the build has cleaned up after itself.
HANDLE buildEnded = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    stopRequested = true;
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
    // Closing the console, logging off, shutting down: the system ends the
    // process once this returns, so give the build time to stop and to
    // remove its temporary files (the system waits about 5 s).
    if (buildEnded) ::WaitForSingleObject(buildEnded, 4500);
    return TRUE;
}

// Installs the console handler for the build's lifetime.
class TStopOnConsoleEvents {
public:
    TStopOnConsoleEvents() {
        stopRequested = false;
        buildEnded = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        // A console program started with Ctrl+C ignored inherits that; the
        // build wants it.
        ::SetConsoleCtrlHandler(nullptr, FALSE);
        ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    }
    ~TStopOnConsoleEvents() {
        if (buildEnded) ::SetEvent(buildEnded);
    }
    TStopOnConsoleEvents(const TStopOnConsoleEvents&) = delete;
    TStopOnConsoleEvents& operator=(const TStopOnConsoleEvents&) = delete;
};

// A message-only window: the owner the clipboard needs for the key. Its
// messages (the next program emptying the clipboard) are answered while the
// capture waits, by the message clock.
class TClipboardOwner {
public:
    TClipboardOwner()
        : hwnd_(::CreateWindowExW(0, L"STATIC", L"pkgtool", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  ::GetModuleHandleW(nullptr), nullptr)) {
        if (!hwnd_) throw text::TError(platform::SystemErrorText(platform::LastErrorCode()));
    }
    ~TClipboardOwner() { ::DestroyWindow(hwnd_); }
    TClipboardOwner(const TClipboardOwner&) = delete;
    TClipboardOwner& operator=(const TClipboardOwner&) = delete;
    HWND Handle() const { return hwnd_; }

private:
    HWND hwnd_;
};

class TFixedDelay : public designer::IDelayField {
public:
    explicit TFixedDelay(int ms) : text_(std::to_string(ms)) {}
    std::string Text() override { return text_; }

private:
    std::string text_;
};

// Each log line on its own line as it comes, UTF-8.
class TConsoleLog : public designer::ILogSink {
public:
    explicit TConsoleLog(std::ostream& out) : out_(out) {}
    void AddLine(const std::string& line) override { out_ << ConsoleText(line) << '\n' << std::flush; }

private:
    std::ostream& out_;
};

// Progress is the log's business; Ctrl+C and its kin stop the build.
class TConsoleMonitor : public designer::IBuildMonitor {
public:
    void Progress(int, int) override {}
    bool StopRequested() override { return stopRequested; }
};

void PrintError(std::ostream& err, std::string_view message1251) {
    err << ConsoleText(message1251) << '\n' << std::flush;
}

int Build(const TBuildRequest& request, std::ostream& out, std::ostream& err) {
    const std::string key = request.NewKey ? platform::NewGuidKey() : request.Key;

    designer::TWin32WindowSystem system;
    const designer::TWindow frame = designer::FindDesignerFrame(system, request.Window);
    if (frame == 0) {
        err << (request.Window.empty()
                    ? std::string("No running Designer was found (no window of class V8TopLevelFrame)")
                    : "No running Designer has \"" + text::Cp1251ToUtf8(request.Window) + "\" in its caption")
            << '\n';
        return kExitFailure;
    }

    // The window capture, as after pointing at the frame's caption.
    designer::TDesignerWindows windows;
    designer::TWin32Keyboard keys;
    designer::TWin32MessageClock clock;
    const designer::TCaptureOutcome captured = designer::CaptureDesigner(windows, frame, {system, keys, clock});
    if (!captured.Captured) {
        PrintError(err, text::Cp1251<"Окно 1С не захвачено">);
        return kExitFailure;
    }
    out << text::Cp1251ToUtf8(text::Cp1251<"Используется: ">) << text::Cp1251ToUtf8(captured.Caption) << '\n'
        << std::flush;

    // The build: the tree in front, then each object, then the package.
    const TClipboardOwner owner;
    designer::TWin32BuildPorts win32(windows.TreeGrid, owner.Handle());
    win32.BringTreeToFront();
    TFixedDelay delay(request.Delay);
    TConsoleLog log(out);
    TConsoleMonitor monitor;
    const designer::TBuildRequest build{request.Report, {request.License, request.Description, request.Package, key}};
    // The key is shown before it goes to the clipboard: a clipboard that
    // cannot be opened then fails the run, but never loses the key of a
    // package that is already in place.
    const designer::TKeyHandOver showAndCopyKey = [&](const std::string& key1251) {
        out << key1251 << '\n' << std::flush;
        platform::PutClipboardText(win32.Clipboard, win32.Clock, key1251);
    };
    package::TPackageDocument document;
    // Ctrl+C is seen also while the Designer takes its time over a message.
    const designer::TAnswerPolicy answer{static_cast<std::uint32_t>(request.AnswerTimeout),
                                         [] { return stopRequested.load(); }};
    switch (designer::RunPackageBuild(document, build, win32.With(delay, log, nullptr, answer), monitor,
                                      showAndCopyKey)) {
    case designer::TBuildOutcome::Written: return kExitOk;
    case designer::TBuildOutcome::Stopped: return kExitFailure;  // the log says so
    case designer::TBuildOutcome::CaptureFailed: break;
    }
    PrintError(err, package::kCaptureFailedMessage);
    return kExitFailure;
}

}  // namespace

int RunBuild(const TBuildOptions& options, std::ostream& out, std::ostream& err) {
    TBuildRequest request;
    try {
        request = CheckBuildOptions(options);
    } catch (const text::TError& e) {
        err << "pkgtool build: " << e.what() << '\n';
        return kExitUsage;
    }
    const TStopOnConsoleEvents stopOnConsoleEvents;
    try {
        return Build(request, out, err);
    } catch (const text::TError& e) {
        PrintError(err, e.what());
        return kExitFailure;
    } catch (const std::bad_alloc&) {
        err << "Out of memory\n";
        return kExitFailure;
    }
}

}  // namespace pkgtool
