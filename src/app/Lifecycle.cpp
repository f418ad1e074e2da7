#include "app/Lifecycle.h"

#include "app/Settings.h"
#include "platform/KvError.h"
#include "platform/Launcher.h"
#include "platform/SettingsStore.h"
#include "send/FileSender.h"
#include "ui/CommonDialog.h"
#include "ui/Controls.h"
#include "ui/MessageBox.h"
#include "ui/frmKelvane.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QLineEdit>

#include <cstdio>
#include <functional>

namespace {

// Taken once, when the window opens: a program moved away afterwards is not
// followed to its new place.
QString programPath()
{
    return QDir::toNativeSeparators(QCoreApplication::applicationFilePath());
}

} // namespace

Lifecycle::Lifecycle(frmKelvane* form, std::unique_ptr<SettingsStore> store, QObject* parent)
    : QObject(parent), m_form(form), m_store(std::move(store)),
      m_launcher(std::make_unique<ProcessLauncher>()), m_programPath(programPath())
{
    connect(form, &frmKelvane::unloading, this, &Lifecycle::Form_Unload);
    connect(form->mnFile_New, &QAction::triggered, this, &Lifecycle::mnFile_New_Click);
    connect(form->mnFile_Close, &QAction::triggered, this, &Lifecycle::mnFile_Close_Click);
}

Lifecycle::~Lifecycle() = default;

void Lifecycle::setLauncher(std::unique_ptr<Launcher> launcher)
{
    m_launcher = std::move(launcher);
}

void Lifecycle::Form_Load()
{
    frmKelvane& f = *m_form;
    // Each step stands alone: a bad stored value costs only its own step.
    auto step = [&f](const std::function<void()>& work) { f.reporting(work); };
    auto restored = [this](Settings::Index index) { return Settings::restored(*m_store, index); };

    step([&] { f.setWindowTitle(frmKelvane::captionText()); });
    step([&] { f.Echo({f.windowTitle()}); });
    step([&] { f.cdOpenFile->setFileName(restored(Settings::File).toString()); });
    step([&] { f.txtIP->setText(restored(Settings::RemoteIp).toString()); });
    step([&] { f.txtRemotePort->setText(restored(Settings::RemotePort).toString()); });
    step([&] { f.txtLocalPort->setText(restored(Settings::LocalPort).toString()); });
    step([&] { f.txtInterval->setText(restored(Settings::Interval).toString()); });
    // Selecting an option runs its click: the entry-mode rule and the role switch.
    step([&] { f.optMode->setValue(0, restored(Settings::Ascii).toBool()); });
    step([&] { f.optMode->setValue(1, !f.optMode->value(0)); });
    // In HEX mode the CR LF setting is not even read.
    step([&] { f.chkAppenCrLf->setValue(f.optMode->value(0) ? restored(Settings::CrLf).toInt() : 0); });
    step([&] { f.chkCloseOnDisconnect->setValue(restored(Settings::CloseOnDisconnect).toInt()); });
    // Client first, then the saved role, so the restored box value survives either role.
    step([&] { f.optServer->setValue(1, !f.optServer->value(0)); });
    step([&] { f.optServer->setValue(0, restored(Settings::Server).toBool()); });
    step([&] { f.cboMode->setListIndex(restored(Settings::Mode).toInt()); });
    // Said once, now, rather than lost without a word at shut-down.
    step([&] {
        const QString why = m_store->whyNotWritable();
        if (!why.isEmpty())
            f.Echo({QStringLiteral("Settings will not be saved: ") + m_store->fileName() +
                    QStringLiteral(" (") + why + QLatin1Char(')')});
    });
}

void Lifecycle::Form_Unload()
{
    frmKelvane& f = *m_form;
    // Each step stands alone: a failing one is skipped and the window closes anyway.
    auto guarded = [](auto&& work) {
        try {
            work();
        } catch (...) {
        }
    };
    guarded([&] { f.connection()->unload(); });

    // The log goes with the window: a save that fails is told on standard error, once.
    bool told = false;
    auto write = [&](Settings::Index index, auto&& text) {
        try {
            m_store->write(Settings::Section, Settings::setting(index).key, text());
        } catch (const std::exception& e) {
            if (!told)
                std::fprintf(stderr, "%s: settings not saved: %s\n",
                             qPrintable(frmKelvane::applicationTitle()), qPrintable(KvErr::describe(e)));
            told = true;
        }
    };
    write(Settings::RemoteIp, [&] { return f.txtIP->text(); });
    write(Settings::RemotePort, [&] { return f.txtRemotePort->text(); });
    write(Settings::LocalPort, [&] { return f.txtLocalPort->text(); });
    write(Settings::File, [&] { return f.cdOpenFile->FileName(); });
    write(Settings::Interval, [&] { return f.txtInterval->text(); });
    write(Settings::Ascii, [&] { return Settings::flagText(f.optMode->value(0)); });
    write(Settings::Server, [&] { return Settings::flagText(f.optServer->value(0)); });
    write(Settings::CrLf, [&] { return QString::number(f.chkAppenCrLf->value()); });
    write(Settings::CloseOnDisconnect, [&] { return QString::number(f.chkCloseOnDisconnect->value()); });
    write(Settings::Mode, [&] { return QString::number(f.cboMode->listIndex()); });

    // The window object outlives its closing; nothing may tick in it any more.
    guarded([&] { f.fileSender()->stopTicking(); });
}

void Lifecycle::mnFile_New_Click()
{
    // The new instance shares nothing with this one but the saved settings.
    bool started = false;
    try {
        started = m_launcher->start(m_programPath);
    } catch (...) {
    }
    if (!started)
        m_form->messageBox()->warning(m_form, QStringLiteral("Error"),
                                      QStringLiteral("Failed to open program: ") + m_programPath);
}

void Lifecycle::mnFile_Close_Click()
{
    m_form->close();
}
