// The configuration tree of the Designer simulator: loading, keyboard
// navigation and incremental search, kept free of Win32 so it can be tested
// natively.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct TSimNode {
    std::u16string Name;
    TSimNode* Parent = nullptr;
    std::vector<std::unique_ptr<TSimNode>> Children;
    bool Expanded = false;
};

class TSimTree {
public:
    // Parses an indented UTF-8 text: the first line is the root, every two
    // blanks or one tab of indentation is one level; '#' lines and blank lines
    // are skipped. Throws std::runtime_error naming the line on a level jump.
    static TSimTree Parse(const std::string& utf8Text);

    // Moves to the parent and collapses it; at the root nothing moves.
    void Left();
    // Opens the selected node and moves to its first child; on a leaf nothing moves.
    void Right();
    // Adds c to the text typed since the last move and selects the first node
    // of the current level whose name begins with that text, ignoring case;
    // returns false (selection kept) when no node matches. A control code
    // (below 32) is no character of a name: it only ends the typed text, so
    // the next character starts a new search.
    bool Char(char16_t c);
    // Any other key: ends the typed text, the selection stays.
    void OtherKey() { typed_.clear(); }

    // Selects the row-th of VisibleRows() (a mouse click); false, and nothing
    // changes, past the last row.
    bool SelectRow(size_t row);

    const TSimNode& Root() const { return *root_; }
    const TSimNode& Selected() const { return *selected_; }
    // The names from the first level under the root down to the selection,
    // joined by '.'; empty when the root is selected.
    std::u16string SelectedPath() const;
    // The rows a person sees: every node whose ancestors are all expanded,
    // in display order, with its depth (root 0).
    std::vector<std::pair<const TSimNode*, int>> VisibleRows() const;

    // What a view of the tree shows: its rows and the selected node.
    struct TView {
        std::vector<std::pair<const TSimNode*, int>> Rows;
        const TSimNode* Selected = nullptr;
    };
    TView View() const { return {VisibleRows(), selected_}; }

private:
    std::unique_ptr<TSimNode> root_;
    TSimNode* selected_ = nullptr;
    std::u16string typed_;
};

// The rows to draw again after a change from `before` to `after`: none when
// neither changed, the rows of the old and the new selection when only the
// selection moved, and every row (nothing returned) when the rows shown
// changed (a node opened or closed).
std::optional<std::vector<size_t>> RowsToRepaint(const TSimTree::TView& before, const TSimTree::TView& after);
