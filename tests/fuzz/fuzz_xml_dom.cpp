// Fuzz target: arbitrary sequences of operations on XML nodes. Each input byte
// picks an operation on a small pool of counted references; the library's
// errors are expected, everything else (a crash, a use after free, a broken
// link, a leak) is a fault. After every operation the links of every held
// node are checked, and when the pool is dropped no node may stay alive.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "text/Error.h"
#include "xml/XmlDom.h"

namespace {

constexpr int kSlots = 8;

struct TInput {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos = 0;
    bool Empty() const { return pos >= size; }
    std::uint8_t Byte() { return pos < size ? data[pos++] : 0; }
    std::string Text() {
        const std::size_t n = Byte() % 6;
        std::string s;
        for (std::size_t i = 0; i < n; ++i) s += static_cast<char>(Byte());
        return s;
    }
};

void Require(bool ok) {
    if (!ok) std::abort();
}

// The node is where its parent's list says it is, and its siblings point back.
void CheckLinks(const xml::TXmlDNode* node) {
    const xml::TXmlDNode* parent = node->ParentNode();
    if (parent == nullptr) {
        Require(node->PreviousSibling() == nullptr && node->NextSibling() == nullptr);
        return;
    }
    const xml::TXmlDNodeList* list = node->NodeType() == xml::TXmlDNodeType::Attribute
                                         ? static_cast<const xml::TXmlDNodeList*>(parent->Attributes())
                                         : parent->ChildNodes();
    const int index = list->IndexOf(node);
    Require(index >= 0);
    Require(node->PreviousSibling() == (index > 0 ? list->ItemAt(index - 1) : nullptr));
    Require(node->NextSibling() == (index + 1 < list->Count() ? list->ItemAt(index + 1) : nullptr));
    Require(node->RefCount() >= 1);
}

void Run(TInput& in) {
    xml::TRef<xml::TXmlDNode> pool[kSlots];
    auto slot = [&](std::uint8_t b) -> xml::TRef<xml::TXmlDNode>& { return pool[b % kSlots]; };
    while (!in.Empty()) {
        const std::uint8_t op = in.Byte();
        xml::TRef<xml::TXmlDNode>& a = slot(in.Byte());
        xml::TRef<xml::TXmlDNode>& b = slot(in.Byte());
        try {
            switch (op % 14) {
            case 0: a.reset(new xml::TXmlDDocument()); break;
            case 1: a.reset(new xml::TXmlDElement(in.Text())); break;
            case 2: a.reset(new xml::TXmlDText(in.Text())); break;
            case 3: a.reset(new xml::TXmlDAttribute(in.Text())); break;
            case 4: if (a && b) a->AppendChild(b.get()); break;
            case 5: if (a && b) a->InsertChild(b.get(), static_cast<int>(in.Byte() % 5) - 1); break;
            case 6: if (a && b) a->RemoveChild(b.get()); break;
            case 7: if (a) a->ClearChildren(); break;
            case 8: if (a) a->SetText(in.Text()); break;
            case 9:
                if (a && b && a->NodeType() == xml::TXmlDNodeType::Element &&
                    b->NodeType() == xml::TXmlDNodeType::Attribute)
                    static_cast<xml::TXmlDElement*>(a.get())->SetAttributeNode(static_cast<xml::TXmlDAttribute*>(b.get()));
                break;
            case 10: if (a) { const std::string x = a->GetXml(); const std::string t = a->GetText(); (void)x; (void)t; } break;
            case 11: a.reset(); break;
            case 12: if (a && a->ParentNode()) b.reset(a->ParentNode()); break;
            case 13: if (a) b.reset(a->FirstChild()); break;
            }
        } catch (const text::TError&) {
            // The library's own refusals are part of its contract.
        }
        for (const auto& ref : pool)
            if (ref) CheckLinks(ref.get());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const long before = xml::TXmlDNode::LiveCount();
    {
        TInput in{data, size};
        Run(in);
    }
    // Dropping every reference frees every node: parent and sibling links are
    // not counted, and no cycle can be built.
    Require(xml::TXmlDNode::LiveCount() == before);
    return 0;
}
