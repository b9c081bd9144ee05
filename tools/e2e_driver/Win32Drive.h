// Small Win32 helpers for driving another program's windows from outside:
// processes, windows, keyboard, mouse, clipboard, message boxes and waiting.
// Grouped by what they act on; every wait polls a condition with a timeout.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ExeDirectory.h"

namespace text {
// UTF-8 / UTF-16 / code-page conversions through the Win32 converters.
std::wstring FromUtf8(const std::string& s);
std::string ToUtf8(const std::wstring& s);
std::string ToCodePage(const std::wstring& s, UINT codePage);
std::wstring FromCodePage(const std::string& s, UINT codePage);
}  // namespace text

namespace wait {
// Polls cond every pollMs until it holds or timeoutMs passed; returns whether it held.
bool Until(const std::function<bool()>& cond, DWORD timeoutMs, DWORD pollMs = 10);
}  // namespace wait

namespace proc {
// A started process; closes its handles, and ends the process if still running.
class TProcess {
public:
    TProcess() = default;
    TProcess(const TProcess&) = delete;
    TProcess& operator=(const TProcess&) = delete;
    TProcess(TProcess&& other) noexcept;
    TProcess& operator=(TProcess&& other) noexcept;
    ~TProcess();

    // Starts exe with args (each quoted as needed); false with the reason in error().
    bool Start(const std::wstring& exe, const std::vector<std::wstring>& args);
    // Starts a console program with its standard output and error written
    // to the files `out` and `err`, in a process group of its own on this
    // program's console (so that Interrupt reaches it alone); does not wait
    // for input idle.
    bool StartConsole(const std::wstring& exe, const std::vector<std::wstring>& args, const std::wstring& out,
                      const std::wstring& err);
    // Interrupts a program started with StartConsole as Ctrl+Break or
    // Ctrl+C would, through its process group.
    bool Interrupt() const;
    DWORD Id() const { return info_.dwProcessId; }
    bool Running() const;
    // Waits up to timeoutMs for the exit; the exit code, or nothing on timeout.
    std::optional<DWORD> WaitExit(DWORD timeoutMs);
    void Terminate();
    const std::wstring& error() const { return error_; }

private:
    PROCESS_INFORMATION info_ = {};
    std::wstring error_;
};

// A Unix path ("/x/y") as Wine's DOS path ("Z:\x\y"); other paths unchanged.
std::wstring DosPath(const std::wstring& path);
}  // namespace proc

namespace wnd {
std::wstring ClassName(HWND h);
// The caption or control text, asked with WM_GETTEXT (works across processes).
std::wstring Text(HWND h);
// Sets a control's text with WM_SETTEXT; returns the message's result.
bool SetText(HWND h, const std::wstring& text);
DWORD ProcessOf(HWND h);
// Top-level windows of a class (and caption, when given), in z-order,
// optionally of one process only.
std::vector<HWND> TopLevel(const std::wstring& cls, const std::optional<std::wstring>& caption = {}, DWORD pid = 0);
// First descendant of parent of a class (and caption, when given), in EnumChildWindows order.
HWND Descendant(HWND parent, const std::wstring& cls, const std::optional<std::wstring>& caption = {});
// Follows first direct children by ANSI class name (FindWindowExA), one class per step; 0 when a link is missing.
HWND ChildChain(HWND parent, const std::vector<std::string>& classes);
// Child control by its identifier (GetDlgItem).
HWND ChildById(HWND parent, int id);
// Waits until a top-level window of the class and caption appears.
HWND WaitTopLevel(const std::wstring& cls, const std::optional<std::wstring>& caption, DWORD pid, DWORD timeoutMs);
// A point in the middle of the window's caption bar, in screen coordinates.
POINT CaptionPoint(HWND h);
// The centre of the window's client area, in screen coordinates.
POINT ClientCentre(HWND h);
// The window's WM_NCHITTEST answer for a screen point.
LRESULT HitTest(HWND h, POINT screen);
bool BringToFront(HWND h);
// SetForegroundWindow, repeated until the window's top-level ancestor is the
// foreground window; false when it never became so within timeoutMs.
bool MakeForeground(HWND h, DWORD timeoutMs);
// Posts WM_CLOSE.
void Close(HWND h);
}  // namespace wnd

namespace keys {
// keybd_event with scan code 0 and extra information 0.
void Down(BYTE vk);
void Up(BYTE vk);
// Down then up.
void Press(BYTE vk);
// The keys pressed in the order given and released in reverse.
void Chord(std::initializer_list<BYTE> vks);
}  // namespace keys

namespace mouse {
// Moves the pointer and waits until GetCursorPos reports the new place;
// false when SetCursorPos fails or the pointer never gets there.
bool MoveTo(POINT screen);
// A real left click at a screen point (SetCursorPos, then mouse_event down and up).
void ClickAt(POINT screen);
}  // namespace mouse

namespace ctl {
// Posts BM_CLICK, so a handler that shows a modal box does not block the driver.
void PressButton(HWND button);
// Posts a left button down and up at a client point of a control, by default
// its middle (a static with SS_NOTIFY answers STN_CLICKED).
void ClickControl(HWND control, std::optional<POINT> at = std::nullopt);
}  // namespace ctl

namespace clip {
// "CF_TEXT" and "CF_UNICODETEXT" are the predefined formats; any other name is registered.
UINT FormatId(const std::string& name);
// Opens the clipboard, retrying while another process holds it.
bool Open();
// Empties the clipboard; false when it could not be opened.
bool Empty();
bool Has(UINT format);
// Replaces the clipboard's contents with a Unicode text.
bool PutText(const std::wstring& value);
// The format's whole data block, byte for byte; nothing when absent.
std::optional<std::string> Read(UINT format);
// The identifiers on the clipboard, in EnumClipboardFormats order.
std::vector<UINT> Formats();
}  // namespace clip

namespace msgbox {
// Message boxes (dialog class "#32770") of a process that are visible now.
std::vector<HWND> Find(DWORD pid);
HWND WaitFor(DWORD pid, DWORD timeoutMs);
// The texts of the box's static controls, joined by newlines (the message and no icon).
std::wstring Text(HWND box);
// Presses the box's OK button (identifier IDOK, else its first button).
bool PressOk(HWND box);
}  // namespace msgbox

namespace screen {
// Asks the runner (scripts/winrun.sh) for a screenshot now, through the
// request file named by WINRUN_SCREENSHOT_REQUEST; target is a Unix path, or
// empty for the runner's --screenshot file. True once the runner has saved
// it; false when not run by the runner or when it did not answer in time.
bool Request(const std::wstring& target, DWORD timeoutMs);
}  // namespace screen
