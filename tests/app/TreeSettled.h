#pragma once

// The tree reads folders in the background: waits until every read has arrived and what it set off
// on the main thread (folders reopened, more reads) has run.

#include "app/LibraryTreeModel.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <QTreeView>

#include <functional>

// Runs the event loop until `done` or `ms` have passed. QTest::qWaitFor sleeps the main thread
// 10 ms at a time between its checks, which an event-loop watchdog would count as the window's own
// stalls.
inline bool turnEventLoopUntil(const std::function<bool()>& done, int ms)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    poll.start();
    loop.exec();
    return done();
}

inline bool treeSettled(const kivo::app::LibraryTreeModel* model)
{
    for (int round = 0; round < 50; ++round) {
        if (!turnEventLoopUntil([model] { return model->pendingReads() == 0; }, 10000))
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
