#pragma once
// Opens a package file and checks everything in it: every entry of the
// package and of its inner archive image.0 is decrypted and inflated and its
// CRC verified, and PackageData.xml is read against the package layout.
// Nothing is held whole: image.0 goes through a private temporary file,
// PackageData.xml is streamed.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "PackageXml.h"

namespace pkgtool {

// One entry of an archive as its headers describe it (all CRCs verified).
struct TEntryInfo {
    std::string Name;    // UTF-8
    std::string Method;  // "stored", "deflated" or "method N"
    std::uint64_t CompressedSize = 0;
    std::uint64_t Size = 0;
    std::string Time;    // "YYYY-MM-DD HH:MM:SS"
    bool Encrypted = false;
    std::uint32_t Crc = 0;
};

struct TInspection {
    bool DefaultKey = false;               // opened with the default package password
    std::vector<TEntryInfo> Entries;       // of the package, in directory order
    std::vector<TEntryInfo> ImageEntries;  // of image.0
    TPackageContents Contents;             // of PackageData.xml
};

// Receives PackageData.xml's bytes as they are read.
using TXmlSink = std::function<void(const char* data, std::size_t size)>;

// Inspects the package at `path`, opening it with `key1251` (Windows-1251;
// empty: the default package password). `xmlSink`, when given, receives
// PackageData.xml's bytes. Throws text::TError (zip::TZipError for the
// archives) with the first fault found.
TInspection InspectPackage(const std::filesystem::path& path, std::string_view key1251, const TXmlSink& xmlSink = {});

// The report of an inspection as text (UTF-8) and as JSON.
std::string InspectionText(const TInspection& inspection);
std::string InspectionJson(const TInspection& inspection);

}  // namespace pkgtool
