// The Designer window capture as a client performs it: the keys sent after
// a hit on the main frame, the search for the configuration window, the
// search window and the tree, and the waits between them. The scenarios run
// it against the simulator as the reference client; a capture of the wizard's
// own can be run in its place (TScenarioContext::CaptureWindows).
#pragma once

#include <windows.h>

namespace client {

// The handles a capture finds; zero when not found. ConfigurationWindow,
// once found, is kept by later captures; SearchWindow is looked for afresh.
struct TDesignerWindows {
    HWND MainFrame = nullptr;
    HWND ConfigurationWindow = nullptr;
    HWND SearchWindow = nullptr;
    HWND TreeGrid = nullptr;
};

// The waits, in milliseconds.
inline constexpr DWORD kAfterCaptureKeysMs = 1000;        // after Alt+J, C, Esc
inline constexpr DWORD kAfterOpenConfigurationMs = 1000;  // after Ctrl+Shift+C
inline constexpr DWORD kAfterCtrlFMs = 100;               // after Ctrl+F
inline constexpr DWORD kAfterMenuSearchMs = 5000;         // after Ctrl+F10, Right, Right, Enter
inline constexpr DWORD kAfterProbeCopyMs = 100;           // after Ctrl+Insert in the search window
inline constexpr int kSearchAttempts = 5;

// What a hit on windows.MainFrame sets off: Alt+J, C, Esc, the wait, then
// FindWindows.
void CaptureWindows(TDesignerWindows& windows);

// Finds ConfigurationWindow (a descendant of MainFrame, class and caption
// compared exactly), opens and finds SearchWindow (top-level) in up to five
// attempts, and sets TreeGrid from the configuration window's chain of
// children. Without a search window it returns at once and TreeGrid keeps
// its value.
void FindWindows(TDesignerWindows& windows);

// The tree below a configuration window: the first V8Grid child of the first
// V8FormElement child of its first V8LayouterTabsWindow child; zero when a
// link is missing.
HWND FindTreeGrid(HWND configuration);

}  // namespace client
