#include "app/MainForm.h"

#include <commctrl.h>
#include <commdlg.h>
#include <objbase.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <utility>

#include "app/resource.h"
#include "designer/BuildDisplay.h"
#include "designer/PackageBuild.h"
#include "designer/win32/Win32Ports.h"
#include "package/ReportWalk.h"
#include "platform/Platform.h"
#include "platform/ScopedWin32.h"
#include "platform/Win32Clipboard.h"
#include "text/Codepage.h"
#include "text/Error.h"
#include "text/Number.h"

namespace app {

namespace {

constexpr wchar_t kFormClass[] = L"TMainForm";
constexpr UINT_PTR kCaptureTimer = 1;
constexpr int kEscapeHotKey = 1;
// How often a running build updates the log and the progress on the screen:
// ten times a second reads as continuous and keeps the redraws a small share.
constexpr std::uint32_t kBuildDisplayIntervalMs = 100;
// slExit runs after the focus has moved, outside the edit's notification.
constexpr UINT kSlExitMessage = WM_APP + 1;

// The form at 96 DPI.
constexpr int kFormLeft = 324;
constexpr int kFormTop = 133;
constexpr int kClientWidth = 661;
constexpr int kClientHeight = 412;
constexpr int kCollapsedHeight = 60;
constexpr int kExpandedHeight = 450;
constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_CLIPCHILDREN;
constexpr wchar_t kFontFace[] = L"MS Sans Serif";
constexpr int kFontPoints = 8;

constexpr COLORREF kStatusRed = RGB(255, 0, 0);
constexpr COLORREF kStatusGreen = 0x8000;
constexpr wchar_t kNotCapturedText[] = L"Окно 1С не захвачено";
constexpr wchar_t kCapturedPrefix[] = L"Используется: ";

constexpr wchar_t kDelayTooSmallMessage[] = L"Значение задержки не должно быть менее 10 ms.";
constexpr std::int32_t kMinimumDelay = 10;

constexpr wchar_t kTextFilter[] = L"Текстовый документ\0*.txt\0";
constexpr wchar_t kPackageFilter[] = L"Файл инсталляционного пакета 1С 8.2\0*.1c82pkg\0";

}  // namespace

enum class TKind { Image, Label, Panel, Edit, Button, Memo };

// A control of the form: what it is, where it lies (at 96 DPI, within its
// parent) and its place in its parent's tab order (-1: not a tab stop).
struct TControlLayout {
    int Id;
    TKind Kind;
    bool InPanel;
    int Left, Top, Width, Height;
    int TabOrder;
    const wchar_t* Text;
};

namespace {

// In the order in which they lie on the form: a later control lies above an
// earlier one (the "..." buttons above the right end of their edits).
constexpr TControlLayout kControls[] = {
    {IDC_GRAB1CWND, TKind::Image, false, 1, 3, 16, 16, -1, L""},
    {IDC_WND1CSTATUS, TKind::Label, false, 20, 4, 133, 13, -1, kNotCapturedText},
    {IDC_GROUPPREPARATION, TKind::Panel, false, 1, 23, 658, 166, 0, L"Подготовка пакета инсталляции"},
    {IDC_LABEL1, TKind::Label, true, 35, 23, 98, 13, -1, L"Отчет о сравнении:"},
    {IDC_LABEL4, TKind::Label, true, 50, 45, 83, 13, -1, L"Файл лицензии:"},
    {IDC_LABEL5, TKind::Label, true, 25, 67, 108, 13, -1, L"Путь к файлу пакета:"},
    {IDC_LABEL6, TKind::Label, true, 12, 89, 121, 13, -1, L"Файл описания пакета:"},
    {IDC_LABEL3, TKind::Label, true, 11, 111, 122, 13, -1, L"Регистрационный ключ:"},
    {IDC_LABEL2, TKind::Label, true, 57, 133, 76, 13, -1, L"Задержка (ms):"},
    {IDC_PATHTODIFFFILE, TKind::Edit, true, 135, 19, 518, 21, 5, L""},
    {IDC_OPENFILE, TKind::Button, true, 630, 21, 22, 16, 4, L"..."},
    {IDC_LICENSEPATH, TKind::Edit, true, 135, 41, 518, 21, 6, L""},
    {IDC_SELECTLICENSE, TKind::Button, true, 630, 43, 22, 16, 7, L"..."},
    {IDC_PATHTOPACKAGEFILE, TKind::Edit, true, 135, 63, 518, 21, 8, L""},
    {IDC_SELECTPACKAGEFILE, TKind::Button, true, 630, 65, 22, 16, 9, L"..."},
    {IDC_PATHTODESCRIPTION, TKind::Edit, true, 135, 85, 518, 21, 10, L""},
    {IDC_SELECTDESCRFILE, TKind::Button, true, 630, 87, 22, 16, 11, L"..."},
    {IDC_SERIALKEY, TKind::Edit, true, 135, 108, 410, 21, 2, L""},
    {IDC_GENERATEKEY, TKind::Button, true, 546, 108, 106, 19, 3, L"Сгенерировать"},
    {IDC_SL, TKind::Edit, true, 135, 130, 33, 21, 1, L"20"},
    {IDC_MAKEPACKAGE, TKind::Button, true, 546, 134, 106, 23, 0, L"Сформировать"},
    {IDC_RES, TKind::Memo, false, 1, 192, 657, 217, 1, L""},
};

constexpr int kSerialKeyLimit = 36;

std::wstring Wide(std::string_view s1251) {
    const std::u16string u = text::Cp1251ToUtf16(s1251);
    return std::wstring(u.begin(), u.end());
}

std::string Narrow(std::wstring_view w) {
    return text::Utf16ToCp1251(std::u16string_view(reinterpret_cast<const char16_t*>(w.data()), w.size()));
}

std::wstring WindowText(HWND h) {
    const int n = GetWindowTextLengthW(h);
    std::wstring s(static_cast<std::size_t>(n) + 1, L'\0');
    s.resize(static_cast<std::size_t>(GetWindowTextW(h, s.data(), n + 1)));
    return s;
}

class TFieldDelay : public designer::IDelayField {
public:
    explicit TFieldDelay(std::function<std::string()> read) : read_(std::move(read)) {}
    std::string Text() override { return read_(); }

private:
    std::function<std::string()> read_;
};

// The form's watch over a build: the progress goes to the display, and the
// stop question pumps the form's messages, so Esc and closing are seen.
class TFormMonitor : public designer::IBuildMonitor {
public:
    TFormMonitor(designer::TBuildDisplay& display, std::function<bool()> stopRequested)
        : display_(display), stopRequested_(std::move(stopRequested)) {}
    void Progress(int number, int total) override { display_.SetProgress(number, total); }
    bool StopRequested() override { return stopRequested_(); }

private:
    designer::TBuildDisplay& display_;
    std::function<bool()> stopRequested_;
};

// The window class, styles and extended styles of a control of this kind.
struct TControlStyle {
    const wchar_t* Class;
    DWORD Style;
    DWORD ExStyle;
};

TControlStyle StyleOf(const TControlLayout& c) {
    constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
    switch (c.Kind) {
    case TKind::Image: return {L"STATIC", kChild | SS_OWNERDRAW | SS_NOTIFY, 0};
    case TKind::Label: return {L"STATIC", kChild | SS_NOPREFIX | SS_CENTERIMAGE | (c.InPanel ? SS_RIGHT : SS_LEFT), 0};
    case TKind::Panel:  // hidden until a Designer is captured
        return {L"BUTTON", WS_CHILD | BS_GROUPBOX | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT};
    case TKind::Edit: return {L"EDIT", kChild | WS_TABSTOP | ES_AUTOHSCROLL | WS_CLIPSIBLINGS, WS_EX_CLIENTEDGE};
    case TKind::Button: return {L"BUTTON", kChild | WS_TABSTOP | BS_PUSHBUTTON, 0};
    case TKind::Memo:
        return {L"EDIT",
                kChild | WS_TABSTOP | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL | WS_VSCROLL,
                WS_EX_CLIENTEDGE};
    }
    return {L"STATIC", kChild, 0};
}

HFONT CreateFormFont(int height, int weight) {
    // The Cyrillic character set, so that the face the system substitutes
    // renders the Russian labels also where the system locale is not Russian.
    return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, RUSSIAN_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, kFontFace);
}

HICON LoadIconResource(HINSTANCE instance, int id, int width, int height) {
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON, width, height, 0));
}

// The size `text` takes in `font` on `window`.
SIZE TextExtent(HWND window, HFONT font, std::wstring_view text) {
    const platform::TScopedGetDC dc(window);
    const platform::TScopedSelectObject selected(dc, font);
    SIZE size{};
    GetTextExtentPoint32W(dc, text.data(), static_cast<int>(text.size()), &size);
    return size;
}

// Runs `undo` when the scope ends, on every way out.
class TOnExit {
public:
    explicit TOnExit(std::function<void()> undo) : undo_(std::move(undo)) {}
    ~TOnExit() { undo_(); }
    TOnExit(const TOnExit&) = delete;
    TOnExit& operator=(const TOnExit&) = delete;

private:
    std::function<void()> undo_;
};

}  // namespace

std::string WithFullStop(std::string message1251) {
    if (!message1251.empty() && static_cast<unsigned char>(message1251.back()) > static_cast<unsigned char>('.'))
        message1251 += '.';
    return message1251;
}

TMainForm::TMainForm(HINSTANCE instance) : instance_(instance) {}

// The window goes first; the fonts and icons it uses are released after it.
TMainForm::~TMainForm() {
    if (hwnd_) DestroyWindow(hwnd_);
}

bool TMainForm::Create(int show) {
    describeMessage_ = RegisterWindowMessageW(kDescribeMessageName);
    dpi_ = GetDeviceCaps(platform::TScopedGetDC(nullptr), LOGPIXELSY);
    if (dpi_ <= 0) dpi_ = 96;
    appIcon_.Reset(LoadIconResource(instance_, IDI_APP, GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON)));
    appIconSmall_.Reset(
        LoadIconResource(instance_, IDI_APP, GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON)));
    handIcon_.Reset(LoadIconResource(instance_, IDI_POINTING_HAND, Scale(16), Scale(16)));

    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = StaticProc;
    wc.hInstance = instance_;
    wc.hIcon = appIcon_;
    wc.hIconSm = appIconSmall_;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kFormClass;
    if (!RegisterClassExW(&wc)) return false;

    RECT outer{0, 0, Scale(kClientWidth), Scale(kClientHeight)};
    AdjustWindowRectEx(&outer, kFormStyle, FALSE, 0);
    hwnd_ = CreateWindowExW(0, kFormClass, kApplicationTitle, kFormStyle, kFormLeft, kFormTop, outer.right - outer.left,
                            outer.bottom - outer.top, nullptr, nullptr, instance_, this);
    if (!hwnd_) return false;
    CreateControls();
    RunHandler([this] { FormCreate(); });
    ShowWindow(hwnd_, show);
    UpdateWindow(hwnd_);
    return true;
}

void TMainForm::FitLabel(HWND label, const wchar_t* text, int right) {
    // A label stands right-aligned before its field; when the face the system
    // substitutes for the form's font is wider, it grows to the left.
    const SIZE size = TextExtent(label, font_, text);
    RECT r;
    GetWindowRect(label, &r);
    MapWindowPoints(nullptr, GetParent(label), reinterpret_cast<POINT*>(&r), 2);
    if (size.cx > r.right - r.left)
        SetWindowPos(label, nullptr, right - size.cx, r.top, size.cx, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void TMainForm::CreateControls() {
    const int fontHeight = -MulDiv(kFontPoints, dpi_, 72);
    font_.Reset(CreateFormFont(fontHeight, FW_NORMAL));
    boldFont_.Reset(CreateFormFont(fontHeight, FW_BOLD));
    SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);

    std::vector<TTabEntry> tabs;
    for (const TControlLayout& c : kControls) {
        const HWND h = CreateControl(c);
        if (c.TabOrder >= 0) tabs.push_back({c.InPanel, c.TabOrder, h});
        if (c.Kind == TKind::Label && c.InPanel) FitLabel(h, c.Text, Scale(c.Left + c.Width));
        KeepControl(c.Id, h);
    }
    SendMessageW(SerialKey, EM_LIMITTEXT, kSerialKeyLimit, 0);
    // The log takes every line of a build however long: an edit control's
    // default limit (about 30000 characters) drops the later lines silently,
    // the failed object's line among them. 0 lifts it to the largest.
    SendMessageW(res, EM_SETLIMITTEXT, 0, 0);
    // The status label fits its text also where the bold face is wider.
    SetStatus(kNotCapturedText, kStatusRed);
    SetTabOrder(std::move(tabs));
}

HWND TMainForm::CreateControl(const TControlLayout& c) {
    const TControlStyle look = StyleOf(c);
    HWND parent = c.InPanel ? GroupPreparation : hwnd_;
    HWND h = CreateWindowExW(look.ExStyle, look.Class, c.Text, look.Style, Scale(c.Left), Scale(c.Top), Scale(c.Width),
                             Scale(c.Height), parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.Id)), instance_,
                             nullptr);
    // A later control lies above the earlier ones.
    SetWindowPos(h, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    const bool bold = c.Id == IDC_WND1CSTATUS || c.Id == IDC_SERIALKEY;
    SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(bold ? boldFont_.Get() : font_.Get()), FALSE);
    return h;
}

void TMainForm::KeepControl(int id, HWND h) {
    switch (id) {
    case IDC_GRAB1CWND: Grab1CWnd = h; break;
    case IDC_WND1CSTATUS: wnd1CStatus = h; break;
    case IDC_GROUPPREPARATION:
        GroupPreparation = h;
        // The panel's children report to it; it hands their notifications on.
        SetWindowSubclass(h, PanelProc, 0, reinterpret_cast<DWORD_PTR>(this));
        break;
    case IDC_PATHTODIFFFILE: PathToDiffFile = h; break;
    case IDC_LICENSEPATH: LicensePath = h; break;
    case IDC_PATHTOPACKAGEFILE: PathToPackageFile = h; break;
    case IDC_PATHTODESCRIPTION: PathToDescription = h; break;
    case IDC_SERIALKEY: SerialKey = h; break;
    case IDC_SL: sl = h; break;
    case IDC_MAKEPACKAGE: MakePackage = h; break;
    case IDC_RES: res = h; break;
    default: break;
    }
}

void TMainForm::SetTabOrder(std::vector<TTabEntry> tabs) {
    // The form's controls in their order, the panel's controls taking the
    // panel's place.
    std::stable_sort(tabs.begin(), tabs.end(),
                     [](const TTabEntry& a, const TTabEntry& b) { return a.TabOrder < b.TabOrder; });
    for (const TTabEntry& form : tabs) {
        if (form.InPanel) continue;
        if (form.Window == GroupPreparation) {
            for (const TTabEntry& inner : tabs)
                if (inner.InPanel) tabOrder_.push_back(inner.Window);
        } else {
            tabOrder_.push_back(form.Window);
        }
    }
}

bool TMainForm::PreTranslate(const MSG& msg) {
    if (msg.message != WM_KEYDOWN || msg.wParam != VK_TAB) return false;
    if (msg.hwnd != hwnd_ && !IsChild(hwnd_, msg.hwnd)) return false;
    const bool back = GetKeyState(VK_SHIFT) < 0;
    const auto here = std::find(tabOrder_.begin(), tabOrder_.end(), GetFocus());
    const std::ptrdiff_t n = static_cast<std::ptrdiff_t>(tabOrder_.size());
    std::ptrdiff_t i = here == tabOrder_.end() ? (back ? 0 : n - 1) : here - tabOrder_.begin();
    for (std::ptrdiff_t step = 0; step < n; ++step) {
        i = (i + (back ? n - 1 : 1)) % n;
        HWND next = tabOrder_[static_cast<std::size_t>(i)];
        if (IsWindowVisible(next) && IsWindowEnabled(next)) {
            SetFocus(next);
            if (GetWindowLongPtrW(next, GWL_STYLE) & ES_MULTILINE) break;
            SendMessageW(next, EM_SETSEL, 0, -1);
            break;
        }
    }
    return true;
}

LRESULT CALLBACK TMainForm::StaticProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* form = static_cast<TMainForm*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        form->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto* form = reinterpret_cast<TMainForm*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!form) return DefWindowProcW(hwnd, msg, wp, lp);
    const LRESULT result = form->Proc(msg, wp, lp);
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        form->hwnd_ = nullptr;
    }
    return result;
}

LRESULT CALLBACK TMainForm::PanelProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data) {
    auto* form = reinterpret_cast<TMainForm*>(data);
    switch (msg) {
    case WM_COMMAND:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
        return SendMessageW(form->hwnd_, msg, wp, lp);
    case WM_ERASEBKGND: {
        // A group box paints only its frame and caption; the panel's face is ours.
        RECT r;
        GetClientRect(hwnd, &r);
        FillRect(reinterpret_cast<HDC>(wp), &r, GetSysColorBrush(COLOR_BTNFACE));
        return 1;
    }
    case WM_NCDESTROY:
        RemoveWindowSubclass(hwnd, PanelProc, 0);
        break;
    default:
        break;
    }
    return DefSubclassProc(hwnd, msg, wp, lp);
}

LRESULT TMainForm::Proc(UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == describeMessage_ && describeMessage_ != 0) return Describe(reinterpret_cast<HWND>(wp), lp);
    switch (msg) {
    case WM_COMMAND:
        OnCommand(LOWORD(wp), HIWORD(wp));
        return 0;
    case kSlExitMessage:
        // Only a move of the focus within the form is leaving the field; a
        // switch to another program is not.
        if (GetFocus() && GetFocus() != sl && IsChild(hwnd_, GetFocus()) && !building_) RunHandler([this] { slExit(); });
        return 0;
    case WM_TIMER:
        if (wp == kCaptureTimer) RunHandler([this] { TimerTimer(); });
        return 0;
    case WM_HOTKEY:
        if (wp == kEscapeHotKey) {
            if (building_) {
                stopRequested_ = true;
            } else {
                // Esc while the capture waits: the wait ends and the form comes back as it was.
                KillTimer(hwnd_, kCaptureTimer);
                UnregisterHotKey(hwnd_, kEscapeHotKey);
                ShowWindow(hwnd_, SW_SHOW);
            }
        }
        return 0;
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lp) == wnd1CStatus) {
            HDC dc = reinterpret_cast<HDC>(wp);
            SetTextColor(dc, statusColour_);
            SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        }
        if (reinterpret_cast<HWND>(lp) == res) {
            // A read-only edit asks for the static colours; the log is a memo
            // and keeps the window colour.
            HDC dc = reinterpret_cast<HDC>(wp);
            SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
            SetBkColor(dc, GetSysColor(COLOR_WINDOW));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
        }
        break;
    case WM_DRAWITEM: {
        auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lp);
        if (item->CtlID == IDC_GRAB1CWND) {
            // The hand over the form's own background: drawn with its alpha.
            FillRect(item->hDC, &item->rcItem, GetSysColorBrush(COLOR_BTNFACE));
            DrawIconEx(item->hDC, item->rcItem.left, item->rcItem.top, handIcon_, item->rcItem.right - item->rcItem.left,
                       item->rcItem.bottom - item->rcItem.top, 0, nullptr, DI_NORMAL);
            return TRUE;
        }
        break;
    }
    case WM_CLOSE:
        if (building_) {
            // Closing stops the build between two objects; the form closes after it.
            stopRequested_ = closeRequested_ = true;
            return 0;
        }
        DestroyWindow(hwnd_);
        return 0;
    case WM_DESTROY:
        KillTimer(hwnd_, kCaptureTimer);
        UnregisterHotKey(hwnd_, kEscapeHotKey);
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(hwnd_, msg, wp, lp);
}

void TMainForm::OnCommand(int id, int code) {
    if (id == IDC_SL && code == EN_KILLFOCUS) {
        PostMessageW(hwnd_, kSlExitMessage, 0, 0);
        return;
    }
    // While a build runs, its messages are pumped between objects; no other
    // handler may start meanwhile.
    if (building_) return;
    if (code != BN_CLICKED && !(id == IDC_GRAB1CWND && code == STN_CLICKED)) return;
    switch (id) {
    case IDC_GRAB1CWND: RunHandler([this] { Grab1CWndClick(); }); break;
    case IDC_OPENFILE: RunHandler([this] { OpenFileClick(); }); break;
    case IDC_SELECTLICENSE: RunHandler([this] { SelectLicenseClick(); }); break;
    case IDC_SELECTPACKAGEFILE: RunHandler([this] { SelectPackageFileClick(); }); break;
    case IDC_SELECTDESCRFILE: RunHandler([this] { SelectDescrFileClick(); }); break;
    case IDC_GENERATEKEY: RunHandler([this] { GenerateKeyClick(); }); break;
    case IDC_MAKEPACKAGE: RunHandler([this] { MakePackageClick(); }); break;
    default: break;
    }
}

LRESULT TMainForm::Describe(HWND control, LPARAM what) {
    if (control != hwnd_ && !IsChild(hwnd_, control)) return 0;
    LOGFONTW font = {};
    // The form's own window keeps no font; its controls answer WM_GETFONT.
    HFONT handle = control == hwnd_ ? font_.Get() : reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    if (!handle || !GetObjectW(handle, sizeof font, &font)) return 0;
    switch (what) {
    case DescribeFontFace: return GlobalAddAtomW(font.lfFaceName);
    case DescribeFontHeight: return font.lfHeight;
    case DescribeFontWeight: return font.lfWeight;
    case DescribeTextColour: return control == wnd1CStatus ? statusColour_ : GetSysColor(COLOR_WINDOWTEXT);
    default: return 0;
    }
}

void TMainForm::RunHandler(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        ShowError(e.what());
    }
}

void TMainForm::ShowError(const std::string& message1251) {
    ShowBox(Wide(WithFullStop(message1251)), kApplicationTitle, MB_ICONERROR | MB_OK);
}

int TMainForm::ShowBox(const std::wstring& text, const wchar_t* caption, UINT type) {
    // The Designer is in front after a capture or a build; a box behind it
    // would leave the wizard waiting for an answer nobody sees.
    return MessageBoxW(hwnd_, text.c_str(), caption, type | MB_SETFOREGROUND | MB_TOPMOST);
}

void TMainForm::FormCreate() { SetOuterHeight(kCollapsedHeight); }

void TMainForm::SetOuterHeight(int height96) {
    RECT r;
    GetWindowRect(hwnd_, &r);
    int height = Scale(height96);
    int top = r.top;
    // The form stays within the work area of its monitor: at 150 % on a
    // screen 768 pixels high the expanded form would reach below the taskbar.
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTONEAREST), &monitor)) {
        const RECT& work = monitor.rcWork;
        height = std::min<int>(height, work.bottom - work.top);
        if (top + height > work.bottom) top = work.bottom - height;
        top = std::max<int>(top, work.top);
    }
    SetWindowPos(hwnd_, nullptr, r.left, top, r.right - r.left, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void TMainForm::EnableBuildFields(bool enable) {
    // While a build runs the fields it read stay as they were read.
    for (const int id : {IDC_PATHTODIFFFILE, IDC_OPENFILE, IDC_LICENSEPATH, IDC_SELECTLICENSE, IDC_PATHTOPACKAGEFILE,
                         IDC_SELECTPACKAGEFILE, IDC_PATHTODESCRIPTION, IDC_SELECTDESCRFILE, IDC_SERIALKEY,
                         IDC_GENERATEKEY, IDC_SL})
        EnableWindow(GetDlgItem(GroupPreparation, id), enable ? TRUE : FALSE);
}

void TMainForm::ReleaseEscapeKey() {
    // A hot key is the system's until it is released: a message box shown
    // meanwhile would never see Esc.
    if (escapeKeyHeld_) UnregisterHotKey(hwnd_, kEscapeHotKey);
    escapeKeyHeld_ = false;
}

void TMainForm::SetStatus(const std::wstring& text, COLORREF colour) {
    statusColour_ = colour;
    SetWindowTextW(wnd1CStatus, text.c_str());
    // The label grows with its text.
    const SIZE size = TextExtent(wnd1CStatus, boldFont_, text);
    RECT r;
    GetWindowRect(wnd1CStatus, &r);
    SetWindowPos(wnd1CStatus, nullptr, 0, 0, std::max<int>(size.cx, r.right - r.left), r.bottom - r.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(wnd1CStatus, nullptr, TRUE);
}

std::string TMainForm::Text1251(HWND control) const { return Narrow(WindowText(control)); }

void TMainForm::AddLogLines(const std::vector<std::string>& lines1251) {
    std::wstring text;
    for (const std::string& line : lines1251) text += Wide(line) + L"\r\n";
    const LRESULT end = GetWindowTextLengthW(res);
    SendMessageW(res, EM_SETSEL, end, end);
    SendMessageW(res, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    SendMessageW(res, EM_SCROLLCARET, 0, 0);
    // The build holds the message loop: the lines are painted now.
    UpdateWindow(res);
}

void TMainForm::ChooseFile(bool save, const wchar_t* title, const wchar_t* filter, const wchar_t* defaultExt, HWND target) {
    // The dialog opens in the current directory of this moment.
    const DWORD n = GetCurrentDirectoryW(0, nullptr);
    std::wstring directory(n, L'\0');
    directory.resize(GetCurrentDirectoryW(n, directory.data()));
    std::wstring file(32768, L'\0');

    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = hwnd_;
    ofn.lpstrFilter = filter;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrInitialDir = directory.c_str();
    ofn.lpstrTitle = title;
    ofn.lpstrDefExt = defaultExt;
    // No check that the file exists, no question before overwriting.
    ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING;
    const BOOL chosen = save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
    if (!chosen) return;  // cancelled: the field keeps its text
    SetWindowTextW(target, file.c_str());
}

void TMainForm::OpenFileClick() {
    ChooseFile(false, L"Выберите файл различий конфигураций 1С", kTextFilter, L"txt", PathToDiffFile);
}

void TMainForm::SelectLicenseClick() {
    ChooseFile(false, L"Выберите файл соглашения", kTextFilter, L"txt", LicensePath);
}

void TMainForm::SelectPackageFileClick() {
    ChooseFile(true, L"Укажите файл для сохранения пакета инталляции", kPackageFilter, L"1c82pkg", PathToPackageFile);
}

void TMainForm::SelectDescrFileClick() {
    ChooseFile(false, L"Выберите файл описания пакета", kTextFilter, L"txt", PathToDescription);
}

void TMainForm::GenerateKeyClick() {
    SetWindowTextW(SerialKey, Wide(platform::NewGuidKey()).c_str());
}

void TMainForm::slExit() {
    if (text::StrToInt(Text1251(sl)) < kMinimumDelay) {
        ShowBox(kDelayTooSmallMessage, L"Information", MB_ICONINFORMATION | MB_OK);
        SetWindowTextW(sl, L"10");
    }
}

void TMainForm::Grab1CWndClick() {
    ShowWindow(hwnd_, SW_HIDE);
    // Esc ends the wait (WM_HOTKEY; the timer also looks at the key).
    RegisterHotKey(hwnd_, kEscapeHotKey, 0, VK_ESCAPE);
    SetTimer(hwnd_, kCaptureTimer, designer::kCaptureTickMs, nullptr);
}

void TMainForm::EndCaptureWait() {
    KillTimer(hwnd_, kCaptureTimer);
    UnregisterHotKey(hwnd_, kEscapeHotKey);
    ShowWindow(hwnd_, SW_SHOW);
}

void TMainForm::MarkNotCaptured() {
    SetStatus(kNotCapturedText, kStatusRed);
    EnableWindow(MakePackage, FALSE);
}

void TMainForm::TimerTimer() {
    if (GetAsyncKeyState(VK_ESCAPE) & 0x8000) {
        EndCaptureWait();
        return;
    }
    designer::TWin32WindowSystem system;
    designer::TWindow frame = 0;
    try {
        frame = designer::DesignerFrameUnderCursor(system);
    } catch (...) {
        // A Designer out of reach: the wait ends with its message, which
        // would otherwise come again at every tick.
        EndCaptureWait();
        MarkNotCaptured();
        throw;
    }
    if (frame == 0) return;

    KillTimer(hwnd_, kCaptureTimer);
    // The capture sends Esc itself; it must reach the Designer, not this form.
    UnregisterHotKey(hwnd_, kEscapeHotKey);
    // A capture that fails, or stops with an error, may have dropped the
    // windows of the earlier one: the old status would then name a Designer
    // the build can no longer reach.
    bool captured = false;
    const TOnExit showAgain([this, &captured] {
        if (!captured) MarkNotCaptured();
        ShowWindow(hwnd_, SW_SHOW);
    });
    designer::TWin32Keyboard keyboard;
    designer::TWin32MessageClock clock;
    const designer::TCaptureOutcome outcome = designer::CaptureDesigner(windows_, frame, {system, keyboard, clock});
    if (!outcome.Captured) return;
    captured = true;
    capturedCaption_ = outcome.Caption;
    SetStatus(kCapturedPrefix + Wide(outcome.Caption), kStatusGreen);
    EnableWindow(MakePackage, TRUE);
    ShowWindow(GroupPreparation, SW_SHOW);
    SetOuterHeight(kExpandedHeight);
}

bool TMainForm::PumpAndCheckStop() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            stopRequested_ = true;
            break;
        }
        if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE) {
            stopRequested_ = true;
            continue;
        }
        if (!PreTranslate(msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    if (GetAsyncKeyState(VK_ESCAPE) & 0x8000) stopRequested_ = true;
    return stopRequested_;
}

void TMainForm::MakePackageClick() {
    // Closed or restarted since the capture, the Designer's handles may name
    // no window, or windows of another program that reused their values.
    if (designer::TWin32WindowSystem system; !designer::CapturedWindowsStillThere(system, windows_, capturedCaption_)) {
        MarkNotCaptured();
        throw text::TError(std::string(designer::kDesignerWindowsChangedMessage));
    }

    // The delay is read and checked once, by the rule of slExit: the build
    // runs on that value whatever happens to the field meanwhile.
    std::string delayText = Text1251(sl);
    if (text::StrToInt(delayText) < kMinimumDelay) {
        ShowBox(kDelayTooSmallMessage, L"Information", MB_ICONINFORMATION | MB_OK);
        SetWindowTextW(sl, L"10");
        delayText = "10";
    }

    designer::TWin32BuildPorts win32(windows_.TreeGrid, hwnd_);
    win32.BringTreeToFront();
    SetWindowTextW(res, L"");

    const std::wstring caption = WindowText(hwnd_);
    building_ = true;
    stopRequested_ = false;
    escapeKeyHeld_ = RegisterHotKey(hwnd_, kEscapeHotKey, 0, VK_ESCAPE) != FALSE;
    EnableBuildFields(false);
    const TOnExit endBuild([this, caption] {
        building_ = false;
        ReleaseEscapeKey();
        EnableBuildFields(true);
        SetWindowTextW(hwnd_, caption.c_str());
        if (closeRequested_) PostMessageW(hwnd_, WM_CLOSE, 0, 0);
    });

    // The log and the progress reach the screen at most every
    // kBuildDisplayIntervalMs, with whatever came since: a redraw of the memo
    // costs as much as capturing an object does.
    designer::TBuildDisplay display(
        win32.Clock, kBuildDisplayIntervalMs,
        {[this](const std::vector<std::string>& lines) { AddLogLines(lines); },
         [this, &caption](int number, int total) {
             const std::wstring progress =
                 caption + L" (" + std::to_wstring(number) + L" из " + std::to_wstring(total) + L")";
             SetWindowTextW(hwnd_, progress.c_str());
         }});
    // Whatever is pending is on the screen before a box or the end of the
    // build. This also runs while an error unwinds, where it must not throw.
    const TOnExit showAll([&display] {
        try {
            display.ShowNow();
        } catch (...) {
        }
    });
    designer::TDisplayingClock displayingClock(win32.Clock, display);
    TFieldDelay delay([delayText] { return delayText; });
    TFormMonitor monitor(display, [this] { return PumpAndCheckStop(); });
    // While the Designer takes its time over a message, Esc and closing are
    // still seen: the wait pumps the form's messages between two tries.
    const designer::TAnswerPolicy answer{designer::kDesignerAnswerMs, [this] { return PumpAndCheckStop(); }};
    const designer::TBuildRequest request{
        Text1251(PathToDiffFile),
        {Text1251(LicensePath), Text1251(PathToDescription), Text1251(PathToPackageFile), Text1251(SerialKey)}};

    const designer::TBuildOutcome outcome =
        designer::RunPackageBuild(package_, request, win32.With(delay, display, &displayingClock, answer), monitor,
                                  designer::KeyToClipboard(win32.Clipboard, win32.Clock));
    display.ShowNow();
    SetForegroundWindow(hwnd_);
    ReleaseEscapeKey();
    if (outcome == designer::TBuildOutcome::CaptureFailed)
        ShowBox(Wide(package::kCaptureFailedMessage), Wide(package::kCaptureFailedCaption).c_str(),
                MB_ICONERROR | MB_OK);
}

}  // namespace app
