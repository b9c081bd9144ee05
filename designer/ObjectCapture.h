#pragma once
// The object capture command: selects one metadata object in the Designer's
// configuration tree, copies it with Ctrl+Insert and stores every clipboard
// format of the copy under a new AddObject element of the package document.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "designer/ClipboardItems.h"
#include "designer/DesignerAnswer.h"
#include "designer/DesignerPorts.h"
#include "package/PackageDocument.h"
#include "package/ReportWalk.h"
#include "platform/Clipboard.h"
#include "text/Literal.h"

namespace designer {

// Everything the command reaches outside itself.
struct TCapturePorts {
    ITreeWindow& Tree;
    IKeyboard& Keyboard;
    platform::IClock& Clock;
    platform::IClipboard& Clipboard;
    IDelayField& Delay;
    ILogSink& Log;
    // Looked at between the Ctrl and the Insert of each copy keystroke, once
    // the keyboard has put the Designer in front (EnsureTreeHasFocus); on a
    // refusal Ctrl is released and nothing else is sent. None: unchecked.
    ITreeFocus* Focus = nullptr;
    // How long the clipboard's owner may take to answer before it is read.
    TAnswerPolicy Answer = {};
};

// How often the clipboard is looked at while the Designer fills it.
inline constexpr std::uint32_t kClipboardPollMs = 1;

// How long the Designer is given to move its keyboard focus to the tree
// after it was brought to the front, and how often it is looked at.
inline constexpr std::uint32_t kTreeFocusPatienceMs = 1000;
inline constexpr std::uint32_t kTreeFocusPollMs = 10;

// Raised instead of the copy keystroke when the tree does not have the
// Designer's keyboard focus: Ctrl+Insert would copy what is selected in
// that other control, and the package would hold another object's data
// under this object's path.
inline constexpr std::string_view kTreeNotFocusedMessage =
    text::Cp1251<"Клавиатурный фокус конфигуратора находится не в дереве конфигурации (например, оставлено "
                 "открытым окно поиска объектов метаданных или выбран другой список), поэтому команда копирования "
                 "не отправлена: скопировался бы другой объект. Пакет не записан. Щелкните мышью в дереве "
                 "конфигурации в окне конфигуратора и нажмите «Сформировать» еще раз">;

// Raised instead of the copy keystroke while the Designer has a menu open or
// a window is being moved or sized: the keystroke would go to the menu.
inline constexpr std::string_view kDesignerMenuOpenMessage =
    text::Cp1251<"В конфигураторе открыто меню или перемещается окно, поэтому команда копирования не "
                 "отправлена. Пакет не записан. Закройте меню, щелкните мышью в дереве конфигурации в окне "
                 "конфигуратора и нажмите «Сформировать» еще раз">;

// Waits up to kTreeFocusPatienceMs on `clock` until the thread of the tree
// shows the tree as its focus window, the tree's top-level window as its
// active window, and no menu, move or size mode; throws
// kDesignerMenuOpenMessage when a menu or move mode remains, else
// kTreeNotFocusedMessage.
void EnsureTreeHasFocus(ITreeFocus& focus, platform::IClock& clock);
// The clipboard was replaced between the look that found the object's copy
// complete and its reading, and no whole copy could be read within the
// delay; "%s" is the object's full name.
inline constexpr std::string_view kClipboardChangedMessage =
    text::Cp1251<"Буфер обмена изменился во время чтения объекта %s: его данные могли смешаться с другой копией. "
                 "Пакет не сформирован.\r\n"
                 "Закройте программы, которые работают с буфером обмена (менеджеры буфера обмена, "
                 "удаленный рабочий стол), и повторите попытку">;

class TObjectCapture : public package::ICapture {
public:
    // Captures into `document`, which must have been set up (a later
    // SetUpPackageDocument may renew it; the command uses its current sections).
    TObjectCapture(package::TPackageDocument& document, const TCapturePorts& ports);

    // Command "AddObject": captures the object `path` names and writes its log
    // line; true when every format of the object was stored. False for any
    // other command (after activating the keyboard layout and reading the
    // delay, nothing else happens). Throws "'%s' is not a valid integer
    // value" for a bad delay text, "Cannot open clipboard",
    // kDesignerNotRespondingMessage and package::TBuildStopped (AwaitAnswer),
    // and, after the failure's log line, package::kUnsupportedKindMessage for
    // a path of no known kind and kClipboardChangedMessage.
    bool ExecuteCommand(const std::string& command, const std::string& path) override;

private:
    // Waits, for at most `delayMs`, until the clipboard has changed since
    // `sequenceBefore`, holds every format of `formatIds` and can be opened,
    // and reads the copy in that one opening, accepted only while the
    // clipboard's sequence number and owner are still those the look saw.
    // False when, at the end of the delay, it has not changed: there is
    // nothing of this object to read. A changed clipboard that is still held
    // then is opened with the usual retry (platform::OpenClipboard), which
    // raises "Cannot open clipboard" when it never becomes free, and read as
    // it is, so that a missing format is the one reported; if it is not whole
    // and was replaced meanwhile, kClipboardChangedMessage (about `path`).
    bool ReadCopy(std::uint32_t sequenceBefore, const std::vector<std::uint32_t>& formatIds, std::uint32_t delayMs,
                  const std::string& path, TClipboardCopy& copy);
    // Waits for the clipboard's owner to answer (AwaitAnswer on the ports'
    // policy): an owner that renders on request is asked by the read.
    void AwaitClipboardOwner();
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
