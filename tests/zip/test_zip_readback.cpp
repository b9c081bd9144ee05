// Archives written by TZipWriter, opened and decrypted by independent
// readers: Python's zipfile, Info-ZIP unzip, 7-Zip and libarchive's bsdtar.
#include <gtest/gtest.h>

#include <ctime>

#include <chrono>
#include <cstdlib>
#include <sstream>

#include "ZipParse.h"
#include "ZipTestUtil.h"
#include "platform/Platform.h"
#include "text/Codepage.h"
#include "text/Literal.h"
#include "zip/ZipWriter.h"

using namespace ziptest;
using namespace text::literals;

namespace {

struct TSource {
    std::u16string Name;
    std::string Content;
    std::uint32_t Attributes;
};

std::string Utf8(const std::u16string& s) { return text::Utf16ToUtf8(s); }

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

std::vector<std::string> Split(const std::string& line, char sep) {
    std::vector<std::string> parts;
    std::istringstream in(line);
    for (std::string part; std::getline(in, part, sep);) parts.push_back(part);
    return parts;
}

// Runs a shell command with a UTF-8 locale (so the tools print and create
// Cyrillic names as UTF-8) and returns its exit status.
int Shell(const std::string& command) {
    const int rc = std::system(("LC_ALL=C.UTF-8 " + command).c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

class ZipReadBackTest : public TTempDirTest {
protected:
    void SetUp() override {
        TTempDirTest::SetUp();
        Sources = {{u"PackageData.xml", XmlLike(40000), 0x20},
                   {u"Пользовательское соглашение.txt", std::string("Соглашение: "_cp1251) + XmlLike(2000), 0x20},
                   {u"empty.txt", "", 0x20},
                   {u"Описание пакета.txt", std::string("Описание"_cp1251), 0x21},
                   {u"noise.bin", Noise(16000, 3), 0x20}};
        // An even number of seconds: the MS-DOS time keeps 2-second steps,
        // so an extracted file's time must equal the original's exactly.
        const auto now = std::chrono::time_point_cast<std::chrono::seconds>(fs::file_time_type::clock::now());
        Mtime = now - std::chrono::seconds(now.time_since_epoch().count() % 2 + 3600);
        for (const TSource& s : Sources) {
            Write(s.Name, s.Content);
            fs::last_write_time(Src / s.Name, Mtime);
            if (s.Attributes & 1) fs::permissions(Src / s.Name, fs::perms::owner_write, fs::perm_options::remove);
        }
    }

    // Writes Sources into `archive`, starting `startOffset` bytes into it.
    void WriteArchive(const fs::path& archive, std::uint64_t startOffset = 0) {
        zip::TZipWriter writer;
        writer.Create(archive);
        writer.SetStartOffset(startOffset);
        writer.SetBaseDirectory(Src);
        for (const TSource& s : Sources) writer.AddFile(text::Utf16ToCp1251(s.Name), false);
        writer.SetPassword(Password);
        writer.WriteArchive();
    }

    // Checks the files a reader extracted into `out`: names, contents, times.
    void ExpectExtracted(const fs::path& out) {
        std::size_t count = 0;
        for (const auto& entry : fs::directory_iterator(out)) {
            (void)entry;
            ++count;
        }
        EXPECT_EQ(count, Sources.size());
        for (const TSource& s : Sources) {
            SCOPED_TRACE(Utf8(s.Name));
            const fs::path p = out / s.Name;
            ASSERT_TRUE(fs::exists(p));
            EXPECT_EQ(ReadAll(p), s.Content);
            EXPECT_EQ(fs::last_write_time(p), Mtime);
        }
    }

    // Checks the listing a reader wrote into list.txt: the sources' names, in
    // the archive's order.
    void ExpectListedInOrder() {
        const std::vector<std::string> names = Lines(ReadAll(Dir / "list.txt"));
        ASSERT_EQ(names.size(), Sources.size());
        for (std::size_t i = 0; i < Sources.size(); ++i) EXPECT_EQ(names[i], Utf8(Sources[i].Name));
    }

    std::string Quoted(const fs::path& p) const { return "'" + p.string() + "'"; }

    std::vector<TSource> Sources;
    fs::file_time_type Mtime;
    const std::string Password{std::string("Ключ-пакета-1"_cp1251)};
};

}  // namespace

TEST_F(ZipReadBackTest, PythonZipfileReadsNamesOrderTimesAttributesAndData) {
    const fs::path archive = Dir / "package.zip";
    WriteArchive(archive);
    const fs::path out = Dir / "py";
    fs::create_directories(out);
    const std::string script = ZIP_READ_SCRIPT;
    ASSERT_EQ(Shell("python3 '" + script + "' " + Quoted(archive) + " " + Hex(Password) + " " + Quoted(out)), 0);

    const std::vector<std::string> lines = Lines(ReadAll(out / "manifest.txt"));
    ASSERT_EQ(lines.size(), Sources.size());
    for (std::size_t i = 0; i < Sources.size(); ++i) {
        const TSource& s = Sources[i];
        SCOPED_TRACE(Utf8(s.Name));
        const std::vector<std::string> f = Split(lines[i], '\t');
        ASSERT_EQ(f.size(), 10u);
        EXPECT_EQ(f[1], Utf8(s.Name));  // the 866 name, decoded
        const bool ascii = Utf8(s.Name).size() == s.Name.size();
        EXPECT_EQ(f[2], ascii ? "-" : Utf8(s.Name));
        // The files' local time as the C library gives it, seconds rounded down to even.
        const std::time_t mtime = std::chrono::system_clock::to_time_t(fs::file_time_type::clock::to_sys(Mtime));
        struct tm local {};
        ASSERT_NE(localtime_r(&mtime, &local), nullptr);
        EXPECT_EQ(f[3], std::to_string(local.tm_year + 1900) + "-" + std::to_string(local.tm_mon + 1) + "-" +
                            std::to_string(local.tm_mday) + "-" + std::to_string(local.tm_hour) + "-" +
                            std::to_string(local.tm_min) + "-" + std::to_string(local.tm_sec / 2 * 2));
        EXPECT_EQ(f[4], s.Attributes == 0x21 ? "21" : "20");
        EXPECT_EQ(f[5], "0");   // MS-DOS
        EXPECT_EQ(f[6], "20");
        EXPECT_EQ(f[7], "20");
        EXPECT_EQ(f[8], s.Content.size() > 0 && s.Name != u"noise.bin" && s.Content.size() > 20 ? "8" : "0");
        EXPECT_EQ(f[9], "9");
        EXPECT_EQ(ReadAll(out / std::to_string(i)), s.Content);
    }
}

TEST_F(ZipReadBackTest, SevenZipExtractsEverything) {
    const fs::path archive = Dir / "package.zip";
    WriteArchive(archive);
    const fs::path out = Dir / "7z";
    ASSERT_EQ(Shell("7z x -y -bso0 -bsp0 '-p" + Password + "' -o" + Quoted(out) + " " + Quoted(archive)), 0);
    ExpectExtracted(out);
    // Listing order is the archive's order.
    ASSERT_EQ(Shell("7z l -slt '-p" + Password + "' " + Quoted(archive) + " | sed -n 's/^Path = //p' | tail -n +2 > " +
                  Quoted(Dir / "list.txt")),
              0);
    ExpectListedInOrder();
}

TEST_F(ZipReadBackTest, BsdtarExtractsEverything) {
    const fs::path archive = Dir / "package.zip";
    WriteArchive(archive);
    const fs::path out = Dir / "bsdtar";
    fs::create_directories(out);
    ASSERT_EQ(Shell("bsdtar --passphrase '" + Password + "' -xf " + Quoted(archive) + " -C " + Quoted(out)), 0);
    ExpectExtracted(out);
    ASSERT_EQ(Shell("bsdtar --passphrase '" + Password + "' -tf " + Quoted(archive) + " > " + Quoted(Dir / "list.txt")),
              0);
    ExpectListedInOrder();
}

TEST_F(ZipReadBackTest, InfoZipUnzipExtractsAnArchiveOfAsciiNames) {
    Sources.erase(std::remove_if(Sources.begin(), Sources.end(),
                                 [](const TSource& s) { return Utf8(s.Name).size() != s.Name.size(); }),
                  Sources.end());
    const fs::path archive = Dir / "package.zip";
    WriteArchive(archive);
    const fs::path out = Dir / "unzip";
    ASSERT_EQ(Shell("unzip -qq -P '" + Password + "' " + Quoted(archive) + " -d " + Quoted(out)), 0);
    ExpectExtracted(out);
    ASSERT_EQ(Shell("unzip -Z1 " + Quoted(archive) + " > " + Quoted(Dir / "list.txt")), 0);
    ExpectListedInOrder();
}

TEST_F(ZipReadBackTest, InfoZipUnzipReadsCyrillicNamesEntryByEntry) {
    // Debian's unzip 6.0 takes an entry with a Unicode Path field and a data
    // descriptor for an overlap ("possible zip bomb", status 12) once the
    // entry is done, although the data is right; so each entry is piped out
    // alone and status 12 is accepted, nothing else.
    const fs::path archive = Dir / "package.zip";
    WriteArchive(archive);
    ASSERT_EQ(Shell("unzip -Z1 " + Quoted(archive) + " > " + Quoted(Dir / "list.txt")), 0);
    const std::vector<std::string> names = Lines(ReadAll(Dir / "list.txt"));
    ASSERT_EQ(names.size(), Sources.size());
    for (std::size_t i = 0; i < Sources.size(); ++i) {
        SCOPED_TRACE(Utf8(Sources[i].Name));
        EXPECT_EQ(names[i], Utf8(Sources[i].Name));
        const fs::path out = Dir / ("entry" + std::to_string(i));
        const int rc = Shell("unzip -p -P '" + Password + "' " + Quoted(archive) + " '" + names[i] + "' > " +
                           Quoted(out) + " 2>/dev/null");
        EXPECT_TRUE(rc == 0 || rc == 12) << rc;
        EXPECT_EQ(ReadAll(out), Sources[i].Content);
    }
}

TEST_F(ZipReadBackTest, EntriesBeyondFourGiBUseZip64AndReadBack) {
    // The archive starts after a sparse 4 GiB hole, so every local header
    // offset and the directory's offset need ZIP64 while the disk holds only
    // a few kilobytes.
    constexpr std::uint64_t kStart = (4ull << 30) + 64;
    Sources.resize(2);  // PackageData.xml and a Cyrillic name
    const fs::path archive = Dir / "far.zip";
    WriteArchive(archive, kStart);
    ASSERT_EQ(fs::file_size(archive) > kStart, true);

    std::ifstream in(archive, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(kStart));
    const std::string tail((std::istreambuf_iterator<char>(in)), {});
    const TParsedArchive parsed = ParseArchive(tail, kStart, Password);
    EXPECT_TRUE(parsed.Zip64End);
    ASSERT_EQ(parsed.Entries.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        const TParsedEntry& e = parsed.Entries[i];
        EXPECT_EQ(e.VersionNeeded, 45);
        EXPECT_EQ(e.MadeBy, 45);
        EXPECT_EQ(Le(e.LocalRecord, 4, 2), 45u);
        EXPECT_EQ(Le(e.LocalRecord, 28, 2), i == 0 ? 0u : e.LocalRecord.size() - 30 - e.Name.size());
        EXPECT_EQ(Le(e.CentralRecord, 42, 4), 0xFFFFFFFFu);
        EXPECT_EQ(Le(e.Extra, 0, 2), 0x0001u);
        EXPECT_EQ(Le(e.Extra, 2, 2), 8u);
        EXPECT_EQ(e.Content, Sources[i].Content);
    }

    const fs::path out = Dir / "py";
    fs::create_directories(out);
    const std::string script = ZIP_READ_SCRIPT;
    ASSERT_EQ(Shell("python3 '" + script + "' " + Quoted(archive) + " " + Hex(Password) + " " + Quoted(out)), 0);
    EXPECT_EQ(Lines(ReadAll(out / "manifest.txt")).size(), 2u);
    EXPECT_EQ(ReadAll(out / "0"), Sources[0].Content);
    EXPECT_EQ(ReadAll(out / "1"), Sources[1].Content);

    // bsdtar and unzip find the records from the end; 7-Zip 16.02 gives up
    // on an archive behind 4 GiB of leading data ("Is not archive").
    const fs::path outTar = Dir / "bsdtar";
    fs::create_directories(outTar);
    ASSERT_EQ(Shell("bsdtar --passphrase '" + Password + "' -xf " + Quoted(archive) + " -C " + Quoted(outTar)), 0);
    ExpectExtracted(outTar);
}
