#pragma once

#include "platform/DatagramReader.h"

#include <deque>

// Reads through Qt alone, on the socket's own thread: a slice at a time
// between the window's other work, into a queue of its own. Datagrams the
// system drops while the window is busy go unseen here.
class QtDatagramReader : public DatagramReader
{
public:
    QtDatagramReader(QUdpSocket& socket, qint64 queueLimit, int receiveBuffer);
    ~QtDatagramReader() override;

    bool start() override;
    void stop() override;
    bool take(Datagram& datagram) override;
    void notifyLater() override;
    qint64 takeDropped() override;
    bool countsSystemDrops() const override { return false; }

    // For tests: the next read, if a datagram waits, fails as a broken
    // socket's would, and Qt reports it as its own.
    static void failNextRead();

private:
    void readSome();

    QUdpSocket& m_socket;
    const qint64 m_limit;
    QByteArray m_slot;
    QMetaObject::Connection m_readyRead;
    std::deque<Datagram> m_queue;
    qint64 m_queuedBytes = 0;
    qint64 m_unstored = 0;
    quint32 m_taken = 0;
    bool m_signalled = false;
    // Reading waits for the queue to empty an eighth of its room.
    bool m_full = false;
};
