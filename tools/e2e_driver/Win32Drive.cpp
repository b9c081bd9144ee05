#include "Win32Drive.h"

#include <cstring>
#include <exception>

#include "FileBytes.h"

namespace text {

std::wstring FromUtf8(const std::string& s) { return FromCodePage(s, CP_UTF8); }

std::wstring FromCodePage(const std::string& s, UINT codePage) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(codePage, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(n, L'\0');
    MultiByteToWideChar(codePage, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
    return out;
}

std::string ToCodePage(const std::wstring& s, UINT codePage) {
    if (s.empty()) return {};
    int n = WideCharToMultiByte(codePage, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(codePage, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::string ToUtf8(const std::wstring& s) { return ToCodePage(s, CP_UTF8); }

}  // namespace text

namespace wait {

bool Until(const std::function<bool()>& cond, DWORD timeoutMs, DWORD pollMs) {
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (cond()) return true;
        if (GetTickCount64() >= deadline) return false;
        Sleep(pollMs);
    }
}

}  // namespace wait

namespace proc {

namespace {

// Quotes one argument by the rules CommandLineToArgvW undoes.
std::wstring QuoteArg(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

}  // namespace

TProcess::TProcess(TProcess&& other) noexcept : info_(other.info_), error_(std::move(other.error_)) {
    other.info_ = {};
}

TProcess& TProcess::operator=(TProcess&& other) noexcept {
    if (this != &other) {
        this->~TProcess();
        info_ = other.info_;
        error_ = std::move(other.error_);
        other.info_ = {};
    }
    return *this;
}

TProcess::~TProcess() {
    if (Running()) Terminate();
    if (info_.hThread) CloseHandle(info_.hThread);
    if (info_.hProcess) CloseHandle(info_.hProcess);
}

bool TProcess::Start(const std::wstring& exe, const std::vector<std::wstring>& args) {
    std::wstring path = DosPath(exe);
    std::wstring cmd = QuoteArg(path);
    for (const auto& a : args) cmd += L" " + QuoteArg(a);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    if (!CreateProcessW(path.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &info_)) {
        error_ = L"CreateProcess failed for " + path + L", error " + std::to_wstring(GetLastError());
        info_ = {};
        return false;
    }
    // A GUI program is ready for input once its first message loop idles.
    WaitForInputIdle(info_.hProcess, 10000);
    return true;
}

bool TProcess::StartConsole(const std::wstring& exe, const std::vector<std::wstring>& args, const std::wstring& out,
                            const std::wstring& err) {
    std::wstring path = DosPath(exe);
    std::wstring cmd = QuoteArg(path);
    for (const auto& a : args) cmd += L" " + QuoteArg(a);
    // Console events go only to programs on the sender's console. Without a
    // console window of its own (as under a test runner) this program makes
    // one for the program to share, keeping its own output where it was.
    if (!GetConsoleWindow()) {
        const HANDLE in = GetStdHandle(STD_INPUT_HANDLE), out = GetStdHandle(STD_OUTPUT_HANDLE),
                     err = GetStdHandle(STD_ERROR_HANDLE);
        FreeConsole();
        AllocConsole();
        SetStdHandle(STD_INPUT_HANDLE, in);
        SetStdHandle(STD_OUTPUT_HANDLE, out);
        SetStdHandle(STD_ERROR_HANDLE, err);
    }
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE outFile = CreateFileW(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    HANDLE errFile = CreateFileW(err.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = outFile;
    si.hStdError = errFile;
    const bool started = outFile != INVALID_HANDLE_VALUE && errFile != INVALID_HANDLE_VALUE &&
                         CreateProcessW(path.c_str(), cmd.data(), nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP,
                                        nullptr, nullptr, &si, &info_);
    if (!started) {
        error_ = L"CreateProcess failed for " + path + L", error " + std::to_wstring(GetLastError());
        info_ = {};
    }
    if (outFile != INVALID_HANDLE_VALUE) CloseHandle(outFile);
    if (errFile != INVALID_HANDLE_VALUE) CloseHandle(errFile);
    return started;
}

bool TProcess::Interrupt() const {
    if (!info_.dwProcessId) return false;
    // Windows sends Ctrl+Break to a process group; Wine implements only
    // Ctrl+C, which it delivers to the group as well.
    return GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, info_.dwProcessId) ||
           GenerateConsoleCtrlEvent(CTRL_C_EVENT, info_.dwProcessId);
}

bool TProcess::Running() const { return info_.hProcess && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT; }

std::optional<DWORD> TProcess::WaitExit(DWORD timeoutMs) {
    if (!info_.hProcess || WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    return code;
}

void TProcess::Terminate() {
    if (!info_.hProcess) return;
    TerminateProcess(info_.hProcess, 1);
    WaitForSingleObject(info_.hProcess, 5000);
}

std::wstring DosPath(const std::wstring& path) {
    if (path.empty() || path[0] != L'/') return path;
    std::wstring out = L"Z:" + path;
    for (wchar_t& c : out)
        if (c == L'/') c = L'\\';
    return out;
}

}  // namespace proc

namespace wnd {

std::wstring ClassName(HWND h) {
    wchar_t buf[256];
    int n = GetClassNameW(h, buf, 256);
    return std::wstring(buf, n > 0 ? n : 0);
}

std::wstring Text(HWND h) {
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &len)) return {};
    std::wstring buf(len + 1, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXT, len + 1, reinterpret_cast<LPARAM>(buf.data()), SMTO_ABORTIFHUNG, 5000,
                             &got))
        return {};
    buf.resize(got < len ? got : len);
    return buf;
}

bool SetText(HWND h, const std::wstring& text) {
    return SendMessageW(h, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())) != 0;
}

DWORD ProcessOf(HWND h) {
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    return pid;
}

namespace {

struct TSearch {
    const std::wstring* cls;
    const std::optional<std::wstring>* caption;
    DWORD pid;
    std::vector<HWND> found;
    bool firstOnly;
};

bool Matches(HWND h, const TSearch& s) {
    if (ClassName(h) != *s.cls) return false;
    if (s.pid && ProcessOf(h) != s.pid) return false;
    if (s.caption->has_value()) {
        wchar_t buf[512];
        int n = GetWindowTextW(h, buf, 512);
        if (std::wstring(buf, n > 0 ? n : 0) != **s.caption) return false;
    }
    return true;
}

BOOL CALLBACK Collect(HWND h, LPARAM lp) {
    auto* s = reinterpret_cast<TSearch*>(lp);
    if (Matches(h, *s)) {
        s->found.push_back(h);
        if (s->firstOnly) return FALSE;
    }
    return TRUE;
}

}  // namespace

std::vector<HWND> TopLevel(const std::wstring& cls, const std::optional<std::wstring>& caption, DWORD pid) {
    TSearch s{&cls, &caption, pid, {}, false};
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

HWND Descendant(HWND parent, const std::wstring& cls, const std::optional<std::wstring>& caption) {
    TSearch s{&cls, &caption, 0, {}, true};
    EnumChildWindows(parent, Collect, reinterpret_cast<LPARAM>(&s));
    return s.found.empty() ? nullptr : s.found.front();
}

HWND ChildChain(HWND parent, const std::vector<std::string>& classes) {
    HWND h = parent;
    for (const auto& cls : classes) {
        if (!h) return nullptr;
        h = FindWindowExA(h, nullptr, cls.c_str(), nullptr);
    }
    return h;
}

HWND ChildById(HWND parent, int id) { return GetDlgItem(parent, id); }

HWND WaitTopLevel(const std::wstring& cls, const std::optional<std::wstring>& caption, DWORD pid, DWORD timeoutMs) {
    HWND found = nullptr;
    wait::Until(
        [&] {
            auto all = TopLevel(cls, caption, pid);
            found = all.empty() ? nullptr : all.front();
            return found != nullptr;
        },
        timeoutMs);
    return found;
}

POINT CaptionPoint(HWND h) {
    // The middle of the band between the window's top edge and its client
    // area: the border is thin, so the middle lies on the caption bar.
    RECT rc;
    GetWindowRect(h, &rc);
    POINT client{0, 0};
    ClientToScreen(h, &client);
    return POINT{(rc.left + rc.right) / 2, (rc.top + client.y) / 2};
}

POINT ClientCentre(HWND h) {
    RECT rc;
    GetClientRect(h, &rc);
    POINT pt{rc.right / 2, rc.bottom / 2};
    ClientToScreen(h, &pt);
    return pt;
}

LRESULT HitTest(HWND h, POINT screen) { return SendMessageW(h, WM_NCHITTEST, 0, MAKELPARAM(screen.x, screen.y)); }

bool BringToFront(HWND h) { return SetForegroundWindow(h) != FALSE; }

bool MakeForeground(HWND h, DWORD timeoutMs) {
    HWND root = GetAncestor(h, GA_ROOT);
    return wait::Until(
        [&] {
            SetForegroundWindow(h);
            return GetForegroundWindow() == root;
        },
        timeoutMs, 50);
}

void Close(HWND h) { PostMessageW(h, WM_CLOSE, 0, 0); }

}  // namespace wnd

namespace keys {

void Down(BYTE vk) { keybd_event(vk, 0, 0, 0); }
void Up(BYTE vk) { keybd_event(vk, 0, KEYEVENTF_KEYUP, 0); }

void Press(BYTE vk) {
    Down(vk);
    Up(vk);
}

void Chord(std::initializer_list<BYTE> vks) {
    for (BYTE vk : vks) Down(vk);
    for (auto it = std::rbegin(vks); it != std::rend(vks); ++it) Up(*it);
}

}  // namespace keys

namespace mouse {

bool MoveTo(POINT screen) {
    if (!SetCursorPos(screen.x, screen.y)) return false;
    // Wine moves the X pointer asynchronously: under load GetCursorPos (and
    // so whatever reads the pointer next) can still see the old place for a
    // while. Return once the system reports the new one.
    return wait::Until(
        [&] {
            POINT now{};
            return GetCursorPos(&now) && now.x == screen.x && now.y == screen.y;
        },
        2000, 1);
}

void ClickAt(POINT screen) {
    MoveTo(screen);
    // Each button event carries the position itself: under load Wine may
    // still hold the pointer's previous place when a bare button event comes.
    const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    const DWORD x = static_cast<DWORD>((screen.x * 65535 + w / 2) / (w > 1 ? w - 1 : 1));
    const DWORD y = static_cast<DWORD>((screen.y * 65535 + h / 2) / (h > 1 ? h - 1 : 1));
    mouse_event(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_LEFTDOWN, x, y, 0, 0);
    mouse_event(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_LEFTUP, x, y, 0, 0);
}

}  // namespace mouse

namespace ctl {

void PressButton(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

void ClickControl(HWND control, std::optional<POINT> at) {
    RECT rc;
    GetClientRect(control, &rc);
    POINT pt = at.value_or(POINT{rc.right / 2, rc.bottom / 2});
    LPARAM lp = MAKELPARAM(pt.x, pt.y);
    PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, lp);
    PostMessageW(control, WM_LBUTTONUP, 0, lp);
}

}  // namespace ctl

namespace clip {

namespace {

// Closes the clipboard on every path out of a read.
struct TClipboardGuard {
    bool open;
    ~TClipboardGuard() {
        if (open) CloseClipboard();
    }
};

}  // namespace

UINT FormatId(const std::string& name) {
    if (name == "CF_TEXT") return CF_TEXT;
    if (name == "CF_UNICODETEXT") return CF_UNICODETEXT;
    return RegisterClipboardFormatA(name.c_str());
}

bool Open() {
    return wait::Until([] { return OpenClipboard(nullptr) != FALSE; }, 2000, 5);
}

bool Empty() {
    TClipboardGuard guard{Open()};
    return guard.open && EmptyClipboard();
}

bool Has(UINT format) { return IsClipboardFormatAvailable(format) != FALSE; }

bool PutText(const std::wstring& value) {
    TClipboardGuard guard{Open()};
    if (!guard.open || !EmptyClipboard()) return false;
    size_t bytes = (value.size() + 1) * sizeof(wchar_t);
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (!mem) return false;
    memcpy(GlobalLock(mem), value.c_str(), bytes);
    GlobalUnlock(mem);
    if (SetClipboardData(CF_UNICODETEXT, mem)) return true;
    GlobalFree(mem);
    return false;
}

std::optional<std::string> Read(UINT format) {
    TClipboardGuard guard{Open()};
    if (!guard.open) return std::nullopt;
    HANDLE h = GetClipboardData(format);
    if (!h) return std::nullopt;
    const char* p = static_cast<const char*>(GlobalLock(h));
    if (!p) return std::nullopt;
    std::string bytes(p, GlobalSize(h));
    GlobalUnlock(h);
    return bytes;
}

std::vector<UINT> Formats() {
    std::vector<UINT> out;
    TClipboardGuard guard{Open()};
    if (!guard.open) return out;
    for (UINT f = EnumClipboardFormats(0); f; f = EnumClipboardFormats(f)) out.push_back(f);
    return out;
}

}  // namespace clip

namespace msgbox {

std::vector<HWND> Find(DWORD pid) {
    std::vector<HWND> out;
    for (HWND h : wnd::TopLevel(L"#32770", std::nullopt, pid))
        if (IsWindowVisible(h)) out.push_back(h);
    return out;
}

HWND WaitFor(DWORD pid, DWORD timeoutMs) {
    HWND box = nullptr;
    wait::Until(
        [&] {
            auto all = Find(pid);
            box = all.empty() ? nullptr : all.front();
            return box != nullptr;
        },
        timeoutMs);
    return box;
}

namespace {

BOOL CALLBACK CollectStaticText(HWND h, LPARAM lp) {
    auto* out = reinterpret_cast<std::wstring*>(lp);
    if (_wcsicmp(wnd::ClassName(h).c_str(), L"Static") != 0) return TRUE;
    std::wstring t = wnd::Text(h);
    if (t.empty()) return TRUE;
    if (!out->empty()) *out += L"\n";
    *out += t;
    return TRUE;
}

}  // namespace

std::wstring Text(HWND box) {
    std::wstring out;
    EnumChildWindows(box, CollectStaticText, reinterpret_cast<LPARAM>(&out));
    return out;
}

bool PressOk(HWND box) {
    HWND ok = GetDlgItem(box, IDOK);
    if (!ok) ok = FindWindowExW(box, nullptr, L"Button", nullptr);
    if (!ok) return false;
    ctl::PressButton(ok);
    return true;
}

}  // namespace msgbox

namespace screen {

bool Request(const std::wstring& target, DWORD timeoutMs) {
    wchar_t buf[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"WINRUN_SCREENSHOT_REQUEST", buf, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    std::wstring request = proc::DosPath(std::wstring(buf, n));
    try {
        file::Write(request, text::ToUtf8(target) + "\n");
    } catch (const std::exception&) {
        return false;
    }
    // The runner deletes the request once the picture is written.
    return wait::Until([&] { return GetFileAttributesW(request.c_str()) == INVALID_FILE_ATTRIBUTES; }, timeoutMs, 50);
}

}  // namespace screen
