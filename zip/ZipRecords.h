#pragma once
// The records of a ZIP archive (PKWARE application note, section 4.3), built
// as byte strings. Pure functions: no files, no state.

#include <cstddef>
#include <cstdint>
#include <string>

namespace zip {

// A 4-byte field holds values below this; the value itself is the marker
// that sends readers to the ZIP64 extra field (4.4.8, 4.5.3).
inline constexpr std::uint64_t kZip64Marker32 = 0xFFFFFFFFu;
// The same for the 2-byte entry counts of the end record (4.4.21).
inline constexpr std::uint64_t kZip64Marker16 = 0xFFFFu;

// The signatures that open each record (4.3.7, 4.3.9, 4.3.12, 4.3.14-4.3.16).
inline constexpr std::uint32_t kLocalSignature = 0x04034B50;
inline constexpr std::uint32_t kDescriptorSignature = 0x08074B50;
inline constexpr std::uint32_t kCentralSignature = 0x02014B50;
inline constexpr std::uint32_t kZip64EndSignature = 0x06064B50;
inline constexpr std::uint32_t kZip64LocatorSignature = 0x07064B50;
inline constexpr std::uint32_t kEndSignature = 0x06054B50;

// The ids of the extra fields written and read (4.5.2).
inline constexpr std::uint16_t kZip64FieldId = 0x0001;        // 4.5.3
inline constexpr std::uint16_t kUnicodePathFieldId = 0x7075;  // 4.6.9, Info-ZIP Unicode Path

inline constexpr std::size_t kLocalHeaderSize = 30;
inline constexpr std::size_t kCentralHeaderSize = 46;
inline constexpr std::size_t kEndRecordSize = 22;
inline constexpr std::size_t kZip64EndRecordSize = 56;
inline constexpr std::size_t kZip64LocatorSize = 20;
// The encryption header in front of every entry's data (6.1.3).
inline constexpr std::size_t kEncryptionHeaderSize = 12;

inline constexpr std::uint16_t kMethodStored = 0;
inline constexpr std::uint16_t kMethodDeflated = 8;
// Bit 0: encrypted; bit 3: a data descriptor follows the data (4.4.4).
inline constexpr std::uint16_t kFlags = 0x0009;
inline constexpr std::uint16_t kVersion = 20;       // 2.0: Deflate, traditional encryption
inline constexpr std::uint16_t kVersionZip64 = 45;  // 4.5: ZIP64 (4.4.3.2)

// Which fields of one entry do not fit their 4-byte fields.
struct TEntryZip64 {
    bool Sizes = false;   // both sizes go to the ZIP64 field (4.5.3 wants both in the local header)
    bool Offset = false;  // the local header's offset goes to it (central header only)
    bool Any() const { return Sizes || Offset; }
};

// The ZIP64 decision for one entry, from its final values: the compressed
// size is the one the headers carry, the encryption header included.
TEntryZip64 EntryZip64(std::uint64_t uncompressedSize, std::uint64_t compressedSize,
                       std::uint64_t localHeaderOffset);
// The same from the size of the entry's data after its encryption header:
// what a writer has counted once the data is written.
TEntryZip64 EntryZip64ForData(std::uint64_t uncompressedSize, std::uint64_t dataSize,
                              std::uint64_t localHeaderOffset);
// Whether the end of the central directory needs the ZIP64 end record and
// its locator: the entry count does not fit 2 bytes, or the directory's size
// or offset does not fit 4.
bool EndZip64(std::uint64_t entryCount, std::uint64_t directorySize, std::uint64_t directoryOffset);

// Everything the headers of one entry say.
struct TEntryRecord {
    std::string Name;         // code page 866, "/" as separator
    std::string UnicodeName;  // UTF-8 for the Info-ZIP Unicode Path field; empty: no field
    std::uint16_t Method = kMethodDeflated;
    std::uint16_t DosTime = 0;
    std::uint16_t DosDate = 0;
    std::uint32_t Crc = 0;
    std::uint64_t CompressedSize = 0;  // with the encryption header
    std::uint64_t UncompressedSize = 0;
    std::uint64_t LocalHeaderOffset = 0;
    std::uint32_t ExternalAttributes = 0;  // Windows attribute bits
    TEntryZip64 Zip64;
};

// Local file header with its name and extra field (4.3.7).
std::string LocalHeader(const TEntryRecord& entry);
// Data descriptor with its signature; 8-byte sizes when the local header has
// the ZIP64 field (4.3.9).
std::string DataDescriptor(const TEntryRecord& entry);
// Central directory header (4.3.12).
std::string CentralHeader(const TEntryRecord& entry);
// The end of the central directory (4.3.16), preceded by the ZIP64 end record
// and locator (4.3.14, 4.3.15) when EndZip64 says so; the ZIP64 end record is
// placed right after the directory.
std::string EndOfDirectory(std::uint64_t entryCount, std::uint64_t directorySize, std::uint64_t directoryOffset);

}  // namespace zip
