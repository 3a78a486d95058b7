#include "app/BrowserView.h"

#include "app/BrowserColumns.h"
#include "app/CustomDragManager.h"
#include "organise/RootOrder.h"

#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>

namespace kivo::app {

namespace {
constexpr char kRootMime[] = "application/x-kivo-root-row";
}

std::vector<double> BrowserView::rootRowCentres() const
{
    std::vector<double> centres;
    if (!model())
        return centres;
    const int roots = model()->rowCount();
    for (int i = 0; i < roots; ++i) {
        const QModelIndex root = model()->index(i, 0);
        const QRect top = visualRect(root);
        // The root's block runs down to its last open descendant.
        QModelIndex last = root;
        for (QModelIndex below = indexBelow(root); below.isValid() && below.parent().isValid();
             below = indexBelow(below))
            last = below;
        centres.push_back((top.top() + visualRect(last).bottom()) / 2.0);
    }
    return centres;
}

void BrowserView::mousePressEvent(QMouseEvent* event)
{
    m_pressY = event->position().y();
    QTreeView::mousePressEvent(event);
}

void BrowserView::startDrag(Qt::DropActions)
{
    const QModelIndex current = currentIndex().siblingAtColumn(0);
    const bool rootRow = current.isValid() && !current.parent().isValid()
        && current.data(kIsDirectoryRole).toBool() && model()->rowCount() > 1;
    if (!rootRow || !acceptDrops()) {
        CustomDragManager::shared().beginDrag(selectedFileURLs(*this), window());
        return;
    }
    auto* mime = new QMimeData;
    mime->setData(QString::fromLatin1(kRootMime), QByteArray::number(current.row()));
    auto* drag = new QDrag(this);
    drag->setMimeData(mime);
    drag->setPixmap(viewport()->grab(visualRect(current)));
    drag->exec(Qt::MoveAction);
}

bool BrowserView::isOwnRootDrag(const QDropEvent* event) const
{
    return event->source() == this && event->mimeData()->hasFormat(QString::fromLatin1(kRootMime));
}

void BrowserView::dragEnterEvent(QDragEnterEvent* event)
{
    if (isOwnRootDrag(event))
        event->acceptProposedAction();
    else
        event->ignore();
}

void BrowserView::dragMoveEvent(QDragMoveEvent* event)
{
    if (isOwnRootDrag(event))
        event->acceptProposedAction();
    else
        event->ignore();
}

void BrowserView::dropEvent(QDropEvent* event)
{
    if (!isOwnRootDrag(event)) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    bool ok = false;
    const int source = event->mimeData()->data(QString::fromLatin1(kRootMime)).toInt(&ok);
    if (!ok || source < 0)
        return;
    const auto move
        = organise::rootDragMove(rootRowCentres(), std::size_t(source), m_pressY, event->position().y());
    if (move)
        emit rootMoveRequested(int(move->source), int(move->destination));
}

} // namespace kivo::app
