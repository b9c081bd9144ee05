#include "PackageXml.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <string_view>
#include <utility>

#include "package/PackageDocument.h"
#include "text/Error.h"

namespace pkgtool {
namespace {

// The section tags in document order, with the document member that the
// kind table names for each.
struct TSectionSlot {
    std::string_view Tag;
    xml::TXmlDElement* package::TPackageDocument::*Member;
};
constexpr TSectionSlot kSections[] = {
    {package::kCommonModulesTag, &package::TPackageDocument::CommonModules},
    {package::kDirectoriesTag, &package::TPackageDocument::Directories},
    {package::kProcessingsTag, &package::TPackageDocument::Processings},
    {package::kSubsystemsTag, &package::TPackageDocument::Subsystems},
};
constexpr std::size_t kSectionCount = std::size(kSections);

// The byte an entity stands for, or 0 for anything that is not one of the five.
char EntityByte(std::string_view name) {
    if (name == "amp") return '&';
    if (name == "lt") return '<';
    if (name == "gt") return '>';
    if (name == "quot") return '"';
    if (name == "apos") return '\'';
    return 0;
}

constexpr std::size_t kLongestEntity = 4;  // "quot", "apos"

// The first '<', '&' or zero byte in [p, end), or end: sixteen bytes at a
// time where the processor has SSE2 (every x86-64 one).
const char* FindTextStop(const char* p, const char* end) {
#if defined(__SSE2__)
    const __m128i lt = _mm_set1_epi8('<'), amp = _mm_set1_epi8('&'), zero = _mm_setzero_si128();
    for (; end - p >= 16; p += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, lt), _mm_cmpeq_epi8(v, amp)), _mm_cmpeq_epi8(v, zero));
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
        if (mask != 0) return p + __builtin_ctz(mask);
    }
#endif
    for (; p < end; ++p)
        if (*p == '<' || *p == '&' || *p == '\0') return p;
    return end;
}

// Whether `c` may stand in an element or attribute name of the document.
bool IsNameByte(char c) {
    return c != ' ' && c != '/' && c != '=' && c != '"' && c != '\'' && c != '<' && c != '&';
}

// The static name equal to `format` (one of the formats of the kind table),
// so that an object keeps its formats without a string each.
std::string_view StaticFormatName(std::string_view format) {
    for (std::string_view known : package::kCommonFormats)
        if (known == format) return known;
    return package::kFormatMngCmdObjects;
}

bool IsKnownFormat(std::string_view format) {
    return format == package::kFormatMngCmdObjects || StaticFormatName(format) != package::kFormatMngCmdObjects;
}

}  // namespace

TPackageXmlReader::TPackageXmlReader() = default;

TPackageXmlReader::TPackageXmlReader(TObjectCallback onObject, TOptions options)
    : onObject_(std::move(onObject)), options_(options) {}

void TPackageXmlReader::Fail(const std::string& what) const {
    throw text::TError("PackageData.xml does not match the package layout: " + what + " (at byte " +
                       std::to_string(contents_.Bytes) + ")");
}

void TPackageXmlReader::Feed(const char* data, std::size_t size) {
    const char* p = data;
    const char* const end = data + size;
    while (p < end) {
        switch (state_) {
        case TState::Text:
            p = FeedText(p, end);
            break;
        case TState::Entity:
            p = FeedEntity(p, end);
            break;
        case TState::Markup:
            p = FeedMarkup(p, end);
            break;
        }
    }
}

const char* TPackageXmlReader::FeedText(const char* p, const char* end) {
    // A run of plain bytes up to the next markup, entity or zero byte: item
    // data is most of the document.
    const char* stop = FindTextStop(p, end);
    if (stop < end && *stop == '\0') TextBytes(p, static_cast<std::size_t>(stop - p) + 1);  // raises
    if (stop > p) {
        if (open_.size() != 4) Fail("text outside an Item");
        itemSize_ += static_cast<std::uint64_t>(stop - p);
        if (options_.HashItems) itemHash_.Update(p, static_cast<std::size_t>(stop - p));
    }
    contents_.Bytes += static_cast<std::uint64_t>(stop - p);
    p = stop;
    if (p == end) return p;
    // A known entity that lies whole in this piece is read at once; anything
    // else goes byte by byte in the entity state.
    if (*p == '&') {
        if (const char* next = FeedWholeEntity(p, end)) return next;
    }
    if (*p == '<') {
        state_ = TState::Markup;
        markup_.clear();
        quote_ = 0;
    } else {
        state_ = TState::Entity;
        entity_.clear();
    }
    ++contents_.Bytes;
    return p + 1;
}

const char* TPackageXmlReader::FeedWholeEntity(const char* p, const char* end) {
    const std::size_t room = std::min<std::size_t>(static_cast<std::size_t>(end - p - 1), kLongestEntity + 1);
    const char* semicolon = static_cast<const char*>(std::memchr(p + 1, ';', room));
    const char byte = semicolon ? EntityByte(std::string_view(p + 1, static_cast<std::size_t>(semicolon - p - 1))) : 0;
    if (byte == 0) return nullptr;
    contents_.Bytes += static_cast<std::uint64_t>(semicolon - p + 1);
    TextBytes(&byte, 1);
    return semicolon + 1;
}

const char* TPackageXmlReader::FeedEntity(const char* p, const char*) {
    const char c = *p++;
    ++contents_.Bytes;
    if (c != ';') {
        if (entity_.size() == kLongestEntity) Fail("an unknown entity");
        entity_ += c;
        return p;
    }
    const char byte = EntityByte(entity_);
    if (byte == 0) Fail("the unknown entity &" + entity_ + ";");
    TextBytes(&byte, 1);
    state_ = TState::Text;
    return p;
}

const char* TPackageXmlReader::FeedMarkup(const char* p, const char* end) {
    // Up to the '>' that stands outside an attribute value.
    const char* stop = p;
    while (stop < end) {
        if (quote_) {
            if (*stop == quote_) quote_ = 0;
        } else if (*stop == '"' || *stop == '\'') {
            quote_ = *stop;
        } else if (*stop == '>') {
            break;
        }
        ++stop;
    }
    if (static_cast<std::size_t>(stop - p) > kMaxTagLength - markup_.size()) Fail("a tag is too long");
    markup_.append(p, stop);
    contents_.Bytes += static_cast<std::uint64_t>(stop - p);
    if (stop == end) return stop;
    ++contents_.Bytes;
    state_ = TState::Text;
    Tag(markup_);
    return stop + 1;
}

void TPackageXmlReader::TextBytes(const char* data, std::size_t size) {
    if (open_.size() != 4) Fail("text outside an Item");
    // Item data ends before the clipboard block's first zero byte.
    if (std::memchr(data, 0, size)) Fail("a zero byte in an Item");
    itemSize_ += size;
    if (options_.HashItems) itemHash_.Update(data, size);
}

void TPackageXmlReader::Tag(const std::string& markup) {
    if (markup.empty()) Fail("an empty tag");
    if (markup[0] == '/') {
        EndElement(std::string_view(markup).substr(1));
        return;
    }
    // name, then ` name="value"` pairs, then an optional "/".
    std::size_t pos = 0;
    while (pos < markup.size() && IsNameByte(markup[pos])) ++pos;
    const std::string name = markup.substr(0, pos);
    if (name.empty() || name[0] == '?' || name[0] == '!') Fail("a tag that is not an element");
    // Kept from tag to tag with its strings' storage: most tags carry one
    // attribute of the same few lengths.
    TAttributes& attributes = attributes_;
    std::size_t count = 0;
    bool empty = false;
    while (pos < markup.size()) {
        if (markup[pos] == '/' && pos + 1 == markup.size()) {
            empty = true;
            break;
        }
        if (attributes.size() == count) attributes.emplace_back();
        auto& [attribute, value] = attributes[count++];
        pos = ReadAttribute(markup, pos, name, attribute, value);
    }
    attributes.resize(count);
    StartElement(name, attributes, empty);
}

std::size_t TPackageXmlReader::ReadAttribute(const std::string& markup, std::size_t pos, const std::string& name,
                                             std::string& attribute, std::string& value) const {
    if (markup[pos] != ' ') Fail("a malformed tag <" + name + ">");
    ++pos;
    const std::size_t nameStart = pos;
    while (pos < markup.size() && IsNameByte(markup[pos])) ++pos;
    if (pos == nameStart || pos + 1 >= markup.size() || markup[pos] != '=' || markup[pos + 1] != '"')
        Fail("a malformed attribute in <" + name + ">");
    attribute.assign(markup, nameStart, pos - nameStart);
    pos += 2;
    const std::size_t close = markup.find('"', pos);
    if (close == std::string::npos) Fail("an attribute value of <" + name + "> is not closed");
    value.clear();
    const std::string_view raw = std::string_view(markup).substr(pos, close - pos);
    if (raw.find_first_of("&<") == std::string_view::npos) {
        value = raw;
        return close + 1;
    }
    for (std::size_t i = pos; i < close; ++i) {
        if (markup[i] == '<') Fail("a raw '<' in an attribute of <" + name + ">");
        if (markup[i] != '&') {
            value += markup[i];
            continue;
        }
        const std::size_t semicolon = markup.find(';', i);
        if (semicolon == std::string::npos || semicolon > close) Fail("an unknown entity in <" + name + ">");
        const char byte = EntityByte(std::string_view(markup).substr(i + 1, semicolon - i - 1));
        if (byte == 0) Fail("an unknown entity in <" + name + ">");
        value += byte;
        i = semicolon;
    }
    return close + 1;
}

std::string& TPackageXmlReader::OnlyAttribute(const std::string& name, TAttributes& attributes,
                                              std::string_view wanted) const {
    if (attributes.size() != 1 || attributes[0].first != wanted)
        Fail("<" + name + "> must carry exactly the attribute " + std::string(wanted));
    return attributes[0].second;
}

void TPackageXmlReader::StartElement(const std::string& name, TAttributes& attributes, bool empty) {
    switch (open_.size()) {
    case 0:
        if (rootClosed_) Fail("content after the root element");
        if (name != package::kRootTag) Fail("the root element is <" + name + ">");
        contents_.Copyright = OnlyAttribute(name, attributes, package::kCopyrightAttribute);
        if (empty) Fail("the root element has no sections");
        break;
    case 1: {
        const std::size_t index = contents_.Sections.size();
        if (index == kSectionCount) Fail("<" + name + "> after the four sections");
        if (name != kSections[index].Tag) {
            std::string wanted(kSections[index].Tag);
            Fail("<" + name + "> where <" + wanted + "> belongs");
        }
        if (!attributes.empty()) Fail("<" + name + "> carries attributes");
        contents_.Sections.push_back({name, {}});
        break;
    }
    case 2:
        StartObject(name, attributes);
        open_.push_back(name);
        if (empty) EndElement(name);
        return;
    case 3:
        StartItem(name, attributes);
        break;
    default:
        Fail("<" + name + "> inside an Item");
    }
    // An empty section or an empty Item has nothing to close.
    if (!empty) open_.push_back(name);
}

void TPackageXmlReader::StartObject(const std::string& name, TAttributes& attributes) {
    if (name != "AddObject") Fail("<" + name + "> inside <" + open_.back() + ">");
    TPackageObject object;
    object.ObjectPath = OnlyAttribute(name, attributes, package::kObjectPathAttribute);
    // The object path as the report named it: the section's tree folder
    // replaced by the kind word. Its formats follow from that.
    const auto section = kSections[contents_.Sections.size() - 1].Member;
    const package::TObjectKind* kind = nullptr;
    for (const package::TObjectKind& k : package::ObjectKinds())
        if (k.Section == section && object.ObjectPath.starts_with(k.TreeFolder)) kind = &k;
    if (!kind) Fail("the object \"" + object.ObjectPath + "\" does not belong in <" + open_.back() + ">");
    const std::string reportPath = std::string(kind->KindWord) + object.ObjectPath.substr(kind->TreeFolder.size());
    expectedFormats_ = package::ObjectFormats(*kind, reportPath);
    contents_.Sections.back().Objects.push_back(std::move(object));
}

void TPackageXmlReader::StartItem(const std::string& name, TAttributes& attributes) {
    if (name != package::kItemTag) Fail("<" + name + "> inside <AddObject>");
    const std::string& format = OnlyAttribute(name, attributes, package::kFormatNameAttribute);
    TPackageObject& object = contents_.Sections.back().Objects.back();
    const std::size_t index = object.Formats.size();
    if (options_.AnyFormats) {
        if (index == kMaxAnyFormats) Fail("the object \"" + object.ObjectPath + "\" has too many Items");
        if (!IsKnownFormat(format)) Fail("the object \"" + object.ObjectPath + "\" has the unknown format \"" + format + "\"");
    } else if (index == expectedFormats_.size() || format != expectedFormats_[index])
        Fail("the object \"" + object.ObjectPath + "\" has the format \"" + format + "\" where " +
             (index == expectedFormats_.size() ? std::string("its formats end")
                                               : "\"" + expectedFormats_[index] + "\" belongs"));
    if (object.Formats.empty()) object.Formats.reserve(expectedFormats_.size());
    itemSize_ = 0;
    itemHash_.Reset();
    // An empty Item has no end tag: its digest is that of no bytes.
    object.Formats.push_back({StaticFormatName(format), 0, options_.HashItems ? itemHash_.Digest() : 0});
}

void TPackageXmlReader::EndElement(std::string_view name) {
    if (open_.empty() || open_.back() != name) Fail("</" + std::string(name) + "> closes nothing that is open");
    if (name == "AddObject" && open_.size() == 3) {
        const TPackageObject& object = contents_.Sections.back().Objects.back();
        if (!options_.AnyFormats && object.Formats.size() != expectedFormats_.size())
            Fail("the object \"" + object.ObjectPath + "\" has " + std::to_string(object.Formats.size()) +
                 " formats, not " + std::to_string(expectedFormats_.size()));
        TPackageSection& section = contents_.Sections.back();
        ++section.ObjectCount;
        if (onObject_) {
            onObject_(section.Tag, object);
            section.Objects.pop_back();
        }
        return open_.pop_back();
    }
    if (open_.size() == 4) {
        TFormatData& item = contents_.Sections.back().Objects.back().Formats.back();
        item.Size = itemSize_;
        if (options_.HashItems) item.Hash = itemHash_.Digest();
    }
    if (open_.size() == 1) {
        if (contents_.Sections.size() != kSectionCount) Fail("the root ends before its four sections");
        rootClosed_ = true;
    }
    open_.pop_back();
}

TPackageContents TPackageXmlReader::Finish() {
    if (state_ != TState::Text || !open_.empty() || !rootClosed_) Fail("the document ends early");
    return std::move(contents_);
}

}  // namespace pkgtool
