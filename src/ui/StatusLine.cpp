#include "ui/StatusLine.h"

#include "platform/NumConv.h"
#include "send/Codec.h"

#include <QFileInfo>

#include <cmath>

QString byteSize(qint64 bytes)
{
    constexpr double KB = 1024.0;
    if (bytes < KB)
        return bytes == 1 ? QStringLiteral("1 byte") : QString::number(bytes) + QStringLiteral(" bytes");
    static const char* const units[] = {"KB", "MB", "GB", "TB"};
    double value = bytes / KB;
    int unit = 0;
    // The unit is chosen for the value as shown: 1,048,575 bytes is 1.0 MB, not 1024.0 KB.
    while (std::round(value * 10) >= KB * 10 && unit < 3) {
        value /= KB;
        ++unit;
    }
    return QString::number(value, 'f', 1) + QLatin1Char(' ') + QLatin1String(units[unit]);
}

QString statusText(const StatusFacts& f)
{
    using S = StatusFacts::Situation;
    const SocketControl::Traffic& t = f.traffic;
    const QString carried = f.udp ? QStringLiteral(" - ") + CountText(t.datagramsIn) +
                                        (t.datagramsIn == 1 ? QStringLiteral(" datagram in, ")
                                                            : QStringLiteral(" datagrams in, ")) +
                                        CountText(t.datagramsDropped) + QStringLiteral(" dropped, ") +
                                        byteSize(t.bytesOut) + QStringLiteral(" out")
                                  : QStringLiteral(" - ") + byteSize(t.bytesIn) + QStringLiteral(" in, ") +
                                        byteSize(t.bytesOut) + QStringLiteral(" out");
    const QString port = QString::number(f.localPort);
    QString text;
    switch (f.situation) {
    case S::Idle:
        text = QStringLiteral("Not connected");
        break;
    case S::Connecting:
        text = QStringLiteral("Connecting to ") + f.peer;
        break;
    case S::Listening:
        text = QStringLiteral("Listening on port ") + port;
        break;
    case S::ListeningAgain:
        text = QStringLiteral("Listening again on port ") + port + carried;
        break;
    case S::Connected:
        text = f.udp ? QStringLiteral("UDP on port ") + port : QStringLiteral("Connected to ") + f.peer;
        // Whom a reply should go to.
        if (f.udp && !f.lastSender.isEmpty())
            text += QStringLiteral(", last datagram from ") + f.lastSender;
        if (!f.tls.isEmpty())
            text += QStringLiteral(" (") + f.tls + QLatin1Char(')');
        text += carried;
        break;
    }
    if (f.sending) {
        text += QStringLiteral(" | Sending ") + QFileInfo(f.file.path).fileName() +
                QStringLiteral(": line ") + CountText(f.file.line);
        if (f.file.fileSize > 0)
            text += QStringLiteral(" (") + QString::number(100 * f.file.bytesRead / f.file.fileSize) +
                    QStringLiteral("%)");
    }
    if (f.repeating)
        text +=
            QStringLiteral(" | Repeating: ") + CountText(f.repeatSent) +
            (f.repeatTimes > 0 ? QStringLiteral(" of ") + CountText(f.repeatTimes) : QStringLiteral(" sent"));
    if (f.replying)
        text += QStringLiteral(" | ") + CountText(f.replies) +
                (f.replies == 1 ? QStringLiteral(" reply") : QStringLiteral(" replies"));
    if (f.capturing)
        text += QStringLiteral(" | Capturing to ") + QFileInfo(f.capturePath).fileName() +
                QStringLiteral(" - ") + byteSize(f.captureBytes);
    return text;
}

// A control character would break the one line or vanish; it shows as its code.
QString visibleText(const QString& text)
{
    QString shown;
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        shown += code < 0x20 || (code >= 0x7F && code < 0xA0)
                     ? QLatin1Char('<') + QString::number(code, 16).toUpper().rightJustified(2, u'0') +
                           QLatin1Char('>')
                     : QString(c);
    }
    return shown;
}

QString hexLineText(const HexLineReading& reading)
{
    using R = HexLineReading;
    const QString column = QStringLiteral("column ") + CountText(reading.at + 1);
    const QString place =
        QLatin1Char('"') + visibleText(reading.characters) + QStringLiteral("\" at ") + column;
    const QString readsAs =
        QString::number(reading.readsAs, 16).toUpper().rightJustified(2, QLatin1Char('0'));
    switch (reading.doubt) {
    case R::UnclosedQuote:
        return QStringLiteral("HEX: unclosed quote at ") + column + QStringLiteral(", nothing will be sent");
    case R::NotOneByte:
        return QStringLiteral("HEX: ") + place + QStringLiteral(" is not one byte, nothing will be sent");
    case R::NotHex:
    case R::OddDigits:
    case R::None:
        break;
    }
    QString text =
        QStringLiteral("HEX: ") +
        (reading.bytes == 1 ? QStringLiteral("1 byte") : CountText(reading.bytes) + QStringLiteral(" bytes"));
    if (reading.doubt == R::NotHex)
        text += QStringLiteral("; ") + place + QStringLiteral(" is not hex, reads as ") + readsAs;
    else if (reading.doubt == R::OddDigits)
        text += QStringLiteral("; odd digit count, ") + place + QStringLiteral(" reads as ") + readsAs;
    return text;
}
