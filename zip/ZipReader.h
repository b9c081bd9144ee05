#pragma once
// Reads ZIP archives (PKWARE application note): the archives of TZipWriter
// and ordinary ones, stored or deflated, plain or under the traditional
// PKWARE cipher, ZIP64 included.
//
//   zip::TFileSource file(path);
//   zip::TZipReader archive(file);                 // checks the whole layout
//   for (const zip::TZipEntry& e : archive.Entries())
//       archive.ReadEntry(e, password1251, [](const char* p, std::size_t n) { ... });
//
// The reader trusts nothing it reads. Every length and offset is checked
// against the file before it is used, so an allocation never follows a size
// from a header beyond what the file holds. The central directory and the
// local headers must agree (names, flags, method, sizes, CRC, the data
// descriptor), entries must not overlap each other or the directory, and
// names that could climb out of a folder ("..", an absolute path) are
// refused. Entry data is streamed in fixed-size chunks: memory stays the
// same whatever the entry's size, and an entry that inflates to more than
// its header says is stopped at that size.
//
// Errors are TZipError.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"
#include "text/Error.h"

namespace zip {

// What went wrong with an archive.
class TZipError : public text::TError {
public:
    enum class TKind {
        Damaged,        // the bytes do not form a consistent archive, or data fails its checks
        Unsupported,    // a valid feature this reader does not read (another method, strong encryption, disks)
        WrongPassword,  // the encryption header's check byte disagrees with the password
    };
    TZipError(TKind kind, const std::string& message) : TError(message), kind_(kind) {}
    TKind Kind() const { return kind_; }

private:
    TKind kind_;
};

// Where the archive's bytes come from: random access over a fixed size.
class IByteSource {
public:
    virtual ~IByteSource() = default;
    virtual std::uint64_t Size() const = 0;
    // Reads exactly `size` bytes at `offset`; the reader asks only within
    // Size(). Throws text::TError when the bytes cannot be read.
    virtual void ReadAt(std::uint64_t offset, void* data, std::size_t size) = 0;
};

// Bytes in memory; they must outlive the source.
class TMemorySource : public IByteSource {
public:
    explicit TMemorySource(std::string_view bytes) : bytes_(bytes) {}
    std::uint64_t Size() const override { return bytes_.size(); }
    void ReadAt(std::uint64_t offset, void* data, std::size_t size) override;

private:
    std::string_view bytes_;
};

// A file opened for reading; its size is taken once, when it is opened.
// Throws `Cannot open file "%s". %s`.
class TFileSource : public IByteSource {
public:
    explicit TFileSource(const std::filesystem::path& path);
    std::uint64_t Size() const override { return size_; }
    void ReadAt(std::uint64_t offset, void* data, std::size_t size) override;

private:
    platform::TFile file_;
    std::uint64_t size_ = 0;
    std::uint64_t position_ = 0;
};

// One entry, as the central directory and its local header agree on it.
struct TZipEntry {
    std::string RawName;  // the name's bytes as stored
    std::string Name;     // UTF-8: the Unicode Path field when it belongs to RawName, else RawName
                          // read as UTF-8 (flag bit 11) or as code page 866
    bool HasUnicodePath = false;
    std::uint16_t VersionMadeBy = 0;
    std::uint16_t VersionNeeded = 0;
    std::uint16_t Flags = 0;
    std::uint16_t Method = 0;
    std::uint16_t DosTime = 0;
    std::uint16_t DosDate = 0;
    std::uint32_t Crc = 0;
    std::uint32_t ExternalAttributes = 0;
    std::uint64_t CompressedSize = 0;  // with the encryption header
    std::uint64_t UncompressedSize = 0;
    std::uint64_t LocalHeaderOffset = 0;
    std::uint64_t DataOffset = 0;  // the first byte after the local header
    std::uint64_t End = 0;         // past the data and its descriptor
    bool Zip64 = false;            // some value came from a ZIP64 field

    bool Encrypted() const { return (Flags & 0x0001) != 0; }
    bool HasDescriptor() const { return (Flags & 0x0008) != 0; }
    bool IsDirectory() const { return !Name.empty() && Name.back() == '/'; }
};

class TZipReader {
public:
    // Receives the entry's content in order, a chunk at a time.
    using TSink = std::function<void(const char* data, std::size_t size)>;

    // Size of the chunks in which entry data is read and delivered.
    static constexpr std::size_t kChunkSize = 256 * 1024;

    // Reads the end records, the central directory and every local header and
    // data descriptor, and checks that they agree. `source` must outlive the
    // reader. Throws TZipError.
    explicit TZipReader(IByteSource& source);

    // In central directory order.
    const std::vector<TZipEntry>& Entries() const { return entries_; }
    // The entry whose UTF-8 name is `name` (exact bytes), or null.
    const TZipEntry* Find(std::string_view name) const;

    // Decrypts (with `password`, Windows-1251 bytes, when the entry is
    // encrypted) and inflates the entry, handing its content to `sink`, and
    // checks its size and CRC at the end. Throws TZipError: WrongPassword when
    // the encryption header's check byte disagrees; Damaged when the data does
    // not inflate, runs past its size or fails its CRC; Unsupported for a
    // method other than stored and Deflate. What `sink` throws passes through.
    void ReadEntry(const TZipEntry& entry, std::string_view password, const TSink& sink) const;

private:
    void ReadDirectory();
    void ReadLocalHeader(TZipEntry& entry, std::uint64_t directoryOffset);

    IByteSource& source_;
    std::vector<TZipEntry> entries_;
};

// The first entry of an archive as its local header at offset 0 describes
// it, for reading an archive whose bytes are still arriving (its central
// directory comes last). Nothing is checked against a central directory: a
// caller holds what it reads for provisional until TZipReader has read the
// whole archive and its entry agrees. Reads only forwards from offset 0.
// Empty when the header leaves the sizes to a data descriptor or uses
// strong encryption; throws TZipError (Damaged) when it is no local header.
std::optional<TZipEntry> ReadFirstLocalEntry(IByteSource& source);

// TZipReader::ReadEntry on an entry of `source` described by `entry`. Reads
// `source` only forwards, from entry.DataOffset on.
void ReadEntryData(IByteSource& source, const TZipEntry& entry, std::string_view password,
                   const TZipReader::TSink& sink);

// "YYYY-MM-DD HH:MM:SS" of an MS-DOS date and time, field by field as stored.
std::string DosDateTimeText(std::uint16_t dosDate, std::uint16_t dosTime);

// Whether `name` (UTF-8) is safe to use below a folder: not empty, no zero
// byte, not absolute (no leading "/" or "\", no drive letter), and no ".."
// between separators.
bool IsSafeEntryName(std::string_view name);

}  // namespace zip
