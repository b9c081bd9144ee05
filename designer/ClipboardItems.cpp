#include "ClipboardItems.h"

#include <cstring>

#include "designer/DesignerInterface.h"
#include "package/PackageDocument.h"

namespace designer {

std::string ClipboardItemText(const char* data, std::size_t size) {
    const void* zero = size ? std::memchr(data, 0, size) : nullptr;
    return std::string(data, zero ? static_cast<const char*>(zero) - data : size);
}

std::uint32_t ClipboardFormatId(platform::IClipboard& clipboard, std::string_view formatName) {
    if (formatName == package::kFormatText) return kCfText;
    if (formatName == package::kFormatUnicodeText) return kCfUnicodeText;
    return clipboard.RegisterFormat(formatName);
}

namespace {

void AppendItem(std::string_view formatName, std::string data, xml::TXmlDElement* element) {
    xml::TRef<xml::TXmlDElement> item(new xml::TXmlDElement(std::string(package::kItemTag)));
    package::SetElementAttribute(package::kFormatNameAttribute, formatName, item.get());
    item->SetText(std::move(data));
    element->AppendChild(item.get());
}

}  // namespace

TClipboardCopy ReadOpenClipboard(platform::IClipboard& clipboard, const std::vector<std::uint32_t>& formatIds) {
    TClipboardCopy copy;
    for (const std::uint32_t id : formatIds) {
        std::string data;
        const bool found = clipboard.ReadFormat(
            id, [&data](const char* block, std::size_t size) { data = ClipboardItemText(block, size); });
        if (!found) return copy;
        copy.Texts.push_back(std::move(data));
    }
    copy.Complete = true;
    return copy;
}

void AppendClipboardItems(const TClipboardCopy& copy, const std::vector<std::string>& formatNames,
                          xml::TXmlDElement* element) {
    for (std::size_t i = 0; i < copy.Texts.size() && i < formatNames.size(); ++i)
        AppendItem(formatNames[i], copy.Texts[i], element);
}

bool AddClipboardItem(platform::IClipboard& clipboard, platform::IClock& clock, std::string_view formatName,
                      xml::TXmlDElement* element) {
    const std::uint32_t id = ClipboardFormatId(clipboard, formatName);
    std::string data;
    {
        platform::TClipboardOpen open(clipboard, clock);
        const bool found = clipboard.ReadFormat(id, [&data](const char* block, std::size_t size) {
            data = ClipboardItemText(block, size);
        });
        if (!found) return false;
    }
    AppendItem(formatName, std::move(data), element);
    return true;
}

bool AddClipboardItems(platform::IClipboard& clipboard, platform::IClock& clock, xml::TXmlDElement* element,
                       const std::vector<std::string>& formatNames) {
    for (const std::string& name : formatNames)
        if (!AddClipboardItem(clipboard, clock, name, element)) return false;
    return true;
}

}  // namespace designer
