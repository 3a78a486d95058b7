#pragma once

// Drags samples out of the browser into other programs: the files go on the drag as file
// references (text/uri-list), offered to be copied or linked. The user's sample files are never
// offered to be moved by another program; inside this application the same drag offers copy and
// move. One shared instance; a drag requested while one runs is ignored.

#include <QList>
#include <QObject>
#include <QPointer>
#include <QUrl>

class QAbstractItemView;
class QMimeData;
class QPixmap;
class QWidget;

namespace kivo::app {

class CustomDragManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isDragging READ isDragging NOTIFY isDraggingChanged)
public:
    using QObject::QObject;
    static CustomDragManager& shared();

    bool isDragging() const { return m_isDragging; }
    const QList<QUrl>& draggedURLs() const { return m_draggedURLs; }

    // Runs a drag of these files from `window` and returns when it ends (dropped or cancelled).
    void beginDrag(const QList<QUrl>& urls, QWidget* window);

    static constexpr Qt::DropActions kOutsideApplication = Qt::CopyAction | Qt::LinkAction;
    static constexpr Qt::DropActions kWithinApplication = Qt::CopyAction | Qt::MoveAction;

protected:
    // While a drag runs, this application's widgets see it offering the in-application actions.
    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    void isDraggingChanged();

private:
    void setDragging(bool dragging, const QList<QUrl>& urls);

    bool m_isDragging = false;
    QList<QUrl> m_draggedURLs;
    QPointer<const QMimeData> m_mime;
    bool m_forwarding = false;
};

// The selected file rows of a view, top to bottom as shown; folders are not dragged.
QList<QUrl> selectedFileURLs(const QAbstractItemView& view);
// A small picture of the dragged files: a file badge with their count when there are several.
QPixmap dragImage(int fileCount, const QWidget* context);

} // namespace kivo::app
