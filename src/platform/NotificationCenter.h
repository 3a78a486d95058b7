#pragma once

// Named notifications without a sender ("UserSettingsPathsSynced", "LibraryFileRemoved", ...),
// delivered on the main thread. A post from another thread is queued to the main thread; a post
// from the main thread is delivered before post() returns.

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
