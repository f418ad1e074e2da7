#include "app/EventLoop.h"

#include <QByteArray>
#include <QtGlobal>

void useQtEventDispatcher()
{
    qputenv("QT_NO_GLIB", "1");
}
