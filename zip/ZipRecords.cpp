#include "ZipRecords.h"

#include <algorithm>
#include <cassert>

#include <zlib.h>

#include "text/Error.h"

namespace zip {
namespace {

// Appends little-endian numbers to a byte string (4.4.1.1).
class TPut {
public:
    explicit TPut(std::string& out) : out_(out) {}
    void U16(std::uint64_t v) { Le(v, 2); }
    void U32(std::uint64_t v) { Le(v, 4); }
    void U64(std::uint64_t v) { Le(v, 8); }
    void Bytes(const std::string& s) { out_ += s; }

private:
    void Le(std::uint64_t v, int n) {
        for (int i = 0; i < n; ++i) out_ += static_cast<char>((v >> (8 * i)) & 0xFF);
    }
    std::string& out_;
};

std::uint16_t VersionOf(const TEntryRecord& e) { return e.Zip64.Any() ? kVersionZip64 : kVersion; }

std::uint64_t Field32(std::uint64_t v, bool inZip64) { return inZip64 ? kZip64Marker32 : v; }

// The Info-ZIP Unicode Path field: version 1, the CRC-32 of the stored name
// (so a reader can tell whether the name was changed without the field), the
// name in UTF-8.
void PutUnicodePath(TPut& put, const TEntryRecord& e) {
    if (e.UnicodeName.empty()) return;
    put.U16(kUnicodePathFieldId);
    put.U16(1 + 4 + e.UnicodeName.size());
    put.Bytes(std::string(1, '\x01'));
    put.U32(crc32(0, reinterpret_cast<const Bytef*>(e.Name.data()), static_cast<uInt>(e.Name.size())));
    put.Bytes(e.UnicodeName);
}

std::string LocalExtra(const TEntryRecord& e) {
    std::string extra;
    TPut put(extra);
    if (e.Zip64.Sizes) {
        put.U16(kZip64FieldId);
        put.U16(16);
        put.U64(e.UncompressedSize);
        put.U64(e.CompressedSize);
    }
    PutUnicodePath(put, e);
    return extra;
}

std::string CentralExtra(const TEntryRecord& e) {
    std::string extra;
    TPut put(extra);
    if (e.Zip64.Any()) {
        // Only the fields whose header field holds the marker, in this order.
        put.U16(kZip64FieldId);
        put.U16((e.Zip64.Sizes ? 16 : 0) + (e.Zip64.Offset ? 8 : 0));
        if (e.Zip64.Sizes) {
            put.U64(e.UncompressedSize);
            put.U64(e.CompressedSize);
        }
        if (e.Zip64.Offset) put.U64(e.LocalHeaderOffset);
    }
    PutUnicodePath(put, e);
    return extra;
}

void CheckLengths(const TEntryRecord& e, const std::string& extra) {
    // Names of a file system never come near this; a record that cannot hold
    // them must not be written with truncated lengths.
    if (e.Name.size() > 0xFFFF || extra.size() > 0xFFFF) throw text::TError("ZIP entry name is too long");
}

}  // namespace

TEntryZip64 EntryZip64(std::uint64_t uncompressedSize, std::uint64_t compressedSize,
                       std::uint64_t localHeaderOffset) {
    TEntryZip64 z;
    z.Sizes = uncompressedSize >= kZip64Marker32 || compressedSize >= kZip64Marker32;
    z.Offset = localHeaderOffset >= kZip64Marker32;
    return z;
}

TEntryZip64 EntryZip64ForData(std::uint64_t uncompressedSize, std::uint64_t dataSize,
                              std::uint64_t localHeaderOffset) {
    return EntryZip64(uncompressedSize, dataSize + kEncryptionHeaderSize, localHeaderOffset);
}

bool EndZip64(std::uint64_t entryCount, std::uint64_t directorySize, std::uint64_t directoryOffset) {
    return entryCount >= kZip64Marker16 || directorySize >= kZip64Marker32 || directoryOffset >= kZip64Marker32;
}

std::string LocalHeader(const TEntryRecord& e) {
    const std::string extra = LocalExtra(e);
    CheckLengths(e, extra);
    std::string out;
    TPut put(out);
    put.U32(kLocalSignature);
    put.U16(VersionOf(e));                                  // version needed to extract
    put.U16(kFlags);                                        // general purpose bit flag
    put.U16(e.Method);                                      // compression method
    put.U16(e.DosTime);                                     // last mod file time
    put.U16(e.DosDate);                                     // last mod file date
    put.U32(e.Crc);                                         // crc-32
    put.U32(Field32(e.CompressedSize, e.Zip64.Sizes));      // compressed size
    put.U32(Field32(e.UncompressedSize, e.Zip64.Sizes));    // uncompressed size
    put.U16(e.Name.size());                                 // file name length
    put.U16(extra.size());                                  // extra field length
    assert(out.size() == kLocalHeaderSize);
    put.Bytes(e.Name);
    put.Bytes(extra);
    return out;
}

std::string DataDescriptor(const TEntryRecord& e) {
    std::string out;
    TPut put(out);
    put.U32(kDescriptorSignature);
    put.U32(e.Crc);
    if (e.Zip64.Sizes) {
        put.U64(e.CompressedSize);
        put.U64(e.UncompressedSize);
    } else {
        put.U32(e.CompressedSize);
        put.U32(e.UncompressedSize);
    }
    return out;
}

std::string CentralHeader(const TEntryRecord& e) {
    const std::string extra = CentralExtra(e);
    CheckLengths(e, extra);
    std::string out;
    TPut put(out);
    put.U32(kCentralSignature);
    put.U16(VersionOf(e));                                   // version made by: host 0 (MS-DOS) in the high byte
    put.U16(VersionOf(e));                                   // version needed to extract
    put.U16(kFlags);                                         // general purpose bit flag
    put.U16(e.Method);                                       // compression method
    put.U16(e.DosTime);                                      // last mod file time
    put.U16(e.DosDate);                                      // last mod file date
    put.U32(e.Crc);                                          // crc-32
    put.U32(Field32(e.CompressedSize, e.Zip64.Sizes));       // compressed size
    put.U32(Field32(e.UncompressedSize, e.Zip64.Sizes));     // uncompressed size
    put.U16(e.Name.size());                                  // file name length
    put.U16(extra.size());                                   // extra field length
    put.U16(0);                                              // file comment length
    put.U16(0);                                              // disk number start
    put.U16(0);                                              // internal file attributes
    put.U32(e.ExternalAttributes);                           // external file attributes
    put.U32(Field32(e.LocalHeaderOffset, e.Zip64.Offset));   // relative offset of local header
    assert(out.size() == kCentralHeaderSize);
    put.Bytes(e.Name);
    put.Bytes(extra);
    return out;
}

std::string EndOfDirectory(std::uint64_t entryCount, std::uint64_t directorySize, std::uint64_t directoryOffset) {
    std::string out;
    TPut put(out);
    if (EndZip64(entryCount, directorySize, directoryOffset)) {
        const std::uint64_t zip64EndOffset = directoryOffset + directorySize;
        put.U32(kZip64EndSignature);
        put.U64(kZip64EndRecordSize - 12);  // size of the record after this field
        put.U16(kVersionZip64);             // version made by
        put.U16(kVersionZip64);             // version needed to extract
        put.U32(0);                         // number of this disk
        put.U32(0);                         // disk with the start of the central directory
        put.U64(entryCount);                // entries on this disk
        put.U64(entryCount);                // entries in total
        put.U64(directorySize);             // size of the central directory
        put.U64(directoryOffset);           // offset of the central directory
        assert(out.size() == kZip64EndRecordSize);
        put.U32(kZip64LocatorSignature);
        put.U32(0);                         // disk with the ZIP64 end record
        put.U64(zip64EndOffset);            // offset of the ZIP64 end record
        put.U32(1);                         // total number of disks
        assert(out.size() == kZip64EndRecordSize + kZip64LocatorSize);
    }
    // A field that does not fit holds the marker; the ZIP64 end record has it.
    const std::uint64_t count16 = std::min(entryCount, kZip64Marker16);
    put.U32(kEndSignature);
    put.U16(0);                                              // number of this disk
    put.U16(0);                                              // disk with the start of the central directory
    put.U16(count16);                                        // entries on this disk
    put.U16(count16);                                        // entries in total
    put.U32(std::min(directorySize, kZip64Marker32));        // size of the central directory
    put.U32(std::min(directoryOffset, kZip64Marker32));      // offset of the central directory
    put.U16(0);                                              // comment length
    return out;
}

}  // namespace zip
