#pragma once

#include <QMainWindow>
#include <QStringList>

#include <memory>

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

class CheckBox;
class CommonDialog;
class FileSender;
class Launcher;
class LineBox;
class ListCombo;
class LogBox;
class MessageBoxService;
class OptionArray;
class SettingsStore;
class SocketControl;
class ToggleButton;

// The program's one window. It owns its controls, the state its handlers
// share, and every handler; each subsystem defines its handlers in its own
// source folder (app, log, net, send), the controls are built in ui.
class frmKelvane : public QMainWindow
{
    Q_OBJECT
public:
    explicit frmKelvane(QWidget* parent = nullptr);
    ~frmKelvane() override;

    // Start-up: caption, first log entry, saved settings. Runs once, before show().
    void Form_Load();

    // Appends one time-stamped entry made of the items to the log.
    void Echo(const QStringList& items);

    // The button that Enter activates in a control that is not a button; may be none.
    QPushButton* defaultButton() const { return m_defaultButton; }
    void setDefaultButton(QPushButton* button);

    // Platform services; the real ones are in place unless a test swaps them.
    void setMessageBox(std::unique_ptr<MessageBoxService> messageBox);
    void setLauncher(std::unique_ptr<Launcher> launcher);
    // Where the settings live; by default the user's own store.
    void setSettingsStore(std::unique_ptr<SettingsStore> store);
    CommonDialog* fileDialog() const { return cdOpenFile; }
    SocketControl* socket() const { return wsClient; }
    LogBox* logBox() const { return txtOutput; }
    // Puts another log box in the place of the log, taking ownership of its
    // widget; for comparing log boxes side by side.
    void replaceLogBox(LogBox* box);

    // Window-level state, read by tests.
    bool isConnected() const { return bConnected; }
    bool isLocalClose() const { return bLocalClose; }
    bool isUnloading() const { return bUnloading; }
    bool isFileOpen() const;

    static QString applicationTitle();
    // The title with " V" and the version, as the caption shows it.
    static QString captionText();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // ui: the controls, their start values, layout, tab order and menu.
    void buildControls();
    void buildMenu();
    void connectHandlers();

    // app: shut-down and the window menu.
    void Form_Unload();
    void mnFile_New_Click();
    void mnFile_Close_Click();
    // The program's own file as it was when the window opened; New Window starts it.
    static QString programPath();
    const QString m_programPath = programPath();

    // log: the output log and the received-data display.
    void cmdClear_Click();
    void txtOutput_GotFocus();
    void txtOutput_Notice(const QString& text);
    void wsClient_DataArrival(qint32 bytesTotal);
    void wsClient_DatagramsDropped(qint64 count);
    void wsClient_ReadFailed(const QString& description);

    // net: the connect button, the role switch and the connection events.
    void cmdConnect_Click();
    void optServer_Click(int index);
    void wsClient_Close();
    void wsClient_Connect();
    void wsClient_ConnectionRequest(qint32 requestId);
    void wsClient_Error(int number, const QString& description);
    void wsClient_BytesNotSent(qint64 bytes);
    // The address and port boxes, and both role options, in their order.
    void setAddressBoxesEnabled(bool enabled);
    void setRoleOptionsEnabled(bool enabled);

    // send: line sending and file sending.
    void cmdSend1_Click();
    void optMode_Click(int index);
    void txtLine_GotFocus();
    void cmdOpen_Click();
    void cmdSendFile_Click();
    void txtInterval_Validate();
    // The file sender with its timer tmrSendFile, wired to the socket and the controls.
    void setUpFileSending();

    // Controls, named as users and tests know them.
    ToggleButton* chkFlat = nullptr;
    QGroupBox* fraSendFile = nullptr;
    QPushButton* cmdOpen = nullptr;
    CheckBox* chkShow = nullptr;
    QLineEdit* txtInterval = nullptr;
    QPushButton* cmdSendFile = nullptr;
    QLabel* lblInterval = nullptr;
    CheckBox* chkAppenCrLf = nullptr;
    OptionArray* optMode = nullptr;
    QPushButton* cmdSend1 = nullptr;
    LineBox* txtLine = nullptr;
    QPushButton* cmdClear = nullptr;
    SocketControl* wsClient = nullptr;
    LogBox* txtOutput = nullptr;
    CommonDialog* cdOpenFile = nullptr;
    QGroupBox* fraConnectionSettings = nullptr;
    ListCombo* cboMode = nullptr;
    CheckBox* chkCloseOnDisconnect = nullptr;
    OptionArray* optServer = nullptr;
    QPushButton* cmdConnect = nullptr;
    QLineEdit* txtLocalPort = nullptr;
    QLineEdit* txtRemotePort = nullptr;
    QLineEdit* txtIP = nullptr;
    QLabel* lblMode = nullptr;
    QLabel* lblLocalPort = nullptr;
    QLabel* lblRemotePort = nullptr;
    QLabel* lblIP = nullptr;
    QLabel* lblInfo = nullptr;
    QMenu* mnFile = nullptr;
    QAction* mnFile_New = nullptr;
    QAction* mnFile_Close = nullptr;

    // Window-level state shared by the handlers.
    bool bConnected = false;
    bool bLocalClose = false;
    bool bUnloading = false;
    int savedCloseOnDisconnect = 0;
    // The open file, its stream and the state of its sending.
    FileSender* m_fileSender = nullptr;

    QPushButton* m_defaultButton = nullptr;
    std::unique_ptr<MessageBoxService> m_messageBox;
    std::unique_ptr<Launcher> m_launcher;
    std::unique_ptr<SettingsStore> m_settings;
    bool m_unloaded = false;
};
