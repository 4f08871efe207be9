#include "EventDispatcher.h"

#include <QByteArray>
#include <QtGlobal>

void useDirectEventDispatcher()
{
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", QByteArray("1"));
}
