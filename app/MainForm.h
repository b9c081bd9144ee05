#pragma once
// The wizard's one window, TMainForm: the capture icon and status, the
// preparation panel with the build's fields and buttons, and the log. One
// static window procedure binds the object to its window; the object's
// switch dispatches to handlers named after their control and event. Every
// handler runs through RunHandler, which turns an escaped error into the
// standard error box: the only catch of the user interface.

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "designer/WindowCapture.h"
#include "package/PackageDocument.h"
#include "platform/ScopedWin32.h"

namespace app {

// The application's title: the caption of the form and of the standard error box.
inline constexpr wchar_t kApplicationTitle[] = L"Мастер создания пакета инсталляции 1С 8.2";

// A message the form answers for the end-to-end tests, which cannot read
// another process's fonts and colours: wParam is one of the form's controls,
// lParam a TDescribe query. Registered by this name.
inline constexpr wchar_t kDescribeMessageName[] = L"Wizard1C.DescribeControl";
enum TDescribe : LPARAM {
    DescribeFontFace = 1,    // a global atom holding the font's face name (the asker deletes it)
    DescribeFontHeight = 2,  // the font's LOGFONT height
    DescribeFontWeight = 3,  // the font's weight (400 normal, 700 bold)
    DescribeTextColour = 4,  // the text colour (COLORREF)
};

// The standard error box's text: the message with a full stop appended when
// its last character sorts above "." in Windows-1251 (a letter or a digit).
std::string WithFullStop(std::string message1251);

// A control of the form as it is laid out (MainForm.cpp).
struct TControlLayout;

class TMainForm {
public:
    explicit TMainForm(HINSTANCE instance);
    ~TMainForm();
    TMainForm(const TMainForm&) = delete;
    TMainForm& operator=(const TMainForm&) = delete;

    // Creates the window and its controls, runs FormCreate and shows it.
    bool Create(int show);
    HWND Handle() const { return hwnd_; }
    // Keyboard handling of the message loop (Tab between the controls in
    // their tab order); true when `msg` was handled.
    bool PreTranslate(const MSG& msg);

private:
    static LRESULT CALLBACK StaticProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK PanelProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR data);
    LRESULT Proc(UINT msg, WPARAM wp, LPARAM lp);
    void CreateControls();
    HWND CreateControl(const TControlLayout& layout);
    void KeepControl(int id, HWND control);
    struct TTabEntry {
        bool InPanel;
        int TabOrder;
        HWND Window;
    };
    void SetTabOrder(std::vector<TTabEntry> tabs);
    void FitLabel(HWND label, const wchar_t* text, int right);
    void OnCommand(int id, int code);
    LRESULT Describe(HWND control, LPARAM what);

    // Runs a handler; an escaped error becomes the standard error box.
    void RunHandler(const std::function<void()>& handler);
    void ShowError(const std::string& message1251);
    // Every message box of the form: modal to the form, and in front of the
    // Designer, which the capture and the build bring forward.
    int ShowBox(const std::wstring& text, const wchar_t* caption, UINT type);

    // The handlers.
    void FormCreate();
    void OpenFileClick();
    void SelectLicenseClick();
    void SelectPackageFileClick();
    void SelectDescrFileClick();
    void GenerateKeyClick();
    void slExit();
    void Grab1CWndClick();
    void TimerTimer();
    void MakePackageClick();

    // Shared steps.
    void ChooseFile(bool save, const wchar_t* title, const wchar_t* filter, const wchar_t* defaultExt, HWND target);
    void SetStatus(const std::wstring& text, COLORREF colour);
    // The red status, and "Сформировать" disabled until a capture succeeds.
    void MarkNotCaptured();
    // Ends the wait for the pointer: the timer, Esc, the form shown again.
    void EndCaptureWait();
    void SetOuterHeight(int height96);
    // Enables or disables every field and choice button of the panel.
    void EnableBuildFields(bool enable);
    // Lets go of the Esc hot key of a build, before a message box.
    void ReleaseEscapeKey();
    void AddLogLines(const std::vector<std::string>& lines1251);
    std::string Text1251(HWND control) const;
    int Scale(int pixels96) const { return MulDiv(pixels96, dpi_, 96); }
    // Pumps pending messages during a build; true when the build should stop.
    bool PumpAndCheckStop();

    HINSTANCE instance_;
    HWND hwnd_ = nullptr;
    int dpi_ = 96;
    platform::TScopedGdiObject<HFONT> font_;
    platform::TScopedGdiObject<HFONT> boldFont_;
    platform::TScopedIcon handIcon_;
    platform::TScopedIcon appIcon_;
    platform::TScopedIcon appIconSmall_;
    UINT describeMessage_ = 0;
    COLORREF statusColour_ = RGB(255, 0, 0);
    std::vector<HWND> tabOrder_;

    // Controls.
    HWND Grab1CWnd = nullptr;
    HWND wnd1CStatus = nullptr;
    HWND GroupPreparation = nullptr;
    HWND PathToDiffFile = nullptr;
    HWND LicensePath = nullptr;
    HWND PathToPackageFile = nullptr;
    HWND PathToDescription = nullptr;
    HWND SerialKey = nullptr;
    HWND sl = nullptr;
    HWND MakePackage = nullptr;
    HWND res = nullptr;

    // The captured Designer, for the whole run, and its caption as the
    // capture read it (Windows-1251).
    designer::TDesignerWindows windows_;
    std::string capturedCaption_;
    // The document of the last build, kept until the next one.
    package::TPackageDocument package_;

    bool building_ = false;
    bool escapeKeyHeld_ = false;
    bool stopRequested_ = false;
    bool closeRequested_ = false;
};

}  // namespace app
