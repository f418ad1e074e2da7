#include "ui/frmKelvane.h"

#include "log/LogBox.h"
#include "log/Timestamp.h"

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

} // namespace

void frmKelvane::Echo(const QStringList& items)
{
    try {
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
        // Only the new entry is added: the cost follows the entry, not the log.
        // The box is not disabled around the change: in this toolkit that would
        // push the focus out of it for good.
        txtOutput->append(entry);
        // The caret goes to the very end so that the newest entry is in view,
        // however long the log has grown.
        txtOutput->setCaretPosition(txtOutput->length());
    } catch (...) {
        try {
            txtOutput->setText(QStringLiteral("Internal error."));
            txtOutput->widget()->setEnabled(true);
        } catch (...) {
        }
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
