#include "SimPayload.h"

#include <cstdint>

#include "SimTree.h"

const char* const kSimCommonFormats[5] = {
    "CF_TEXT", "CF_UNICODETEXT", "1C:MD8 Data", "1C:MD8 External Data", "1C:MD8 Info",
};
const char* const kSimManagedCommandFormat = "1C:V8MngCmdObjectsDataFormat";

namespace {

// Windows-1251 0x80..0xBF as Unicode; 0xC0..0xFF are U+0410..U+044F.
const char16_t kCp1251High[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

char16_t Cp1251ToUnicode(unsigned char b)
{
    if (b < 0x80) return b;
    if (b >= 0xC0) return static_cast<char16_t>(0x0410 + (b - 0xC0));
    return kCp1251High[b - 0x80];
}

}  // namespace

std::string U16To1251(const std::u16string& s)
{
    std::string out;
    for (char16_t c : s) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c >= 0x0410 && c <= 0x044F) {
            out += static_cast<char>(0xC0 + (c - 0x0410));
        } else {
            char b = '?';
            for (int i = 0; i < 64; ++i)
                if (kCp1251High[i] == c && c != 0xFFFD) b = static_cast<char>(0x80 + i);
            out += b;
        }
    }
    return out;
}

std::u16string Cp1251ToU16(const std::string& s)
{
    std::u16string out;
    for (unsigned char b : s) out += Cp1251ToUnicode(b);
    return out;
}

namespace {

// The names the payload rules look for, converted once.
std::string From(const char* utf8) { return U16To1251(Utf8ToU16(utf8)); }
const std::string kCommonModules = From("Общие.Общие модули.");
const std::string kProcessors = From("Обработки.");
const std::string kDirectories = From("Справочники.");
const std::string kAttributeFolder = From(".Реквизит.");
const std::string kObjectLabel = From("Объект ");

bool StartsWith(const std::string& s, const std::string& prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

void PutU32(std::string& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// FNV-1a over the format name and the path, so every (node, format) pair has
// its own tail bytes.
uint32_t Fingerprint(const std::string& formatName, const std::string& path)
{
    uint32_t h = 2166136261u;
    for (unsigned char c : formatName + '\0' + path) h = (h ^ c) * 16777619u;
    return h;
}

// A binary record: 4-byte magic, the path length as 32-bit little-endian
// (its high bytes are zero), the path, the fingerprint, a zero word.
std::string BinaryRecord(const char magic[4], const std::string& formatName, const std::string& path)
{
    std::string out(magic, 4);
    PutU32(out, static_cast<uint32_t>(path.size()));
    out += path;
    PutU32(out, Fingerprint(formatName, path));
    PutU32(out, 0);
    return out;
}

}  // namespace

std::vector<std::string> SimCopiedFormats(const std::string& treePath1251)
{
    std::vector<std::string> formats(std::begin(kSimCommonFormats), std::end(kSimCommonFormats));
    const std::string& p = treePath1251;
    bool managed = StartsWith(p, kCommonModules) || StartsWith(p, kProcessors) ||
                   (StartsWith(p, kDirectories) && p.find(kAttributeFolder) == std::string::npos);
    if (managed) formats.push_back(kSimManagedCommandFormat);
    return formats;
}

std::string SimPayload(const std::string& treePath1251, const std::string& formatName)
{
    const std::string text = kObjectLabel + treePath1251;
    if (formatName == "CF_TEXT") return text + '\0';
    if (formatName == "CF_UNICODETEXT") {
        std::string out;
        for (char16_t c : Cp1251ToU16(text)) {
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
