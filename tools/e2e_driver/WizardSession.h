// The wizard as a test's subject: starts wizard.exe, finds its form and its
// controls by their identifiers, reads what the form shows (also the fonts
// and colours, which another process cannot read itself, through the form's
// describe message) and captures a Designer with it by pointing.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "Win32Drive.h"

namespace wiz {

// The form's control identifiers (the wizard's outside interface).
enum TControlId : int {
    Grab1CWnd = 101,
    wnd1CStatus = 102,
    GroupPreparation = 103,
    Label1 = 104,
    Label4 = 105,
    Label5 = 106,
    Label6 = 107,
    Label3 = 108,
    Label2 = 109,
    PathToDiffFile = 110,
    OpenFile = 111,
    LicensePath = 112,
    SelectLicense = 113,
    PathToPackageFile = 114,
    SelectPackageFile = 115,
    PathToDescription = 116,
    SelectDescrFile = 117,
    SerialKey = 118,
    GenerateKey = 119,
    sl = 120,
    MakePackage = 121,
    res = 122,
};

// The queries of the form's describe message "Wizard1C.DescribeControl".
enum TDescribe : LPARAM { FontFace = 1, FontHeight = 2, FontWeight = 3, TextColour = 4 };

}  // namespace wiz

class TWizardSession {
public:
    // Starts the wizard and waits for its form; Form() is zero when it did not come up.
    explicit TWizardSession(const std::wstring& wizardExe);
    ~TWizardSession();

    bool Started() const { return form_ != nullptr; }
    const std::wstring& Error() const { return error_; }
    HWND Form() const { return form_; }
    DWORD Pid() const { return process_.Id(); }
    // A control of the form or of its panel.
    HWND Control(int id) const;
    std::wstring Text(int id) const { return wnd::Text(Control(id)); }
    bool SetText(int id, const std::wstring& text) const { return wnd::SetText(Control(id), text); }
    RECT OuterRect() const;
    int OuterHeight() const;
    bool Visible() const { return IsWindowVisible(form_) != FALSE; }
    LRESULT Describe(HWND control, wiz::TDescribe what) const;
    std::wstring FontFace(HWND control) const;

    // Clicks the capture icon and waits until the form has hidden itself.
    bool StartCapture(DWORD timeoutMs = 5000) const;
    // Moves the pointer to `at` and waits until the form shows again; false
    // when it stayed hidden for timeoutMs.
    bool PointAndWait(POINT at, DWORD timeoutMs) const;
    // Both: a whole capture by pointing at `at`.
    bool CaptureAt(POINT at, DWORD timeoutMs = 60000) const { return StartCapture() && PointAndWait(at, timeoutMs); }

    // The lines of the log memo.
    std::vector<std::wstring> LogLines() const;

    // Closes the form (WM_CLOSE) and waits for the exit; the exit code, or nothing.
    std::optional<DWORD> Close(DWORD timeoutMs = 10000);

private:
    proc::TProcess process_;
    HWND form_ = nullptr;
    UINT describe_ = 0;
    std::wstring error_;
};

// The wizard's executable: beside the driver, or in the build tree's app/.
std::wstring DefaultWizardExe();
