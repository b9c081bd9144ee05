#include "BenchUtil.h"

#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "text/Literal.h"

using namespace text::literals;

namespace bench {

std::size_t RawDeflate(const std::string& data) {
    z_stream z;
    std::memset(&z, 0, sizeof z);
    deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::vector<unsigned char> out(1u << 20);
    std::size_t total = 0;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    int rc;
    do {
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        rc = deflate(&z, Z_FINISH);
        total += out.size() - z.avail_out;
    } while (rc == Z_OK);
    deflateEnd(&z);
    return total;
}

std::string InfoZipCommand(const std::filesystem::path& dir, const std::filesystem::path& archive,
                           const std::string& name) {
    return "cd '" + dir.string() + "' && zip -q -e -P 5D2A9E41-7C3B-4F86-A1D0-93E6B2C87F15 '" + archive.string() +
           "' '" + name + "'";
}

void RunInfoZip(const std::string& command) {
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "zip failed: %s\n", command.c_str());
}

namespace {

xml::TXmlDElement* AddElement(xml::TXmlDNode* parent, std::string tag) {
    auto* e = new xml::TXmlDElement(std::move(tag));
    parent->AppendChild(e);
    return e;
}

void SetAttribute(xml::TXmlDElement* e, std::string name, std::string value) {
    auto* a = new xml::TXmlDAttribute(std::move(name));
    a->SetValue(std::move(value));
    e->SetAttributeNode(a);
}

}  // namespace

xml::TRef<xml::TXmlDDocument> BuildPackageLikeDocument(int objects,
                                                       const std::function<std::string(int object, int format)>& itemText) {
    const char* const formats[] = {"CF_TEXT", "CF_UNICODETEXT", "1C:MD8 Data", "1C:MD8 External Data",
                                   "1C:MD8 Info", "1C:V8MngCmdObjectsDataFormat"};
    xml::TRef<xml::TXmlDDocument> doc(new xml::TXmlDDocument());
    xml::TXmlDElement* root = AddElement(doc.get(), "1C8InstallationPackage");
    SetAttribute(root, "copyright", "Package wizard");
    xml::TXmlDElement* sections[] = {AddElement(root, "CommonModules"), AddElement(root, "Directories"),
                                     AddElement(root, "Processings"), AddElement(root, "Subsystems")};
    const std::string path = std::string("Справочники.Склад"_cp1251);
    for (int i = 0; i < objects; ++i) {
        xml::TXmlDElement* object = AddElement(sections[i % 4], "AddObject");
        SetAttribute(object, "ObjectPath", path + std::to_string(i));
        for (int f = 0; f < 6; ++f) {
            xml::TXmlDElement* item = AddElement(object, "Item");
            SetAttribute(item, "FormatName", formats[f]);
            item->SetText(itemText(i, f));
        }
    }
    return doc;
}

}  // namespace bench
