// The Designer simulator's windows and state: the frame, the workspace and
// its local frames (the configuration and search windows), the tree grid,
// the decoys, the keys it takes as commands and the clipboard copy it
// renders. One object behind every window; its members are defined by area
// in SimFrames.cpp, SimGrid.cpp, SimKeys.cpp and SimClipboard.cpp.
#pragma once

#include <windows.h>

#include <fstream>
#include <set>
#include <string>

#include "SimStats.h"
#include "SimTree.h"

inline constexpr wchar_t kFrameClass[] = L"V8TopLevelFrame";
inline constexpr wchar_t kWorkspaceClass[] = L"V8MDIClient";
inline constexpr wchar_t kLocalFrameClass[] = L"V8NewLocalFrameBaseWnd";
inline constexpr wchar_t kTabsClass[] = L"V8LayouterTabsWindow";
inline constexpr wchar_t kFormElementClass[] = L"V8FormElement";
inline constexpr wchar_t kGridClass[] = L"V8Grid";
inline constexpr wchar_t kConfigurationCaption[] = L"Конфигурация";
inline constexpr wchar_t kSearchCaption[] = L"Поиск объектов метаданных";
// Windows that a careless client takes for the real ones (--decoys): a local
// frame whose caption begins like the configuration window's, a top-level
// local frame of another caption, and children of other classes.
inline constexpr wchar_t kDecoyConfigurationCaption[] = L"Конфигурация базы данных";
inline constexpr wchar_t kMessagesCaption[] = L"Сообщения";
inline constexpr wchar_t kCommandBarClass[] = L"V8CommandBar";
inline constexpr wchar_t kTabHeaderClass[] = L"V8TabHeader";
inline constexpr wchar_t kToolbarClass[] = L"V8Toolbar";
// The caption of the frame that stops answering (--hung-frame).
inline constexpr wchar_t kHungFrameCaption[] = L"Конфигуратор - не отвечает";

// Timer of the grid: the end of the held-open render. (The delayed render
// runs on a waitable timer: a window timer never fires sooner than 10 ms.)
inline constexpr UINT_PTR kHoldTimer = 2;
// Timers of the frame: delayed reactions to the capture keys.
inline constexpr UINT_PTR kConfigurationTimer = 3;
inline constexpr UINT_PTR kCtrlFTimer = 4;
inline constexpr UINT_PTR kMenuTimer = 5;
// How many formats the held-open render puts on the clipboard before holding.
inline constexpr size_t kFormatsBeforeHold = 3;
inline constexpr int kRowHeight = 18;
inline constexpr int kTopMargin = 2;

enum class TSearchMode { Any, SecondTry, Never };

struct TSimOptions {
    std::wstring ConfigFile;
    std::wstring LogFile;
    std::wstring Caption = L"Конфигуратор - Демонстрационная конфигурация";
    UINT LatencyMs = 0;
    bool KeepStale = false;  // with a latency: the old contents stay until the render
    std::wstring DropFormat;
    std::wstring DropNode;
    TSearchMode Search = TSearchMode::Any;
    bool ConfigurationWindow = true;
    bool ConfigurationTopLevel = false;  // a top-level window, not below the frame
    bool Decoys = false;
    UINT ConfigurationDelayMs = 0;  // from Ctrl+Shift+C to the configuration window
    UINT CtrlFDelayMs = 0;          // from Ctrl+F to the search window
    UINT MenuDelayMs = 0;           // from the menu's Enter to the search window
    UINT HoldOpenMs = 0;            // the render keeps the clipboard open this long halfway
    bool HungFrame = false;         // another frame of the class whose thread stops taking messages
    bool UserMode = false;          // a 1C:Enterprise user window: no configuration window, a menu command
    bool SearchKeepsFocus = false;  // the open search window keeps the focus and copies what it found
    bool KeyTimes = false;          // key lines carry the input's time stamp
    bool Stats = false;             // time its own handling; "stats" lines when the frame closes
    UINT HangAfter = 0;             // >0: the tree stops answering after this many messages sent to it
    bool RenderOnRequest = false;   // the copy announces its formats and renders each when it is asked for
};

// How long the tree stops answering with --hang-after: longer than any test
// waits for it.
inline constexpr DWORD kHangMs = 120000;

// Modifier sets of the chords, as bits.
enum : int { kCtrl = 1, kShift = 2, kAlt = 4 };

std::wstring Widen(const std::u16string& s);
std::u16string Narrow16(const std::wstring& s);
// The window class of `hwnd`, as the log names a decoy.
std::wstring ClassOf(HWND hwnd);
// Names the virtual keys the log mentions; others are written in hex.
std::wstring KeyName(WPARAM vk);

class TSimulator {
public:
    TSimulator(TSimOptions options, TSimTree tree) : options_(std::move(options)), tree_(std::move(tree)) {
        stats_.Enabled = options_.Stats;
    }
    ~TSimulator() {
        if (renderTimer_) CloseHandle(renderTimer_);
    }

    // Opens the --log file (none: nothing is logged); false when it cannot
    // be created.
    bool OpenLog();
    // One line per event, flushed at once so a test can poll the file.
    void Log(const std::wstring& line);

    bool RegisterClasses(HINSTANCE instance);
    bool CreateFrame(HINSTANCE instance, int show);
    int Run();

private:
    static LRESULT CALLBACK StaticProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT FrameProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT WorkspaceProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT LocalFrameProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT FillerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT GridProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT DecoyProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

    bool HandleKey(const MSG& msg);
    bool HandleKeyDown(WPARAM vk, LPARAM lp);
    void RefuseChord(WPARAM vk, int held, int chord, bool repeat);
    bool MenuKey(WPARAM vk, int step);
    bool Command(WPARAM vk, int chord);
    void CtrlShiftC(int chord);
    void AltJ();
    void CtrlF();
    void CtrlF10();
    void CtrlInsert();
    void Esc();
    void ShowHelp();
    void RequestConfiguration();
    void OpenConfiguration();
    void RequestSearch(const wchar_t* how, UINT delayMs, UINT_PTR timer);
    void StartDelay(UINT_PTR timer, const std::wstring& what, UINT delayMs);
    void OpenSearch(const wchar_t* how);
    void CloseSearch();
    void StartCopy(const std::u16string& path);
    void StartRenderTimer();
    void RenderClipboard();
    void FinishRender();
    void PutFormat(const std::string& name);
    void RenderRequested(UINT id);
    void HangIfDue(UINT msg);
    HWND Window(const wchar_t* cls, const wchar_t* caption, DWORD style, HWND parent, bool decoy, int x = 0, int y = 0,
                int w = 0, int h = 0, DWORD exStyle = 0);
    void CreateDecoys();
    bool CreateHungFrame();
    void FillWithRealChildren(HWND hwnd, int width, int height);
    void PaintGrid(HWND hwnd);
    void InvalidateChanges(HWND grid, const TSimTree::TView& before);
    void PaintHint(HWND hwnd, const wchar_t* text);
    bool InConfiguration(HWND focus) const {
        return configuration_ && focus && (focus == configuration_ || IsChild(configuration_, focus));
    }

    TSimOptions options_;
    TSimTree tree_;
    std::ofstream log_;
    HINSTANCE instance_ = nullptr;
    HWND frame_ = nullptr;
    HWND workspace_ = nullptr;
    HWND configuration_ = nullptr;
    HWND grid_ = nullptr;
    HWND search_ = nullptr;
    HWND searchEdit_ = nullptr;
    int menuStep_ = 0;        // 1 after Ctrl+F10, +1 per Right; Enter at 3 runs the search command
    bool afterAltJ_ = false;  // the C that follows Alt+J belongs to it
    std::u16string pendingCopy_;
    std::u16string searchFound_;  // the tree's selection when the search window opened
    bool holding_ = false;        // the render holds the clipboard open (--hold-open)
    int rendered_ = 0;            // formats put on the clipboard by the render under way
    std::set<HWND> decoys_;
    std::set<UINT_PTR> pendingTimers_;  // delayed windows not yet opened
    TSimStats stats_;
    LONGLONG copyStart_ = 0;  // when the copy under way was asked for (--stats)
    // The delayed render's timer (a synchronisation timer: a wait resets it).
    HANDLE renderTimer_ = CreateWaitableTimerW(nullptr, FALSE, nullptr);
    bool renderPending_ = false;
    UINT treeMessages_ = 0;  // messages sent to the tree, for --hang-after
};
