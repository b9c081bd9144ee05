#include "ZipWriter.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include <zlib.h>

#include "DeflatePipeline.h"
#include "PkCipher.h"
#include "ZipRecords.h"
#include "platform/Platform.h"
#include "text/Codepage.h"
#include "text/Error.h"

namespace zip {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kChunk = 1u << 20;

// Reads up to `size` bytes, fewer only at the end of the file.
std::size_t ReadFull(platform::TFile& in, unsigned char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const std::size_t n = in.Read(data + done, size - done);
        if (n == 0) break;
        done += n;
    }
    return done;
}

// The archive file behind a write buffer, with the position tracked here so
// that headers can be patched and a failed attempt cut back. Everything it
// is given is already encrypted, apart from the records around the data.
class TArchiveOutput {
public:
    TArchiveOutput(platform::TFile& file, std::uint64_t start) : file_(file), position_(start) {
        buffer_.reserve(kChunk);
        if (start != 0) file_.Seek(start);
    }

    void Write(const void* data, std::size_t size) {
        if (buffer_.size() + size > kChunk) Flush();
        if (size >= kChunk) {
            file_.WriteAll(data, size);
        } else {
            const char* p = static_cast<const char*>(data);
            buffer_.insert(buffer_.end(), p, p + size);
        }
        position_ += size;
    }
    void Write(const std::string& bytes) { Write(bytes.data(), bytes.size()); }

    std::uint64_t Position() const { return position_; }

    void Flush() {
        if (!buffer_.empty()) file_.WriteAll(buffer_.data(), buffer_.size());
        buffer_.clear();
    }

    // Overwrites bytes already written; the position stays.
    void Patch(std::uint64_t at, const std::string& bytes) {
        Flush();
        file_.Seek(at);
        file_.WriteAll(bytes.data(), bytes.size());
        file_.Seek(position_);
    }

    // Drops everything from `at` on, in the file too, and continues there.
    void CutBack(std::uint64_t at) {
        Flush();
        file_.SetSize(at);
        position_ = at;
    }

private:
    platform::TFile& file_;
    std::vector<char> buffer_;
    std::uint64_t position_;
};

// The bytes of one entry's data as they were read, and what became of them.
struct TPassResult {
    std::uint32_t Crc = 0;
    std::uint64_t Read = 0;
    std::uint64_t Written = 0;
};

// Deflates what `source` writes, encrypting each compressed piece on its way
// to the archive.
TPassResult DeflatePass(const TZipWriter::TEntrySource& source, TArchiveOutput& out, TPkCipher cipher,
                        unsigned threads) {
    TDeflatePipeline pipeline(
        [&](unsigned char* data, std::size_t size) {
            cipher.Encrypt(data, size);
            out.Write(data, size);
        },
        threads);
    source(pipeline);
    const TDeflateResult r = pipeline.Finish();
    return {r.Crc, r.Read, r.Written};
}

// Takes an entry's data as it is: CRC, encryption, archive.
class TStoreSink final : public TDataSink {
public:
    TStoreSink(TArchiveOutput& out, TPkCipher cipher) : out_(out), cipher_(cipher) {}

    void Write(const void* data, std::size_t size) override {
        const unsigned char* p = static_cast<const unsigned char*>(data);
        if (scratch_.size() < std::min(size, kChunk)) scratch_.resize(std::min(size, kChunk));
        while (size > 0) {
            const std::size_t n = std::min(size, scratch_.size());
            std::memcpy(scratch_.data(), p, n);
            result_.Crc = static_cast<std::uint32_t>(crc32(result_.Crc, scratch_.data(), static_cast<uInt>(n)));
            cipher_.Encrypt(scratch_.data(), n);
            out_.Write(scratch_.data(), n);
            result_.Read += n;
            p += n;
            size -= n;
        }
    }

    TPassResult Result() const { return {result_.Crc, result_.Read, result_.Read}; }

private:
    TArchiveOutput& out_;
    TPkCipher cipher_;
    std::vector<unsigned char> scratch_;
    TPassResult result_;
};

TPassResult StorePass(const TZipWriter::TEntrySource& source, TArchiveOutput& out, const TPkCipher& cipher) {
    TStoreSink sink(out, cipher);
    source(sink);
    return sink.Result();
}

// Hands every piece to both sinks.
class TTeeSink final : public TDataSink {
public:
    TTeeSink(TDataSink& first, TDataSink& second) : first_(first), second_(second) {}
    void Write(const void* data, std::size_t size) override {
        first_.Write(data, size);
        second_.Write(data, size);
    }

private:
    TDataSink& first_;
    TDataSink& second_;
};

// Writes the stored entry and, from the same read of the data, deflates it
// on the other cores only to learn the size Deflate would give. The stored
// entry stands when Deflate would be larger: the decision is the same as
// DeflatePass's, made without encrypting and writing Deflate's output.
struct TStoreFirstResult {
    TPassResult Stored;
    bool DeflateWins = false;
};
TStoreFirstResult StoreBesideDeflate(const TZipWriter::TEntrySource& source, TArchiveOutput& out,
                                     const TPkCipher& cipher, unsigned threads) {
    TDeflatePipeline counter([](unsigned char*, std::size_t) {}, threads);
    TStoreSink store(out, cipher);
    TTeeSink tee(counter, store);
    source(tee);
    const TDeflateResult deflated = counter.Finish();
    return {store.Result(), deflated.Written <= deflated.Read};
}

// The first `limit` bytes of an open file, fewer only if it has shrunk,
// read from its start on every call.
TZipWriter::TEntrySource FileSource(platform::TFile& in, std::uint64_t limit) {
    return [&in, limit](TDataSink& sink) {
        in.Seek(0);
        std::vector<unsigned char> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, limit)));
        for (std::uint64_t done = 0; done < limit;) {
            const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), limit - done));
            const std::size_t got = ReadFull(in, buffer.data(), want);
            sink.Write(buffer.data(), got);
            done += got;
            if (got < want) break;
        }
    };
}

bool IsAscii(std::u16string_view s) {
    return std::all_of(s.begin(), s.end(), [](char16_t c) { return c < 0x80; });
}

// The stored name: code page 866 whatever the machine's OEM page, so that the
// archive is the same everywhere; "/" is the only separator ZIP knows (4.4.17).
std::string EntryName866(std::u16string_view name) {
    std::string s = text::Utf16ToCp866(name);
    std::replace(s.begin(), s.end(), '\\', '/');
    return s;
}

// The record of an entry as far as its file tells it: names and attributes.
TEntryRecord NewEntryRecord(const platform::TFoundFile& file) {
    TEntryRecord e;
    e.Name = EntryName866(file.Name);
    if (!IsAscii(file.Name)) e.UnicodeName = text::Utf16ToUtf8(file.Name);
    e.ExternalAttributes = file.Attributes;
    return e;
}

using TEncryptionHeader = std::array<unsigned char, kEncryptionHeaderSize>;

// 6.1.3: ten random bytes, then the time's low and high byte; with bit 3
// set the last one is the check byte readers compare (6.1.6).
TEncryptionHeader PlainEncryptionHeader(const TZipWriter::TRandomSource& random, std::uint16_t dosTime) {
    TEncryptionHeader header;
    random(header.data(), 10);
    header[10] = static_cast<unsigned char>(dosTime & 0xFF);
    header[11] = static_cast<unsigned char>(dosTime >> 8);
    return header;
}

// Encrypts the header with a copy of `keyed` and writes it; returns the
// cipher as it stands after the header, for the data.
TPkCipher WriteEncryptionHeader(TArchiveOutput& out, const TPkCipher& keyed, TEncryptionHeader header) {
    TPkCipher cipher = keyed;
    cipher.Encrypt(header.data(), header.size());
    out.Write(header.data(), header.size());
    return cipher;
}

// Writes the entry's data once, right after its encryption header: deflated,
// or stored when `store` is set or Deflate does not make the data smaller
// (then `store` is set). Whatever loses is cut back.
TPassResult WriteData(TArchiveOutput& out, const TZipWriter::TEntrySource& source, const TPkCipher& cipher,
                      TZipWriter::TDeflateGuess guess, std::uint64_t expectedSize, unsigned threads, bool& store) {
    const std::uint64_t dataStart = out.Position();
    // The guess pays only beyond one Deflate block: a smaller entry is
    // deflated and, if need be, cut back at once (a tiny image.0 whose
    // records compress often wins, and would then be written twice).
    if (!store && guess == TZipWriter::TDeflateGuess::DoesNotCompress && expectedSize > kDeflateBlockSize) {
        const TStoreFirstResult first = StoreBesideDeflate(source, out, cipher, threads);
        if (!first.DeflateWins) {
            store = true;
            return first.Stored;
        }
        out.CutBack(dataStart);
    }
    if (!store) {
        const TPassResult pass = DeflatePass(source, out, cipher, threads);
        // Stored only when Deflate made it larger; a tie keeps Deflate.
        if (pass.Written <= pass.Read) return pass;
        out.CutBack(dataStart);
        store = true;
    }
    return StorePass(source, out, cipher);
}

}  // namespace

// An entry as added: a file found in the base directory, or data from a
// source (then Found holds the name only).
struct TPendingEntry {
    platform::TFoundFile Found;
    TZipWriter::TEntrySource Source;
    TZipWriter::TDeflateGuess Guess = TZipWriter::TDeflateGuess::Compresses;
};

namespace {

// Where an entry's data comes from while it is written: its source, or the
// file it was found as, opened now. Stays in place: the file source reads
// from the file held here.
class TEntryInput {
public:
    explicit TEntryInput(const TPendingEntry& entry) : source_(entry.Source) {
        if (source_) {
            platform::CurrentDosDateTime(dosDate_, dosTime_);
            return;
        }
        file_ = platform::TFile::OpenRead(entry.Found.FullPath);
        // The entry holds the file as long as it was when opened: a file
        // that grows meanwhile (even the archive itself) cannot make the
        // data outgrow the header fields chosen for it.
        expectedSize_ = file_.Size();
        source_ = FileSource(file_, expectedSize_);
        dosTime_ = entry.Found.DosTime;
        dosDate_ = entry.Found.DosDate;
    }
    TEntryInput(const TEntryInput&) = delete;
    TEntryInput& operator=(const TEntryInput&) = delete;

    const TZipWriter::TEntrySource& Source() const { return source_; }
    // The file's size when it was opened; 0 for data from a source.
    std::uint64_t ExpectedSize() const { return expectedSize_; }
    // The entry's time: the file's last write, or now for data from a source.
    std::uint16_t DosTime() const { return dosTime_; }
    std::uint16_t DosDate() const { return dosDate_; }

private:
    platform::TFile file_;
    TZipWriter::TEntrySource source_;
    std::uint64_t expectedSize_ = 0;
    std::uint16_t dosTime_ = 0;
    std::uint16_t dosDate_ = 0;
};

}  // namespace

struct TZipWriter::TImpl {
    platform::TFile File;
    bool HasArchive = false;
    fs::path BaseDirectory;
    std::string Password;
    TRandomSource Random = platform::FillRandom;
    std::uint64_t StartOffset = 0;
    unsigned Threads = 0;
    std::vector<TPendingEntry> Entries;

    TEntryRecord WriteEntry(TArchiveOutput& out, const TPendingEntry& entry, const TPkCipher& keyed);
    TPassResult WriteAttempts(TArchiveOutput& out, TEntryRecord& e, const TPendingEntry& entry,
                              const TEntryInput& input, const TPkCipher& keyed);
    void WriteAll();
};

// One entry: local header, encryption header, data, then the local header
// patched with the real CRC and sizes, and the data descriptor that bit 3 of
// the flags announces (4.3.9).
TEntryRecord TZipWriter::TImpl::WriteEntry(TArchiveOutput& out, const TPendingEntry& entry,
                                           const TPkCipher& keyed) {
    TEntryRecord e = NewEntryRecord(entry.Found);
    const TEntryInput input(entry);
    e.DosTime = input.DosTime();
    e.DosDate = input.DosDate();
    e.LocalHeaderOffset = out.Position();
    const TPassResult pass = WriteAttempts(out, e, entry, input, keyed);
    e.Crc = pass.Crc;
    e.UncompressedSize = pass.Read;
    e.CompressedSize = pass.Written + kEncryptionHeaderSize;

    out.Patch(e.LocalHeaderOffset, LocalHeader(e));
    out.Write(DataDescriptor(e));
    return e;
}

// Writes the local header, the encryption header and the data. The data is
// deflated; when Deflate comes out larger it is cut back and the data stored.
// The ZIP64 fields are chosen from the final sizes: a guess made before the
// data is known that turns out wrong (the data of an entry near 4 GiB) writes
// the entry again with the right header, so a field never wraps and never
// carries ZIP64 needlessly.
TPassResult TZipWriter::TImpl::WriteAttempts(TArchiveOutput& out, TEntryRecord& e, const TPendingEntry& entry,
                                             const TEntryInput& input, const TPkCipher& keyed) {
    // Every attempt writes this same encryption header.
    const TEncryptionHeader plainHeader = PlainEncryptionHeader(Random, e.DosTime);
    // The guess: Deflate wins, so the uncompressed size decides.
    e.Zip64 = EntryZip64ForData(input.ExpectedSize(), 0, e.LocalHeaderOffset);
    bool store = false;
    for (int attempt = 0;; ++attempt) {
        if (attempt == 3) throw text::TError("ZIP entry data changed while it was written");
        e.Method = store ? kMethodStored : kMethodDeflated;
        out.Write(LocalHeader(e));
        const TPkCipher cipher = WriteEncryptionHeader(out, keyed, plainHeader);
        const TPassResult pass =
            WriteData(out, input.Source(), cipher, entry.Guess, input.ExpectedSize(), Threads, store);
        e.Method = store ? kMethodStored : kMethodDeflated;
        const TEntryZip64 needed = EntryZip64ForData(pass.Read, pass.Written, e.LocalHeaderOffset);
        if (needed.Sizes == e.Zip64.Sizes) return pass;
        e.Zip64 = needed;
        out.CutBack(e.LocalHeaderOffset);
    }
}

void TZipWriter::TImpl::WriteAll() {
    TArchiveOutput out(File, StartOffset);
    const TPkCipher keyed(Password);
    std::vector<TEntryRecord> records;
    records.reserve(Entries.size());
    for (const TPendingEntry& entry : Entries) records.push_back(WriteEntry(out, entry, keyed));

    const std::uint64_t directoryOffset = out.Position();
    for (const TEntryRecord& e : records) out.Write(CentralHeader(e));
    const std::uint64_t directorySize = out.Position() - directoryOffset;
    out.Write(EndOfDirectory(records.size(), directorySize, directoryOffset));
    out.Flush();
}

TZipWriter::TZipWriter() : impl_(std::make_unique<TImpl>()) {}
TZipWriter::~TZipWriter() = default;

void TZipWriter::Create(const std::filesystem::path& archivePath) {
    impl_->File = platform::TFile();
    impl_->HasArchive = false;
    impl_->Entries.clear();
    if (archivePath.empty()) return;
    impl_->File = platform::TFile::Create(archivePath);
    impl_->HasArchive = true;
}

void TZipWriter::SetBaseDirectory(const std::filesystem::path& directory) { impl_->BaseDirectory = directory; }

void TZipWriter::AddFile(std::string_view name1251, bool includeHidden, TDeflateGuess guess) {
    if (!impl_->HasArchive) throw text::TError("Archive does not exist - Filename is blank");
    std::optional<platform::TFoundFile> found =
        platform::FindFile(impl_->BaseDirectory, text::Cp1251ToUtf16(name1251), includeHidden);
    if (found) impl_->Entries.push_back({std::move(*found), {}, guess});
}

void TZipWriter::AddData(std::string_view name1251, TEntrySource source) {
    if (!impl_->HasArchive) throw text::TError("Archive does not exist - Filename is blank");
    TPendingEntry entry;
    entry.Found.Name = text::Cp1251ToUtf16(name1251);
    entry.Found.Attributes = platform::kAttrArchive;
    entry.Source = std::move(source);
    impl_->Entries.push_back(std::move(entry));
}

void TZipWriter::SetThreads(unsigned threads) { impl_->Threads = threads; }

void TZipWriter::SetPassword(std::string password1251) { impl_->Password = std::move(password1251); }

void TZipWriter::WriteArchive() {
    TImpl& d = *impl_;
    if (!d.HasArchive) return;
    d.HasArchive = false;
    try {
        if (!d.Entries.empty()) d.WriteAll();
        d.Entries.clear();
        d.File.Close();
    } catch (...) {
        // Leave no half-written archive behind: a reader would take its
        // entries for a complete archive or fail on them without a reason.
        d.Entries.clear();
        try {
            if (d.File.IsOpen()) d.File.SetSize(0);
        } catch (...) {
        }
        d.File = platform::TFile();
        throw;
    }
}

void TZipWriter::SetRandomSource(TRandomSource source) { impl_->Random = std::move(source); }

void TZipWriter::SetStartOffset(std::uint64_t offset) { impl_->StartOffset = offset; }

}  // namespace zip
