#pragma once

#include "send/FileSender.h"

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
