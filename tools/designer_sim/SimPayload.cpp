#include "SimPayload.h"

#include <cstdint>

#include "text/Codepage.h"
#include "text/Literal.h"

const char* const kSimCommonFormats[5] = {
    "CF_TEXT", "CF_UNICODETEXT", "1C:MD8 Data", "1C:MD8 External Data", "1C:MD8 Info",
};
const char* const kSimManagedCommandFormat = "1C:V8MngCmdObjectsDataFormat";

namespace {

using namespace text::literals;

// The names the payload rules look for.
const std::string kCommonModules{"Общие.Общие модули."_cp1251};
const std::string kProcessors{"Обработки."_cp1251};
const std::string kDirectories{"Справочники."_cp1251};
const std::string kAttributeFolder{".Реквизит."_cp1251};

bool StartsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

void PutU32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// FNV-1a over the format name and the path, so every (node, format) pair has
// its own tail bytes.
uint32_t Fingerprint(const std::string& formatName, const std::string& path) {
    uint32_t h = 2166136261u;
    for (unsigned char c : formatName + '\0' + path) h = (h ^ c) * 16777619u;
    return h;
}

// A binary record: the 4-byte magic, the fingerprint as eight upper-case hex
// digits and the path, then a zero byte and binary fields (the path length as
// 32-bit little-endian, the fingerprint, a zero word). Everything before the
// first zero byte names the node, so data stored under the wrong object never
// matches.
std::string BinaryRecord(const char magic[4], const std::string& formatName, const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    const uint32_t fingerprint = Fingerprint(formatName, path);
    std::string out(magic, 4);
    for (int shift = 28; shift >= 0; shift -= 4) out += kHex[(fingerprint >> shift) & 0xF];
    out += path;
    out += '\0';
    PutU32(out, static_cast<uint32_t>(path.size()));
    PutU32(out, fingerprint);
    PutU32(out, 0);
    return out;
}

// The text of both text formats: the node's own name first, then its path in
// brackets. A UTF-16 copy cut at its first zero byte keeps the leading
// Cyrillic name and stops at the blank after it.
std::string NodeText(const std::string& path) {
    const size_t dot = path.rfind('.');
    const std::string leaf = dot == std::string::npos ? path : path.substr(dot + 1);
    return leaf + " (" + path + ")";
}

}  // namespace

std::vector<std::string> SimCopiedFormats(const std::string& treePath1251) {
    std::vector<std::string> formats(std::begin(kSimCommonFormats), std::end(kSimCommonFormats));
    const std::string& p = treePath1251;
    bool managed = StartsWith(p, kCommonModules) || StartsWith(p, kProcessors) ||
                   (StartsWith(p, kDirectories) && p.find(kAttributeFolder) == std::string::npos);
    if (managed) formats.push_back(kSimManagedCommandFormat);
    return formats;
}

std::string SimPayload(const std::string& treePath1251, const std::string& formatName) {
    const std::string label = NodeText(treePath1251);
    if (formatName == "CF_TEXT") return label + '\0';
    if (formatName == "CF_UNICODETEXT") {
        std::string out;
        for (char16_t c : text::Cp1251ToUtf16(label)) {
            out += static_cast<char>(c & 0xFF);
            out += static_cast<char>(c >> 8);
        }
        return out + std::string(2, '\0');
    }
    if (formatName == "1C:MD8 Data") return BinaryRecord("MD8D", formatName, treePath1251);
    if (formatName == "1C:MD8 External Data") return BinaryRecord("MD8E", formatName, treePath1251);
    if (formatName == "1C:MD8 Info") {
        // A text header, its terminating zero, then binary fields.
        std::string out = "{\"#\",\"" + treePath1251 + "\"}";
        out += '\0';
        PutU32(out, Fingerprint(formatName, treePath1251));
        return out;
    }
    if (formatName == kSimManagedCommandFormat) return BinaryRecord("MNGC", formatName, treePath1251);
    return {};
}
