#include "ZipReader.h"

#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <set>

#include "PkCipher.h"
#include "ZipRecords.h"
#include "text/Codepage.h"

namespace zip {
namespace {

using TKind = TZipError::TKind;

constexpr std::uint16_t kFlagEncrypted = 0x0001;
constexpr std::uint16_t kFlagDescriptor = 0x0008;
constexpr std::uint16_t kFlagStrongEncryption = 0x0040;
constexpr std::uint16_t kFlagUtf8 = 0x0800;
constexpr std::uint16_t kFlagMaskedHeaders = 0x2000;

constexpr std::size_t kMaxComment = 0xFFFF;

[[noreturn]] void Damaged(const std::string& what) { throw TZipError(TKind::Damaged, "Damaged ZIP archive: " + what); }

// `offset + size <= limit`, without overflowing.
bool Fits(std::uint64_t offset, std::uint64_t size, std::uint64_t limit) {
    return offset <= limit && size <= limit - offset;
}

std::uint64_t Le(const unsigned char* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

// Little-endian fields of one record held in memory, read in order.
class TFields {
public:
    TFields(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}
    std::uint64_t U16() { return Take(2); }
    std::uint64_t U32() { return Take(4); }
    std::uint64_t U64() { return Take(8); }
    std::size_t Left() const { return size_ - pos_; }

private:
    std::uint64_t Take(int n) {
        if (Left() < static_cast<std::size_t>(n)) Damaged("a record is cut short");
        const std::uint64_t v = Le(data_ + pos_, n);
        pos_ += static_cast<std::size_t>(n);
        return v;
    }
    const unsigned char* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

std::string ReadBytes(IByteSource& source, std::uint64_t offset, std::size_t size) {
    if (!Fits(offset, size, source.Size())) Damaged("a record runs past the end of the file");
    std::string s(size, '\0');
    if (size) source.ReadAt(offset, s.data(), size);
    return s;
}

const unsigned char* Bytes(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

bool IsValidUtf8(std::string_view s) {
    return text::Utf16ToUtf8(text::Utf8ToUtf16(s)) == s;
}

// The run of fields that local and central headers share, in the same order:
// version needed to extract, flags, method, time, date, CRC, both sizes, and
// the lengths of the name and the extra field.
struct TSharedFields {
    std::size_t NameLength = 0;
    std::size_t ExtraLength = 0;
};

TSharedFields ReadSharedFields(TFields& h, TZipEntry& e) {
    e.VersionNeeded = static_cast<std::uint16_t>(h.U16());
    e.Flags = static_cast<std::uint16_t>(h.U16());
    e.Method = static_cast<std::uint16_t>(h.U16());
    e.DosTime = static_cast<std::uint16_t>(h.U16());
    e.DosDate = static_cast<std::uint16_t>(h.U16());
    e.Crc = static_cast<std::uint32_t>(h.U32());
    e.CompressedSize = h.U32();
    e.UncompressedSize = h.U32();
    TSharedFields lengths;
    lengths.NameLength = static_cast<std::size_t>(h.U16());
    lengths.ExtraLength = static_cast<std::size_t>(h.U16());
    return lengths;
}

// The values a header left to its ZIP64 extra field (4.5.3): only the fields
// that hold the marker, in this order.
struct TZip64Wanted {
    bool Uncompressed = false;
    bool Compressed = false;
    bool Offset = false;
    bool Disk = false;
};

struct TExtraFields {
    bool HasZip64 = false;
    std::uint64_t Uncompressed = 0, Compressed = 0, Offset = 0, Disk = 0;
    bool HasUnicodePath = false;
    std::string UnicodeName;
};

TExtraFields ParseExtra(const std::string& extra, const TZip64Wanted& wanted, const std::string& rawName) {
    TExtraFields out;
    std::size_t pos = 0;
    while (extra.size() - pos >= 4) {
        const std::uint16_t id = static_cast<std::uint16_t>(Le(Bytes(extra) + pos, 2));
        const std::size_t size = static_cast<std::size_t>(Le(Bytes(extra) + pos + 2, 2));
        pos += 4;
        if (size > extra.size() - pos) Damaged("an extra field runs past its header");
        TFields f(Bytes(extra) + pos, size);
        if (id == kZip64FieldId) {
            if (out.HasZip64) Damaged("two ZIP64 extra fields");
            out.HasZip64 = true;
            if (wanted.Uncompressed) out.Uncompressed = f.U64();
            if (wanted.Compressed) out.Compressed = f.U64();
            if (wanted.Offset) out.Offset = f.U64();
            if (wanted.Disk) out.Disk = f.U32();
        } else if (id == kUnicodePathFieldId && size >= 5 && !out.HasUnicodePath) {
            // Version 1 and the CRC of the stored name: a field written for
            // another name (the name was changed without it) is ignored.
            const std::uint64_t version = Le(Bytes(extra) + pos, 1);
            const std::uint32_t nameCrc = static_cast<std::uint32_t>(Le(Bytes(extra) + pos + 1, 4));
            const std::uint32_t actual = static_cast<std::uint32_t>(
                crc32(0, Bytes(rawName), static_cast<uInt>(rawName.size())));
            std::string name = extra.substr(pos + 5, size - 5);
            if (version == 1 && nameCrc == actual) {
                if (name.empty() || !IsValidUtf8(name)) Damaged("a Unicode Path field is not valid UTF-8");
                out.HasUnicodePath = true;
                out.UnicodeName = std::move(name);
            }
        }
        pos += size;
    }
    // Up to three bytes of padding after the last field are tolerated.
    return out;
}

// Whether the writer's system (the high byte of "version made by") keeps
// names in an OEM code page: MS-DOS, OS/2 HPFS, Windows NTFS, VFAT.
bool IsDosHost(std::uint16_t versionMadeBy) {
    const int host = versionMadeBy >> 8;
    return host == 0 || host == 6 || host == 11 || host == 14;
}

// Fills `entry`'s name from the stored bytes, its flags and the Unicode Path field.
void DecodeName(TZipEntry& entry, const TExtraFields& extra) {
    if (extra.HasUnicodePath) {
        entry.Name = extra.UnicodeName;
        entry.HasUnicodePath = true;
    } else if (entry.Flags & kFlagUtf8) {
        if (!IsValidUtf8(entry.RawName)) Damaged("an entry name is not valid UTF-8");
        entry.Name = entry.RawName;
    } else if (!IsDosHost(entry.VersionMadeBy) && IsValidUtf8(entry.RawName)) {
        // A Unix or Mac writer stores the system's own name, UTF-8 nowadays.
        entry.Name = entry.RawName;
    } else {
        entry.Name = text::Utf16ToUtf8(text::Cp866ToUtf16(entry.RawName));
    }
}

// An entry name (UTF-8) inside a message (Windows-1251).
std::string Quoted(const std::string& name) {
    std::string s(1, '"');
    s += text::Utf8ToCp1251(name);
    s += '"';
    return s;
}

// Delivers an entry's data in chunks, decrypted when a cipher is given. For
// a large encrypted entry a thread of its own reads and decrypts ahead while
// the caller inflates: the cipher is a serial chain of table lookups per
// byte, about as slow as inflate itself, and the two then run side by side.
// At most kSlots chunks are in flight.
class TChunkSource {
public:
    TChunkSource(IByteSource& source, std::uint64_t offset, std::uint64_t size, TPkCipher* cipher, bool ahead)
        : source_(source), offset_(offset), left_(size), cipher_(cipher) {
        for (int i = 0; i < (ahead ? kSlots : 1); ++i) buffers_[i] = std::make_unique<unsigned char[]>(TZipReader::kChunkSize);
        if (ahead) thread_ = std::thread([this] { Produce(); });
    }
    ~TChunkSource() {
        if (!thread_.joinable()) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    TChunkSource(const TChunkSource&) = delete;
    TChunkSource& operator=(const TChunkSource&) = delete;

    // The next chunk, valid until the next call; size 0 at the end. What
    // reading failed with is thrown here.
    std::pair<const unsigned char*, std::size_t> Next() {
        if (!thread_.joinable()) {
            const std::size_t n = Fill(buffers_[0].get());
            return {buffers_[0].get(), n};
        }
        std::unique_lock<std::mutex> lock(mutex_);
        if (holding_) {
            holding_ = false;
            head_ = (head_ + 1) % kSlots;
            --count_;
            changed_.notify_all();
        }
        changed_.wait(lock, [this] { return count_ > 0 || done_; });
        if (count_ == 0) {
            if (error_) std::rethrow_exception(error_);
            return {nullptr, 0};
        }
        holding_ = true;
        return {buffers_[head_].get(), sizes_[head_]};
    }

private:
    static constexpr int kSlots = 4;

    // Reads and decrypts the next chunk into `buffer`; 0 at the end.
    std::size_t Fill(unsigned char* buffer) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left_, TZipReader::kChunkSize));
        if (n == 0) return 0;
        source_.ReadAt(offset_, buffer, n);
        offset_ += n;
        left_ -= n;
        if (cipher_) cipher_->Decrypt(buffer, n);
        return n;
    }

    void Produce() {
        try {
            for (;;) {
                int slot = 0;
                {
                    std::unique_lock<std::mutex> lock(mutex_);
                    changed_.wait(lock, [this] { return count_ < kSlots || stop_; });
                    if (stop_) return;
                    slot = (head_ + count_) % kSlots;
                }
                const std::size_t n = Fill(buffers_[slot].get());
                std::lock_guard<std::mutex> lock(mutex_);
                if (n == 0) {
                    done_ = true;
                    changed_.notify_all();
                    return;
                }
                sizes_[slot] = n;
                ++count_;
                changed_.notify_all();
            }
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex_);
            error_ = std::current_exception();
            done_ = true;
            changed_.notify_all();
        }
    }

    IByteSource& source_;
    std::uint64_t offset_;
    std::uint64_t left_;
    TPkCipher* cipher_;
    std::unique_ptr<unsigned char[]> buffers_[kSlots];
    std::size_t sizes_[kSlots] = {};
    int head_ = 0;          // the oldest filled slot
    int count_ = 0;         // filled slots, the one the caller holds included
    bool holding_ = false;  // the caller works on buffers_[head_]
    bool done_ = false;
    bool stop_ = false;
    std::exception_ptr error_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread thread_;
};

}  // namespace

void TMemorySource::ReadAt(std::uint64_t offset, void* data, std::size_t size) {
    if (!Fits(offset, size, bytes_.size())) throw text::TError("Read past the end of the archive");
    std::memcpy(data, bytes_.data() + offset, size);
}

TFileSource::TFileSource(const std::filesystem::path& path) : file_(platform::TFile::OpenRead(path)) {
    size_ = file_.Size();
}

void TFileSource::ReadAt(std::uint64_t offset, void* data, std::size_t size) {
    if (!Fits(offset, size, size_)) throw text::TError("Read past the end of the archive");
    if (offset != position_) {
        file_.Seek(offset);
        position_ = offset;
    }
    auto* p = static_cast<char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const std::size_t n = file_.Read(p + done, size - done);
        if (n == 0) {
            // The file shrank since it was opened.
            position_ = ~std::uint64_t{0};
            Damaged("the file ends early");
        }
        done += n;
        position_ += n;
    }
}

TZipReader::TZipReader(IByteSource& source) : source_(source) { ReadDirectory(); }

const TZipEntry* TZipReader::Find(std::string_view name) const {
    for (const TZipEntry& e : entries_)
        if (e.Name == name) return &e;
    return nullptr;
}

void TZipReader::ReadDirectory() {
    const std::uint64_t fileSize = source_.Size();
    if (fileSize < kEndRecordSize) Damaged("no end of central directory record");

    // The end record closes the file, followed only by its own comment.
    const std::size_t tailSize = static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, kEndRecordSize + kMaxComment));
    const std::uint64_t tailStart = fileSize - tailSize;
    const std::string tail = ReadBytes(source_, tailStart, tailSize);
    std::size_t endAt = std::string::npos;
    for (std::size_t i = tailSize - kEndRecordSize + 1; i-- > 0;) {
        if (Le(Bytes(tail) + i, 4) == kEndSignature &&
            i + kEndRecordSize + Le(Bytes(tail) + i + 20, 2) == tailSize) {
            endAt = i;
            break;
        }
    }
    if (endAt == std::string::npos) Damaged("no end of central directory record");
    const std::uint64_t endOffset = tailStart + endAt;
    TFields end(Bytes(tail) + endAt + 4, kEndRecordSize - 4);
    const std::uint64_t thisDisk = end.U16();
    const std::uint64_t directoryDisk = end.U16();
    std::uint64_t countOnDisk = end.U16();
    std::uint64_t count = end.U16();
    std::uint64_t directorySize = end.U32();
    std::uint64_t directoryOffset = end.U32();
    std::uint64_t directoryEnd = endOffset;

    // The ZIP64 end record, found through its locator right before the end record.
    if (endOffset >= kZip64LocatorSize) {
        const std::string locator = ReadBytes(source_, endOffset - kZip64LocatorSize, kZip64LocatorSize);
        if (Le(Bytes(locator), 4) == kZip64LocatorSignature) {
            TFields l(Bytes(locator) + 4, kZip64LocatorSize - 4);
            const std::uint64_t recordDisk = l.U32();
            const std::uint64_t recordOffset = l.U64();
            const std::uint64_t disks = l.U32();
            if (recordDisk != 0 || disks > 1) throw TZipError(TKind::Unsupported, "Archives on several disks are not supported");
            const std::uint64_t locatorOffset = endOffset - kZip64LocatorSize;
            if (!Fits(recordOffset, kZip64EndRecordSize, locatorOffset)) Damaged("the ZIP64 end record lies outside the file");
            const std::string record = ReadBytes(source_, recordOffset, kZip64EndRecordSize);
            TFields r(Bytes(record), record.size());
            if (r.U32() != kZip64EndSignature) Damaged("the ZIP64 locator does not point at a ZIP64 end record");
            const std::uint64_t recordSize = r.U64();
            // The record (and any extensible data) ends where the locator begins.
            if (recordSize < kZip64EndRecordSize - 12 || recordOffset + 12 + recordSize != locatorOffset)
                Damaged("the ZIP64 end record's size is wrong");
            r.U16();  // version made by
            r.U16();  // version needed
            const std::uint64_t disk64 = r.U32();
            const std::uint64_t directoryDisk64 = r.U32();
            const std::uint64_t countOnDisk64 = r.U64();
            const std::uint64_t count64 = r.U64();
            const std::uint64_t size64 = r.U64();
            const std::uint64_t offset64 = r.U64();
            if (disk64 != 0 || directoryDisk64 != 0) throw TZipError(TKind::Unsupported, "Archives on several disks are not supported");
            // A field of the end record holds either the marker or the same value.
            if ((count != kZip64Marker16 && count != count64) || (countOnDisk != kZip64Marker16 && countOnDisk != countOnDisk64) ||
                (directorySize != kZip64Marker32 && directorySize != size64) ||
                (directoryOffset != kZip64Marker32 && directoryOffset != offset64))
                Damaged("the end record and the ZIP64 end record disagree");
            count = count64;
            countOnDisk = countOnDisk64;
            directorySize = size64;
            directoryOffset = offset64;
            directoryEnd = recordOffset;
        }
    }
    if (thisDisk != 0 || directoryDisk != 0) throw TZipError(TKind::Unsupported, "Archives on several disks are not supported");
    if (countOnDisk != count) Damaged("the entry counts of the end record disagree");
    // The directory ends where the end records begin.
    if (directoryOffset > directoryEnd || directoryEnd - directoryOffset != directorySize)
        Damaged("the central directory is not where the end record says");
    if (count > directorySize / kCentralHeaderSize) Damaged("more entries than the central directory can hold");

    std::uint64_t pos = directoryOffset;
    std::set<std::string> names;
    for (std::uint64_t i = 0; i < count; ++i) {
        if (!Fits(pos, kCentralHeaderSize, directoryEnd)) Damaged("the central directory is cut short");
        const std::string header = ReadBytes(source_, pos, kCentralHeaderSize);
        TFields h(Bytes(header), header.size());
        if (h.U32() != kCentralSignature) Damaged("a central directory header has no signature");
        TZipEntry e;
        e.VersionMadeBy = static_cast<std::uint16_t>(h.U16());
        const auto [nameLength, extraLength] = ReadSharedFields(h, e);
        const std::size_t commentLength = static_cast<std::size_t>(h.U16());
        std::uint64_t disk = h.U16();
        h.U16();  // internal attributes
        e.ExternalAttributes = static_cast<std::uint32_t>(h.U32());
        e.LocalHeaderOffset = h.U32();
        const std::uint64_t variable = std::uint64_t{nameLength} + extraLength + commentLength;
        if (!Fits(pos + kCentralHeaderSize, variable, directoryEnd)) Damaged("a central directory header runs past the directory");
        e.RawName = ReadBytes(source_, pos + kCentralHeaderSize, nameLength);
        const std::string extra = ReadBytes(source_, pos + kCentralHeaderSize + nameLength, extraLength);
        pos += kCentralHeaderSize + variable;

        TZip64Wanted wanted;
        wanted.Uncompressed = e.UncompressedSize == kZip64Marker32;
        wanted.Compressed = e.CompressedSize == kZip64Marker32;
        wanted.Offset = e.LocalHeaderOffset == kZip64Marker32;
        wanted.Disk = disk == kZip64Marker16;
        const TExtraFields fields = ParseExtra(extra, wanted, e.RawName);
        if (wanted.Uncompressed || wanted.Compressed || wanted.Offset || wanted.Disk) {
            if (!fields.HasZip64) Damaged("a ZIP64 value is missing in " + Quoted(e.RawName));
            e.Zip64 = true;
            if (wanted.Uncompressed) e.UncompressedSize = fields.Uncompressed;
            if (wanted.Compressed) e.CompressedSize = fields.Compressed;
            if (wanted.Offset) e.LocalHeaderOffset = fields.Offset;
            if (wanted.Disk) disk = fields.Disk;
        }
        if (disk != 0) throw TZipError(TKind::Unsupported, "Archives on several disks are not supported");
        DecodeName(e, fields);
        if (!IsSafeEntryName(e.Name)) Damaged("unsafe entry name " + Quoted(e.Name));
        if (!names.insert(e.Name).second) Damaged("two entries named " + Quoted(e.Name));
        if (e.Flags & (kFlagStrongEncryption | kFlagMaskedHeaders))
            throw TZipError(TKind::Unsupported, "Strong encryption is not supported (" + Quoted(e.Name) + ")");
        if (e.Encrypted() && e.CompressedSize < kEncryptionHeaderSize)
            Damaged("the encrypted entry " + Quoted(e.Name) + " is shorter than its encryption header");
        if (e.Method == kMethodStored &&
            e.CompressedSize - (e.Encrypted() ? kEncryptionHeaderSize : 0) != e.UncompressedSize)
            Damaged("the sizes of the stored entry " + Quoted(e.Name) + " disagree");
        ReadLocalHeader(e, directoryOffset);
        entries_.push_back(std::move(e));
    }
    if (pos != directoryEnd) Damaged("the central directory holds more than its entries");

    // No two entries share a byte: each ends before the next begins.
    std::vector<const TZipEntry*> byOffset;
    for (const TZipEntry& e : entries_) byOffset.push_back(&e);
    std::sort(byOffset.begin(), byOffset.end(),
              [](const TZipEntry* a, const TZipEntry* b) { return a->LocalHeaderOffset < b->LocalHeaderOffset; });
    for (std::size_t i = 1; i < byOffset.size(); ++i)
        if (byOffset[i - 1]->End > byOffset[i]->LocalHeaderOffset)
            Damaged("the entries " + Quoted(byOffset[i - 1]->Name) + " and " + Quoted(byOffset[i]->Name) + " overlap");
}

void TZipReader::ReadLocalHeader(TZipEntry& e, std::uint64_t directoryOffset) {
    // Local headers, data and descriptors all lie before the central directory.
    if (!Fits(e.LocalHeaderOffset, kLocalHeaderSize, directoryOffset))
        Damaged("the local header of " + Quoted(e.Name) + " lies outside the entries");
    const std::string header = ReadBytes(source_, e.LocalHeaderOffset, kLocalHeaderSize);
    TFields h(Bytes(header), header.size());
    if (h.U32() != kLocalSignature) Damaged("the local header of " + Quoted(e.Name) + " has no signature");
    TZipEntry local;
    const auto [nameLength, extraLength] = ReadSharedFields(h, local);
    const std::uint64_t flags = local.Flags, method = local.Method, time = local.DosTime, date = local.DosDate;
    const std::uint64_t crc = local.Crc;
    std::uint64_t compressed = local.CompressedSize;
    std::uint64_t uncompressed = local.UncompressedSize;
    const std::uint64_t variableStart = e.LocalHeaderOffset + kLocalHeaderSize;
    if (!Fits(variableStart, std::uint64_t{nameLength} + extraLength, directoryOffset))
        Damaged("the local header of " + Quoted(e.Name) + " runs into the central directory");
    if (ReadBytes(source_, variableStart, nameLength) != e.RawName)
        Damaged("the local header's name differs from the central directory's " + Quoted(e.Name));
    const std::string extra = ReadBytes(source_, variableStart + nameLength, extraLength);

    // The bits that change how the data is read must agree.
    constexpr std::uint16_t kAgreeing = kFlagEncrypted | kFlagDescriptor | kFlagStrongEncryption | kFlagUtf8;
    if ((flags & kAgreeing) != (e.Flags & kAgreeing) || method != e.Method || time != e.DosTime || date != e.DosDate)
        Damaged("the local header of " + Quoted(e.Name) + " disagrees with the central directory");

    TZip64Wanted wanted;
    wanted.Uncompressed = uncompressed == kZip64Marker32;
    wanted.Compressed = compressed == kZip64Marker32;
    const TExtraFields fields = ParseExtra(extra, wanted, e.RawName);
    // Both headers carry the same Unicode Path, or neither does.
    if (fields.HasUnicodePath != e.HasUnicodePath || (fields.HasUnicodePath && fields.UnicodeName != e.Name))
        Damaged("the local header's name differs from the central directory's " + Quoted(e.Name));
    bool localZip64 = false;
    if (wanted.Uncompressed || wanted.Compressed) {
        if (!fields.HasZip64) Damaged("a ZIP64 value is missing in the local header of " + Quoted(e.Name));
        localZip64 = true;
        if (wanted.Uncompressed) uncompressed = fields.Uncompressed;
        if (wanted.Compressed) compressed = fields.Compressed;
    }
    // With a descriptor the local header may leave CRC and sizes at 0;
    // whatever it does say must be right.
    const bool lenient = e.HasDescriptor();
    auto agrees = [lenient](std::uint64_t local, std::uint64_t central) {
        return local == central || (lenient && local == 0);
    };
    if (!agrees(crc, e.Crc) || !agrees(compressed, e.CompressedSize) || !agrees(uncompressed, e.UncompressedSize))
        Damaged("the local header of " + Quoted(e.Name) + " disagrees with the central directory");

    e.DataOffset = variableStart + nameLength + extraLength;
    if (!Fits(e.DataOffset, e.CompressedSize, directoryOffset))
        Damaged("the data of " + Quoted(e.Name) + " runs past the entries");
    e.End = e.DataOffset + e.CompressedSize;

    if (e.HasDescriptor()) {
        // Signature (optional), CRC, then both sizes: 8 bytes each when the
        // local header went to ZIP64.
        const bool wide = localZip64 || fields.HasZip64;
        const std::size_t sizesLength = wide ? 16 : 8;
        const std::uint64_t available = directoryOffset - e.End;
        std::size_t at = 0;
        std::string d = ReadBytes(source_, e.End, static_cast<std::size_t>(std::min<std::uint64_t>(available, 4 + 4 + sizesLength)));
        if (d.size() >= 4 && Le(Bytes(d), 4) == kDescriptorSignature) at = 4;
        if (d.size() < at + 4 + sizesLength) Damaged("the data descriptor of " + Quoted(e.Name) + " is cut short");
        TFields f(Bytes(d) + at, 4 + sizesLength);
        const std::uint64_t dCrc = f.U32();
        const std::uint64_t dCompressed = wide ? f.U64() : f.U32();
        const std::uint64_t dUncompressed = wide ? f.U64() : f.U32();
        if (dCrc != e.Crc || dCompressed != e.CompressedSize || dUncompressed != e.UncompressedSize)
            Damaged("the data descriptor of " + Quoted(e.Name) + " disagrees with the central directory");
        e.End += at + 4 + sizesLength;
    }
}

void TZipReader::ReadEntry(const TZipEntry& e, std::string_view password, const TSink& sink) const {
    ReadEntryData(source_, e, password, sink);
}

std::optional<TZipEntry> ReadFirstLocalEntry(IByteSource& source) {
    const std::string header = ReadBytes(source, 0, kLocalHeaderSize);
    TFields h(Bytes(header), header.size());
    if (h.U32() != kLocalSignature) Damaged("the archive does not begin with a local header");
    TZipEntry e;
    const auto [nameLength, extraLength] = ReadSharedFields(h, e);
    e.RawName = ReadBytes(source, kLocalHeaderSize, nameLength);
    const std::string extra = ReadBytes(source, kLocalHeaderSize + nameLength, extraLength);
    TZip64Wanted wanted;
    wanted.Uncompressed = e.UncompressedSize == kZip64Marker32;
    wanted.Compressed = e.CompressedSize == kZip64Marker32;
    const TExtraFields fields = ParseExtra(extra, wanted, e.RawName);
    if (wanted.Uncompressed || wanted.Compressed) {
        if (!fields.HasZip64) Damaged("a ZIP64 value is missing in the local header of " + Quoted(e.RawName));
        e.Zip64 = true;
        if (wanted.Uncompressed) e.UncompressedSize = fields.Uncompressed;
        if (wanted.Compressed) e.CompressedSize = fields.Compressed;
    }
    // A header that leaves its sizes to the data descriptor, or a kind of
    // encryption this reader does not know, says too little.
    if (e.CompressedSize == 0 || (e.Flags & (kFlagStrongEncryption | kFlagMaskedHeaders))) return std::nullopt;
    // Names are read as a DOS host writes them; the central directory tells the host.
    DecodeName(e, fields);
    e.DataOffset = kLocalHeaderSize + nameLength + extraLength;
    if (!Fits(e.DataOffset, e.CompressedSize, source.Size())) Damaged("the data of " + Quoted(e.Name) + " runs past the archive");
    if (e.Encrypted() && e.CompressedSize < kEncryptionHeaderSize)
        Damaged("the encrypted entry " + Quoted(e.Name) + " is shorter than its encryption header");
    if (e.Method == kMethodStored && e.CompressedSize - (e.Encrypted() ? kEncryptionHeaderSize : 0) != e.UncompressedSize)
        Damaged("the sizes of the stored entry " + Quoted(e.Name) + " disagree");
    e.End = e.DataOffset + e.CompressedSize;
    return e;
}

void ReadEntryData(IByteSource& source, const TZipEntry& e, std::string_view password, const TZipReader::TSink& sink) {
    constexpr std::size_t kChunkSize = TZipReader::kChunkSize;
    if (e.Method != kMethodStored && e.Method != kMethodDeflated)
        throw TZipError(TKind::Unsupported, "Compression method " + std::to_string(e.Method) + " is not supported (" +
                                                Quoted(e.Name) + ")");
    std::uint64_t offset = e.DataOffset;
    std::uint64_t left = e.CompressedSize;
    std::unique_ptr<TPkCipher> cipher;
    if (e.Encrypted()) {
        cipher = std::make_unique<TPkCipher>(password);
        unsigned char header[kEncryptionHeaderSize];
        source.ReadAt(offset, header, sizeof header);
        cipher->Decrypt(header, sizeof header);
        // The last byte repeats the high byte of the time (with a descriptor)
        // or of the CRC.
        const unsigned char check = e.HasDescriptor() ? static_cast<unsigned char>(e.DosTime >> 8)
                                                      : static_cast<unsigned char>(e.Crc >> 24);
        if (header[kEncryptionHeaderSize - 1] != check)
            throw TZipError(TKind::WrongPassword, "Wrong password for " + Quoted(e.Name));
        offset += kEncryptionHeaderSize;
        left -= kEncryptionHeaderSize;
    }

    struct TInflater {
        z_stream z{};
        bool open = false;
        ~TInflater() {
            if (open) inflateEnd(&z);
        }
    } inflater;
    if (e.Method == kMethodDeflated) {
        if (inflateInit2(&inflater.z, -MAX_WBITS) != Z_OK) throw text::TError("Out of memory");
        inflater.open = true;
    }

    // Reading ahead pays for itself only over a few chunks.
    const bool ahead = cipher && left > 4 * kChunkSize;
    TChunkSource chunks(source, offset, left, cipher.get(), ahead);
    const auto out = std::make_unique<unsigned char[]>(kChunkSize);
    std::uint64_t produced = 0;
    uLong crc = crc32(0, nullptr, 0);
    bool streamEnd = false;
    auto deliver = [&](const unsigned char* data, std::size_t size) {
        if (size == 0) return;
        if (size > e.UncompressedSize - produced) Damaged(Quoted(e.Name) + " holds more data than its header says");
        produced += size;
        crc = crc32(crc, data, static_cast<uInt>(size));
        sink(reinterpret_cast<const char*>(data), size);
    };
    for (;;) {
        const auto [in, n] = chunks.Next();
        if (n == 0) break;
        if (e.Method == kMethodStored) {
            deliver(in, n);
            continue;
        }
        if (streamEnd) Damaged("data after the end of the Deflate stream of " + Quoted(e.Name));
        z_stream& z = inflater.z;
        z.next_in = const_cast<unsigned char*>(in);
        z.avail_in = static_cast<uInt>(n);
        do {
            z.next_out = out.get();
            z.avail_out = static_cast<uInt>(kChunkSize);
            const int rc = inflate(&z, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
                Damaged("the data of " + Quoted(e.Name) + " does not inflate" +
                        std::string(e.Encrypted() ? " (damaged, or a wrong password)" : ""));
            deliver(out.get(), kChunkSize - z.avail_out);
            if (rc == Z_STREAM_END) {
                streamEnd = true;
                if (z.avail_in != 0) Damaged("data after the end of the Deflate stream of " + Quoted(e.Name));
                break;
            }
            if (rc == Z_BUF_ERROR && z.avail_in == 0) break;
        } while (z.avail_in > 0 || z.avail_out == 0);
    }
    if (e.Method == kMethodDeflated && !streamEnd) Damaged("the Deflate stream of " + Quoted(e.Name) + " is cut short");
    if (produced != e.UncompressedSize) Damaged(Quoted(e.Name) + " holds less data than its header says");
    if (static_cast<std::uint32_t>(crc) != e.Crc)
        Damaged("CRC error in " + Quoted(e.Name) + std::string(e.Encrypted() ? " (damaged, or a wrong password)" : ""));
}

std::string DosDateTimeText(std::uint16_t dosDate, std::uint16_t dosTime) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", 1980u + (dosDate >> 9), (dosDate >> 5) & 0x0Fu,
                  dosDate & 0x1Fu, dosTime >> 11, (dosTime >> 5) & 0x3Fu, (dosTime & 0x1Fu) * 2u);
    return buf;
}

bool IsSafeEntryName(std::string_view name) {
    if (name.empty() || name.find('\0') != std::string_view::npos) return false;
    if (name.front() == '/' || name.front() == '\\') return false;
    if (name.size() >= 2 && name[1] == ':') return false;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t stop = name.find_first_of("/\\", start);
        if (stop == std::string_view::npos) stop = name.size();
        if (name.substr(start, stop - start) == "..") return false;
        start = stop + 1;
    }
    return true;
}

}  // namespace zip
