#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <set>

#include <sys/stat.h>

#include "platform/Faults.h"
#include "platform/Platform.h"
#include "text/Codepage.h"
#include "text/Error.h"

namespace fs = std::filesystem;

namespace {

class PlatformTest : public ::testing::Test {
protected:
    void SetUp() override { dir_ = platform::CreateUniqueDirectory(fs::temp_directory_path(), "wizard-test-"); }
    void TearDown() override { fs::remove_all(dir_); }
    void Write(const fs::path& name, const std::string& content) {
        std::ofstream(dir_ / name, std::ios::binary) << content;
    }
    fs::path dir_;
};

}  // namespace

TEST_F(PlatformTest, FindFileIgnoresCaseAndReportsTheNameOnDisk) {
    Write(u"Описание.TXT", "abc");
    auto found = platform::FindFile(dir_, u"описание.txt", false);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->Name, u"Описание.TXT");
    EXPECT_EQ(found->Size, 3u);
    EXPECT_EQ(found->Attributes, platform::kAttrArchive);
    EXPECT_FALSE(platform::FindFile(dir_, u"описание", false));
}

TEST_F(PlatformTest, FindFilePrefersTheExactSpellingAndSkipsDirectories) {
    Write("a.txt", "1");
    Write("A.txt", "22");
    fs::create_directory(dir_ / "b.txt");
    EXPECT_EQ(platform::FindFile(dir_, u"A.txt", false)->Size, 2u);
    EXPECT_EQ(platform::FindFile(dir_, u"a.txt", false)->Size, 1u);
    EXPECT_FALSE(platform::FindFile(dir_, u"b.txt", true));
}

TEST_F(PlatformTest, DotFilesAreHiddenAndFoundOnlyWhenAsked) {
    Write(".image.0", "x");
    EXPECT_FALSE(platform::FindFile(dir_, u".image.0", false));
    auto found = platform::FindFile(dir_, u".image.0", true);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->Attributes, platform::kAttrArchive | platform::kAttrHidden);
}

TEST_F(PlatformTest, FileTimeIsLocalDosTime) {
    Write("t.txt", "x");
    struct tm local {};
    local.tm_year = 2024 - 1900; local.tm_mon = 1; local.tm_mday = 29;
    local.tm_hour = 13; local.tm_min = 45; local.tm_sec = 59; local.tm_isdst = -1;
    const time_t t = mktime(&local);
    fs::last_write_time(dir_ / "t.txt", fs::file_time_type::clock::from_sys(std::chrono::system_clock::from_time_t(t)));
    auto found = platform::FindFile(dir_, u"t.txt", false);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->DosDate, ((2024 - 1980) << 9) | (2 << 5) | 29);
    EXPECT_EQ(found->DosTime, (13 << 11) | (45 << 5) | 29);  // 59 s rounds down to 58
}

TEST(PlatformDosTime, ClampsBefore1980) {
    std::uint16_t d = 1, t = 1;
    platform::ToDosDateTime(1970, 5, 5, 5, 5, 5, d, t);
    EXPECT_EQ(d, (1 << 5) | 1);
    EXPECT_EQ(t, 0);
}

TEST_F(PlatformTest, CreateReportsTheFullPathAndTheSystemReason) {
    try {
        platform::TFile::Create(dir_ / "missing" / "f.xml");
        FAIL() << "no error";
    } catch (const text::TError& e) {
        // The C library's text for ENOENT, without a closing period.
        EXPECT_EQ(std::string(e.what()), "Cannot create file \"" + text::PathTo1251(dir_ / "missing" / "f.xml") +
                                             "\". No such file or directory");
    }
}

TEST_F(PlatformTest, CreateTruncatesAndWritesAllBytes) {
    Write("f.bin", "old content that is long");
    {
        auto f = platform::TFile::Create(dir_ / "f.bin");
        f.WriteAll("new", 3);
        f.Close();
    }
    auto r = platform::TFile::OpenRead(dir_ / "f.bin");
    char buf[64];
    EXPECT_EQ(r.Read(buf, sizeof buf), 3u);
    EXPECT_EQ(std::string(buf, 3), "new");
    EXPECT_EQ(r.Read(buf, sizeof buf), 0u);
}

TEST_F(PlatformTest, SetSizeCutsTheFileAndContinuesThere) {
    auto f = platform::TFile::Create(dir_ / "f.bin");
    f.WriteAll("0123456789", 10);
    f.SetSize(4);
    f.WriteAll("ab", 2);
    f.Close();
    auto r = platform::TFile::OpenRead(dir_ / "f.bin");
    char buf[64];
    ASSERT_EQ(r.Read(buf, sizeof buf), 6u);
    EXPECT_EQ(std::string(buf, 6), "0123ab");
}

TEST_F(PlatformTest, UniqueDirectoriesAreNewAndPrivate) {
    std::set<fs::path> seen;
    for (int i = 0; i < 20; ++i) {
        const fs::path d = platform::CreateUniqueDirectory(dir_, "build-");
        EXPECT_TRUE(seen.insert(d).second);
        struct stat st;
        ASSERT_EQ(stat(d.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
    }
}

TEST_F(PlatformTest, ReplaceFileReplacesTheTarget) {
    Write("new", "N");
    Write("target", "OLD");
    platform::ReplaceFile(dir_ / "new", dir_ / "target");
    EXPECT_FALSE(fs::exists(dir_ / "new"));
    EXPECT_EQ(fs::file_size(dir_ / "target"), 1u);
    EXPECT_THROW(platform::ReplaceFile(dir_ / "absent", dir_ / "target"), text::TError);
}

TEST(PlatformRandom, FillsWithVaryingBytes) {
    unsigned char a[32] = {}, b[32] = {};
    platform::FillRandom(a, sizeof a);
    platform::FillRandom(b, sizeof b);
    EXPECT_NE(std::string(reinterpret_cast<char*>(a), 32), std::string(reinterpret_cast<char*>(b), 32));
}

TEST(PlatformTemp, TmpVariableWinsWhenSet) {
    const char* old = std::getenv("TMP");
    const std::string saved = old ? old : "";
    setenv("TMP", "/some/where", 1);
    EXPECT_EQ(platform::TempDirectory(), fs::path("/some/where"));
    // Empty counts as unset: the system's temporary directory (TMPDIR on POSIX).
    const char* oldTmpdir = std::getenv("TMPDIR");
    const std::string savedTmpdir = oldTmpdir ? oldTmpdir : "";
    setenv("TMP", "", 1);
    const fs::path elsewhere = fs::current_path();  // any existing folder other than /tmp
    setenv("TMPDIR", elsewhere.c_str(), 1);
    EXPECT_EQ(platform::TempDirectory(), elsewhere);
    if (oldTmpdir) setenv("TMPDIR", savedTmpdir.c_str(), 1); else unsetenv("TMPDIR");
    if (old) setenv("TMP", saved.c_str(), 1); else unsetenv("TMP");
}

TEST_F(PlatformTest, SystemErrorsRaiseWhileAMissingNameStaysNotFound) {
    namespace faults = platform::faults;
    Write("image.0", "x");
    EXPECT_FALSE(platform::FindFile(dir_, u"absent.txt", true));

    // A path that is a file, not a folder: the system refuses to list it.
    try {
        platform::FindFile(dir_ / "image.0", u"x", true);
        FAIL() << "no error";
    } catch (const text::TFileError& e) {
        EXPECT_EQ(e.Pattern(), "Cannot open file \"%s\". %s");
        EXPECT_EQ(e.Path(), text::PathTo1251(dir_ / "image.0"));
        EXPECT_EQ(e.Reason(), "Not a directory");
    }
    {
        const faults::TScopedFault unreadable(faults::TOperation::ListDirectory, EACCES);
        try {
            platform::FindFile(dir_, u"image.0", true);
            FAIL() << "no error";
        } catch (const text::TFileError& e) {
            EXPECT_EQ(e.Path(), text::PathTo1251(dir_));
            EXPECT_EQ(e.Reason(), "Permission denied");
        }
    }
    {
        const faults::TScopedFault status(faults::TOperation::FileStatus, EIO, "image.0");
        EXPECT_THROW(platform::FindFile(dir_, u"image.0", true), text::TFileError);
    }
    {
        // Gone between the listing and the status query: simply not there.
        const faults::TScopedFault vanished(faults::TOperation::FileStatus, ENOENT, "image.0");
        EXPECT_FALSE(platform::FindFile(dir_, u"image.0", true));
    }
    EXPECT_TRUE(platform::FindFile(dir_, u"image.0", true));

    auto f = platform::TFile::OpenRead(dir_ / "image.0");
    EXPECT_EQ(f.Size(), 1u);
    const faults::TScopedFault size(faults::TOperation::FileSize, EIO, "image.0");
    try {
        (void)f.Size();
        FAIL() << "no error";
    } catch (const text::TFileError& e) {
        EXPECT_EQ(e.Pattern(), "Cannot read file \"%s\". %s");
        EXPECT_EQ(e.Reason(), "Input/output error");
    }
}
