#include "ContentHash.h"

// Header-only use: compiled into this file, nothing to link in either build.
#define XXH_INLINE_ALL
#include <xxhash.h>

namespace pkgtool {

struct TContentHash::TState {
    XXH3_state_t Xxh;
};

TContentHash::TContentHash() : state_(std::make_unique<TState>()) { Reset(); }

TContentHash::~TContentHash() = default;

void TContentHash::Reset() { XXH3_64bits_reset(&state_->Xxh); }

void TContentHash::Update(const void* data, std::size_t size) {
    if (size > 0) XXH3_64bits_update(&state_->Xxh, data, size);
}

std::uint64_t TContentHash::Digest() const { return XXH3_64bits_digest(&state_->Xxh); }

}  // namespace pkgtool
