// TZipWriter: the bytes it writes, checked field by field by an independent
// parser, and its behaviour around lookup, errors and memory.
#include <gtest/gtest.h>

#include <cerrno>

#include <sys/resource.h>
#include <sys/stat.h>

#include <zlib.h>

#include "ZipParse.h"
#include "ZipTestUtil.h"
#include "platform/Faults.h"
#include "platform/Platform.h"
#include "text/Codepage.h"
#include "text/Error.h"
#include "text/Literal.h"
#include "zip/ZipWriter.h"

using namespace ziptest;
using namespace text::literals;

namespace {

// Random bytes 1, 2, 3, ... across all calls: each header is recognisable.
struct TCounterSource {
    std::shared_ptr<unsigned char> Next = std::make_shared<unsigned char>(0);
    void operator()(void* data, std::size_t size) const {
        auto* p = static_cast<unsigned char*>(data);
        for (std::size_t i = 0; i < size; ++i) p[i] = ++*Next;
    }
};

std::uint32_t Crc(const std::string& s) {
    return static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

class ZipWriterTest : public TTempDirTest {
protected:
    // Writes the archive of `names` (1251) under `password` and returns its bytes.
    std::string WriteArchive(const std::vector<std::string>& names, const std::string& password,
                             zip::TZipWriter::TRandomSource random = TCounterSource()) {
        zip::TZipWriter writer;
        writer.SetRandomSource(std::move(random));
        writer.Create(Dir / "out.zip");
        writer.SetBaseDirectory(Src);
        for (const std::string& n : names) writer.AddFile(n, false);
        writer.SetPassword(password);
        writer.WriteArchive();
        return ReadAll(Dir / "out.zip");
    }
};

}  // namespace

TEST_F(ZipWriterTest, EveryRecordFieldOfAMixedArchive) {
    const std::string xml = XmlLike(50000), noise = Noise(20000, 1);
    const std::string text1251(std::string("Текст соглашения. "_cp1251) + XmlLike(300));
    Write("PackageData.xml", xml);
    Write(u"Описание пакета.txt", text1251);
    Write("empty.txt", "");
    Write("noise.bin", noise);
    ::chmod((Src / "noise.bin").c_str(), 0444);
    // Last-write times of each file, local time, written out as MS-DOS
    // date and time by hand below.
    SetLocalTime(Src / "PackageData.xml", 2024, 2, 29, 13, 45, 58);
    SetLocalTime(Src / u"Описание пакета.txt", 1999, 12, 31, 23, 59, 59);
    SetLocalTime(Src / "empty.txt", 2010, 7, 1, 0, 0, 2);
    SetLocalTime(Src / "noise.bin", 2031, 1, 15, 8, 30, 0);

    const std::string password(std::string("Пароль-1"_cp1251));
    const std::string bytes = WriteArchive(
        {"PackageData.xml", std::string("Описание пакета.txt"_cp1251), "empty.txt", "noise.bin"}, password);
    const TParsedArchive archive = ParseArchive(bytes, 0, password);
    ASSERT_EQ(archive.Entries.size(), 4u);
    EXPECT_FALSE(archive.Zip64End);

    struct TExpected {
        std::u16string Name;
        std::string Name866;
        std::string Content;
        std::uint16_t Method;
        std::uint32_t Attributes;
        std::uint16_t DosDate, DosTime;
    };
    // "Описание пакета.txt" in code page 866 (Python: .encode("cp866")).
    const std::string description866 = "\x8e\xaf\xa8\xe1\xa0\xad\xa8\xa5 \xaf\xa0\xaa\xa5\xe2\xa0.txt";
    const TExpected expected[] = {
        {u"PackageData.xml", "PackageData.xml", xml, 8, 0x20, (44 << 9) | (2 << 5) | 29, (13 << 11) | (45 << 5) | 29},
        {u"Описание пакета.txt", description866, text1251, 8, 0x20, (19 << 9) | (12 << 5) | 31,
         (23 << 11) | (59 << 5) | 29},
        {u"empty.txt", "empty.txt", "", 0, 0x20, (30 << 9) | (7 << 5) | 1, 1},
        {u"noise.bin", "noise.bin", noise, 0, 0x21, (51 << 9) | (1 << 5) | 15, (8 << 11) | (30 << 5)}};
    unsigned char random = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const TParsedEntry& e = archive.Entries[i];
        const TExpected& x = expected[i];
        EXPECT_EQ(e.Name, x.Name866);
        EXPECT_EQ(e.Content, x.Content);
        EXPECT_EQ(e.Crc, Crc(x.Content));
        EXPECT_EQ(e.UncompressedSize, x.Content.size());
        EXPECT_EQ(e.Method, x.Method);
        if (x.Method == 0) {
            EXPECT_EQ(e.CompressedSize, x.Content.size() + 12);
        }
        EXPECT_EQ(e.Flags, 0x0009);
        EXPECT_EQ(e.VersionNeeded, 20);
        EXPECT_EQ(e.MadeBy, 20);  // host 0 (MS-DOS) in the high byte
        EXPECT_EQ(e.DosTime, x.DosTime);
        EXPECT_EQ(e.DosDate, x.DosDate);
        EXPECT_EQ(e.ExternalAttributes, x.Attributes);

        // The local header repeats the central one field for field (version
        // needed .. extra length), then the same name and extra field.
        EXPECT_EQ(e.LocalRecord.substr(4, 26), e.CentralRecord.substr(6, 26));
        EXPECT_EQ(e.LocalRecord.substr(30), e.CentralRecord.substr(46));
        EXPECT_EQ(e.Descriptor, L32(0x08074B50) + L32(e.Crc) + L32(e.CompressedSize) + L32(e.UncompressedSize));

        if (i == 1) {
            const std::string utf8 = text::Utf16ToUtf8(x.Name);
            EXPECT_EQ(e.Extra, L16(0x7075) + L16(5 + utf8.size()) + "\x01" + L32(Crc(e.Name)) + utf8);
        } else {
            EXPECT_EQ(e.Extra, "");
        }

        // Ten bytes from the random source, then the time; the last one is
        // the check byte readers compare with the time's high byte.
        std::string header;
        for (int k = 0; k < 10; ++k) header += static_cast<char>(++random);
        header += static_cast<char>(e.DosTime & 0xFF);
        header += static_cast<char>(e.DosTime >> 8);
        EXPECT_EQ(e.EncryptionHeader, header);
    }
    EXPECT_EQ(archive.Entries[2].Crc, 0u);
    EXPECT_EQ(archive.Entries[2].CompressedSize, 12u);
}

TEST_F(ZipWriterTest, SameRandomBytesGiveTheSameArchiveAndTheSystemSourceVaries) {
    Write("a.txt", XmlLike(3000));
    const std::string first = WriteArchive({"a.txt"}, "pw");
    EXPECT_EQ(WriteArchive({"a.txt"}, "pw"), first);
    const std::string a = WriteArchive({"a.txt"}, "pw", platform::FillRandom);
    const std::string b = WriteArchive({"a.txt"}, "pw", platform::FillRandom);
    ASSERT_EQ(a.size(), first.size());
    EXPECT_NE(a, b);
    EXPECT_NE(a, first);
}

TEST_F(ZipWriterTest, LookupIgnoresCaseTakesTheNameOnDiskAndSkipsHiddenFiles) {
    Write("PackageData.xml", "x");
    Write(u"Описание пакета.txt", "y");
    Write(".hidden", "z");
    zip::TZipWriter writer;
    writer.Create(Dir / "out.zip");
    writer.SetBaseDirectory(Src);
    writer.AddFile("PACKAGEDATA.XML", false);
    writer.AddFile(std::string("ОПИСАНИЕ ПАКЕТА.TXT"_cp1251), false);
    writer.AddFile(".hidden", false);
    writer.AddFile("no such file", false);
    writer.AddFile(".HIDDEN", true);
    writer.SetPassword("pw");
    writer.WriteArchive();
    const TParsedArchive archive = ParseArchive(ReadAll(Dir / "out.zip"), 0, "pw");
    ASSERT_EQ(archive.Entries.size(), 3u);
    EXPECT_EQ(archive.Entries[0].Name, "PackageData.xml");
    EXPECT_EQ(archive.Entries[1].Name, "\x8e\xaf\xa8\xe1\xa0\xad\xa8\xa5 \xaf\xa0\xaa\xa5\xe2\xa0.txt");
    EXPECT_EQ(archive.Entries[2].Name, ".hidden");
    EXPECT_EQ(archive.Entries[2].ExternalAttributes, 0x22u);
    EXPECT_EQ(archive.Entries[2].Content, "z");
}

TEST_F(ZipWriterTest, NothingAddedLeavesAnEmptyFileInPlaceOfAnOldOne) {
    std::ofstream(Dir / "out.zip") << "an older archive";
    zip::TZipWriter writer;
    writer.Create(Dir / "out.zip");
    EXPECT_EQ(fs::file_size(Dir / "out.zip"), 0u);
    writer.SetBaseDirectory(Src);
    writer.AddFile("missing.txt", false);
    writer.AddFile(".hidden-missing", true);
    writer.SetPassword("pw");
    writer.WriteArchive();
    EXPECT_EQ(fs::file_size(Dir / "out.zip"), 0u);
}

TEST_F(ZipWriterTest, EmptyPathCreatesNothingAndAddFileFails) {
    Write("a.txt", "a");
    zip::TZipWriter writer;
    writer.Create("");
    writer.SetBaseDirectory(Src);
    try {
        writer.AddFile("a.txt", false);
        FAIL() << "AddFile without an archive must fail";
    } catch (const text::TError& e) {
        EXPECT_STREQ(e.what(), "Archive does not exist - Filename is blank");
    }
    writer.WriteArchive();  // nothing to write, nothing to fail
    EXPECT_EQ(std::distance(fs::directory_iterator(Dir), fs::directory_iterator()), 1);  // src only
}

TEST_F(ZipWriterTest, CreateInAMissingDirectoryNamesThePathAndTheReason) {
    zip::TZipWriter writer;
    const fs::path path = Dir / "missing" / "out.zip";
    try {
        writer.Create(path);
        FAIL() << "Create must fail";
    } catch (const text::TError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file \"" + text::PathTo1251(path) + "\". " +
                                             platform::SystemErrorText(ENOENT));
    }
}

TEST_F(ZipWriterTest, AFailedWriteLeavesNoPartialArchive) {
    Write("a.txt", XmlLike(10000));
    Write("b.txt", "gone before writing");
    zip::TZipWriter writer;
    writer.Create(Dir / "out.zip");
    writer.SetBaseDirectory(Src);
    writer.AddFile("a.txt", false);
    writer.AddFile("b.txt", false);
    writer.SetPassword("pw");
    fs::remove(Src / "b.txt");
    try {
        writer.WriteArchive();
        FAIL() << "a vanished entry must fail the archive";
    } catch (const text::TError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Cannot open file \"", 0), 0u) << e.what();
    }
    EXPECT_EQ(fs::file_size(Dir / "out.zip"), 0u);
}

TEST_F(ZipWriterTest, LargeEntryIsStreamedNotHeldInMemory) {
    constexpr std::uint64_t kSize = 192ull << 20;
    {
        // A sparse file of zeros: no disk space, and Deflate is fast on it.
        auto f = platform::TFile::Create(Src / "big.bin");
        f.SetSize(kSize);
    }
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    zip::TZipWriter writer;
    writer.Create(Dir / "out.zip");
    writer.SetBaseDirectory(Src);
    writer.AddFile("big.bin", false);
    writer.SetPassword("pw");
    writer.WriteArchive();
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    const long grownKiB = after.ru_maxrss - before.ru_maxrss;
    EXPECT_LT(grownKiB, 48 * 1024) << "peak memory grew by " << grownKiB << " KiB for a " << (kSize >> 20)
                                   << " MiB entry";

    const std::string bytes = ReadAll(Dir / "out.zip");
    ASSERT_GT(bytes.size(), 30u);
    EXPECT_LT(bytes.size(), kSize / 100);
    EXPECT_EQ(Le(bytes, 8, 2), 8u);  // deflated
    EXPECT_EQ(Le(bytes, 22, 4), kSize);
    const std::string zeros(1 << 20, '\0');
    uLong crc = crc32(0, nullptr, 0);
    for (std::uint64_t i = 0; i < kSize >> 20; ++i)
        crc = crc32(crc, reinterpret_cast<const Bytef*>(zeros.data()), static_cast<uInt>(zeros.size()));
    EXPECT_EQ(Le(bytes, 14, 4), crc);
}

TEST_F(ZipWriterTest, DeflatedDataBeyondTheWriteBufferIsEncryptedInTheFile) {
    // Half noise, half text: Deflate wins, and its output (about 2 MB) has
    // left the writer's 1 MiB buffer before it is encrypted.
    const std::string content = Noise(1600000, 9) + XmlLike(1600000);
    Write("mixed.bin", content);
    Write("after.txt", "the entry after it");
    const std::string bytes = WriteArchive({"mixed.bin", "after.txt"}, "pw");
    const TParsedArchive archive = ParseArchive(bytes, 0, "pw");
    ASSERT_EQ(archive.Entries.size(), 2u);
    EXPECT_EQ(archive.Entries[0].Method, 8);
    EXPECT_GT(archive.Entries[0].CompressedSize, 1u << 20);
    EXPECT_EQ(archive.Entries[0].Content, content);
    EXPECT_EQ(archive.Entries[1].Content, "the entry after it");
}

TEST_F(ZipWriterTest, AFileWhoseSizeCannotBeReadIsAnErrorNotAnEmptyEntry) {
    Write("PackageData.xml", XmlLike(5000));
    const platform::faults::TScopedFault fault(platform::faults::TOperation::FileSize, EIO, "PackageData.xml");
    zip::TZipWriter writer;
    writer.Create(Dir / "out.zip");
    writer.SetBaseDirectory(Src);
    writer.AddFile("PackageData.xml", false);
    writer.SetPassword("pw");
    EXPECT_THROW(writer.WriteArchive(), text::TFileError);
    EXPECT_EQ(fs::file_size(Dir / "out.zip"), 0u);
}
