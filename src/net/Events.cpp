#include "ui/frmKelvane.h"

void frmKelvane::wsClient_Close() {}

void frmKelvane::wsClient_Connect() {}

void frmKelvane::wsClient_ConnectionRequest(qint32 requestId)
{
    Q_UNUSED(requestId);
}

void frmKelvane::wsClient_Error(int number, const QString& description)
{
    Q_UNUSED(number);
    Q_UNUSED(description);
}
