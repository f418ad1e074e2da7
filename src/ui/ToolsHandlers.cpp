// The Tools menu: saved commands, sent by name or by Ctrl+1 to Ctrl+9 and
// kept in a dialog; the line repeated by the repeater; and recall of the lines
// sent from the line box. The history, the commands and the repeating are
// widget-free objects in send/; the window reads its controls and shows the result.

#include "ui/frmKelvane.h"

#include "net/SocketControl.h"
#include "send/LineSend.h"
#include "send/Repeater.h"
#include "ui/CommandsDialog.h"
#include "ui/CommonDialog.h"
#include "ui/Controls.h"
#include "ui/LineBox.h"
#include "ui/Prompt.h"
#include "ui/RepeatDialog.h"
#include "ui/SocketSendLink.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QScopedValueRollback>

namespace {

// Ctrl+1 to Ctrl+9 belong to the first commands of the menu.
constexpr int ShortcutCommands = 9;

// A name as a menu item shows it: an ampersand is no access key here.
QString menuText(const QString& name)
{
    QString text = name;
    text.replace(QLatin1Char('&'), QStringLiteral("&&"));
    // A tab would move the rest into the shortcut column.
    text.replace(QLatin1Char('\t'), QLatin1Char(' '));
    return text;
}

} // namespace

void frmKelvane::buildToolsMenu()
{
    QMenu* mnTools = menuBar()->addMenu(QStringLiteral("&Tools"));
    mnTools->setObjectName(QStringLiteral("mnTools"));
    mnTools_Commands = mnTools->addMenu(QStringLiteral("&Commands"));
    mnTools_Commands->setObjectName(QStringLiteral("mnTools_Commands"));
    QAction* mnTools_SaveCommand = mnTools->addAction(QStringLiteral("Save Line as Co&mmand..."));
    mnTools_SaveCommand->setObjectName(QStringLiteral("mnTools_SaveCommand"));
    connect(mnTools_SaveCommand, &QAction::triggered, this, &frmKelvane::mnTools_SaveCommand_Click);
    QAction* mnTools_EditCommands = mnTools->addAction(QStringLiteral("&Edit Commands..."));
    mnTools_EditCommands->setObjectName(QStringLiteral("mnTools_EditCommands"));
    connect(mnTools_EditCommands, &QAction::triggered, this, &frmKelvane::mnTools_EditCommands_Click);
    mnTools->addSeparator();
    mnTools_Repeat = mnTools->addAction(QStringLiteral("&Repeat Line..."));
    mnTools_Repeat->setObjectName(QStringLiteral("mnTools_Repeat"));
    mnTools_Repeat->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    connect(mnTools_Repeat, &QAction::triggered, this, &frmKelvane::mnTools_Repeat_Click);
    mnTools_StopRepeating = mnTools->addAction(QStringLiteral("&Stop Repeating"));
    mnTools_StopRepeating->setObjectName(QStringLiteral("mnTools_StopRepeating"));
    mnTools_StopRepeating->setEnabled(false);
    connect(mnTools_StopRepeating, &QAction::triggered, this, &frmKelvane::mnTools_StopRepeating_Click);
    buildRepliesMenu(mnTools);
    setUpCapture(mnTools);
    buildTlsMenu(mnTools);
}

void frmKelvane::setUpTools()
{
    m_prompt = std::make_unique<QtPrompt>();
    cdCommandsFile = new CommonDialog(this);
    cdCommandsFile->setObjectName(QStringLiteral("cdCommandsFile"));
    cdCommandsFile->setFilter(QStringLiteral("Command Files (*.ini);;All Files (*)"));

    connect(txtLine, &LineBox::recall, this, &frmKelvane::txtLine_Recall);
    // Typing over a recalled line makes it a new draft: the next Up starts from the newest.
    connect(txtLine, &LineBox::textChanged, this, [this] {
        if (!m_recalling)
            m_history.endRecall();
    });
    setUpRepeating();
    setUpReplies();
    showCommandsMenu();
}

void frmKelvane::setUpRepeating()
{
    m_repeater = new Repeater(std::make_unique<SocketSendLink>(wsClient), this);
    connect(m_repeater, &Repeater::report, this, &frmKelvane::Echo);
    connect(m_repeater, &Repeater::sentLine, this, &frmKelvane::echoBytes);
    connect(m_repeater, &Repeater::runningChanged, this, [this](bool running) {
        mnTools_Repeat->setEnabled(!running);
        mnTools_StopRepeating->setEnabled(running);
    });
    // Paced by the peer, as the file sending is: it goes on as soon as the socket took some.
    connect(wsClient, &SocketControl::bytesWritten, m_repeater, &Repeater::linkDrained);
    // After the window's own entries for the lost bytes: the repeating then ends with its reason.
    connect(wsClient, &SocketControl::bytesNotSent, m_repeater, &Repeater::dataLost);
    connect(wsClient, &SocketControl::sendingFailed, m_repeater, &Repeater::sendingFailed);
    auto followShow = [this] { m_repeater->setShowSent(chkShow->value() == 1); };
    connect(chkShow, &QCheckBox::stateChanged, this, followShow);
    followShow();
}

void frmKelvane::setPrompt(std::unique_ptr<PromptService> prompt)
{
    m_prompt = std::move(prompt);
}

void frmKelvane::setCommandFile(std::unique_ptr<CommandFile> file)
{
    m_commandFile = std::move(file);
}

void frmKelvane::restoreToolsSettings(const SavedSettings& saved)
{
    reporting([&] { m_history.setLines(saved.history); });
    reporting([&] {
        m_commands = saved.commands;
        showCommandsMenu();
    });
    for (const QString& why : saved.commandsSkipped)
        Echo({why});
    m_repeatTimes = saved.repeatTimes;
    m_repeatInterval = saved.repeatInterval;
    restoreReplies(saved);
    m_tlsCertificate = saved.tlsCertificate;
    m_tlsKey = saved.tlsKey;
    m_tlsTrusted = saved.tlsTrusted;
}

void frmKelvane::showCommandsMenu()
{
    mnTools_Commands->clear();
    for (int i = 0; i < m_commands.size(); ++i) {
        QAction* item = mnTools_Commands->addAction(menuText(m_commands.at(i).name));
        item->setObjectName(QStringLiteral("mnTools_Command") + QString::number(i + 1));
        if (i < ShortcutCommands)
            item->setShortcut(QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_1 + i)));
        connect(item, &QAction::triggered, this, [this, i] { mnTools_Command_Click(i); });
    }
    // An empty submenu says why, rather than open on nothing.
    if (m_commands.isEmpty()) {
        QAction* none = mnTools_Commands->addAction(QStringLiteral("(none saved)"));
        none->setObjectName(QStringLiteral("mnTools_CommandsNone"));
        none->setEnabled(false);
    }
}

void frmKelvane::mnTools_Command_Click(int index)
{
    reporting(
        [&] {
            if (index < m_commands.size()) {
                const Command command = m_commands.at(index);
                sendLine([&] { return prepareCommand(command); });
            }
        },
        {QStringLiteral("Error")});
}

void frmKelvane::mnTools_SaveCommand_Click()
{
    const std::optional<QString> name =
        m_prompt->text(this, QStringLiteral("Save Line as Command"), QStringLiteral("Name:"));
    if (!name)
        return;
    Command command;
    command.name = name->trimmed();
    command.text = txtLine->text();
    command.hex = optMode->value(1);
    command.crLf = !command.hex && chkAppenCrLf->value() != 0;
    const QString problem = commandProblem(command);
    if (!problem.isEmpty()) {
        Echo({QStringLiteral("Command not saved"), problem});
        return;
    }
    // A name already in the menu is given the new line in its place.
    qsizetype at = 0;
    while (at < m_commands.size() && m_commands.at(at).name != command.name)
        ++at;
    if (at < m_commands.size())
        m_commands[at] = command;
    else
        m_commands.append(command);
    m_commandsChanged = true;
    showCommandsMenu();
    Echo({QStringLiteral("Command saved: ") + command.name +
          (at < ShortcutCommands ? QStringLiteral(" (Ctrl+") + QString::number(at + 1) + QLatin1Char(')')
                                 : QString())});
}

void frmKelvane::mnTools_EditCommands_Click()
{
    if (m_commandsDialog && m_commandsDialog->isVisible()) {
        m_commandsDialog->raise();
        m_commandsDialog->activateWindow();
        return;
    }
    auto* dialog = new CommandsDialog(m_commands, m_commandFile.get(), cdCommandsFile, this);
    dialog->setReplies(m_replies);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &CommandsDialog::notice, this, &frmKelvane::Echo);
    connect(dialog, &QDialog::accepted, this, &frmKelvane::dlgCommands_OK);
    m_commandsDialog = dialog;
    // Not exec(): the window's event loop and its tests go on while it is open.
    dialog->open();
}

void frmKelvane::dlgCommands_OK()
{
    m_commands = m_commandsDialog->commands();
    m_commandsChanged = true;
    showCommandsMenu();
    setReplies(m_commandsDialog->replies());
}

void frmKelvane::mnTools_Repeat_Click()
{
    if (m_repeatDialog && m_repeatDialog->isVisible()) {
        m_repeatDialog->raise();
        m_repeatDialog->activateWindow();
        return;
    }
    auto* dialog = new RepeatDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setValues(m_repeatTimes, m_repeatInterval);
    connect(dialog, &QDialog::accepted, this, &frmKelvane::dlgRepeat_OK);
    m_repeatDialog = dialog;
    dialog->open();
}

void frmKelvane::dlgRepeat_OK()
{
    m_repeatTimes = m_repeatDialog->timesText();
    m_repeatInterval = m_repeatDialog->intervalText();
    const qint64 times = m_repeatDialog->times();
    const qint64 intervalMs = m_repeatDialog->intervalMs();
    reporting(
        [&] {
            if (!m_connection->isConnected()) {
                Echo({QStringLiteral("Not connected.")});
                return;
            }
            // Made ready once, as a send would: every repeat sends the same bytes.
            const LineToSend line =
                prepareLine(txtLine->text(), optMode->value(1), chkAppenCrLf->value() != 0);
            m_repeater->setShowSent(chkShow->value() == 1);
            m_repeater->start(line, times, intervalMs);
        },
        {QStringLiteral("Error")});
}

void frmKelvane::mnTools_StopRepeating_Click()
{
    m_repeater->stop();
}

void frmKelvane::txtLine_Recall(int direction)
{
    reporting([&] {
        const std::optional<HistoryLine> line =
            direction < 0 ? m_history.older({txtLine->text(), optMode->value(1)}) : m_history.newer();
        if (line)
            showRecalled(*line);
    });
}

void frmKelvane::showRecalled(const HistoryLine& line)
{
    {
        const QScopedValueRollback<bool> recalling(m_recalling, true);
        txtLine->setText(line.text);
    }
    // Selected as a user selects it, so the CR LF rule runs; a mode already
    // selected is left alone, and with it the CR LF box as the user set it.
    if (optMode->value(1) != line.hex)
        optMode->setValue(line.hex ? 1 : 0, true);
}
