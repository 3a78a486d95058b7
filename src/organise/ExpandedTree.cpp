#include "organise/ExpandedTree.h"

namespace kivo::organise {

void loadEverything(BrowserTree& tree)
{
    const GroupCacheData* state = tree.current();
    if (!state)
        return;
    std::vector<NodeId> folders;
    for (const auto& root : state->rootNodes)
        folders.push_back(root.id);
    while (!folders.empty()) {
        const NodeId id = folders.back();
        folders.pop_back();
        if (state->isLoaded(id) || !tree.loadChildren(id))
            continue;
        for (const auto& child : *tree.children(id))
            if (child.isDirectory)
                folders.push_back(child.id);
    }
}

namespace {

void appendRows(const BrowserTree& tree, HiddenRowPass& pass, std::vector<ShownNode> rows, int depth,
    int maxDepth, std::vector<TreeLine>& out)
{
    for (auto& row : rows) {
        const bool open = row.node.isDirectory && (maxDepth <= 0 || depth + 1 < maxDepth);
        const NodeId id = row.node.id;
        out.push_back({ depth, std::move(row) });
        if (open)
            appendRows(tree, pass, tree.visibleChildren(id, pass), depth + 1, maxDepth, out);
    }
}

} // namespace

std::vector<TreeLine> expandedRows(const BrowserTree& tree, int maxDepth)
{
    std::vector<TreeLine> out;
    HiddenRowPass pass = tree.rowPass();
    appendRows(tree, pass, tree.visibleRoots(pass), 0, maxDepth, out);
    return out;
}

std::string markText(const RowMarks& marks)
{
    std::string text;
    auto add = [&text](const char* mark) {
        if (!text.empty())
            text += '\t';
        text += mark;
    };
    if (marks.hidden)
        add("hidden");
    if (marks.skipped)
        add("skipped");
    if (marks.autoSkipped)
        add("auto-skipped");
    return text;
}

} // namespace kivo::organise
