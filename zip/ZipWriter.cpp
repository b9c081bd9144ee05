#include "ZipWriter.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include <zlib.h>

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
// that headers can be patched and a failed Deflate attempt cut back.
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

    // Encrypts the `size` bytes written from `at` on, where they lie: in the
    // buffer, or in the file (read back, encrypted, written over).
    void EncryptWritten(std::uint64_t at, std::uint64_t size, TPkCipher& cipher, std::vector<unsigned char>& scratch) {
        const std::uint64_t buffered = position_ - buffer_.size();
        if (at >= buffered) {
            cipher.Encrypt(reinterpret_cast<unsigned char*>(buffer_.data()) + (at - buffered),
                           static_cast<std::size_t>(size));
            return;
        }
        Flush();
        while (size > 0) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(scratch.size(), size));
            file_.Seek(at);
            if (ReadFull(file_, scratch.data(), n) != n) throw text::TError("Stream read error");
            cipher.Encrypt(scratch.data(), n);
            file_.Seek(at);
            file_.WriteAll(scratch.data(), n);
            at += n;
            size -= n;
        }
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

// A raw Deflate stream (no zlib header, 4.4.5 method 8) at the default
// level, ended on every path.
class TDeflater {
public:
    TDeflater() {
        std::memset(&z_, 0, sizeof z_);
        if (deflateInit2(&z_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw text::TError("Cannot start Deflate compression");
    }
    ~TDeflater() { deflateEnd(&z_); }
    TDeflater(const TDeflater&) = delete;
    TDeflater& operator=(const TDeflater&) = delete;
    z_stream& Stream() { return z_; }

private:
    z_stream z_;
};

// The bytes of one entry's data as they were read, and what became of them.
struct TPassResult {
    std::uint32_t Crc = 0;
    std::uint64_t Read = 0;
    std::uint64_t Written = 0;
};

// The buffers and the state of one archive being written.
class TEntryStreamer {
public:
    TEntryStreamer(TArchiveOutput& out) : out_(out), input_(kChunk), output_(kChunk) {}

    // Reads at most `limit` bytes of `in` and deflates them to the archive,
    // not yet encrypted: when Deflate loses, the output is thrown away, and
    // encrypting it would have cost as much as the store pass does.
    TPassResult Deflate(platform::TFile& in, std::uint64_t limit) {
        TDeflater deflater;
        z_stream& z = deflater.Stream();
        TPassResult r;
        bool last = false;
        while (!last) {
            const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, limit - r.Read));
            const std::size_t got = ReadFull(in, input_.data(), want);
            last = got < want || r.Read + got == limit;
            r.Crc = crc32(r.Crc, input_.data(), static_cast<uInt>(got));
            r.Read += got;
            z.next_in = input_.data();
            z.avail_in = static_cast<uInt>(got);
            int rc = Z_OK;
            do {
                z.next_out = output_.data();
                z.avail_out = static_cast<uInt>(output_.size());
                rc = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
                if (rc == Z_STREAM_ERROR) throw text::TError("Deflate compression failed");
                const std::size_t produced = output_.size() - z.avail_out;
                out_.Write(output_.data(), produced);
                r.Written += produced;
            } while (z.avail_out == 0);
            if (last && rc != Z_STREAM_END) throw text::TError("Deflate compression failed");
        }
        return r;
    }

    // Reads at most `limit` bytes of `in` and encrypts them to the archive.
    TPassResult Store(platform::TFile& in, std::uint64_t limit, TPkCipher& cipher) {
        TPassResult r;
        while (r.Read < limit) {
            const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, limit - r.Read));
            const std::size_t got = ReadFull(in, input_.data(), want);
            r.Crc = crc32(r.Crc, input_.data(), static_cast<uInt>(got));
            r.Read += got;
            cipher.Encrypt(input_.data(), got);
            out_.Write(input_.data(), got);
            if (got < want) break;
        }
        r.Written = r.Read;
        return r;
    }

    void EncryptWritten(std::uint64_t at, std::uint64_t size, TPkCipher& cipher) {
        out_.EncryptWritten(at, size, cipher, input_);
    }

private:
    TArchiveOutput& out_;
    std::vector<unsigned char> input_;
    std::vector<unsigned char> output_;
};

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

}  // namespace

struct TZipWriter::TImpl {
    platform::TFile File;
    bool HasArchive = false;
    fs::path BaseDirectory;
    std::string Password;
    TRandomSource Random = platform::FillRandom;
    std::uint64_t StartOffset = 0;
    std::vector<platform::TFoundFile> Entries;

    TEntryRecord WriteEntry(TArchiveOutput& out, TEntryStreamer& streamer, const platform::TFoundFile& file,
                            const TPkCipher& keyed);
    void WriteAll();
};

// One entry: local header with the sizes still unknown, encryption header,
// data, then the local header patched with the real CRC and sizes, and the
// data descriptor that bit 3 of the flags announces (4.3.9).
TEntryRecord TZipWriter::TImpl::WriteEntry(TArchiveOutput& out, TEntryStreamer& streamer,
                                           const platform::TFoundFile& file, const TPkCipher& keyed) {
    platform::TFile in = platform::TFile::OpenRead(file.FullPath);
    // The entry holds the file as long as it was when opened: a file that
    // grows meanwhile (even the archive itself) cannot make the data outgrow
    // the header fields chosen now.
    const std::uint64_t limit = in.Size();

    TEntryRecord e;
    e.Name = EntryName866(file.Name);
    if (!IsAscii(file.Name)) e.UnicodeName = text::Utf16ToUtf8(file.Name);
    e.Method = kMethodDeflated;
    e.DosTime = file.DosTime;
    e.DosDate = file.DosDate;
    e.ExternalAttributes = file.Attributes;
    e.LocalHeaderOffset = out.Position();
    // Stored data is never larger than the file, so the file's size plus the
    // encryption header bounds the compressed size.
    e.Zip64 = EntryZip64(limit, limit + kEncryptionHeaderSize, e.LocalHeaderOffset);
    const std::size_t headerSize = LocalHeader(e).size();
    out.Write(LocalHeader(e));

    // 6.1.3: ten random bytes, then the time's low and high byte; with bit 3
    // set the last one is the check byte readers compare (6.1.6).
    unsigned char header[kEncryptionHeaderSize];
    Random(header, 10);
    header[10] = static_cast<unsigned char>(e.DosTime & 0xFF);
    header[11] = static_cast<unsigned char>(e.DosTime >> 8);
    TPkCipher cipher = keyed;
    cipher.Encrypt(header, sizeof header);
    out.Write(header, sizeof header);

    const std::uint64_t dataStart = out.Position();
    TPassResult pass = streamer.Deflate(in, limit);
    if (pass.Written <= pass.Read) {
        streamer.EncryptWritten(dataStart, pass.Written, cipher);
    } else {
        // Deflate made it larger: store the file instead, over the same
        // encryption header.
        out.CutBack(dataStart);
        in.Seek(0);
        pass = streamer.Store(in, limit, cipher);
        e.Method = kMethodStored;
    }
    e.Crc = pass.Crc;
    e.UncompressedSize = pass.Read;
    e.CompressedSize = pass.Written + kEncryptionHeaderSize;

    const std::string finalHeader = LocalHeader(e);
    if (finalHeader.size() != headerSize) throw text::TError("ZIP local header changed its size");
    out.Patch(e.LocalHeaderOffset, finalHeader);
    out.Write(DataDescriptor(e));
    return e;
}

void TZipWriter::TImpl::WriteAll() {
    TArchiveOutput out(File, StartOffset);
    TEntryStreamer streamer(out);
    const TPkCipher keyed(Password);
    std::vector<TEntryRecord> records;
    records.reserve(Entries.size());
    for (const platform::TFoundFile& file : Entries) records.push_back(WriteEntry(out, streamer, file, keyed));

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

void TZipWriter::AddFile(std::string_view name1251, bool includeHidden) {
    if (!impl_->HasArchive) throw text::TError("Archive does not exist - Filename is blank");
    std::optional<platform::TFoundFile> found =
        platform::FindFile(impl_->BaseDirectory, text::Cp1251ToUtf16(name1251), includeHidden);
    if (found) impl_->Entries.push_back(std::move(*found));
}

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
