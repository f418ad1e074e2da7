#include "ui/frmKelvane.h"

#include "log/LogBox.h"
#include "log/Timestamp.h"
#include "platform/KvError.h"

#include <QDateTime>
#include <QLocale>

namespace {

// Formatting through the locale costs more than the rest of an entry, and the
// text changes only once a second.
QString currentTimestamp()
{
    static qint64 cachedSecond = -1;
    static QString cachedText;
    const qint64 second = QDateTime::currentSecsSinceEpoch();
    if (second != cachedSecond) {
        const QDateTime now = QDateTime::fromSecsSinceEpoch(second);
        cachedText = logTimestamp(now, QLocale::system());
        cachedSecond = second;
    }
    return cachedText;
}

// One entry: CR LF, the time stamp, then each item with NUL shown as "?" and
// a CR LF after it.
QString entryText(const QStringList& items)
{
    QString entry;
    qsizetype size = 32;
    for (const QString& item : items)
        size += item.size() + 2;
    entry.reserve(size);
    entry += QLatin1String("\r\n<");
    entry += currentTimestamp();
    entry += QLatin1String("> - ");
    for (const QString& item : items) {
        const qsizetype start = entry.size();
        entry += item;
        // A NUL never reaches the log through an entry.
        QChar* data = entry.data();
        for (qsizetype i = start; i < entry.size(); ++i)
            if (data[i].unicode() == 0)
                data[i] = QLatin1Char('?');
        entry += QLatin1String("\r\n");
    }
    return entry;
}

} // namespace

void frmKelvane::Echo(const QStringList& items)
{
    QString failure;
    try {
        // Only the new entry is added: the cost follows the entry, not the log.
        // The box is not disabled around the change: in this toolkit that would
        // push the focus out of it for good.
        txtOutput->append(entryText(items));
        // The caret goes to the very end so that the newest entry is in view,
        // however long the log has grown.
        txtOutput->setCaretPosition(txtOutput->length());
        return;
    } catch (const std::exception& e) {
        try {
            failure = KvErr::describe(e);
        } catch (...) {
        }
    } catch (...) {
    }
    // The log keeps everything it holds; a short entry says what is missing.
    try {
        qsizetype size = 0;
        for (const QString& item : items)
            size += item.size();
        txtOutput->append(entryText({QStringLiteral("%1: an entry of %2 characters was not written.")
                                         .arg(failure.isEmpty() ? QStringLiteral("Failure") : failure)
                                         .arg(size)}));
        txtOutput->setCaretPosition(txtOutput->length());
    } catch (...) {
        // Nothing more can be written now; the log stays as it was.
    }
}

void frmKelvane::cmdClear_Click()
{
    txtOutput->clear();
}

void frmKelvane::txtOutput_Notice(const QString& text)
{
    Echo({text});
}

void frmKelvane::txtOutput_GotFocus()
{
    // Enter in the log types a line break instead of opening a file; a send
    // button that holds the role keeps it.
    if (m_defaultButton == cmdOpen)
        setDefaultButton(nullptr);
}
