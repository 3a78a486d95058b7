#pragma once

// Named notifications without a sender ("UserSettingsPathsSynced", "LibraryFileRemoved", ...),
// posted and delivered on the main thread: a post is delivered before post() returns. Background
// work reaches the main thread through the task runner first.

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>

namespace kivo::platform {

class NotificationCenter : public QObject {
    Q_OBJECT
public:
    static NotificationCenter& shared();

    void post(const QString& name, const QVariantMap& userInfo = {});
    // Calls `fn` for every later post of `name` until `context` is destroyed (or disconnect()).
    QMetaObject::Connection observe(
        const QString& name, QObject* context, std::function<void(const QVariantMap&)> fn);

signals:
    void posted(const QString& name, const QVariantMap& userInfo);
};

} // namespace kivo::platform
