#include "ui/frmKelvane.h"

#include "app/Settings.h"
#include "platform/CommonDialog.h"
#include "platform/KvError.h"
#include "platform/NumConv.h"
#include "ui/Controls.h"

#include <QLineEdit>

#include <functional>

void frmKelvane::Form_Load()
{
    // Each step stands alone: a bad stored value costs only its own step.
    auto step = [this](const std::function<void()>& work) {
        try {
            work();
        } catch (const KvError& e) {
            Echo({e.description()});
        } catch (const std::exception& e) {
            Echo({QString::fromLocal8Bit(e.what())});
        }
    };
    auto read = [this](const QString& key, const QString& defaultValue) {
        return m_settings->read(Settings::Section, key, defaultValue);
    };
    auto numberText = [&](const QString& key, const QString& defaultValue) {
        return NumToText(Val(read(key, defaultValue)));
    };

    step([&] { setWindowTitle(captionText()); });
    step([&] { Echo({windowTitle()}); });
    step([&] { cdOpenFile->setFileName(read(Settings::File, Settings::defaultFile())); });
    step([&] { txtIP->setText(read(Settings::RemoteIp, Settings::DefaultRemoteIp)); });
    step([&] { txtRemotePort->setText(numberText(Settings::RemotePort, Settings::DefaultRemotePort)); });
    step([&] { txtLocalPort->setText(numberText(Settings::LocalPort, Settings::DefaultLocalPort)); });
    step([&] { txtInterval->setText(numberText(Settings::Interval, Settings::DefaultInterval)); });
    // Selecting an option runs its click: the entry-mode rule and the role switch.
    step([&] { optMode->setValue(0, Val(read(Settings::Ascii, Settings::DefaultAscii)) != 0); });
    step([&] { optMode->setValue(1, !optMode->value(0)); });
    step([&] {
        if (optMode->value(0))
            chkAppenCrLf->setValue(RoundToInt16(Val(read(Settings::CrLf, Settings::DefaultCrLf))));
        else
            chkAppenCrLf->setValue(0);
    });
    step([&] {
        chkCloseOnDisconnect->setValue(
            RoundToInt16(Val(read(Settings::CloseOnDisconnect, Settings::DefaultCloseOnDisconnect))));
    });
    // Client first, then the saved role, so the restored box value survives either role.
    step([&] { optServer->setValue(1, !optServer->value(0)); });
    step([&] { optServer->setValue(0, Val(read(Settings::Server, Settings::DefaultServer)) != 0); });
    step([&] { cboMode->setListIndex(RoundToInt16(Val(read(Settings::Mode, Settings::DefaultMode)))); });
    // Said once, now, rather than lost without a word at shut-down.
    step([&] {
        const QString why = m_settings->whyNotWritable();
        if (!why.isEmpty())
            Echo({QStringLiteral("Settings will not be saved: ") + m_settings->fileName() +
                  QStringLiteral(" (") + why + QLatin1Char(')')});
    });
}
