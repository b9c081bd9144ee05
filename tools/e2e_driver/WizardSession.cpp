#include "WizardSession.h"

TWizardSession::TWizardSession(const std::wstring& wizardExe)
    : describe_(RegisterWindowMessageW(L"Wizard1C.DescribeControl")) {
    if (!process_.Start(wizardExe, {})) {
        error_ = process_.error();
        return;
    }
    form_ = wnd::WaitTopLevel(L"TMainForm", std::nullopt, process_.Id(), 15000);
    if (!form_) {
        error_ = L"no TMainForm window appeared";
        return;
    }
    // The form is ready once it is shown.
    wait::Until([this] { return IsWindowVisible(form_) != FALSE; }, 5000);
}

TWizardSession::~TWizardSession() {
    if (process_.Running()) {
        Close(3000);
        if (process_.Running()) process_.Terminate();
    }
}

HWND TWizardSession::Control(int id) const {
    if (HWND h = GetDlgItem(form_, id)) return h;
    return GetDlgItem(GetDlgItem(form_, wiz::GroupPreparation), id);
}

RECT TWizardSession::OuterRect() const {
    RECT r{};
    GetWindowRect(form_, &r);
    return r;
}

int TWizardSession::OuterHeight() const {
    const RECT r = OuterRect();
    return r.bottom - r.top;
}

LRESULT TWizardSession::Describe(HWND control, wiz::TDescribe what) const {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(form_, describe_, reinterpret_cast<WPARAM>(control), what, SMTO_ABORTIFHUNG, 5000,
                             &result))
        return 0;
    return static_cast<LRESULT>(result);
}

std::wstring TWizardSession::FontFace(HWND control) const {
    const ATOM atom = static_cast<ATOM>(Describe(control, wiz::FontFace));
    if (!atom) return L"";
    wchar_t name[LF_FACESIZE + 1] = {};
    const UINT n = GlobalGetAtomNameW(atom, name, LF_FACESIZE + 1);
    GlobalDeleteAtom(atom);
    return std::wstring(name, n);
}

bool TWizardSession::StartCapture(DWORD timeoutMs) const {
    ctl::ClickControl(Control(wiz::Grab1CWnd));
    return wait::Until([this] { return !Visible(); }, timeoutMs);
}

bool TWizardSession::PointAndWait(POINT at, DWORD timeoutMs) const {
    mouse::MoveTo(at);
    return wait::Until([this] { return Visible(); }, timeoutMs, 20);
}

std::vector<std::wstring> TWizardSession::LogLines() const {
    std::vector<std::wstring> lines;
    const std::wstring all = Text(wiz::res);
    size_t pos = 0;
    for (size_t end; (end = all.find(L"\r\n", pos)) != std::wstring::npos; pos = end + 2)
        lines.push_back(all.substr(pos, end - pos));
    if (pos < all.size()) lines.push_back(all.substr(pos));
    return lines;
}

std::optional<DWORD> TWizardSession::Close(DWORD timeoutMs) {
    if (form_) wnd::Close(form_);
    return process_.WaitExit(timeoutMs);
}

std::wstring DefaultWizardExe() {
    std::wstring dir = proc::ExeDirectory();
    for (const wchar_t* rel : {L"\\wizard.exe", L"\\..\\..\\app\\wizard.exe"}) {
        std::wstring p = dir + rel;
        if (GetFileAttributesW(p.c_str()) != INVALID_FILE_ATTRIBUTES) return p;
    }
    return dir + L"\\wizard.exe";
}
