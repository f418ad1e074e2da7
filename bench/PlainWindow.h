#pragma once

// The window's logging work done with a QPlainTextEdit for its log, to measure
// the program's log box against: the same socket control and file sender,
// entries built the same way, received data shown by the same rules.

#include "PlainLogBox.h"

#include "log/LogEntry.h"
#include "net/SocketControl.h"
#include "send/Codec.h"
#include "send/FileSender.h"
#include "ui/SocketSendLink.h"

#include <QTest>

#include <memory>

class PlainWindow : public QObject
{
public:
    PlainWindow()
    {
        box.resize(500, 190);
        QObject::connect(&socket, &SocketControl::dataArrival, this, [this](qint32 count) { show(count); });
        sender = new FileSender(std::make_unique<SocketSendLink>(&socket), this);
        QObject::connect(sender, &FileSender::report, this,
                         [this](const QStringList& items) { echo(items); });
        QObject::connect(&socket, &SocketControl::bytesWritten, sender, &FileSender::linkDrained);
    }

    // A TCP client of a loopback peer; true once connected.
    bool connectTo(quint16 port)
    {
        socket.setRemoteHost(QStringLiteral("127.0.0.1"));
        socket.setRemotePort(port);
        socket.Connect();
        return QTest::qWaitFor([this] { return socket.State() == SocketControl::sckConnected; }, 5000);
    }

    void echo(const QStringList& items)
    {
        box.append(logEntry(items, currentTimestamp()));
        box.setCaretPosition(box.length());
    }

    bool flat = true;
    SocketControl socket;
    PlainLogBox box;
    FileSender* sender = nullptr;

private:
    void show(qint32 count)
    {
        const QString data = socket.GetData();
        if (!flat) {
            echo({QString::number(count) + QStringLiteral(" bytes received from ") + socket.RemoteHostIP(),
                  QStringLiteral("Data:"), data, SpacedHex(data)});
            return;
        }
        box.append(data);
        const qsizetype lineBreak = box.lastIndexOf(QStringLiteral("\r\n"));
        box.setCaretPosition(lineBreak < 0 ? box.length() : lineBreak + 2);
    }
};
