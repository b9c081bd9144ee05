// The reader against archives of the project's writer and of Info-ZIP zip,
// 7-Zip and libarchive's bsdtar, all encrypted with the traditional cipher;
// and against damaged and hostile archives made by hand.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <ctime>

#include "ZipTestUtil.h"
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
        try {
            reader.ReadEntry(e, wrong, [](const char*, std::size_t) {});
            ADD_FAILURE() << e.Name << " read with a wrong password";
        } catch (const zip::TZipError& err) {
            const bool says = err.Kind() == zip::TZipError::TKind::WrongPassword ||
                              std::string(err.what()).find("wrong password") != std::string::npos;
            EXPECT_TRUE(says) << err.what();
        }
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
