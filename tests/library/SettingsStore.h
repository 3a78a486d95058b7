#pragma once

// A preference store of its own for each test, on a file in a scratch folder, plus helpers to
// put hand-made collection lists into it.

#include "library/BookmarkGroup.h"
#include "library/WorkspaceManager.h"
#include "platform/NotificationCenter.h"
#include "platform/PreferenceStore.h"
#include "platform/PropertyList.h"

#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QObject>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace kivo::test {

struct SettingsStoreFixture : ::testing::Test {
    ScratchDir dir;
    std::unique_ptr<platform::PreferenceStore> store
        = std::make_unique<platform::PreferenceStore>(dir.path() + "/Preferences.plist");

    // Stores `list` (any property-list value) as the collections blob.
    void storeBookmarkValue(const QVariant& list)
    {
        const auto data = platform::encodeBinaryPlist(list);
        ASSERT_TRUE(data);
        store->setValue("bookmarks", *data);
    }
    std::optional<library::BookmarkGroupList> storedGroups() const
    {
        const auto data = store->dataValue("bookmarks");
        return data ? library::decodeBookmarkGroups(*data) : std::nullopt;
    }
    QString folder(const std::string& relative) const { return QString::fromStdString(dir.mkdir(relative)); }
};

// Workspace disk work runs at once; its result comes back at a later turn, as from a worker.
inline void laterTurn(library::WorkspaceJob job)
{
    QTimer::singleShot(0, qApp, [then = job()] {
        if (then)
            then();
    });
}

// Counts posts of one notification while alive.
class NotificationCount {
public:
    explicit NotificationCount(const char* name)
    {
        platform::NotificationCenter::shared().observe(
            QString::fromLatin1(name), &m_context, [this](const QVariantMap&) { ++m_count; });
    }
    int take()
    {
        const int count = m_count;
        m_count = 0;
        return count;
    }

private:
    QObject m_context;
    int m_count = 0;
};

} // namespace kivo::test
