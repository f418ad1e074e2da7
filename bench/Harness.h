#pragma once

// The window's logging work done outside the window, to measure against what
// the program does: entries built and received data shown by the window's
// rules, on a log box of the benchmark's choice.

#include "LogBox.h"
#include "PlainLogBox.h"

#include "log/LogEntry.h"
#include "net/SocketControl.h"
#include "send/FileSender.h"
#include "ui/Arrival.h"
#include "ui/SocketSendLink.h"

#include <QTest>

#include <functional>
#include <memory>

// Entries and received data, shown as the window shows them.
class LogHarness
{
public:
    explicit LogHarness(LogBox& box) : m_box(box) {}

    void echo(const QStringList& items)
    {
        m_box.append(logEntry(items, currentTimestamp()));
        m_box.setCaretPosition(m_box.length());
    }
    void show(qint32 count, const QString& sender, const QByteArray& data)
    {
        if (flat)
            Arrival::appendFlat(m_box, data);
        else
            echoBytes(Arrival::entryItems(count, sender, data));
    }
    void echoBytes(const QByteArrayList& items)
    {
        m_box.append(logEntry(items, currentTimestamp().toLatin1()));
        m_box.setCaretPosition(m_box.length());
    }

    bool flat = true;

private:
    LogBox& m_box;
};

// The window's socket control and file sender, logging into a QPlainTextEdit.
class PlainWindow : public QObject
{
public:
    PlainWindow()
    {
        box.resize(500, 190);
        QObject::connect(&socket, &SocketControl::dataArrival, this,
                         [this](qint32 count) { log.show(count, socket.RemoteHostIP(), socket.GetData()); });
        sender = new FileSender(std::make_unique<SocketSendLink>(&socket), this);
        QObject::connect(sender, &FileSender::report, this,
                         [this](const QStringList& items) { log.echo(items); });
        QObject::connect(sender, &FileSender::sent, this,
                         [this](const QByteArrayList& items) { log.echoBytes(items); });
        QObject::connect(&socket, &SocketControl::bytesWritten, sender, &FileSender::linkDrained);
        QObject::connect(&socket, &SocketControl::bytesNotSent, sender, &FileSender::dataLost);
    }

    // A TCP client of a loopback peer; true once connected.
    bool connectTo(quint16 port)
    {
        socket.setRemoteHost(QStringLiteral("127.0.0.1"));
        socket.setRemotePort(port);
        socket.Connect();
        return QTest::qWaitFor([this] { return socket.State() == SocketControl::sckConnected; }, 5000);
    }

    SocketControl socket;
    PlainLogBox box;
    LogHarness log{box};
    FileSender* sender = nullptr;
};
