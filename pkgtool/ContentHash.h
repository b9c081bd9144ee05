#pragma once
// A fast 64-bit digest of a byte stream fed in pieces (XXH3 of the xxHash
// library): two items whose digests agree are taken to hold the same bytes,
// so content is compared without being kept.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace pkgtool {

class TContentHash {
public:
    TContentHash();
    ~TContentHash();
    TContentHash(const TContentHash&) = delete;
    TContentHash& operator=(const TContentHash&) = delete;

    // Starts a new stream.
    void Reset();
    // Adds the next `size` bytes of the stream.
    void Update(const void* data, std::size_t size);
    // The digest of the bytes added since the last Reset (the stream goes on).
    std::uint64_t Digest() const;

private:
    struct TState;
    std::unique_ptr<TState> state_;
};

}  // namespace pkgtool
