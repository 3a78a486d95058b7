#include "app/CustomDragManager.h"

#include "app/BrowserColumns.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDrag>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QPainter>
#include <QStyle>
#include <QTreeView>

#include <algorithm>

namespace kivo::app {

CustomDragManager& CustomDragManager::shared()
{
    static CustomDragManager* manager = new CustomDragManager(qApp);
    return *manager;
}

void CustomDragManager::setDragging(bool dragging, const QList<QUrl>& urls)
{
    m_draggedURLs = urls;
    if (dragging == m_isDragging)
        return;
    m_isDragging = dragging;
    emit isDraggingChanged();
}

void CustomDragManager::beginDrag(const QList<QUrl>& urls, QWidget* window)
{
    if (urls.isEmpty() || m_isDragging)
        return;
    setDragging(true, urls);
    if (!window) {
        setDragging(false, {});
        return;
    }
    auto* mime = new QMimeData;
    mime->setUrls(urls);
    auto* drag = new QDrag(window);
    drag->setMimeData(mime);
    drag->setPixmap(dragImage(int(urls.size()), window));
    // The picture sits just below and right of the pointer.
    drag->setHotSpot(QPoint(10, 10));
    drag->exec(Qt::CopyAction | Qt::LinkAction, Qt::CopyAction);
    drag->deleteLater();
    setDragging(false, {});
}

QList<QUrl> selectedFileURLs(const QAbstractItemView& view)
{
    QModelIndexList rows = view.selectionModel() ? view.selectionModel()->selectedRows() : QModelIndexList();
    // Selection order is click order; the drag follows the order on screen.
    if (const auto* tree = qobject_cast<const QTreeView*>(&view)) {
        std::stable_sort(rows.begin(), rows.end(), [tree](const QModelIndex& a, const QModelIndex& b) {
            return tree->visualRect(a).top() < tree->visualRect(b).top();
        });
    } else {
        std::stable_sort(rows.begin(), rows.end(),
            [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    }
    QList<QUrl> urls;
    for (const QModelIndex& row : rows)
        if (!row.data(kIsDirectoryRole).toBool())
            urls << QUrl::fromLocalFile(row.data(kPathRole).toString());
    return urls;
}

QPixmap dragImage(int fileCount, const QWidget* context)
{
    const QStyle* style = context ? context->style() : QApplication::style();
    const int size = 32;
    QPixmap pixmap(size + 12, size + 8);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.drawPixmap(0, 4, style->standardIcon(QStyle::SP_FileIcon).pixmap(size, size));
    if (fileCount > 1) {
        const QString count = QString::number(fileCount);
        QFont font = p.font();
        font.setBold(true);
        font.setPixelSize(11);
        p.setFont(font);
        const int w = std::max(18, p.fontMetrics().horizontalAdvance(count) + 8);
        const QRectF badge(pixmap.width() - w, 0, w, 18);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xEF, 0x53, 0x56));
        p.drawRoundedRect(badge, 9, 9);
        p.setPen(Qt::white);
        p.drawText(badge, Qt::AlignCenter, count);
    }
    return pixmap;
}

} // namespace kivo::app
