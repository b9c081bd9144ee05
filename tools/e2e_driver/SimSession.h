// The Designer simulator as a test's opponent: starts it with a log file,
// finds its windows, and reads the log it writes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "Win32Drive.h"

// The simulator's log, read again from the file on each query.
class TSimLog {
public:
    explicit TSimLog(std::wstring path) : path_(std::move(path)) {}
    const std::wstring& Path() const { return path_; }
    std::vector<std::wstring> Lines() const;
    size_t Count() const { return Lines().size(); }
    // Lines from index `from` on.
    std::vector<std::wstring> From(size_t from) const;
    // Waits until a line at index >= from equals line; true when seen.
    bool WaitFor(const std::wstring& line, size_t from, DWORD timeoutMs) const;
    // Waits until a line at index >= from begins with prefix; returns it, or empty.
    std::wstring WaitForPrefix(const std::wstring& prefix, size_t from, DWORD timeoutMs) const;

private:
    std::wstring path_;
};

class TSimSession {
public:
    // Starts simExe with the extra switches and a log named after tag in the
    // current directory; Frame() is zero when it did not come up.
    TSimSession(const std::wstring& simExe, const std::wstring& tag, const std::vector<std::wstring>& switches = {});
    ~TSimSession();

    bool Started() const { return frame_ != nullptr; }
    const std::wstring& Error() const { return error_; }
    HWND Frame() const { return frame_; }
    DWORD Pid() const { return process_.Id(); }
    TSimLog& Log() { return log_; }
    // Closes the frame and waits for the exit; the exit code, or nothing.
    std::optional<DWORD> Close();

    // Brings the frame to the front, sends Ctrl+Shift+C and returns the
    // configuration window, found as a descendant of the frame, or zero; the
    // chord's key-ups have been logged when it returns.
    HWND OpenConfiguration(DWORD timeoutMs = 5000);
    // The tree by the chain of first children, zero when it breaks.
    HWND Tree(HWND configuration) const;
    // Brings the tree's selection to the first level and types the path as
    // the capture command does: '.' as VK_RIGHT, other characters as WM_CHAR
    // with their Windows-1251 code, all with SendMessageA.
    void TypePath(HWND tree, const std::wstring& path) const;
    // The path the tree has selected (its WM_GETTEXT answer).
    std::wstring Selected(HWND tree) const { return wnd::Text(tree); }

private:
    proc::TProcess process_;
    TSimLog log_;
    HWND frame_ = nullptr;
    std::wstring error_;
};

// The simulator's executable when no --sim names one: beside the running
// program, or in the build tree's tools/designer_sim/ (from the driver's
// folder or the wizard benchmark's).
std::wstring DefaultSimExe();
