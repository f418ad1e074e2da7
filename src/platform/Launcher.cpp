#include "platform/Launcher.h"

#include <QProcess>

bool ProcessLauncher::start(const QString& program)
{
    return QProcess::startDetached(program, {});
}
