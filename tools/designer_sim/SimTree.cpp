#include "SimTree.h"

#include <stdexcept>

#include "text/Codepage.h"

namespace {

bool StartsWithFolded(const std::u16string& name, const std::u16string& prefix) {
    if (prefix.size() > name.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (text::FoldCase(name[i]) != text::FoldCase(prefix[i])) return false;
    return true;
}

void AddVisible(const TSimNode& node, int depth, std::vector<std::pair<const TSimNode*, int>>& rows) {
    rows.emplace_back(&node, depth);
    if (!node.Expanded) return;
    for (const auto& child : node.Children) AddVisible(*child, depth + 1, rows);
}

}  // namespace

TSimTree TSimTree::Parse(const std::string& utf8Text) {
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
        node->Name = text::Utf8ToUtf16(name);
        TSimNode* raw = node.get();
        if (!tree.root_) {
            if (depth != 0)
                throw std::runtime_error("line " + std::to_string(lineNo) + ": the root must not be indented");
            tree.root_ = std::move(node);
        } else {
            if (depth < 1 || depth > static_cast<int>(stack.size()))
                throw std::runtime_error("line " + std::to_string(lineNo) +
                                         ": indentation skips a level or repeats the root");
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

void TSimTree::Left() {
    typed_.clear();
    if (!selected_->Parent) return;
    selected_ = selected_->Parent;
    selected_->Expanded = false;
}

void TSimTree::Right() {
    typed_.clear();
    if (selected_->Children.empty()) return;
    selected_->Expanded = true;
    selected_ = selected_->Children.front().get();
}

bool TSimTree::Char(char16_t c) {
    if (c < 32) {
        typed_.clear();
        return false;
    }
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

bool TSimTree::SelectRow(size_t row) {
    auto rows = VisibleRows();
    if (row >= rows.size()) return false;
    selected_ = const_cast<TSimNode*>(rows[row].first);
    typed_.clear();
    return true;
}

std::u16string TSimTree::SelectedPath() const {
    std::u16string path;
    for (const TSimNode* n = selected_; n->Parent; n = n->Parent) path = path.empty() ? n->Name : n->Name + u'.' + path;
    return path;
}

std::vector<std::pair<const TSimNode*, int>> TSimTree::VisibleRows() const {
    std::vector<std::pair<const TSimNode*, int>> rows;
    AddVisible(*root_, 0, rows);
    return rows;
}

std::optional<std::vector<size_t>> RowsToRepaint(const TSimTree::TView& before, const TSimTree::TView& after) {
    if (after.Rows != before.Rows) return std::nullopt;
    std::vector<size_t> rows;
    if (after.Selected == before.Selected) return rows;
    for (size_t i = 0; i < after.Rows.size(); ++i)
        if (after.Rows[i].first == before.Selected || after.Rows[i].first == after.Selected) rows.push_back(i);
    return rows;
}
