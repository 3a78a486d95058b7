#include "platform/NotificationCenter.h"

#include <QCoreApplication>
#include <QThread>

namespace kivo::platform {

NotificationCenter& NotificationCenter::shared()
{
    static NotificationCenter* center = [] {
        auto* c = new NotificationCenter;
        // Created from whatever thread asked first; deliveries belong to the main thread.
        if (auto* app = QCoreApplication::instance())
            c->moveToThread(app->thread());
        return c;
    }();
    return *center;
}

void NotificationCenter::post(const QString& name, const QVariantMap& userInfo)
{
    if (QThread::currentThread() == thread()) {
        emit posted(name, userInfo);
        return;
    }
    QMetaObject::invokeMethod(this, [this, name, userInfo] { emit posted(name, userInfo); }, Qt::QueuedConnection);
}

QMetaObject::Connection NotificationCenter::observe(
    const QString& name, QObject* context, std::function<void(const QVariantMap&)> fn)
{
    return connect(this, &NotificationCenter::posted, context,
        [name, fn = std::move(fn)](const QString& posted, const QVariantMap& info) {
            if (posted == name)
                fn(info);
        });
}

} // namespace kivo::platform
