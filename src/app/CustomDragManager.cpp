#include "app/CustomDragManager.h"

#include "app/BrowserColumns.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QPainter>
#include <QStyle>
#include <QTreeView>

#include <algorithm>
#include <memory>

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
    // Not deleted here: on X11 the drop target asks for the files after exec() has returned, and
    // Qt answers from this object, deleting it once the drop is over.
    auto* drag = new QDrag(window);
    drag->setMimeData(mime);
    drag->setPixmap(dragImage(int(urls.size()), window));
    // The picture sits just below and right of the pointer.
    drag->setHotSpot(QPoint(10, 10));
    m_mime = mime;
    qApp->installEventFilter(this);
    drag->exec(kOutsideApplication, Qt::CopyAction);
    qApp->removeEventFilter(this);
    m_mime = nullptr;
    setDragging(false, {});
}

bool CustomDragManager::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (m_forwarding || !watched->isWidgetType()
        || (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop))
        return false;
    auto* original = static_cast<QDropEvent*>(event);
    if (!m_mime || original->mimeData() != m_mime)
        return false;
    // The same event, offering what a drag within the application offers.
    std::unique_ptr<QDropEvent> within;
    const QPoint pos = original->position().toPoint();
    if (type == QEvent::DragEnter)
        within = std::make_unique<QDragEnterEvent>(
            pos, kWithinApplication, m_mime, original->buttons(), original->modifiers());
    else if (type == QEvent::DragMove)
        within = std::make_unique<QDragMoveEvent>(
            pos, kWithinApplication, m_mime, original->buttons(), original->modifiers());
    else
        within = std::make_unique<QDropEvent>(
            original->position(), kWithinApplication, m_mime, original->buttons(), original->modifiers());
    within->setAccepted(original->isAccepted());
    m_forwarding = true;
    QCoreApplication::sendEvent(watched, within.get());
    m_forwarding = false;
    original->setDropAction(within->dropAction());
    original->setAccepted(within->isAccepted());
    return true;
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
