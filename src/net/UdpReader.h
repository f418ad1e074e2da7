#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>

#include <array>
#include <atomic>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

// Reads a bound UDP socket on a thread of its own, as fast as datagrams come,
// so that a peer faster than the window loses nothing while the window is
// busy. Datagrams wait here, in order, until the window's thread takes them.
// What waits is bounded: past the bound the reader stops reading, the
// socket's own buffer fills, and the system drops what does not fit, which
// takeDropped() then counts.
class UdpReader : public QObject
{
    Q_OBJECT

public:
    struct Datagram
    {
        QByteArray payload;
        QHostAddress sender;
        quint16 senderPort = 0;
    };

    // Asks for a receive buffer of bytes on descriptor, or the most the
    // system allows when that is less.
    static void raiseReceiveBuffer(qintptr descriptor, int bytes);

    // Reads descriptor, which stays the caller's: stop the reader before the
    // socket is closed. queueLimit counts payload and bookkeeping together.
    UdpReader(qintptr descriptor, qint64 queueLimit, QObject* parent = nullptr);
    ~UdpReader() override;

    // False, with errno set, when the thread cannot be started.
    bool start();
    // Ends the thread. Datagrams still waiting are discarded.
    void stop();

    // Moves the oldest waiting datagram into datagram; false when none waits.
    // After a false, datagramsWaiting() follows once more has come.
    bool take(Datagram& datagram);
    // Asks for datagramsWaiting() on a later turn of the event loop, for a
    // taker that stopped before the queue was empty. Connect with
    // Qt::QueuedConnection.
    void notifyLater();

    // Datagrams lost since the last call: dropped by the system while the
    // socket was full, or here when there was no memory to keep them.
    qint64 takeDropped();

signals:
    // Datagrams are waiting. Emitted from the reader's thread, and only after
    // take() has found the queue empty, so one take-up serves any number.
    void datagramsWaiting();
    // Reading failed for good with this errno; the thread has ended.
    void readFailed(int code);

private:
    struct Batch;
    struct Block;
    // Room for any socket address the socket reports.
    static constexpr int SenderSize = 28;
    using RawSender = std::array<char, SenderSize>;

    void run();
    void storeBatch(Batch& batch, int count);
    bool startBlock(qint64& unpublished);
    Block* newBlock();
    static void releaseBlock(Block* block);
    void nameSender(const RawSender& raw);
    void noteKernelDrops(quint32 counter);
    void wake();

    const int m_fd;
    const qint64 m_limit;
    int m_wake[2] = {-1, -1};
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};

    // The reader's thread only: the block it writes and how far.
    Block* m_writing = nullptr;
    qsizetype m_writeOffset = 0;

    // The window's thread only: the last sender, named once for all its datagrams.
    RawSender m_lastRaw = {};
    QHostAddress m_lastSender;
    quint16 m_lastSenderPort = 0;

    std::mutex m_mutex; // guards everything below
    // Blocks in order of writing; the window reads the first from m_readOffset.
    std::deque<Block*> m_blocks;
    std::vector<Block*> m_spares;
    qsizetype m_readOffset = 0;
    qint64 m_queuedBytes = 0;
    bool m_signalled = false;
    bool m_readerWaiting = false;
    // The socket's drop counter counts on from the socket's start and wraps
    // at 32 bits; the part not yet reported is the difference.
    quint32 m_kernelDrops = 0;
    quint32 m_kernelDropsReported = 0;
    qint64 m_unstored = 0;
};
