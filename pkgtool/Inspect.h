#pragma once
// Opens a package file and checks everything in it: every entry of the
// package and of its inner archive image.0 is decrypted and inflated and its
// CRC verified, and PackageData.xml is read against the package layout.
// Nothing is held whole: image.0 goes through a private temporary file,
// PackageData.xml is streamed and its objects are handed on one by one.
// PackageData.xml is read while image.0 is still being decrypted, each on
// a core of its own; its objects wait in a private file until image.0's
// directory confirms the entry, and are then handed on in order.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "PackageXml.h"

namespace pkgtool {

// A private directory under the temporary directory, removed with the object:
// where inspect spools and verify and diff sort their records.
class TScratchDirectory {
public:
    TScratchDirectory();
    ~TScratchDirectory();
    TScratchDirectory(const TScratchDirectory&) = delete;
    TScratchDirectory& operator=(const TScratchDirectory&) = delete;
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

// One entry of an archive as its headers describe it.
struct TEntryInfo {
    std::string Name;    // UTF-8
    std::string Method;  // "stored", "deflated" or "method N"
    std::uint64_t CompressedSize = 0;
    std::uint64_t Size = 0;
    std::string Time;    // "YYYY-MM-DD HH:MM:SS"
    bool Encrypted = false;
    std::uint32_t Crc = 0;
    std::uint64_t ContentHash = 0;  // TContentHash of the entry's data; 0 for image.0, whose document is compared instead
};

// Receives an inspection as it goes. A fault ends it with an exception and
// no End.
class IInspectionSink {
public:
    virtual ~IInspectionSink() = default;
    // The package's entries, every one read and its CRC verified.
    virtual void Entries(const std::vector<TEntryInfo>& entries, bool defaultKey) = 0;
    // image.0's entries; PackageData.xml is verified only at End.
    virtual void ImageEntries(const std::vector<TEntryInfo>& entries) = 0;
    // Whether Xml is to receive PackageData.xml's bytes. A sink that does
    // not (the default) may get the document's objects read ahead on
    // another core while image.0 is still being decrypted.
    virtual bool WantsXml() const { return false; }
    // How PackageData.xml is to be read (whether items are hashed, whether
    // any formats are let through).
    virtual TPackageXmlReader::TOptions DocumentOptions() const { return {}; }
    // PackageData.xml's bytes as they are read, when WantsXml.
    virtual void Xml(const char* data, std::size_t size) = 0;
    // One object of the document, checked against the layout.
    virtual void Object(const std::string& section, const TPackageObject& object) = 0;
    // Everything checked: the document's size, copyright and object counts
    // (its sections hold no objects: those went to Object).
    virtual void End(const TPackageContents& contents) = 0;
};

// How an inspection went about its work (what it found went to the sink).
struct TInspectWork {
    // PackageData.xml was read while image.0 was still being decrypted, and
    // its objects replayed; false: it was read after image.0, as --xml
    // always does and as an image.0 whose first local entry is not the
    // document its directory names needs.
    bool DocumentReadAhead = false;
};

// Inspects the package at `path`, opening it with `key1251` (Windows-1251;
// empty: the default package password). Throws text::TError
// (zip::TZipError for the archives) with the first fault found.
TInspectWork InspectPackage(const std::filesystem::path& path, std::string_view key1251, IInspectionSink& sink);

// Printers of an inspection to `out` as it goes: the text report, the same
// facts as JSON, or PackageData.xml's bytes. All UTF-8.
std::unique_ptr<IInspectionSink> TextPrinter(std::ostream& out);
std::unique_ptr<IInspectionSink> JsonPrinter(std::ostream& out);
std::unique_ptr<IInspectionSink> XmlPrinter(std::ostream& out);

}  // namespace pkgtool
