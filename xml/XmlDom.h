#pragma once
// A small reference-counted XML document model and its compact text output.
//
// The wizard builds PackageData.xml with it: a tree of counted nodes
// (document, elements, attributes, text) with ordered child lists,
// per-element attribute maps, uncounted parent and sibling links, and fixed
// rules on which kind of node may hold which. It only builds and writes
// documents; it never parses.
//
// All strings are Windows-1251 bytes, stored exactly as passed (embedded zero
// bytes included); names are not checked for being well-formed XML.
// Every error is a text::TError whose message (1251) starts with "XML: ",
// except "List index out of bounds (%d)" and "Stream write error".
// Single-threaded: reference counts are plain integers.
//
//   xml::TRef<xml::TXmlDDocument> doc(new xml::TXmlDDocument());
//   xml::TRef<xml::TXmlDElement> root(new xml::TXmlDElement("Root"));
//   doc->AppendChild(root.get());
//   auto* a = new xml::TXmlDAttribute("copyright");
//   a->SetValue("...");
//   root->SetAttributeNode(a);
//   doc->SaveToFile(path);

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace xml {

// ---------------------------------------------------------------------------
// Counted references

// The root of every object that may be deleted through a base pointer.
class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;
};

// An object with an intrusive reference count that starts at 0.
class TRefObject : public TObject {
public:
    // The number of counted references held on the object (0 when new).
    std::int32_t RefCount() const { return refCount_; }
    // Adds one counted reference.
    void AddRef() { ++refCount_; }
    // Drops one counted reference; at 0 the count is set back to 1 and the
    // object destroyed, so a reference taken and given back during the
    // destruction cannot destroy it a second time.
    void Release();

private:
    std::int32_t refCount_ = 0;
};

// A counted reference: holds one AddRef on its object while not empty.
template <class T>
class TRef {
public:
    TRef() = default;
    // Takes a counted reference on `object` (none when null).
    explicit TRef(T* object) : object_(object) { if (object_) object_->AddRef(); }
    TRef(const TRef& other) : TRef(other.object_) {}
    TRef(TRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    // A reference to a derived class converts to one to its base.
    template <class U>
    TRef(const TRef<U>& other) : TRef(other.get()) {}
    ~TRef() { reset(); }

    TRef& operator=(TRef other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }

    // The object, or null; the reference keeps it.
    T* get() const { return object_; }
    T* operator->() const { return object_; }
    T& operator*() const { return *object_; }
    explicit operator bool() const { return object_ != nullptr; }

    // Releases the object (it may be destroyed here) and empties the reference.
    void reset() {
        if (T* o = std::exchange(object_, nullptr)) o->Release();
    }
    // Releases what the reference held and takes a counted reference on `object`.
    void reset(T* object) { TRef(object).swap(*this); }
    void swap(TRef& other) noexcept { std::swap(object_, other.object_); }

private:
    T* object_ = nullptr;
};

// Stores `object` into `ref` with a counted reference (releasing what `ref`
// held before); returns whether `object` is not null.
template <class T>
bool InitRef(TRef<T>& ref, T* object) {
    ref.reset(object);
    return object != nullptr;
}

// Releases the object `ref` holds, if any, and empties it.
template <class T>
void ClearRef(TRef<T>& ref) {
    ref.reset();
}

// ---------------------------------------------------------------------------
// Lists

// A growable ordered list of untyped pointers held in one array.
// Every bad index raises "List index out of bounds (%d)" with that index.
class TList {
public:
    TList() = default;
    TList(const TList&) = delete;
    TList& operator=(const TList&) = delete;
    virtual ~TList() = default;

    // The number of items.
    int Count() const { return static_cast<int>(items_.size()); }
    // The item at `index` (0 <= index < Count).
    void* Get(int index) const;
    // Inserts `item` before position `index` (0 <= index <= Count).
    void Insert(int index, void* item);
    // Removes the item at `index` and returns it (0 <= index < Count).
    void* Extract(int index);
    // The position of the first occurrence of `item`, or -1.
    int IndexOf(const void* item) const;
    // Removes all items; derived lists decide what happens to them.
    virtual void Clear() { items_.clear(); }

protected:
    void CheckIndex(int index, int limit) const;

private:
    std::vector<void*> items_;
};

// A list whose items are objects, with notification hooks.
class TXList : public TList {
public:
    // Runs Clear, destroying the items that are left.
    ~TXList() override;

    // Inserts like TList::Insert, then ItemAdded(item) when it is not null.
    void InsertItem(int index, TObject* item);
    // Removes the item at `index`, calls ItemRemoved when it is not null, returns it.
    TObject* ExtractItem(int index);
    // The item at `index`.
    TObject* Item(int index) const { return static_cast<TObject*>(Get(index)); }
    // Takes the items out last to first, calling ItemRemoved then FreeItem on each.
    void Clear() override;

protected:
    // After an item was put into the list. Does nothing here.
    virtual void ItemAdded(TObject* item);
    // After an item was taken out of the list. Does nothing here.
    virtual void ItemRemoved(TObject* item);
    // Called by Clear after ItemRemoved. Destroys the item here.
    virtual void FreeItem(TObject* item);
};

// A list holding one counted reference on each of its items.
class TRefObjectList : public TXList {
public:
    // Releases every item, last to first.
    ~TRefObjectList() override;

    // The item at `index`.
    TRefObject* RefItem(int index) const { return static_cast<TRefObject*>(Item(index)); }

protected:
    void ItemAdded(TObject* item) override;    // AddRef
    void ItemRemoved(TObject* item) override;  // Release
    void FreeItem(TObject* item) override;     // nothing: Release owns the lifetime
};

// ---------------------------------------------------------------------------
// Node kinds

enum class TXmlDNodeType : std::uint8_t {
    Element = 0,
    Attribute = 1,
    Text = 2,
    CDataSection = 3,
    EntityReference = 4,
    Entity = 5,
    ProcessingInstruction = 6,
    Comment = 7,
    Document = 8,
    DocumentType = 9,
    DocumentFragment = 10,
    Notation = 11,
};

// The kind names used in the library's messages, indexed by the kind's code.
inline constexpr std::array<std::string_view, 12> NodeTypeNames = {
    "element", "attribute", "text", "cdatasection", "entityreference", "entity",
    "processinginstruction", "comment", "document", "documenttype", "documentfragment", "notation",
};

// The name of a kind in NodeTypeNames.
inline std::string_view NodeTypeName(TXmlDNodeType type) {
    return NodeTypeNames[static_cast<std::size_t>(type)];
}

// ---------------------------------------------------------------------------
// Output

// An abstract byte sink.
class TStream {
public:
    virtual ~TStream() = default;
    // Writes up to `size` bytes and returns how many it took; fewer means failure.
    virtual std::size_t Write(const void* data, std::size_t size) = 0;
};

// A buffer in front of a TStream: markup and escaped text are appended to it
// and handed to the stream in large blocks.
class TXmlWriter {
public:
    static constexpr std::size_t kDefaultBufferSize = 64 * 1024;

    // Writes into `sink`; `bufferSize` (at least 16) is the block size handed on.
    explicit TXmlWriter(TStream& sink, std::size_t bufferSize = kDefaultBufferSize);
    TXmlWriter(const TXmlWriter&) = delete;
    TXmlWriter& operator=(const TXmlWriter&) = delete;

    // Appends the bytes unchanged.
    void Write(std::string_view bytes);
    // Appends the bytes with & < > " ' replaced by their entities.
    void WriteEscaped(std::string_view text);
    // Hands the buffered bytes to the stream; raises "Stream write error" when
    // it takes fewer. Must be called before the writer goes away.
    void Flush();

private:
    // Small pieces (markup, entities, short runs) take the inline path.
    void Put(const char* data, std::size_t size) {
        if (size <= buffer_.size() - used_) {
            std::memcpy(buffer_.data() + used_, data, size);
            used_ += size;
        } else {
            PutLarge(data, size);
        }
    }
    void PutLarge(const char* data, std::size_t size);

    TStream& sink_;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
};

// `text` with & < > " ' replaced by &amp; &lt; &gt; &quot; &apos;; every other
// byte (control bytes, 80..FF) unchanged; entities in the input are not recognised.
std::string XmlEscape(std::string_view text);

// ---------------------------------------------------------------------------
// Nodes

class TXmlDNodeList;
class TXmlDNamedNodeMap;
class TXmlDElement;
class TXmlDAttribute;

// An abstract node. Every node owns a child list and an attribute map (only
// elements use the map). The list holding a node holds one counted reference
// on it; parent and sibling links are plain pointers.
class TXmlDNode : public TRefObject {
public:
    ~TXmlDNode() override;

    // The node's kind, fixed at creation.
    TXmlDNodeType NodeType() const { return nodeType_; }
    // The kind's entry of NodeTypeNames ("element", "document", ...).
    std::string_view NodeTypeName() const { return xml::NodeTypeName(nodeType_); }
    // The name as GetNodeName returned it at the last UpdateNames.
    const std::string& NodeName() const { return nodeName_; }
    // The part of NodeName before its first ":", or empty.
    const std::string& Prefix() const { return prefix_; }
    // The part of NodeName after its first ":", or all of it.
    const std::string& LocalName() const { return localName_; }
    // The node's own child list.
    TXmlDNodeList* ChildNodes() const { return childNodes_.get(); }
    // The node's own attribute map.
    TXmlDNamedNodeMap* Attributes() const { return attributes_.get(); }
    // The node whose list holds this node, or null.
    TXmlDNode* ParentNode() const { return parentNode_; }
    // The item before this node in its parent's list, or null.
    TXmlDNode* PreviousSibling() const { return previousSibling_; }
    // The item after this node in its parent's list, or null.
    TXmlDNode* NextSibling() const { return nextSibling_; }
    // The first child, or null.
    TXmlDNode* FirstChild() const;
    // The last child, or null.
    TXmlDNode* LastChild() const;
    // Whether the node has at least one child.
    bool HasChildNodes() const;

    // Moves `node` (from its former parent, if any) to position `index` of the
    // children (-1: the end); returns the index used. Raises, changing nothing,
    // when `node` is null, when this kind may not hold the node's kind, when
    // `node` is this node or one of its ancestors, or when the index is out of range.
    int InsertChild(TXmlDNode* node, int index);
    // InsertChild(node, -1).
    int AppendChild(TXmlDNode* node);
    // Removes the child `node` and returns the index it had; it is destroyed
    // unless another counted reference holds it. Raises
    // "XML: Не найден подузел для удаления" when it is not a child.
    int RemoveChild(TXmlDNode* node);
    // Removes (and releases) all children, last to first.
    void ClearChildren();
    // Sets NodeName from GetNodeName and splits it into Prefix and LocalName.
    void UpdateNames();

    // The node's name ("#document", "#text", a tag or attribute name).
    virtual std::string GetNodeName() const = 0;
    // The node's value (empty for documents and elements).
    virtual std::string GetNodeValue() const = 0;
    // Sets the value; raises on documents and elements.
    virtual void SetNodeValue(std::string value) = 0;
    // The node's text: for documents and elements the text of all element,
    // text and cdatasection descendants in order; otherwise the value.
    virtual std::string GetText() const = 0;
    // Sets the text: elements get one new text child in place of all children.
    virtual void SetText(std::string text) = 0;
    // The node's compact markup.
    virtual std::string GetXml() const;
    // A new node of the same class (count 0, detached, no children or attributes).
    virtual TXmlDNode* CloneNode() const = 0;
    // Appends the node's markup to `out` (GetXml is this into a string).
    virtual void WriteXml(TXmlWriter& out) const = 0;

    // Nodes constructed and not yet destroyed, program-wide (diagnostics:
    // tests use it to prove that releasing a document frees its tree).
    static long LiveCount();

protected:
    explicit TXmlDNode(TXmlDNodeType type);
    // Appends GetText of the element, text and cdatasection children, in order.
    void AppendChildText(std::string& out) const;

private:
    friend class TXmlDNodeList;

    TXmlDNodeType nodeType_;
    std::string nodeName_;
    std::string prefix_;
    std::string localName_;
    TRef<TXmlDNodeList> childNodes_;
    TRef<TXmlDNamedNodeMap> attributes_;
    TXmlDNode* parentNode_ = nullptr;
    TXmlDNode* previousSibling_ = nullptr;
    TXmlDNode* nextSibling_ = nullptr;
};

// The ordered list of nodes owned by one node (its children or attributes).
// A linking list keeps its items' parent and sibling links and refuses items
// that already have a parent.
class TXmlDNodeList : public TRefObject {
public:
    TXmlDNodeList(TXmlDNode* owner, bool linksItems);
    // Releases the items, last to first.
    ~TXmlDNodeList() override;

    // The node that owns the list.
    TXmlDNode* Owner() const { return owner_; }
    // Whether the list keeps its items' parent and sibling links.
    bool LinksItems() const { return linksItems_; }
    // The number of items.
    int Count() const { return items_.Count(); }
    // The node at `index`; raises "List index out of bounds (%d)".
    TXmlDNode* ItemAt(int index) const;
    // The position of `node`, or -1.
    int IndexOf(const TXmlDNode* node) const;
    // Inserts `node` at `index` (-1: the end) and returns the index used.
    // Raises "XML: Нельзя добавлять узел в два списка" when it has a parent
    // (and "XML: Не задан узел" when it is null).
    int Insert(TXmlDNode* node, int index);
    // Removes the item at `index`; it is destroyed unless held elsewhere.
    void Delete(int index);
    // Puts `node` in place of the item at `index`, releasing the old one.
    // Raises "XML: Нельзя добавлять подузел в два списка" when it has a parent.
    void Replace(TXmlDNode* node, int index);
    // Removes all items, last to first, unlinking and releasing each.
    void Clear();

private:
    void Unlink(TXmlDNode* node);

    TXmlDNode* owner_;
    bool linksItems_;
    TRefObjectList items_;
};

// A node list looked up by name (an element's attributes).
class TXmlDNamedNodeMap : public TXmlDNodeList {
public:
    using TXmlDNodeList::TXmlDNodeList;

    // The first item whose NodeName equals `name` byte for byte, or null;
    // `index` (if given) receives its position or -1.
    TXmlDNode* FindNamedItem(std::string_view name, int* index = nullptr) const;
    // Replaces the item of the node's NodeName in place, or appends the node;
    // returns its index.
    int SetNamedItem(TXmlDNode* node);
};

// The document: holds elements (the first is the document element).
class TXmlDDocument : public TXmlDNode {
public:
    TXmlDDocument();

    // The first child that is an element, or null.
    TXmlDElement* DocumentElement() const;
    // Writes the markup of all children to `stream`; raises "Stream write
    // error" when the stream takes fewer bytes than given. Does not flush or close it.
    void SaveToStream(TStream& stream) const;
    // Creates (or truncates) the file, writes the markup and closes it, also on
    // error. Raises `Cannot create file "%s". %s` or "Stream write error".
    void SaveToFile(const std::filesystem::path& path) const;

    std::string GetNodeName() const override;        // "#document"
    std::string GetNodeValue() const override;       // empty
    void SetNodeValue(std::string value) override;   // raises
    std::string GetText() const override;
    void SetText(std::string text) override;         // raises
    TXmlDNode* CloneNode() const override;           // a new empty document
    void WriteXml(TXmlWriter& out) const override;
};

// An element: a tag name, attributes and children.
class TXmlDElement : public TXmlDNode {
public:
    explicit TXmlDElement(std::string tagName);

    // The tag name as given.
    const std::string& TagName() const { return tagName_; }
    // Sets the tag name and updates NodeName, Prefix and LocalName.
    void SetTagName(std::string name);
    // Puts `attribute` in place of the attribute of the same name, or appends
    // it; returns its index. Raises when it already belongs to an element.
    int SetAttributeNode(TXmlDAttribute* attribute);

    std::string GetNodeName() const override;        // TagName
    std::string GetNodeValue() const override;       // empty
    void SetNodeValue(std::string value) override;   // raises
    std::string GetText() const override;
    void SetText(std::string text) override;
    TXmlDNode* CloneNode() const override;           // same tag name only
    void WriteXml(TXmlWriter& out) const override;

private:
    std::string tagName_;
};

// An attribute: a name and a value (empty when created).
class TXmlDAttribute : public TXmlDNode {
public:
    explicit TXmlDAttribute(std::string name);

    // The name as given.
    const std::string& Name() const { return name_; }
    // Sets the name and updates NodeName, Prefix and LocalName.
    void SetName(std::string name);
    // The value.
    const std::string& Value() const { return value_; }
    // Sets the value.
    void SetValue(std::string value) { value_ = std::move(value); }

    std::string GetNodeName() const override;        // Name
    std::string GetNodeValue() const override;       // Value
    void SetNodeValue(std::string value) override;   // sets Value
    std::string GetText() const override;            // Value
    void SetText(std::string text) override;         // sets Value
    TXmlDNode* CloneNode() const override;           // same Name and Value
    void WriteXml(TXmlWriter& out) const override;   // name="escaped value"

private:
    std::string name_;
    std::string value_;
};

// A node holding character data.
class TXmlDCharacterData : public TXmlDNode {
public:
    // The data.
    const std::string& Data() const { return data_; }
    // Sets the data.
    void SetData(std::string data) { data_ = std::move(data); }

    std::string GetNodeValue() const override;       // Data
    void SetNodeValue(std::string value) override;   // sets Data
    std::string GetText() const override;            // Data
    void SetText(std::string text) override;         // sets Data

protected:
    TXmlDCharacterData(TXmlDNodeType type, std::string data);

private:
    std::string data_;
};

// A text node.
class TXmlDText : public TXmlDCharacterData {
public:
    explicit TXmlDText(std::string data);

    std::string GetNodeName() const override;        // "#text"
    TXmlDNode* CloneNode() const override;           // same Data
    void WriteXml(TXmlWriter& out) const override;   // escaped Data
};

}  // namespace xml
