#include "PackageDocument.h"

namespace package {

namespace {

using namespace text::literals;

using TExtra = TObjectKind::TExtraFormat;

// Tested in this order; no path can begin with two of the words. The tree
// folders are the Designer's names for the kinds' places in its
// configuration tree, from the first level under the root.
const TObjectKind kObjectKinds[] = {
    {"Подсистема"_cp1251, &TPackageDocument::Subsystems, "Общие.Подсистемы"_cp1251, TExtra::None},
    {"ОбщийМодуль"_cp1251, &TPackageDocument::CommonModules, "Общие.Общие модули"_cp1251, TExtra::Always},
    {"Справочник"_cp1251, &TPackageDocument::Directories, "Справочники"_cp1251, TExtra::UnlessAttribute},
    {"Обработка"_cp1251, &TPackageDocument::Processings, "Обработки"_cp1251, TExtra::Always},
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

std::span<const TObjectKind> ObjectKinds() { return kObjectKinds; }

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
    std::vector<std::string> formats(std::begin(kCommonFormats), std::end(kCommonFormats));
    const bool extra = kind.ExtraFormat == TExtra::Always ||
                       (kind.ExtraFormat == TExtra::UnlessAttribute && path.find(kAttributePart) == std::string_view::npos);
    if (extra) formats.emplace_back(kFormatMngCmdObjects);
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

}  // namespace package
