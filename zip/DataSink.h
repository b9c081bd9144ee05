#pragma once
// Where the plain data of an archive entry goes, piece by piece.

#include <cstddef>

namespace zip {

class TDataSink {
public:
    virtual ~TDataSink() = default;
    // Takes all `size` bytes or throws text::TError.
    virtual void Write(const void* data, std::size_t size) = 0;
};

}  // namespace zip
