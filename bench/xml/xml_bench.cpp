// Times the output of a document shaped like the package document and
// reports it against baselines measured in the same run: GetXml against a
// plain memcpy of as many bytes, SaveToFile against a plain write of as many
// bytes to a file. Each figure is the best of several repetitions.
//
//   xml_bench [objects] [repetitions]     (defaults: 20000 5)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "text/Literal.h"
#include "xml/XmlDom.h"

using namespace text::literals;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

template <class F>
double BestSeconds(int repetitions, F&& run) {
    double best = 1e30;
    for (int i = 0; i < repetitions; ++i) {
        const auto start = Clock::now();
        run();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

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

// 1 KiB of clipboard-like text: Cyrillic, markup characters, line breaks.
std::string ItemText(int seed) {
    const std::string piece = std::string("Справочник.Склады <Реквизит> \"Адрес\" & 'Код'\r\n"_cp1251);
    std::string s = std::to_string(seed) + ":";
    while (s.size() < 1024) s += piece;
    s.resize(1024);
    return s;
}

xml::TRef<xml::TXmlDDocument> BuildPackageLikeDocument(int objects) {
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
        for (const char* format : formats) {
            xml::TXmlDElement* item = AddElement(object, "Item");
            SetAttribute(item, "FormatName", format);
            item->SetText(ItemText(i));
        }
    }
    return doc;
}

}  // namespace

int main(int argc, char** argv) {
    const int objects = argc > 1 ? std::atoi(argv[1]) : 20000;
    const int repetitions = argc > 2 ? std::atoi(argv[2]) : 5;

    const auto doc = BuildPackageLikeDocument(objects);
    const fs::path dir = platform::CreateUniqueDirectory(platform::TempDirectory(), "xml-bench-");
    const fs::path xmlPath = dir / "PackageData.xml";
    const fs::path plainPath = dir / "plain.bin";

    std::string text;
    const double getXml = BestSeconds(repetitions, [&] { text = doc->GetXml(); });
    const std::size_t size = text.size();

    std::vector<char> copy(size);
    const double copyTime = BestSeconds(repetitions, [&] {
        std::memcpy(copy.data(), text.data(), size);
        // Reading a byte of the copy keeps the copy from being optimised away.
        if (copy[size / 2] == '\x01') std::puts("");
    });

    const double plainWrite = BestSeconds(repetitions, [&] {
        platform::TFile file = platform::TFile::Create(plainPath);
        file.WriteAll(text.data(), size);
        file.Close();
    });
    const double saveToFile = BestSeconds(repetitions, [&] { doc->SaveToFile(xmlPath); });
    const bool same = fs::file_size(xmlPath) == size;

    std::error_code ec;
    fs::remove_all(dir, ec);

    std::printf("document: %d objects, %zu bytes of output%s\n", objects, size, same ? "" : " (FILE SIZE DIFFERS)");
    std::printf("memcpy      %8.1f ms\n", copyTime * 1e3);
    std::printf("GetXml      %8.1f ms  = %5.2f x memcpy\n", getXml * 1e3, getXml / copyTime);
    std::printf("plain write %8.1f ms\n", plainWrite * 1e3);
    std::printf("SaveToFile  %8.1f ms  = %5.2f x plain write\n", saveToFile * 1e3, saveToFile / plainWrite);
    return same ? 0 : 1;
}
