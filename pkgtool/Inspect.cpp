#include "Inspect.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <system_error>

#include "package/PackageAssembly.h"
#include "platform/Platform.h"
#include "text/Codepage.h"
#include "text/Error.h"
#include "zip/ZipReader.h"

namespace pkgtool {
namespace {

namespace fs = std::filesystem;

// A private directory under the temporary directory, removed with the object.
class TScratchDirectory {
public:
    TScratchDirectory() : path_(platform::CreateUniqueDirectory(platform::TempDirectory(), "pkgtool-")) {}
    ~TScratchDirectory() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TScratchDirectory(const TScratchDirectory&) = delete;
    TScratchDirectory& operator=(const TScratchDirectory&) = delete;
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

std::string MethodName(std::uint16_t method) {
    if (method == 0) return "stored";
    if (method == 8) return "deflated";
    return "method " + std::to_string(method);
}

TEntryInfo Describe(const zip::TZipEntry& e) {
    TEntryInfo info;
    info.Name = e.Name;
    info.Method = MethodName(e.Method);
    info.CompressedSize = e.CompressedSize;
    info.Size = e.UncompressedSize;
    info.Time = zip::DosDateTimeText(e.DosDate, e.DosTime);
    info.Encrypted = e.Encrypted();
    info.Crc = e.Crc;
    return info;
}

std::string Hex32(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(v));
    return buf;
}

void Discard(const char*, std::size_t) {}

}  // namespace

TInspection InspectPackage(const fs::path& path, std::string_view key1251, const TXmlSink& xmlSink) {
    TInspection result;
    result.DefaultKey = key1251.empty();
    const std::string password = package::PackagePassword(key1251);

    zip::TFileSource file(path);
    zip::TZipReader archive(file);
    const std::string imageName = text::Cp1251ToUtf8(package::package_names::Image);
    const zip::TZipEntry* image = archive.Find(imageName);
    if (!image) throw text::TError("The package holds no " + imageName);

    // Every entry is read through, so that every CRC is checked; image.0 is
    // kept in a private file to be opened as an archive in its turn.
    TScratchDirectory scratch;
    const fs::path imagePath = scratch.Path() / "image.0";
    for (const zip::TZipEntry& e : archive.Entries()) {
        result.Entries.push_back(Describe(e));
        if (&e != image) {
            archive.ReadEntry(e, password, Discard);
            continue;
        }
        platform::TFile copy = platform::TFile::Create(imagePath);
        archive.ReadEntry(e, password, [&copy](const char* data, std::size_t size) { copy.WriteAll(data, size); });
        copy.Close();
    }

    zip::TFileSource imageFile(imagePath);
    zip::TZipReader inner(imageFile);
    const std::string xmlName(package::package_names::PackageData);
    const zip::TZipEntry* xml = inner.Find(xmlName);
    if (!xml) throw text::TError(imageName + " holds no " + xmlName);
    TPackageXmlReader reader;
    for (const zip::TZipEntry& e : inner.Entries()) {
        result.ImageEntries.push_back(Describe(e));
        if (&e != xml) {
            inner.ReadEntry(e, package::kImagePassword, Discard);
            continue;
        }
        inner.ReadEntry(e, package::kImagePassword, [&](const char* data, std::size_t size) {
            reader.Feed(data, size);
            if (xmlSink) xmlSink(data, size);
        });
    }
    result.Contents = reader.Finish();
    return result;
}

std::string InspectionText(const TInspection& r) {
    std::string out;
    auto entries = [&out](const std::vector<TEntryInfo>& list) {
        for (const TEntryInfo& e : list) {
            out += "  " + e.Name + "\t" + e.Method + "\t" + std::to_string(e.CompressedSize) + "\t" +
                   std::to_string(e.Size) + "\t" + e.Time + "\t" + (e.Encrypted ? "encrypted" : "plain") + "\tCRC " +
                   Hex32(e.Crc) + "\n";
        }
    };
    auto entriesWord = [](std::size_t n) { return std::to_string(n) + (n == 1 ? " entry" : " entries"); };
    out += "package: " + entriesWord(r.Entries.size()) + ", opened with " +
           (r.DefaultKey ? "the default package password" : "the key given") + "\n";
    out += "  name\tmethod\tpacked\tsize\tmodified\tencryption\tCRC (verified)\n";
    entries(r.Entries);
    out += "image.0: " + entriesWord(r.ImageEntries.size()) + ", opened with the inner password\n";
    entries(r.ImageEntries);
    std::size_t objects = 0;
    for (const TPackageSection& s : r.Contents.Sections) objects += s.Objects.size();
    out += "PackageData.xml: " + std::to_string(r.Contents.Bytes) + " bytes, " + std::to_string(objects) +
           " objects, matches the package layout\n";
    out += "  copyright: " + text::Cp1251ToUtf8(r.Contents.Copyright) + "\n";
    for (const TPackageSection& s : r.Contents.Sections) {
        out += s.Tag + ": " + std::to_string(s.Objects.size()) + (s.Objects.size() == 1 ? " object\n" : " objects\n");
        for (const TPackageObject& o : s.Objects) {
            out += "  " + text::Cp1251ToUtf8(o.ObjectPath) + "\n";
            for (const TFormatData& f : o.Formats)
                out += "    " + text::Cp1251ToUtf8(f.Name) + "\t" + std::to_string(f.Size) + "\n";
        }
    }
    return out;
}

std::string InspectionJson(const TInspection& r) {
    using nlohmann::ordered_json;
    auto entries = [](const std::vector<TEntryInfo>& list) {
        ordered_json a = ordered_json::array();
        for (const TEntryInfo& e : list) {
            a.push_back({{"name", e.Name},
                         {"method", e.Method},
                         {"compressedSize", e.CompressedSize},
                         {"size", e.Size},
                         {"modified", e.Time},
                         {"encrypted", e.Encrypted},
                         {"crc", Hex32(e.Crc)}});
        }
        return a;
    };
    ordered_json sections = ordered_json::array();
    for (const TPackageSection& s : r.Contents.Sections) {
        ordered_json objects = ordered_json::array();
        for (const TPackageObject& o : s.Objects) {
            ordered_json formats = ordered_json::array();
            for (const TFormatData& f : o.Formats) formats.push_back({{"name", text::Cp1251ToUtf8(f.Name)}, {"size", f.Size}});
            objects.push_back({{"objectPath", text::Cp1251ToUtf8(o.ObjectPath)}, {"formats", formats}});
        }
        sections.push_back({{"name", s.Tag}, {"objects", objects}});
    }
    ordered_json doc = {
        {"defaultKey", r.DefaultKey},
        {"entries", entries(r.Entries)},
        {"image", {{"entries", entries(r.ImageEntries)}}},
        {"packageData", {{"size", r.Contents.Bytes}, {"copyright", text::Cp1251ToUtf8(r.Contents.Copyright)}, {"sections", sections}}},
    };
    return doc.dump(2) + "\n";
}

}  // namespace pkgtool
