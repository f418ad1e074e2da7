#include "send/Repeater.h"

#include "send/FileSender.h"

#include <QTimer>

Repeater::Repeater(std::unique_ptr<FileSendLink> link, QObject* parent)
    : QObject(parent), m_link(std::move(link)), m_timer(new QTimer(this))
{
}

Repeater::~Repeater() = default;

void Repeater::start(const LineToSend& line, qint64 times, qint64 intervalMs) {}

void Repeater::stop() {}

void Repeater::connectionEnded() {}

void Repeater::dataLost(qint64 bytes, bool closedEarlier) {}

void Repeater::sendingFailed(const QString& description, qint64 unsentBytes) {}

void Repeater::linkDrained() {}

void Repeater::stopTicking() {}
