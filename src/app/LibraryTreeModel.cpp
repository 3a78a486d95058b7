#include "app/LibraryTreeModel.h"

#include "app/HideToggleButton.h"
#include "platform/TaskRunner.h"

#include "music/BpmFromName.h"
#include "music/MusicalKey.h"

#include <QColor>

#include <algorithm>

namespace kivo::app {

std::string folderDisplayName(const std::string& path)
{
    return organise::folderNode(path).name;
}

LibraryTreeModel::LibraryTreeModel(
    platform::TaskRunner& tasks, organise::FolderLoader loader, QObject* parent)
    : QAbstractItemModel(parent)
    , m_durations(std::make_shared<std::unordered_map<std::string, double>>())
    , m_tree(loader)
    , m_tasks(tasks)
    , m_loader(std::move(loader))
{
    m_root.loaded = true;
    m_root.row.isDirectory = true;
}

LibraryTreeModel::~LibraryTreeModel() = default;

void LibraryTreeModel::recordDurations(const organise::FolderContents& contents)
{
    for (const auto& file : contents.files)
        if (file.duration)
            (*m_durations)[file.path] = *file.duration;
}

void LibraryTreeModel::read(std::vector<organise::ChildLoad> loads)
{
    if (loads.empty())
        return;
    std::vector<std::string> paths;
    for (const auto& load : loads)
        paths.push_back(load.path);
    ++m_pendingReads;
    m_tasks.run(
        this,
        [loader = m_loader, paths = std::move(paths)] {
            std::vector<organise::FolderContents> contents;
            for (const auto& path : paths)
                contents.push_back(loader ? loader(path) : organise::FolderContents {});
            return contents;
        },
        [this, loads = std::move(loads)](std::vector<organise::FolderContents> contents) {
            --m_pendingReads;
            for (std::size_t i = 0; i < loads.size(); ++i) {
                recordDurations(contents[i]);
                m_tree.childrenLoaded(loads[i], contents[i]);
            }
            if (m_rebuildWanted) {
                rebuild();
                emit rowsSettled();
                return;
            }
            const auto waiting = m_waiting;
            for (const auto& id : waiting)
                if (m_tree.children(id))
                    settle(id);
        });
}

bool LibraryTreeModel::readWanted(const organise::HiddenRowPass& pass)
{
    if (pass.unloaded().empty())
        return false;
    std::vector<organise::ChildLoad> loads;
    for (const auto& folder : pass.unloaded())
        if (auto load = m_tree.onLoadChildren(folder.id))
            loads.push_back(std::move(*load));
    read(std::move(loads));
    return true;
}

LibraryTreeModel::Node* LibraryTreeModel::findNode(const organise::NodeId& id)
{
    std::vector<Node*> stack { &m_root };
    while (!stack.empty()) {
        Node* n = stack.back();
        stack.pop_back();
        for (const auto& child : n->children) {
            if (child->id == id && !child->placeholder)
                return child.get();
            if (child->row.isDirectory)
                stack.push_back(child.get());
        }
    }
    return nullptr;
}

void LibraryTreeModel::settle(const organise::NodeId& id)
{
    Node* n = findNode(id);
    if (!n || !n->waiting)
        return;
    m_pass.reset();
    Node staged;
    staged.id = id;
    organise::HiddenRowPass pass = m_tree.rowPass();
    fillChildren(&staged, pass);
    if (readWanted(pass))
        return;
    std::erase(m_waiting, id);
    n->waiting = false;
    const QModelIndex parent = indexOf(n);
    if (!n->children.empty()) {
        beginRemoveRows(parent, 0, int(n->children.size()) - 1);
        n->children.clear();
        endRemoveRows();
    }
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

void LibraryTreeModel::rebuild()
{
    m_pass.reset();
    m_waiting.clear();
    std::vector<std::unique_ptr<Node>> rows;
    organise::HiddenRowPass pass = m_tree.rowPass();
    const auto roots = m_tree.visibleRoots(pass);
    for (int i = 0; i < int(roots.size()); ++i) {
        auto node = makeNode(roots[std::size_t(i)], &m_root, i);
        if (node->row.isDirectory && m_tree.current()->isExpanded(node->id))
            fillChildren(node.get(), pass);
        rows.push_back(std::move(node));
    }
    beginResetModel();
    m_root.children = std::move(rows);
    endResetModel();
    // Skipped folders show their contents in their place: rows of folders not read yet follow.
    m_rebuildWanted = readWanted(pass);
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
    // The rows stay as they are until the folders are read; a newer reload replaces this one.
    const quint64 number = ++m_reloads;
    ++m_pendingReads;
    m_tasks.run(
        this,
        [loader = m_loader, paths = m_tree.loadedFolderPaths()] {
            std::unordered_map<std::string, organise::FolderContents> contents;
            for (const auto& path : paths)
                contents.emplace(path, loader ? loader(path) : organise::FolderContents {});
            return contents;
        },
        [this, number, group = *m_tree.currentGroup()](
            std::unordered_map<std::string, organise::FolderContents> contents) {
            --m_pendingReads;
            if (number != m_reloads || m_tree.currentGroup() != group)
                return;
            for (const auto& [path, folder] : contents)
                recordDurations(folder);
            m_tree.reloadLoadedFolders(contents);
            rebuild();
            emit rowsSettled();
        });
}

void LibraryTreeModel::setMetadata(RowMetadata metadata)
{
    m_metadata = std::move(metadata);
    m_tree.setBPMOverrides(m_metadata.sortOverrides());
    m_tree.resort();
    if (m_tree.current())
        rebuild();
}

bool LibraryTreeModel::setAnalysed(std::shared_ptr<const organise::AnalysedValues> analysed)
{
    m_metadata.analysed = std::move(analysed);
    m_pass.reset();
    // Folders opened from now on sort by the new tempos.
    m_tree.setBPMOverrides(m_metadata.sortOverrides());
    bool tempoMoved = false;
    std::vector<Node*> stack { &m_root };
    while (!stack.empty()) {
        Node* n = stack.back();
        stack.pop_back();
        for (const auto& child : n->children) {
            if (child->placeholder)
                continue;
            if (child->row.isDirectory)
                stack.push_back(child.get());
            else if (const auto bpm = child->row.bpm;
                     refreshAnalysed(child->row, m_metadata.analysed.get())) {
                tempoMoved = tempoMoved || child->row.bpm != bpm;
                const QModelIndex at = indexOf(child.get());
                emit dataChanged(at.siblingAtColumn(kBpmColumn), at.siblingAtColumn(kKeyColumn));
            }
        }
    }
    return tempoMoved && m_tree.options().sorting.sortByBPM;
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
    else if (auto load = m_tree.expandLater(n->id))
        read({ std::move(*load) });
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
    if (!index.isValid() || index.model() != this || nodeOf(index)->placeholder)
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
    n->loaded = true;
    n->waiting = true;
    m_waiting.push_back(n->id);
    const auto load = m_tree.expandLater(n->id);
    if (m_tree.children(n->id)) {
        settle(n->id);
        if (!n->waiting)
            return;
    }
    auto loading = std::make_unique<Node>();
    loading->placeholder = true;
    loading->row.name = kLoadingRowText;
    loading->parent = n;
    beginInsertRows(parent, 0, 0);
    n->children.push_back(std::move(loading));
    endInsertRows();
    if (load)
        read({ *load });
}

QVariant LibraryTreeModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const Node* n = nodeOf(index);
    if (n->placeholder) {
        if (index.column() != kNameColumn)
            return {};
        if (role == Qt::DisplayRole)
            return QString::fromUtf8(kLoadingRowText);
        if (role == Qt::ForegroundRole)
            return QColor(Qt::gray);
        return {};
    }
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
    const Node* n = nodeOf(index);
    if (n->placeholder)
        return Qt::ItemNeverHasChildren;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
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
