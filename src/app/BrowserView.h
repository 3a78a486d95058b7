#pragma once

// The tree and the result list. File rows drag out as files through the shared drag manager; in
// the tree a root folder row drags among the other roots to reorder the collection's folders.

#include <QTreeView>

#include <vector>

namespace kivo::app {

class BrowserView : public QTreeView {
    Q_OBJECT
public:
    using QTreeView::QTreeView;

    // Vertical centres of the root rows, each with what it shows open below it, in viewport
    // coordinates.
    std::vector<double> rootRowCentres() const;

signals:
    // A root row was dropped so that the root at `source` lands before the one at `destination`.
    void rootMoveRequested(int source, int destination);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool isOwnRootDrag(const QDropEvent* event) const;

    double m_pressY = 0;
};

} // namespace kivo::app
