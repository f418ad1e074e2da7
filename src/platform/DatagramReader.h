#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>

#include <memory>

class QUdpSocket;

// Reads a bound UDP socket as fast as datagrams come, so that a peer faster
// than the window loses as little as the system allows. Datagrams wait here,
// in order, until the window's thread takes them. What waits is bounded:
// past the bound the reader stops reading, the socket's own buffer fills,
// and the system drops what does not fit.
//
// Two readers: the system's own, on a thread of its own, taking datagrams in
// batches and counting the system's drops (Linux); and one in Qt alone, on
// the socket's thread, which cannot see the system's drops.
class DatagramReader : public QObject
{
    Q_OBJECT

public:
    struct Datagram
    {
        QByteArray payload;
        QHostAddress sender;
        quint16 senderPort = 0;
    };

    // The reader for socket, which stays the caller's: stop the reader before
    // the socket is closed. The socket's receive buffer is raised to
    // receiveBuffer bytes, or the most the system allows. queueLimit counts
    // payload and bookkeeping together. portable asks for the reader in Qt
    // alone where the system's own would be taken.
    static std::unique_ptr<DatagramReader> open(QUdpSocket& socket, qint64 queueLimit, int receiveBuffer,
                                                bool portable = false);
    ~DatagramReader() override = default;

    // False, with errno set, when reading cannot start.
    virtual bool start() = 0;
    // Ends reading. Datagrams still waiting are discarded.
    virtual void stop() = 0;

    // Moves the oldest waiting datagram into datagram; false when none waits.
    // After a false, datagramsWaiting() follows once more has come.
    virtual bool take(Datagram& datagram) = 0;
    // Asks for datagramsWaiting() on a later turn of the event loop, for a
    // taker that stopped before the queue was empty. Connect with
    // Qt::QueuedConnection.
    virtual void notifyLater() = 0;

    // Datagrams lost since the last call: those the reader could not keep
    // and, where countsSystemDrops(), those the system dropped while the
    // socket was full.
    virtual qint64 takeDropped() = 0;
    virtual bool countsSystemDrops() const = 0;

signals:
    // Datagrams are waiting. Emitted only after take() has found the queue
    // empty, so one take-up serves any number; possibly from another thread.
    void datagramsWaiting();
    // Reading failed for good, for this reason; the reader has stopped.
    // Never from inside take() or a read of Qt's: a handler may free the reader.
    void readFailed(const QString& description);

protected:
    DatagramReader() = default;
};
