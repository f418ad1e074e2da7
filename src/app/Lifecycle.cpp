#include "app/Lifecycle.h"

#include "app/Settings.h"
#include "platform/KvError.h"
#include "platform/SettingsStore.h"
#include "send/FileSender.h"
#include "send/Repeater.h"
#include "send/ReplyEngine.h"
#include "ui/frmKelvane.h"

#include <cstdio>

Lifecycle::Lifecycle(frmKelvane* form, std::unique_ptr<SettingsStore> store, QObject* parent)
    : QObject(parent), m_form(form), m_store(std::move(store))
{
    connect(form, &frmKelvane::unloading, this, &Lifecycle::Form_Unload);
    form->setCommandFile(std::make_unique<IniCommandFile>());
}

Lifecycle::~Lifecycle() = default;

void Lifecycle::Form_Load()
{
    frmKelvane& f = *m_form;
    // Each step stands alone: a failing one is told in the log and the next one runs.
    f.reporting([&] { f.setWindowTitle(frmKelvane::captionText()); });
    f.reporting([&] { f.Echo({f.windowTitle()}); });
    f.restoreSettings(Settings::read(*m_store));
    // Said once, now, rather than lost without a word at shut-down.
    f.reporting([&] {
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

    // The settings in their order of writing. The log goes with the window:
    // a save that fails is told on standard error, once.
    guarded([&] {
        const SavedSettings saved = f.settingsToSave();
        bool told = false;
        auto tell = [&told](const std::exception& e) {
            if (!told)
                std::fprintf(stderr, "%s: settings not saved: %s\n",
                             qPrintable(frmKelvane::applicationTitle()), qPrintable(KvErr::describe(e)));
            told = true;
        };
        for (const Settings::Index index : {Settings::RemoteIp,
                                            Settings::RemotePort,
                                            Settings::LocalPort,
                                            Settings::File,
                                            Settings::Interval,
                                            Settings::Ascii,
                                            Settings::Server,
                                            Settings::CrLf,
                                            Settings::CloseOnDisconnect,
                                            Settings::Mode,
                                            Settings::FlatView,
                                            Settings::ShowSent,
                                            Settings::Left,
                                            Settings::Top,
                                            Settings::Width,
                                            Settings::Height,
                                            Settings::RepeatTimes,
                                            Settings::RepeatInterval,
                                            Settings::RepliesEnabled,
                                            Settings::ReplyDelimiter,
                                            Settings::CaptureFile,
                                            Settings::CaptureAppend,
                                            Settings::Milliseconds,
                                            Settings::TlsCertificate,
                                            Settings::TlsKey}) {
            const Settings::Setting& s = Settings::setting(index);
            // The delimiter belongs with the rules: written when they are.
            if (index == Settings::ReplyDelimiter && !saved.repliesChanged)
                continue;
            // The capture's file too: another window may be the one capturing.
            if (index == Settings::CaptureFile && !saved.captureChanged)
                continue;
            try {
                m_store->write(s.section, s.key, saved.*s.text);
            } catch (const std::exception& e) {
                tell(e);
            }
        }
        // The lines for recall, and the commands when this window changed
        // them, each array whole.
        try {
            m_store->writeArray(Settings::HistoryArray, Settings::historyRows(saved.history));
        } catch (const std::exception& e) {
            tell(e);
        }
        try {
            if (saved.tlsTrustedChanged)
                m_store->writeArray(Settings::TrustedArray, Settings::trustedRows(saved.tlsTrusted));
        } catch (const std::exception& e) {
            tell(e);
        }
        try {
            if (saved.commandsChanged)
                m_store->writeArray(Settings::CommandsArray, Settings::commandRows(saved.commands));
        } catch (const std::exception& e) {
            tell(e);
        }
        try {
            if (saved.repliesChanged)
                m_store->writeArray(Settings::RuleArray, Settings::ruleRows(saved.replyRules));
        } catch (const std::exception& e) {
            tell(e);
        }
    });

    // The window object outlives its closing; nothing may tick in it any more.
    guarded([&] { f.fileSender()->stopTicking(); });
    guarded([&] { f.repeater()->stopTicking(); });
    guarded([&] { f.replyEngine()->stopTicking(); });
}
