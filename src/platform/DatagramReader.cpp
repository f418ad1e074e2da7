#include "platform/DatagramReader.h"

#include "platform/QtDatagramReader.h"

// Without the system's own reader, Qt's is the one.
std::unique_ptr<DatagramReader> DatagramReader::open(QUdpSocket& socket, qint64 queueLimit, int receiveBuffer,
                                                     bool)
{
    return std::make_unique<QtDatagramReader>(socket, queueLimit, receiveBuffer);
}
