// The connect button, the role switch and the socket's connection events:
// the connection control does the work, the window shows it.

#include "ui/frmKelvane.h"

#include "net/SocketControl.h"
#include "platform/NumConv.h"
#include "send/FileSender.h"
#include "send/Repeater.h"
#include "send/ReplyEngine.h"
#include "ui/Controls.h"
#include "ui/MessageBox.h"

#include <QGroupBox>
#include <QLineEdit>

void frmKelvane::cmdConnect_Click()
{
    // The certificate files are read when TLS is first used; a failure is in the log.
    if (wsClient->State() == SocketControl::sckClosed && cboMode->listIndex() >= 0 &&
        protocol() == SocketControl::TlsProtocol)
        loadTlsIdentity();
    const QString failure = m_connection->connectOrClose();
    if (!failure.isEmpty())
        m_messageBox->warning(this, applicationTitle(), failure);
}

void frmKelvane::optServer_Click(int index)
{
    // The close-on-disconnect box means something only to a server: the client
    // role keeps its value aside and gives it back when the server role returns.
    // A click on the role already selected changes nothing; otherwise the
    // forced client value would overwrite the one kept aside, or a server
    // value the user just set would be thrown away.
    const bool serverRoleShown = chkCloseOnDisconnect->isEnabledTo(fraConnectionSettings);
    if (index == 1) {
        if (!serverRoleShown)
            return;
        savedCloseOnDisconnect = chkCloseOnDisconnect->value();
        chkCloseOnDisconnect->setValue(0);
        chkCloseOnDisconnect->setEnabled(false);
    } else {
        if (serverRoleShown)
            return;
        chkCloseOnDisconnect->setValue(savedCloseOnDisconnect);
        chkCloseOnDisconnect->setEnabled(true);
    }
}

void frmKelvane::wsClient_Close()
{
    m_connection->peerClosed();
}

void frmKelvane::wsClient_Connect()
{
    m_connection->connected();
}

void frmKelvane::wsClient_ConnectionRequest(qint32 requestId)
{
    m_connection->connectionRequest(requestId);
}

void frmKelvane::wsClient_Error(int number, const QString& description)
{
    Q_UNUSED(number);
    m_connection->error(description);
}

void frmKelvane::wsClient_SendingFailed(const QString& description, qint64 unsentBytes)
{
    m_connection->sendingFailed(description, unsentBytes);
    // Nothing more can go out: the file sending stops now, with the reason,
    // rather than at its next tick as if the connection had ended.
    m_fileSender->sendingFailed(description, unsentBytes);
}

void frmKelvane::wsClient_BytesNotSent(qint64 bytes)
{
    // Nothing goes missing unseen: the bytes a connection took with it are counted.
    Echo({bytes == 1
              ? QStringLiteral("1 byte was not sent: the connection ended first.")
              : CountText(bytes) + QStringLiteral(" bytes were not sent: the connection ended first.")});
}

QString frmKelvane::hostText() const
{
    return txtIP->text();
}

QString frmKelvane::remotePortText() const
{
    return txtRemotePort->text();
}

QString frmKelvane::localPortText() const
{
    return txtLocalPort->text();
}

bool frmKelvane::serverRole() const
{
    return optServer->value(0);
}

bool frmKelvane::clientRole() const
{
    return optServer->value(1);
}

int frmKelvane::protocol() const
{
    return cboMode->itemDataAt(cboMode->listIndex());
}

bool frmKelvane::closeOnDisconnect() const
{
    return chkCloseOnDisconnect->value() == 1;
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

void frmKelvane::connectionEnded()
{
    m_fileSender->connectionEnded();
    m_repeater->connectionEnded();
    m_replyEngine->connectionEnded();
}

void frmKelvane::report(const QStringList& items)
{
    Echo(items);
}
