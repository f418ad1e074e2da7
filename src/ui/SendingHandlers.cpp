// Line sending and file sending: the line is made ready in send/, the file
// is sent by the file sender; the window reads its controls and shows the result.

#include "ui/frmKelvane.h"

#include "net/SocketControl.h"
#include "platform/NumConv.h"
#include "send/Codec.h"
#include "send/FileSender.h"
#include "send/LineSend.h"
#include "ui/CommonDialog.h"
#include "ui/Controls.h"
#include "ui/LineBox.h"
#include "ui/SocketSendLink.h"
#include "ui/StatusLine.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace {

// Longest stretch of the line that a send selects.
constexpr int SelectAfterSend = 999;

const QString StopCaption = QStringLiteral("S&top");
const QString IdleCaption = QStringLiteral("Sen&d");

} // namespace

void frmKelvane::cmdSend1_Click()
{
    reporting(
        [this] {
            const HistoryLine typed{txtLine->text(), !optMode->value(0)};
            if (sendLine([&] { return prepareLine(typed.text, typed.hex, chkAppenCrLf->value() != 0); }))
                m_history.add(typed);
            // Typing replaces the line; Enter sends it again.
            txtLine->setSelection(0, SelectAfterSend);
        },
        {QStringLiteral("Error")});
}

bool frmKelvane::sendLine(const std::function<LineToSend()>& prepare)
{
    if (!m_connection->isConnected()) {
        Echo({QStringLiteral("Not connected.")});
        return false;
    }
    const LineToSend line = prepare();
    if (chkShow->value() == 1)
        echoBytes(line.sentEntry);
    wsClient->SendData(line.payload);
    return true;
}

void frmKelvane::optMode_Click(int index)
{
    Q_UNUSED(index);
    // HEX lines carry their own line ends, typed as 0D 0A.
    const bool hex = optMode->value(1);
    chkAppenCrLf->setValue(hex ? 0 : 1);
    chkAppenCrLf->setEnabled(!hex);
    m_hexLineChanged = true;
}

void frmKelvane::txtLine_GotFocus()
{
    // Enter in the line box sends the line.
    setDefaultButton(cmdSend1);
}

QString frmKelvane::hexLineNote()
{
    // A pasted megabyte is read once, at the next refresh, not at every one.
    if (m_hexLineChanged) {
        m_hexLineChanged = false;
        const QString line = txtLine->text();
        m_hexLineNote = optMode->value(1) && !line.isEmpty()
                            ? QStringLiteral(" | ") + hexLineText(ReadHexLine(line))
                            : QString();
    }
    return m_hexLineNote;
}

void frmKelvane::setUpFileSending()
{
    m_fileSender = new FileSender(std::make_unique<SocketSendLink>(wsClient), this);
    QTimer* timer = m_fileSender->timer();
    timer->setObjectName(QStringLiteral("tmrSendFile"));
    timer->setInterval(1000);

    connect(m_fileSender, &FileSender::report, this, &frmKelvane::Echo);
    connect(m_fileSender, &FileSender::sent, this, &frmKelvane::echoBytes);
    connect(m_fileSender, &FileSender::runningChanged, this,
            [this](bool running) { cmdSendFile->setText(running ? StopCaption : IdleCaption); });
    // A sending that waits for a slow peer goes on as soon as it takes some.
    connect(wsClient, &SocketControl::bytesWritten, m_fileSender, &FileSender::linkDrained);
    // After the window's own entry for the lost bytes: the sending then ends with its error.
    connect(wsClient, &SocketControl::bytesNotSent, m_fileSender, &FileSender::dataLost);

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
    reporting(
        [this] {
            try {
                if (!cdOpenFile->ChooseOpen()) {
                    // Nothing to report. The stream stays as it was, so a
                    // sending under way finishes the old file.
                    m_fileSender->forgetFile();
                    return;
                }
                m_fileSender->open(cdOpenFile->FileName());
            } catch (...) {
                m_fileSender->forgetFile();
                throw;
            }
        },
        {QStringLiteral("Error")});
}

void frmKelvane::cmdSendFile_Click()
{
    reporting(
        [this] {
            if (m_fileSender->isRunning())
                m_fileSender->stop();
            else
                m_fileSender->start(txtInterval->text(), m_connection->isConnected());
        },
        {QStringLiteral("Error")}, {QStringLiteral("cmdSendFile_Click")});
}

void frmKelvane::txtInterval_Validate()
{
    // The box always shows the number a start will use; the focus moves on regardless.
    try {
        txtInterval->setText(NumToText(Val(txtInterval->text())));
    } catch (...) {
    }
}
