#include "ui/frmKelvane.h"

#include "log/LogBox.h"
#include "net/SocketControl.h"
#include "platform/KvError.h"
#include "send/Codec.h"
#include "ui/Controls.h"

void frmKelvane::wsClient_DataArrival(qint32 bytesTotal)
{
    qsizetype taken = -1;
    try {
        // Everything waiting, whatever its length: nothing that arrived may go unshown.
        const QString data = wsClient->GetData();
        taken = data.size();
        if (chkFlat->value() == 1) {
            // Raw, NULs and all, so that arrivals read as one stream.
            txtOutput->append(data);
            // Show the newest line from its start.
            const qsizetype lineBreak = txtOutput->lastIndexOf(QStringLiteral("\r\n"));
            txtOutput->setCaretPosition(lineBreak < 0 ? txtOutput->length() : lineBreak + 2);
        } else {
            const QString dump = SpacedHex(data);
            Echo({QString::number(bytesTotal) + QStringLiteral(" bytes received from ") +
                      wsClient->RemoteHostIP(),
                  QStringLiteral("Data:"), data, dump});
        }
    } catch (const std::bad_alloc&) {
        // Data taken from the socket but not shown is lost: say how much.
        if (taken >= 0)
            Echo({QStringLiteral("Out of memory: %1 bytes received were not shown.").arg(taken)});
        else
            Echo({KvErr::describe(std::bad_alloc())});
    } catch (const std::exception& e) {
        Echo({KvErr::describe(e)});
    }
}

void frmKelvane::wsClient_DatagramsDropped(qint64 count)
{
    // Someone testing a device must not take these for datagrams the device never sent.
    Echo({count == 1 ? QStringLiteral("1 datagram was dropped before it could be read")
                     : QString::number(count) +
                           QStringLiteral(" datagrams were dropped before they could be read")});
}

void frmKelvane::wsClient_ReadFailed(const QString& description)
{
    Echo({description});
}
