#pragma once
// Reading a copied object off the clipboard: each clipboard format of its
// format list becomes an Item element (FormatName, the data as text) under
// the object's AddObject element.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Clipboard.h"
#include "xml/XmlDom.h"

namespace designer {

// The item's text of a clipboard block: its bytes up to the first zero byte,
// or all of them when it holds none. Never reads past `size`.
std::string ClipboardItemText(const char* data, std::size_t size);

// The clipboard identifier of a format name: "CF_TEXT" is 1 and
// "CF_UNICODETEXT" is 13 (predefined, compared exactly); any other name is
// registered with the clipboard.
std::uint32_t ClipboardFormatId(platform::IClipboard& clipboard, std::string_view formatName);

// Stores the clipboard's data in format `formatName` as an Item element
// (FormatName attribute, the data as text) appended to `element`. False, and
// nothing added, when the clipboard holds no data in that format. Throws
// "Cannot open clipboard" when another program holds it for longer than
// platform::kClipboardOpenPatienceMs.
bool AddClipboardItem(platform::IClipboard& clipboard, platform::IClock& clock, std::string_view formatName,
                      xml::TXmlDElement* element);

// AddClipboardItem for each format of `formatNames` in order; false at the
// first one missing (later ones are not tried, the Items added stay). True for
// an empty list.
bool AddClipboardItems(platform::IClipboard& clipboard, platform::IClock& clock, xml::TXmlDElement* element,
                       const std::vector<std::string>& formatNames);

// The item texts of one copy, read in one opening of the clipboard.
struct TClipboardCopy {
    std::vector<std::string> Texts;  // one per format, in order, up to the first missing
    bool Complete = false;           // every format was there
};

// With the clipboard open: the item text of each format of `formatIds` in
// order, stopping at the first one the clipboard lacks.
TClipboardCopy ReadOpenClipboard(platform::IClipboard& clipboard, const std::vector<std::uint32_t>& formatIds);

// Appends an Item element (FormatName, text) to `element` for each text of
// `copy`, named by `formatNames` in the same order.
void AppendClipboardItems(const TClipboardCopy& copy, const std::vector<std::string>& formatNames,
                          xml::TXmlDElement* element);

}  // namespace designer
