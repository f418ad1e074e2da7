#include "ui/frmKelvane.h"

#include "net/Address.h"
#include "net/SocketControl.h"
#include "platform/KvError.h"
#include "platform/NumConv.h"
#include "send/FileSender.h"
#include "ui/Controls.h"

#include <QLineEdit>

#include <functional>

namespace {

// A connection handling that fails ends there, with one entry holding the
// failure's description; nothing is undone.
void reportFailure(frmKelvane& form, const std::function<void()>& work)
{
    try {
        work();
    } catch (const std::exception& e) {
        form.Echo({KvErr::describe(e)});
    }
}

} // namespace

void frmKelvane::wsClient_Close()
{
    reportFailure(*this, [this] {
        if (!bLocalClose)
            Echo({QStringLiteral("Client disconnected: ") + wsClient->RemoteHostIP()});

        bool fullClose = chkCloseOnDisconnect->value() == 1 || optServer->value(1) || bLocalClose;
        if (!fullClose) {
            // A server whose client left waits for the next one on the same port.
            wsClient->Close();
            if (!bUnloading) {
                try {
                    wsClient->Listen();
                    Echo({QStringLiteral("Listening port ") + QString::number(wsClient->LocalPort())});
                } catch (const std::exception& e) {
                    // Someone else took the port meanwhile. Say why, then end the
                    // server properly rather than leave a window that claims to
                    // listen on a closed socket.
                    Echo({KvErr::describe(e)});
                    fullClose = true;
                }
            }
        }

        if (fullClose) {
            setAddressBoxesEnabled(true);
            bConnected = false;
            m_fileSender->stopTicking();
            setRoleOptionsEnabled(true);
            wsClient->Close();
            Echo({QStringLiteral("Server port closed.")});
        }
        bLocalClose = false;
    });
}

void frmKelvane::wsClient_Connect()
{
    reportFailure(*this, [this] {
        Echo({QStringLiteral("Connected to ") + hostAndPort(txtIP->text(), txtRemotePort->text())});
        setAddressBoxesEnabled(false);
        bConnected = true;
        setRoleOptionsEnabled(false);
    });
}

void frmKelvane::wsClient_ConnectionRequest(qint32 requestId)
{
    reportFailure(*this, [this, requestId] {
        // One peer at a time: listening ends with the accept.
        wsClient->Close();
        wsClient->Accept(requestId);
        Echo({QStringLiteral("Connection Request Accepted: ") + QString::number(requestId),
              QStringLiteral("Remote IP: ") + hostAndPort(wsClient->RemoteHostIP(), wsClient->RemotePort())});
        setAddressBoxesEnabled(false);
        bConnected = true;
        setRoleOptionsEnabled(false);
    });
}

void frmKelvane::wsClient_Error(int number, const QString& description)
{
    Q_UNUSED(number);
    Echo({description});
    setAddressBoxesEnabled(true);
    wsClient->Close();
}

void frmKelvane::wsClient_BytesNotSent(qint64 bytes)
{
    // Nothing goes missing unseen: the bytes a connection took with it are counted.
    Echo({bytes == 1
              ? QStringLiteral("1 byte was not sent: the connection ended first.")
              : CountText(bytes) + QStringLiteral(" bytes were not sent: the connection ended first.")});
    m_fileSender->dataLost();
}

void frmKelvane::setAddressBoxesEnabled(bool enabled)
{
    txtIP->setEnabled(enabled);
    txtRemotePort->setEnabled(enabled);
    txtLocalPort->setEnabled(enabled);
}

void frmKelvane::setRoleOptionsEnabled(bool enabled)
{
    (*optServer)[0]->setEnabled(enabled);
    (*optServer)[1]->setEnabled(enabled);
}
