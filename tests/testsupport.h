#pragma once

// Shared by the window tests: platform doubles that never block, a private
// settings folder, and readers for the log's entries.

#include "app/EventLoop.h"
#include "app/Lifecycle.h"
#include "app/Settings.h"
#include "net/SocketControl.h"
#include "platform/KvError.h"
#include "platform/Launcher.h"
#include "platform/SettingsStore.h"
#include "ui/CommonDialog.h"
#include "ui/Controls.h"
#include "ui/LogView.h"
#include "ui/MessageBox.h"
#include "ui/Prompt.h"
#include "ui/frmKelvane.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <utility>
#include <vector>

namespace TestSupport {

// The build has the system's own implementations beside the portable ones:
// among them the UDP reader that counts the datagrams the system drops.
#ifdef KELVANE_LINUX_IMPLEMENTATIONS
constexpr bool SystemReader = true;
#else
constexpr bool SystemReader = false;
#endif
// What a UDP socket without the system's count logs as it opens.
const QString UncountedDrops = QStringLiteral(
    "Datagrams that the system drops before they can be read go uncounted here: the log reports only those "
    "dropped inside the program");

inline QTemporaryDir& configDir()
{
    static QTemporaryDir dir;
    return dir;
}

// Points the settings store at a folder of its own before anything reads it,
// and runs the program's own event loop. Call first thing in main, before the
// application object exists.
inline void prepareProcess()
{
    useQtEventDispatcher(); // the event loop the program itself runs
    qputenv("XDG_CONFIG_HOME", configDir().path().toLocal8Bit());
}

inline QSettings rawSettings()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, frmKelvane::applicationTitle(),
                     frmKelvane::applicationTitle());
}

inline void clearSettings()
{
    QSettings s(QSettings::IniFormat, QSettings::UserScope, frmKelvane::applicationTitle(),
                frmKelvane::applicationTitle());
    s.clear();
    s.sync();
}

inline void storeSetting(const QString& key, const QString& value)
{
    SettingsStore(frmKelvane::applicationTitle()).write(Settings::Section, key, value);
}

inline void storeSetting(Settings::Index index, const QString& value)
{
    const Settings::Setting& s = Settings::setting(index);
    SettingsStore(frmKelvane::applicationTitle()).write(s.section, s.key, value);
}

inline QString storedSetting(Settings::Index index)
{
    return SettingsStore(frmKelvane::applicationTitle())
        .read(Settings::setting(index).section, Settings::setting(index).key, QStringLiteral("<absent>"));
}

struct ShownBox
{
    QString title;
    QString text;
};

class RecordingMessageBox : public MessageBoxService
{
public:
    explicit RecordingMessageBox(std::shared_ptr<std::vector<ShownBox>> shown,
                                 std::shared_ptr<QList<int>> answers = {})
        : m_shown(std::move(shown)), m_answers(std::move(answers))
    {
    }
    void warning(QWidget*, const QString& title, const QString& text) override
    {
        m_shown->push_back({title, text});
    }
    // Questions take the next scripted answer; none left is the last button.
    int ask(QWidget*, const QString& title, const QString& text, const QStringList& buttons, int) override
    {
        m_shown->push_back({title, text});
        return m_answers && !m_answers->isEmpty() ? m_answers->takeFirst() : int(buttons.size()) - 1;
    }

private:
    std::shared_ptr<std::vector<ShownBox>> m_shown;
    std::shared_ptr<QList<int>> m_answers;
};

class RecordingLauncher : public Launcher
{
public:
    RecordingLauncher(std::shared_ptr<QStringList> started, bool succeed)
        : m_started(std::move(started)), m_succeed(succeed)
    {
    }
    bool start(const QString& program) override
    {
        m_started->append(program);
        return m_succeed;
    }

private:
    std::shared_ptr<QStringList> m_started;
    bool m_succeed;
};

// Answers each question with the next scripted text; none left is a cancel.
class ScriptedPrompt : public PromptService
{
public:
    explicit ScriptedPrompt(std::shared_ptr<QStringList> answers) : m_answers(std::move(answers)) {}
    std::optional<QString> text(QWidget*, const QString&, const QString&) override
    {
        if (m_answers->isEmpty())
            return std::nullopt;
        return m_answers->takeFirst();
    }

private:
    std::shared_ptr<QStringList> m_answers;
};

// Answers each showOpen with the next scripted reply: a path to choose, or a failure code.
class ScriptedFileDialog : public FileDialogBackend
{
public:
    struct Reply
    {
        int code;
        QString path;
    };
    explicit ScriptedFileDialog(std::shared_ptr<std::vector<Reply>> replies,
                                std::shared_ptr<QStringList> presets = nullptr)
        : m_replies(std::move(replies)), m_presets(std::move(presets))
    {
    }
    int showOpen(QWidget*, const QString&, const QString&, QString& fileName) override
    {
        if (m_presets)
            m_presets->append(fileName);
        if (m_replies->empty())
            return KvErr::DialogCancel;
        const Reply r = m_replies->front();
        m_replies->erase(m_replies->begin());
        if (r.code == 0)
            fileName = r.path;
        return r.code;
    }
    // Saving takes its answers from the same script.
    int showSave(QWidget* parent, const QString& title, const QString& filter, QString& fileName) override
    {
        return showOpen(parent, title, filter, fileName);
    }

private:
    std::shared_ptr<std::vector<Reply>> m_replies;
    std::shared_ptr<QStringList> m_presets;
};

// A window with its lifecycle, as the program runs it, and recording doubles
// in place of the blocking platform layers.
struct Window
{
    std::unique_ptr<frmKelvane> form;
    std::unique_ptr<Lifecycle> lifecycle;
    std::shared_ptr<std::vector<ShownBox>> boxes = std::make_shared<std::vector<ShownBox>>();
    std::shared_ptr<QStringList> launched = std::make_shared<QStringList>();
    // Buttons chosen in question boxes, in order.
    std::shared_ptr<QList<int>> answers = std::make_shared<QList<int>>();
    // Answers to Save Log As..., in order; none left is a cancel.
    std::shared_ptr<std::vector<ScriptedFileDialog::Reply>> saveReplies =
        std::make_shared<std::vector<ScriptedFileDialog::Reply>>();
    // Names given to Save Line as Command..., in order; none left is a cancel.
    std::shared_ptr<QStringList> names = std::make_shared<QStringList>();
    // Answers to Import... and Export... of Edit Commands, in order.
    std::shared_ptr<std::vector<ScriptedFileDialog::Reply>> commandFileReplies =
        std::make_shared<std::vector<ScriptedFileDialog::Reply>>();
    // Files for Capture to File...; answers to questions in order (append 0, replace 1; none left: cancel).
    std::shared_ptr<std::vector<ScriptedFileDialog::Reply>> captureReplies =
        std::make_shared<std::vector<ScriptedFileDialog::Reply>>();

    explicit Window(bool load = true, bool launchSucceeds = true)
        : form(std::make_unique<frmKelvane>()),
          lifecycle(std::make_unique<Lifecycle>(
              form.get(), std::make_unique<SettingsStore>(frmKelvane::applicationTitle())))
    {
        form->setMessageBox(std::make_unique<RecordingMessageBox>(boxes, answers));
        form->setLauncher(std::make_unique<RecordingLauncher>(launched, launchSucceeds));
        fileDialog()->setBackend(
            std::make_unique<ScriptedFileDialog>(std::make_shared<std::vector<ScriptedFileDialog::Reply>>()));
        if (auto* saveLog = form->findChild<CommonDialog*>(QStringLiteral("cdSaveLog")))
            saveLog->setBackend(std::make_unique<ScriptedFileDialog>(saveReplies));
        form->setPrompt(std::make_unique<ScriptedPrompt>(names));
        find<CommonDialog>(QStringLiteral("cdCommandsFile"))
            ->setBackend(std::make_unique<ScriptedFileDialog>(commandFileReplies));
        find<CommonDialog>(QStringLiteral("cdCapture"))
            ->setBackend(std::make_unique<ScriptedFileDialog>(captureReplies));
        if (load)
            lifecycle->Form_Load();
    }
    frmKelvane* operator->() const { return form.get(); }
    // The controls most tests reach, found by name like any other.
    LogView* logBox() const { return find<LogView>(QStringLiteral("txtOutput")); }
    SocketControl* socket() const { return find<SocketControl>(QStringLiteral("wsClient")); }
    CommonDialog* fileDialog() const { return find<CommonDialog>(QStringLiteral("cdOpenFile")); }
    // The bodies of the log's entries, oldest first.
    QStringList entries() const;
    template <typename T> T* find(const QString& name) const
    {
        T* child = form->findChild<T*>(name);
        if (!child)
            qFatal("no control named %s", qPrintable(name));
        return child;
    }
};

// Kilobytes from /proc/self/status (VmRSS, VmHWM).
inline qint64 procStatusKb(const char* field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toLongLong();
    return -1;
}

// Chooses the role (0 server, 1 client), the protocol (0 TCP, 1 UDP) and the
// address boxes through the window's controls, then clicks the connect button.
inline void clickConnect(const Window& w, int role, int protocol, const QString& remotePort,
                         const QString& localPort = QStringLiteral("0"),
                         const QString& host = QStringLiteral("127.0.0.1"))
{
    w.find<OptionButton>(QStringLiteral("optServer%1").arg(role))->click();
    w.find<ListCombo>(QStringLiteral("cboMode"))->setListIndex(protocol);
    w.find<QLineEdit>(QStringLiteral("txtIP"))->setText(host);
    w.find<QLineEdit>(QStringLiteral("txtRemotePort"))->setText(remotePort);
    w.find<QLineEdit>(QStringLiteral("txtLocalPort"))->setText(localPort);
    w.find<QPushButton>(QStringLiteral("cmdConnect"))->click();
}

// The window as a TCP client of a loopback peer; true once it is connected.
inline bool connectTcpClient(const Window& w, quint16 port, int timeoutMs = 5000)
{
    clickConnect(w, 1, 0, QString::number(port));
    return QTest::qWaitFor([&] { return w->isConnected(); }, timeoutMs);
}

// The bodies of the log's entries: what follows "> - " up to the next entry.
// An entry made of the items a, b reads "a\r\nb\r\n".
inline QStringList entryBodies(const QString& log)
{
    static const QRegularExpression header(QStringLiteral("\r\n<[^<>\r\n]*> - "));
    QStringList bodies;
    qsizetype pos = -1;
    auto it = header.globalMatch(log);
    while (it.hasNext()) {
        const auto m = it.next();
        if (pos >= 0)
            bodies.append(log.mid(pos, m.capturedStart() - pos));
        pos = m.capturedEnd();
    }
    if (pos >= 0)
        bodies.append(log.mid(pos));
    return bodies;
}

inline QStringList Window::entries() const
{
    return entryBodies(logBox()->text());
}

inline QString body(const QStringList& items)
{
    QString out;
    for (const QString& item : items)
        out += item + QStringLiteral("\r\n");
    return out;
}

// The connection as the user sees it, in one line that compares readably:
// "socket connected, boxes disabled, roles disabled, connected".
inline QString situationText(int socketState, bool boxesEnabled, bool rolesEnabled, bool connected)
{
    static const QHash<int, QString> states{{SocketControl::sckClosed, QStringLiteral("closed")},
                                            {SocketControl::sckOpen, QStringLiteral("open")},
                                            {SocketControl::sckListening, QStringLiteral("listening")},
                                            {SocketControl::sckConnected, QStringLiteral("connected")}};
    auto enabled = [](bool on) { return on ? QStringLiteral("enabled") : QStringLiteral("disabled"); };
    return QStringLiteral("socket ") +
           states.value(socketState, QStringLiteral("state ") + QString::number(socketState)) +
           QStringLiteral(", boxes ") + enabled(boxesEnabled) + QStringLiteral(", roles ") +
           enabled(rolesEnabled) +
           (connected ? QStringLiteral(", connected") : QStringLiteral(", not connected"));
}

// The bodies of entries made of these items, in order.
inline QStringList bodies(const QList<QStringList>& entryItems)
{
    QStringList out;
    for (const QStringList& items : entryItems)
        out.append(body(items));
    return out;
}

} // namespace TestSupport

// QTEST_MAIN with the settings store moved to a private folder first.
#define KELVANE_TEST_MAIN(TestObject)                                                                        \
    int main(int argc, char* argv[])                                                                         \
    {                                                                                                        \
        TestSupport::prepareProcess();                                                                       \
        qputenv("QT_QPA_PLATFORM",                                                                           \
                qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));            \
        QApplication app(argc, argv);                                                                        \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                             \
        TestObject tc;                                                                                       \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return QTest::qExec(&tc, argc, argv);                                                                \
    }
