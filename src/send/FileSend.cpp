#include "ui/frmKelvane.h"

#include "net/SocketControl.h"
#include "platform/CommonDialog.h"
#include "platform/KvError.h"
#include "platform/NumConv.h"
#include "send/FileSender.h"
#include "ui/Controls.h"
#include "ui/SocketSendLink.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace {
const QString StopCaption = QStringLiteral("S&top");
const QString IdleCaption = QStringLiteral("Sen&d");
} // namespace

void frmKelvane::setUpFileSending()
{
    m_fileSender = new FileSender(std::make_unique<SocketSendLink>(wsClient), this);
    QTimer* timer = m_fileSender->timer();
    timer->setObjectName(QStringLiteral("tmrSendFile"));
    timer->setInterval(1000);

    connect(m_fileSender, &FileSender::report, this, &frmKelvane::Echo);
    connect(m_fileSender, &FileSender::runningChanged, this,
            [this](bool running) { cmdSendFile->setText(running ? StopCaption : IdleCaption); });
    // A sending that waits for a slow peer goes on as soon as it takes some.
    connect(wsClient, &SocketControl::bytesWritten, m_fileSender, &FileSender::linkDrained);

    // Each line is shaped by the boxes as they are at its tick.
    auto followBoxes = [this] {
        m_fileSender->setAppendCrLf(chkAppenCrLf->value() != 0);
        m_fileSender->setShowSent(chkShow->value() == 1);
    };
    connect(chkAppenCrLf, &QCheckBox::stateChanged, this, followBoxes);
    connect(chkShow, &QCheckBox::stateChanged, this, followBoxes);
    followBoxes();
}

bool frmKelvane::isFileOpen() const
{
    return m_fileSender->isFileOpen();
}

void frmKelvane::cmdOpen_Click()
{
    try {
        for (;;) {
            try {
                cdOpenFile->ShowOpen();
                break;
            } catch (const KvError& e) {
                if (e.number() == KvErr::DialogCancel) {
                    // The stream stays as it was, so a sending under way finishes the old file.
                    m_fileSender->forgetFile();
                    return;
                }
                if (e.number() != KvErr::DialogBadFileName)
                    throw;
                // A preset the dialog cannot use: start it afresh without one.
                cdOpenFile->setFileName(QString());
            }
        }
        m_fileSender->open(cdOpenFile->FileName());
    } catch (const std::exception& e) {
        Echo({QStringLiteral("Error"), KvErr::describe(e)});
        m_fileSender->forgetFile();
    }
}

void frmKelvane::cmdSendFile_Click()
{
    try {
        // When the connection ends for good the ticks stop but the sending
        // stays under way, and the next click stops it.
        if (m_fileSender->isRunning())
            m_fileSender->stop();
        else
            m_fileSender->start(cdOpenFile->FileName(), txtInterval->text(), bConnected);
    } catch (const std::exception& e) {
        Echo({QStringLiteral("Error"), KvErr::describe(e), QStringLiteral("cmdSendFile_Click")});
    }
}

void frmKelvane::txtInterval_Validate()
{
    // The box always shows the number a start will use; the focus moves on regardless.
    try {
        txtInterval->setText(NumToText(Val(txtInterval->text())));
    } catch (...) {
    }
}
