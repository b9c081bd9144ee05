#include "ClientCapture.h"

#include <cwchar>

namespace client {

namespace {

const wchar_t kLocalFrameClass[] = L"V8NewLocalFrameBaseWnd";
const wchar_t kConfigurationCaption[] = L"Конфигурация";
const wchar_t kSearchCaption[] = L"Поиск объектов метаданных";

void KeyDown(BYTE vk) { keybd_event(vk, 0, 0, 0); }
void KeyUp(BYTE vk) { keybd_event(vk, 0, KEYEVENTF_KEYUP, 0); }

// Ctrl+key: Ctrl down, key down, key up, Ctrl up.
void CtrlChord(BYTE vk) {
    KeyDown(VK_CONTROL);
    KeyDown(vk);
    KeyUp(vk);
    KeyUp(VK_CONTROL);
}

void Press(BYTE vk) {
    KeyDown(vk);
    KeyUp(vk);
}

// Class and caption, each read into a buffer of 255 characters and compared
// exactly with the wanted ones.
bool IsLocalFrame(HWND h, const wchar_t* caption) {
    wchar_t cls[255] = {};
    wchar_t text[255] = {};
    GetClassNameW(h, cls, 255);
    GetWindowTextW(h, text, 255);
    return wcscmp(cls, kLocalFrameClass) == 0 && wcscmp(text, caption) == 0;
}

// The enumeration callbacks: the first matching window wins.
BOOL CALLBACK FindConfiguration(HWND h, LPARAM lp) {
    HWND& found = *reinterpret_cast<HWND*>(lp);
    if (!found && IsLocalFrame(h, kConfigurationCaption)) found = h;
    return found ? FALSE : TRUE;
}

BOOL CALLBACK FindSearch(HWND h, LPARAM lp) {
    HWND& found = *reinterpret_cast<HWND*>(lp);
    if (!found && IsLocalFrame(h, kSearchCaption)) found = h;
    return found ? FALSE : TRUE;
}

void LookForConfiguration(TDesignerWindows& w) {
    if (!w.ConfigurationWindow)
        EnumChildWindows(w.MainFrame, FindConfiguration, reinterpret_cast<LPARAM>(&w.ConfigurationWindow));
}

void LookForSearch(TDesignerWindows& w) {
    if (!w.SearchWindow) EnumWindows(FindSearch, reinterpret_cast<LPARAM>(&w.SearchWindow));
}

}  // namespace

void CaptureWindows(TDesignerWindows& windows) {
    KeyDown(VK_MENU);
    KeyDown('J');
    KeyUp('J');
    KeyUp(VK_MENU);
    Press('C');
    Press(VK_ESCAPE);
    Sleep(kAfterCaptureKeysMs);
    FindWindows(windows);
}

void FindWindows(TDesignerWindows& w) {
    w.SearchWindow = nullptr;
    SetForegroundWindow(w.MainFrame);
    LookForConfiguration(w);
    KeyDown(VK_CONTROL);
    KeyDown(VK_SHIFT);
    KeyDown('C');
    KeyUp('C');
    KeyUp(VK_SHIFT);
    KeyUp(VK_CONTROL);
    Sleep(kAfterOpenConfigurationMs);
    for (int attempt = 0; attempt < kSearchAttempts && !w.SearchWindow; ++attempt) {
        LookForConfiguration(w);
        SetForegroundWindow(w.ConfigurationWindow);
        CtrlChord('F');
        Sleep(kAfterCtrlFMs);
        LookForSearch(w);
        if (!w.SearchWindow) {
            SetForegroundWindow(w.MainFrame);
            CtrlChord(VK_F10);
            Press(VK_RIGHT);
            Press(VK_RIGHT);
            Press(VK_RETURN);
            Sleep(kAfterMenuSearchMs);
        }
        LookForSearch(w);
    }
    if (!w.SearchWindow) return;
    CtrlChord(VK_INSERT);
    Sleep(kAfterProbeCopyMs);
    Press(VK_ESCAPE);
    if (w.ConfigurationWindow) w.TreeGrid = FindTreeGrid(w.ConfigurationWindow);
}

HWND FindTreeGrid(HWND configuration) {
    HWND tabs = FindWindowExA(configuration, nullptr, "V8LayouterTabsWindow", nullptr);
    HWND element = tabs ? FindWindowExA(tabs, nullptr, "V8FormElement", nullptr) : nullptr;
    return element ? FindWindowExA(element, nullptr, "V8Grid", nullptr) : nullptr;
}

}  // namespace client
