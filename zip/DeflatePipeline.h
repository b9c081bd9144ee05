#pragma once
// Raw Deflate of one entry's data on all cores, as one pipeline of three
// stages joined by bounded queues:
//
//   source   the calling thread: whatever writes into the pipeline (a file
//            being read, a document being serialised) fills blocks of
//            kDeflateBlockSize bytes;
//   deflate  worker threads: each compresses one block on its own, primed
//            with the 32 KiB that precede it, and takes the block's CRC-32;
//   output   one thread: hands the compressed blocks on in their order (the
//            archive writer encrypts and writes them there).
//
// The blocks live in a fixed ring of 2 x workers + 2 slots; a slot goes back
// to the source only once its output has been handed on, so memory stays at
// about 2 MiB per slot whatever the entry's size. Every block but the last
// ends with a sync flush (it closes the block on a byte boundary), so the
// blocks joined in order are one Deflate stream that any inflater reads.
// Where the blocks are cut depends on the data alone, never on the number of
// threads: the same data gives the same bytes on every machine, and an entry
// of one block is exactly zlib's single-call stream.
//
// No thread is started for an entry that fits in one block, nor with one
// worker: then every stage runs on the calling thread. All threads are
// joined before Finish returns or the pipeline is destroyed.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "DataSink.h"

namespace zip {

inline constexpr std::size_t kDeflateBlockSize = std::size_t{1} << 20;

// What one pass over an entry's data produced.
struct TDeflateResult {
    std::uint32_t Crc = 0;      // of the plain data
    std::uint64_t Read = 0;     // plain bytes taken
    std::uint64_t Written = 0;  // compressed bytes handed on
};

// Takes the compressed bytes in order; may change them in place (encrypt).
// Runs on the output stage's thread. Throws to stop the pipeline.
using TCompressedOutput = std::function<void(unsigned char* data, std::size_t size)>;

// The deflate workers to use here: one per core, at most 8; 1 on one core.
unsigned DefaultDeflateWorkers();

class TDeflatePipeline final : public TDataSink {
public:
    // `workers` deflate threads (0: DefaultDeflateWorkers()).
    TDeflatePipeline(TCompressedOutput output, unsigned workers);
    // Stops the stages and joins them if Finish did not run or raised.
    ~TDeflatePipeline() override;
    TDeflatePipeline(const TDeflatePipeline&) = delete;
    TDeflatePipeline& operator=(const TDeflatePipeline&) = delete;

    // Takes plain data. Raises the error of a failed stage.
    void Write(const void* data, std::size_t size) override;
    // Ends the stream, waits until all of it has been handed on, joins the
    // threads. Raises the first error any stage met. Call once.
    TDeflateResult Finish();

private:
    struct TImpl;
    std::unique_ptr<TImpl> impl_;
};

}  // namespace zip
