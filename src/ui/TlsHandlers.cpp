// TLS in the window: the certificate dialog, reading the files, and the
// question about a server certificate that failed the checks.

#include "ui/frmKelvane.h"

#include "net/Address.h"
#include "net/SocketControl.h"
#include "net/TlsCertificates.h"
#include "platform/KvError.h"
#include "ui/CommonDialog.h"
#include "ui/MessageBox.h"
#include "ui/Prompt.h"
#include "ui/TlsDialog.h"

#include <QAction>
#include <QMenu>

void frmKelvane::buildTlsMenu(QMenu* tools)
{
    tools->addSeparator();
    QAction* item = tools->addAction(QStringLiteral("TLS Cert&ificate..."));
    item->setObjectName(QStringLiteral("mnTools_TlsCertificate"));
    connect(item, &QAction::triggered, this, &frmKelvane::mnTools_TlsCertificate_Click);
    cdTlsFile = new CommonDialog(this);
    cdTlsFile->setObjectName(QStringLiteral("cdTlsFile"));
    connect(wsClient, &SocketControl::peerNotVerified, this, &frmKelvane::wsClient_PeerNotVerified);
    connect(wsClient, &SocketControl::peerRefused, this, [this](const QString& why) { Echo({why}); });
}

void frmKelvane::mnTools_TlsCertificate_Click()
{
    if (m_tlsDialog && m_tlsDialog->isVisible()) {
        m_tlsDialog->raise();
        m_tlsDialog->activateWindow();
        return;
    }
    auto* dialog = new TlsDialog(cdTlsFile, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setPaths(m_tlsCertificate, m_tlsKey);
    connect(dialog, &QDialog::accepted, this, &frmKelvane::dlgTls_OK);
    m_tlsDialog = dialog;
    dialog->open();
}

void frmKelvane::dlgTls_OK()
{
    m_tlsCertificate = m_tlsDialog->certificatePath();
    m_tlsKey = m_tlsDialog->keyPath();
    m_tlsLoaded = false;
    // Read now, so that the user learns at once whether the pair can be used.
    loadTlsIdentity();
}

bool frmKelvane::loadTlsIdentity()
{
    if (m_tlsLoaded)
        return true;
    wsClient->setTlsIdentity({}, {});
    if (m_tlsCertificate.isEmpty() && m_tlsKey.isEmpty())
        return false;
    QByteArray passphrase;
    for (;;) {
        try {
            const TlsIdentity id = TlsIdentity::load(m_tlsCertificate, m_tlsKey, passphrase);
            wsClient->setTlsIdentity(id.certificate, id.key);
            m_tlsLoaded = true;
            Echo({QStringLiteral("TLS certificate: ") + certificateDetails(id.certificate)});
            return true;
        } catch (const KvError& e) {
            if (e.number() == TlsIdentity::PassphraseNeeded && passphrase.isEmpty()) {
                // Asked each time the key is read, and kept only in the key itself.
                const auto answer = m_prompt->text(this, QStringLiteral("TLS Key"),
                                                   QStringLiteral("Passphrase of ") + m_tlsKey);
                if (answer && !answer->isEmpty()) {
                    passphrase = answer->toUtf8();
                    continue;
                }
            }
            Echo({e.description()});
            return false;
        }
    }
}

void frmKelvane::wsClient_PeerNotVerified(const QSslCertificate& certificate, const QStringList& reasons)
{
    const QString peer = hostAndPort(wsClient->RemoteHost(), wsClient->RemotePort());
    const QString now = fingerprint(certificate);
    const QString saved = m_tlsTrusted.value(peer);
    if (saved == now) {
        Echo({QStringLiteral("The certificate of ") + peer +
              QStringLiteral(" is trusted by its saved fingerprint")});
        reporting([this] { wsClient->trustPeer(); });
        return;
    }
    const QString details = certificateDetails(certificate);
    QStringList items{QStringLiteral("The certificate of ") + peer +
                      QStringLiteral(" did not pass the checks:")};
    items += reasons;
    items.append(details);
    QString text = items.join(QLatin1Char('\n'));
    // A certificate that replaced the trusted one is never taken silently.
    if (!saved.isEmpty()) {
        const QString changed = QStringLiteral("It is not the certificate trusted before for ") + peer +
                                QStringLiteral(": trusted SHA-256 ") + fingerprintWithColons(saved) +
                                QStringLiteral(", now SHA-256 ") + fingerprintWithColons(now);
        items.append(changed);
        text += QStringLiteral("\n\n") + changed;
    }
    Echo(items);
    const int choice = m_messageBox->ask(
        this, applicationTitle(), text,
        {QStringLiteral("Trust &Once"), QStringLiteral("&Always Trust"), QStringLiteral("&Close")});
    reporting([&] {
        // The server may have gone while the box was open; its failure is in the log.
        if (wsClient->State() != SocketControl::sckConnecting)
            return;
        if (choice == 0) {
            Echo({QStringLiteral("Certificate trusted for this connection")});
            wsClient->trustPeer();
        } else if (choice == 1) {
            m_tlsTrusted.insert(peer, now);
            m_tlsTrustedChanged = true;
            Echo({QStringLiteral("Certificate always trusted for ") + peer + QStringLiteral(": SHA-256 ") +
                  fingerprintWithColons(now)});
            wsClient->trustPeer();
        } else {
            wsClient->rejectPeer();
        }
    });
}
