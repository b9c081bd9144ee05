// Fuzz target: the ZIP reader over arbitrary bytes. Every entry the reader
// accepts is read with the password "pw". The reader's own errors
// (zip::TZipError) are expected; anything else is a fault: a crash, a
// sanitizer report, a read outside the bytes (TMemorySource throws
// text::TError then), an entry outside the bytes or overlapping another, or
// content of another size than the entry's header says. The first local
// entry alone (zip::ReadFirstLocalEntry) is read the same way.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <vector>

#include "zip/ZipReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    zip::TMemorySource source(bytes);
    try {
        zip::TZipReader reader(source);
        std::vector<std::pair<std::uint64_t, std::uint64_t>> spans;
        for (const zip::TZipEntry& e : reader.Entries()) {
            if (e.End > size || e.DataOffset + e.CompressedSize > e.End || e.LocalHeaderOffset >= e.DataOffset) std::abort();
            if (!zip::IsSafeEntryName(e.Name)) std::abort();
            spans.emplace_back(e.LocalHeaderOffset, e.End);
        }
        std::sort(spans.begin(), spans.end());
        for (std::size_t i = 1; i < spans.size(); ++i)
            if (spans[i - 1].second > spans[i].first) std::abort();
        for (const zip::TZipEntry& e : reader.Entries()) {
            std::uint64_t delivered = 0;
            try {
                reader.ReadEntry(e, "pw", [&](const char*, std::size_t n) {
                    delivered += n;
                    if (delivered > e.UncompressedSize) std::abort();
                });
            } catch (const zip::TZipError&) {
                continue;
            }
            if (delivered != e.UncompressedSize) std::abort();
        }
    } catch (const zip::TZipError&) {
    }
    // The first entry as its local header alone describes it, as inspect
    // reads image.0 while it arrives: the same rules for what it delivers.
    try {
        const std::optional<zip::TZipEntry> e = zip::ReadFirstLocalEntry(source);
        if (e) {
            if (e->End > size || e->DataOffset + e->CompressedSize != e->End) std::abort();
            std::uint64_t delivered = 0;
            zip::ReadEntryData(source, *e, "pw", [&](const char*, std::size_t n) {
                delivered += n;
                if (delivered > e->UncompressedSize) std::abort();
            });
            if (delivered != e->UncompressedSize) std::abort();
        }
    } catch (const zip::TZipError&) {
    }
    return 0;
}
