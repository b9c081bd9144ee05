// The copy of the tree's node: the clipboard emptied at the keystroke, the
// formats rendered at once or after --latency, held open halfway with
// --hold-open, one format dropped for one node with --drop-format, each
// rendered only when a reader asks for it with --render-on-request.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "SimPayload.h"
#include "Simulator.h"
#include "text/Codepage.h"

namespace {

// Clipboard calls fail while another process holds it open; the reader
// closes it again within milliseconds.
bool OpenClipboardPatiently(HWND owner) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (OpenClipboard(owner)) return true;
        Sleep(5);
    }
    return false;
}

}  // namespace

void TSimulator::StartCopy(const std::u16string& path) {
    TStatsScope timed(stats_, L"copy started (and rendered, without a latency)");
    // A render still holding the clipboard open ends before the next copy.
    if (holding_) {
        KillTimer(grid_, kHoldTimer);
        FinishRender();
    }
    pendingCopy_ = path;
    copyStart_ = stats_.Now();
    Log(L"copy " + Widen(pendingCopy_));
    // A busy Designer leaves the previous contents in place until it gets to
    // the copy; --keep-stale plays that one.
    if (!options_.KeepStale && OpenClipboardPatiently(grid_)) {
        EmptyClipboard();
        CloseClipboard();
    }
    if (options_.LatencyMs == 0) RenderClipboard();
    else StartRenderTimer();
}

// Puts the copy's formats on the clipboard. With --hold-open the first
// kFormatsBeforeHold go there at once, the clipboard stays open on a timer,
// and FinishRender puts the rest and closes it: a reader that cannot wait
// for the clipboard sees a copy under way.
void TSimulator::RenderClipboard() {
    TStatsScope timed(stats_, L"clipboard render");
    if (stats_.Enabled) stats_.Add(L"copy keystroke to render start", stats_.Now() - copyStart_);
    if (!OpenClipboardPatiently(grid_)) {
        Log(L"render failed: clipboard busy");
        return;
    }
    EmptyClipboard();
    rendered_ = 0;
    const std::string path = text::Utf16ToCp1251(pendingCopy_);
    const std::vector<std::string> formats = SimCopiedFormats(path);
    const size_t now = options_.HoldOpenMs == 0 ? formats.size() : std::min(kFormatsBeforeHold, formats.size());
    for (size_t i = 0; i < formats.size(); ++i) {
        if (i == now) {
            holding_ = true;
            Log(L"hold " + Widen(pendingCopy_) + L" formats=" + std::to_wstring(rendered_));
            SetTimer(grid_, kHoldTimer, options_.HoldOpenMs, nullptr);
            return;
        }
        PutFormat(formats[i]);
    }
    FinishRender();
}

namespace {

UINT FormatId(const std::string& name) {
    const std::wstring wname(name.begin(), name.end());
    return name == "CF_TEXT"          ? CF_TEXT
           : name == "CF_UNICODETEXT" ? CF_UNICODETEXT
                                      : RegisterClipboardFormatW(wname.c_str());
}

}  // namespace

// WM_RENDERFORMAT: the reader has the clipboard open and waits for the data.
void TSimulator::RenderRequested(UINT id) {
    for (const std::string& name : SimCopiedFormats(text::Utf16ToCp1251(pendingCopy_))) {
        if (FormatId(name) != id) continue;
        const std::string bytes = SimPayload(text::Utf16ToCp1251(pendingCopy_), name);
        HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
        if (!mem) return;
        memcpy(GlobalLock(mem), bytes.data(), bytes.size());
        GlobalUnlock(mem);
        if (!SetClipboardData(id, mem)) GlobalFree(mem);
        Log(L"render on request " + std::wstring(name.begin(), name.end()));
        return;
    }
}

void TSimulator::PutFormat(const std::string& name) {
    std::wstring wname(name.begin(), name.end());
    if (wname == options_.DropFormat && Narrow16(options_.DropNode) == pendingCopy_) return;
    UINT id = FormatId(name);
    if (options_.RenderOnRequest) {
        // Announced only: the data come with WM_RENDERFORMAT.
        SetClipboardData(id, nullptr);
        ++rendered_;
        return;
    }
    std::string bytes = SimPayload(text::Utf16ToCp1251(pendingCopy_), name);
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    if (!mem) return;
    memcpy(GlobalLock(mem), bytes.data(), bytes.size());
    GlobalUnlock(mem);
    if (SetClipboardData(id, mem)) ++rendered_;
    else GlobalFree(mem);
}

// Puts the formats not yet there, closes the clipboard and logs the render.
void TSimulator::FinishRender() {
    if (holding_) {
        const std::vector<std::string> formats = SimCopiedFormats(text::Utf16ToCp1251(pendingCopy_));
        for (size_t i = kFormatsBeforeHold; i < formats.size(); ++i) PutFormat(formats[i]);
        holding_ = false;
    }
    CloseClipboard();
    Log(L"render " + Widen(pendingCopy_) + L" formats=" + std::to_wstring(rendered_));
}

// The render of a copy with --latency starts that many milliseconds after
// the keystroke; a new copy before then restarts the count.
void TSimulator::StartRenderTimer() {
    LARGE_INTEGER due;
    due.QuadPart = -10000LL * options_.LatencyMs;  // relative, in 100 ns units
    renderPending_ = renderTimer_ && SetWaitableTimer(renderTimer_, &due, 0, nullptr, nullptr, FALSE) != FALSE;
    if (!renderPending_) Log(L"render failed: no timer");
}
