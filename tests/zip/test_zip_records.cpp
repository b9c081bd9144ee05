// The records of the ZIP writer as bytes, and the ZIP64 decision at its
// boundaries, with numbers no test archive could reach on disk.
#include <gtest/gtest.h>

#include <zlib.h>

#include "ZipTestUtil.h"
#include "zip/PkCipher.h"
#include "zip/ZipRecords.h"

using namespace ziptest;
using zip::EndZip64;
using zip::EntryZip64;

namespace {

constexpr std::uint64_t k4G = 0xFFFFFFFFull;  // the marker value itself
constexpr std::uint64_t k5GiB = 5ull << 30;

// "Описание.txt" in code page 866 and in UTF-8.
const std::string kName866 = "\x8e\xaf\xa8\xe1\xa0\xad\xa8\xa5.txt";
const std::string kNameUtf8 = "\xd0\x9e\xd0\xbf\xd0\xb8\xd1\x81\xd0\xb0\xd0\xbd\xd0\xb8\xd0\xb5.txt";

std::string UnicodePathField() {
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(kName866.data()), static_cast<uInt>(kName866.size()));
    return L16(0x7075) + L16(5 + kNameUtf8.size()) + "\x01" + L32(crc) + kNameUtf8;
}

zip::TEntryRecord CyrillicEntry() {
    zip::TEntryRecord e;
    e.Name = kName866;
    e.UnicodeName = kNameUtf8;
    e.Method = zip::kMethodDeflated;
    e.DosTime = 0x6B2D;
    e.DosDate = 0x5A88;
    e.Crc = 0xCAFEBABE;
    e.CompressedSize = 1234;
    e.UncompressedSize = 5678;
    e.LocalHeaderOffset = 0x1020;
    e.ExternalAttributes = 0x21;
    return e;
}

}  // namespace

TEST(ZipRecordsZip64, FourByteFieldsOverflowAtTheMarkerValue) {
    EXPECT_FALSE(EntryZip64(k4G - 1, k4G - 1, k4G - 1).Any());
    EXPECT_TRUE(EntryZip64(k4G, 0, 0).Sizes);
    EXPECT_TRUE(EntryZip64(0, k4G, 0).Sizes);
    const auto offsetOnly = EntryZip64(10, 22, k4G);
    EXPECT_TRUE(offsetOnly.Offset);
    EXPECT_FALSE(offsetOnly.Sizes);
    EXPECT_FALSE(EntryZip64(10, 22, k4G - 1).Offset);
}

TEST(ZipRecordsZip64, EndNeedsZip64ForCountSizeOrOffset) {
    EXPECT_FALSE(EndZip64(0xFFFE, k4G - 1, k4G - 1));
    EXPECT_TRUE(EndZip64(0xFFFF, 0, 0));
    EXPECT_TRUE(EndZip64(1, k4G, 0));
    EXPECT_TRUE(EndZip64(1, 0, k4G));
}

TEST(ZipRecordsLayout, LocalHeaderDescriptorAndCentralHeaderOfAPlainEntry) {
    const zip::TEntryRecord e = CyrillicEntry();
    const std::string common = L16(20) + L16(0x0009) + L16(8) + L16(0x6B2D) + L16(0x5A88) + L32(0xCAFEBABE) +
                               L32(1234) + L32(5678) + L16(kName866.size()) + L16(UnicodePathField().size());
    EXPECT_EQ(zip::LocalHeader(e), L32(0x04034B50) + common + kName866 + UnicodePathField());
    EXPECT_EQ(zip::CentralHeader(e), L32(0x02014B50) + L16(20) + common + L16(0) + L16(0) + L16(0) + L32(0x21) +
                                         L32(0x1020) + kName866 + UnicodePathField());
    EXPECT_EQ(zip::DataDescriptor(e), L32(0x08074B50) + L32(0xCAFEBABE) + L32(1234) + L32(5678));
}

TEST(ZipRecordsLayout, AsciiNameHasNoExtraField) {
    zip::TEntryRecord e = CyrillicEntry();
    e.Name = "image.0";
    e.UnicodeName.clear();
    const std::string local = zip::LocalHeader(e);
    ASSERT_EQ(local.size(), 30u + 7);
    EXPECT_EQ(Le(local, 28, 2), 0u);
    EXPECT_EQ(local.substr(30), "image.0");
}

TEST(ZipRecordsLayout, Zip64SizesGoToBothHeadersAndTheDescriptor) {
    zip::TEntryRecord e = CyrillicEntry();
    e.UncompressedSize = k5GiB + 1;
    e.CompressedSize = k5GiB + 13;
    e.Zip64 = EntryZip64(e.UncompressedSize, e.CompressedSize, e.LocalHeaderOffset);
    const std::string zip64Sizes = L16(0x0001) + L16(16) + L64(k5GiB + 1) + L64(k5GiB + 13);
    const std::string common = L16(45) + L16(0x0009) + L16(8) + L16(0x6B2D) + L16(0x5A88) + L32(0xCAFEBABE) +
                               L32(k4G) + L32(k4G) + L16(kName866.size()) +
                               L16(zip64Sizes.size() + UnicodePathField().size());
    EXPECT_EQ(zip::LocalHeader(e), L32(0x04034B50) + common + kName866 + zip64Sizes + UnicodePathField());
    EXPECT_EQ(zip::CentralHeader(e), L32(0x02014B50) + L16(45) + common + L16(0) + L16(0) + L16(0) + L32(0x21) +
                                         L32(0x1020) + kName866 + zip64Sizes + UnicodePathField());
    EXPECT_EQ(zip::DataDescriptor(e), L32(0x08074B50) + L32(0xCAFEBABE) + L64(k5GiB + 13) + L64(k5GiB + 1));
}

TEST(ZipRecordsLayout, Zip64OffsetGoesToTheCentralHeaderOnly) {
    zip::TEntryRecord e = CyrillicEntry();
    e.UnicodeName.clear();
    e.Name = "a";
    e.LocalHeaderOffset = k5GiB;
    e.Zip64 = EntryZip64(e.UncompressedSize, e.CompressedSize, e.LocalHeaderOffset);
    const std::string local = zip::LocalHeader(e);
    EXPECT_EQ(Le(local, 4, 2), 45u);                // version needed
    EXPECT_EQ(Le(local, 18, 4), 1234u);             // sizes stay in place
    EXPECT_EQ(local.size(), 31u);                   // no extra field
    const std::string central = zip::CentralHeader(e);
    EXPECT_EQ(Le(central, 20, 4), 1234u);
    EXPECT_EQ(Le(central, 24, 4), 5678u);
    EXPECT_EQ(Le(central, 42, 4), k4G);
    EXPECT_EQ(central.substr(47), L16(0x0001) + L16(8) + L64(k5GiB));
    EXPECT_EQ(zip::DataDescriptor(e).size(), 16u);
}

TEST(ZipRecordsLayout, EndRecordAlone) {
    EXPECT_EQ(zip::EndOfDirectory(3, 150, 4000),
              L32(0x06054B50) + L16(0) + L16(0) + L16(3) + L16(3) + L32(150) + L32(4000) + L16(0));
    // No entries: the record is still complete (never written by the writer,
    // which leaves such an archive empty).
    EXPECT_EQ(zip::EndOfDirectory(0, 0, 0).size(), 22u);
}

TEST(ZipRecordsLayout, Zip64EndRecordLocatorAndMarkedFields) {
    const std::string end = zip::EndOfDirectory(0xFFFF, 100, k5GiB);
    const std::string expected =
        L32(0x06064B50) + L64(44) + L16(45) + L16(45) + L32(0) + L32(0) + L64(0xFFFF) + L64(0xFFFF) + L64(100) +
        L64(k5GiB) +                                                          // ZIP64 end record
        L32(0x07064B50) + L32(0) + L64(k5GiB + 100) + L32(1) +                // locator
        L32(0x06054B50) + L16(0) + L16(0) + L16(0xFFFF) + L16(0xFFFF) + L32(100) + L32(k4G) + L16(0);
    EXPECT_EQ(end, expected);
}

TEST(ZipCipher, MatchesTheTraditionalAlgorithm) {
    // Computed with an independent implementation of section 6.1 of the
    // application note; the password is "пароль" in Windows-1251.
    zip::TPkCipher cipher("\xef\xe0\xf0\xee\xeb\xfc");
    std::string data = "Hello, PKWARE";
    cipher.Encrypt(reinterpret_cast<unsigned char*>(data.data()), data.size());
    std::string hex;
    for (unsigned char c : data) {
        static const char* digits = "0123456789abcdef";
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    EXPECT_EQ(hex, "2195ca3c43fb1750c4f8a9301d");
}

TEST(ZipCipher, BlockEncryptionEqualsByteSteps) {
    const std::string plain = Noise(1000, 7);
    zip::TPkCipher block("key"), steps("key");
    std::string a = plain;
    block.Encrypt(reinterpret_cast<unsigned char*>(a.data()), a.size());
    for (std::size_t i = 0; i < plain.size(); ++i) {
        const unsigned char p = static_cast<unsigned char>(plain[i]);
        ASSERT_EQ(static_cast<unsigned char>(a[i]), p ^ steps.KeyByte()) << i;
        steps.UpdateKeys(p);
    }
}
