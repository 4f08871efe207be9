#include "MainThreadObject.h"

#include <QCoreApplication>
#include <QThread>

MainThreadObject *MainThreadObject::instance()
{
    static MainThreadObject *object = [] {
        auto *o = new MainThreadObject;
        if (QCoreApplication::instance())
            o->moveToThread(QCoreApplication::instance()->thread());
        return o;
    }();
    return object;
}

void MainThreadObject::onReturnToMainThread(std::function<void(void)> callback)
{
    if (callback)
        callback();
}
