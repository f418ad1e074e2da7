#include "ui/frmKelvane.h"

#include "app/Settings.h"
#include "net/SocketControl.h"
#include "platform/CommonDialog.h"
#include "platform/KvError.h"
#include "send/FileSender.h"
#include "ui/Controls.h"

#include <QLineEdit>

#include <cstdio>
#include <exception>

namespace {

// Each step stands alone: a failing one is skipped silently and the window closes anyway.
template <typename Work> void guarded(Work&& work)
{
    try {
        work();
    } catch (...) {
    }
}

QString flag(bool selected)
{
    return selected ? QStringLiteral("-1") : QStringLiteral("0");
}

} // namespace

void frmKelvane::Form_Unload()
{
    guarded([this] {
        // A state that cannot be read counts as open.
        bool open = true;
        guarded([&] { open = wsClient->State() != SocketControl::sckClosed; });
        if (open) {
            // The close handling must not listen again for a window that is going away.
            bUnloading = true;
            wsClient_Close();
        }
    });

    // The log goes with the window: a save that fails is told on standard error, once.
    bool told = false;
    auto write = [this, &told](const QString& key, const QString& text) {
        try {
            m_settings->write(Settings::Section, key, text);
        } catch (const std::exception& e) {
            if (!told)
                std::fprintf(stderr, "%s: settings not saved: %s\n", qPrintable(applicationTitle()),
                             qPrintable(KvErr::describe(e)));
            told = true;
        }
    };
    write(Settings::RemoteIp, txtIP->text());
    write(Settings::RemotePort, txtRemotePort->text());
    write(Settings::LocalPort, txtLocalPort->text());
    write(Settings::File, cdOpenFile->FileName());
    write(Settings::Interval, txtInterval->text());
    write(Settings::Ascii, flag(optMode->value(0)));
    write(Settings::Server, flag(optServer->value(0)));
    write(Settings::CrLf, QString::number(chkAppenCrLf->value()));
    write(Settings::CloseOnDisconnect, QString::number(chkCloseOnDisconnect->value()));
    write(Settings::Mode, QString::number(cboMode->listIndex()));

    // The window object outlives its closing; nothing may tick in it any more.
    guarded([this] { m_fileSender->stopTicking(); });
}
