// The system's own datagram reader, on Linux: a thread of its own takes
// datagrams in batches (recvmmsg) and hears of every one the system dropped
// (SO_RXQ_OVFL).

#include <QtGlobal>

#ifdef Q_OS_LINUX

#include "platform/DatagramReader.h"

#include "platform/QtDatagramReader.h"

#include <QNetworkInterface>
#include <QUdpSocket>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Datagrams taken with one system call.
constexpr int BatchSize = 32;
// Room for the largest datagram UDP carries.
constexpr int SlotSize = 65536;
// Waiting datagrams are kept back to back in blocks of this size, so that a
// flood costs no allocation per datagram.
constexpr qsizetype BlockSize = 1024 * 1024;
// Emptied blocks kept for reuse; more go back to the system.
constexpr size_t SpareBlocks = 8;
// How long to wait before reading again when the system is short of memory.
constexpr int ShortOfMemoryWaitMs = 10;

// What stands before each datagram in a block.
struct RecordHeader
{
    quint32 size;
    char sender[28];
};

// A record's room in a block: header and payload, kept 8-byte aligned. The
// header counts against the bound too, so even empty datagrams fill it.
qsizetype recordSize(qsizetype payload)
{
    return (qsizetype(sizeof(RecordHeader)) + payload + 7) & ~qsizetype(7);
}

// ICMP reports on earlier sends and passing shortages: reading goes on.
bool passing(int code)
{
    return code == EAGAIN || code == EWOULDBLOCK || code == EINTR || code == ECONNREFUSED ||
           code == EHOSTUNREACH || code == ENETUNREACH || code == ECONNRESET;
}

bool shortOfMemory(int code)
{
    return code == ENOMEM || code == ENOBUFS;
}

// The socket's drop counter as delivered with a datagram; false when absent,
// which the system does while the counter is still 0.
bool dropCounter(msghdr& header, quint32& counter)
{
    for (cmsghdr* c = CMSG_FIRSTHDR(&header); c; c = CMSG_NXTHDR(&header, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL) {
            std::memcpy(&counter, CMSG_DATA(c), sizeof counter);
            return true;
        }
    }
    return false;
}

void setNonBlocking(int fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

// Reads on a thread of its own; the window's thread takes the datagrams.
class LinuxDatagramReader : public DatagramReader
{
public:
    LinuxDatagramReader(int descriptor, qint64 queueLimit);
    ~LinuxDatagramReader() override;

    bool start() override;
    void stop() override;
    bool take(Datagram& datagram) override;
    void notifyLater() override;
    qint64 takeDropped() override;
    bool countsSystemDrops() const override { return true; }

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

} // namespace

// The buffers of one read: a slot per datagram, its sender and its control data.
struct LinuxDatagramReader::Batch
{
    static constexpr size_t ControlSize = 64;

    Batch() : data(size_t(BatchSize) * SlotSize)
    {
        for (int i = 0; i < BatchSize; ++i) {
            iov[i].iov_base = slot(i);
            iov[i].iov_len = SlotSize;
            msghdr& h = header(i);
            h.msg_name = &from[i];
            h.msg_iov = &iov[i];
            h.msg_iovlen = 1;
            h.msg_control = control[i];
        }
    }

    char* slot(int i) { return data.data() + size_t(i) * SlotSize; }

    msghdr& header(int i) { return messages[i].msg_hdr; }

    // Reads what is waiting, up to a batch; -1 with errno when nothing was read.
    int receive(int fd)
    {
        for (int i = 0; i < BatchSize; ++i) {
            msghdr& h = header(i);
            h.msg_namelen = sizeof from[i];
            h.msg_controllen = ControlSize;
            h.msg_flags = 0;
        }
        const int n = ::recvmmsg(fd, messages, BatchSize, MSG_DONTWAIT, nullptr);
        for (int i = 0; i < n; ++i)
            lengths[i] = messages[i].msg_len;
        return n;
    }

    std::vector<char> data;
    sockaddr_storage from[BatchSize] = {};
    iovec iov[BatchSize] = {};
    alignas(cmsghdr) char control[BatchSize][ControlSize] = {};
    size_t lengths[BatchSize] = {};
    mmsghdr messages[BatchSize] = {};
};

// Datagrams back to back, each after its header. The reader writes past
// `published`, the window reads below it; `sealed` once the reader has moved
// on to the next block.
struct LinuxDatagramReader::Block
{
    char* data = nullptr;
    qsizetype published = 0;
    bool sealed = false;
};

LinuxDatagramReader::LinuxDatagramReader(int descriptor, qint64 queueLimit)
    : m_fd(descriptor), m_limit(queueLimit)
{
    static_assert(sizeof(sockaddr_in6) <= SenderSize && sizeof(RecordHeader::sender) == SenderSize);
}

LinuxDatagramReader::~LinuxDatagramReader()
{
    stop();
    for (int fd : m_wake) {
        if (fd != -1)
            ::close(fd);
    }
}

std::unique_ptr<DatagramReader> DatagramReader::open(QUdpSocket& socket, qint64 queueLimit, int receiveBuffer,
                                                     bool portable)
{
    if (portable)
        return std::make_unique<QtDatagramReader>(socket, queueLimit, receiveBuffer);
    const int fd = int(socket.socketDescriptor());
    // The usual cap (net.core.rmem_max) binds ordinary users; a process the
    // system trusts with more gets the full size.
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &receiveBuffer, sizeof receiveBuffer) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    return std::make_unique<LinuxDatagramReader>(fd, queueLimit);
}

bool LinuxDatagramReader::start()
{
    if (m_wake[0] == -1) {
        if (::pipe(m_wake) != 0)
            return false;
        setNonBlocking(m_wake[0]);
        setNonBlocking(m_wake[1]);
    }
    // Every datagram then carries the count of those dropped before it.
    const int on = 1;
    ::setsockopt(m_fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
    m_stopping = false;
    try {
        m_spares.reserve(SpareBlocks);
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error& e) {
        errno = e.code().value();
        return false;
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return false;
    }
    return true;
}

void LinuxDatagramReader::stop()
{
    if (m_thread.joinable()) {
        m_stopping = true;
        wake();
        m_thread.join();
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    for (Block* block : m_blocks)
        releaseBlock(block);
    for (Block* block : m_spares)
        releaseBlock(block);
    m_blocks.clear();
    m_spares.clear();
    m_readOffset = 0;
    m_queuedBytes = 0;
    m_writing = nullptr;
    m_writeOffset = 0;
}

bool LinuxDatagramReader::take(Datagram& datagram)
{
    for (;;) {
        RawSender raw;
        Block* retired = nullptr;
        bool got = false;
        bool lost = false;
        bool resume = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            while (!m_blocks.empty()) {
                Block* block = m_blocks.front();
                if (m_readOffset >= block->published) {
                    if (!block->sealed)
                        break;
                    // Read to its end: reuse it, or give it back once enough are spare.
                    m_blocks.pop_front();
                    m_readOffset = 0;
                    if (m_spares.size() < SpareBlocks)
                        m_spares.push_back(block); // room reserved at start
                    else if (!retired)
                        retired = block;
                    else
                        releaseBlock(block);
                    continue;
                }
                const char* record = block->data + m_readOffset;
                RecordHeader header;
                std::memcpy(&header, record, sizeof header);
                m_readOffset += recordSize(header.size);
                m_queuedBytes -= recordSize(header.size);
                try {
                    datagram.payload = QByteArray(record + sizeof header, qsizetype(header.size));
                    std::memcpy(raw.data(), header.sender, SenderSize);
                    got = true;
                } catch (const std::bad_alloc&) {
                    ++m_unstored;
                    lost = true;
                }
                break;
            }
            if (!got && !lost)
                m_signalled = false;
            // The reader goes on once an eighth of the room is free, not at
            // every datagram taken.
            if (m_readerWaiting && m_queuedBytes <= m_limit - m_limit / 8) {
                m_readerWaiting = false;
                resume = true;
            }
        }
        if (retired)
            releaseBlock(retired);
        if (resume)
            wake();
        if (lost)
            continue;
        if (!got)
            return false;
        if (raw != m_lastRaw) {
            try {
                nameSender(raw);
            } catch (const std::bad_alloc&) {
                std::lock_guard<std::mutex> lock(m_mutex);
                ++m_unstored;
                continue;
            }
        }
        datagram.sender = m_lastSender;
        datagram.senderPort = m_lastSenderPort;
        return true;
    }
}

void LinuxDatagramReader::nameSender(const RawSender& raw)
{
    sockaddr_storage from{};
    std::memcpy(&from, raw.data(), SenderSize);
    QHostAddress address;
    quint16 port = 0;
    if (from.ss_family == AF_INET6) {
        const auto& a6 = reinterpret_cast<const sockaddr_in6&>(from);
        address.setAddress(reinterpret_cast<const quint8*>(&a6.sin6_addr));
        // A link-local sender goes by its interface, as Qt's own sockets name it.
        if (a6.sin6_scope_id != 0) {
            const QString scope = QNetworkInterface::interfaceNameFromIndex(int(a6.sin6_scope_id));
            address.setScopeId(scope.isEmpty() ? QString::number(a6.sin6_scope_id) : scope);
        }
        port = ntohs(a6.sin6_port);
    } else if (from.ss_family == AF_INET) {
        const auto& a4 = reinterpret_cast<const sockaddr_in&>(from);
        address.setAddress(quint32(ntohl(a4.sin_addr.s_addr)));
        port = ntohs(a4.sin_port);
    }
    m_lastSender = address;
    m_lastSenderPort = port;
    m_lastRaw = raw;
}

void LinuxDatagramReader::notifyLater()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_signalled = true;
    }
    emit datagramsWaiting();
}

qint64 LinuxDatagramReader::takeDropped()
{
    // The counter as it stands: drops after the last datagram read count too,
    // though no datagram has carried them yet.
    quint32 info[SK_MEMINFO_VARS] = {};
    socklen_t size = sizeof info;
    const bool known = ::getsockopt(m_fd, SOL_SOCKET, SO_MEMINFO, info, &size) == 0 &&
                       size > SK_MEMINFO_DROPS * sizeof(quint32);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (known)
        noteKernelDrops(info[SK_MEMINFO_DROPS]);
    const qint64 dropped = qint64(quint32(m_kernelDrops - m_kernelDropsReported)) + m_unstored;
    m_kernelDropsReported = m_kernelDrops;
    m_unstored = 0;
    return dropped;
}

void LinuxDatagramReader::noteKernelDrops(quint32 counter)
{
    // The counter only grows; a reading older than one already seen is ignored.
    if (quint32(counter - m_kernelDrops) < 0x80000000u)
        m_kernelDrops = counter;
}

void LinuxDatagramReader::wake()
{
    const char byte = 0;
    // A full pipe already wakes the reader.
    (void)!::write(m_wake[1], &byte, 1);
}

LinuxDatagramReader::Block* LinuxDatagramReader::newBlock()
{
    // Filled in one call rather than one page fault at a time.
    void* data = ::mmap(nullptr, size_t(BlockSize), PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (data == MAP_FAILED)
        return nullptr;
    try {
        auto* block = new Block;
        block->data = static_cast<char*>(data);
        return block;
    } catch (const std::bad_alloc&) {
        ::munmap(data, size_t(BlockSize));
        return nullptr;
    }
}

void LinuxDatagramReader::releaseBlock(Block* block)
{
    ::munmap(block->data, size_t(BlockSize));
    delete block;
}

bool LinuxDatagramReader::startBlock(qint64& unpublished)
{
    Block* next = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_spares.empty()) {
            next = m_spares.back();
            m_spares.pop_back();
        }
    }
    if (!next)
        next = newBlock();
    if (!next)
        return false;
    next->published = 0;
    next->sealed = false;

    std::lock_guard<std::mutex> lock(m_mutex);
    try {
        m_blocks.push_back(next);
    } catch (const std::bad_alloc&) {
        releaseBlock(next);
        return false;
    }
    if (m_writing) {
        m_writing->published = m_writeOffset;
        m_writing->sealed = true;
    }
    m_queuedBytes += unpublished;
    unpublished = 0;
    m_writing = next;
    m_writeOffset = 0;
    return true;
}

void LinuxDatagramReader::storeBatch(Batch& batch, int count)
{
    qint64 unstored = 0;
    qint64 unpublished = 0;
    quint32 counter = 0;
    bool counterSeen = false;
    for (int i = 0; i < count; ++i) {
        msghdr& h = batch.header(i);
        counterSeen = dropCounter(h, counter) || counterSeen;
        // Larger than any datagram UDP carries: not shown cut short.
        if (h.msg_flags & MSG_TRUNC) {
            ++unstored;
            continue;
        }
        const qsizetype size = qsizetype(batch.lengths[i]);
        const qsizetype room = recordSize(size);
        if ((!m_writing || m_writeOffset + room > BlockSize) && !startBlock(unpublished)) {
            ++unstored;
            continue;
        }
        RecordHeader header{};
        header.size = quint32(size);
        std::memcpy(header.sender, &batch.from[i], qMin<size_t>(h.msg_namelen, SenderSize));
        char* record = m_writing->data + m_writeOffset;
        std::memcpy(record, &header, sizeof header);
        std::memcpy(record + sizeof header, batch.slot(i), size_t(size));
        m_writeOffset += room;
        unpublished += room;
    }

    bool notify = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_writing)
            m_writing->published = m_writeOffset;
        m_queuedBytes += unpublished;
        if (counterSeen)
            noteKernelDrops(counter);
        m_unstored += unstored;
        notify = m_queuedBytes > 0 && !m_signalled;
        if (notify)
            m_signalled = true;
    }
    if (notify)
        emit datagramsWaiting();
}

void LinuxDatagramReader::run()
{
    std::unique_ptr<Batch> batch;
    try {
        batch = std::make_unique<Batch>();
    } catch (const std::bad_alloc&) {
        emit readFailed(qt_error_string(ENOMEM));
        return;
    }

    while (!m_stopping) {
        bool full = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            full = m_queuedBytes >= m_limit;
            m_readerWaiting = full;
        }
        // While full, only a taker or stop() wakes the reader; the system keeps
        // what fits in the socket's buffer and drops the rest.
        pollfd fds[2] = {{m_fd, short(full ? 0 : POLLIN), 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            emit readFailed(qt_error_string(errno));
            return;
        }
        if (fds[1].revents & POLLIN) {
            char sink[64];
            while (::read(m_wake[0], sink, sizeof sink) > 0) {
            }
        }
        if (m_stopping)
            return;
        if (fds[0].revents & POLLNVAL) {
            emit readFailed(qt_error_string(EBADF));
            return;
        }
        if (fds[0].revents & POLLERR) {
            // An ICMP report on an earlier send; clear it so that poll settles.
            int code = 0;
            socklen_t size = sizeof code;
            ::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &code, &size);
            char sink[256];
            iovec iov{sink, sizeof sink};
            msghdr h{};
            h.msg_iov = &iov;
            h.msg_iovlen = 1;
            while (::recvmsg(m_fd, &h, MSG_ERRQUEUE | MSG_DONTWAIT) >= 0) {
            }
        }
        if (!full && (fds[0].revents & POLLIN)) {
            const int n = batch->receive(m_fd);
            if (n < 0) {
                const int code = errno;
                if (shortOfMemory(code)) {
                    pollfd wakeOnly{m_wake[0], POLLIN, 0};
                    ::poll(&wakeOnly, 1, ShortOfMemoryWaitMs);
                } else if (!passing(code)) {
                    emit readFailed(qt_error_string(code));
                    return;
                }
                continue;
            }
            storeBatch(*batch, n);
        }
    }
}

#endif // Q_OS_LINUX
