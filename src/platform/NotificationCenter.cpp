#include "platform/NotificationCenter.h"

#include "platform/MainThread.h"

#include <QCoreApplication>

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
    KIVO_MAIN_THREAD();
    emit posted(name, userInfo);
}

QMetaObject::Connection NotificationCenter::observe(
    const QString& name, QObject* context, std::function<void(const QVariantMap&)> fn)
{
    KIVO_MAIN_THREAD();
    return connect(this, &NotificationCenter::posted, context,
        [name, fn = std::move(fn)](const QString& posted, const QVariantMap& info) {
            if (posted == name)
                fn(info);
        });
}

} // namespace kivo::platform
