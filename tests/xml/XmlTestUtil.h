#pragma once
// Helpers shared by the XML tests.

#include <string>

#include "text/Error.h"
#include "xml/XmlDom.h"

namespace xmltest {

// The message of the text::TError that `action` raises, or "<no error>".
template <class F>
std::string ErrorOf(F&& action) {
    try {
        action();
    } catch (const text::TError& e) {
        return e.what();
    }
    return "<no error>";
}

// A new element appended to `parent`; the parent's list keeps it.
inline xml::TXmlDElement* Add(xml::TXmlDNode* parent, std::string tag) {
    auto* e = new xml::TXmlDElement(std::move(tag));
    parent->AppendChild(e);
    return e;
}

// A new attribute of `name` and `value` set on `element`.
inline xml::TXmlDAttribute* SetAttr(xml::TXmlDElement* element, std::string name, std::string value) {
    auto* a = new xml::TXmlDAttribute(std::move(name));
    a->SetValue(std::move(value));
    element->SetAttributeNode(a);
    return a;
}

}  // namespace xmltest
