// The reader against archives of the project's writer and of Info-ZIP zip,
// 7-Zip and libarchive's bsdtar, all encrypted with the traditional cipher;
// and against damaged and hostile archives made by hand.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <stdexcept>
#include <ctime>

#include "ZipTestUtil.h"
#include <zlib.h>
#include "platform/Platform.h"
#include "text/Codepage.h"
#include "text/Literal.h"
#include "zip/ZipReader.h"
#include "zip/ZipWriter.h"

using namespace ziptest;
using namespace text::literals;

namespace {

int Shell(const std::string& command) {
    const int rc = std::system(("LC_ALL=C.UTF-8 TZ=UTC " + command).c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

// The last write time every source file gets, and how the archives must show it.
constexpr const char* kStamp = "2024-03-15 13:45:26";

struct TRead {
    std::map<std::string, std::string> Contents;  // UTF-8 name -> content
    std::map<std::string, std::string> Times;
};

TRead ReadAllEntries(const fs::path& archive, const std::string& password) {
    zip::TFileSource file(archive);
    zip::TZipReader reader(file);
    TRead r;
    for (const zip::TZipEntry& e : reader.Entries()) {
        std::string content;
        reader.ReadEntry(e, password, [&](const char* p, std::size_t n) { content.append(p, n); });
        r.Contents[e.Name] = content;
        r.Times[e.Name] = zip::DosDateTimeText(e.DosDate, e.DosTime);
    }
    return r;
}

// A wrong password must end in an error that says so, never in data.
void ExpectWrongPasswordRefused(const fs::path& archive, const std::string& wrong) {
    zip::TFileSource file(archive);
    zip::TZipReader reader(file);
    int encrypted = 0;
    for (const zip::TZipEntry& e : reader.Entries()) {
        // bsdtar leaves an empty file unencrypted.
        if (!e.Encrypted()) {
            EXPECT_EQ(e.UncompressedSize, 0u) << e.Name;
            continue;
        }
        ++encrypted;
        // An empty entry has nothing but the encryption header's check byte
        // to tell a wrong password by, and one wrong password in 256 passes
        // it (and reads nothing). So an empty entry gets four wrong passwords:
        // at least one must be refused (all four pass once in 4 billion runs).
        const int tries = e.UncompressedSize == 0 ? 4 : 1;
        int refused = 0;
        for (int i = 0; i < tries; ++i) {
            const std::string password = i == 0 ? wrong : wrong + std::to_string(i);
            try {
                std::string out;
                reader.ReadEntry(e, password, [&](const char* p, std::size_t n) { out.append(p, n); });
                EXPECT_EQ(out, "") << e.Name << ": data read with a wrong password";
            } catch (const zip::TZipError& err) {
                ++refused;
                const bool says = err.Kind() == zip::TZipError::TKind::WrongPassword ||
                                  std::string(err.what()).find("wrong password") != std::string::npos;
                EXPECT_TRUE(says) << err.what();
            }
        }
        EXPECT_GE(refused, 1) << e.Name << " read with " << tries << " wrong passwords";
    }
    EXPECT_GE(encrypted, 3);
}

class ZipReaderTest : public TTempDirTest {
protected:
    void SetUp() override {
        TTempDirTest::SetUp();
        // The writer stores local time; the tools run with TZ=UTC too.
        setenv("TZ", "UTC", 1);
        tzset();
        files_ = {
            {"a.txt", XmlLike(100000)},
            {"noise.bin", Noise(70000, 5)},
            {"big.bin", Noise(3 << 20, 9)},  // encrypted and large: decrypted on the read-ahead thread
            {"empty.txt", ""},
            {"Описание пакета.txt", "Описание: cp1251? no, bytes \x01\x02\xFF"},
        };
        for (const auto& [name, content] : files_) {
            Write(fs::path(text::Utf8ToUtf16(name)), content);
            ASSERT_EQ(Shell("touch -d '" + std::string(kStamp) + "' '" + (Src / fs::path(text::Utf8ToUtf16(name))).string() + "'"), 0);
        }
    }
    std::string FileList() const {
        std::string s;
        for (const auto& [name, content] : files_) s += " '" + name + "'";
        return s;
    }
    void ExpectIntact(const fs::path& archive, const std::string& password) {
        const TRead r = ReadAllEntries(archive, password);
        ASSERT_EQ(r.Contents.size(), files_.size());
        for (const auto& [name, content] : files_) {
            ASSERT_EQ(r.Contents.count(name), 1u) << name;
            EXPECT_TRUE(r.Contents.at(name) == content) << name << ": content differs";
        }
        for (const auto& [name, time] : r.Times) EXPECT_EQ(time, kStamp) << name;
    }
    std::map<std::string, std::string> files_;
};

TEST_F(ZipReaderTest, ReadsTheProjectsWriter) {
    const fs::path archive = Dir / "w.zip";
    zip::TZipWriter w;
    w.Create(archive);
    w.SetBaseDirectory(Src);
    for (const auto& [name, content] : files_) w.AddFile(text::Utf8ToCp1251(name), false);
    w.SetPassword(std::string("Пароль"_cp1251));
    w.WriteArchive();
    ExpectIntact(archive, std::string("Пароль"_cp1251));
    ExpectWrongPasswordRefused(archive, "пароль");

    // The Cyrillic name is stored in code page 866 with the Unicode Path field.
    zip::TFileSource file(archive);
    zip::TZipReader reader(file);
    const zip::TZipEntry* e = reader.Find("Описание пакета.txt");
    ASSERT_NE(e, nullptr);
    EXPECT_TRUE(e->HasUnicodePath);
    EXPECT_EQ(e->RawName, "\x8E\xAF\xA8\xE1\xA0\xAD\xA8\xA5 \xAF\xA0\xAA\xA5\xE2\xA0.txt");
}

// A source that refuses to go back, like bytes still arriving.
class TForwardSource : public zip::IByteSource {
public:
    explicit TForwardSource(zip::IByteSource& inner) : inner_(inner) {}
    std::uint64_t Size() const override { return inner_.Size(); }
    void ReadAt(std::uint64_t offset, void* data, std::size_t size) override {
        if (offset < next_) throw std::logic_error("read backwards at " + std::to_string(offset));
        inner_.ReadAt(offset, data, size);
        next_ = offset + size;
    }

private:
    zip::IByteSource& inner_;
    std::uint64_t next_ = 0;
};

TEST_F(ZipReaderTest, TheFirstEntryReadsFromItsLocalHeaderAlone) {
    // Each file first in an archive of its own, among the others.
    for (const std::string first : {"big.bin", "Описание пакета.txt", "a.txt"}) {
        const fs::path archive = Dir / "first.zip";
        zip::TZipWriter w;
        w.Create(archive);
        w.SetBaseDirectory(Src);
        w.AddFile(text::Utf8ToCp1251(first), false);
        w.AddFile("noise.bin", false);
        w.SetPassword("secret");
        w.WriteArchive();

        zip::TFileSource file(archive);
        TForwardSource forward(file);
        const std::optional<zip::TZipEntry> e = zip::ReadFirstLocalEntry(forward);
        ASSERT_TRUE(e.has_value()) << first;
        EXPECT_EQ(e->Name, first);
        EXPECT_EQ(e->UncompressedSize, files_.at(first).size());
        std::string content;
        zip::ReadEntryData(forward, *e, "secret", [&](const char* p, std::size_t n) { content.append(p, n); });
        EXPECT_TRUE(content == files_.at(first)) << first << ": content differs";

        // What the central directory says of it, field by field.
        zip::TZipReader reader(file);
        const zip::TZipEntry& d = reader.Entries().at(0);
        EXPECT_EQ(e->DataOffset, d.DataOffset);
        EXPECT_EQ(e->CompressedSize, d.CompressedSize);
        EXPECT_EQ(e->Crc, d.Crc);
        EXPECT_EQ(e->Method, d.Method);
        EXPECT_EQ(e->Flags, d.Flags);
        EXPECT_EQ(e->DosTime, d.DosTime);
        EXPECT_THROW(zip::ReadEntryData(file, *e, "Secret", [](const char*, std::size_t) {}), zip::TZipError);
    }
}

TEST_F(ZipReaderTest, ReadsInfoZip) {
    ASSERT_EQ(Shell("cd '" + Src.string() + "' && zip -q -e -P secret '" + (Dir / "i.zip").string() + "'" + FileList()), 0);
    ExpectIntact(Dir / "i.zip", "secret");
    ExpectWrongPasswordRefused(Dir / "i.zip", "Secret");
}

TEST_F(ZipReaderTest, Reads7Zip) {
    ASSERT_EQ(Shell("cd '" + Src.string() + "' && 7z a -tzip -mem=ZipCrypto -psecret '" + (Dir / "s.zip").string() +
                    "'" + FileList() + " >/dev/null"),
              0);
    ExpectIntact(Dir / "s.zip", "secret");
    ExpectWrongPasswordRefused(Dir / "s.zip", "secreT");
}

TEST_F(ZipReaderTest, ReadsBsdtar) {
    ASSERT_EQ(Shell("cd '" + Src.string() + "' && bsdtar --format zip --options zip:encryption=zipcrypt --passphrase secret -cf '" +
                    (Dir / "b.zip").string() + "'" + FileList()),
              0);
    ExpectIntact(Dir / "b.zip", "secret");
    ExpectWrongPasswordRefused(Dir / "b.zip", "secre");
}

}  // namespace

namespace {

// Hand-made archives: plain stored entries, every field written out here.
struct TRawEntry {
    std::string Name;
    std::string Data;
    std::uint32_t Crc = 0;  // 0: the CRC of Data
};

std::uint32_t Crc(const std::string& s) {
    return static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

// `plain` as one raw Deflate stream (level 6), the data of a deflated entry.
void RawDeflate(const std::string& plain, std::string& deflated) {
    deflated.assign(compressBound(plain.size()), '\0');
    z_stream z{};
    ASSERT_EQ(deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.data()));
    z.avail_in = static_cast<uInt>(plain.size());
    z.next_out = reinterpret_cast<Bytef*>(deflated.data());
    z.avail_out = static_cast<uInt>(deflated.size());
    ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    deflated.resize(z.total_out);
    deflateEnd(&z);
}

std::string LocalRecord(const std::string& name, const std::string& data, std::uint32_t crc) {
    return L32(0x04034B50) + L16(20) + L16(0) + L16(0) + L16(0x6800) + L16(0x586F) + L32(crc) + L32(data.size()) +
           L32(data.size()) + L16(name.size()) + L16(0) + name;
}

std::string CentralRecord(const std::string& name, std::uint64_t size, std::uint32_t crc, std::uint64_t offset,
                          std::uint64_t uncompressed) {
    return L32(0x02014B50) + L16(20) + L16(20) + L16(0) + L16(0) + L16(0x6800) + L16(0x586F) + L32(crc) + L32(size) +
           L32(uncompressed) + L16(name.size()) + L16(0) + L16(0) + L16(0) + L16(0) + L32(0x20) + L32(offset) + name;
}

std::string EndRecord(std::uint64_t count, std::uint64_t size, std::uint64_t offset) {
    return L32(0x06054B50) + L16(0) + L16(0) + L16(count) + L16(count) + L32(size) + L32(offset) + L16(0);
}

std::string StoredArchive(const std::vector<TRawEntry>& entries) {
    std::string out, directory;
    for (const TRawEntry& e : entries) {
        const std::uint32_t crc = e.Crc ? e.Crc : Crc(e.Data);
        directory += CentralRecord(e.Name, e.Data.size(), crc, out.size(), e.Data.size());
        out += LocalRecord(e.Name, e.Data, crc) + e.Data;
    }
    return out + directory + EndRecord(entries.size(), directory.size(), out.size());
}

// What reading every entry of `bytes` gives: the contents, or the error.
struct TOutcome {
    bool Ok = false;
    std::string Error;
    std::vector<std::string> Contents;
};

TOutcome ReadArchive(const std::string& bytes, const std::string& password) {
    TOutcome o;
    try {
        zip::TMemorySource source(bytes);
        zip::TZipReader reader(source);
        for (const zip::TZipEntry& e : reader.Entries()) {
            std::string content;
            reader.ReadEntry(e, password, [&](const char* p, std::size_t n) { content.append(p, n); });
            o.Contents.push_back(content);
        }
        o.Ok = true;
    } catch (const zip::TZipError& e) {
        o.Error = e.what();
    }
    return o;
}

void ExpectDamaged(const std::string& bytes, const std::string& what) {
    const TOutcome o = ReadArchive(bytes, "");
    EXPECT_FALSE(o.Ok) << "read without complaint";
    EXPECT_NE(o.Error.find(what), std::string::npos) << "error: " << o.Error;
}

TEST(ZipReaderHostile, StoredArchiveMadeByHandReadsBack) {
    // The hand-made records are right: the cases below break one thing each.
    const TOutcome o = ReadArchive(StoredArchive({{"a.txt", "alpha"}, {"b.txt", "beta"}}), "");
    ASSERT_TRUE(o.Ok) << o.Error;
    EXPECT_EQ(o.Contents, (std::vector<std::string>{"alpha", "beta"}));
}

TEST(ZipReaderHostile, AFirstLocalHeaderThatSaysTooLittleOrTooMuch) {
    const std::string good = StoredArchive({{"a.txt", "alpha"}, {"b.txt", "beta"}});
    {
        zip::TMemorySource source(good);
        const std::optional<zip::TZipEntry> e = zip::ReadFirstLocalEntry(source);
        ASSERT_TRUE(e.has_value());
        EXPECT_EQ(e->Name, "a.txt");
        EXPECT_EQ(e->DataOffset, 30u + 5u);
        EXPECT_EQ(e->End, 30u + 5u + 5u);
    }
    // Sizes left to a data descriptor (flag bit 3, sizes 0): nothing to go on.
    std::string streamed = good;
    streamed[6] = 0x08;
    streamed.replace(18, 8, std::string(8, '\0'));
    zip::TMemorySource streamedSource(streamed);
    EXPECT_FALSE(zip::ReadFirstLocalEntry(streamedSource).has_value());
    // A compressed size beyond the file, and no local header at all.
    std::string huge = good;
    huge.replace(18, 4, L32(0xFFFFFFF0u));
    zip::TMemorySource hugeSource(huge);
    EXPECT_THROW(zip::ReadFirstLocalEntry(hugeSource), zip::TZipError);
    const std::string notLocal = good.substr(good.find("PK\x01\x02"));
    zip::TMemorySource notLocalSource(notLocal);
    EXPECT_THROW(zip::ReadFirstLocalEntry(notLocalSource), zip::TZipError);
}

TEST(ZipReaderHostile, EveryTruncationIsAnError) {
    const std::string whole = StoredArchive({{"a.txt", "alpha"}, {"b.txt", std::string(300, 'b')}});
    for (std::size_t n = 0; n < whole.size(); ++n) {
        const TOutcome o = ReadArchive(whole.substr(0, n), "");
        EXPECT_FALSE(o.Ok) << "a prefix of " << n << " bytes was read";
    }
}

TEST(ZipReaderHostile, SizesBeyondTheFileAreRefusedBeforeAnyAllocation) {
    // A 4 GiB entry in an archive of a few hundred bytes: the central size
    // and the local one say 0xFFFFFFF0.
    std::string name = "big.bin", data(200, 'x');
    std::string local = L32(0x04034B50) + L16(20) + L16(0) + L16(0) + L16(0x6800) + L16(0x586F) + L32(Crc(data)) +
                        L32(0xFFFFFFF0) + L32(0xFFFFFFF0) + L16(name.size()) + L16(0) + name + data;
    std::string central = CentralRecord(name, 0xFFFFFFF0, Crc(data), 0, 0xFFFFFFF0);
    ExpectDamaged(local + central + EndRecord(1, central.size(), local.size()), "runs past");

    // A directory that claims 2^32 - 1 bytes and 65535 entries.
    ExpectDamaged(StoredArchive({{"a", "1"}}).substr(0, 30 + 1 + 1) + EndRecord(0xFFFF, 0xFFFFFFF0, 0), "central directory");

    // A ZIP64 end record claiming 2^40 entries in a directory of 47 bytes.
    const std::string entry = LocalRecord("a", "1", Crc("1")) + "1";
    const std::string dir = CentralRecord("a", 1, Crc("1"), 0, 1);
    const std::uint64_t z64 = entry.size() + dir.size();
    const std::string zip64End = L32(0x06064B50) + L64(44) + L16(45) + L16(45) + L32(0) + L32(0) + L64(1ull << 40) +
                                 L64(1ull << 40) + L64(dir.size()) + L64(entry.size());
    const std::string locator = L32(0x07064B50) + L32(0) + L64(z64) + L32(1);
    ExpectDamaged(entry + dir + zip64End + locator + EndRecord(0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF), "more entries");
}

TEST(ZipReaderHostile, EveryBoundIsExact) {
    // Data that runs one byte into the central directory (both headers agree
    // on the size, one more than the data holds).
    const std::string local = LocalRecord("a", "alphab", Crc("alphab"));
    const std::string body = local + "alpha";
    const std::string dir = CentralRecord("a", 6, Crc("alphab"), 0, 6);
    ExpectDamaged(body + dir + EndRecord(1, dir.size(), body.size()), "runs past the entries");

    // A directory larger than its entries: bytes that belong to nothing.
    const std::string one = LocalRecord("a", "alpha", Crc("alpha")) + "alpha";
    const std::string padded = CentralRecord("a", 5, Crc("alpha"), 0, 5) + std::string(10, '\0');
    ExpectDamaged(one + padded + EndRecord(1, padded.size(), one.size()), "more than its entries");

    // A central header whose name runs one byte past the directory, into the
    // end record.
    std::string longName = CentralRecord("a", 5, Crc("alpha"), 0, 5);
    longName.replace(28, 2, L16(2));
    ExpectDamaged(one + longName + EndRecord(1, longName.size(), one.size()),
                  "a central directory header runs past the directory");

    // A data descriptor (CRC and both sizes, no signature) one byte short of
    // the directory: flag bit 3 in both headers.
    std::string described = LocalRecord("a", "alpha", Crc("alpha"));
    described.replace(6, 2, L16(8));
    described += "alpha" + (L32(Crc("alpha")) + L32(5) + L32(5)).substr(0, 11);
    std::string describedDir = CentralRecord("a", 5, Crc("alpha"), 0, 5);
    describedDir.replace(8, 2, L16(8));
    ExpectDamaged(described + describedDir + EndRecord(1, describedDir.size(), described.size()),
                  "the data descriptor of \"a\" is cut short");
}

TEST(ZipReaderHostile, TheEndRecordsMustAgreeAndDescribeOneDisk) {
    const std::string entry = LocalRecord("a", "1", Crc("1")) + "1";
    const std::string dir = CentralRecord("a", 1, Crc("1"), 0, 1);
    auto zip64End = [&](std::uint32_t disk) {
        return L32(0x06064B50) + L64(44) + L16(45) + L16(45) + L32(disk) + L32(0) + L64(1) + L64(1) +
               L64(dir.size()) + L64(entry.size());
    };
    auto locator = [&](std::uint32_t disks) { return L32(0x07064B50) + L32(0) + L64(entry.size() + dir.size()) + L32(disks); };
    auto end = [](std::uint32_t disk, std::uint16_t countOnDisk, std::uint16_t count, std::uint32_t size,
                  std::uint32_t offset) {
        return L32(0x06054B50) + L16(disk) + L16(0) + L16(countOnDisk) + L16(count) + L32(size) + L32(offset) + L16(0);
    };
    const std::string markers = end(0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF);
    const TOutcome good = ReadArchive(entry + dir + zip64End(0) + locator(1) + markers, "");
    ASSERT_TRUE(good.Ok) << good.Error;

    // A field of the end record holds the marker or the ZIP64 end record's
    // value; each field on its own.
    const std::string z64 = entry + dir + zip64End(0) + locator(1);
    const std::string disagree = "the end record and the ZIP64 end record disagree";
    ExpectDamaged(z64 + end(0, 2, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF), disagree);
    ExpectDamaged(z64 + end(0, 0xFFFF, 2, 0xFFFFFFFF, 0xFFFFFFFF), disagree);
    ExpectDamaged(z64 + end(0, 0xFFFF, 0xFFFF, dir.size() + 1, 0xFFFFFFFF), disagree);
    ExpectDamaged(z64 + end(0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, entry.size() + 1), disagree);

    // Another disk named by any of the records is refused as unsupported.
    std::string centralOnDisk1 = dir;
    centralOnDisk1.replace(34, 2, L16(1));
    const std::vector<std::string> severalDisks = {
        entry + dir + end(1, 1, 1, dir.size(), entry.size()),
        entry + dir + zip64End(1) + locator(1) + markers,
        entry + dir + zip64End(0) + locator(2) + markers,
        entry + centralOnDisk1 + EndRecord(1, dir.size(), entry.size()),
    };
    for (const std::string& bytes : severalDisks) {
        zip::TMemorySource source(bytes);
        try {
            zip::TZipReader reader(source);
            ADD_FAILURE() << "read without complaint";
        } catch (const zip::TZipError& e) {
            EXPECT_EQ(e.Kind(), zip::TZipError::TKind::Unsupported);
            EXPECT_STREQ(e.what(), "Archives on several disks are not supported");
        }
    }
}

TEST(ZipReaderHostile, Zip64SizesAreReadInTheirOrder) {
    // Both sizes of a deflated entry in ZIP64 fields (uncompressed first),
    // though they would fit: a reader must take them in the field's order.
    const std::string plain = std::string(3000, 'q') + "end";
    std::string deflated;
    ASSERT_NO_FATAL_FAILURE(RawDeflate(plain, deflated));
    const std::string name = "z64";
    const std::string extra = L16(1) + L16(16) + L64(plain.size()) + L64(deflated.size());
    const std::string local = L32(0x04034B50) + L16(45) + L16(0) + L16(8) + L16(0) + L16(0x21) + L32(Crc(plain)) +
                              L32(0xFFFFFFFF) + L32(0xFFFFFFFF) + L16(name.size()) + L16(extra.size()) + name + extra;
    const std::string central = L32(0x02014B50) + L16(45) + L16(45) + L16(0) + L16(8) + L16(0) + L16(0x21) +
                                L32(Crc(plain)) + L32(0xFFFFFFFF) + L32(0xFFFFFFFF) + L16(name.size()) +
                                L16(extra.size()) + L16(0) + L16(0) + L16(0) + L32(0) + L32(0) + name + extra;
    const std::string bytes = local + deflated + central + EndRecord(1, central.size(), local.size() + deflated.size());
    const TOutcome o = ReadArchive(bytes, "");
    ASSERT_TRUE(o.Ok) << o.Error;
    EXPECT_TRUE(o.Contents.at(0) == plain);
}

TEST(ZipReaderHostile, InflatedDataLongerOrShorterThanItsHeaderIsStopped) {
    // 1 MiB of zeros deflates to about 1 KiB; the headers say 10 bytes.
    std::string plain(1 << 20, '\0');
    std::string deflated;
    ASSERT_NO_FATAL_FAILURE(RawDeflate(plain, deflated));

    for (std::uint64_t claimed : {std::uint64_t{10}, std::uint64_t{0xFFFFFFF0}}) {
        const std::string name = "bomb";
        const std::string local = L32(0x04034B50) + L16(20) + L16(0) + L16(8) + L16(0) + L16(0x21) + L32(Crc(plain)) +
                                  L32(deflated.size()) + L32(claimed) + L16(name.size()) + L16(0) + name;
        std::string central = L32(0x02014B50) + L16(20) + L16(20) + L16(0) + L16(8) + L16(0) + L16(0x21) +
                              L32(Crc(plain)) + L32(deflated.size()) + L32(claimed) + L16(name.size()) + L16(0) +
                              L16(0) + L16(0) + L16(0) + L32(0) + L32(0) + name;
        const std::string bytes = local + deflated + central + EndRecord(1, central.size(), local.size() + deflated.size());
        zip::TMemorySource source(bytes);
        zip::TZipReader reader(source);
        std::uint64_t delivered = 0;
        try {
            reader.ReadEntry(reader.Entries()[0], "", [&](const char*, std::size_t n) { delivered += n; });
            ADD_FAILURE() << "read a bomb claiming " << claimed;
        } catch (const zip::TZipError& e) {
            EXPECT_NE(std::string(e.what()).find(claimed == 10 ? "more data" : "less data"), std::string::npos) << e.what();
        }
        EXPECT_LE(delivered, claimed);
    }
}

TEST(ZipReaderHostile, OverlappingEntriesAreRefused) {
    // b's local header lies inside a's data: both are valid on their own.
    const std::string bLocal = LocalRecord("b", "beta", Crc("beta")) + "beta";
    const std::string aData = "xx" + bLocal;
    const std::string aLocal = LocalRecord("a", aData, Crc(aData));
    const std::string dir = CentralRecord("a", aData.size(), Crc(aData), 0, aData.size()) +
                            CentralRecord("b", 4, Crc("beta"), aLocal.size() + 2, 4);
    const std::string body = aLocal + aData;
    ExpectDamaged(body + dir + EndRecord(2, dir.size(), body.size()), "overlap");

    // Two directory entries for one local header.
    const std::string one = LocalRecord("a", "alpha", Crc("alpha")) + "alpha";
    const std::string twice = CentralRecord("a", 5, Crc("alpha"), 0, 5) + CentralRecord("a", 5, Crc("alpha"), 0, 5);
    ExpectDamaged(one + twice + EndRecord(2, twice.size(), one.size()), "two entries named");
}

TEST(ZipReaderHostile, UnsafeNamesAreRefused) {
    for (const char* name : {"../evil.txt", "a/../../evil.txt", "a\\..\\evil", "..", "/etc/passwd", "\\x", "C:evil"})
        ExpectDamaged(StoredArchive({{name, "x"}}), "unsafe entry name");
    for (const char* name : {"a..b", "..a", "dir/", "a/b/c.txt", "...", "Пакет.txt"})
        EXPECT_TRUE(zip::IsSafeEntryName(name)) << name;
}

TEST(ZipReaderHostile, LocalHeaderAndDirectoryMustAgree) {
    const std::string good = StoredArchive({{"a.txt", "alpha"}});
    const std::size_t central = 30 + 5 + 5;
    auto patched = [&](std::size_t at, const std::string& bytes) {
        std::string s = good;
        s.replace(at, bytes.size(), bytes);
        return s;
    };
    ExpectDamaged(patched(8, L16(8)), "disagrees");                 // local method
    ExpectDamaged(patched(14, L32(0x12345678)), "disagrees");       // local CRC
    ExpectDamaged(patched(30, "b"), "name differs");               // local name
    ExpectDamaged(patched(central + 42, L32(1)), "signature");      // central offset moved off the header
    ExpectDamaged(patched(central + 16, L32(0x12345678)), "disagrees");  // central CRC
    // Data that does not match a CRC both headers agree on.
    ExpectDamaged(StoredArchive({{"a.txt", "alpha", 0x12345678}}), "CRC error");
}

// Damage in the middle of a large encrypted entry ends the read with an
// error while the read-ahead thread is still busy; the reader stops it.
TEST_F(ZipReaderTest, DamageInALargeEntryEndsTheReadCleanly) {
    const fs::path archive = Dir / "big.zip";
    zip::TZipWriter w;
    w.Create(archive);
    w.SetBaseDirectory(Src);
    w.AddFile("big.bin", false);
    w.SetPassword("pw");
    w.WriteArchive();
    std::string bytes = ReadAll(archive);
    std::uint64_t middle = 0;
    {
        zip::TMemorySource source(bytes);
        zip::TZipReader reader(source);
        const zip::TZipEntry& e = reader.Entries().at(0);
        ASSERT_GT(e.CompressedSize, 4 * zip::TZipReader::kChunkSize);
        middle = e.DataOffset + e.CompressedSize / 3;
    }
    bytes[middle] = static_cast<char>(bytes[middle] ^ 0x10);
    zip::TMemorySource source(bytes);
    zip::TZipReader reader(source);
    std::uint64_t delivered = 0;
    try {
        reader.ReadEntry(reader.Entries().at(0), "pw", [&](const char*, std::size_t n) { delivered += n; });
        ADD_FAILURE() << "damaged data was read";
    } catch (const zip::TZipError& e) {
        EXPECT_NE(std::string(e.what()).find("wrong password"), std::string::npos) << e.what();
    }
    EXPECT_GT(delivered, 0u);
}

// Every single-bit change of a small encrypted archive of the writer is
// either refused with an error or changes nothing that is read.
TEST_F(ZipReaderTest, EveryBitFlipIsRefusedOrHarmless) {
    files_ = {{"a.txt", XmlLike(300)}, {"Описание пакета.txt", "Опись"}};
    fs::remove_all(Src);
    fs::create_directories(Src);
    for (const auto& [name, content] : files_) Write(fs::path(text::Utf8ToUtf16(name)), content);
    const fs::path archive = Dir / "flip.zip";
    zip::TZipWriter w;
    w.Create(archive);
    w.SetBaseDirectory(Src);
    for (const auto& [name, content] : files_) w.AddFile(text::Utf8ToCp1251(name), false);
    w.SetPassword("pw");
    w.WriteArchive();
    const std::string bytes = ReadAll(archive);
    const TOutcome original = ReadArchive(bytes, "pw");
    ASSERT_TRUE(original.Ok) << original.Error;
    int refused = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            std::string flipped = bytes;
            flipped[i] = static_cast<char>(flipped[i] ^ (1 << bit));
            const TOutcome o = ReadArchive(flipped, "pw");
            if (!o.Ok) {
                ++refused;
                continue;
            }
            EXPECT_EQ(o.Contents, original.Contents) << "byte " << i << " bit " << bit << " changed what was read";
        }
    }
    // Most bytes are signatures, lengths, names, sizes, CRCs and encrypted
    // data, all checked; versions, dates, attributes and the Unicode Path
    // field's name (ignored when it no longer matches) are not. About 74 %
    // of the flips are refused here.
    EXPECT_GT(refused, static_cast<int>(bytes.size() * 8 * 2 / 3));
}

// An archive placed after 5 GiB of (sparse) leading data: ZIP64 end record,
// locator and local header offsets in ZIP64 fields.
TEST_F(ZipReaderTest, ReadsZip64OffsetsBeyond4GiB) {
    const fs::path archive = Dir / "far.zip";
    zip::TZipWriter w;
    w.Create(archive);
    w.SetStartOffset(5ull << 30);
    w.SetBaseDirectory(Src);
    w.AddFile("a.txt", false);
    w.AddFile("empty.txt", false);
    w.SetPassword("pw");
    w.WriteArchive();
    zip::TFileSource file(archive);
    zip::TZipReader reader(file);
    ASSERT_EQ(reader.Entries().size(), 2u);
    EXPECT_TRUE(reader.Entries()[0].Zip64);
    EXPECT_GT(reader.Entries()[1].LocalHeaderOffset, 5ull << 30);
    std::string content;
    reader.ReadEntry(reader.Entries()[0], "pw", [&](const char* p, std::size_t n) { content.append(p, n); });
    EXPECT_TRUE(content == files_["a.txt"]);
}

}  // namespace
