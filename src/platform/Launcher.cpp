#include "platform/Launcher.h"

#include <QFileInfo>
#include <QProcess>

bool ProcessLauncher::start(const QString& program)
{
    m_processId = 0;
    // A bare name would be searched on PATH and could start some other program.
    const QFileInfo file(program);
    if (!file.isAbsolute() || !file.isFile() || !file.isExecutable())
        return false;
    qint64 pid = 0;
    if (!QProcess::startDetached(program, {}, QString(), &pid) || pid <= 0)
        return false;
    m_processId = pid;
    return true;
}
