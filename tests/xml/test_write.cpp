#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "XmlTestUtil.h"
#include "platform/Platform.h"
#include "text/Literal.h"

using namespace text::literals;
using namespace xml;
using xmltest::Add;
using xmltest::ErrorOf;
using xmltest::SetAttr;
namespace fs = std::filesystem;

namespace {

std::string FromHex(std::string_view hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    return out;
}

TRef<TXmlDDocument> Sample() {
    TRef<TXmlDDocument> doc(new TXmlDDocument());
    TXmlDElement* sample = Add(doc.get(), "Sample");
    SetAttr(sample, "a", "x&y");
    Add(sample, "Empty");
    TXmlDElement* item = Add(sample, "Item");
    SetAttr(item, "FormatName", "CF_TEXT");
    item->SetText("1<2 \"" + std::string("да"_cp1251) + "\"");
    return doc;
}

// Escaping written out the slow obvious way, to check the run-copying writer against.
std::string NaiveEscape(std::string_view s) {
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Records each block it is given; takes at most `limit` bytes of a block.
class TRecordingStream : public TStream {
public:
    std::size_t Write(const void* data, std::size_t size) override {
        const std::size_t taken = std::min(size, limit);
        blocks.emplace_back(static_cast<const char*>(data), taken);
        return taken;
    }
    std::string All() const {
        std::string s;
        for (const auto& b : blocks) s += b;
        return s;
    }
    std::size_t limit = SIZE_MAX;
    std::vector<std::string> blocks;
};

class WriteFileTest : public ::testing::Test {
protected:
    void SetUp() override { dir_ = platform::CreateUniqueDirectory(fs::temp_directory_path(), "xml-test-"); }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

}  // namespace

TEST_F(WriteFileTest, SampleDocumentIsSavedByteForByteOverALongerFile) {
    // The reference: 92 bytes, the Cyrillic letters as the single bytes E4 E0.
    const std::string reference = FromHex(
        "3C53616D706C6520613D227826616D703B79223E3C456D7074792F3E3C4974656D20466F726D61744E616D653D22"
        "43465F54455854223E31266C743B32202671756F743BE4E02671756F743B3C2F4974656D3E3C2F53616D706C653E");
    ASSERT_EQ(reference.size(), 92u);

    const fs::path path = dir_ / "PackageData.xml";
    std::ofstream(path, std::ios::binary) << std::string(500, 'z');
    TRef<TXmlDDocument> doc = Sample();
    doc->SaveToFile(path);
    EXPECT_EQ(ReadFile(path), reference);
    EXPECT_EQ(doc->GetXml(), reference);
    doc->SaveToFile(path);
    EXPECT_EQ(ReadFile(path), reference);
}

TEST_F(WriteFileTest, EmptyDocumentTruncatesTheFile) {
    const fs::path path = dir_ / "empty.xml";
    std::ofstream(path, std::ios::binary) << "old content";
    TRef<TXmlDDocument>(new TXmlDDocument())->SaveToFile(path);
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(fs::file_size(path), 0u);
}

TEST_F(WriteFileTest, FailuresCarryTheirMessages) {
    const fs::path missing = dir_ / "no such dir" / "a.xml";
    const std::string message = ErrorOf([&] { Sample()->SaveToFile(missing); });
    EXPECT_EQ(message.rfind("Cannot create file \"" + platform::FullPath1251(missing) + "\". ", 0), 0u) << message;

    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full to run out of space on";
    EXPECT_EQ(ErrorOf([&] { Sample()->SaveToFile("/dev/full"); }), "Stream write error");
}

TEST(WriteStream, ShortWriteRaisesAndEmptyDocumentWritesNothing) {
    TRecordingStream shortStream;
    shortStream.limit = 10;
    EXPECT_EQ(ErrorOf([&] { Sample()->SaveToStream(shortStream); }), "Stream write error");

    TRecordingStream stream;
    TRef<TXmlDDocument>(new TXmlDDocument())->SaveToStream(stream);
    EXPECT_TRUE(stream.blocks.empty());
}

TEST(WriteEscape, OnlyTheFiveMarkupCharactersChange) {
    EXPECT_EQ(XmlEscape("<>&'\""), "&lt;&gt;&amp;&apos;&quot;");
    EXPECT_EQ(XmlEscape("&amp;"), "&amp;amp;");
    std::string others;
    for (int b = 0; b < 256; ++b)
        if (std::string_view("<>&'\"").find(static_cast<char>(b)) == std::string_view::npos) others += static_cast<char>(b);
    EXPECT_EQ(XmlEscape(others), others) << "control bytes, CR LF, zero and 80..FF pass unchanged";
}

TEST(WriteOutput, ElementsAttributesAndTextInDocumentOrder) {
    TRef<TXmlDDocument> doc(new TXmlDDocument());
    TXmlDElement* first = Add(doc.get(), "first");
    SetAttr(first, "q", "it's \"x\"\r\n" + std::string("Ж"_cp1251));
    SetAttr(first, "z", std::string("a\0b", 3));
    TXmlDElement* mixed = Add(doc.get(), "mixed");
    mixed->AppendChild(new TXmlDText("t1&"));
    Add(mixed, "e");
    SetAttr(Add(mixed, "one"), "k", "v");
    mixed->AppendChild(new TXmlDText("t2"));
    Add(doc.get(), "empty")->SetText("");

    const std::string expected = "<first q=\"it&apos;s &quot;x&quot;\r\n" + std::string("Ж"_cp1251) +
                                 "\" z=\"a" + std::string(1, '\0') + "b\"/>" +
                                 "<mixed>t1&amp;<e/><one k=\"v\"/>t2</mixed><empty></empty>";
    EXPECT_EQ(doc->GetXml(), expected);
    EXPECT_EQ(mixed->FirstChild()->GetXml(), "t1&amp;");
}

TEST(WriteBuffer, EscapedValuesStraddlingTheBufferBoundaryComeOutWhole) {
    // Every alignment of entities and safe runs against a tiny buffer.
    const std::string value = "ab&<c>\"d'" + std::string("Юя"_cp1251) + "&&xyz";
    for (std::size_t shift = 0; shift < 20; ++shift) {
        TRecordingStream stream;
        TXmlWriter writer(stream, 16);
        writer.Write(std::string(shift, '.'));
        writer.WriteEscaped(value);
        writer.WriteEscaped(std::string(40, 's'));  // a run larger than the buffer
        writer.Write("<");
        writer.Flush();
        EXPECT_EQ(stream.All(), std::string(shift, '.') + NaiveEscape(value) + std::string(40, 's') + "<") << shift;
    }

    // The same through a document at the default buffer size.
    TRef<TXmlDDocument> doc(new TXmlDDocument());
    const std::string pad(TXmlWriter::kDefaultBufferSize - 20, 'p');
    const std::string attrValue = std::string(30, '&') + "tail\"";
    SetAttr(Add(doc.get(), "r"), "v", attrValue);
    Add(doc.get(), "s")->SetText(pad + attrValue);
    TRecordingStream stream;
    doc->SaveToStream(stream);
    const std::string expected =
        "<r v=\"" + NaiveEscape(attrValue) + "\"/><s>" + NaiveEscape(pad + attrValue) + "</s>";
    EXPECT_GT(stream.blocks.size(), 1u);
    EXPECT_EQ(stream.All(), expected);
    EXPECT_EQ(doc->GetXml(), expected);
}
