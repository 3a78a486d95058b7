#include "app/LibraryTreeModel.h"

#include <algorithm>

namespace kivo::app {

std::string folderDisplayName(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty())
        name = path;
    // A ":" in a file name is what other desktops show as "/".
    std::replace(name.begin(), name.end(), ':', '/');
    return name;
}

LibraryTreeModel::LibraryTreeModel(FolderLoader loader, QObject* parent)
    : QAbstractItemModel(parent)
    , m_loader(std::move(loader))
{
    m_root.loaded = true;
    m_root.row.isDirectory = true;
}

LibraryTreeModel::~LibraryTreeModel() = default;

void LibraryTreeModel::setRoots(const std::vector<std::string>& rootPaths)
{
    beginResetModel();
    m_root.children.clear();
    for (const auto& path : rootPaths) {
        auto node = std::make_unique<Node>();
        node->row.path = path;
        node->row.name = folderDisplayName(path);
        node->row.isDirectory = true;
        node->parent = &m_root;
        node->position = int(m_root.children.size());
        m_root.children.push_back(std::move(node));
    }
    endResetModel();
}

std::vector<std::unique_ptr<LibraryTreeModel::Node>> LibraryTreeModel::load(Node* folder) const
{
    std::vector<std::unique_ptr<Node>> out;
    if (!m_loader)
        return out;
    FolderListing listing = m_loader(folder->row.path);
    out.reserve(listing.subfolders.size() + listing.files.size());
    for (auto& path : listing.subfolders) {
        auto node = std::make_unique<Node>();
        node->row.name = folderDisplayName(path);
        node->row.path = std::move(path);
        node->row.isDirectory = true;
        out.push_back(std::move(node));
    }
    for (auto& file : listing.files) {
        auto node = std::make_unique<Node>();
        node->row = BrowserRow { std::move(file.path), std::move(file.name), false, file.bpm,
            std::move(file.key), file.duration };
        out.push_back(std::move(node));
    }
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i]->parent = folder;
        out[i]->position = int(i);
    }
    return out;
}

void LibraryTreeModel::reload()
{
    // Open folders keep their place only by path; a reset is the honest answer when anything moved.
    std::vector<std::string> roots;
    for (const auto& child : m_root.children)
        roots.push_back(child->row.path);
    setRoots(roots);
}

LibraryTreeModel::Node* LibraryTreeModel::nodeOf(const QModelIndex& index) const
{
    if (!index.isValid())
        return const_cast<Node*>(&m_root);
    return static_cast<Node*>(index.internalPointer());
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
                return createIndex(child->position, 0, child.get());
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
    const Node* p = nodeOf(child)->parent;
    if (!p || p == &m_root)
        return {};
    return createIndex(p->position, 0, const_cast<Node*>(p));
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
    return n->row.isDirectory && !n->loaded;
}

void LibraryTreeModel::fetchMore(const QModelIndex& parent)
{
    Node* n = nodeOf(parent);
    if (!n->row.isDirectory || n->loaded)
        return;
    n->loaded = true;
    auto children = load(n);
    if (children.empty()) {
        // The expander goes away: the folder turned out to be empty.
        emit dataChanged(parent, parent);
        return;
    }
    beginInsertRows(parent, 0, int(children.size()) - 1);
    n->children = std::move(children);
    endInsertRows();
}

QVariant LibraryTreeModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    return browserData(nodeOf(index)->row, index.column(), role);
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
    if (!nodeOf(index)->row.isDirectory)
        f |= Qt::ItemIsDragEnabled | Qt::ItemNeverHasChildren;
    return f;
}

} // namespace kivo::app
