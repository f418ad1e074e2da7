#pragma once

// A loopback peer on its own thread, so that it floods the window as fast as
// the kernel takes the bytes, whatever the window's event loop is doing. It
// accepts one client, sends its payload, and keeps everything it receives.

#include <QByteArray>
#include <QtGlobal>

#include <arpa/inet.h>
#include <atomic>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

class FloodPeer
{
public:
    FloodPeer()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(m_listener, 1);
        socklen_t len = sizeof addr;
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
    }

    ~FloodPeer()
    {
        stop();
        ::close(m_listener);
    }

    quint16 port() const { return m_port; }

    // Accepts one client, then sends payload in chunks while reading whatever arrives.
    // With loop set, the payload is sent over and over until stop(), or until
    // total bytes are sent when total is not negative.
    void start(const QByteArray& payload, bool loop = false, qsizetype chunk = 64 * 1024, qint64 total = -1)
    {
        m_payload = payload;
        m_loop = loop;
        m_total = total;
        m_thread = std::thread([this, chunk] { run(chunk); });
    }

    // Ends the conversation and waits for the thread.
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }

    // A peer that stops reading leaves what comes in the kernel's buffers,
    // and once they are full the sender has to wait.
    void setReading(bool reading) { m_reading = reading; }
    // Counts what it receives without keeping it, so that a large transfer
    // costs the process no memory of its own. Call before start().
    void setKeeping(bool keep) { m_keeping = keep; }

    qint64 sent() const { return m_sent; }
    bool accepted() const { return m_accepted; }
    bool peerClosed() const { return m_peerClosed; }
    QByteArray received() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }
    qsizetype receivedSize() const { return m_receivedSize; }

private:
    void run(qsizetype chunk)
    {
        pollfd lp{m_listener, POLLIN, 0};
        while (!m_stop && ::poll(&lp, 1, 50) <= 0) {
        }
        if (m_stop)
            return;
        const int fd = ::accept(m_listener, nullptr, nullptr);
        if (fd < 0)
            return;
        m_accepted = true;
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        char buffer[64 * 1024];
        qint64 offset = 0;
        while (!m_stop) {
            const bool due = m_total < 0 || m_sent < m_total;
            if (m_loop && offset == m_payload.size() && due)
                offset = 0;
            const bool more = due && offset < m_payload.size();
            pollfd p{fd, short((m_reading ? POLLIN : 0) | (more ? POLLOUT : 0)), 0};
            if (::poll(&p, 1, 20) < 0)
                break;
            if (p.revents & POLLIN) {
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n == 0) {
                    m_peerClosed = true;
                    break;
                }
                if (n > 0 && m_keeping) {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_received.append(buffer, n);
                }
                if (n > 0)
                    m_receivedSize += n;
            }
            if ((p.revents & POLLOUT) && more) {
                qint64 n = qMin<qsizetype>(chunk, m_payload.size() - offset);
                if (m_total >= 0)
                    n = qMin<qint64>(n, m_total - m_sent);
                const ssize_t w = ::send(fd, m_payload.constData() + offset, size_t(n), MSG_NOSIGNAL);
                if (w > 0) {
                    offset += w;
                    m_sent += w;
                }
            }
            if (p.revents & (POLLERR | POLLHUP))
                break;
        }
        ::close(fd);
    }

    int m_listener = -1;
    quint16 m_port = 0;
    QByteArray m_payload;
    bool m_loop = false;
    qint64 m_total = -1;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_reading{true};
    bool m_keeping = true;
    std::atomic<qsizetype> m_receivedSize{0};
    std::atomic<bool> m_accepted{false};
    std::atomic<bool> m_peerClosed{false};
    std::atomic<qint64> m_sent{0};
    mutable std::mutex m_mutex;
    QByteArray m_received;
};
