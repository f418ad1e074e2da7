#include "ui/frmKelvane.h"

#include "platform/Launcher.h"
#include "platform/MessageBox.h"

#include <QCoreApplication>
#include <QDir>

QString frmKelvane::programPath()
{
    // Taken once, when the window opens: a program moved away afterwards is
    // not followed to its new place.
    return QDir::toNativeSeparators(QCoreApplication::applicationFilePath());
}

void frmKelvane::mnFile_New_Click()
{
    // The new instance shares nothing with this one but the saved settings.
    bool started = false;
    try {
        started = m_launcher->start(m_programPath);
    } catch (...) {
    }
    if (!started)
        m_messageBox->warning(this, QStringLiteral("Error"),
                              QStringLiteral("Failed to open program: ") + m_programPath);
}

void frmKelvane::mnFile_Close_Click()
{
    close();
}
