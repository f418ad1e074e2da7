#pragma once

#include "send/Command.h"
#include "send/ReplyRule.h"

#include <QDialog>
#include <QList>
#include <QStringList>

#include <functional>
#include <optional>

class QLabel;
class QTableWidget;
class QTableWidgetItem;

class CommonDialog;

// A file of commands, and of reply rules, in the settings' own form. The form
// belongs to the settings table, so start-up hands the window the one that uses it.
class CommandFile
{
public:
    virtual ~CommandFile() = default;
    // The file's commands in order, and its rules when it has any; one that
    // cannot work is left out, and skipped says which and why. Throws KvError
    // when the file cannot be read.
    virtual QList<Command> read(const QString& path, QStringList& skipped,
                                std::optional<ReplySet>& replies) const = 0;
    // Throws KvError when the file cannot be written.
    virtual void write(const QString& path, const QList<Command>& commands,
                       const ReplySet& replies) const = 0;
};

// Edit Commands: the saved commands in a table (Name, Mode, CR LF, Text) to
// add, remove, move and edit in place, and to import and export. It opens
// without blocking; once accepted, commands() holds what the user made.
class CommandsDialog : public QDialog
{
    Q_OBJECT
public:
    CommandsDialog(const QList<Command>& commands, const CommandFile* file, CommonDialog* fileDialog,
                   QWidget* parent);

    const QList<Command>& commands() const { return m_commands; }
    // The reply rules, which Import and Export carry with the commands.
    void setReplies(const ReplySet& replies) { m_replies = replies; }
    const ReplySet& replies() const { return m_replies; }
    // OK: refused while a command cannot be sent; the dialog says which and why.
    void accept() override;

signals:
    // The items of a log entry: what Import and Export did, and what they could not do.
    void notice(const QStringList& items);

private:
    void cmdAddCommand_Click();
    void cmdRemoveCommand_Click();
    void cmdMoveCommand_Click(int step);
    void cmdImportCommands_Click();
    void cmdExportCommands_Click();
    void tblCommands_ItemChanged(QTableWidgetItem* item);

    // Asks for a file to import from or export to and runs work on it; a
    // failure is told after what was left undone.
    void withChosenFile(bool save, const QString& undone, const std::function<void(const QString&)>& work);
    // The table shows m_commands again, with the row current.
    void showCommands(int current);
    void setHex(int row, bool hex);
    // Under the table: why the current command cannot be sent, and what a HEX text sends.
    void showNote();
    int currentRow() const;

    QTableWidget* tblCommands = nullptr;
    QLabel* lblCommandNote = nullptr;
    QList<Command> m_commands;
    ReplySet m_replies;
    const CommandFile* m_file;
    CommonDialog* m_fileDialog;
    bool m_filling = false;
};
