// The keys the simulator takes from the message queue: the log line of each,
// the commands with their exact chords, the menu path to the search window,
// and what a held or stuck key does instead.
#include <cwchar>
#include <string>
#include <vector>

#include "Simulator.h"

namespace {

bool IsModifier(WPARAM vk) { return vk == VK_CONTROL || vk == VK_SHIFT || vk == VK_MENU; }
bool IsDown(WPARAM vk) { return GetKeyState(static_cast<int>(vk)) < 0; }

// The modifiers down when the key being handled arrived.
int HeldModifiers() {
    return (IsDown(VK_CONTROL) ? kCtrl : 0) | (IsDown(VK_SHIFT) ? kShift : 0) | (IsDown(VK_MENU) ? kAlt : 0);
}

int BitCount(int mods) { return (mods & kCtrl ? 1 : 0) + (mods & kShift ? 1 : 0) + (mods & kAlt ? 1 : 0); }

// "Ctrl+Shift+Alt+" for the set, then the key's name.
std::wstring ChordName(int mods, WPARAM vk) {
    std::wstring out;
    if (mods & kCtrl) out += L"Ctrl+";
    if (mods & kShift) out += L"Shift+";
    if (mods & kAlt) out += L"Alt+";
    switch (vk) {
    case VK_INSERT: return out + L"Insert";
    case VK_ESCAPE: return out + L"Esc";
    case VK_RETURN: return out + L"Enter";
    case VK_RIGHT: return out + L"Right";
    }
    return out + KeyName(vk);
}

// The modifier sets under which vk is a command now: in the menu (a step
// after Ctrl+F10) only Right and Enter, bare; the C that follows Alt+J also
// bare.
std::vector<int> CommandChords(WPARAM vk, int step, bool afterAltJ) {
    if (step > 0) return vk == VK_RIGHT || vk == VK_RETURN ? std::vector<int>{0} : std::vector<int>{};
    if (vk == 'C') return afterAltJ ? std::vector<int>{kCtrl | kShift, 0} : std::vector<int>{kCtrl | kShift};
    if (vk == 'F' || vk == VK_F10 || vk == VK_INSERT) return {kCtrl};
    if (vk == 'J') return {kAlt};
    if (vk == VK_ESCAPE || vk == VK_F1) return {0};
    return {};
}

// The chord with the most modifiers, all of them held; -1 when none is.
int MatchingChord(const std::vector<int>& chords, int held) {
    int chord = -1;
    for (int c : chords)
        if ((c & held) == c && (chord < 0 || BitCount(c) > BitCount(chord))) chord = c;
    return chord;
}

}  // namespace

// Names the virtual keys the log mentions; others are written in hex.
std::wstring KeyName(WPARAM vk) {
    switch (vk) {
    case VK_CONTROL: return L"CONTROL";
    case VK_SHIFT: return L"SHIFT";
    case VK_MENU: return L"MENU";
    case VK_ESCAPE: return L"ESCAPE";
    case VK_RETURN: return L"RETURN";
    case VK_LEFT: return L"LEFT";
    case VK_RIGHT: return L"RIGHT";
    case VK_UP: return L"UP";
    case VK_DOWN: return L"DOWN";
    case VK_INSERT: return L"INSERT";
    case VK_F1: return L"F1";
    case VK_F4: return L"F4";
    case VK_F10: return L"F10";
    }
    if ((vk >= 'A' && vk <= 'Z') || (vk >= '0' && vk <= '9')) return std::wstring(1, static_cast<wchar_t>(vk));
    wchar_t buf[16];
    swprintf(buf, 16, L"0x%02X", static_cast<unsigned>(vk));
    return buf;
}

// Keyboard input from the queue is looked at here, before dispatch, because
// synthetic keys arrive at whichever window has the focus. Returns true when
// the key was consumed.
bool TSimulator::HandleKey(const MSG& msg) {
    TStatsScope timed(stats_, L"queued key input handled");
    if (stats_.Enabled)
        stats_.AddValue(L"queued key input: ms from input to handling", static_cast<LONG>(GetTickCount() - msg.time));
    bool down = msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN;
    // The message's time is set when the key enters the system, so gaps
    // between stamps are the sender's pauses, whatever the simulator's delays.
    Log(std::wstring(down ? L"key down " : L"key up ") + KeyName(msg.wParam) +
        (options_.KeyTimes ? L" t=" + std::to_wstring(msg.time) : L""));
    // Modifiers only change the key state, which GetMessage has already
    // recorded; the tree never sees them.
    bool consumed = down ? HandleKeyDown(msg.wParam, msg.lParam) : IsModifier(msg.wParam);
    // Alt and F10 would start the frame's menu mode and swallow the keys
    // that follow; Alt+F4 still closes the simulator.
    if (msg.message == WM_SYSKEYDOWN || msg.message == WM_SYSKEYUP) return msg.wParam != VK_F4 || consumed;
    return consumed;
}

// The commands, each a key with one exact set of modifiers. A command key
// that arrives with more modifiers than its chord has comes from a client
// that left a key held: each extra one is logged as "stuck" and the key does
// nothing. A key that is still down (no key-up since its key-down) repeats
// and does nothing either, so a copy without key-ups copies once.
bool TSimulator::HandleKeyDown(WPARAM vk, LPARAM lp) {
    if (IsModifier(vk)) return true;
    const int step = menuStep_;  // 0: no menu; 1 after Ctrl+F10, +1 per Right
    const bool afterAltJ = afterAltJ_;
    menuStep_ = 0;
    afterAltJ_ = false;
    const int held = HeldModifiers();
    const int chord = MatchingChord(CommandChords(vk, step, afterAltJ), held);
    if (chord < 0) {
        // Not a command: a menu in progress is left; other keys go on to the
        // window with the focus.
        if (step == 0) return false;
        Log(L"leave menu");
        return true;
    }
    const bool repeat = (lp & (1L << 30)) != 0;
    if (repeat || held != chord) {
        RefuseChord(vk, held, chord, repeat);
        if (step > 0) Log(L"leave menu");
        return true;
    }
    return step > 0 ? MenuKey(vk, step) : Command(vk, chord);
}

// A command key that repeats, or arrives with more modifiers than its chord.
void TSimulator::RefuseChord(WPARAM vk, int held, int chord, bool repeat) {
    if (repeat) {
        Log(L"repeat " + ChordName(held, vk));
        return;
    }
    const int extra = held & ~chord;
    if (extra & kCtrl) Log(L"stuck CONTROL");
    if (extra & kShift) Log(L"stuck SHIFT");
    if (extra & kAlt) Log(L"stuck MENU");
    Log(L"ignore " + ChordName(held, vk));
}

// The menu path: Ctrl+F10, Right, Right, Enter runs the search command.
bool TSimulator::MenuKey(WPARAM vk, int step) {
    if (vk == VK_RIGHT && step < 3) {
        menuStep_ = step + 1;
    } else if (vk == VK_RETURN && step == 3) {
        // In a user window the same keys reach a command of the database.
        if (options_.UserMode) Log(L"user mode: menu command run");
        else if (options_.Search == TSearchMode::Never) Log(L"ignore menu search");
        else RequestSearch(L"menu", options_.MenuDelayMs, kMenuTimer);
    } else {
        Log(L"leave menu");
    }
    return true;
}

bool TSimulator::Command(WPARAM vk, int chord) {
    switch (vk) {
    case 'C': CtrlShiftC(chord); return true;
    case 'J': AltJ(); return true;
    case VK_F1: ShowHelp(); return true;
    case 'F': CtrlF(); return true;
    case VK_F10: CtrlF10(); return true;
    case VK_INSERT: CtrlInsert(); return true;
    case VK_ESCAPE: Esc(); return true;
    }
    return false;
}

void TSimulator::CtrlShiftC(int chord) {
    if (chord == 0) Log(L"ignore C");  // the C that follows Alt+J
    else if (options_.ConfigurationWindow) RequestConfiguration();
    else Log(L"ignore Ctrl+Shift+C");
}

void TSimulator::AltJ() {
    Log(L"ignore Alt+J");
    afterAltJ_ = true;
}

// Ctrl+F opens the search window only from the configuration window.
void TSimulator::CtrlF() {
    if (options_.Search == TSearchMode::Any && InConfiguration(GetFocus()))
        RequestSearch(L"Ctrl+F", options_.CtrlFDelayMs, kCtrlFTimer);
    else Log(L"ignore Ctrl+F");
}

// Ctrl+F10 enters the frame's menu only while the frame is active.
void TSimulator::CtrlF10() {
    if (GetActiveWindow() == frame_) menuStep_ = 1;
    else Log(L"ignore Ctrl+F10");
}

// Ctrl+Insert copies the tree's node when the tree has the keyboard; with
// --search-keeps-focus the search window copies the object it found, with
// every format, as the Designer's lists do.
void TSimulator::CtrlInsert() {
    HWND focus = GetFocus();
    if (grid_ && focus == grid_) StartCopy(tree_.SelectedPath());
    else if (options_.SearchKeepsFocus && search_ && (focus == search_ || IsChild(search_, focus))) {
        Log(L"search window copy");
        StartCopy(searchFound_);
    } else if (decoys_.count(focus)) Log(L"decoy " + ClassOf(focus) + L" copy");
    else Log(L"ignore Ctrl+Insert");
}

// Esc closes the search window only when it has the keyboard.
void TSimulator::Esc() {
    HWND focus = GetFocus();
    if (search_ && (focus == search_ || IsChild(search_, focus))) CloseSearch();
    else Log(L"ignore Esc");
}
