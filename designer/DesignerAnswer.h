#pragma once
// The bound on every message the build sends to the Designer. A Designer
// that loads a large node, waits for a repository lock or has hung would
// otherwise hold the build (and the form, or the console tool's Ctrl+C) for
// good. A message is sent once with a short wait; when the Designer has not
// handled it by then, WM_NULL is sent after it, again with a short wait, until
// the Designer answers: messages sent from one thread to another are handled
// in the order they were sent, so the answer to WM_NULL means the message
// before it was handled too, and nothing is ever sent twice. Between two
// waits the build's stop is asked. Only when the Designer has answered
// nothing for kDesignerAnswerMs does the build end, with
// kDesignerNotRespondingMessage.

#include <cstdint>
#include <functional>
#include <string_view>

#include "platform/Clipboard.h"
#include "text/Literal.h"

namespace designer {

// How long the Designer may take to handle one message: generous, since a
// node of a large configuration can take seconds to load.
inline constexpr std::uint32_t kDesignerAnswerMs = 30000;
// One wait for an answer; the build's stop is asked between two waits.
inline constexpr std::uint32_t kDesignerAnswerSliceMs = 200;
// A wait the system cut short (SMTO_ABORTIFHUNG on a thread that looks hung)
// is followed by this pause, so that the next try does not come at once.
inline constexpr std::uint32_t kDesignerAnswerPauseMs = 50;

inline constexpr std::string_view kDesignerNotRespondingMessage =
    text::Cp1251<"Конфигуратор не отвечает. Пакет не сформирован, прежний файл пакета не изменен.\r\n"
                 "Дождитесь, когда Конфигуратор освободится, и повторите попытку">;

// How one build waits for the Designer.
struct TAnswerPolicy {
    std::uint32_t BoundMs = kDesignerAnswerMs;
    // Asked between two waits; true ends the wait with package::TBuildStopped.
    std::function<bool()> StopRequested;
};

// One try with a wait of at most `waitMs`: true when the Designer handled it.
using TAnswerTry = std::function<bool(std::uint32_t waitMs)>;

// Sends with `send`, then, while it has no answer, with `probe` (WM_NULL to
// the same thread), until one is answered. Throws text::TError
// kDesignerNotRespondingMessage when `policy.BoundMs` have passed without
// an answer, package::TBuildStopped when the stop was asked for meanwhile.
void AwaitAnswer(const TAnswerTry& send, const TAnswerTry& probe, platform::IClock& clock,
                 const TAnswerPolicy& policy);

}  // namespace designer
