// Times the output of a document shaped like the package document and
// reports it against baselines measured in the same run: GetXml against a
// plain memcpy of as many bytes, SaveToFile against a plain write of as many
// bytes to a file. Each figure is the best of several repetitions.
//
//   xml_bench [objects] [repetitions]     (defaults: 20000 5)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/common/BenchUtil.h"
#include "platform/Platform.h"
#include "text/Literal.h"
#include "xml/XmlDom.h"

using namespace text::literals;
namespace fs = std::filesystem;
using namespace bench;

namespace {

// 1 KiB of clipboard-like text: Cyrillic, markup characters, line breaks.
std::string ItemText(int seed) {
    const std::string piece = std::string("Справочник.Склады <Реквизит> \"Адрес\" & 'Код'\r\n"_cp1251);
    std::string s = std::to_string(seed) + ":";
    while (s.size() < 1024) s += piece;
    s.resize(1024);
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    const int objects = argc > 1 ? std::atoi(argv[1]) : 20000;
    const int repetitions = argc > 2 ? std::atoi(argv[2]) : 5;

    // The six items of an object share its text.
    const auto doc = BuildPackageLikeDocument(objects, [](int object, int) { return ItemText(object); });
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
