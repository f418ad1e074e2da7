// Who holds a TCP port, on Linux: the system lists every TCP socket of this
// network namespace, each with its state and, while a program still has it
// open, the number of its open file (0 once it was closed).

#include <QtGlobal>

#ifdef Q_OS_LINUX

#include "platform/TcpPortUse.h"

#include <QByteArrayList>
#include <QFile>

namespace {

// The state of a connection that waits out its close.
constexpr int TimeWait = 0x06;

// Columns of a line: "sl local_address rem_address st ... uid timeout inode".
constexpr int LocalColumn = 1;
constexpr int StateColumn = 3;
constexpr int InodeColumn = 9;

// Whether the list in path names a live socket on port; no answer when it
// cannot be read.
std::optional<bool> heldIn(const char* path, quint16 port)
{
    QFile list(QString::fromLatin1(path));
    if (!list.open(QIODevice::ReadOnly))
        return std::nullopt;
    list.readLine(); // the column heads
    // Read to the end of the list: the system gives its size as 0.
    for (QByteArray line = list.readLine(); !line.isEmpty(); line = list.readLine()) {
        const QByteArrayList columns = line.simplified().split(' ');
        if (columns.size() <= InodeColumn)
            continue;
        const QByteArray& local = columns.at(LocalColumn);
        bool ok = false;
        if (local.mid(local.lastIndexOf(':') + 1).toUInt(&ok, 16) != port || !ok)
            continue;
        if (columns.at(StateColumn).toInt(nullptr, 16) != TimeWait && columns.at(InodeColumn) != "0")
            return true;
    }
    return false;
}

} // namespace

std::optional<bool> tcpPortHeld(quint16 port)
{
    // A dual-stack socket holding an IPv4 connection is listed with IPv6.
    const std::optional<bool> v4 = heldIn("/proc/net/tcp", port);
    if (v4.value_or(false))
        return true;
    const std::optional<bool> v6 = heldIn("/proc/net/tcp6", port);
    if (v6.value_or(false))
        return true;
    // A system without IPv6 has no list of it.
    if (v4 || v6)
        return false;
    return std::nullopt;
}

#endif // Q_OS_LINUX
