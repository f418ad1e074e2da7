#include "ui/frmKelvane.h"

#include "log/LogBox.h"
#include "net/SocketControl.h"

void frmKelvane::wsClient_DataArrival(qint32 bytesTotal)
{
    const QString data = wsClient->GetData();
    Echo({QString::number(bytesTotal) + QStringLiteral(" bytes received from ") + wsClient->RemoteHostIP()});
}
