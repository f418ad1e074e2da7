#include "ui/frmKelvane.h"

#include "net/SocketControl.h"
#include "platform/CommonDialog.h"
#include "platform/KvError.h"
#include "platform/NumConv.h"
#include "platform/TextStream.h"
#include "ui/Controls.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace {
const QString StopCaption = QStringLiteral("S&top");
const QString IdleCaption = QStringLiteral("Sen&d");
const QString CrLf = QStringLiteral("\r\n");
} // namespace

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
                    bFileOpen = false;
                    return;
                }
                if (e.number() != KvErr::DialogBadFileName)
                    throw;
                // A preset the dialog cannot use: start it afresh without one.
                cdOpenFile->setFileName(QString());
            }
        }
        if (bFileOpen) {
            tsSendFile->Close();
            m_hasUnsentLine = false;
            m_unsentLine.clear();
        }
        fsoFiles = true;
        const QString path = cdOpenFile->FileName();
        tsSendFile = TextStream::open(path);
        // A line held back from the old file has no place in the new one.
        m_hasUnsentLine = false;
        m_unsentLine.clear();
        Echo({QStringLiteral("File open: "), path});
        bFileOpen = true;
    } catch (const KvError& e) {
        Echo({QStringLiteral("Error"), e.description()});
        bFileOpen = false;
    } catch (const std::exception& e) {
        Echo({QStringLiteral("Error"), QString::fromLocal8Bit(e.what())});
        bFileOpen = false;
    }
}

void frmKelvane::cmdSendFile_Click()
{
    try {
        // The caption tells the state: when the connection ends for good the
        // timer stops but the caption stays, and the next click stops.
        if (cmdSendFile->text() == StopCaption) {
            tmrSendFile->stop();
            cmdSendFile->setText(IdleCaption);
            Echo({QStringLiteral("Stopped")});
            return;
        }
        if (!bFileOpen) {
            Echo({QStringLiteral("Please select a file to send.")});
            return;
        }
        if (!bConnected) {
            Echo({QStringLiteral("Not connected.")});
            return;
        }
        Echo({QStringLiteral("Sending File: ") + cdOpenFile->FileName()});
        const qint32 interval = RoundToInt32(Val(txtInterval->text()));
        // QTimer takes 0 to INT_MAX milliseconds; 0 ticks whenever the event loop is idle.
        if (interval < 0)
            throw KvErr::invalidPropertyValue();
        tmrSendFile->setInterval(interval);
        tmrSendFile->start();
        cmdSendFile->setText(StopCaption);
    } catch (const KvError& e) {
        Echo({QStringLiteral("Error"), e.description(), QStringLiteral("cmdSendFile_Click")});
    } catch (const std::exception& e) {
        Echo(
            {QStringLiteral("Error"), QString::fromLocal8Bit(e.what()), QStringLiteral("cmdSendFile_Click")});
    }
}

void frmKelvane::tmrSendFile_Timer()
{
    auto stopSendingAfter = [this](const QString& description) {
        Echo({QStringLiteral("*** Error ***"), description, QStringLiteral("File sending stopped.")});
        tmrSendFile->stop();
        cmdSendFile->setText(IdleCaption);
    };
    try {
        if (!tsSendFile)
            throw KvError(91, QStringLiteral("Object variable or With block variable not set"));
        // A line whose send failed goes first; the file is finished only after it.
        if (!m_hasUnsentLine && tsSendFile->AtEndOfStream()) {
            Echo({QStringLiteral("Completed.")});
            tmrSendFile->stop();
            tsSendFile->Close();
            bFileOpen = false;
            cmdSendFile->setText(IdleCaption);
            return;
        }
        if (!m_hasUnsentLine) {
            m_unsentLine = tsSendFile->ReadLine();
            m_hasUnsentLine = true;
        }
        QString line = m_unsentLine;
        if (chkAppenCrLf->value() != 0)
            line += CrLf;
        wsClient->SendData(line);
        m_hasUnsentLine = false;
        m_unsentLine.clear();
        if (chkShow->value() == 1)
            Echo({QStringLiteral("Sent :") + line});
    } catch (const KvError& e) {
        stopSendingAfter(e.description());
    } catch (const std::exception& e) {
        stopSendingAfter(QString::fromLocal8Bit(e.what()));
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
