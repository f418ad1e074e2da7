#pragma once

#include "net/ConnectionControl.h"
#include "send/Command.h"
#include "send/LineHistory.h"
#include "send/ReplyRule.h"

#include <QByteArrayList>
#include <QMainWindow>
#include <QMap>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <memory>

class QAction;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTimer;

class CheckBox;
class CommandFile;
class CommandsDialog;
class CommonDialog;
class FileSender;
class Launcher;
class LogCapture;
class LineBox;
class ListCombo;
class LogView;
class MessageBoxService;
class OptionArray;
class PromptService;
class RepeatDialog;
class QSslCertificate;
class TlsDialog;
class Repeater;
class RepliesDialog;
class ReplyEngine;
struct LineToSend;
class SocketControl;
class ToggleButton;

// What the saved settings hold: the texts as they are stored. Start-up
// hands them to the window, shut-down takes them from it.
struct SavedSettings
{
    QString file, remoteIp, remotePort, localPort, interval, ascii, crlf, closeOnDisconnect, server, mode;
    // The two views, as the check boxes hold them.
    QString flatView, showSent;
    // The window's place and size in pixels; empty until a window first closed.
    QString left, top, width, height;
    // The Repeat dialog's two fields, as typed.
    QString repeatTimes, repeatInterval;
    // The lines for recall, newest first, and the saved commands in menu order.
    QList<HistoryLine> history;
    QList<Command> commands;
    // Stored commands that could not be loaded: which, and why, for the log.
    QStringList commandsSkipped;
    // This window changed its commands. Only then are they written back: a
    // second window must not put back the list it read at its start, nor
    // drop an entry that was skipped for the user to mend.
    bool commandsChanged = false;
    // Automatic replies: whether they are on ("1"/"0"), and the rules with
    // their delimiter (HEX digits), written back only when this window changed them.
    QString repliesEnabled, replyDelimiter;
    QList<ReplyRule> replyRules;
    QStringList repliesSkipped;
    bool repliesChanged = false;
    // The file being captured to when the window closed (empty: none), the
    // last answer to append or replace ("1"/"0"), and time stamps to the
    // millisecond ("1"/"0").
    QString captureFile, captureAppend, milliseconds;
    // The file is written back only when this window started or ended a
    // capture, so that a window closed later does not end another's.
    bool captureChanged = false;
    // TLS: the certificate and key files, and the fingerprints trusted for
    // each host:port. Rows that could not be read are told in commandsSkipped.
    QString tlsCertificate, tlsKey;
    QMap<QString, QString> tlsTrusted;
    // Written back only when this window trusted a new certificate, so that a
    // second window does not put back the list it read at its start.
    bool tlsTrustedChanged = false;
};

// The program's one window: its controls with their places and start values,
// the wiring of their events, and the handlers of those events. The handlers
// read the controls, hand the work to the subsystems (the connection control,
// the codec and line sending, the file sender, the log store) and show what
// comes back. Start-up and shut-down are run from above by the program's
// lifecycle, through the saved settings and the unloading() signal.
class frmKelvane : public QMainWindow, private ConnectionView
{
    Q_OBJECT
public:
    explicit frmKelvane(QWidget* parent = nullptr);
    ~frmKelvane() override;

    // Appends one time-stamped entry made of the items to the log.
    void Echo(const QStringList& items);
    // Runs work; any failure it throws is reported as one entry: the items
    // before, its description, the items after.
    void reporting(const std::function<void()>& work, const QStringList& before = {},
                   const QStringList& after = {});

    // The button that Enter activates in a control that is not a button; may be none.
    QPushButton* defaultButton() const { return m_defaultButton; }
    void setDefaultButton(QPushButton* button);

    // The warning box and the launcher of New Window: the real ones unless a
    // test puts others in their place.
    void setMessageBox(std::unique_ptr<MessageBoxService> messageBox);
    void setLauncher(std::unique_ptr<Launcher> launcher);
    // The box that asks for a command's name: the real one unless a test puts another in its place.
    void setPrompt(std::unique_ptr<PromptService> prompt);
    // How Import... and Export... read and write commands; start-up gives it.
    void setCommandFile(std::unique_ptr<CommandFile> file);

    // Start-up: the saved settings into the controls, each step on its own.
    void restoreSettings(const SavedSettings& saved);
    // Shut-down: the controls as the settings store them.
    SavedSettings settingsToSave() const;

    ConnectionControl* connection() const { return m_connection; }
    FileSender* fileSender() const { return m_fileSender; }
    Repeater* repeater() const { return m_repeater; }
    ReplyEngine* replyEngine() const { return m_replyEngine; }
    bool isConnected() const { return m_connection->isConnected(); }
    bool isFileOpen() const;

    static QString applicationTitle();
    // The title with " V" and the version, as the caption shows it.
    static QString captionText();

signals:
    // The window is closing: shut-down runs now, once. The window closes
    // whatever shut-down does.
    void unloading();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Echo for items that are bytes, received or sent: they reach the log as they are.
    void echoBytes(const QByteArrayList& items);
    // The controls, their start values, layout, tab order and menu; the wiring.
    void buildControls();
    void buildMenu();
    void connectHandlers();
    void setUpFileSending();
    // The information line: what the connection and the file sending are doing.
    void updateStatusLine();
    // Its part for a HEX line: what the line box will send; empty in ASCII mode.
    QString hexLineNote();
    // The information line's text, elided to the room it has.
    void showInfo();
    // The controls that follow the client area's edges, placed for its size.
    void followClientArea();
    // The saved place and size, where they fit the layout and a screen.
    void placeWindow(const SavedSettings& saved);
    // A key shared by access keys moves the focus to the next control that has
    // it, in tab order; true when the key was such a one.
    bool moveToAccessKey(const QKeyEvent& key, bool move);

    // The File menu.
    void mnFile_New_Click();
    void mnFile_Close_Click();

    // The Tools menu: saved commands, repeating; and recall in the line box.
    void buildToolsMenu();
    void setUpTools();
    void setUpRepeating();
    void restoreToolsSettings(const SavedSettings& saved);
    // The Commands submenu shows m_commands, the first nine with Ctrl+1 to Ctrl+9.
    void showCommandsMenu();
    // The send button's path, for the line box and the commands alike: "Not
    // connected." when no peer is, else the line made ready by prepare, its
    // "Sent:" entry when Show sent lines is checked, and its bytes handed to
    // the socket. Throws KvError; true when the line went out.
    bool sendLine(const std::function<LineToSend()>& prepare);
    // A line from the history into the line box, in its own entry mode.
    void showRecalled(const HistoryLine& line);
    void mnTools_Command_Click(int index);
    void mnTools_SaveCommand_Click();
    void mnTools_EditCommands_Click();
    void mnTools_Repeat_Click();
    void mnTools_StopRepeating_Click();
    void dlgCommands_OK();
    void dlgRepeat_OK();
    void txtLine_Recall(int direction);

    // Automatic replies (ReplyHandlers.cpp): the two menu items, the engine fed
    // what arrives, and the rules' dialog.
    void buildRepliesMenu(QMenu* mnTools);
    void setUpReplies();
    void restoreReplies(const SavedSettings& saved);
    // What arrived, for the rules to answer.
    void replyTo(const QByteArray& data);
    // New rules, from either dialog: kept, saved at shut-down, and answering at once.
    void setReplies(const ReplySet& replies);
    void mnTools_Replies_Click();
    void mnTools_ReplyAutomatically_Click(bool on);
    void dlgReplies_OK();
    void replyEngine_Failed(int rule, const QString& description);
    // Capture to a file, and time stamps to the millisecond (CaptureHandlers.cpp).
    void setUpCapture(QMenu* mnTools);
    void restoreCaptureSettings(const SavedSettings& saved);
    void startCapture(const QString& path, bool append, bool resumed);
    void mnTools_Capture_Click();
    void mnTools_StopCapture_Click();
    void logCapture_Stopped(const QString& path, qint64 written, qint64 size, const QString& reason);
    // TLS (TlsHandlers.cpp): the certificate dialog, the files read when TLS
    // is first used, and the question about a certificate that failed the checks.
    void buildTlsMenu(QMenu* tools);
    void mnTools_TlsCertificate_Click();
    void dlgTls_OK();
    // False when TLS cannot be used as set; the log says why.
    bool loadTlsIdentity();
    void wsClient_PeerNotVerified(const QSslCertificate& certificate, const QStringList& reasons);

    // The output log and the received data.
    void cmdClear_Click();
    void txtOutput_GotFocus();
    void textBox_Notice(const QString& text);
    void wsClient_DataArrival(qint32 bytesTotal);
    void wsClient_DatagramsDropped(qint64 count);
    void wsClient_ReadFailed(const QString& description);

    // The connect button, the role switch and the connection events.
    void cmdConnect_Click();
    void optServer_Click(int index);
    void wsClient_Close();
    void wsClient_Connect();
    void wsClient_ConnectionRequest(qint32 requestId);
    void wsClient_Error(int number, const QString& description);
    void wsClient_SendingFailed(const QString& description, qint64 unsentBytes);
    void wsClient_BytesNotSent(qint64 bytes);

    // Line sending and file sending.
    void cmdSend1_Click();
    void optMode_Click(int index);
    void txtLine_GotFocus();
    void cmdOpen_Click();
    void cmdSendFile_Click();
    void txtInterval_Validate();

    // What the connection control reads from the window and changes in it.
    QString hostText() const override;
    QString remotePortText() const override;
    QString localPortText() const override;
    bool serverRole() const override;
    bool clientRole() const override;
    int protocol() const override;
    bool closeOnDisconnect() const override;
    void setAddressBoxesEnabled(bool enabled) override;
    void setRoleOptionsEnabled(bool enabled) override;
    void connectionEnded() override;
    void report(const QStringList& items) override;

    // Controls, named as users and tests know them; tests find them by name.
    ToggleButton* chkFlat = nullptr;
    QPushButton* cmdOpen = nullptr;
    CheckBox* chkShow = nullptr;
    QLineEdit* txtInterval = nullptr;
    QPushButton* cmdSendFile = nullptr;
    CheckBox* chkAppenCrLf = nullptr;
    OptionArray* optMode = nullptr;
    QPushButton* cmdSend1 = nullptr;
    LineBox* txtLine = nullptr;
    QPushButton* cmdClear = nullptr;
    SocketControl* wsClient = nullptr;
    LogView* txtOutput = nullptr;
    CommonDialog* cdOpenFile = nullptr;
    QGroupBox* fraConnectionSettings = nullptr;
    ListCombo* cboMode = nullptr;
    CheckBox* chkCloseOnDisconnect = nullptr;
    OptionArray* optServer = nullptr;
    QPushButton* cmdConnect = nullptr;
    QLineEdit* txtLocalPort = nullptr;
    QLineEdit* txtRemotePort = nullptr;
    QLineEdit* txtIP = nullptr;
    QLabel* lblInfo = nullptr;
    QMenu* mnTools_Commands = nullptr;
    QAction* mnTools_Repeat = nullptr;
    QAction* mnTools_StopRepeating = nullptr;
    CommonDialog* cdCommandsFile = nullptr;
    QAction* mnTools_ReplyAutomatically = nullptr;

    // The value the close-on-disconnect box had when the client role was
    // chosen; the server role gets it back.
    int savedCloseOnDisconnect = 0;
    ConnectionControl* m_connection = nullptr;
    FileSender* m_fileSender = nullptr;
    QTimer* m_statusTimer = nullptr;
    // The line box is read again for the information line only after it changed.
    QString m_hexLineNote;
    bool m_hexLineChanged = true;
    // The whole information line, whatever part of it fits.
    QString m_infoText;

    QPushButton* m_defaultButton = nullptr;
    std::unique_ptr<MessageBoxService> m_messageBox;
    std::unique_ptr<Launcher> m_launcher;
    std::unique_ptr<PromptService> m_prompt;
    std::unique_ptr<CommandFile> m_commandFile;

    // Recall, the saved commands and the repeating.
    LineHistory m_history;
    // The window itself sets the line box to a recalled line: no typing ends the recall.
    bool m_recalling = false;
    QList<Command> m_commands;
    bool m_commandsChanged = false;
    Repeater* m_repeater = nullptr;
    QString m_repeatTimes;
    QString m_repeatInterval;
    QPointer<CommandsDialog> m_commandsDialog;
    QPointer<RepeatDialog> m_repeatDialog;
    // The reply rules, and whether this window changed them.
    ReplyEngine* m_replyEngine = nullptr;
    ReplySet m_replies;
    bool m_repliesChanged = false;
    QPointer<RepliesDialog> m_repliesDialog;
    LogCapture* m_capture = nullptr;
    CommonDialog* cdCapture = nullptr;
    QAction* mnTools_Capture = nullptr;
    QAction* mnTools_StopCapture = nullptr;
    bool m_captureAppend = true;
    bool m_captureChanged = false;
    bool m_milliseconds = false;
    QPointer<TlsDialog> m_tlsDialog;
    CommonDialog* cdTlsFile = nullptr;
    QString m_tlsCertificate;
    QString m_tlsKey;
    // The files have been read into the socket since they were last set.
    bool m_tlsLoaded = false;
    QMap<QString, QString> m_tlsTrusted;
    bool m_tlsTrustedChanged = false;
    // The program's own file as it was when the window opened; New Window starts it.
    const QString m_programPath;
    bool m_unloaded = false;
};
