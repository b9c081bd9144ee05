// The package assembly end to end: packages are written into a private
// directory (TMP points into it too) and read back with Python's zipfile.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <sys/wait.h>

#include "package/PackageAssembly.h"
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

std::string Hex(std::string_view bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) out += {kHex[b >> 4], kHex[b & 15]};
    return out;
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
    const std::string key("Ключ-7F"_cp1251);
    Assemble(Input(key));

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

}  // namespace
