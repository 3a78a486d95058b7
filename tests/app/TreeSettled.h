#pragma once

// The tree reads folders in the background: waits until every read has arrived and what it set off
// on the main thread (folders reopened, more reads) has run.

#include "app/LibraryTreeModel.h"

#include <QCoreApplication>
#include <QTest>

inline bool treeSettled(const kivo::app::LibraryTreeModel* model)
{
    for (int round = 0; round < 50; ++round) {
        if (!QTest::qWaitFor([model] { return model->pendingReads() == 0; }, 10000))
            return false;
        QCoreApplication::processEvents();
        if (model->pendingReads() == 0)
            return true;
    }
    return false;
}
