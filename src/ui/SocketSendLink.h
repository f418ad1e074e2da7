#pragma once

#include "send/FileSender.h"
#include "send/ReplyEngine.h"

class SocketControl;

// The window's socket as the file sender sees it.
class SocketSendLink : public FileSendLink
{
public:
    explicit SocketSendLink(SocketControl* socket) : m_socket(socket) {}

    void send(const QByteArray& bytes) override;
    qint64 bytesWaiting() const override;
    qint64 largestMessage() const override;

private:
    SocketControl* m_socket;
};

// The window's socket as the automatic replies see it: the TCP peer, or the
// sender of a datagram.
class SocketReplyLink : public ReplyLink
{
public:
    explicit SocketReplyLink(SocketControl* socket) : m_socket(socket) {}

    void send(const QByteArray& bytes, const QHostAddress& to, quint16 port) override;
    qint64 bytesWaiting() const override;

private:
    SocketControl* m_socket;
};

// What arrived on the socket, for the rules to answer: one datagram, with its
// sender, or a piece of the TCP stream.
void answerArrival(ReplyEngine& engine, const SocketControl& socket, const QByteArray& data);
