#pragma once
// What the wizard relies on in the 1C:Enterprise 8.2 Designer: its window
// classes and captions, the messages and keys sent to it, and the clipboard
// formats it leaves after copying a metadata object. Windows-1251 texts; the
// numeric codes are those of the Win32 headers, spelled out so the portable
// code needs no windows.h.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "text/Literal.h"

namespace designer {

// Window classes and captions, compared exactly.
inline constexpr std::string_view kMainFrameClass = "V8TopLevelFrame";
inline constexpr std::string_view kLocalFrameClass = "V8NewLocalFrameBaseWnd";
inline constexpr std::string_view kConfigurationCaption = text::Cp1251<"Конфигурация">;
inline constexpr std::string_view kSearchCaption = text::Cp1251<"Поиск объектов метаданных">;
// The tree: first V8Grid in the first V8FormElement in the first
// V8LayouterTabsWindow of the configuration window.
inline constexpr std::string_view kTabsWindowClass = "V8LayouterTabsWindow";
inline constexpr std::string_view kFormElementClass = "V8FormElement";
inline constexpr std::string_view kGridClass = "V8Grid";

// Window messages and hit-test codes.
inline constexpr std::uint32_t kWmKeyDown = 256;  // WM_KEYDOWN
inline constexpr std::uint32_t kWmChar = 258;     // WM_CHAR
inline constexpr std::uint32_t kHtCaption = 2;    // HTCAPTION

// Virtual keys.
inline constexpr std::uint8_t kVkReturn = 13;
inline constexpr std::uint8_t kVkShift = 16;
inline constexpr std::uint8_t kVkControl = 17;
inline constexpr std::uint8_t kVkMenu = 18;  // Alt
inline constexpr std::uint8_t kVkEscape = 27;
inline constexpr std::uint8_t kVkLeft = 37;
inline constexpr std::uint8_t kVkRight = 39;
inline constexpr std::uint8_t kVkInsert = 45;
inline constexpr std::uint8_t kVkF10 = 121;
inline constexpr std::uint8_t kVkC = 'C';
inline constexpr std::uint8_t kVkF = 'F';
inline constexpr std::uint8_t kVkJ = 'J';
inline constexpr std::uint32_t kKeyEventKeyUp = 2;  // KEYEVENTF_KEYUP

// Class names and captions are read into buffers of this many characters,
// the terminating zero included.
inline constexpr std::size_t kWindowTextBuffer = 255;

// The capture's waits, in milliseconds, and its tries at the search window.
inline constexpr std::uint32_t kAfterCaptureKeysWaitMs = 1000;   // after Alt+J, C, Esc
inline constexpr std::uint32_t kOpenConfigurationWaitMs = 1000;  // after Ctrl+Shift+C
inline constexpr std::uint32_t kOpenSearchWaitMs = 100;          // after Ctrl+F
inline constexpr std::uint32_t kSearchMenuWaitMs = 5000;         // after Ctrl+F10, Right, Right, Enter
inline constexpr std::uint32_t kProbeSearchWaitMs = 100;         // between Ctrl+Insert and Esc
inline constexpr int kSearchWindowAttempts = 5;

// The Russian keyboard layout, activated before names are typed into the tree
// so that the Designer takes the WM_CHAR codes as Cyrillic letters.
inline constexpr std::string_view kRussianLayout = "00000419";

// Tree navigation: this many VK_LEFT key-downs collapse the selection up to
// the root's children from any depth the wizard goes; one VK_RIGHT then
// enters the first level under the root.
inline constexpr int kTreeToTopLeftPresses = 10;
// Inside a tree path a dot means "enter the selected node" (VK_RIGHT).
inline constexpr char kTreePathSeparator = '.';

// The identifiers of the two predefined clipboard formats (CF_TEXT,
// CF_UNICODETEXT); the Designer's own formats are registered by name.
inline constexpr std::uint32_t kCfText = 1;
inline constexpr std::uint32_t kCfUnicodeText = 13;

}  // namespace designer
