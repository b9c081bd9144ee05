// The XML document model: counted references, pointer lists, node lists with
// parent and sibling links, the node classes and their compact text output.
#include "XmlDom.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "platform/Platform.h"
#include "text/Error.h"
#include "text/Literal.h"

using namespace text::literals;

namespace xml {

namespace {

long liveNodes = 0;

[[noreturn]] void RaiseIndex(int index) {
    throw text::TError(text::Format("List index out of bounds (%d)", {std::to_string(index)}));
}

[[noreturn]] void Raise(std::string_view message) {
    throw text::TError(std::string(message));
}

std::string Concat(std::initializer_list<std::string_view> parts) {
    std::string s;
    for (std::string_view part : parts) s += part;
    return s;
}

// Which kinds a parent of each kind may hold, as a bit set over the kind
// codes; 0 means it holds no children at all.
constexpr unsigned Bit(TXmlDNodeType t) { return 1u << static_cast<unsigned>(t); }

unsigned AcceptedChildKinds(TXmlDNodeType parent) {
    using K = TXmlDNodeType;
    switch (parent) {
    case K::Element:
    case K::DocumentFragment:
        return Bit(K::Element) | Bit(K::Text) | Bit(K::CDataSection) | Bit(K::EntityReference) |
               Bit(K::ProcessingInstruction) | Bit(K::Comment) | Bit(K::DocumentFragment);
    case K::Document:
        return Bit(K::Element) | Bit(K::ProcessingInstruction) | Bit(K::Comment) | Bit(K::DocumentType) |
               Bit(K::DocumentFragment);
    case K::EntityReference:
    case K::Entity:
    case K::DocumentType:
        return (1u << NodeTypeNames.size()) - 1;
    default:
        return 0;
    }
}

// The entity written for each byte that must be escaped (size 0 for the
// rest). Each entity sits in 8 bytes so the writer can copy it with one
// fixed-size store and then advance by its real length.
struct TEntity {
    char text[8];
    std::uint8_t size;
};

struct TEntityTable {
    std::array<TEntity, 256> entity{};
    constexpr void Set(char c, std::string_view e) {
        TEntity& slot = entity[static_cast<unsigned char>(c)];
        for (std::size_t i = 0; i < e.size(); ++i) slot.text[i] = e[i];
        slot.size = static_cast<std::uint8_t>(e.size());
    }
    constexpr TEntityTable() {
        Set('&', "&amp;");
        Set('<', "&lt;");
        Set('>', "&gt;");
        Set('"', "&quot;");
        Set('\'', "&apos;");
    }
};
constexpr TEntityTable kEntities;

// The end of the run of bytes from `p` that need no escaping.
inline const char* SafeRunEnd(const char* p, const char* end) {
    while (p < end && kEntities.entity[static_cast<unsigned char>(*p)].size == 0) ++p;
    return p;
}

// A stream that appends to a string: GetXml goes through the same writer as
// the file output, so both give the same bytes.
class TStringStream : public TStream {
public:
    std::size_t Write(const void* data, std::size_t size) override {
        text.append(static_cast<const char*>(data), size);
        return size;
    }
    std::string text;
};

class TFileStream : public TStream {
public:
    explicit TFileStream(platform::TFile& file) : file_(file) {}
    std::size_t Write(const void* data, std::size_t size) override { return file_.Write(data, size); }

private:
    platform::TFile& file_;
};

}  // namespace

// ---------------------------------------------------------------------------

void TRefObject::Release() {
    if (--refCount_ == 0) {
        refCount_ = 1;
        delete this;
    }
}

// ---------------------------------------------------------------------------

void TList::CheckIndex(int index, int limit) const {
    if (index < 0 || index > limit) RaiseIndex(index);
}

void* TList::Get(int index) const {
    CheckIndex(index, Count() - 1);
    return items_[static_cast<std::size_t>(index)];
}

void TList::Insert(int index, void* item) {
    CheckIndex(index, Count());
    items_.insert(items_.begin() + index, item);
}

void* TList::Extract(int index) {
    CheckIndex(index, Count() - 1);
    void* item = items_[static_cast<std::size_t>(index)];
    items_.erase(items_.begin() + index);
    return item;
}

int TList::IndexOf(const void* item) const {
    const auto it = std::find(items_.begin(), items_.end(), item);
    return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

TXList::~TXList() { TXList::Clear(); }

void TXList::InsertItem(int index, TObject* item) {
    Insert(index, item);
    if (item) ItemAdded(item);
}

TObject* TXList::ExtractItem(int index) {
    auto* item = static_cast<TObject*>(Extract(index));
    if (item) ItemRemoved(item);
    return item;
}

void TXList::Clear() {
    // The item leaves the list before its hooks run, so a hook that reaches
    // back into the list sees it without the item.
    while (Count() > 0) {
        auto* item = static_cast<TObject*>(Extract(Count() - 1));
        if (item) {
            ItemRemoved(item);
            FreeItem(item);
        }
    }
    TList::Clear();
}

void TXList::ItemAdded(TObject*) {}
void TXList::ItemRemoved(TObject*) {}
void TXList::FreeItem(TObject* item) { delete item; }

// The base destructor would call the base hooks (and delete counted items
// outright), so the counted list clears itself while it is still itself.
TRefObjectList::~TRefObjectList() { TRefObjectList::Clear(); }

void TRefObjectList::ItemAdded(TObject* item) { static_cast<TRefObject*>(item)->AddRef(); }
void TRefObjectList::ItemRemoved(TObject* item) { static_cast<TRefObject*>(item)->Release(); }
void TRefObjectList::FreeItem(TObject*) {}

// ---------------------------------------------------------------------------

TXmlWriter::TXmlWriter(TStream& sink, std::size_t bufferSize)
    : sink_(sink), buffer_(std::max<std::size_t>(bufferSize, 16)) {}

void TXmlWriter::PutLarge(const char* data, std::size_t size) {
    Flush();
    // A block at least as large as the buffer gains nothing from a copy.
    if (size >= buffer_.size()) {
        if (sink_.Write(data, size) != size) Raise("Stream write error");
        return;
    }
    std::memcpy(buffer_.data(), data, size);
    used_ = size;
}

void TXmlWriter::Write(std::string_view bytes) { Put(bytes.data(), bytes.size()); }

void TXmlWriter::WriteEscaped(std::string_view text) {
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        const char* run = p;
        p = SafeRunEnd(p, end);
        if (p > run) Put(run, static_cast<std::size_t>(p - run));
        if (p == end) break;
        const TEntity& entity = kEntities.entity[static_cast<unsigned char>(*p++)];
        if (buffer_.size() - used_ >= sizeof entity.text) {
            std::memcpy(buffer_.data() + used_, entity.text, sizeof entity.text);
            used_ += entity.size;
        } else {
            Put(entity.text, entity.size);
        }
    }
}

void TXmlWriter::Flush() {
    if (used_ == 0) return;
    const std::size_t size = std::exchange(used_, 0);
    if (sink_.Write(buffer_.data(), size) != size) Raise("Stream write error");
}

std::string XmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        const char* run = p;
        p = SafeRunEnd(p, end);
        out.append(run, p);
        if (p == end) break;
        const TEntity& entity = kEntities.entity[static_cast<unsigned char>(*p++)];
        out.append(entity.text, entity.size);
    }
    return out;
}

// ---------------------------------------------------------------------------

TXmlDNode::TXmlDNode(TXmlDNodeType type)
    : nodeType_(type),
      childNodes_(new TXmlDNodeList(this, true)),
      attributes_(new TXmlDNamedNodeMap(this, true)) {
    ++liveNodes;
}

TXmlDNode::~TXmlDNode() {
    attributes_.reset();
    childNodes_.reset();
    --liveNodes;
}

long TXmlDNode::LiveCount() { return liveNodes; }

TXmlDNode* TXmlDNode::FirstChild() const {
    return HasChildNodes() ? childNodes_->ItemAt(0) : nullptr;
}

TXmlDNode* TXmlDNode::LastChild() const {
    return HasChildNodes() ? childNodes_->ItemAt(childNodes_->Count() - 1) : nullptr;
}

bool TXmlDNode::HasChildNodes() const { return childNodes_->Count() > 0; }

int TXmlDNode::InsertChild(TXmlDNode* node, int index) {
    if (!node) Raise("XML: Не задан узел"_cp1251);
    const unsigned accepted = AcceptedChildKinds(nodeType_);
    if (accepted == 0) {
        Raise(Concat({"XML: узел \""_cp1251, NodeTypeName(), "\" не может содержать подузлы"_cp1251}));
    }
    if ((accepted & Bit(node->NodeType())) == 0) {
        Raise(Concat({"XML: узел \""_cp1251, NodeTypeName(), "\" не может содержать подузел \""_cp1251,
                      node->NodeTypeName(), "\""}));
    }
    // A node under itself would be a cycle of counted references: never freed,
    // and endless for every walk over the tree.
    for (const TXmlDNode* p = this; p; p = p->parentNode_) {
        if (p == node) Raise("XML: Нельзя добавить узел в самого себя или в свой подузел"_cp1251);
    }
    // The index is checked against the list as it will be once the node has
    // left its former place, before anything moves, so a bad index changes nothing.
    const int count = childNodes_->Count() - (node->parentNode_ == this ? 1 : 0);
    if (index != -1 && (index < 0 || index > count)) RaiseIndex(index);

    // Held while it moves: the former parent's list may hold its only reference.
    TRef<TXmlDNode> hold(node);
    if (node->parentNode_) node->parentNode_->RemoveChild(node);
    if (index == -1) index = childNodes_->Count();
    return childNodes_->Insert(node, index);
}

int TXmlDNode::AppendChild(TXmlDNode* node) { return InsertChild(node, -1); }

int TXmlDNode::RemoveChild(TXmlDNode* node) {
    const int index = childNodes_->IndexOf(node);
    if (index < 0) Raise("XML: Не найден подузел для удаления"_cp1251);
    childNodes_->Delete(index);
    return index;
}

void TXmlDNode::ClearChildren() { childNodes_->Clear(); }

void TXmlDNode::UpdateNames() {
    nodeName_ = GetNodeName();
    const std::size_t colon = nodeName_.find(':');
    if (colon == std::string::npos) {
        prefix_.clear();
        localName_ = nodeName_;
    } else {
        prefix_ = nodeName_.substr(0, colon);
        localName_ = nodeName_.substr(colon + 1);
    }
}

std::string TXmlDNode::GetXml() const {
    TStringStream sink;
    TXmlWriter writer(sink);
    WriteXml(writer);
    writer.Flush();
    return std::move(sink.text);
}

void TXmlDNode::AppendChildText(std::string& out) const {
    for (const TXmlDNode* child = FirstChild(); child; child = child->nextSibling_) {
        switch (child->nodeType_) {
        case TXmlDNodeType::Element:
            // Appending in place keeps a deep subtree from being copied once per level.
            child->AppendChildText(out);
            break;
        case TXmlDNodeType::Text:
        case TXmlDNodeType::CDataSection:
            out += child->GetText();
            break;
        default:
            break;
        }
    }
}

// ---------------------------------------------------------------------------

TXmlDNodeList::TXmlDNodeList(TXmlDNode* owner, bool linksItems) : owner_(owner), linksItems_(linksItems) {}

TXmlDNodeList::~TXmlDNodeList() { Clear(); }

TXmlDNode* TXmlDNodeList::ItemAt(int index) const { return static_cast<TXmlDNode*>(items_.RefItem(index)); }

int TXmlDNodeList::IndexOf(const TXmlDNode* node) const {
    return items_.IndexOf(static_cast<const TObject*>(node));
}

void TXmlDNodeList::Unlink(TXmlDNode* node) {
    node->parentNode_ = nullptr;
    node->previousSibling_ = nullptr;
    node->nextSibling_ = nullptr;
}

int TXmlDNodeList::Insert(TXmlDNode* node, int index) {
    if (!node) Raise("XML: Не задан узел"_cp1251);
    if (linksItems_ && node->parentNode_) Raise("XML: Нельзя добавлять узел в два списка"_cp1251);
    if (index == -1) index = Count();
    items_.InsertItem(index, node);
    if (linksItems_) {
        node->parentNode_ = owner_;
        TXmlDNode* prev = index > 0 ? ItemAt(index - 1) : nullptr;
        TXmlDNode* next = index + 1 < Count() ? ItemAt(index + 1) : nullptr;
        node->previousSibling_ = prev;
        node->nextSibling_ = next;
        if (prev) prev->nextSibling_ = node;
        if (next) next->previousSibling_ = node;
    }
    return index;
}

void TXmlDNodeList::Delete(int index) {
    TRef<TXmlDNode> hold(ItemAt(index));
    items_.ExtractItem(index);
    if (linksItems_) {
        Unlink(hold.get());
        TXmlDNode* prev = index > 0 ? ItemAt(index - 1) : nullptr;
        TXmlDNode* next = index < Count() ? ItemAt(index) : nullptr;
        if (prev) prev->nextSibling_ = next;
        if (next) next->previousSibling_ = prev;
    }
}

void TXmlDNodeList::Replace(TXmlDNode* node, int index) {
    if (!node) Raise("XML: Не задан узел"_cp1251);
    if (linksItems_ && node->parentNode_) Raise("XML: Нельзя добавлять подузел в два списка"_cp1251);
    Delete(index);
    Insert(node, index);
}

void TXmlDNodeList::Clear() {
    while (Count() > 0) {
        const int last = Count() - 1;
        if (linksItems_) {
            Unlink(ItemAt(last));
            if (last > 0) ItemAt(last - 1)->nextSibling_ = nullptr;
        }
        items_.ExtractItem(last);
    }
}

TXmlDNode* TXmlDNamedNodeMap::FindNamedItem(std::string_view name, int* index) const {
    for (int i = 0; i < Count(); ++i) {
        TXmlDNode* item = ItemAt(i);
        if (item->NodeName() == name) {
            if (index) *index = i;
            return item;
        }
    }
    if (index) *index = -1;
    return nullptr;
}

int TXmlDNamedNodeMap::SetNamedItem(TXmlDNode* node) {
    if (!node) Raise("XML: Не задан узел"_cp1251);
    int index = -1;
    if (FindNamedItem(node->NodeName(), &index)) {
        Replace(node, index);
        return index;
    }
    return Insert(node, -1);
}

// ---------------------------------------------------------------------------

TXmlDDocument::TXmlDDocument() : TXmlDNode(TXmlDNodeType::Document) { UpdateNames(); }

TXmlDElement* TXmlDDocument::DocumentElement() const {
    for (TXmlDNode* child = FirstChild(); child; child = child->NextSibling()) {
        if (child->NodeType() == TXmlDNodeType::Element) return static_cast<TXmlDElement*>(child);
    }
    return nullptr;
}

void TXmlDDocument::SaveToStream(TStream& stream) const {
    TXmlWriter writer(stream);
    WriteXml(writer);
    writer.Flush();
}

void TXmlDDocument::SaveToFile(const std::filesystem::path& path) const {
    // The file object closes the file on every path out, also when writing raises.
    platform::TFile file = platform::TFile::Create(path);
    TFileStream stream(file);
    SaveToStream(stream);
    file.Close();
}

std::string TXmlDDocument::GetNodeName() const { return "#document"; }
std::string TXmlDDocument::GetNodeValue() const { return {}; }

void TXmlDDocument::SetNodeValue(std::string) {
    Raise("XML: Нельзя изменять значение узла \"document\""_cp1251);
}

std::string TXmlDDocument::GetText() const {
    std::string out;
    AppendChildText(out);
    return out;
}

void TXmlDDocument::SetText(std::string) { Raise("XML: Нельзя изменять текст узла \"document\""_cp1251); }

TXmlDNode* TXmlDDocument::CloneNode() const { return new TXmlDDocument(); }

void TXmlDDocument::WriteXml(TXmlWriter& out) const {
    for (const TXmlDNode* child = FirstChild(); child; child = child->NextSibling()) child->WriteXml(out);
}

// ---------------------------------------------------------------------------

TXmlDElement::TXmlDElement(std::string tagName) : TXmlDNode(TXmlDNodeType::Element) {
    SetTagName(std::move(tagName));
}

void TXmlDElement::SetTagName(std::string name) {
    tagName_ = std::move(name);
    UpdateNames();
}

int TXmlDElement::SetAttributeNode(TXmlDAttribute* attribute) { return Attributes()->SetNamedItem(attribute); }

std::string TXmlDElement::GetNodeName() const { return tagName_; }
std::string TXmlDElement::GetNodeValue() const { return {}; }

void TXmlDElement::SetNodeValue(std::string) {
    Raise("XML: Нельзя изменять значение узла \"element\""_cp1251);
}

std::string TXmlDElement::GetText() const {
    std::string out;
    AppendChildText(out);
    return out;
}

void TXmlDElement::SetText(std::string text) {
    TRef<TXmlDText> node(new TXmlDText(std::move(text)));
    ClearChildren();
    AppendChild(node.get());
}

TXmlDNode* TXmlDElement::CloneNode() const { return new TXmlDElement(tagName_); }

void TXmlDElement::WriteXml(TXmlWriter& out) const {
    out.Write("<");
    out.Write(tagName_);
    const TXmlDNamedNodeMap* attributes = Attributes();
    for (int i = 0; i < attributes->Count(); ++i) {
        out.Write(" ");
        attributes->ItemAt(i)->WriteXml(out);
    }
    if (!HasChildNodes()) {
        out.Write("/>");
        return;
    }
    out.Write(">");
    for (const TXmlDNode* child = FirstChild(); child; child = child->NextSibling()) child->WriteXml(out);
    out.Write("</");
    out.Write(tagName_);
    out.Write(">");
}

// ---------------------------------------------------------------------------

TXmlDAttribute::TXmlDAttribute(std::string name) : TXmlDNode(TXmlDNodeType::Attribute) { SetName(std::move(name)); }

void TXmlDAttribute::SetName(std::string name) {
    name_ = std::move(name);
    UpdateNames();
}

std::string TXmlDAttribute::GetNodeName() const { return name_; }
std::string TXmlDAttribute::GetNodeValue() const { return value_; }
void TXmlDAttribute::SetNodeValue(std::string value) { value_ = std::move(value); }
std::string TXmlDAttribute::GetText() const { return GetNodeValue(); }
void TXmlDAttribute::SetText(std::string text) { SetNodeValue(std::move(text)); }

TXmlDNode* TXmlDAttribute::CloneNode() const {
    auto* copy = new TXmlDAttribute(name_);
    copy->SetValue(value_);
    return copy;
}

void TXmlDAttribute::WriteXml(TXmlWriter& out) const {
    out.Write(name_);
    out.Write("=\"");
    out.WriteEscaped(value_);
    out.Write("\"");
}

// ---------------------------------------------------------------------------

TXmlDCharacterData::TXmlDCharacterData(TXmlDNodeType type, std::string data)
    : TXmlDNode(type), data_(std::move(data)) {}

std::string TXmlDCharacterData::GetNodeValue() const { return data_; }
void TXmlDCharacterData::SetNodeValue(std::string value) { data_ = std::move(value); }
std::string TXmlDCharacterData::GetText() const { return GetNodeValue(); }
void TXmlDCharacterData::SetText(std::string text) { SetNodeValue(std::move(text)); }

TXmlDText::TXmlDText(std::string data) : TXmlDCharacterData(TXmlDNodeType::Text, std::move(data)) { UpdateNames(); }

std::string TXmlDText::GetNodeName() const { return "#text"; }
TXmlDNode* TXmlDText::CloneNode() const { return new TXmlDText(Data()); }
void TXmlDText::WriteXml(TXmlWriter& out) const { out.WriteEscaped(Data()); }

}  // namespace xml
