#pragma once

// Which rows the browser drops, which folders it replaces by their contents and what marks the rest
// carry, from the user's hidden, skipped and exempt paths. Pure, no Qt: the window and the
// command-line tree both decide through here, and background searches take a HiddenView by value.

#include "index/PathKeyed.h"
#include "organise/LightweightNode.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace kivo::organise {

using HiddenPathSet = index::PathKeyedSet;

// The three path sets as one immutable value, with what rows ask of them worked out once.
class HiddenSets {
public:
    HiddenSets() = default;
    HiddenSets(HiddenPathSet hidden, HiddenPathSet skipped, HiddenPathSet exempt);

    const HiddenPathSet& hiddenPaths() const { return m_hidden; }
    const HiddenPathSet& skippedPaths() const { return m_skipped; }
    const HiddenPathSet& nestedSkipExemptPaths() const { return m_exempt; }
    bool isHidden(const std::string& path) const { return m_hidden.contains(path); }
    bool isSkipped(const std::string& path) const { return m_skipped.contains(path); }
    bool isExempt(const std::string& path) const { return m_exempt.contains(path); }
    // Some hidden or skipped path lies strictly below `folderPath` (a trailing "/" is allowed).
    bool containsHiddenOrSkipped(std::string_view folderPath) const;
    // The path or a folder above it is hidden.
    bool isHiddenOrBelowHidden(std::string_view path) const;
    bool empty() const { return m_hidden.empty() && m_skipped.empty(); }

private:
    HiddenPathSet m_hidden, m_skipped, m_exempt;
    // Every folder that has a hidden or skipped path below it: one lookup per row instead of a
    // scan of the sets.
    HiddenPathSet m_markedAncestors;
};

using PathCheck = std::function<bool(const std::string& path)>;

// The marks and the modes as one pass sees them.
struct HiddenView {
    std::shared_ptr<const HiddenSets> sets = std::make_shared<const HiddenSets>();
    bool hideMode = false;
    bool showOnlyHidden = false;
    bool skipNestedSubfolders = false;
    PathCheck isMissing; // none: nothing is missing

    bool missing(const std::string& path) const { return isMissing && isMissing(path); }
    // The row is not shown: in show-only-hidden mode unless hidden; in hide mode never; otherwise
    // when hidden and not reported missing.
    bool isFilteredOut(const std::string& path) const;
    // A result of the search stays in the list. This extends the tree's row rule to the result
    // list, where there are no folder rows to drop: a file inside a hidden folder counts as hidden.
    bool keepsResult(const std::string& path) const;
};

struct RowMarks {
    bool missing = false;
    bool hidden = false;
    bool skipped = false;
    bool autoSkipped = false; // skipped by "Auto-skip nested subfolders" (in hide mode: would be)
    bool exempt = false; // kept from the automatic skip by the user
    bool containsHiddenOrSkipped = false;
};

struct ShownNode {
    LightweightNode node;
    RowMarks marks;
};

// A folder's loaded children in sibling order, or null while they are not loaded.
using LoadedChildren = std::function<const std::vector<LightweightNode>*(const LightweightNode& folder)>;

// One pass over a tree: the rows shown for each list it is asked about, each folder expanded at most
// once, so a list of paths that leads back to itself still ends.
class HiddenRowPass {
public:
    HiddenRowPass(const HiddenView& view, LoadedChildren children);

    // The rows shown for `children`: the collection's root rows when `isRootList`, otherwise one
    // folder's loaded children. Hidden rows dropped and skipped folders flattened outside hide mode,
    // every row marked in it.
    std::vector<ShownNode> rows(const std::vector<LightweightNode>& children, bool isRootList);
    // Folders the pass needed the contents of but found unloaded; loading them and passing again
    // shows what the skips put in their place.
    const std::vector<LightweightNode>& unloaded() const { return m_unloaded; }

private:
    struct Placed {
        const LightweightNode* node;
        bool isRoot;
    };
    // The rows of a list outside hide mode, before any automatic skip of the list as a whole.
    void place(const std::vector<LightweightNode>& children, bool isRootList, std::vector<Placed>& out);
    // The list's rows with the automatic rule applied to a single folder row, repeatedly.
    void autoSkip(std::vector<Placed>& out);
    RowMarks marksOf(const LightweightNode& node) const;
    void wantLoad(const LightweightNode& folder);
    // Records a folder as expanded in this pass; false when it was already.
    bool visit(const std::string& path);

    const HiddenView& m_view;
    LoadedChildren m_children;
    std::unordered_set<std::string_view> m_visited;
    std::vector<std::string_view> m_trail; // m_visited in the order of visits, to undo a trial
    std::unordered_set<std::string_view> m_autoSkipped;
    std::unordered_set<std::string_view> m_wanted;
    std::vector<LightweightNode> m_unloaded;
};

} // namespace kivo::organise
