#include "PackageDocument.h"

#include <cstring>

#include "designer/DesignerInterface.h"
#include "text/Error.h"

namespace app {

namespace {

using TExtra = TObjectKind::TExtraFormat;

// Tested in this order; no path can begin with two of the words.
const TObjectKind kObjectKinds[] = {
    {"Подсистема"_cp1251, &TPackageDocument::Subsystems, designer::kTreeSubsystems, TExtra::None},
    {"ОбщийМодуль"_cp1251, &TPackageDocument::CommonModules, designer::kTreeCommonModules, TExtra::Always},
    {"Справочник"_cp1251, &TPackageDocument::Directories, designer::kTreeDirectories, TExtra::UnlessAttribute},
    {"Обработка"_cp1251, &TPackageDocument::Processings, designer::kTreeProcessings, TExtra::Always},
};

// A directory's attribute is copied without the command-data format.
constexpr std::string_view kAttributePart = ".Реквизит."_cp1251;

}  // namespace

void SetUpPackageDocument(TPackageDocument& package) {
    xml::TRef<xml::TXmlDDocument> document(new xml::TXmlDDocument());
    xml::TRef<xml::TXmlDElement> root(new xml::TXmlDElement(std::string(kRootTag)));
    SetElementAttribute(kCopyrightAttribute, kCopyrightText, root.get());
    document->AppendChild(root.get());

    TPackageDocument fresh;
    fresh.Document = document;
    fresh.Root = document->DocumentElement();
    fresh.CommonModules = AddChildElement(kCommonModulesTag, fresh.Root);
    fresh.Directories = AddChildElement(kDirectoriesTag, fresh.Root);
    fresh.Processings = AddChildElement(kProcessingsTag, fresh.Root);
    fresh.Subsystems = AddChildElement(kSubsystemsTag, fresh.Root);
    package = std::move(fresh);
}

const TObjectKind* FindObjectKind(std::string_view path) {
    for (const TObjectKind& kind : kObjectKinds)
        if (path.starts_with(kind.KindWord)) return &kind;
    return nullptr;
}

std::string TreePath(const TObjectKind& kind, std::string_view path) {
    std::string result(kind.TreeFolder);
    result.append(path.substr(kind.KindWord.size()));
    return result;
}

std::vector<std::string> ObjectFormats(const TObjectKind& kind, std::string_view path) {
    std::vector<std::string> formats(std::begin(designer::kCommonFormats), std::end(designer::kCommonFormats));
    const bool extra = kind.ExtraFormat == TExtra::Always ||
                       (kind.ExtraFormat == TExtra::UnlessAttribute && path.find(kAttributePart) == std::string_view::npos);
    if (extra) formats.emplace_back(designer::kFormatMngCmdObjects);
    return formats;
}

xml::TXmlDElement* AddChildElement(std::string_view name, xml::TXmlDNode* parent) {
    xml::TRef<xml::TXmlDElement> element(new xml::TXmlDElement(std::string(name)));
    parent->AppendChild(element.get());
    return element.get();  // the parent's child list keeps it
}

void SetElementAttribute(std::string_view name, std::string_view value, xml::TXmlDElement* element) {
    xml::TRef<xml::TXmlDAttribute> attribute(new xml::TXmlDAttribute(std::string(name)));
    attribute->SetValue(std::string(value));
    element->SetAttributeNode(attribute.get());
}

std::string ClipboardItemText(const char* data, std::size_t size) {
    const void* zero = size ? std::memchr(data, 0, size) : nullptr;
    return std::string(data, zero ? static_cast<const char*>(zero) - data : size);
}

std::uint32_t ClipboardFormatId(designer::IClipboard& clipboard, std::string_view formatName) {
    if (formatName == designer::kFormatText) return designer::kCfText;
    if (formatName == designer::kFormatUnicodeText) return designer::kCfUnicodeText;
    return clipboard.RegisterFormat(formatName);
}

void OpenClipboard(designer::IClipboard& clipboard, designer::IClock& clock) {
    // Another program (a clipboard manager, a remote-desktop client) may hold
    // the clipboard for a moment; giving up at once would fail the build.
    const std::uint64_t start = clock.NowMs();
    while (!clipboard.Open()) {
        if (clock.NowMs() - start >= kClipboardOpenPatienceMs) throw text::TError("Cannot open clipboard");
        clock.Sleep(kClipboardOpenRetryMs);
    }
}

namespace {

// Closes the clipboard on every way out, an error included.
class TClipboardOpen {
public:
    TClipboardOpen(designer::IClipboard& clipboard, designer::IClock& clock) : clipboard_(clipboard) {
        OpenClipboard(clipboard, clock);
    }
    ~TClipboardOpen() { clipboard_.Close(); }
    TClipboardOpen(const TClipboardOpen&) = delete;
    TClipboardOpen& operator=(const TClipboardOpen&) = delete;

private:
    designer::IClipboard& clipboard_;
};

}  // namespace

bool AddClipboardItem(designer::IClipboard& clipboard, designer::IClock& clock, std::string_view formatName,
                      xml::TXmlDElement* element) {
    const std::uint32_t id = ClipboardFormatId(clipboard, formatName);
    std::string data;
    {
        TClipboardOpen open(clipboard, clock);
        const bool found = clipboard.ReadFormat(id, [&data](const char* block, std::size_t size) {
            data = ClipboardItemText(block, size);
        });
        if (!found) return false;
    }
    xml::TRef<xml::TXmlDElement> item(new xml::TXmlDElement(std::string(kItemTag)));
    SetElementAttribute(kFormatNameAttribute, formatName, item.get());
    item->SetText(std::move(data));
    element->AppendChild(item.get());
    return true;
}

bool AddClipboardItems(designer::IClipboard& clipboard, designer::IClock& clock, xml::TXmlDElement* element,
                       const std::vector<std::string>& formatNames) {
    for (const std::string& name : formatNames)
        if (!AddClipboardItem(clipboard, clock, name, element)) return false;
    return true;
}

}  // namespace app
