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

// An archive split or spanned over several disks (8.0): valid, and not read here.
[[noreturn]] void SeveralDisks() {
    throw TZipError(TKind::Unsupported, "Archives on several disks are not supported");
}

// Where the central directory lies and how many entries it holds, as the end
// records say.
struct TDirectoryEnd {
    std::uint64_t ThisDisk = 0;       // the end record's own; the ZIP64 end record's disks
    std::uint64_t DirectoryDisk = 0;  // are checked where it is read
    std::uint64_t CountOnDisk = 0;
    std::uint64_t Count = 0;
    std::uint64_t Size = 0;
    std::uint64_t Offset = 0;
    std::uint64_t End = 0;  // where the directory must end: the first of the end records
};

// The end of central directory record (4.3.16). It closes the file, followed
// only by its own comment.
TDirectoryEnd ReadEndRecord(IByteSource& source) {
    const std::uint64_t fileSize = source.Size();
    if (fileSize < kEndRecordSize) Damaged("no end of central directory record");
    const std::size_t tailSize = static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, kEndRecordSize + kMaxComment));
    const std::uint64_t tailStart = fileSize - tailSize;
    const std::string tail = ReadBytes(source, tailStart, tailSize);
    std::size_t endAt = std::string::npos;
    for (std::size_t i = tailSize - kEndRecordSize + 1; i-- > 0;) {
        if (Le(Bytes(tail) + i, 4) == kEndSignature &&
            i + kEndRecordSize + Le(Bytes(tail) + i + 20, 2) == tailSize) {
            endAt = i;
            break;
        }
    }
    if (endAt == std::string::npos) Damaged("no end of central directory record");
    TFields end(Bytes(tail) + endAt + 4, kEndRecordSize - 4);
    TDirectoryEnd d;
    d.ThisDisk = end.U16();
    d.DirectoryDisk = end.U16();
    d.CountOnDisk = end.U16();
    d.Count = end.U16();
    d.Size = end.U32();
    d.Offset = end.U32();
    d.End = tailStart + endAt;
    return d;
}

// The ZIP64 end of central directory locator (4.3.15), right before the end
// record at `endOffset`: the offset of the ZIP64 end record, or nothing when
// there is no locator.
std::optional<std::uint64_t> ReadZip64Locator(IByteSource& source, std::uint64_t endOffset) {
    if (endOffset < kZip64LocatorSize) return std::nullopt;
    const std::string locator = ReadBytes(source, endOffset - kZip64LocatorSize, kZip64LocatorSize);
    if (Le(Bytes(locator), 4) != kZip64LocatorSignature) return std::nullopt;
    TFields l(Bytes(locator) + 4, kZip64LocatorSize - 4);
    const std::uint64_t recordDisk = l.U32();
    const std::uint64_t recordOffset = l.U64();
    const std::uint64_t disks = l.U32();
    if (recordDisk != 0 || disks > 1) SeveralDisks();
    return recordOffset;
}

// A field of the end record holds either the marker or the value of the
// ZIP64 end record (4.4.1.4).
void CheckEndRecordsAgree(const TDirectoryEnd& end, const TDirectoryEnd& end64) {
    if ((end.Count != kZip64Marker16 && end.Count != end64.Count) ||
        (end.CountOnDisk != kZip64Marker16 && end.CountOnDisk != end64.CountOnDisk) ||
        (end.Size != kZip64Marker32 && end.Size != end64.Size) ||
        (end.Offset != kZip64Marker32 && end.Offset != end64.Offset))
        Damaged("the end record and the ZIP64 end record disagree");
}

// The ZIP64 end of central directory record (4.3.14) at `recordOffset`; its
// counts, size and offset replace those of the end record `d`, and the
// directory then ends where it begins.
void ReadZip64EndRecord(IByteSource& source, std::uint64_t recordOffset, TDirectoryEnd& d) {
    const std::uint64_t locatorOffset = d.End - kZip64LocatorSize;
    if (!Fits(recordOffset, kZip64EndRecordSize, locatorOffset)) Damaged("the ZIP64 end record lies outside the file");
    const std::string record = ReadBytes(source, recordOffset, kZip64EndRecordSize);
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
    TDirectoryEnd d64;
    d64.CountOnDisk = r.U64();
    d64.Count = r.U64();
    d64.Size = r.U64();
    d64.Offset = r.U64();
    if (disk64 != 0 || directoryDisk64 != 0) SeveralDisks();
    CheckEndRecordsAgree(d, d64);
    d.CountOnDisk = d64.CountOnDisk;
    d.Count = d64.Count;
    d.Size = d64.Size;
    d.Offset = d64.Offset;
    d.End = recordOffset;
}

// What the end records say must describe one directory on one disk that
// ends where they begin, with room for its entries.
void CheckDirectoryEnd(const TDirectoryEnd& d) {
    if (d.ThisDisk != 0 || d.DirectoryDisk != 0) SeveralDisks();
    if (d.CountOnDisk != d.Count) Damaged("the entry counts of the end record disagree");
    if (d.Offset > d.End || d.End - d.Offset != d.Size) Damaged("the central directory is not where the end record says");
    if (d.Count > d.Size / kCentralHeaderSize) Damaged("more entries than the central directory can hold");
}

// The end record, and the ZIP64 end record when its locator is there.
TDirectoryEnd ReadDirectoryEnd(IByteSource& source) {
    TDirectoryEnd d = ReadEndRecord(source);
    if (const std::optional<std::uint64_t> recordOffset = ReadZip64Locator(source, d.End))
        ReadZip64EndRecord(source, *recordOffset, d);
    CheckDirectoryEnd(d);
    return d;
}

// A central directory header's fixed part with what follows it, before the
// extra field is read.
struct TCentralHeader {
    TZipEntry Entry;
    std::uint64_t Disk = 0;  // disk number start
    std::string Extra;
};

// The central directory header (4.3.12) at `pos` with its name, extra field
// and comment, all within the directory; `pos` moves past them.
TCentralHeader ReadCentralHeader(IByteSource& source, std::uint64_t& pos, std::uint64_t directoryEnd) {
    if (!Fits(pos, kCentralHeaderSize, directoryEnd)) Damaged("the central directory is cut short");
    const std::string header = ReadBytes(source, pos, kCentralHeaderSize);
    TFields h(Bytes(header), header.size());
    if (h.U32() != kCentralSignature) Damaged("a central directory header has no signature");
    TCentralHeader c;
    TZipEntry& e = c.Entry;
    e.VersionMadeBy = static_cast<std::uint16_t>(h.U16());
    const auto [nameLength, extraLength] = ReadSharedFields(h, e);
    const std::size_t commentLength = static_cast<std::size_t>(h.U16());
    c.Disk = h.U16();
    h.U16();  // internal attributes
    e.ExternalAttributes = static_cast<std::uint32_t>(h.U32());
    e.LocalHeaderOffset = h.U32();
    const std::uint64_t variable = std::uint64_t{nameLength} + extraLength + commentLength;
    if (!Fits(pos + kCentralHeaderSize, variable, directoryEnd)) Damaged("a central directory header runs past the directory");
    e.RawName = ReadBytes(source, pos + kCentralHeaderSize, nameLength);
    c.Extra = ReadBytes(source, pos + kCentralHeaderSize + nameLength, extraLength);
    pos += kCentralHeaderSize + variable;
    return c;
}

// The entry of a central header: the values it left to the ZIP64 extra field
// (4.5.3) taken from there, on disk 0, its name decoded.
TZipEntry CentralEntry(TCentralHeader c) {
    TZipEntry& e = c.Entry;
    TZip64Wanted wanted;
    wanted.Uncompressed = e.UncompressedSize == kZip64Marker32;
    wanted.Compressed = e.CompressedSize == kZip64Marker32;
    wanted.Offset = e.LocalHeaderOffset == kZip64Marker32;
    wanted.Disk = c.Disk == kZip64Marker16;
    const TExtraFields fields = ParseExtra(c.Extra, wanted, e.RawName);
    if (wanted.Uncompressed || wanted.Compressed || wanted.Offset || wanted.Disk) {
        if (!fields.HasZip64) Damaged("a ZIP64 value is missing in " + Quoted(e.RawName));
        e.Zip64 = true;
        if (wanted.Uncompressed) e.UncompressedSize = fields.Uncompressed;
        if (wanted.Compressed) e.CompressedSize = fields.Compressed;
        if (wanted.Offset) e.LocalHeaderOffset = fields.Offset;
        if (wanted.Disk) c.Disk = fields.Disk;
    }
    if (c.Disk != 0) SeveralDisks();
    DecodeName(e, fields);
    return std::move(c.Entry);
}

// The encryption header lies inside the data, and stored data is as long as
// its content.
void CheckEntrySizes(const TZipEntry& e) {
    if (e.Encrypted() && e.CompressedSize < kEncryptionHeaderSize)
        Damaged("the encrypted entry " + Quoted(e.Name) + " is shorter than its encryption header");
    if (e.Method == kMethodStored && e.CompressedSize - (e.Encrypted() ? kEncryptionHeaderSize : 0) != e.UncompressedSize)
        Damaged("the sizes of the stored entry " + Quoted(e.Name) + " disagree");
}

// What a central header says of its entry before the local header is read:
// a name that stays inside a folder and no other entry's, an encryption this
// reader knows, sizes that fit together.
void CheckCentralEntry(const TZipEntry& e, std::set<std::string>& names) {
    if (!IsSafeEntryName(e.Name)) Damaged("unsafe entry name " + Quoted(e.Name));
    if (!names.insert(e.Name).second) Damaged("two entries named " + Quoted(e.Name));
    if (e.Flags & (kFlagStrongEncryption | kFlagMaskedHeaders))
        throw TZipError(TKind::Unsupported, "Strong encryption is not supported (" + Quoted(e.Name) + ")");
    CheckEntrySizes(e);
}

// No two entries share a byte: each ends before the next begins.
void CheckNoOverlap(const std::vector<TZipEntry>& entries) {
    std::vector<const TZipEntry*> byOffset;
    for (const TZipEntry& e : entries) byOffset.push_back(&e);
    std::sort(byOffset.begin(), byOffset.end(),
              [](const TZipEntry* a, const TZipEntry* b) { return a->LocalHeaderOffset < b->LocalHeaderOffset; });
    for (std::size_t i = 1; i < byOffset.size(); ++i)
        if (byOffset[i - 1]->End > byOffset[i]->LocalHeaderOffset)
            Damaged("the entries " + Quoted(byOffset[i - 1]->Name) + " and " + Quoted(byOffset[i]->Name) + " overlap");
}

// A local file header (4.3.7) as read, before it is compared with the
// central directory's.
struct TLocalHeader {
    TZipEntry Fields;  // the fields it shares with the central header
    std::uint64_t DataOffset = 0;
    std::string Extra;
};

// The local header of `e`, its name and extra field, all before the central
// directory; the name must be the central directory's.
TLocalHeader ReadLocalRecord(IByteSource& source, const TZipEntry& e, std::uint64_t directoryOffset) {
    // Local headers, data and descriptors all lie before the central directory.
    if (!Fits(e.LocalHeaderOffset, kLocalHeaderSize, directoryOffset))
        Damaged("the local header of " + Quoted(e.Name) + " lies outside the entries");
    const std::string header = ReadBytes(source, e.LocalHeaderOffset, kLocalHeaderSize);
    TFields h(Bytes(header), header.size());
    if (h.U32() != kLocalSignature) Damaged("the local header of " + Quoted(e.Name) + " has no signature");
    TLocalHeader local;
    const auto [nameLength, extraLength] = ReadSharedFields(h, local.Fields);
    const std::uint64_t variableStart = e.LocalHeaderOffset + kLocalHeaderSize;
    if (!Fits(variableStart, std::uint64_t{nameLength} + extraLength, directoryOffset))
        Damaged("the local header of " + Quoted(e.Name) + " runs into the central directory");
    if (ReadBytes(source, variableStart, nameLength) != e.RawName)
        Damaged("the local header's name differs from the central directory's " + Quoted(e.Name));
    local.Extra = ReadBytes(source, variableStart + nameLength, extraLength);
    local.DataOffset = variableStart + nameLength + extraLength;
    return local;
}

// Whether the local header agrees with the central directory's entry `e`:
// the bits that change how the data is read, method, time, Unicode Path, and
// CRC and sizes (with its ZIP64 field, 4.5.3). Returns whether the local
// header has a ZIP64 field, which widens the data descriptor's sizes.
bool CheckLocalAgrees(const TZipEntry& e, const TLocalHeader& header) {
    const TZipEntry& local = header.Fields;
    constexpr std::uint16_t kAgreeing = kFlagEncrypted | kFlagDescriptor | kFlagStrongEncryption | kFlagUtf8;
    if ((local.Flags & kAgreeing) != (e.Flags & kAgreeing) || local.Method != e.Method || local.DosTime != e.DosTime ||
        local.DosDate != e.DosDate)
        Damaged("the local header of " + Quoted(e.Name) + " disagrees with the central directory");

    TZip64Wanted wanted;
    wanted.Uncompressed = local.UncompressedSize == kZip64Marker32;
    wanted.Compressed = local.CompressedSize == kZip64Marker32;
    const TExtraFields fields = ParseExtra(header.Extra, wanted, e.RawName);
    // Both headers carry the same Unicode Path, or neither does.
    if (fields.HasUnicodePath != e.HasUnicodePath || (fields.HasUnicodePath && fields.UnicodeName != e.Name))
        Damaged("the local header's name differs from the central directory's " + Quoted(e.Name));
    std::uint64_t compressed = local.CompressedSize;
    std::uint64_t uncompressed = local.UncompressedSize;
    if (wanted.Uncompressed || wanted.Compressed) {
        if (!fields.HasZip64) Damaged("a ZIP64 value is missing in the local header of " + Quoted(e.Name));
        if (wanted.Uncompressed) uncompressed = fields.Uncompressed;
        if (wanted.Compressed) compressed = fields.Compressed;
    }
    // With a descriptor the local header may leave CRC and sizes at 0;
    // whatever it does say must be right.
    const bool lenient = e.HasDescriptor();
    auto agrees = [lenient](std::uint64_t inLocal, std::uint64_t central) {
        return inLocal == central || (lenient && inLocal == 0);
    };
    if (!agrees(local.Crc, e.Crc) || !agrees(compressed, e.CompressedSize) || !agrees(uncompressed, e.UncompressedSize))
        Damaged("the local header of " + Quoted(e.Name) + " disagrees with the central directory");
    return fields.HasZip64;
}

// The data descriptor (4.3.9) at e.End: signature (optional), CRC, then both
// sizes, 8 bytes each when the local header went to ZIP64 (`wide`). It must
// repeat the central directory's values; e.End moves past it.
void ReadDataDescriptor(IByteSource& source, TZipEntry& e, bool wide, std::uint64_t directoryOffset) {
    const std::size_t sizesLength = wide ? 16 : 8;
    const std::uint64_t available = directoryOffset - e.End;
    std::size_t at = 0;
    std::string d = ReadBytes(source, e.End, static_cast<std::size_t>(std::min<std::uint64_t>(available, 4 + 4 + sizesLength)));
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

// Refuses a compression method other than stored and Deflate (4.4.5).
void CheckMethod(const TZipEntry& e) {
    if (e.Method != kMethodStored && e.Method != kMethodDeflated)
        throw TZipError(TKind::Unsupported, "Compression method " + std::to_string(e.Method) + " is not supported (" +
                                                Quoted(e.Name) + ")");
}

// The cipher keyed with `password` and run over the entry's encryption header
// (6.1.5), ready for the data after it. The header's last byte repeats the
// high byte of the time (with a descriptor) or of the CRC (6.1.6).
TPkCipher OpenEncryption(IByteSource& source, const TZipEntry& e, std::string_view password) {
    TPkCipher cipher(password);
    unsigned char header[kEncryptionHeaderSize];
    source.ReadAt(e.DataOffset, header, sizeof header);
    cipher.Decrypt(header, sizeof header);
    const unsigned char check = e.HasDescriptor() ? static_cast<unsigned char>(e.DosTime >> 8)
                                                  : static_cast<unsigned char>(e.Crc >> 24);
    if (header[kEncryptionHeaderSize - 1] != check)
        throw TZipError(TKind::WrongPassword, "Wrong password for " + Quoted(e.Name));
    return cipher;
}

// A raw Deflate stream (no zlib header: 4.4.5, method 8), opened only for a
// deflated entry.
struct TInflater {
    z_stream z{};
    bool open = false;
    explicit TInflater(bool deflated) {
        if (!deflated) return;
        if (inflateInit2(&z, -MAX_WBITS) != Z_OK) throw text::TError("Out of memory");
        open = true;
    }
    ~TInflater() {
        if (open) inflateEnd(&z);
    }
    TInflater(const TInflater&) = delete;
    TInflater& operator=(const TInflater&) = delete;
};

// Hands an entry's content to the sink, counting it against the size the
// header says and summing its CRC.
class TEntryOutput {
public:
    TEntryOutput(const TZipEntry& e, const TZipReader::TSink& sink) : entry_(e), sink_(sink) {}

    void Deliver(const unsigned char* data, std::size_t size) {
        if (size == 0) return;
        if (size > entry_.UncompressedSize - produced_) Damaged(Quoted(entry_.Name) + " holds more data than its header says");
        produced_ += size;
        crc_ = crc32(crc_, data, static_cast<uInt>(size));
        sink_(reinterpret_cast<const char*>(data), size);
    }

    // The content must be exactly as long as the header says, with its CRC.
    void Finish() const {
        if (produced_ != entry_.UncompressedSize) Damaged(Quoted(entry_.Name) + " holds less data than its header says");
        if (static_cast<std::uint32_t>(crc_) != entry_.Crc)
            Damaged("CRC error in " + Quoted(entry_.Name) + std::string(entry_.Encrypted() ? " (damaged, or a wrong password)" : ""));
    }

private:
    const TZipEntry& entry_;
    const TZipReader::TSink& sink_;
    std::uint64_t produced_ = 0;
    uLong crc_ = crc32(0, nullptr, 0);
};

// Inflates one chunk of the entry's data into `output` through the buffer
// `out` of kChunkSize bytes. Returns whether the Deflate stream ended in it;
// it must end with the chunk.
bool InflateChunk(z_stream& z, const unsigned char* in, std::size_t size, unsigned char* out, const TZipEntry& e,
                  TEntryOutput& output) {
    constexpr std::size_t kChunkSize = TZipReader::kChunkSize;
    z.next_in = const_cast<unsigned char*>(in);
    z.avail_in = static_cast<uInt>(size);
    do {
        z.next_out = out;
        z.avail_out = static_cast<uInt>(kChunkSize);
        const int rc = inflate(&z, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
            Damaged("the data of " + Quoted(e.Name) + " does not inflate" +
                    std::string(e.Encrypted() ? " (damaged, or a wrong password)" : ""));
        output.Deliver(out, kChunkSize - z.avail_out);
        if (rc == Z_STREAM_END) {
            if (z.avail_in != 0) Damaged("data after the end of the Deflate stream of " + Quoted(e.Name));
            return true;
        }
        if (rc == Z_BUF_ERROR && z.avail_in == 0) break;
    } while (z.avail_in > 0 || z.avail_out == 0);
    return false;
}

// Inflates every chunk into `output`; the Deflate stream must end with the
// entry's data, neither before nor after it.
void InflateChunks(TChunkSource& chunks, TInflater& inflater, const TZipEntry& e, TEntryOutput& output) {
    const auto out = std::make_unique<unsigned char[]>(TZipReader::kChunkSize);
    bool streamEnd = false;
    for (;;) {
        const auto [in, n] = chunks.Next();
        if (n == 0) break;
        if (streamEnd) Damaged("data after the end of the Deflate stream of " + Quoted(e.Name));
        streamEnd = InflateChunk(inflater.z, in, n, out.get(), e, output);
    }
    if (!streamEnd) Damaged("the Deflate stream of " + Quoted(e.Name) + " is cut short");
}

// Hands stored data to `output` as it is.
void CopyChunks(TChunkSource& chunks, TEntryOutput& output) {
    for (;;) {
        const auto [in, n] = chunks.Next();
        if (n == 0) break;
        output.Deliver(in, n);
    }
}

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
    const TDirectoryEnd end = ReadDirectoryEnd(source_);
    std::uint64_t pos = end.Offset;
    std::set<std::string> names;
    for (std::uint64_t i = 0; i < end.Count; ++i) {
        TZipEntry e = CentralEntry(ReadCentralHeader(source_, pos, end.End));
        CheckCentralEntry(e, names);
        ReadLocalHeader(e, end.Offset);
        entries_.push_back(std::move(e));
    }
    if (pos != end.End) Damaged("the central directory holds more than its entries");
    CheckNoOverlap(entries_);
}

void TZipReader::ReadLocalHeader(TZipEntry& e, std::uint64_t directoryOffset) {
    const TLocalHeader local = ReadLocalRecord(source_, e, directoryOffset);
    const bool wide = CheckLocalAgrees(e, local);
    e.DataOffset = local.DataOffset;
    if (!Fits(e.DataOffset, e.CompressedSize, directoryOffset))
        Damaged("the data of " + Quoted(e.Name) + " runs past the entries");
    e.End = e.DataOffset + e.CompressedSize;
    if (e.HasDescriptor()) ReadDataDescriptor(source_, e, wide, directoryOffset);
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
    CheckEntrySizes(e);
    e.End = e.DataOffset + e.CompressedSize;
    return e;
}

void ReadEntryData(IByteSource& source, const TZipEntry& e, std::string_view password, const TZipReader::TSink& sink) {
    CheckMethod(e);
    std::optional<TPkCipher> cipher;
    if (e.Encrypted()) cipher = OpenEncryption(source, e, password);
    const std::uint64_t headerSize = cipher ? kEncryptionHeaderSize : 0;
    const std::uint64_t left = e.CompressedSize - headerSize;
    TInflater inflater(e.Method == kMethodDeflated);
    // Reading ahead pays for itself only over a few chunks.
    const bool ahead = cipher && left > 4 * TZipReader::kChunkSize;
    TChunkSource chunks(source, e.DataOffset + headerSize, left, cipher ? &*cipher : nullptr, ahead);
    TEntryOutput output(e, sink);
    if (e.Method == kMethodStored)
        CopyChunks(chunks, output);
    else
        InflateChunks(chunks, inflater, e, output);
    output.Finish();
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
