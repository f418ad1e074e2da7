#include "net/UdpReader.h"

#include <QNetworkInterface>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>
#include <vector>

#ifdef Q_OS_LINUX
#include <linux/sock_diag.h>
#endif

namespace {

// Datagrams taken with one system call.
constexpr int BatchSize = 32;
// Room for the largest datagram UDP carries.
constexpr int SlotSize = 65536;
// What one waiting datagram costs beside its payload: its place in the queue,
// the array's header and the allocator's share. Counted so that even empty
// datagrams fill the bound.
constexpr qint64 DatagramOverhead = 128;
// How long to wait before reading again when the system is short of memory.
constexpr int ShortOfMemoryWaitMs = 10;

qint64 cost(const UdpReader::Datagram& datagram)
{
    return datagram.payload.size() + DatagramOverhead;
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

// The buffers of one batch: a slot per datagram, its sender and its control data.
struct Batch
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

#ifdef Q_OS_LINUX
    msghdr& header(int i)
    {
        return messages[i].msg_hdr;
    }
#else
    msghdr& header(int i)
    {
        return messages[i];
    }
#endif

    // Reads what is waiting, up to a batch; -1 with errno when nothing was read.
    int receive(int fd)
    {
        for (int i = 0; i < BatchSize; ++i) {
            msghdr& h = header(i);
            h.msg_namelen = sizeof from[i];
            h.msg_controllen = ControlSize;
            h.msg_flags = 0;
        }
#ifdef Q_OS_LINUX
        const int n = ::recvmmsg(fd, messages, BatchSize, MSG_DONTWAIT, nullptr);
        for (int i = 0; i < n; ++i)
            lengths[i] = messages[i].msg_len;
        return n;
#else
        int n = 0;
        while (n < BatchSize) {
            const ssize_t size = ::recvmsg(fd, &messages[n], MSG_DONTWAIT);
            if (size < 0)
                break;
            lengths[n++] = size_t(size);
        }
        return n > 0 ? n : -1;
#endif
    }

    std::vector<char> data;
    sockaddr_storage from[BatchSize] = {};
    iovec iov[BatchSize] = {};
    alignas(cmsghdr) char control[BatchSize][ControlSize] = {};
    size_t lengths[BatchSize] = {};
#ifdef Q_OS_LINUX
    mmsghdr messages[BatchSize] = {};
#else
    msghdr messages[BatchSize] = {};
#endif
    std::vector<UdpReader::Datagram> taken;
};

// The sender of the last datagram, as Qt names it. A flood mostly comes from
// one sender, so the address is made once, not once a datagram.
class SenderCache
{
public:
    void update(const sockaddr_storage& from, socklen_t size)
    {
        if (size == m_size && std::memcmp(&from, &m_raw, size) == 0)
            return;
        QHostAddress address;
        quint16 port = 0;
        if (from.ss_family == AF_INET6) {
            const auto& a6 = reinterpret_cast<const sockaddr_in6&>(from);
            address.setAddress(reinterpret_cast<const quint8*>(&a6.sin6_addr));
            // A link-local sender goes by its interface, as Qt's own sockets name it.
            if (a6.sin6_scope_id != 0) {
                QString scope = QNetworkInterface::interfaceNameFromIndex(int(a6.sin6_scope_id));
                address.setScopeId(scope.isEmpty() ? QString::number(a6.sin6_scope_id) : scope);
            }
            port = ntohs(a6.sin6_port);
        } else if (from.ss_family == AF_INET) {
            const auto& a4 = reinterpret_cast<const sockaddr_in&>(from);
            address.setAddress(quint32(ntohl(a4.sin_addr.s_addr)));
            port = ntohs(a4.sin_port);
        }
        m_address = address;
        m_port = port;
        std::memcpy(&m_raw, &from, size);
        m_size = size;
    }
    const QHostAddress& address() const { return m_address; }
    quint16 port() const { return m_port; }

private:
    sockaddr_storage m_raw = {};
    socklen_t m_size = 0;
    QHostAddress m_address;
    quint16 m_port = 0;
};

// The socket's drop counter as delivered with a datagram; false when absent,
// which the system does while the counter is still 0.
bool dropCounter(msghdr& header, quint32& counter)
{
#ifdef Q_OS_LINUX
    for (cmsghdr* c = CMSG_FIRSTHDR(&header); c; c = CMSG_NXTHDR(&header, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL) {
            std::memcpy(&counter, CMSG_DATA(c), sizeof counter);
            return true;
        }
    }
#else
    Q_UNUSED(header);
    Q_UNUSED(counter);
#endif
    return false;
}

// Copies the n datagrams just read out of the batch's slots into batch.taken
// and returns how many could not be kept for want of memory.
qint64 collect(Batch& batch, int n, SenderCache& sender, quint32& counter, bool& counterSeen)
{
    qint64 unstored = 0;
    for (int i = 0; i < n; ++i) {
        msghdr& h = batch.header(i);
        counterSeen = dropCounter(h, counter) || counterSeen;
        // Larger than any datagram UDP carries: not shown cut short.
        if (h.msg_flags & MSG_TRUNC) {
            ++unstored;
            continue;
        }
        try {
            sender.update(batch.from[i], h.msg_namelen);
            UdpReader::Datagram datagram;
            datagram.payload = QByteArray(batch.slot(i), qsizetype(batch.lengths[i]));
            datagram.sender = sender.address();
            datagram.senderPort = sender.port();
            batch.taken.push_back(std::move(datagram));
        } catch (const std::bad_alloc&) {
            ++unstored;
        }
    }
    return unstored;
}

void setNonBlocking(int fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

} // namespace

UdpReader::UdpReader(qintptr descriptor, qint64 queueLimit, QObject* parent)
    : QObject(parent), m_fd(int(descriptor)), m_limit(queueLimit)
{
}

UdpReader::~UdpReader()
{
    stop();
    for (int fd : m_wake) {
        if (fd != -1)
            ::close(fd);
    }
}

bool UdpReader::start()
{
    if (m_wake[0] == -1) {
        if (::pipe(m_wake) != 0)
            return false;
        setNonBlocking(m_wake[0]);
        setNonBlocking(m_wake[1]);
    }
#ifdef Q_OS_LINUX
    // Every datagram then carries the count of those dropped before it.
    const int on = 1;
    ::setsockopt(m_fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
#endif
    m_stopping = false;
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error& e) {
        errno = e.code().value();
        return false;
    }
    return true;
}

void UdpReader::stop()
{
    if (m_thread.joinable()) {
        m_stopping = true;
        wake();
        m_thread.join();
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queue.clear();
    m_queuedBytes = 0;
}

bool UdpReader::take(Datagram& datagram)
{
    bool resume = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_queue.empty()) {
            m_signalled = false;
            return false;
        }
        datagram = std::move(m_queue.front());
        m_queue.pop_front();
        m_queuedBytes -= cost(datagram);
        // The reader goes on once half the room is free, not at every datagram taken.
        if (m_readerWaiting && m_queuedBytes <= m_limit / 2) {
            m_readerWaiting = false;
            resume = true;
        }
    }
    if (resume)
        wake();
    return true;
}

void UdpReader::notifyLater()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_signalled = true;
    }
    emit datagramsWaiting();
}

qint64 UdpReader::takeDropped()
{
#ifdef Q_OS_LINUX
    // The counter as it stands: drops after the last datagram read count too,
    // though no datagram has carried them yet.
    quint32 info[SK_MEMINFO_VARS] = {};
    socklen_t size = sizeof info;
    const bool known = ::getsockopt(m_fd, SOL_SOCKET, SO_MEMINFO, info, &size) == 0 &&
                       size > SK_MEMINFO_DROPS * sizeof(quint32);
#endif
    std::lock_guard<std::mutex> lock(m_mutex);
#ifdef Q_OS_LINUX
    if (known)
        noteKernelDrops(info[SK_MEMINFO_DROPS]);
#endif
    const qint64 dropped = qint64(quint32(m_kernelDrops - m_kernelDropsReported)) + m_unstored;
    m_kernelDropsReported = m_kernelDrops;
    m_unstored = 0;
    return dropped;
}

void UdpReader::noteKernelDrops(quint32 counter)
{
    // The counter only grows; a reading older than one already seen is ignored.
    if (quint32(counter - m_kernelDrops) < 0x80000000u)
        m_kernelDrops = counter;
}

void UdpReader::wake()
{
    const char byte = 0;
    // A full pipe already wakes the reader.
    (void)!::write(m_wake[1], &byte, 1);
}

void UdpReader::run()
{
    std::unique_ptr<Batch> batch;
    SenderCache sender;
    try {
        batch = std::make_unique<Batch>();
        batch->taken.reserve(BatchSize);
    } catch (const std::bad_alloc&) {
        emit readFailed(ENOMEM);
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
            emit readFailed(errno);
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
            emit readFailed(EBADF);
            return;
        }
        if (fds[0].revents & POLLERR) {
            // An ICMP report on an earlier send; clear it so that poll settles.
            int code = 0;
            socklen_t size = sizeof code;
            ::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &code, &size);
#ifdef Q_OS_LINUX
            char sink[256];
            iovec iov{sink, sizeof sink};
            msghdr h{};
            h.msg_iov = &iov;
            h.msg_iovlen = 1;
            while (::recvmsg(m_fd, &h, MSG_ERRQUEUE | MSG_DONTWAIT) >= 0) {
            }
#endif
        }
        if (!full && (fds[0].revents & POLLIN)) {
            const int n = batch->receive(m_fd);
            if (n < 0) {
                const int code = errno;
                if (shortOfMemory(code)) {
                    pollfd wakeOnly{m_wake[0], POLLIN, 0};
                    ::poll(&wakeOnly, 1, ShortOfMemoryWaitMs);
                } else if (!passing(code)) {
                    emit readFailed(code);
                    return;
                }
                continue;
            }
            quint32 counter = 0;
            bool counterSeen = false;
            const qint64 unstored = collect(*batch, n, sender, counter, counterSeen);
            enqueue(batch->taken, unstored, counterSeen, counter);
        }
    }
}

void UdpReader::enqueue(std::vector<Datagram>& taken, qint64 unstored, bool counterSeen, quint32 counter)
{
    bool notify = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (counterSeen)
            noteKernelDrops(counter);
        m_unstored += unstored;
        for (Datagram& datagram : taken) {
            try {
                const qint64 size = cost(datagram);
                m_queue.push_back(std::move(datagram));
                m_queuedBytes += size;
            } catch (const std::bad_alloc&) {
                ++m_unstored;
            }
        }
        notify = !m_queue.empty() && !m_signalled;
        if (notify)
            m_signalled = true;
    }
    taken.clear();
    if (notify)
        emit datagramsWaiting();
}
