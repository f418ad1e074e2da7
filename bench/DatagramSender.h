#pragma once

// A loopback sender of UDP datagrams on its own thread, for the floods.

#include <QByteArray>
#include <QtGlobal>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

constexpr int DatagramSize = 1024;

// Sends count datagrams to a loopback port: back to back, or paced at
// perSecond in steps of a millisecond.
class DatagramSender
{
public:
    DatagramSender(quint16 port, int count, int perSecond)
        : m_port(port), m_count(count), m_perSecond(perSecond)
    {
    }
    ~DatagramSender()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    void start()
    {
        m_thread = std::thread([this] { run(); });
    }
    int sent() const { return m_sent; }
    bool done() const { return m_done; }
    double seconds() const { return m_seconds; }

private:
    void run()
    {
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(m_port);
        const QByteArray payload(DatagramSize, 'u');
        const int step = m_perSecond > 0 ? m_perSecond / 1000 : m_count;
        const auto begin = std::chrono::steady_clock::now();
        auto next = begin;
        for (int i = 0; i < m_count;) {
            if (m_perSecond > 0) {
                std::this_thread::sleep_until(next);
                next += std::chrono::milliseconds(1);
            }
            for (int j = 0; j < step && i < m_count; ++j, ++i) {
                if (::sendto(fd, payload.constData(), size_t(DatagramSize), 0,
                             reinterpret_cast<sockaddr*>(&addr), sizeof addr) == DatagramSize)
                    ++m_sent;
            }
        }
        m_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        ::close(fd);
        m_done = true;
    }

    quint16 m_port;
    int m_count;
    int m_perSecond;
    std::thread m_thread;
    std::atomic<int> m_sent{0};
    std::atomic<bool> m_done{false};
    std::atomic<double> m_seconds{0};
};
