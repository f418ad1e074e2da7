#include "ui/frmKelvane.h"

#include "net/Address.h"
#include "net/SocketControl.h"
#include "platform/KvError.h"
#include "platform/MessageBox.h"
#include "platform/NumConv.h"
#include "ui/Controls.h"

#include <QGroupBox>
#include <QLineEdit>

void frmKelvane::cmdConnect_Click()
{
    // The button's meaning follows from the socket alone: anything open is closed.
    if (wsClient->State() != SocketControl::sckClosed) {
        bLocalClose = true;
        wsClient_Close();
        return;
    }

    QString failure;
    try {
        wsClient->Close();
        wsClient->setLocalPort(TextToInt32(txtLocalPort->text()));
        wsClient->setRemoteHost(txtIP->text());
        wsClient->setRemotePort(TextToInt32(txtRemotePort->text()));
        wsClient->setProtocol(cboMode->itemDataAt(cboMode->listIndex()));

        if (optServer->value(0)) {
            if (wsClient->Protocol() == SocketControl::UdpProtocol) {
                wsClient->Bind();
                // UDP has no connect event; it is usable as soon as it is bound.
                wsClient_Connect();
            } else {
                wsClient->Listen();
            }
            Echo({hostAndPort(txtIP->text(), txtLocalPort->text()) + QStringLiteral(" is listening")});
            setRoleOptionsEnabled(false);
        } else {
            wsClient->Connect();
            // A TCP client waits for the socket's connect or error event.
            if (wsClient->Protocol() == SocketControl::UdpProtocol)
                wsClient_Connect();
        }
        return;
    } catch (const KvError& e) {
        failure = e.description();
    } catch (const std::exception& e) {
        failure = QString::fromLocal8Bit(e.what());
    }

    // Nothing is retried: leave the socket closed and the window idle, then say why.
    bLocalClose = true;
    wsClient_Close();
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
