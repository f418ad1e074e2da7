// The output log: entries, the clear button, the focus rule, and the display
// of received data.

#include "ui/frmKelvane.h"

#include "log/LogEntry.h"
#include "net/SocketControl.h"
#include "platform/KvError.h"
#include "platform/Latin1.h"
#include "ui/Arrival.h"
#include "ui/Controls.h"
#include "ui/LogView.h"

namespace {

void appendEntry(LogView& log, const QStringList& items, bool milliseconds)
{
    log.append(logEntry(items, currentTimestamp(milliseconds)));
}

// Bytes stay bytes, unless the time stamp has a character beyond Latin-1 (a
// locale's own word for the afternoon): then the entry is made of text.
void appendEntry(LogView& log, const QByteArrayList& items, bool milliseconds)
{
    const QString timestamp = currentTimestamp(milliseconds);
    if (Latin1::fits(timestamp))
        return log.append(logEntry(items, timestamp.toLatin1()));
    QStringList texts;
    for (const QByteArray& item : items)
        texts.append(QString::fromLatin1(item));
    log.append(logEntry(texts, timestamp));
}

template <typename Items> void echo(LogView& log, const Items& items, bool milliseconds)
{
    QString failure;
    try {
        // Only the new entry is added: the cost follows the entry, not the log.
        // The box is not disabled around the change: in this toolkit that would
        // push the focus out of it for good.
        appendEntry(log, items, milliseconds);
        // The caret goes to the very end so that the newest entry is in view,
        // however long the log has grown.
        log.setCaretPosition(log.length());
        return;
    } catch (const std::exception& e) {
        failure = KvErr::describe(e);
    } catch (...) {
    }
    // The log keeps everything it holds; a short entry says what is missing.
    try {
        qsizetype size = 0;
        for (const auto& item : items)
            size += item.size();
        appendEntry(log,
                    QStringList{(failure.isEmpty() ? QStringLiteral("Failure") : failure) +
                                QStringLiteral(": an entry of ") + QString::number(size) +
                                QStringLiteral(" characters was not written.")},
                    milliseconds);
        log.setCaretPosition(log.length());
    } catch (...) {
        // Nothing more can be written now; the log stays as it was.
    }
}

} // namespace

void frmKelvane::Echo(const QStringList& items)
{
    echo(*txtOutput, items, m_milliseconds);
}

void frmKelvane::echoBytes(const QByteArrayList& items)
{
    echo(*txtOutput, items, m_milliseconds);
}

void frmKelvane::reporting(const std::function<void()>& work, const QStringList& before,
                           const QStringList& after)
{
    try {
        work();
    } catch (const std::exception& e) {
        Echo(before + QStringList{KvErr::describe(e)} + after);
    }
}

void frmKelvane::cmdClear_Click()
{
    txtOutput->clear();
}

void frmKelvane::txtOutput_GotFocus()
{
    // Enter in the log types a line break instead of opening a file; a send
    // button that holds the role keeps it.
    if (m_defaultButton == cmdOpen)
        setDefaultButton(nullptr);
}

void frmKelvane::textBox_Notice(const QString& text)
{
    Echo({text});
}

void frmKelvane::wsClient_DataArrival(qint32 bytesTotal)
{
    qsizetype taken = -1;
    try {
        // Everything waiting, whatever its length: nothing that arrived may go unshown.
        const QByteArray data = wsClient->GetData();
        taken = data.size();
        if (chkFlat->value() == 1)
            Arrival::appendFlat(*txtOutput, data);
        else
            echoBytes(Arrival::entryItems(bytesTotal, wsClient->RemoteHostIP(), data));
        replyTo(data);
    } catch (const std::bad_alloc&) {
        // Data taken from the socket but not shown is lost: say how much.
        Echo({taken >= 0 ? QStringLiteral("Out of memory: ") + QString::number(taken) +
                               QStringLiteral(" bytes received were not shown.")
                         : KvErr::describe(std::bad_alloc())});
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
