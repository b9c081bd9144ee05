#pragma once
// The object capture command: selects one metadata object in the Designer's
// configuration tree, copies it with Ctrl+Insert and stores every clipboard
// format of the copy under a new AddObject element of the package document.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "designer/DesignerPorts.h"
#include "package/PackageDocument.h"
#include "package/ReportWalk.h"
#include "platform/Clipboard.h"

namespace designer {

// Everything the command reaches outside itself.
struct TCapturePorts {
    ITreeWindow& Tree;
    IKeyboard& Keyboard;
    platform::IClock& Clock;
    platform::IClipboard& Clipboard;
    IDelayField& Delay;
    ILogSink& Log;
};

// How often the clipboard is looked at while the Designer fills it.
inline constexpr std::uint32_t kClipboardPollMs = 1;

class TObjectCapture : public package::ICapture {
public:
    // Captures into `document`, which must have been set up (a later
    // SetUpPackageDocument may renew it; the command uses its current sections).
    TObjectCapture(package::TPackageDocument& document, const TCapturePorts& ports);

    // Command "AddObject": captures the object `path` names and writes its log
    // line; true when every format of the object was stored. False for any
    // other command (after activating the keyboard layout and reading the
    // delay, nothing else happens) and for a path of no known kind. Throws
    // "'%s' is not a valid integer value" for a bad delay text and
    // "Cannot open clipboard".
    bool ExecuteCommand(const std::string& command, const std::string& path) override;

private:
    // Waits, for at most `delayMs`, until the clipboard has changed since
    // `sequenceBefore`, holds every format of `formatIds` and can be opened.
    // False when, at the end of the delay, it has not changed: there is
    // nothing of this object to read. A changed clipboard that is still held
    // then is opened with the usual retry (platform::OpenClipboard), which
    // raises "Cannot open clipboard" when it never becomes free.
    bool WaitForCopy(std::uint32_t sequenceBefore, const std::vector<std::uint32_t>& formatIds,
                     std::uint32_t delayMs);
    // Polls `done` every kClipboardPollMs until it holds (true) or at least
    // `delayMs` of real time have passed (false), even on a clock that moves
    // in coarse steps.
    bool WaitUntil(std::uint32_t delayMs, const std::function<bool()>& done);
    void TypeTreePath(const std::string& treePath);
    void PressCopy();
    void LogResult(const std::string& path, bool ok);

    package::TPackageDocument& package_;
    TCapturePorts ports_;
};

// The capturing half of a build: `document` becomes a fresh document, then the
// report named by `reportPath` is walked with the object capture over `ports`.
// When the result is not Completed the caller brings its form to the front and
// shows package::kCaptureFailedMessage; nothing may be written then. Errors (the
// report cannot be opened, a bad range, a bad delay, the clipboard) are thrown
// after the document was renewed.
package::TWalkResult CaptureReportObjects(package::TPackageDocument& document, std::string_view reportPath,
                                          const TCapturePorts& ports);

}  // namespace designer
