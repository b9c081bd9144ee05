#pragma once
// Reads PackageData.xml back and checks it against the layout the build
// writes: the root 1C8InstallationPackage with its copyright, the sections
// CommonModules, Directories, Processings, Subsystems in this order, in each
// of them AddObject elements with an ObjectPath of that section's kinds, and
// in each AddObject one Item per format of its kind's format list, in order,
// each holding the format's data as text.
//
// The text form is the compact one the build writes (no declaration, no
// whitespace between elements, the five entities), read as bytes: item data
// may hold any byte but zero. The document is fed in chunks of any size and
// never held whole; only the object paths, format names and data sizes are
// kept.
//
// Errors are text::TError naming what does not match.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ContentHash.h"

namespace pkgtool {

// One Item: its format and the size of its data after the entities are
// read (the bytes the clipboard held).
struct TFormatData {
    std::string_view Name;  // one of the format names of package/PackageDocument.h (static storage)
    std::uint64_t Size = 0;
    std::uint64_t Hash = 0;  // TContentHash of those bytes, when the reader hashes items
};

struct TPackageObject {
    std::string ObjectPath;  // Windows-1251, as the document holds it
    std::vector<TFormatData> Formats;
};

struct TPackageSection {
    std::string Tag;
    std::vector<TPackageObject> Objects;  // empty when they were handed to an object callback
    std::uint64_t ObjectCount = 0;
};

struct TPackageContents {
    std::string Copyright;                  // Windows-1251
    std::vector<TPackageSection> Sections;  // the four sections, in document order
    std::uint64_t Bytes = 0;                // size of the document
};

// How a TPackageXmlReader reads.
struct TPackageXmlOptions {
    // Each Item's data is hashed as it streams (TFormatData::Hash).
    bool HashItems = false;
    // An object's Items may be any of the known formats, in any number up to
    // TPackageXmlReader::kMaxAnyFormats and in any order, instead of exactly
    // its kind's list: for comparing a document with what it should hold.
    bool AnyFormats = false;
};

class TPackageXmlReader {
public:
    // The longest tag read whole (a start tag with its attribute value).
    static constexpr std::size_t kMaxTagLength = 1 << 20;

    // Called for each object as soon as its AddObject element is complete
    // and checked, with the tag of its section.
    using TObjectCallback = std::function<void(const std::string& section, const TPackageObject& object)>;

    // The most Items an object may hold when any formats are let through.
    static constexpr std::size_t kMaxAnyFormats = 32;

    using TOptions = TPackageXmlOptions;

    // Keeps every object in the sections it returns.
    TPackageXmlReader();
    // Hands every object to `onObject` and keeps none, so that memory stays
    // the same however many objects the document holds.
    explicit TPackageXmlReader(TObjectCallback onObject, TOptions options = {});

    // Reads the next `size` bytes of the document. Throws text::TError at the
    // first thing that does not fit the layout.
    void Feed(const char* data, std::size_t size);
    // Checks that the document ended where it may and returns what it holds.
    TPackageContents Finish();

private:
    // Each reads from `p` on in its state and returns where reading goes on.
    const char* FeedText(const char* p, const char* end);
    const char* FeedEntity(const char* p, const char* end);
    const char* FeedMarkup(const char* p, const char* end);
    // An entity at `p` that lies whole before `end` and is one of the five,
    // read at once: past its ';', or null for anything else.
    const char* FeedWholeEntity(const char* p, const char* end);
    using TAttributes = std::vector<std::pair<std::string, std::string>>;
    void Tag(const std::string& markup);
    // The attribute at `pos` of the tag `name` (a space, name="value"), its
    // value's entities read; returns the position after its closing quote.
    std::size_t ReadAttribute(const std::string& markup, std::size_t pos, const std::string& name,
                              std::string& attribute, std::string& value) const;
    // The value of the one attribute `wanted`, the only one the tag carries.
    std::string& OnlyAttribute(const std::string& name, TAttributes& attributes, std::string_view wanted) const;
    void StartElement(const std::string& name, TAttributes& attributes, bool empty);
    void StartObject(const std::string& name, TAttributes& attributes);
    void StartItem(const std::string& name, TAttributes& attributes);
    void EndElement(std::string_view name);
    void TextBytes(const char* data, std::size_t size);
    [[noreturn]] void Fail(const std::string& what) const;

    enum class TState { Text, Markup, Entity };
    TState state_ = TState::Text;
    std::string markup_;
    char quote_ = 0;  // the quote an attribute value in markup_ is open with
    std::string entity_;
    TAttributes attributes_;  // of the tag being read
    std::uint64_t itemSize_ = 0;   // decoded bytes of the current Item

    std::vector<std::string> open_;  // the elements open, outermost first
    bool rootClosed_ = false;
    TPackageContents contents_;
    std::vector<std::string> expectedFormats_;  // of the current AddObject
    TObjectCallback onObject_;
    TOptions options_;
    TContentHash itemHash_;  // of the current Item, when options_.HashItems
};

}  // namespace pkgtool
