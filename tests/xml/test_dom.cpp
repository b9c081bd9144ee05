#include <gtest/gtest.h>

#include "XmlTestUtil.h"
#include "text/Literal.h"

using namespace text::literals;
using namespace xml;
using xmltest::Add;
using xmltest::ErrorOf;
using xmltest::SetAttr;

namespace {

// Every test must leave no node alive: the live-node count before the test
// is compared with the count after it.
class DomTest : public ::testing::Test {
protected:
    void SetUp() override { baseline_ = TXmlDNode::LiveCount(); }
    void TearDown() override { EXPECT_EQ(TXmlDNode::LiveCount(), baseline_) << "nodes leaked"; }
    long Live() const { return TXmlDNode::LiveCount() - baseline_; }
    long baseline_ = 0;
};

// The children's names in list order, "A,B"; "broken" when any parent,
// sibling or index link disagrees with the list.
std::string Children(const TXmlDNode* parent) {
    std::string names;
    const TXmlDNode* prev = nullptr;
    int i = 0;
    for (const TXmlDNode* c = parent->FirstChild(); c; prev = c, c = c->NextSibling(), ++i) {
        if (c->ParentNode() != parent || c->PreviousSibling() != prev || parent->ChildNodes()->ItemAt(i) != c)
            return "broken";
        names += (i ? "," : "") + c->NodeName();
    }
    if (i != parent->ChildNodes()->Count() || parent->LastChild() != prev) return "broken";
    return names;
}

bool Detached(const TXmlDNode* n) {
    return !n->ParentNode() && !n->PreviousSibling() && !n->NextSibling();
}

std::string Msg(std::string_view cp1251) { return std::string(cp1251); }

}  // namespace

TEST_F(DomTest, KindRulesRaiseTheirMessagesAndChangeNothing) {
    TRef<TXmlDDocument> doc(new TXmlDDocument());
    TXmlDElement* root = Add(doc.get(), "root");
    TXmlDElement* child = Add(root, "child");
    TRef<TXmlDText> text(new TXmlDText("t"));
    TRef<TXmlDAttribute> attr(new TXmlDAttribute("a"));

    EXPECT_EQ(ErrorOf([&] { doc->AppendChild(text.get()); }),
              Msg("XML: узел \"document\" не может содержать подузел \"text\""_cp1251));
    EXPECT_EQ(ErrorOf([&] { attr->AppendChild(child); }),
              Msg("XML: узел \"attribute\" не может содержать подузлы"_cp1251));
    EXPECT_EQ(ErrorOf([&] { text->InsertChild(child, 0); }), Msg("XML: узел \"text\" не может содержать подузлы"_cp1251));
    TRef<TXmlDDocument> other(new TXmlDDocument());
    EXPECT_EQ(ErrorOf([&] { root->AppendChild(other.get()); }),
              Msg("XML: узел \"element\" не может содержать подузел \"document\""_cp1251));
    EXPECT_EQ(ErrorOf([&] { root->AppendChild(attr.get()); }),
              Msg("XML: узел \"element\" не может содержать подузел \"attribute\""_cp1251));

    EXPECT_EQ(ErrorOf([&] { root->AppendChild(nullptr); }), Msg("XML: Не задан узел"_cp1251));
    EXPECT_EQ(ErrorOf([&] { root->SetAttributeNode(nullptr); }), Msg("XML: Не задан узел"_cp1251));

    EXPECT_EQ(Children(doc.get()), "root");
    EXPECT_EQ(Children(root), "child");
    EXPECT_TRUE(Detached(text.get()));
    EXPECT_EQ(text->RefCount(), 1);
}

TEST_F(DomTest, ValueAndTextOfDocumentAndElementCannotBeSet) {
    TRef<TXmlDDocument> doc(new TXmlDDocument());
    TXmlDElement* e = Add(doc.get(), "e");
    EXPECT_EQ(ErrorOf([&] { doc->SetNodeValue("v"); }), Msg("XML: Нельзя изменять значение узла \"document\""_cp1251));
    EXPECT_EQ(ErrorOf([&] { e->SetNodeValue("v"); }), Msg("XML: Нельзя изменять значение узла \"element\""_cp1251));
    EXPECT_EQ(ErrorOf([&] { doc->SetText("v"); }), Msg("XML: Нельзя изменять текст узла \"document\""_cp1251));
    EXPECT_EQ(Children(doc.get()), "e");
    EXPECT_FALSE(e->HasChildNodes());
}

TEST_F(DomTest, DocumentElementIsTheFirstElementChild) {
    TRef<TXmlDDocument> doc(new TXmlDDocument());
    EXPECT_EQ(doc->DocumentElement(), nullptr);
    TXmlDElement* first = Add(doc.get(), "first");
    Add(doc.get(), "second");
    EXPECT_EQ(doc->DocumentElement(), first);
    EXPECT_EQ(Children(doc.get()), "first,second");
}

TEST_F(DomTest, ListsCountReferencesAndReleasingTheDocumentFreesTheTree) {
    TRef<TXmlDDocument> doc(new TXmlDDocument());
    auto* root = new TXmlDElement("root");
    EXPECT_EQ(root->RefCount(), 0);
    EXPECT_TRUE(Detached(root));
    doc->AppendChild(root);
    EXPECT_EQ(root->RefCount(), 1);
    EXPECT_EQ(root->ParentNode(), doc.get());
    SetAttr(root, "copyright", "c");
    TXmlDElement* kept = Add(Add(root, "a"), "kept");
    Add(root, "b")->SetText("text");
    TRef<TXmlDElement> outside(kept);
    EXPECT_EQ(kept->RefCount(), 2);
    EXPECT_EQ(Live(), 7);

    doc.reset();
    EXPECT_EQ(Live(), 1) << "only the node held outside survives";
    EXPECT_TRUE(Detached(kept));
    EXPECT_EQ(kept->RefCount(), 1);
}

TEST_F(DomTest, MovesKeepNodesAliveAndLinksRight) {
    TRef<TXmlDElement> p(new TXmlDElement("p"));
    TXmlDElement* a = Add(p.get(), "A");
    Add(p.get(), "B");
    TXmlDElement* c = Add(p.get(), "C");

    EXPECT_EQ(p->AppendChild(a), 2);
    EXPECT_EQ(Children(p.get()), "B,C,A");
    EXPECT_EQ(p->InsertChild(c, 0), 0);
    EXPECT_EQ(Children(p.get()), "C,B,A");
    EXPECT_EQ(p->InsertChild(c, 2), 2) << "index counted after the node left its place";
    EXPECT_EQ(Children(p.get()), "B,A,C");

    // The old parent's list holds a's only reference; the move must not destroy it.
    TRef<TXmlDElement> q(new TXmlDElement("q"));
    Add(q.get(), "X");
    const long live = Live();
    EXPECT_EQ(a->RefCount(), 1);
    EXPECT_EQ(q->InsertChild(a, 0), 0);
    EXPECT_EQ(Live(), live);
    EXPECT_EQ(a->RefCount(), 1);
    EXPECT_EQ(Children(q.get()), "A,X");
    EXPECT_EQ(Children(p.get()), "B,C");
}

TEST_F(DomTest, RemovalsUnlinkAndFreeWhatNothingElseHolds) {
    TRef<TXmlDElement> p(new TXmlDElement("p"));
    Add(p.get(), "A");
    TXmlDElement* b = Add(p.get(), "B");
    Add(p.get(), "C");
    TRef<TXmlDElement> stranger(new TXmlDElement("S"));

    EXPECT_EQ(ErrorOf([&] { p->RemoveChild(stranger.get()); }), Msg("XML: Не найден подузел для удаления"_cp1251));
    EXPECT_EQ(ErrorOf([&] { p->RemoveChild(nullptr); }), Msg("XML: Не найден подузел для удаления"_cp1251));
    EXPECT_EQ(Children(p.get()), "A,B,C");

    const long live = Live();
    EXPECT_EQ(p->RemoveChild(b), 1);
    EXPECT_EQ(Live(), live - 1);
    EXPECT_EQ(Children(p.get()), "A,C");

    TRef<TXmlDNode> held(p->LastChild());
    p->ClearChildren();
    EXPECT_FALSE(p->HasChildNodes());
    EXPECT_TRUE(Detached(held.get()));
    stranger->AppendChild(held.get());
    EXPECT_EQ(Children(stranger.get()), "C");
}

TEST_F(DomTest, BadIndexRaisesAndLeavesTheNodeWhereItWas) {
    TRef<TXmlDElement> p(new TXmlDElement("p"));
    TXmlDElement* a = Add(p.get(), "A");
    Add(p.get(), "B");
    TRef<TXmlDElement> q(new TXmlDElement("q"));
    TXmlDElement* x = Add(q.get(), "X");

    EXPECT_EQ(ErrorOf([&] { p->InsertChild(x, 5); }), "List index out of bounds (5)");
    EXPECT_EQ(ErrorOf([&] { p->InsertChild(x, -2); }), "List index out of bounds (-2)");
    EXPECT_EQ(ErrorOf([&] { p->InsertChild(a, 2); }), "List index out of bounds (2)");
    EXPECT_EQ(Children(p.get()), "A,B");
    EXPECT_EQ(Children(q.get()), "X");

    TRef<TXmlDElement> fresh(new TXmlDElement("F"));
    EXPECT_EQ(ErrorOf([&] { p->InsertChild(fresh.get(), 3); }), "List index out of bounds (3)");
    EXPECT_EQ(fresh->RefCount(), 1);
    EXPECT_EQ(ErrorOf([&] { p->ChildNodes()->ItemAt(2); }), "List index out of bounds (2)");
    EXPECT_EQ(ErrorOf([&] { p->ChildNodes()->Delete(-1); }), "List index out of bounds (-1)");
    EXPECT_EQ(Children(p.get()), "A,B");
}

TEST_F(DomTest, NodeCannotGoUnderItselfOrItsDescendant) {
    const std::string message = Msg("XML: Нельзя добавить узел в самого себя или в свой подузел"_cp1251);
    TRef<TXmlDDocument> doc(new TXmlDDocument());
    TXmlDElement* top = Add(doc.get(), "top");
    TXmlDElement* mid = Add(top, "mid");
    TXmlDElement* leaf = Add(mid, "leaf");

    EXPECT_EQ(ErrorOf([&] { top->AppendChild(top); }), message);
    EXPECT_EQ(ErrorOf([&] { mid->InsertChild(top, 0); }), message);
    EXPECT_EQ(ErrorOf([&] { leaf->AppendChild(top); }), message);
    EXPECT_EQ(Children(doc.get()), "top");
    EXPECT_EQ(Children(top), "mid");
    EXPECT_EQ(Children(mid), "leaf");
    // Moving a node to a place outside its own subtree still works.
    EXPECT_EQ(top->AppendChild(leaf), 1);
    EXPECT_EQ(Children(top), "mid,leaf");
}

TEST_F(DomTest, AttributesReplaceInPlaceAndBelongToOneElement) {
    TRef<TXmlDElement> e(new TXmlDElement("e"));
    TRef<TXmlDElement> f(new TXmlDElement("f"));
    auto* a = new TXmlDAttribute("a");
    EXPECT_EQ(e->SetAttributeNode(a), 0);
    EXPECT_EQ(e->SetAttributeNode(new TXmlDAttribute("b")), 1);
    EXPECT_EQ(e->SetAttributeNode(new TXmlDAttribute("c")), 2);
    EXPECT_EQ(e->SetAttributeNode(new TXmlDAttribute("B")), 3) << "names are case-sensitive";

    const long live = Live();
    auto* b2 = new TXmlDAttribute("b");
    b2->SetValue("new");
    EXPECT_EQ(e->SetAttributeNode(b2), 1);
    EXPECT_EQ(Live(), live) << "the replaced attribute is freed";
    EXPECT_EQ(e->Attributes()->ItemAt(1), b2);
    EXPECT_EQ(e->GetXml(), "<e a=\"\" b=\"new\" c=\"\" B=\"\"/>");
    int index = 0;
    EXPECT_EQ(e->Attributes()->FindNamedItem("c", &index), e->Attributes()->ItemAt(2));
    EXPECT_EQ(index, 2);
    EXPECT_EQ(e->Attributes()->FindNamedItem("d", &index), nullptr);
    EXPECT_EQ(index, -1);

    const std::string twoLists = Msg("XML: Нельзя добавлять узел в два списка"_cp1251);
    const std::string twoListsSub = Msg("XML: Нельзя добавлять подузел в два списка"_cp1251);
    EXPECT_EQ(ErrorOf([&] { f->SetAttributeNode(a); }), twoLists);
    SetAttr(f.get(), "a", "f's own");
    EXPECT_EQ(ErrorOf([&] { f->SetAttributeNode(a); }), twoListsSub);
    EXPECT_EQ(ErrorOf([&] { e->SetAttributeNode(a); }), twoListsSub);
    EXPECT_EQ(a->ParentNode(), e.get());
    EXPECT_EQ(f->GetXml(), "<f a=\"f&apos;s own\"/>");
    EXPECT_EQ(e->Attributes()->ItemAt(0), a);
}

TEST_F(DomTest, SetTextReplacesChildrenAndGetTextConcatenates) {
    TRef<TXmlDElement> e(new TXmlDElement("e"));
    SetAttr(e.get(), "k", "v");
    Add(Add(e.get(), "x"), "y");
    Add(e.get(), "z");
    e->SetText("abc");
    EXPECT_EQ(Live(), 3) << "element, attribute and the new text node";
    ASSERT_EQ(e->ChildNodes()->Count(), 1);
    EXPECT_EQ(e->FirstChild()->NodeType(), TXmlDNodeType::Text);
    EXPECT_EQ(static_cast<TXmlDText*>(e->FirstChild())->Data(), "abc");
    EXPECT_EQ(e->Attributes()->Count(), 1);
    EXPECT_EQ(e->GetText(), "abc");

    TRef<TXmlDDocument> doc(new TXmlDDocument());
    TXmlDElement* r = Add(doc.get(), "r");
    r->AppendChild(new TXmlDText("a"));
    Add(r, "inner")->SetText("b");
    r->AppendChild(new TXmlDText("c"));
    SetAttr(r, "ignored", "zzz");
    EXPECT_EQ(r->GetText(), "abc");
    EXPECT_EQ(doc->GetText(), "abc");

    const std::string withZero("a\0b", 3);
    r->SetText(withZero);
    EXPECT_EQ(r->GetText(), withZero);
    r->SetText("");
    EXPECT_TRUE(r->HasChildNodes());
    EXPECT_EQ(r->GetXml(), "<r ignored=\"zzz\"></r>");
}

TEST_F(DomTest, NamesSplitAtTheFirstColon) {
    const struct { const char* name; const char* prefix; const char* local; } cases[] = {
        {"x", "", "x"}, {"a:b", "a", "b"}, {"a:b:c", "a", "b:c"}, {":x", "", "x"},
    };
    for (const auto& c : cases) {
        TRef<TXmlDAttribute> a(new TXmlDAttribute(c.name));
        EXPECT_EQ(a->Prefix(), c.prefix) << c.name;
        EXPECT_EQ(a->LocalName(), c.local) << c.name;
    }
    TRef<TXmlDElement> e(new TXmlDElement("p:q"));
    e->SetTagName("plain");
    EXPECT_EQ(e->NodeName(), "plain");
    EXPECT_EQ(e->Prefix(), "");
    EXPECT_EQ(e->LocalName(), "plain");
    EXPECT_EQ(TRef<TXmlDDocument>(new TXmlDDocument())->NodeName(), "#document");
    EXPECT_EQ(TRef<TXmlDText>(new TXmlDText("d"))->NodeName(), "#text");
}

TEST_F(DomTest, CloneIsShallowAndDetached) {
    TRef<TXmlDElement> e(new TXmlDElement("e"));
    TXmlDAttribute* a = SetAttr(e.get(), "a", "v");
    e->SetText("t");
    TRef<TXmlDNode> copy(e->CloneNode());
    EXPECT_EQ(copy->GetXml(), "<e/>");
    EXPECT_EQ(copy->RefCount(), 1);
    TRef<TXmlDNode> attrCopy(a->CloneNode());
    EXPECT_TRUE(Detached(attrCopy.get()));
    EXPECT_EQ(attrCopy->GetXml(), "a=\"v\"");
    TRef<TXmlDNode> textCopy(e->FirstChild()->CloneNode());
    EXPECT_EQ(textCopy->GetNodeValue(), "t");
}
