#include "organise/HiddenRows.h"

#include <algorithm>
#include <optional>

namespace kivo::organise {

namespace {

// The folder above `path`: "/A/b" gives "/A", "/A" gives "/", "/" and "" give nothing.
std::optional<std::string_view> parentOf(std::string_view path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos || path.size() <= 1)
        return std::nullopt;
    return slash == 0 ? std::string_view("/") : path.substr(0, slash);
}

} // namespace

HiddenSets::HiddenSets(HiddenPathSet hidden, HiddenPathSet skipped, HiddenPathSet exempt)
    : m_hidden(std::move(hidden))
    , m_skipped(std::move(skipped))
    , m_exempt(std::move(exempt))
{
    for (const auto* set : { &m_hidden, &m_skipped }) {
        for (const auto& path : *set) {
            // Stops at the first folder already recorded: everything above it is recorded too.
            for (auto up = parentOf(path); up && m_markedAncestors.emplace(*up).second; up = parentOf(*up)) {
            }
        }
    }
}

bool HiddenSets::containsHiddenOrSkipped(std::string_view folderPath) const
{
    if (folderPath.size() > 1 && folderPath.ends_with('/'))
        folderPath.remove_suffix(1);
    return !m_markedAncestors.empty() && m_markedAncestors.contains(folderPath);
}

bool HiddenSets::isHiddenOrBelowHidden(std::string_view path) const
{
    if (m_hidden.empty())
        return false;
    for (std::optional<std::string_view> at = path; at; at = parentOf(*at))
        if (m_hidden.contains(*at))
            return true;
    return false;
}

bool HiddenView::isFilteredOut(const std::string& path) const
{
    if (showOnlyHidden)
        return !sets->isHidden(path);
    if (hideMode)
        return false;
    return sets->isHidden(path) && !missing(path);
}

bool HiddenView::keepsResult(const std::string& path) const
{
    if (showOnlyHidden)
        return sets->isHiddenOrBelowHidden(path);
    if (hideMode)
        return true;
    return !sets->isHiddenOrBelowHidden(path) || missing(path);
}

HiddenRowPass::HiddenRowPass(const HiddenView& view, LoadedChildren children)
    : m_view(view)
    , m_children(std::move(children))
{
}

void HiddenRowPass::wantLoad(const LightweightNode& folder)
{
    if (m_wanted.insert(folder.path).second)
        m_unloaded.push_back(folder);
}

RowMarks HiddenRowPass::marksOf(const LightweightNode& node) const
{
    const HiddenSets& sets = *m_view.sets;
    RowMarks marks;
    marks.missing = m_view.missing(node.path);
    marks.hidden = sets.isHidden(node.path);
    if (node.isDirectory) {
        marks.skipped = sets.isSkipped(node.path);
        marks.autoSkipped = m_autoSkipped.contains(node.path);
        marks.exempt = sets.isExempt(node.path);
        marks.containsHiddenOrSkipped = sets.containsHiddenOrSkipped(node.path);
    }
    return marks;
}

std::vector<ShownNode> HiddenRowPass::rows(const std::vector<LightweightNode>& children, bool isRootList)
{
    std::vector<ShownNode> shown;
    if (m_view.hideMode || m_view.showOnlyHidden) {
        // Every row stays where it is, marked; the automatic rule is worked out as it would be
        // outside hide mode, so the rows it would skip can say so.
        if (m_view.skipNestedSubfolders) {
            HiddenView normal = m_view;
            normal.hideMode = normal.showOnlyHidden = false;
            HiddenRowPass outside(normal, m_children);
            outside.rows(children, isRootList);
            for (const auto path : outside.m_autoSkipped)
                m_autoSkipped.insert(path);
            for (const auto& folder : outside.m_unloaded)
                wantLoad(folder);
        }
        shown.reserve(children.size());
        for (const auto& child : children)
            if (m_view.missing(child.path) || !m_view.isFilteredOut(child.path))
                shown.push_back({ child, marksOf(child) });
        return shown;
    }
    std::vector<Placed> placed;
    placed.reserve(children.size());
    place(children, isRootList, placed);
    autoSkip(placed);
    shown.reserve(placed.size());
    for (const auto& p : placed)
        shown.push_back({ *p.node, marksOf(*p.node) });
    return shown;
}

bool HiddenRowPass::visit(const std::string& path)
{
    if (!m_visited.insert(path).second)
        return false;
    m_trail.push_back(path);
    return true;
}

void HiddenRowPass::place(
    const std::vector<LightweightNode>& children, bool isRootList, std::vector<Placed>& out)
{
    const HiddenSets& sets = *m_view.sets;
    for (const auto& child : children) {
        if (m_view.missing(child.path)) {
            out.push_back({ &child, isRootList });
            continue;
        }
        if (m_view.isFilteredOut(child.path))
            continue;
        if (!child.isDirectory || !sets.isSkipped(child.path)) {
            out.push_back({ &child, isRootList });
            continue;
        }
        // A skipped folder: its own rows in its place, until its contents are known none.
        if (!visit(child.path))
            continue;
        const auto* inner = m_children(child);
        if (!inner) {
            wantLoad(child);
            continue;
        }
        place(*inner, false, out);
    }
}

void HiddenRowPass::autoSkip(std::vector<Placed>& out)
{
    if (!m_view.skipNestedSubfolders)
        return;
    const HiddenSets& sets = *m_view.sets;
    while (out.size() == 1) {
        const LightweightNode& folder = *out.front().node;
        if (!folder.isDirectory || out.front().isRoot || m_view.missing(folder.path)
            || sets.isSkipped(folder.path) || sets.isExempt(folder.path) || m_visited.contains(folder.path))
            return;
        const auto* inner = m_children(folder);
        if (!inner) {
            // Not skipped until its contents are known.
            wantLoad(folder);
            return;
        }
        // A trial: when the folder stays, the folders its rows expanded are expanded again where
        // the folder's own list is shown.
        const std::size_t trail = m_trail.size();
        visit(folder.path);
        std::vector<Placed> rows;
        place(*inner, false, rows);
        const bool foldersOnly = !rows.empty()
            && std::all_of(rows.begin(), rows.end(), [](const Placed& p) { return p.node->isDirectory; });
        if (!foldersOnly) {
            for (std::size_t i = trail; i < m_trail.size(); ++i)
                m_visited.erase(m_trail[i]);
            m_trail.resize(trail);
            return;
        }
        m_autoSkipped.insert(folder.path);
        out = std::move(rows);
    }
}

} // namespace kivo::organise
