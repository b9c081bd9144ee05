// How the package is written: in a directory only the user can enter, with
// the document streamed into image.0 (never a PackageData.xml on disk), and
// an image.0 entry that looks like the saved file: name, attributes, the
// time of the writing, the document's bytes.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "package/PackageAssembly.h"
#include "platform/Platform.h"
#include "tests/platform/ClipboardFakes.h"
#include "tests/zip/ZipParse.h"
#include "tests/zip/ZipTestUtil.h"
#include "text/Literal.h"
#include "xml/XmlDom.h"

namespace {

namespace fs = std::filesystem;
using namespace text::literals;
using ziptest::DosStamp;

// A document of a few MiB of text, so that image.0 is deflated in several
// blocks on several threads.
xml::TRef<xml::TXmlDDocument> LargeDocument() {
    xml::TRef<xml::TXmlDDocument> doc(new xml::TXmlDDocument());
    auto* root = new xml::TXmlDElement("1C8InstallationPackage");
    doc->AppendChild(root);
    for (int i = 0; i < 2000; ++i) {
        auto* item = new xml::TXmlDElement("Item");
        root->AppendChild(item);
        std::string text = std::to_string(i * 7919);
        while (text.size() < 1500) text += std::string(" Справочники.Склады <&> \"да\" "_cp1251) + std::to_string(i);
        item->SetText(text);
    }
    return doc;
}

class PackageWriteTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = platform::CreateUniqueDirectory(fs::temp_directory_path(), "package-write-test-");
        tmp_ = root_ / "tmp";
        fs::create_directories(tmp_);
        if (const char* old = std::getenv("TMP")) savedTmp_ = old;
        setenv("TMP", tmp_.c_str(), 1);
    }
    void TearDown() override {
        if (savedTmp_) setenv("TMP", savedTmp_->c_str(), 1);
        else unsetenv("TMP");
        fs::remove_all(root_);
    }

    fs::path root_, tmp_;
    std::optional<std::string> savedTmp_;
};

}  // namespace

TEST_F(PackageWriteTest, PrivateDirectoryHoldsNoPlainDocumentAndImageEntryLooksSaved) {
    const xml::TRef<xml::TXmlDDocument> doc = LargeDocument();
    const fs::path package = root_ / "p.1c82pkg";
    ziptest::TParsedArchive outer;
    {
        std::ofstream(root_ / "a.txt", std::ios::binary) << "agreement";
        package::TAssemblyInput in{(root_ / "a.txt").string(), "", package.string(), "KEY"};
        platform::fakes::TFakeClock clock;
        platform::fakes::TFakeClipboard clipboard(clock);

        // The random bytes are asked for as each entry begins: look into the
        // private directory then.
        int looks = 0;
        const auto random = [&](void* data, std::size_t size) {
            std::memset(data, 0x33, size);
            ++looks;
            int directories = 0;
            for (const auto& entry : fs::directory_iterator(tmp_)) {
                ++directories;
                struct stat st{};
                ASSERT_EQ(::stat(entry.path().c_str(), &st), 0);
                EXPECT_TRUE(S_ISDIR(st.st_mode));
                EXPECT_EQ(st.st_mode & 0777, 0700u) << entry.path();
                for (const auto& file : fs::directory_iterator(entry.path()))
                    EXPECT_NE(file.path().filename(), "PackageData.xml") << "the document must not be on disk";
            }
            EXPECT_EQ(directories, 1);
        };
        const std::uint32_t before = DosStamp(std::time(nullptr));
        package::AssemblePackage(*doc, in, clipboard, clock, random);
        const std::uint32_t after = DosStamp(std::time(nullptr));
        EXPECT_EQ(looks, 3);  // PackageData.xml in image.0; the agreement and image.0 in the package

        outer = ziptest::ParseArchive(ziptest::ReadAll(package), 0, "KEY");
        ASSERT_EQ(outer.Entries.size(), 2u);
        EXPECT_EQ(outer.Entries[0].Content, "agreement");
        EXPECT_EQ(outer.Entries[1].Name, "image.0");
        const ziptest::TParsedArchive image =
            ziptest::ParseArchive(outer.Entries[1].Content, 0, std::string(package::kImagePassword));
        ASSERT_EQ(image.Entries.size(), 1u);
        const ziptest::TParsedEntry& xml = image.Entries[0];
        EXPECT_EQ(xml.Name, "PackageData.xml");
        EXPECT_EQ(xml.Extra, "");
        EXPECT_EQ(xml.ExternalAttributes, 0x20u);
        EXPECT_EQ(xml.Method, 8);
        const std::uint32_t stamp = (std::uint32_t{xml.DosDate} << 16) | xml.DosTime;
        EXPECT_GE(stamp, before);
        EXPECT_LE(stamp, after);
        EXPECT_GT(xml.UncompressedSize, 2u << 20);
        EXPECT_EQ(xml.Content, doc->GetXml());
    }
    EXPECT_TRUE(fs::is_empty(tmp_));
}
