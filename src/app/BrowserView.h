#pragma once

// The tree and the result list: rows drag out as files through the shared drag manager.

#include <QTreeView>

namespace kivo::app {

class BrowserView : public QTreeView {
    Q_OBJECT
public:
    using QTreeView::QTreeView;

protected:
    void startDrag(Qt::DropActions supportedActions) override;
};

} // namespace kivo::app
