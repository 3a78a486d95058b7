#pragma once

// The tree reads folders in the background: waits until every read has arrived and what it set off
// on the main thread (folders reopened, more reads) has run.

#include "app/LibraryTreeModel.h"

#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QTreeView>

// kivo::test::waitFor turns the event loop without sleeping between its checks (QTest::qWaitFor
// sleeps 10 ms at a time, which an event-loop watchdog would count as the window's own stalls).
inline bool treeSettled(const kivo::app::LibraryTreeModel* model)
{
    for (int round = 0; round < 50; ++round) {
        if (!kivo::test::waitFor([model] { return model->pendingReads() == 0; }))
            return false;
        QCoreApplication::processEvents();
        if (model->pendingReads() == 0)
            return true;
    }
    return false;
}

// While the view has a relayout pending, QTreeView::expand only notes the folder and reads it with
// that layout, later; asking the model here starts the read now, so settling waits for it.
inline bool openedAndSettled(QTreeView* view, kivo::app::LibraryTreeModel* model, const QModelIndex& folder)
{
    view->expand(folder);
    if (model->canFetchMore(folder))
        model->fetchMore(folder);
    return treeSettled(model);
}
