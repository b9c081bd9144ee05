#include "SimTree.h"

#include <stdexcept>

namespace {

char16_t FoldCase(char16_t c)
{
    if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
    if (c >= 0x0410 && c <= 0x042F) return static_cast<char16_t>(c + 0x20);  // А-Я
    if (c == 0x0401) return 0x0451;                                          // Ё
    return c;
}

bool StartsWithFolded(const std::u16string& name, const std::u16string& prefix)
{
    if (prefix.size() > name.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (FoldCase(name[i]) != FoldCase(prefix[i])) return false;
    return true;
}

void AddVisible(const TSimNode& node, int depth, std::vector<std::pair<const TSimNode*, int>>& rows)
{
    rows.emplace_back(&node, depth);
    if (!node.Expanded) return;
    for (const auto& child : node.Children) AddVisible(*child, depth + 1, rows);
}

}  // namespace

std::u16string Utf8ToU16(const std::string& s)
{
    std::u16string out;
    size_t i = 0;
    while (i < s.size()) {
        unsigned char b = static_cast<unsigned char>(s[i]);
        int extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
        if (extra < 0 || i + extra >= s.size()) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        char32_t cp = extra == 0 ? b : (b & (0x3F >> extra));
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            unsigned char c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80) { ok = false; break; }
            cp = (cp << 6) | (c & 0x3F);
        }
        if (!ok) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        i += extra + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::string U16ToUtf8(const std::u16string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t cp = s[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

TSimTree TSimTree::Parse(const std::string& utf8Text)
{
    TSimTree tree;
    std::vector<TSimNode*> stack;  // stack[d] is the last node seen at depth d
    size_t pos = 0;
    int lineNo = 0;
    if (utf8Text.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
    while (pos < utf8Text.size()) {
        size_t end = utf8Text.find('\n', pos);
        if (end == std::string::npos) end = utf8Text.size();
        std::string line = utf8Text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t indent = 0;
        int depth = 0;
        while (indent < line.size()) {
            if (line[indent] == '\t') {
                ++depth;
                ++indent;
            } else if (line.compare(indent, 2, "  ") == 0) {
                ++depth;
                indent += 2;
            } else {
                break;
            }
        }
        std::string name = line.substr(indent);
        while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.pop_back();
        if (name.empty() || name[0] == '#') continue;
        auto node = std::make_unique<TSimNode>();
        node->Name = Utf8ToU16(name);
        TSimNode* raw = node.get();
        if (!tree.root_) {
            if (depth != 0) throw std::runtime_error("line " + std::to_string(lineNo) + ": the root must not be indented");
            tree.root_ = std::move(node);
        } else {
            if (depth < 1 || depth > static_cast<int>(stack.size()))
                throw std::runtime_error("line " + std::to_string(lineNo) + ": indentation skips a level or repeats the root");
            raw->Parent = stack[depth - 1];
            raw->Parent->Children.push_back(std::move(node));
        }
        stack.resize(depth);
        stack.push_back(raw);
    }
    if (!tree.root_) throw std::runtime_error("the configuration text holds no node");
    tree.selected_ = tree.root_.get();
    return tree;
}

void TSimTree::Left()
{
    typed_.clear();
    if (!selected_->Parent) return;
    selected_ = selected_->Parent;
    selected_->Expanded = false;
}

void TSimTree::Right()
{
    typed_.clear();
    if (selected_->Children.empty()) return;
    selected_->Expanded = true;
    selected_ = selected_->Children.front().get();
}

bool TSimTree::Char(char16_t c)
{
    typed_ += c;
    if (!selected_->Parent) return StartsWithFolded(selected_->Name, typed_);
    for (const auto& sibling : selected_->Parent->Children) {
        if (StartsWithFolded(sibling->Name, typed_)) {
            selected_ = sibling.get();
            return true;
        }
    }
    return false;
}

std::u16string TSimTree::SelectedPath() const
{
    std::u16string path;
    for (const TSimNode* n = selected_; n->Parent; n = n->Parent)
        path = path.empty() ? n->Name : n->Name + u'.' + path;
    return path;
}

std::vector<std::pair<const TSimNode*, int>> TSimTree::VisibleRows() const
{
    std::vector<std::pair<const TSimNode*, int>> rows;
    AddVisible(*root_, 0, rows);
    return rows;
}
