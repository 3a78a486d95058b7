#include "app/LibraryTreeModel.h"

#include "app/HideToggleButton.h"

#include "music/BpmFromName.h"
#include "music/MusicalKey.h"

#include <algorithm>

namespace kivo::app {

std::string folderDisplayName(const std::string& path)
{
    return organise::folderNode(path).name;
}

namespace {

organise::FolderLoader recordingDurations(
    organise::FolderLoader loader, std::shared_ptr<std::unordered_map<std::string, double>> durations)
{
    return [loader = std::move(loader), durations](const std::string& path) {
        organise::FolderContents contents = loader ? loader(path) : organise::FolderContents {};
        for (const auto& file : contents.files)
            if (file.duration)
                (*durations)[file.path] = *file.duration;
        return contents;
    };
}

} // namespace

LibraryTreeModel::LibraryTreeModel(organise::FolderLoader loader, QObject* parent)
    : QAbstractItemModel(parent)
    , m_durations(std::make_shared<std::unordered_map<std::string, double>>())
    , m_tree(recordingDurations(std::move(loader), m_durations))
{
    m_root.loaded = true;
    m_root.row.isDirectory = true;
}

LibraryTreeModel::~LibraryTreeModel() = default;

std::unique_ptr<LibraryTreeModel::Node> LibraryTreeModel::makeNode(
    const organise::ShownNode& shown, Node* parent, int position) const
{
    const organise::LightweightNode& source = shown.node;
    auto node = std::make_unique<Node>();
    node->marks = shown.marks;
    node->id = source.id;
    node->row.path = source.path;
    node->row.name = m_tree.displayName(source);
    node->row.isDirectory = source.isDirectory;
    node->row.bpm = source.bpm;
    node->row.key = source.key;
    if (source.isDirectory) {
        // A folder's own tempo and key are the ones its name gives.
        const std::string_view name = std::string_view(source.path).substr(source.path.rfind('/') + 1);
        node->row.bpm = music::bpmFromName(name);
        if (const auto key = music::MusicalKey::fromName(name, music::LoneAccidental::accept))
            node->row.key = key->keyText();
    }
    if (!m_pass)
        m_pass.emplace(m_metadata.pass());
    resolveRow(node->row, *m_pass, m_metadata);
    if (!source.isDirectory) {
        const auto found = m_durations->find(source.path);
        if (found != m_durations->end())
            node->row.duration = found->second;
    }
    node->parent = parent;
    node->position = position;
    return node;
}

void LibraryTreeModel::fillChildren(Node* folder, organise::HiddenRowPass& pass) const
{
    folder->children.clear();
    folder->loaded = m_tree.children(folder->id) != nullptr;
    if (!folder->loaded)
        return;
    const auto children = m_tree.visibleChildren(folder->id, pass);
    for (int i = 0; i < int(children.size()); ++i) {
        auto child = makeNode(children[std::size_t(i)], folder, i);
        // Folders opened before show their loaded rows again; closed ones wait for fetchMore.
        if (child->row.isDirectory && m_tree.current()->isExpanded(child->id))
            fillChildren(child.get(), pass);
        folder->children.push_back(std::move(child));
    }
}

bool LibraryTreeModel::loadWanted(const organise::HiddenRowPass& pass)
{
    bool loaded = false;
    for (const auto& folder : pass.unloaded())
        loaded |= m_tree.loadChildren(folder.id) && m_tree.children(folder.id);
    return loaded;
}

void LibraryTreeModel::fillSettled(Node* folder)
{
    // Skipped folders show their contents in their place, so a list can need folders read that are
    // not open themselves; each round reads at least one more, so the rounds end.
    while (true) {
        organise::HiddenRowPass pass = m_tree.rowPass();
        fillChildren(folder, pass);
        if (!loadWanted(pass))
            return;
    }
}

void LibraryTreeModel::rebuild()
{
    m_pass.reset();
    std::vector<std::unique_ptr<Node>> rows;
    while (true) {
        rows.clear();
        organise::HiddenRowPass pass = m_tree.rowPass();
        const auto roots = m_tree.visibleRoots(pass);
        for (int i = 0; i < int(roots.size()); ++i) {
            auto node = makeNode(roots[std::size_t(i)], &m_root, i);
            if (node->row.isDirectory && m_tree.current()->isExpanded(node->id))
                fillChildren(node.get(), pass);
            rows.push_back(std::move(node));
        }
        if (!loadWanted(pass))
            break;
    }
    beginResetModel();
    m_root.children = std::move(rows);
    endResetModel();
}

void LibraryTreeModel::setHiddenView(organise::HiddenView view)
{
    m_hideMode = view.hideMode || view.showOnlyHidden;
    m_tree.setHiddenView(std::move(view));
    if (m_tree.current())
        rebuild();
}

void LibraryTreeModel::showCollection(const QString& collectionId, const std::vector<std::string>& rootPaths)
{
    m_tree.showCollection(collectionId.toStdString(), rootPaths);
    rebuild();
}

void LibraryTreeModel::setOptions(const organise::PresentationOptions& options)
{
    if (options == m_tree.options())
        return;
    m_tree.setOptions(options);
    if (m_tree.current())
        rebuild();
}

void LibraryTreeModel::reload()
{
    if (!m_tree.current())
        return;
    m_tree.reloadLoadedFolders();
    rebuild();
}

void LibraryTreeModel::setMetadata(RowMetadata metadata)
{
    m_metadata = std::move(metadata);
    m_tree.setBPMOverrides(m_metadata.sortOverrides());
    m_tree.resort();
    if (m_tree.current())
        rebuild();
}

QModelIndexList LibraryTreeModel::expandedIndexes() const
{
    QModelIndexList out;
    const organise::GroupCacheData* state = m_tree.current();
    if (!state)
        return out;
    std::vector<const Node*> stack { &m_root };
    while (!stack.empty()) {
        const Node* n = stack.back();
        stack.pop_back();
        for (const auto& child : n->children) {
            if (child->row.isDirectory && state->isExpanded(child->id)) {
                out << indexOf(child.get());
                stack.push_back(child.get());
            }
        }
    }
    return out;
}

void LibraryTreeModel::setExpanded(const QModelIndex& index, bool expanded)
{
    Node* n = nodeOf(index);
    if (!index.isValid() || !n->row.isDirectory)
        return;
    if (!expanded) {
        m_tree.collapse(n->id);
        return;
    }
    if (!n->loaded)
        fetchMore(index);
    else
        m_tree.expand(n->id);
}

void LibraryTreeModel::setCurrent(const QModelIndex& index)
{
    organise::GroupCacheData* state = m_tree.current();
    if (!state)
        return;
    if (index.isValid())
        state->selectedNodeId = nodeOf(index)->id;
    else
        state->selectedNodeId.reset();
}

QModelIndex LibraryTreeModel::currentIndex() const
{
    const organise::GroupCacheData* state = m_tree.current();
    if (!state || !state->selectedNodeId)
        return {};
    std::vector<const Node*> stack { &m_root };
    while (!stack.empty()) {
        const Node* n = stack.back();
        stack.pop_back();
        for (const auto& child : n->children) {
            if (child->id == *state->selectedNodeId)
                return indexOf(child.get());
            stack.push_back(child.get());
        }
    }
    return {};
}

LibraryTreeModel::Node* LibraryTreeModel::nodeOf(const QModelIndex& index) const
{
    if (!index.isValid())
        return const_cast<Node*>(&m_root);
    return static_cast<Node*>(index.internalPointer());
}

QModelIndex LibraryTreeModel::indexOf(const Node* node) const
{
    if (!node || node == &m_root)
        return {};
    return createIndex(node->position, 0, const_cast<Node*>(node));
}

const BrowserRow* LibraryTreeModel::row(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this)
        return nullptr;
    return &nodeOf(index)->row;
}

QModelIndex LibraryTreeModel::indexForPath(const std::string& path) const
{
    // Only what is loaded can be found; the tree never loads folders just to look.
    std::vector<const Node*> stack { &m_root };
    while (!stack.empty()) {
        const Node* n = stack.back();
        stack.pop_back();
        for (const auto& child : n->children) {
            if (child->row.path == path)
                return indexOf(child.get());
            if (child->row.isDirectory && index::isUnderRoot(path, child->row.path))
                stack.push_back(child.get());
        }
    }
    return {};
}

QModelIndex LibraryTreeModel::index(int row, int column, const QModelIndex& parent) const
{
    const Node* p = nodeOf(parent);
    if (row < 0 || column < 0 || column >= kColumnCount || row >= int(p->children.size()))
        return {};
    return createIndex(row, column, p->children[std::size_t(row)].get());
}

QModelIndex LibraryTreeModel::parent(const QModelIndex& child) const
{
    if (!child.isValid())
        return {};
    return indexOf(nodeOf(child)->parent);
}

int LibraryTreeModel::rowCount(const QModelIndex& parent) const
{
    if (parent.column() > 0)
        return 0;
    return int(nodeOf(parent)->children.size());
}

bool LibraryTreeModel::hasChildren(const QModelIndex& parent) const
{
    const Node* n = nodeOf(parent);
    if (!n->row.isDirectory || parent.column() > 0)
        return false;
    return !n->loaded || !n->children.empty();
}

bool LibraryTreeModel::canFetchMore(const QModelIndex& parent) const
{
    const Node* n = nodeOf(parent);
    return parent.isValid() && n->row.isDirectory && !n->loaded;
}

void LibraryTreeModel::fetchMore(const QModelIndex& parent)
{
    Node* n = nodeOf(parent);
    if (!parent.isValid() || !n->row.isDirectory || n->loaded)
        return;
    m_tree.expand(n->id);
    m_pass.reset();
    Node staged;
    staged.id = n->id;
    fillSettled(&staged);
    n->loaded = true;
    if (staged.children.empty()) {
        // The expander goes away: the folder turned out to be empty.
        emit dataChanged(parent, parent);
        return;
    }
    beginInsertRows(parent, 0, int(staged.children.size()) - 1);
    n->children = std::move(staged.children);
    for (auto& child : n->children)
        child->parent = n;
    endInsertRows();
}

QVariant LibraryTreeModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const Node* n = nodeOf(index);
    if (role == kRowMarksRole)
        return packRowMarks(n->marks);
    if (role == kHideModeRole)
        return m_hideMode;
    const BrowserRow& row = n->row;
    const QString missing = showsMissing(role) && m_isMissing ? m_isMissing(row.path) : QString();
    return browserData(row, index.column(), role, missing, m_spelling);
}

QVariant LibraryTreeModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    return browserHeader(section, role);
}

Qt::ItemFlags LibraryTreeModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    const Node* n = nodeOf(index);
    if (!n->row.isDirectory)
        f |= Qt::ItemIsDragEnabled | Qt::ItemNeverHasChildren;
    else if (n->parent == &m_root && rootsShownInOrder())
        f |= Qt::ItemIsDragEnabled; // root rows reorder by dragging
    return f;
}

bool LibraryTreeModel::rootsShownInOrder() const
{
    // A hidden or skipped root moves the rows below it up: the rows' places are no longer the
    // roots' places, so they do not reorder then.
    const organise::GroupCacheData* state = m_tree.current();
    if (!state || state->rootNodes.size() != m_root.children.size())
        return false;
    for (std::size_t i = 0; i < m_root.children.size(); ++i)
        if (m_root.children[i]->id != state->rootNodes[i].id)
            return false;
    return true;
}

} // namespace kivo::app
