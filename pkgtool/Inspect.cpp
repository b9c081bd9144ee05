#include "Inspect.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <ostream>
#include <system_error>

#include "package/PackageAssembly.h"
#include "package/PackageDocument.h"
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

void InspectPackage(const fs::path& path, std::string_view key1251, IInspectionSink& sink) {
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
    std::vector<TEntryInfo> entries;
    for (const zip::TZipEntry& e : archive.Entries()) {
        entries.push_back(Describe(e));
        if (&e != image) {
            archive.ReadEntry(e, password, Discard);
            continue;
        }
        platform::TFile copy = platform::TFile::Create(imagePath);
        archive.ReadEntry(e, password, [&copy](const char* data, std::size_t size) { copy.WriteAll(data, size); });
        copy.Close();
    }
    sink.Entries(entries, key1251.empty());

    zip::TFileSource imageFile(imagePath);
    zip::TZipReader inner(imageFile);
    const std::string xmlName(package::package_names::PackageData);
    const zip::TZipEntry* xml = inner.Find(xmlName);
    if (!xml) throw text::TError(imageName + " holds no " + xmlName);
    std::vector<TEntryInfo> imageEntries;
    for (const zip::TZipEntry& e : inner.Entries()) {
        imageEntries.push_back(Describe(e));
        if (&e != xml) inner.ReadEntry(e, package::kImagePassword, Discard);
    }
    sink.ImageEntries(imageEntries);

    TPackageXmlReader reader(
        [&sink](const std::string& section, const TPackageObject& object) { sink.Object(section, object); });
    inner.ReadEntry(*xml, package::kImagePassword, [&](const char* data, std::size_t size) {
        reader.Feed(data, size);
        sink.Xml(data, size);
    });
    sink.End(reader.Finish());
}

namespace {

std::string EntriesWord(std::size_t n) { return std::to_string(n) + (n == 1 ? " entry" : " entries"); }

// The section tags in document order.
const std::string_view kSectionTags[] = {package::kCommonModulesTag, package::kDirectoriesTag,
                                         package::kProcessingsTag, package::kSubsystemsTag};

// Walks the four sections in order as objects arrive, so that empty ones
// are announced too.
class TSectionCursor {
public:
    // Calls `open` for each section up to and including `tag` not yet opened.
    template <class F>
    void Reach(std::string_view tag, F open) {
        while (next_ < std::size(kSectionTags) && (next_ == 0 || kSectionTags[next_ - 1] != tag)) open(kSectionTags[next_++]);
    }
    template <class F>
    void Finish(F open) {
        while (next_ < std::size(kSectionTags)) open(kSectionTags[next_++]);
    }
    bool Any() const { return next_ > 0; }

private:
    std::size_t next_ = 0;
};

class TTextPrinter : public IInspectionSink {
public:
    explicit TTextPrinter(std::ostream& out) : out_(out) {}
    void Entries(const std::vector<TEntryInfo>& entries, bool defaultKey) override {
        out_ << "package: " << EntriesWord(entries.size()) << ", opened with "
             << (defaultKey ? "the default package password" : "the key given") << "\n"
             << "  name\tmethod\tpacked\tsize\tmodified\tencryption\tCRC\n";
        List(entries);
    }
    void ImageEntries(const std::vector<TEntryInfo>& entries) override {
        out_ << "image.0: " << EntriesWord(entries.size()) << ", opened with the inner password\n";
        List(entries);
    }
    void Xml(const char*, std::size_t) override {}
    void Object(const std::string& section, const TPackageObject& o) override {
        sections_.Reach(section, [this](std::string_view tag) { out_ << tag << ":\n"; });
        out_ << "  " << text::Cp1251ToUtf8(o.ObjectPath) << "\n";
        for (const TFormatData& f : o.Formats) out_ << "    " << text::Cp1251ToUtf8(f.Name) << "\t" << f.Size << "\n";
    }
    void End(const TPackageContents& c) override {
        sections_.Finish([this](std::string_view tag) { out_ << tag << ":\n"; });
        std::uint64_t objects = 0;
        for (const TPackageSection& s : c.Sections) objects += s.ObjectCount;
        out_ << "PackageData.xml: " << c.Bytes << " bytes, " << objects << (objects == 1 ? " object" : " objects")
             << ", every CRC verified, matches the package layout\n"
             << "  copyright: " << text::Cp1251ToUtf8(c.Copyright) << "\n";
    }

private:
    void List(const std::vector<TEntryInfo>& entries) {
        for (const TEntryInfo& e : entries)
            out_ << "  " << e.Name << "\t" << e.Method << "\t" << e.CompressedSize << "\t" << e.Size << "\t" << e.Time
                 << "\t" << (e.Encrypted ? "encrypted" : "plain") << "\tCRC " << Hex32(e.Crc) << "\n";
    }
    std::ostream& out_;
    TSectionCursor sections_;
};

// JSON written as the inspection goes: the structure by hand, every value
// through nlohmann-json.
class TJsonPrinter : public IInspectionSink {
public:
    explicit TJsonPrinter(std::ostream& out) : out_(out) {}
    void Entries(const std::vector<TEntryInfo>& entries, bool defaultKey) override {
        out_ << "{\n  \"defaultKey\": " << (defaultKey ? "true" : "false") << ",\n  \"entries\": " << List(entries, 2)
             << ",\n";
    }
    void ImageEntries(const std::vector<TEntryInfo>& entries) override {
        out_ << "  \"image\": {\n    \"entries\": " << List(entries, 4) << "\n  },\n  \"packageData\": {\n    \"sections\": [";
    }
    void Xml(const char*, std::size_t) override {}
    void Object(const std::string& section, const TPackageObject& o) override {
        sections_.Reach(section, [this](std::string_view tag) { OpenSection(tag); });
        nlohmann::ordered_json formats = nlohmann::ordered_json::array();
        for (const TFormatData& f : o.Formats) formats.push_back({{"name", text::Cp1251ToUtf8(f.Name)}, {"size", f.Size}});
        const nlohmann::ordered_json object = {{"objectPath", text::Cp1251ToUtf8(o.ObjectPath)}, {"formats", formats}};
        out_ << (firstObject_ ? "\n" : ",\n") << "          " << object.dump();
        firstObject_ = false;
    }
    void End(const TPackageContents& c) override {
        sections_.Finish([this](std::string_view tag) { OpenSection(tag); });
        CloseSection();
        out_ << "\n    ],\n    \"size\": " << c.Bytes << ",\n    \"copyright\": "
             << nlohmann::json(text::Cp1251ToUtf8(c.Copyright)).dump() << "\n  }\n}\n";
    }

private:
    static std::string List(const std::vector<TEntryInfo>& entries, int indent) {
        nlohmann::ordered_json a = nlohmann::ordered_json::array();
        for (const TEntryInfo& e : entries) {
            a.push_back({{"name", e.Name},
                         {"method", e.Method},
                         {"compressedSize", e.CompressedSize},
                         {"size", e.Size},
                         {"modified", e.Time},
                         {"encrypted", e.Encrypted},
                         {"crc", Hex32(e.Crc)}});
        }
        // Indented to sit at its place in the document.
        std::string text = a.dump(2), out;
        for (char c : text) {
            out += c;
            if (c == '\n') out.append(static_cast<std::size_t>(indent), ' ');
        }
        return out;
    }
    void OpenSection(std::string_view tag) {
        CloseSection();
        out_ << (sectionOpen_ || anySection_ ? ",\n" : "\n") << "      {\n        \"name\": \"" << tag
             << "\",\n        \"objects\": [";
        sectionOpen_ = anySection_ = true;
        firstObject_ = true;
    }
    void CloseSection() {
        if (!sectionOpen_) return;
        out_ << (firstObject_ ? "]\n      }" : "\n        ]\n      }");
        sectionOpen_ = false;
    }
    std::ostream& out_;
    TSectionCursor sections_;
    bool sectionOpen_ = false;
    bool anySection_ = false;
    bool firstObject_ = true;
};

class TXmlPrinter : public IInspectionSink {
public:
    explicit TXmlPrinter(std::ostream& out) : out_(out) {}
    void Entries(const std::vector<TEntryInfo>&, bool) override {}
    void ImageEntries(const std::vector<TEntryInfo>&) override {}
    void Xml(const char* data, std::size_t size) override { out_.write(data, static_cast<std::streamsize>(size)); }
    void Object(const std::string&, const TPackageObject&) override {}
    void End(const TPackageContents&) override {}

private:
    std::ostream& out_;
};

}  // namespace

std::unique_ptr<IInspectionSink> TextPrinter(std::ostream& out) { return std::make_unique<TTextPrinter>(out); }
std::unique_ptr<IInspectionSink> JsonPrinter(std::ostream& out) { return std::make_unique<TJsonPrinter>(out); }
std::unique_ptr<IInspectionSink> XmlPrinter(std::ostream& out) { return std::make_unique<TXmlPrinter>(out); }

}  // namespace pkgtool
