#include "SimSession.h"

#include "FileBytes.h"

namespace {

const wchar_t kFrameClass[] = L"V8TopLevelFrame";
const wchar_t kLocalFrameClass[] = L"V8NewLocalFrameBaseWnd";

}  // namespace

std::vector<std::wstring> TSimLog::Lines() const {
    std::vector<std::wstring> lines;
    const std::string all = file::Read(path_).value_or(std::string());
    size_t pos = 0;
    // Only complete lines count: the simulator may be writing the last one.
    for (size_t nl; (nl = all.find('\n', pos)) != std::string::npos; pos = nl + 1)
        lines.push_back(text::FromUtf8(all.substr(pos, nl - pos)));
    return lines;
}

std::vector<std::wstring> TSimLog::From(size_t from) const {
    auto lines = Lines();
    return from < lines.size() ? std::vector<std::wstring>(lines.begin() + from, lines.end())
                               : std::vector<std::wstring>{};
}

bool TSimLog::WaitFor(const std::wstring& line, size_t from, DWORD timeoutMs) const {
    return wait::Until(
        [&] {
            for (const auto& l : From(from))
                if (l == line) return true;
            return false;
        },
        timeoutMs, 20);
}

std::wstring TSimLog::WaitForPrefix(const std::wstring& prefix, size_t from, DWORD timeoutMs) const {
    std::wstring found;
    wait::Until(
        [&] {
            for (const auto& l : From(from))
                if (l.compare(0, prefix.size(), prefix) == 0) {
                    found = l;
                    return true;
                }
            return false;
        },
        timeoutMs, 20);
    return found;
}

TSimSession::TSimSession(const std::wstring& simExe, const std::wstring& tag, const std::vector<std::wstring>& switches)
    : log_(L"e2e_" + tag + L".sim.log") {
    DeleteFileW(log_.Path().c_str());
    std::vector<std::wstring> args = {L"--log", log_.Path()};
    args.insert(args.end(), switches.begin(), switches.end());
    if (!process_.Start(simExe, args)) {
        error_ = process_.error();
        return;
    }
    frame_ = wnd::WaitTopLevel(kFrameClass, std::nullopt, process_.Id(), 10000);
    if (!frame_) {
        error_ = L"no V8TopLevelFrame window appeared";
        return;
    }
    // The log's first line is written once the windows exist.
    if (log_.WaitForPrefix(L"start ", 0, 5000).empty()) error_ = L"the simulator wrote no start line";
}

TSimSession::~TSimSession() {
    if (process_.Running()) Close();
}

std::optional<DWORD> TSimSession::Close() {
    if (frame_ && IsWindow(frame_)) wnd::Close(frame_);
    auto code = process_.WaitExit(5000);
    if (!code) process_.Terminate();
    return code;
}

HWND TSimSession::OpenConfiguration(DWORD timeoutMs) {
    // Keys go to the foreground window; right after start-up that may still
    // be the desktop.
    wnd::MakeForeground(frame_, timeoutMs);
    size_t mark = log_.Count();
    keys::Chord({VK_CONTROL, VK_SHIFT, 'C'});
    HWND found = nullptr;
    wait::Until(
        [&] {
            found = wnd::Descendant(frame_, kLocalFrameClass, std::wstring(L"Конфигурация"));
            return found != nullptr;
        },
        timeoutMs);
    // Let the key-ups arrive too, so the caller's next log mark starts clean.
    log_.WaitFor(L"key up CONTROL", mark, timeoutMs);
    return found;
}

HWND TSimSession::Tree(HWND configuration) const {
    return wnd::ChildChain(configuration, {"V8LayouterTabsWindow", "V8FormElement", "V8Grid"});
}

void TSimSession::TypePath(HWND tree, const std::wstring& path) const {
    for (int i = 0; i < 10; ++i) SendMessageA(tree, WM_KEYDOWN, VK_LEFT, 0);
    SendMessageA(tree, WM_KEYDOWN, VK_RIGHT, 0);
    for (unsigned char c : text::ToCodePage(path, 1251)) {
        if (c == '.') SendMessageA(tree, WM_KEYDOWN, VK_RIGHT, 0);
        else SendMessageA(tree, WM_CHAR, c, 0);
    }
}

std::wstring DefaultSimExe() {
    std::wstring dir = proc::ExeDirectory();
    for (const wchar_t* rel : {L"\\designer_sim.exe", L"\\..\\designer_sim\\designer_sim.exe",
                               L"\\..\\..\\tools\\designer_sim\\designer_sim.exe"}) {
        std::wstring p = dir + rel;
        if (GetFileAttributesW(p.c_str()) != INVALID_FILE_ATTRIBUTES) return p;
    }
    return dir + L"\\designer_sim.exe";
}
