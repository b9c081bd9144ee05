#include "ObjectCapture.h"

#include <algorithm>
#include <functional>
#include <optional>

#include "designer/ClipboardItems.h"
#include "designer/DesignerInterface.h"
#include "text/Error.h"
#include "text/Number.h"

namespace designer {

using namespace text::literals;

namespace {

constexpr std::string_view kLogStart = "Захват объекта для добавления ("_cp1251;
constexpr std::string_view kLogSuccess = ") - УСПЕХ"_cp1251;
constexpr std::string_view kLogFailure = ") - ОШИБКА"_cp1251;

}  // namespace

TObjectCapture::TObjectCapture(package::TPackageDocument& document, const TCapturePorts& ports)
    : package_(document), ports_(ports) {}

bool TObjectCapture::ExecuteCommand(const std::string& command, const std::string& path) {
    // The Designer reads the WM_CHAR codes in the input language of the
    // wizard's thread, so the Russian layout must be active before typing.
    ports_.Keyboard.ActivateLayout(kRussianLayout);
    const std::int32_t delay = text::StrToInt(ports_.Delay.Text());
    if (command != package::kAddObjectCommand) return false;

    // A path of no known kind has no section to go to: the package cannot
    // carry it, which no delay changes, so the build stops with a message
    // that names the object instead of packing an incomplete set.
    const package::TObjectKind* kind = package::FindObjectKind(path);
    if (!kind) {
        LogResult(path, false);
        throw text::TError(text::Format(package::kUnsupportedKindMessage, {path}));
    }

    for (int i = 0; i < kTreeToTopLeftPresses; ++i) ports_.Tree.KeyDown(kVkLeft);
    ports_.Tree.KeyDown(kVkRight);

    const std::vector<std::string> formats = package::ObjectFormats(*kind, path);
    const std::string treePath = package::TreePath(*kind, path);
    xml::TXmlDElement* element = package::AddChildElement(command, package_.*(kind->Section));
    package::SetElementAttribute(package::kObjectPathAttribute, treePath, element);

    TypeTreePath(treePath);

    std::vector<std::uint32_t> formatIds;
    for (const std::string& name : formats) formatIds.push_back(ClipboardFormatId(ports_.Clipboard, name));
    const std::uint32_t sequenceBefore = ports_.Clipboard.SequenceNumber();
    PressCopy();

    // Reading before the Designer has replaced the clipboard would store the
    // previous object's data under this object's path; so a copy that has not
    // arrived within the delay is a failed capture.
    TClipboardCopy copy;
    const bool arrived =
        ReadCopy(sequenceBefore, formatIds, static_cast<std::uint32_t>(std::max(delay, 0)), path, copy);
    if (arrived) AppendClipboardItems(copy, formats, element);
    const bool ok = arrived && copy.Complete;
    LogResult(path, ok);
    return ok;
}

void TObjectCapture::AwaitClipboardOwner() {
    platform::IClipboard& clipboard = ports_.Clipboard;
    const TAnswerTry ask = [&clipboard](std::uint32_t waitMs) { return clipboard.OwnerAnswers(waitMs); };
    AwaitAnswer(ask, ask, ports_.Clock, ports_.Answer);
}

bool TObjectCapture::ReadCopy(std::uint32_t sequenceBefore, const std::vector<std::uint32_t>& formatIds,
                              std::uint32_t delayMs, const std::string& path, TClipboardCopy& copy) {
    platform::IClipboard& clipboard = ports_.Clipboard;
    platform::IClock& clock = ports_.Clock;
    const auto changed = [&clipboard, sequenceBefore] { return clipboard.SequenceNumber() != sequenceBefore; };
    const auto complete = [&clipboard, &formatIds] {
        return std::all_of(formatIds.begin(), formatIds.end(),
                           [&clipboard](std::uint32_t id) { return clipboard.IsFormatAvailable(id); });
    };
    // Reads every format in one opening: a clipboard changes only while
    // nobody holds it open, so the texts are of one copy.
    const auto readOpen = [&] {
        platform::TClipboardOpen open(clipboard, clock);
        copy = ReadOpenClipboard(clipboard, formatIds);
    };
    // Without access to the clipboard's window station the system returns
    // sequence number 0 and never changes it: then nothing tells a new copy
    // from an old one, and the whole delay is waited before reading (on the
    // clock, since a Sleep shorter than a system tick may end early).
    if (sequenceBefore == 0) {
        WaitUntil(delayMs, [] { return false; });
        AwaitClipboardOwner();
        readOpen();
        return true;
    }
    bool replaced = false;
    const auto tryRead = [&] {
        const std::uint32_t sequence = clipboard.SequenceNumber();
        if (sequence == sequenceBefore || !complete()) return false;
        const std::uintptr_t owner = clipboard.Owner();
        AwaitClipboardOwner();
        // The Designer holds the clipboard open while it puts the formats
        // there; it is done when the clipboard can be opened again.
        if (!clipboard.Open()) return false;
        struct TClose {
            platform::IClipboard& Clipboard;
            ~TClose() { Clipboard.Close(); }
        } close{clipboard};
        // Another program may have replaced the copy since the look above
        // (a clipboard manager, a remote desktop): then look again.
        if (clipboard.SequenceNumber() != sequence || clipboard.Owner() != owner) {
            replaced = true;
            return false;
        }
        copy = ReadOpenClipboard(clipboard, formatIds);
        return true;
    };
    if (WaitUntil(delayMs, tryRead)) return true;
    // At the end of the delay a new copy that lacks a format is still read,
    // so that the missing format is the one reported; the previous object's
    // data are never read.
    if (!changed()) return false;
    // A clipboard manager reacts to every copy and may hold the clipboard
    // right now: it gets the same patience as every other open, and only
    // then is it "Cannot open clipboard".
    AwaitClipboardOwner();
    readOpen();
    if (!copy.Complete && replaced) {
        LogResult(path, false);
        throw text::TError(text::Format(kClipboardChangedMessage, {path}));
    }
    return true;
}

bool TObjectCapture::WaitUntil(std::uint32_t delayMs, const std::function<bool()>& done) {
    platform::IClock& clock = ports_.Clock;
    // The delay is counted from the clock's first step after the start. A
    // clock that moves in coarse steps may show a whole step right after the
    // start; counting from there could end the wait well before the delay has
    // really passed. From a step on, the clock never runs ahead of real time.
    const std::uint64_t first = clock.NowMs();
    std::optional<std::uint64_t> start;
    for (;;) {
        if (done()) return true;
        const std::uint64_t now = clock.NowMs();
        if (!start && now != first) start = now;
        if (start && now - *start >= delayMs) return false;
        clock.Sleep(kClipboardPollMs);
    }
}

void TObjectCapture::TypeTreePath(const std::string& treePath) {
    // Each character selects by prefix among the current level's nodes; a dot
    // enters the selected node.
    for (const char c : treePath) {
        if (c == kTreePathSeparator)
            ports_.Tree.KeyDown(kVkRight);
        else
            ports_.Tree.Char(static_cast<std::uint8_t>(c));
    }
}

void TObjectCapture::PressCopy() {
    // Ctrl+Insert goes to the focused window, the tree the build put in front;
    // but bringing a child window to the front does not give it the focus.
    // The focus is looked at after the first key, since the keyboard puts the
    // Designer in front before it (a program in the background has no focus
    // window); a Ctrl alone copies nothing.
    ports_.Keyboard.KeyEvent(kVkControl, false);
    if (ports_.Focus) {
        try {
            EnsureTreeHasFocus(*ports_.Focus, ports_.Clock);
        } catch (...) {
            ports_.Keyboard.KeyEvent(kVkControl, true);
            throw;
        }
    }
    ports_.Keyboard.KeyEvent(kVkInsert, false);
    ports_.Keyboard.KeyEvent(kVkInsert, true);
    ports_.Keyboard.KeyEvent(kVkControl, true);
}

void TObjectCapture::LogResult(const std::string& path, bool ok) {
    std::string line(kLogStart);
    line += path;
    line += ok ? kLogSuccess : kLogFailure;
    ports_.Log.AddLine(line);
}

void EnsureTreeHasFocus(ITreeFocus& focus, platform::IClock& clock) {
    const TWindow tree = focus.Tree();
    const TWindow top = focus.TreeTopLevel();
    // The Designer moves its focus to the tree a moment after it came to the
    // front, so a refusal waits a little first.
    const std::uint64_t start = clock.NowMs();
    for (;;) {
        const TGuiThreadState state = focus.TreeThreadState();
        const bool menu = state.Known && state.MenuOrMove;
        if (state.Known && !menu && state.Focus == tree && state.Active == top) return;
        if (clock.NowMs() - start >= kTreeFocusPatienceMs)
            throw text::TError(std::string(menu ? kDesignerMenuOpenMessage : kTreeNotFocusedMessage));
        clock.Sleep(kTreeFocusPollMs);
    }
}

package::TWalkResult CaptureReportObjects(package::TPackageDocument& document, std::string_view reportPath,
                                          const TCapturePorts& ports) {
    package::SetUpPackageDocument(document);
    TObjectCapture capture(document, ports);
    return package::RunReportWalk(reportPath, capture);
}

}  // namespace designer
