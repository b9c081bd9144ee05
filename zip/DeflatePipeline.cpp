#include "DeflatePipeline.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include <zlib.h>

#include "text/Error.h"

namespace zip {
namespace {

// The window of raw Deflate: a block primed with this much of the data
// before it finds the same matches a single stream would.
constexpr std::size_t kDictionarySize = 32 * 1024;
constexpr unsigned kMaxWorkers = 8;

// One block of the ring: its input (the dictionary, then the block's data),
// and what the deflate stage made of it.
struct TSlot {
    enum class TState { Free, Queued, Compressed };

    // Grows with the data (a small entry never takes a whole block's memory)
    // and keeps its capacity when the slot comes round again.
    std::vector<unsigned char> Input;
    std::size_t DictionarySize = 0;
    std::size_t Size = 0;  // data bytes after the dictionary
    bool Last = false;
    std::vector<unsigned char> Output;
    std::size_t OutputSize = 0;
    std::uint32_t Crc = 0;
    TState State = TState::Free;
};

// A raw Deflate stream at the default level, reset for every block.
class TBlockDeflater {
public:
    TBlockDeflater() {
        std::memset(&z_, 0, sizeof z_);
        if (deflateInit2(&z_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw text::TError("Cannot start Deflate compression");
    }
    ~TBlockDeflater() { deflateEnd(&z_); }
    TBlockDeflater(const TBlockDeflater&) = delete;
    TBlockDeflater& operator=(const TBlockDeflater&) = delete;

    void Compress(TSlot& slot) {
        if (deflateReset(&z_) != Z_OK) throw text::TError("Deflate compression failed");
        if (slot.DictionarySize != 0 &&
            deflateSetDictionary(&z_, slot.Input.data(), static_cast<uInt>(slot.DictionarySize)) != Z_OK)
            throw text::TError("Deflate compression failed");
        z_.next_in = slot.Input.data() + slot.DictionarySize;
        z_.avail_in = static_cast<uInt>(slot.Size);
        const std::size_t bound = deflateBound(&z_, static_cast<uLong>(slot.Size)) + 16;
        if (slot.Output.size() < bound) slot.Output.resize(bound);
        const int flush = slot.Last ? Z_FINISH : Z_SYNC_FLUSH;
        std::size_t used = 0;
        for (;;) {
            z_.next_out = slot.Output.data() + used;
            z_.avail_out = static_cast<uInt>(slot.Output.size() - used);
            const int rc = deflate(&z_, flush);
            if (rc == Z_STREAM_ERROR) throw text::TError("Deflate compression failed");
            used = slot.Output.size() - z_.avail_out;
            // A sync flush is complete when it leaves room in the output.
            if (slot.Last ? rc == Z_STREAM_END : z_.avail_out != 0) break;
            slot.Output.resize(slot.Output.size() * 2);
        }
        slot.OutputSize = used;
        slot.Crc = static_cast<std::uint32_t>(
            crc32(0, slot.Input.data() + slot.DictionarySize, static_cast<uInt>(slot.Size)));
    }

private:
    z_stream z_;
};

}  // namespace

unsigned DefaultDeflateWorkers() {
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(cores, 1u, kMaxWorkers);
}

struct TDeflatePipeline::TImpl {
    TCompressedOutput Output;
    unsigned Workers;
    std::vector<TSlot> Slots;

    // The source's side; touched by the calling thread only.
    std::uint64_t Filling = 0;  // the sequence number of the block being filled
    std::vector<unsigned char> Tail;  // the last kDictionarySize bytes handed to the previous block
    bool Finished = false;
    std::unique_ptr<TBlockDeflater> InlineDeflater;

    // The stages meet here, under Lock: the work queue, the slots' states
    // and the stop flag. A slot's buffers belong to the one stage its state
    // names (Free: the source, Queued: a deflate worker, Compressed: the
    // output stage), so they are used without the lock.
    std::mutex Lock;
    std::condition_variable SlotFreed;   // source waits: the slot it needs is free again
    std::condition_variable WorkQueued;  // deflate workers wait: a block to compress
    std::condition_variable BlockDone;   // output waits: the next block is compressed
    std::deque<std::uint64_t> Work;
    bool Stop = false;
    bool AllHandedOn = false;
    std::exception_ptr Error;
    TDeflateResult Result;  // the output stage's alone; read after the join

    std::vector<std::thread> Threads;  // the calling thread's

    TSlot& SlotOf(std::uint64_t sequence) { return Slots[sequence % Slots.size()]; }

    void Fail(std::exception_ptr error) {
        std::lock_guard<std::mutex> lock(Lock);
        if (!Error) Error = error;
        Stop = true;
        SlotFreed.notify_all();
        WorkQueued.notify_all();
        BlockDone.notify_all();
    }

    void RaiseIfFailed() {
        if (Error) std::rethrow_exception(Error);
    }

    // The output stage's work for one block, on whichever thread runs it.
    void HandOn(TSlot& slot) {
        Output(slot.Output.data(), slot.OutputSize);
        Result.Crc = static_cast<std::uint32_t>(crc32_combine(Result.Crc, slot.Crc, static_cast<z_off_t>(slot.Size)));
        Result.Read += slot.Size;
        Result.Written += slot.OutputSize;
    }

    void DeflateStage() {
        try {
            TBlockDeflater deflater;
            for (;;) {
                std::unique_lock<std::mutex> lock(Lock);
                WorkQueued.wait(lock, [&] { return Stop || !Work.empty(); });
                if (Stop) return;
                TSlot& slot = SlotOf(Work.front());
                Work.pop_front();
                lock.unlock();
                deflater.Compress(slot);
                lock.lock();
                slot.State = TSlot::TState::Compressed;
                BlockDone.notify_all();
            }
        } catch (...) {
            Fail(std::current_exception());
        }
    }

    void OutputStage() {
        try {
            for (std::uint64_t next = 0;; ++next) {
                TSlot& slot = SlotOf(next);
                std::unique_lock<std::mutex> lock(Lock);
                BlockDone.wait(lock, [&] { return Stop || slot.State == TSlot::TState::Compressed; });
                if (Stop) return;
                lock.unlock();
                HandOn(slot);
                lock.lock();
                slot.State = TSlot::TState::Free;
                SlotFreed.notify_all();
                if (slot.Last) {
                    AllHandedOn = true;
                    return;
                }
            }
        } catch (...) {
            Fail(std::current_exception());
        }
    }

    void StartThreads() {
        Threads.reserve(Workers + 1);
        try {
            for (unsigned i = 0; i < Workers; ++i) Threads.emplace_back([this] { DeflateStage(); });
            Threads.emplace_back([this] { OutputStage(); });
        } catch (...) {
            StopAndJoin();
            throw;
        }
    }

    void StopAndJoin() {
        {
            std::lock_guard<std::mutex> lock(Lock);
            Stop = true;
            SlotFreed.notify_all();
            WorkQueued.notify_all();
            BlockDone.notify_all();
        }
        for (std::thread& t : Threads) t.join();
        Threads.clear();
    }

    bool Threaded() const { return !Threads.empty(); }

    // Hands the block being filled to the deflate stage and makes the next
    // slot ready for the source.
    void Submit(bool last) {
        TSlot& slot = SlotOf(Filling);
        slot.Last = last;
        // The next block's dictionary: the end of what came before it.
        if (!last) {
            const std::size_t end = slot.DictionarySize + slot.Size;
            const std::size_t keep = std::min(kDictionarySize, end);
            Tail.assign(slot.Input.begin() + static_cast<std::ptrdiff_t>(end - keep),
                        slot.Input.begin() + static_cast<std::ptrdiff_t>(end));
        }
        if (Workers <= 1 || (last && Filling == 0)) {
            // One core, or an entry of one block: every stage here.
            if (!InlineDeflater) InlineDeflater = std::make_unique<TBlockDeflater>();
            InlineDeflater->Compress(slot);
            HandOn(slot);
        } else {
            if (!Threaded()) StartThreads();
            std::lock_guard<std::mutex> lock(Lock);
            RaiseIfFailed();
            slot.State = TSlot::TState::Queued;
            Work.push_back(Filling);
            WorkQueued.notify_one();
        }
        if (last) return;
        ++Filling;
        TSlot& next = SlotOf(Filling);
        if (Threaded()) {
            std::unique_lock<std::mutex> lock(Lock);
            SlotFreed.wait(lock, [&] { return Stop || next.State == TSlot::TState::Free; });
            RaiseIfFailed();
        }
        next.Input.reserve(kDictionarySize + kDeflateBlockSize);
        next.Input.assign(Tail.begin(), Tail.end());
        next.DictionarySize = Tail.size();
        next.Size = 0;
    }
};

TDeflatePipeline::TDeflatePipeline(TCompressedOutput output, unsigned workers) : impl_(std::make_unique<TImpl>()) {
    TImpl& d = *impl_;
    d.Output = std::move(output);
    d.Workers = workers == 0 ? DefaultDeflateWorkers() : std::min(workers, kMaxWorkers);
    d.Slots.resize(d.Workers <= 1 ? 1 : 2 * d.Workers + 2);
}

TDeflatePipeline::~TDeflatePipeline() {
    if (impl_->Threaded()) impl_->StopAndJoin();
}

void TDeflatePipeline::Write(const void* data, std::size_t size) {
    TImpl& d = *impl_;
    if (d.Finished) throw text::TError("Deflate compression failed");
    const unsigned char* p = static_cast<const unsigned char*>(data);
    while (size > 0) {
        TSlot& slot = d.SlotOf(d.Filling);
        const std::size_t n = std::min(size, kDeflateBlockSize - slot.Size);
        slot.Input.insert(slot.Input.end(), p, p + n);
        slot.Size += n;
        p += n;
        size -= n;
        // A full block waits for more data before it goes: the last block
        // must be the one that Finish submits.
        if (size > 0) d.Submit(false);
    }
}

TDeflateResult TDeflatePipeline::Finish() {
    TImpl& d = *impl_;
    if (d.Finished) throw text::TError("Deflate compression failed");
    d.Finished = true;
    d.Submit(true);
    if (d.Threaded()) {
        {
            std::unique_lock<std::mutex> lock(d.Lock);
            d.SlotFreed.wait(lock, [&] { return d.Stop || d.AllHandedOn; });
        }
        d.StopAndJoin();
        d.RaiseIfFailed();
    }
    return d.Result;
}

}  // namespace zip
