#pragma once
// An independent reader of the records the writer produces, strict about
// what it expects: every field it cannot account for fails the test.

#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "ZipTestUtil.h"
#include "zip/PkCipher.h"

namespace ziptest {

struct TParsedEntry {
    std::string LocalRecord;    // local header with name and extra field
    std::string CentralRecord;  // central header with name and extra field
    std::string Descriptor;
    std::string Name;
    std::string Extra;  // the central extra field
    std::uint16_t VersionNeeded = 0, MadeBy = 0, Flags = 0, Method = 0, DosTime = 0, DosDate = 0;
    std::uint32_t Crc = 0, ExternalAttributes = 0;
    std::uint64_t CompressedSize = 0, UncompressedSize = 0, Offset = 0;
    std::string EncryptionHeader;  // decrypted
    std::string Content;           // decrypted and inflated
};

struct TParsedArchive {
    std::vector<TParsedEntry> Entries;
    bool Zip64End = false;
};

// The value of one field of the ZIP64 extra field: `index`-th 8-byte number.
inline std::uint64_t Zip64Value(const std::string& extra, int index) {
    EXPECT_GE(extra.size(), 4u);
    EXPECT_EQ(Le(extra, 0, 2), 0x0001u);
    return Le(extra, 4 + 8 * index, 8);
}

inline std::string Inflate(const std::string& raw) {
    z_stream z;
    std::memset(&z, 0, sizeof z);
    EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
    std::string out;
    char buf[65536];
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.data()));
    z.avail_in = static_cast<uInt>(raw.size());
    int rc = Z_OK;
    do {
        z.next_out = reinterpret_cast<Bytef*>(buf);
        z.avail_out = sizeof buf;
        rc = inflate(&z, Z_NO_FLUSH);
        out.append(buf, sizeof buf - z.avail_out);
    } while (rc == Z_OK);
    EXPECT_EQ(rc, Z_STREAM_END);
    EXPECT_EQ(z.avail_in, 0u) << "bytes after the end of the Deflate stream";
    inflateEnd(&z);
    return out;
}

// Decrypts by the byte steps of the cipher (key byte, then update with the
// plain byte), not by its block routine that the writer uses.
inline std::string Decrypt(zip::TPkCipher& cipher, const std::string& data) {
    std::string out = data;
    for (char& c : out) {
        c = static_cast<char>(static_cast<unsigned char>(c) ^ cipher.KeyByte());
        cipher.UpdateKeys(static_cast<unsigned char>(c));
    }
    return out;
}

// `bytes` is the archive from file offset `base` to its end.
inline TParsedArchive ParseArchive(const std::string& bytes, std::uint64_t base, const std::string& password) {
    TParsedArchive a;
    const std::size_t n = bytes.size();
    if (n < 22) {
        ADD_FAILURE() << "too short for an end record";
        return a;
    }
    const std::size_t endAt = n - 22;
    EXPECT_EQ(Le(bytes, endAt, 4), 0x06054B50u) << "end record must close the file";
    EXPECT_EQ(Le(bytes, endAt + 4, 4), 0u);    // disk numbers
    EXPECT_EQ(Le(bytes, endAt + 20, 2), 0u);   // comment length
    std::uint64_t count = Le(bytes, endAt + 10, 2);
    EXPECT_EQ(Le(bytes, endAt + 8, 2), count);
    std::uint64_t cdSize = Le(bytes, endAt + 12, 4);
    std::uint64_t cdOffset = Le(bytes, endAt + 16, 4);
    std::size_t cdEnd = endAt;
    if (endAt >= 76 && Le(bytes, endAt - 20, 4) == 0x07064B50u) {
        a.Zip64End = true;
        const std::size_t rec = endAt - 76;
        EXPECT_EQ(Le(bytes, endAt - 12, 8), base + rec) << "locator points at the ZIP64 end record";
        EXPECT_EQ(Le(bytes, rec, 4), 0x06064B50u);
        EXPECT_EQ(Le(bytes, rec + 4, 8), 44u);
        EXPECT_EQ(Le(bytes, rec + 12, 2), 45u);
        EXPECT_EQ(Le(bytes, rec + 14, 2), 45u);
        EXPECT_EQ(Le(bytes, rec + 24, 8), Le(bytes, rec + 32, 8));
        count = Le(bytes, rec + 32, 8);
        cdSize = Le(bytes, rec + 40, 8);
        cdOffset = Le(bytes, rec + 48, 8);
        cdEnd = rec;
    }
    EXPECT_EQ(cdOffset + cdSize, base + cdEnd) << "directory ends where the end records begin";
    std::size_t cd = static_cast<std::size_t>(cdOffset - base);
    std::uint64_t expectedLocal = base;
    for (std::uint64_t i = 0; i < count; ++i) {
        TParsedEntry e;
        EXPECT_EQ(Le(bytes, cd, 4), 0x02014B50u);
        e.MadeBy = static_cast<std::uint16_t>(Le(bytes, cd + 4, 2));
        e.VersionNeeded = static_cast<std::uint16_t>(Le(bytes, cd + 6, 2));
        e.Flags = static_cast<std::uint16_t>(Le(bytes, cd + 8, 2));
        e.Method = static_cast<std::uint16_t>(Le(bytes, cd + 10, 2));
        e.DosTime = static_cast<std::uint16_t>(Le(bytes, cd + 12, 2));
        e.DosDate = static_cast<std::uint16_t>(Le(bytes, cd + 14, 2));
        e.Crc = static_cast<std::uint32_t>(Le(bytes, cd + 16, 4));
        e.CompressedSize = Le(bytes, cd + 20, 4);
        e.UncompressedSize = Le(bytes, cd + 24, 4);
        const std::size_t nameLen = Le(bytes, cd + 28, 2), extraLen = Le(bytes, cd + 30, 2);
        EXPECT_EQ(Le(bytes, cd + 32, 2), 0u);  // comment
        EXPECT_EQ(Le(bytes, cd + 34, 2), 0u);  // disk
        EXPECT_EQ(Le(bytes, cd + 36, 2), 0u);  // internal attributes
        e.ExternalAttributes = static_cast<std::uint32_t>(Le(bytes, cd + 38, 4));
        e.Offset = Le(bytes, cd + 42, 4);
        e.Name = bytes.substr(cd + 46, nameLen);
        e.Extra = bytes.substr(cd + 46 + nameLen, extraLen);
        e.CentralRecord = bytes.substr(cd, 46 + nameLen + extraLen);
        cd += e.CentralRecord.size();
        if (e.Offset == 0xFFFFFFFFu) e.Offset = Zip64Value(e.Extra, 0);

        EXPECT_EQ(e.Offset, expectedLocal) << "entries follow each other without gaps";
        const std::size_t lh = static_cast<std::size_t>(e.Offset - base);
        const std::size_t lNameLen = Le(bytes, lh + 26, 2), lExtraLen = Le(bytes, lh + 28, 2);
        e.LocalRecord = bytes.substr(lh, 30 + lNameLen + lExtraLen);
        EXPECT_EQ(Le(bytes, lh, 4), 0x04034B50u);
        const std::size_t data = lh + e.LocalRecord.size();
        const std::string encrypted = bytes.substr(data, static_cast<std::size_t>(e.CompressedSize));
        const std::size_t dd = data + static_cast<std::size_t>(e.CompressedSize);
        e.Descriptor = bytes.substr(dd, 16);
        expectedLocal = base + dd + 16;

        zip::TPkCipher cipher(password);
        e.EncryptionHeader = Decrypt(cipher, encrypted.substr(0, 12));
        const std::string plain = Decrypt(cipher, encrypted.substr(12));
        e.Content = e.Method == 8 ? Inflate(plain) : plain;
        a.Entries.push_back(std::move(e));
    }
    EXPECT_EQ(base + cd, cdOffset + cdSize);
    EXPECT_EQ(expectedLocal, cdOffset) << "the directory follows the last descriptor";
    return a;
}

}  // namespace ziptest
