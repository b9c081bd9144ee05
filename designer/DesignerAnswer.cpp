#include "designer/DesignerAnswer.h"

#include <algorithm>
#include <string>

#include "package/PackageAssembly.h"
#include "text/Error.h"

namespace designer {

void AwaitAnswer(const TAnswerTry& send, const TAnswerTry& probe, platform::IClock& clock,
                 const TAnswerPolicy& policy) {
    const std::uint64_t start = clock.NowMs();
    const auto slice = [&] {
        const std::uint64_t spent = clock.NowMs() - start;
        return static_cast<std::uint32_t>(
            std::min<std::uint64_t>(kDesignerAnswerSliceMs, policy.BoundMs > spent ? policy.BoundMs - spent : 1));
    };
    const TAnswerTry* attempt = &send;
    for (;;) {
        const std::uint64_t before = clock.NowMs();
        const std::uint32_t wait = slice();
        if ((*attempt)(wait)) return;
        attempt = &probe;
        if (policy.StopRequested && policy.StopRequested()) throw package::TBuildStopped();
        if (clock.NowMs() - start >= policy.BoundMs) throw text::TError(std::string(kDesignerNotRespondingMessage));
        // A try the system refused at once is not a wait: pause before the next.
        if (clock.NowMs() - before < wait) clock.Sleep(kDesignerAnswerPauseMs);
    }
}

}  // namespace designer
