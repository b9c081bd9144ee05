// libFuzzer target: the report reader and the walk over arbitrary bytes.
//
// Input: byte 0 chooses the reader's chunk size, byte 1 which captures fail
// (bit i set: the capture number i, modulo 8, fails); the rest is the report.
// The capture stores each object in a real package document through the
// document functions, as the object capture command does.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "designer/ClipboardItems.h"
#include "designer/DesignerInterface.h"
#include "package/PackageDocument.h"
#include "package/ReportWalk.h"
#include "text/Error.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

package::TReportReader MemoryReader(const std::uint8_t* data, std::size_t size, std::size_t chunk) {
    auto pos = std::make_shared<std::size_t>(0);
    return package::TReportReader(
        [data, size, pos](char* buffer, std::size_t want) {
            const std::size_t n = std::min(want, size - *pos);
            if (n) std::memcpy(buffer, data + *pos, n);
            *pos += n;
            return n;
        },
        chunk);
}

class TFuzzCapture : public package::ICapture {
public:
    TFuzzCapture(package::TPackageDocument& package, std::uint8_t failMask) : package_(package), failMask_(failMask) {}

    bool ExecuteCommand(const std::string& command, const std::string& path) override {
        Check(command == package::kAddObjectCommand);
        const bool fail = (failMask_ >> (calls++ % 8)) & 1;
        lastPath = path;
        const package::TObjectKind* kind = package::FindObjectKind(path);
        if (!kind) return false;
        xml::TXmlDElement* object = package::AddChildElement(command, package_.*(kind->Section));
        package::SetElementAttribute(package::kObjectPathAttribute, package::TreePath(*kind, path), object);
        ++objects;
        for (const std::string& format : package::ObjectFormats(*kind, path)) {
            xml::TRef<xml::TXmlDElement> item(new xml::TXmlDElement(std::string(package::kItemTag)));
            package::SetElementAttribute(package::kFormatNameAttribute, format, item.get());
            item->SetText(designer::ClipboardItemText(path.data(), path.size()));
            object->AppendChild(item.get());
        }
        return !fail;
    }

    int calls = 0;
    int objects = 0;
    std::string lastPath;

private:
    package::TPackageDocument& package_;
    std::uint8_t failMask_;
};

std::vector<std::string> AllLines(package::TReportReader reader) {
    std::vector<std::string> lines;
    std::string line;
    while (reader.ReadLine(line)) lines.push_back(line);
    Check(line.empty() && reader.AtEnd());
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t chunk = 1 + data[0] % 64;
    const std::uint8_t failMask = data[1];
    data += 2;
    size -= 2;

    // The lines do not depend on how the bytes arrive.
    const std::vector<std::string> lines = AllLines(MemoryReader(data, size, chunk));
    Check(lines == AllLines(MemoryReader(data, size, package::TReportReader::kDefaultChunk)));
    for (const std::string& line : lines) Check(line.find_first_of("\r\n\x1A") == std::string::npos);

    package::TPackageDocument package;
    package::SetUpPackageDocument(package);
    TFuzzCapture capture(package, failMask);
    package::TReportReader reader = MemoryReader(data, size, chunk);
    try {
        const package::TWalkResult result = package::WalkReport(reader, capture);
        Check(result.Captured == capture.calls - (result.Completed ? 0 : 1));
        Check(result.Completed || result.FailedPath == capture.lastPath);
    } catch (const text::TError& e) {
        // The only error of a walk is a bad range; a zero byte in the
        // offending text may end the C-string message early.
        Check(std::string_view(e.what()).starts_with("'"));
    }
    // The four sections stay in place, each object in one of them.
    Check(package.Root->ChildNodes()->Count() == 4);
    int objects = 0;
    for (const xml::TXmlDNode* section = package.Root->FirstChild(); section; section = section->NextSibling())
        objects += section->ChildNodes()->Count();
    Check(objects == capture.objects);
    Check(package.Document->GetXml().starts_with("<1C8InstallationPackage copyright=\""));
    return 0;
}
