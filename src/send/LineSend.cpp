#include "ui/frmKelvane.h"

#include "log/LogBox.h"
#include "net/SocketControl.h"
#include "platform/KvError.h"
#include "send/Codec.h"
#include "ui/Controls.h"
#include "ui/LineBox.h"


namespace {

// Longest stretch of the line that a send selects.
constexpr int SelectAfterSend = 999;

// Every character goes out as one byte. One that has none (the euro sign,
// say) must stop the send: turning it into "?" would put a byte on the wire
// that the user never typed.
void requireOneByteEach(const QString& text)
{
    const qsizetype n = text.size();
    const QChar* c = text.constData();
    for (qsizetype i = 0; i < n; ++i) {
        if (c[i].unicode() <= 0xFF)
            continue;
        char32_t code = c[i].unicode();
        QString shown(c[i]);
        if (c[i].isHighSurrogate() && i + 1 < n && c[i + 1].isLowSurrogate()) {
            code = QChar::surrogateToUcs4(c[i], c[i + 1]);
            shown += c[i + 1];
        }
        const QString hex = QString::number(uint(code), 16).toUpper().rightJustified(4, QLatin1Char('0'));
        throw KvError(KvErrNotOneByte, QStringLiteral("Character '%1' (U+%2) has no single-byte code; "
                                                      "nothing was sent.")
                                           .arg(shown, hex));
    }
}

} // namespace

void frmKelvane::cmdSend1_Click()
{
    try {
        if (!bConnected) {
            Echo({QStringLiteral("Not connected.")});
        } else {
            QString line = txtLine->text();
            // Checked on the whole line, quoted or not, before anything is logged.
            requireOneByteEach(line);
            if (optMode->value(0)) {
                if (chkAppenCrLf->value() != 0)
                    line += QLatin1String("\r\n");
                if (chkShow->value() == 1)
                    Echo({QStringLiteral("Sent:"), line});
                wsClient->SendData(line);
            } else {
                // HEX lines carry their own line ends; the CR LF box is not asked.
                const QString payload = ParseHexLine(line);
                const QString display = SpacedHex(payload);
                if (chkShow->value() == 1)
                    Echo({QStringLiteral("Sent:"), payload, display});
                wsClient->SendData(payload);
            }
        }
        // Typing replaces the line; Enter sends it again.
        txtLine->setSelection(0, SelectAfterSend);
    } catch (const KvError& e) {
        Echo({QStringLiteral("Error"), e.description()});
    } catch (const std::exception& e) {
        Echo({QStringLiteral("Error"), QString::fromLocal8Bit(e.what())});
    }
}

void frmKelvane::optMode_Click(int index)
{
    Q_UNUSED(index);
    // HEX lines carry their own line ends, typed as 0D 0A.
    if (optMode->value(1)) {
        chkAppenCrLf->setValue(0);
        chkAppenCrLf->setEnabled(false);
    } else {
        chkAppenCrLf->setValue(1);
        chkAppenCrLf->setEnabled(true);
    }
}

void frmKelvane::txtLine_GotFocus()
{
    // Enter in the line box sends the line.
    setDefaultButton(cmdSend1);
}
