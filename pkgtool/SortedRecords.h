#pragma once
// Records sorted without holding them all: they gather in memory up to a
// budget, and each full batch goes sorted to a file of its own (a run);
// reading merges the runs. So the memory a sort takes stays the same
// however many records there are.
//
// A record type T provides:
//   std::size_t Bytes() const;             // about what it takes in memory
//   void Write(std::string& out) const;    // appends its bytes
//   void Read(TRecordReader& in);          // reads them back

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <queue>
#include <string>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "text/Error.h"

namespace pkgtool {

// Reads a run file back in pieces.
class TRecordReader {
public:
    explicit TRecordReader(const std::filesystem::path& path) : file_(platform::TFile::OpenRead(path)) {}

    // Whether another record follows.
    bool More() {
        Fill(1);
        return at_ < data_.size();
    }
    void Bytes(void* out, std::size_t size) {
        Fill(size);
        if (data_.size() - at_ < size) throw text::TError("A sorted run is cut short");
        std::memcpy(out, data_.data() + at_, size);
        at_ += size;
    }
    std::uint64_t U64() {
        unsigned char b[8];
        Bytes(b, 8);
        std::uint64_t v = 0;
        for (int i = 7; i >= 0; --i) v = (v << 8) | b[i];
        return v;
    }
    std::uint8_t U8() {
        std::uint8_t v = 0;
        Bytes(&v, 1);
        return v;
    }
    void String(std::string& s) {
        s.resize(static_cast<std::size_t>(U64()));
        if (!s.empty()) Bytes(s.data(), s.size());
    }

private:
    static constexpr std::size_t kPiece = 64 * 1024;
    void Fill(std::size_t need) {
        while (data_.size() - at_ < need) {
            data_.erase(0, at_);
            at_ = 0;
            const std::size_t had = data_.size();
            data_.resize(had + std::max(need, kPiece));
            const std::size_t got = file_.Read(data_.data() + had, data_.size() - had);
            data_.resize(had + got);
            if (got == 0) return;
        }
    }
    platform::TFile file_;
    std::string data_;
    std::size_t at_ = 0;
};

inline void PutU64(std::string& out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline void PutString(std::string& out, const std::string& s) {
    PutU64(out, s.size());
    out += s;
}

// Records written to a file in the order they come, to be read back in that
// order with a TRecordReader: a stream that needs no sorting.
class TRecordWriter {
public:
    explicit TRecordWriter(const std::filesystem::path& path) : file_(platform::TFile::Create(path)) {}

    template <class T>
    void Add(const T& record) {
        record.Write(buffer_);
        if (buffer_.size() >= kFlushSize) Flush();
    }
    void Close() {
        Flush();
        file_.Close();
    }

private:
    static constexpr std::size_t kFlushSize = 256 * 1024;
    void Flush() {
        file_.WriteAll(buffer_.data(), buffer_.size());
        buffer_.clear();
    }
    platform::TFile file_;
    std::string buffer_;
};

template <class T, class TLess>
class TSortedRecords {
public:
    // Runs go to files in `dir`, named after `name`.
    TSortedRecords(std::filesystem::path dir, std::string name, std::size_t budget = kDefaultBudget)
        : dir_(std::move(dir)), name_(std::move(name)), budget_(budget) {}

    static constexpr std::size_t kDefaultBudget = 4u << 20;

    void Add(T record) {
        bytes_ += record.Bytes();
        held_.push_back(std::move(record));
        if (bytes_ >= budget_) Spill();
    }

    // No more records come: sorts what memory holds (or spills it when
    // there are runs already).
    void Seal() {
        if (!runs_.empty() && !held_.empty()) Spill();
        std::sort(held_.begin(), held_.end(), TLess());
    }

    std::uint64_t Count() const { return count_ + held_.size(); }

    // The records in order, from the start; a sealed set can be read again.
    class TCursor {
    public:
        explicit TCursor(const TSortedRecords& set) : set_(set) {
            for (const std::filesystem::path& run : set.runs_) {
                readers_.push_back(std::make_unique<TRecordReader>(run));
                heads_.emplace_back();
                Advance(readers_.size() - 1);
            }
        }
        // The next record into `out`; false after the last.
        bool Next(T& out) {
            if (readers_.empty()) {
                if (memoryAt_ == set_.held_.size()) return false;
                out = set_.held_[memoryAt_++];
                return true;
            }
            if (queue_.empty()) return false;
            const std::size_t i = queue_.top();
            queue_.pop();
            out = std::move(heads_[i]);
            Advance(i);
            return true;
        }

    private:
        struct TLater {
            const std::vector<T>* Heads;
            bool operator()(std::size_t a, std::size_t b) const { return TLess()((*Heads)[b], (*Heads)[a]); }
        };
        void Advance(std::size_t i) {
            if (!readers_[i]->More()) return;
            heads_[i].Read(*readers_[i]);
            queue_.push(i);
        }
        const TSortedRecords& set_;
        std::size_t memoryAt_ = 0;
        std::vector<std::unique_ptr<TRecordReader>> readers_;
        std::vector<T> heads_;
        std::priority_queue<std::size_t, std::vector<std::size_t>, TLater> queue_{TLater{&heads_}};
    };
    TCursor Read() const { return TCursor(*this); }

private:
    void Spill() {
        std::sort(held_.begin(), held_.end(), TLess());
        const std::filesystem::path path = dir_ / (name_ + "-" + std::to_string(runs_.size()));
        platform::TFile file = platform::TFile::Create(path);
        std::string out;
        for (const T& record : held_) {
            record.Write(out);
            if (out.size() >= (1u << 20)) {
                file.WriteAll(out.data(), out.size());
                out.clear();
            }
        }
        file.WriteAll(out.data(), out.size());
        file.Close();
        runs_.push_back(path);
        count_ += held_.size();
        held_.clear();
        bytes_ = 0;
    }

    std::filesystem::path dir_;
    std::string name_;
    std::size_t budget_;
    std::vector<T> held_;
    std::size_t bytes_ = 0;
    std::uint64_t count_ = 0;  // records in the runs
    std::vector<std::filesystem::path> runs_;
};

}  // namespace pkgtool
