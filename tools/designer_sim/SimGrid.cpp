// The configuration window's tree (class V8Grid): the keys, characters and
// clicks it moves by, the selected path it answers WM_GETTEXT with, and its
// painting, row by row where only the selection moved.
#include <algorithm>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "Simulator.h"

// --hang-after: the tree's thread stops answering at the message after the
// given number, as a Designer does that loads a huge node, waits for a
// repository lock or has deadlocked. WM_NULL counts: a client that asks
// whether the Designer answers is answered by the same thread.
void TSimulator::HangIfDue(UINT msg) {
    if (options_.HangAfter == 0 || (msg != WM_KEYDOWN && msg != WM_CHAR && msg != WM_NULL)) return;
    if (++treeMessages_ != options_.HangAfter + 1) return;
    Log(L"hang");
    Sleep(kHangMs);
}

LRESULT TSimulator::GridProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    HangIfDue(msg);
    switch (msg) {
    case WM_RENDERFORMAT:
        RenderRequested(static_cast<UINT>(wp));
        return 0;
    case WM_RENDERALLFORMATS:
        return 0;  // the copy goes with the simulator
    case WM_KEYDOWN: {
        TStatsScope timed(stats_, L"tree WM_KEYDOWN sent");
        const TSimTree::TView before = tree_.View();
        if (wp == VK_LEFT) tree_.Left();
        else if (wp == VK_RIGHT) tree_.Right();
        else tree_.OtherKey();
        Log(L"tree keydown " + KeyName(wp) + L" -> " + Widen(tree_.SelectedPath()));
        InvalidateChanges(hwnd, before);
        return 0;
    }
    case WM_CHAR: {
        TStatsScope timed(stats_, L"tree WM_CHAR sent");
        const TSimTree::TView before = tree_.View();
        // Every character is logged; a control code is written by number
        // only and ends the typed prefix.
        wchar_t code[32];
        if (wp < 32) swprintf(code, 32, L"U+%04X (control)", static_cast<unsigned>(wp));
        else swprintf(code, 32, L"U+%04X %lc", static_cast<unsigned>(wp), static_cast<wchar_t>(wp));
        bool found = tree_.Char(static_cast<char16_t>(wp));
        Log(std::wstring(L"tree char ") + code + L" -> " + Widen(tree_.SelectedPath()) +
            (found || wp < 32 ? L"" : L" (no match)"));
        InvalidateChanges(hwnd, before);
        return 0;
    }
    // The selected path, so a test can ask the tree where it stands.
    case WM_GETTEXTLENGTH: return static_cast<LRESULT>(tree_.SelectedPath().size());
    case WM_GETTEXT: {
        std::wstring path = Widen(tree_.SelectedPath());
        if (wp == 0) return 0;
        size_t n = std::min(path.size(), static_cast<size_t>(wp) - 1);
        wmemcpy(reinterpret_cast<wchar_t*>(lp), path.c_str(), n);
        reinterpret_cast<wchar_t*>(lp)[n] = 0;
        return static_cast<LRESULT>(n);
    }
    case WM_LBUTTONDOWN: {
        SetFocus(hwnd);
        const TSimTree::TView before = tree_.View();
        int y = static_cast<short>(HIWORD(lp));
        bool hit = y >= kTopMargin && tree_.SelectRow(static_cast<size_t>((y - kTopMargin) / kRowHeight));
        Log(L"tree click -> " + (hit ? Widen(tree_.SelectedPath()) : std::wstring(L"(no row)")));
        InvalidateChanges(hwnd, before);
        return 0;
    }
    case WM_TIMER:
        if (wp == kHoldTimer) {
            KillTimer(hwnd, kHoldTimer);
            FinishRender();
        }
        return 0;
    case WM_PAINT: {
        TStatsScope timed(stats_, L"tree WM_PAINT");
        PaintGrid(hwnd);
        return 0;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS: InvalidateRect(hwnd, nullptr, TRUE); break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

// Marks for repainting what a key or click changed: when the same rows are
// shown, only the rows of the old and the new selection; otherwise all.
void TSimulator::InvalidateChanges(HWND grid, const TSimTree::TView& before) {
    const std::optional<std::vector<size_t>> rows = RowsToRepaint(before, tree_.View());
    if (!rows) {
        InvalidateRect(grid, nullptr, TRUE);
        return;
    }
    RECT client;
    GetClientRect(grid, &client);
    for (const size_t i : *rows) {
        const int y = kTopMargin + static_cast<int>(i) * kRowHeight;
        RECT row = {client.left, y, client.right, y + kRowHeight};
        InvalidateRect(grid, &row, TRUE);
    }
}

// The tree as indented text; the selection is highlighted, brighter while
// the tree has the keyboard focus. Only the rows in the update region are
// drawn.
void TSimulator::PaintGrid(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    RECT client;
    GetClientRect(hwnd, &client);
    bool focused = GetFocus() == hwnd;
    int y = kTopMargin;
    for (const auto& [node, depth] : tree_.VisibleRows()) {
        if (y >= ps.rcPaint.bottom) break;
        if (y + kRowHeight <= ps.rcPaint.top) {
            y += kRowHeight;
            continue;
        }
        RECT row = {client.left, y, client.right, y + kRowHeight};
        bool selected = node == &tree_.Selected();
        if (selected) FillRect(dc, &row, GetSysColorBrush(focused ? COLOR_HIGHLIGHT : COLOR_BTNSHADOW));
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
        std::wstring text = node->Children.empty() ? L"   " : (node->Expanded ? L"[-] " : L"[+] ");
        text += Widen(node->Name);
        RECT textRect = {4 + depth * 18, y, client.right, y + kRowHeight};
        DrawTextW(dc, text.c_str(), -1, &textRect, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        y += kRowHeight;
    }
    SelectObject(dc, oldFont);
    EndPaint(hwnd, &ps);
}
