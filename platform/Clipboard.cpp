// The clipboard's open-with-retry, shared by every reader and writer.
#include "Clipboard.h"

#include "text/Error.h"

namespace platform {

void OpenClipboard(IClipboard& clipboard, IClock& clock) {
    // Another program may hold the clipboard for a moment; giving up at once
    // would fail the build.
    const std::uint64_t start = clock.NowMs();
    while (!clipboard.Open()) {
        if (clock.NowMs() - start >= kClipboardOpenPatienceMs) throw text::TError("Cannot open clipboard");
        clock.Sleep(kClipboardOpenRetryMs);
    }
}

TClipboardOpen::TClipboardOpen(IClipboard& clipboard, IClock& clock) : clipboard_(clipboard) {
    OpenClipboard(clipboard, clock);
}

TClipboardOpen::~TClipboardOpen() { clipboard_.Close(); }

void PutClipboardText(IClipboard& clipboard, IClock& clock, const std::string& text1251) {
    TClipboardOpen open(clipboard, clock);
    clipboard.SetText(text1251);
}

}  // namespace platform
