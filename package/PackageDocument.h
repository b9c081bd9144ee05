#pragma once
// The package data document (PackageData.xml) of one build: the root
// 1C8InstallationPackage with its four sections, one AddObject element per
// captured metadata object and one Item element per clipboard format of it.
// All names and values are Windows-1251.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "text/Literal.h"
#include "xml/XmlDom.h"

namespace package {

inline constexpr std::string_view kRootTag = "1C8InstallationPackage";
inline constexpr std::string_view kCopyrightAttribute = "copyright";
// The attribution every package carries, the same in every document.
inline constexpr std::string_view kCopyrightText =
    text::Cp1251<"Создано программой Мастер создания пакета инсталляции 1С 8.2">;
inline constexpr std::string_view kCommonModulesTag = "CommonModules";
inline constexpr std::string_view kDirectoriesTag = "Directories";
inline constexpr std::string_view kProcessingsTag = "Processings";
inline constexpr std::string_view kSubsystemsTag = "Subsystems";
inline constexpr std::string_view kObjectPathAttribute = "ObjectPath";
inline constexpr std::string_view kItemTag = "Item";
inline constexpr std::string_view kFormatNameAttribute = "FormatName";

// The clipboard formats an object is stored in, named as the Item elements'
// FormatName says. Two are predefined by Windows; the Designer registers the
// others by name.
inline constexpr std::string_view kFormatText = "CF_TEXT";
inline constexpr std::string_view kFormatUnicodeText = "CF_UNICODETEXT";
inline constexpr std::string_view kFormatMd8Data = "1C:MD8 Data";
inline constexpr std::string_view kFormatMd8ExternalData = "1C:MD8 External Data";
inline constexpr std::string_view kFormatMd8Info = "1C:MD8 Info";
inline constexpr std::string_view kFormatMngCmdObjects = "1C:V8MngCmdObjectsDataFormat";

// Every object is stored in these formats first, in this order.
inline constexpr std::string_view kCommonFormats[] = {
    kFormatText, kFormatUnicodeText, kFormatMd8Data, kFormatMd8ExternalData, kFormatMd8Info,
};

// The document of the current build. The document reference keeps the whole
// tree; the element links are plain and valid while it lives.
struct TPackageDocument {
    xml::TRef<xml::TXmlDDocument> Document;
    xml::TXmlDElement* Root = nullptr;
    xml::TXmlDElement* CommonModules = nullptr;
    xml::TXmlDElement* Directories = nullptr;
    xml::TXmlDElement* Processings = nullptr;
    xml::TXmlDElement* Subsystems = nullptr;
};

// Replaces `package` by a new document: the root with its copyright and the
// sections CommonModules, Directories, Processings, Subsystems in this order.
// The former document is released.
void SetUpPackageDocument(TPackageDocument& package);

// One row of the kind table: the kind word an object path begins with, the
// section its objects go to, the tree folder that replaces the kind word, and
// whether the object copy carries the Designer's command-data format.
struct TObjectKind {
    enum class TExtraFormat { None, Always, UnlessAttribute };

    std::string_view KindWord;
    xml::TXmlDElement* TPackageDocument::*Section;
    std::string_view TreeFolder;
    TExtraFormat ExtraFormat;
};

// The rows of the kind table, in the order they are tested.
std::span<const TObjectKind> ObjectKinds();

// The message for an object whose kind the package cannot carry; "%s" is the
// object's full name as the report gives it.
inline constexpr std::string_view kUnsupportedKindMessage =
    text::Cp1251<"Объект %s не может войти в пакет: пакет переносит только подсистемы, общие модули, "
                 "справочники и обработки (и их части).\r\n"
                 "Исключите этот объект из отчета о сравнении и повторите попытку">;

// The row whose kind word `path` begins with (exact bytes), or null when none does.
const TObjectKind* FindObjectKind(std::string_view path);

// `path` with its leading kind word replaced by the kind's tree folder; later
// occurrences of the word stay as they are. `kind` is FindObjectKind(path).
std::string TreePath(const TObjectKind& kind, std::string_view path);

// The clipboard formats an object of `kind` named `path` is read in: the five
// common ones, then the Designer's command-data format where the kind has it.
std::vector<std::string> ObjectFormats(const TObjectKind& kind, std::string_view path);

// Creates an element `name`, appends it as the last child of `parent` and
// returns it (plain link; the parent holds it).
xml::TXmlDElement* AddChildElement(std::string_view name, xml::TXmlDNode* parent);

// Sets the attribute `name` = `value` on `element`, replacing one of that name.
void SetElementAttribute(std::string_view name, std::string_view value, xml::TXmlDElement* element);

}  // namespace package
