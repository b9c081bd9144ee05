// The package assembly end to end: packages are written into a private
// directory (TMP points into it too) and read back with Python's zipfile.
#include <gtest/gtest.h>

#include <cerrno>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <zlib.h>

#include "package/PackageAssembly.h"
#include "platform/Faults.h"
#include "tests/zip/ZipParse.h"
#include "tests/zip/ZipTestUtil.h"
#include "tests/platform/ClipboardFakes.h"
#include "platform/Platform.h"
#include "text/Codepage.h"
#include "text/Error.h"
#include "text/Literal.h"
#include "xml/XmlDom.h"

namespace {

namespace fs = std::filesystem;
using namespace text::literals;
namespace names = package::package_names;
using ziptest::Hex;


std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const fs::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

std::vector<std::string> Listing(const fs::path& dir) {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(dir)) found.push_back(e.path().filename().string());
    return found;
}

// Every record of an archive, as the project's own strict parser reads it:
// the local header repeats the central one, the descriptor carries the real
// CRC and sizes, the CRC is that of the content, and the encryption
// header's last byte is the high byte of the entry's time.
void ExpectSoundRecords(const ziptest::TParsedArchive& archive) {
    for (const ziptest::TParsedEntry& e : archive.Entries) {
        SCOPED_TRACE(e.Name);
        const auto crc = static_cast<std::uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(e.Content.data()), static_cast<uInt>(e.Content.size())));
        EXPECT_EQ(e.Crc, crc);
        EXPECT_EQ(e.UncompressedSize, e.Content.size());
        EXPECT_EQ(e.Flags, 0x0009);
        EXPECT_EQ(e.LocalRecord.substr(4, 26), e.CentralRecord.substr(6, 26));
        EXPECT_EQ(e.LocalRecord.substr(30), e.CentralRecord.substr(46));
        EXPECT_EQ(e.Descriptor, ziptest::L32(0x08074B50) + ziptest::L32(crc) + ziptest::L32(e.CompressedSize) +
                                    ziptest::L32(e.UncompressedSize));
        ASSERT_EQ(e.EncryptionHeader.size(), 12u);
        EXPECT_EQ(static_cast<unsigned char>(e.EncryptionHeader[11]), e.DosTime >> 8);
    }
}

// What zipfile found in a package.
struct TReadBack {
    int Status = -1;                      // 0: every entry decrypted and passed its CRC
    std::vector<std::string> Names;       // UTF-8
    std::vector<std::string> Contents;
    std::vector<std::string> ImageNames;  // the entries of image.0, UTF-8
    std::string PackageData;              // the first entry of image.0
};

std::string Utf8(std::string_view text1251) { return text::Cp1251ToUtf8(text1251); }

// Sets or clears an environment variable for its lifetime.
class TEnvironment {
public:
    TEnvironment(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) saved_ = old;
        if (value) setenv(name, value, 1);
        else unsetenv(name);
    }
    ~TEnvironment() {
        if (saved_) setenv(name_, saved_->c_str(), 1);
        else unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> saved_;
};

class AssemblyTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = platform::CreateUniqueDirectory(fs::temp_directory_path(), "assembly-test-");
        tmp_ = root_ / "tmp";
        out_ = root_ / "out";
        fs::create_directories(tmp_);
        fs::create_directories(out_);
        tmpVariable_.emplace("TMP", tmp_.c_str());

        doc_.reset(new xml::TXmlDDocument());
        xml::TRef<xml::TXmlDElement> rootElement(new xml::TXmlDElement("1C8InstallationPackage"));
        doc_->AppendChild(rootElement.get());
        auto* item = new xml::TXmlDElement("Item");
        rootElement->AppendChild(item);
        item->SetText(std::string("Справочники.Склады <&> \"да\""_cp1251));

        agreement_ = root_ / "соглашение.txt";
        description_ = root_ / "описание.txt";
        WriteAll(agreement_, "Соглашение: используйте на свой риск.\r\n"_cp1251);
        WriteAll(description_, "Описание пакета"_cp1251);
    }

    void TearDown() override {
        tmpVariable_.reset();
        fs::remove_all(root_);
    }

    package::TAssemblyInput Input(std::string key) const {
        return {text::PathTo1251(agreement_), text::PathTo1251(description_), text::PathTo1251(Package()), key};
    }
    fs::path Package() const { return out_ / "Пакет.1c82pkg"; }

    void Assemble(const package::TAssemblyInput& in, const zip::TZipWriter::TRandomSource& random = {}) {
        package::AssemblePackage(*doc_, in, clipboard_, clock_, random);
    }

    TReadBack ReadBack(std::string_view password) {
        const fs::path dir = root_ / ("readback-" + std::to_string(readBacks_++));
        fs::create_directories(dir);
        const char* source = std::getenv("WIZARD_SOURCE_DIR");
        const std::string script = std::string(source ? source : ".") + "/tests/package/read_package.py";
        const std::string command = "python3 '" + script + "' '" + Package().string() + "' " + Hex(password) + " " +
                                    Hex(package::kImagePassword) + " '" + dir.string() + "'";
        TReadBack r;
        const int status = std::system(command.c_str());
        r.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.Names = Lines(ReadAll(dir / "names.txt"));
        for (std::size_t i = 0; i < r.Names.size(); ++i) r.Contents.push_back(ReadAll(dir / ("entry-" + std::to_string(i))));
        r.ImageNames = Lines(ReadAll(dir / "image-names.txt"));
        r.PackageData = ReadAll(dir / "image-entry-0");
        return r;
    }

    // A failed build wrote nothing that stays: TMP is empty and the package
    // folder holds exactly what it held before.
    void ExpectNoTraces(const std::vector<std::string>& packageFolder) {
        EXPECT_TRUE(Listing(tmp_).empty());
        EXPECT_EQ(Listing(out_), packageFolder);
        EXPECT_TRUE(clipboard_.texts.empty());
    }

    fs::path root_, tmp_, out_, agreement_, description_;
    std::optional<TEnvironment> tmpVariable_;
    xml::TRef<xml::TXmlDDocument> doc_;
    platform::fakes::TFakeClock clock_;
    platform::fakes::TFakeClipboard clipboard_{clock_};
    int readBacks_ = 0;
};

TEST_F(AssemblyTest, PacksTextsAndImageUnderTheKeyAndReplacesThePreviousPackage) {
    WriteAll(Package(), "an older package");
    // The copies keep their sources' time and read-only bit.
    ziptest::SetLocalTime(agreement_, 2019, 3, 14, 15, 9, 26);
    ziptest::SetLocalTime(description_, 2008, 8, 8, 20, 8, 9);
    ASSERT_EQ(::chmod(agreement_.c_str(), 0444), 0);
    const std::string key("Ключ-7F"_cp1251);
    Assemble(Input(key));

    // Every record of both archives, with the project's own parser.
    const ziptest::TParsedArchive package = ziptest::ParseArchive(ReadAll(Package()), 0, key);
    ASSERT_EQ(package.Entries.size(), 3u);
    ExpectSoundRecords(package);
    const ziptest::TParsedEntry& agreementEntry = package.Entries[0];
    EXPECT_EQ(agreementEntry.DosDate, (39 << 9) | (3 << 5) | 14);
    EXPECT_EQ(agreementEntry.DosTime, (15 << 11) | (9 << 5) | 13);
    EXPECT_EQ(agreementEntry.ExternalAttributes, 0x21u);  // archive, read-only
    EXPECT_EQ(package.Entries[1].DosDate, (28 << 9) | (8 << 5) | 8);
    EXPECT_EQ(package.Entries[1].DosTime, (20 << 11) | (8 << 5) | 4);
    EXPECT_EQ(package.Entries[1].ExternalAttributes, 0x20u);
    const ziptest::TParsedArchive image =
        ziptest::ParseArchive(package.Entries[2].Content, 0, std::string(package::kImagePassword));
    ASSERT_EQ(image.Entries.size(), 1u);
    ExpectSoundRecords(image);
    EXPECT_EQ(image.Entries[0].Name, "PackageData.xml");
    EXPECT_EQ(image.Entries[0].Content, doc_->GetXml());

    EXPECT_EQ(ReadAll(Package()).substr(0, 4), "PK\x03\x04");  // rewritten, not appended to
    const TReadBack r = ReadBack(key);
    ASSERT_EQ(r.Status, 0);
    EXPECT_EQ(r.Names, (std::vector<std::string>{Utf8(names::Agreement), Utf8(names::Description), "image.0"}));
    EXPECT_EQ(r.Contents[0], ReadAll(agreement_));
    EXPECT_EQ(r.Contents[1], ReadAll(description_));
    EXPECT_EQ(r.ImageNames, std::vector<std::string>{"PackageData.xml"});
    EXPECT_EQ(r.PackageData, doc_->GetXml());
    EXPECT_NE(ReadBack(package::kDefaultPackagePassword).Status, 0);

    EXPECT_EQ(clipboard_.texts, std::vector<std::string>{key});
    EXPECT_TRUE(Listing(tmp_).empty());
    EXPECT_EQ(Listing(out_), std::vector<std::string>{Package().filename().string()});
}

TEST_F(AssemblyTest, EmptyKeyUsesTheDefaultPasswordAndEmptyFieldsLeaveEntriesOut) {
    package::TAssemblyInput in = Input("");
    in.LicensePath.clear();
    Assemble(in);
    TReadBack r = ReadBack(package::kDefaultPackagePassword);
    ASSERT_EQ(r.Status, 0);
    EXPECT_EQ(r.Names, (std::vector<std::string>{Utf8(names::Description), "image.0"}));
    EXPECT_EQ(r.PackageData, doc_->GetXml());
    EXPECT_EQ(clipboard_.texts, std::vector<std::string>{""});

    in.PathToDescription.clear();
    Assemble(in);
    r = ReadBack(package::kDefaultPackagePassword);
    ASSERT_EQ(r.Status, 0);
    EXPECT_EQ(r.Names, std::vector<std::string>{"image.0"});
}

TEST_F(AssemblyTest, BadInputStopsTheBuildBeforeAnythingIsWritten) {
    WriteAll(Package(), "the previous package");
    const auto expectFailure = [&](const package::TAssemblyInput& in, const std::string& message) {
        try {
            Assemble(in);
            ADD_FAILURE() << "no error, expected " << message;
        } catch (const text::TError& e) {
            EXPECT_EQ(std::string(e.what()), message);
        }
        ExpectNoTraces({Package().filename().string()});
        EXPECT_EQ(ReadAll(Package()), "the previous package");
    };
    const fs::path missing = root_ / "нет такого.txt";
    package::TAssemblyInput in = Input("key");
    in.LicensePath = text::PathTo1251(missing);
    expectFailure(in, text::Format("Cannot open file \"%s\". %s",
                                   {platform::FullPath1251(missing), platform::SystemErrorText(ENOENT)}));

    in = Input("key");
    in.PathToDescription = text::PathTo1251(out_);  // a folder, not a text
    expectFailure(in, text::Format("Cannot open file \"%s\". %s",
                                   {platform::FullPath1251(out_), platform::SystemErrorText(EISDIR)}));

    in = Input("key");
    in.PathToPackageFile.clear();
    expectFailure(in, "Archive does not exist - Filename is blank");
}

TEST_F(AssemblyTest, FailedBuildKeepsThePreviousPackageAndLeavesNoTemporaryFiles) {
    WriteAll(Package(), "the previous package");
    // The package writer fails midway: its partial file exists by then.
    const auto failOnceCopiesExist = [&](void* data, std::size_t size) {
        for (const auto& dir : fs::directory_iterator(tmp_))
            if (fs::exists(dir.path() / text::PathFrom1251(names::Agreement))) throw text::TError("no randomness");
        platform::FillRandom(data, size);
    };
    EXPECT_THROW(Assemble(Input("key"), failOnceCopiesExist), text::TError);
    ExpectNoTraces({Package().filename().string()});
    EXPECT_EQ(ReadAll(Package()), "the previous package");

    // The package folder does not exist: the error names the chosen path.
    package::TAssemblyInput in = Input("key");
    const fs::path nowhere = root_ / "нет папки" / "p.1c82pkg";
    in.PathToPackageFile = text::PathTo1251(nowhere);
    try {
        Assemble(in);
        ADD_FAILURE() << "no error";
    } catch (const text::TError& e) {
        EXPECT_EQ(std::string(e.what()), text::Format("Cannot create file \"%s\". %s",
                                                      {platform::FullPath1251(nowhere), platform::SystemErrorText(ENOENT)}));
    }
    ExpectNoTraces({Package().filename().string()});
}

TEST_F(AssemblyTest, AStopAskedForDuringTheWriteLeavesThePreviousPackageAndNoTraces) {
    WriteAll(Package(), "the previous package");
    // Answered "stop" at the first question (image.0 written), then at the
    // second (the new package complete beside the target).
    for (int stopAt : {1, 2}) {
        int asked = 0;
        bool pendingExistedWhenStopped = false;
        const auto stop = [&] {
            if (++asked < stopAt) return false;
            pendingExistedWhenStopped = Listing(out_).size() > 1;
            return true;
        };
        EXPECT_THROW(package::AssemblePackage(*doc_, Input("key"), clipboard_, clock_, {}, stop), package::TBuildStopped);
        EXPECT_EQ(asked, stopAt);
        EXPECT_EQ(pendingExistedWhenStopped, stopAt == 2) << "the second question comes with the new package written";
        ExpectNoTraces({Package().filename().string()});
        EXPECT_EQ(ReadAll(Package()), "the previous package");
    }
    // Never stopped: asked twice, and the package is written.
    int asked = 0;
    package::AssemblePackage(*doc_, Input("key"), clipboard_, clock_, {}, [&] { return ++asked < 0; });
    EXPECT_EQ(asked, 2);
    EXPECT_NE(ReadAll(Package()), "the previous package");
}

TEST_F(AssemblyTest, BuildAfterAFailedOnePacksTheNewTexts) {
    // The target is a folder: the archive is complete, the final rename fails.
    const fs::path folder = out_ / "folder.1c82pkg";
    fs::create_directories(folder / "inside");
    package::TAssemblyInput in = Input("key");
    in.PathToPackageFile = text::PathTo1251(folder);
    EXPECT_THROW(Assemble(in), text::TError);
    ExpectNoTraces({folder.filename().string()});
    EXPECT_TRUE(fs::is_directory(folder / "inside"));

    WriteAll(agreement_, "Новое соглашение"_cp1251);
    Assemble(Input("key"));
    const TReadBack r = ReadBack("key");
    ASSERT_EQ(r.Status, 0);
    ASSERT_EQ(r.Contents.size(), 3u);
    EXPECT_EQ(r.Contents[0], "Новое соглашение"_cp1251);
}

TEST_F(AssemblyTest, WithoutTmpTheSystemTemporaryDirectoryIsUsedAndCleaned) {
    {
        const TEnvironment noTmp("TMP", nullptr);
        const TEnvironment systemTemp("TMPDIR", tmp_.c_str());  // the system's temporary directory on POSIX
        Assemble(Input("key"));
    }

    EXPECT_TRUE(Listing(tmp_).empty());
    EXPECT_EQ(ReadBack("key").Status, 0);
}

TEST_F(AssemblyTest, PendingPackageIsWrittenBesideTheTargetUnderAShortNameOfItsOwn) {
    // A target name of 255 bytes, the longest a folder entry may have:
    // 123 Cyrillic letters (2 bytes each in UTF-8), "x" and ".1c82pkg".
    std::string longName;
    for (int i = 0; i < 123; ++i) longName += "П";
    longName += "x.1c82pkg";
    ASSERT_EQ(longName.size(), 255u);
    const fs::path target = out_ / longName;
    WriteAll(target, "the previous package");

    // While the package is being written, look where its pieces are.
    std::vector<std::string> besideTarget, inTmp;
    bool privateDirectory = false;
    const auto observe = [&](void* data, std::size_t size) {
        if (besideTarget.empty()) {
            for (const std::string& name : Listing(out_))
                if (name != longName) besideTarget.push_back(name);
            inTmp = Listing(tmp_);
            privateDirectory = inTmp.size() == 1 && fs::is_directory(tmp_ / inTmp[0]);
        }
        platform::FillRandom(data, size);
    };
    package::TAssemblyInput in = Input("key");
    in.PathToPackageFile = text::PathTo1251(target);
    Assemble(in, observe);

    ASSERT_EQ(besideTarget.size(), 1u);
    EXPECT_EQ(besideTarget[0].substr(0, 9), "~1c82pkg-");
    EXPECT_EQ(besideTarget[0].substr(besideTarget[0].size() - 4), ".tmp");
    EXPECT_LT(besideTarget[0].size(), 64u);
    ASSERT_EQ(inTmp.size(), 1u);  // only the private directory, no package there
    EXPECT_TRUE(privateDirectory);
    EXPECT_EQ(inTmp[0].substr(0, 8), "1c82pkg-");

    EXPECT_EQ(Listing(out_), std::vector<std::string>{longName});
    EXPECT_EQ(ReadAll(target).substr(0, 4), "PK\x03\x04");
    EXPECT_TRUE(Listing(tmp_).empty());
}

TEST_F(AssemblyTest, AFileThatCannotBeFoundOrListedIsNeverPackedAsMissing) {
    namespace faults = platform::faults;
    WriteAll(Package(), "the previous package");
    const auto expectFailure = [&](faults::TOperation operation, int code, const std::string& pathPart) {
        SCOPED_TRACE(pathPart);
        {
            const faults::TScopedFault fault(operation, code, pathPart);
            EXPECT_THROW(Assemble(Input("key")), text::TFileError);
        }
        ExpectNoTraces({Package().filename().string()});
        EXPECT_EQ(ReadAll(Package()), "the previous package");
    };
    // Each file the build made, as if it had vanished before it was packed
    // (the document is streamed into image.0 and is never a file).
    expectFailure(faults::TOperation::FileStatus, ENOENT, "image.0");
    expectFailure(faults::TOperation::FileStatus, ENOENT, text::Cp1251ToUtf8(names::Agreement));
    expectFailure(faults::TOperation::FileStatus, ENOENT, text::Cp1251ToUtf8(names::Description));
    // The private directory cannot be read; a file's size cannot be told.
    expectFailure(faults::TOperation::ListDirectory, EACCES, "1c82pkg-");
    expectFailure(faults::TOperation::FileSize, EIO, "image.0");

    Assemble(Input("key"));
    EXPECT_EQ(ReadBack("key").Names.size(), 3u);
}

TEST_F(AssemblyTest, ClipboardErrorComesAfterTheNewPackageIsInPlace) {
    WriteAll(Package(), "the previous package");
    clipboard_.failOpens = 1'000'000;
    try {
        Assemble(Input("key"));
        FAIL() << "no error";
    } catch (const text::TError& e) {
        EXPECT_STREQ(e.what(), "Cannot open clipboard");
    }
    const TReadBack r = ReadBack("key");
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Names.size(), 3u);
    EXPECT_TRUE(clipboard_.texts.empty());
    EXPECT_TRUE(Listing(tmp_).empty());
    EXPECT_EQ(Listing(out_), std::vector<std::string>{Package().filename().string()});
}

// A build in a child process that stops for good while it writes the
// package (its pending file exists by then). Returns the child's id once it
// has got there.
pid_t StartBuildThatHangsMidWrite(const std::function<void(const zip::TZipWriter::TRandomSource&)>& assemble,
                                  const fs::path& packageFolder) {
    int ready[2];
    if (::pipe(ready) != 0) return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ready[0]);
        const auto hang = [&](void* data, std::size_t size) {
            for (const std::string& name : Listing(packageFolder))
                if (name.substr(0, 1) == "~") {
                    (void)!::write(ready[1], "x", 1);
                    for (;;) ::pause();
                }
            platform::FillRandom(data, size);
        };
        try {
            assemble(hang);
        } catch (...) {
        }
        ::_exit(1);
    }
    ::close(ready[1]);
    char byte = 0;
    const bool arrived = child > 0 && ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    return arrived ? child : -1;
}

void Kill(pid_t child) {
    if (child <= 0) return;
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
}

// Kills a child on every way out of the test, so none outlives a failure.
struct TChildGuard {
    pid_t& Child;
    ~TChildGuard() { Kill(Child); }
};

TEST_F(AssemblyTest, ABuildRemovesWhatAKilledBuildLeftButNeverTheFilesOfARunningOne) {
    WriteAll(Package(), "the previous package");
    const auto assemble = [&](const zip::TZipWriter::TRandomSource& random) { Assemble(Input("key"), random); };

    pid_t killed = StartBuildThatHangsMidWrite(assemble, out_);
    const TChildGuard killedGuard{killed};
    ASSERT_GT(killed, 0);
    // Killed, but not yet waited for: a zombie still holds its id.
    ::kill(killed, SIGKILL);
    siginfo_t info{};
    ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(killed), &info, WEXITED | WNOWAIT), 0);
    const std::vector<std::string> killedTmp = Listing(tmp_);
    std::vector<std::string> killedPending = Listing(out_);
    ASSERT_EQ(killedTmp.size(), 1u);
    ASSERT_EQ(killedPending.size(), 2u);  // the previous package and the pending one

    // The next build, which hangs in turn, removes them when it starts.
    pid_t running = StartBuildThatHangsMidWrite(assemble, out_);
    const TChildGuard runningGuard{running};
    ASSERT_GT(running, 0);
    const std::vector<std::string> runningTmp = Listing(tmp_);
    ASSERT_EQ(runningTmp.size(), 1u);
    EXPECT_NE(runningTmp[0], killedTmp[0]);
    std::string runningPending;
    for (const std::string& name : Listing(out_)) {
        EXPECT_EQ(std::count(killedPending.begin(), killedPending.end(), name), name == Package().filename().string());
        if (name != Package().filename().string()) runningPending = name;
    }
    ASSERT_FALSE(runningPending.empty());
    const pid_t killedId = killed;
    Kill(killed);
    killed = -1;
    // The owner in the names: the running build's id and its start time,
    // field 22 of /proc/<id>/stat, in hexadecimal.
    std::string stat = ReadAll("/proc/" + std::to_string(running) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 22; ++i) fields >> field;
    std::ostringstream owner;
    owner << running << "-" << std::hex << std::stoull(field) << "-";
    EXPECT_EQ(runningTmp[0].substr(0, 8 + owner.str().size()), "1c82pkg-" + owner.str());
    EXPECT_EQ(runningPending.substr(0, 9 + owner.str().size()), "~1c82pkg-" + owner.str());

    // Files named like ours whose owner's id is this process, but with
    // another start time (an id used again), and files that are not ours.
    const std::string reused = std::to_string(::getpid()) + "-1-0123456789abcdef";
    fs::create_directory(tmp_ / ("1c82pkg-" + reused));
    WriteAll(out_ / ("~1c82pkg-" + reused + ".tmp"), "stale");
    fs::create_directory(tmp_ / "1c82pkg-0123456789abcdef");
    // Named like a private directory of the killed build, but a file.
    const std::string strayFile = "1c82pkg-" + std::to_string(killedId) + "-1-fedcba9876543210";
    WriteAll(tmp_ / strayFile, "not a directory");
    WriteAll(out_ / "~1c82pkg-notes.tmp", "not ours");

    Assemble(Input("key"));
    EXPECT_EQ(ReadBack("key").Status, 0);
    std::vector<std::string> tmpAfter = Listing(tmp_), outAfter = Listing(out_);
    std::sort(tmpAfter.begin(), tmpAfter.end());
    std::sort(outAfter.begin(), outAfter.end());
    // The running build's directory and pending file stay; the reused
    // id's are gone.
    std::vector<std::string> expectedTmp = {"1c82pkg-0123456789abcdef", runningTmp[0], strayFile};
    std::sort(expectedTmp.begin(), expectedTmp.end());
    EXPECT_EQ(tmpAfter, expectedTmp);
    std::vector<std::string> expectedOut = {Package().filename().string(), "~1c82pkg-notes.tmp", runningPending};
    std::sort(expectedOut.begin(), expectedOut.end());
    EXPECT_EQ(outAfter, expectedOut);

    // Once that build is killed too, the next build removes its files.
    Kill(running);
    running = -1;
    Assemble(Input("key"));
    std::vector<std::string> tmpLast = Listing(tmp_);
    std::sort(tmpLast.begin(), tmpLast.end());
    EXPECT_EQ(tmpLast, (std::vector<std::string>{"1c82pkg-0123456789abcdef", strayFile}));
    outAfter = Listing(out_);
    std::sort(outAfter.begin(), outAfter.end());
    expectedOut = {Package().filename().string(), "~1c82pkg-notes.tmp"};
    std::sort(expectedOut.begin(), expectedOut.end());
    EXPECT_EQ(outAfter, expectedOut);
}

}  // namespace
