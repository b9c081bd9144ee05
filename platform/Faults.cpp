#include "Faults.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace platform::faults {
namespace {

struct TFault {
    TOperation Operation;
    int Code;
    std::u16string PathPart;
};

std::mutex mutex;
std::vector<TFault> injected;
// Read without the lock on every call, so that the seam costs one load when
// nothing is injected.
std::atomic<bool> any{false};

}  // namespace

void Inject(TOperation operation, int code, std::string pathPart) {
    std::lock_guard<std::mutex> lock(mutex);
    injected.push_back({operation, code, std::filesystem::path(pathPart).u16string()});
    any = true;
}

void Clear() {
    std::lock_guard<std::mutex> lock(mutex);
    injected.clear();
    any = false;
}

int Injected(TOperation operation, const std::filesystem::path& path) {
    if (!any) return 0;
    std::lock_guard<std::mutex> lock(mutex);
    const std::u16string text = path.u16string();
    for (const TFault& f : injected)
        if (f.Operation == operation && text.find(f.PathPart) != std::u16string::npos) return f.Code;
    return 0;
}

}  // namespace platform::faults
