#include "ui/frmKelvane.h"

#include "log/LogCapture.h"
#include "net/Address.h"
#include "net/SocketControl.h"
#include "platform/Launcher.h"
#include "platform/NumConv.h"
#include "send/Codec.h"
#include "send/Repeater.h"
#include "send/ReplyEngine.h"
#include "ui/CommandsDialog.h"
#include "ui/CommonDialog.h"
#include "ui/Controls.h"
#include "ui/Fonts.h"
#include "ui/Layout.h"
#include "ui/LineBox.h"
#include "ui/LogTools.h"
#include "ui/LogView.h"
#include "ui/MessageBox.h"
#include "ui/Prompt.h"
#include "ui/StatusLine.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QTimer>

#include "version.h"

// The artwork lives in the static library; its resources must be registered by hand.
static void initResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace {

void place(QWidget* w, Layout::Twips t)
{
    w->setGeometry(Layout::toPixels(t));
}

// One light palette for the whole window, every role in every state: a dark
// desktop theme must not put light text on the white window or the yellow boxes.
QPalette windowPalette()
{
    const QColor white(255, 255, 255);
    const QColor black(0, 0, 0);
    const QColor face(239, 239, 239); // buttons, as the stock light look has them
    const QColor greyText(120, 120, 120);
    QPalette p;
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const bool disabled = group == QPalette::Disabled;
        p.setColor(group, QPalette::Window, white);
        p.setColor(group, QPalette::WindowText, disabled ? greyText : black);
        p.setColor(group, QPalette::Base, white);
        p.setColor(group, QPalette::AlternateBase, face);
        p.setColor(group, QPalette::Text, disabled ? greyText : black);
        p.setColor(group, QPalette::PlaceholderText, greyText);
        p.setColor(group, QPalette::Button, face);
        p.setColor(group, QPalette::ButtonText, disabled ? greyText : black);
        p.setColor(group, QPalette::BrightText, white);
        p.setColor(group, QPalette::Light, white);
        p.setColor(group, QPalette::Midlight, face.darker(115));
        p.setColor(group, QPalette::Mid, face.darker(130));
        p.setColor(group, QPalette::Dark, face.darker(150));
        p.setColor(group, QPalette::Shadow, face.darker(200));
        p.setColor(group, QPalette::Highlight, disabled ? face.darker(150) : QColor(48, 140, 198));
        p.setColor(group, QPalette::HighlightedText, white);
        p.setColor(group, QPalette::ToolTipBase, QColor(255, 255, 225));
        p.setColor(group, QPalette::ToolTipText, black);
        p.setColor(group, QPalette::Link, QColor(0, 0, 238));
        p.setColor(group, QPalette::LinkVisited, QColor(85, 26, 139));
    }
    return p;
}

// Check boxes and options fill with the button colour of their own accord;
// on this window they stand on white like the labels.
void whiteBackground(QWidget* w)
{
    w->setBackgroundRole(QPalette::Window);
    w->setAutoFillBackground(true);
}

QLineEdit* addressBox(const QString& name, const QString& text, int maxLength, QWidget* parent)
{
    auto* box = new QLineEdit(parent);
    box->setObjectName(name);
    box->setMaxLength(maxLength);
    box->setText(text);
    box->setFrame(false);
    box->setAlignment(Qt::AlignCenter);
    QPalette p = box->palette();
    p.setColor(QPalette::Base, QColor(255, 255, 192));
    box->setPalette(p);
    return box;
}

// Taken once, when the window opens: a program moved away afterwards is not
// followed to its new place.
QString programPath()
{
    return QDir::toNativeSeparators(QCoreApplication::applicationFilePath());
}

// What the settings store for an option: "-1" when selected, else "0".
QString flagText(bool selected)
{
    return selected ? QStringLiteral("-1") : QStringLiteral("0");
}

QLabel* label(const QString& name, const QString& text, QWidget* parent)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    whiteBackground(l);
    return l;
}

} // namespace

frmKelvane::frmKelvane(QWidget* parent)
    : QMainWindow(parent), m_messageBox(std::make_unique<QtMessageBox>()),
      m_launcher(std::make_unique<ProcessLauncher>()), m_programPath(programPath())
{
    initResources();
    setObjectName(QStringLiteral("frmKelvane"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    setPalette(windowPalette());
    buildControls();
    buildMenu();
    buildToolsMenu();
    connectHandlers();
    setUpTools();
    setDefaultButton(cmdOpen);
    // The window opens at the layout's size and may grow, never shrink.
    resize(layout()->totalMinimumSize());
    layout()->activate();
    showInfo();
    // The first control of the tab order that takes the focus has it at start.
    txtIP->setFocus(Qt::OtherFocusReason);
    qApp->installEventFilter(this);
}

frmKelvane::~frmKelvane()
{
    qApp->removeEventFilter(this);
}

QString frmKelvane::applicationTitle()
{
    return QStringLiteral(KELVANE_TITLE);
}

QString frmKelvane::captionText()
{
    return applicationTitle() + QStringLiteral(" V") + QString::number(KELVANE_VERSION_MAJOR) +
           QLatin1Char('.') + QString::number(KELVANE_VERSION_MINOR) + QLatin1Char('.') +
           QString::number(KELVANE_VERSION_PATCH);
}

void frmKelvane::buildControls()
{
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("clientArea"));
    client->setMinimumSize(Layout::toPixels(Layout::ClientArea).size());
    whiteBackground(client);
    client->setFont(Fonts::window());
    setCentralWidget(client);
    setFont(Fonts::window());

    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/kelvane-32.png"));
    icon.addFile(QStringLiteral(":/icons/kelvane-16.png"));
    setWindowIcon(icon);

    // Created in the window's control list order; the tab order is set below.
    chkFlat = new ToggleButton(QStringLiteral("Flat Vie&w"), client);
    chkFlat->setObjectName(QStringLiteral("chkFlat"));
    chkFlat->setFlat(true);
    chkFlat->setValue(1);
    place(chkFlat, Layout::chkFlat);

    auto* fraSendFile = new QGroupBox(QStringLiteral("Send Text File"), client);
    fraSendFile->setObjectName(QStringLiteral("fraSendFile"));
    whiteBackground(fraSendFile);
    place(fraSendFile, Layout::fraSendFile);

    cmdOpen = new QPushButton(fraSendFile);
    cmdOpen->setObjectName(QStringLiteral("cmdOpen"));
    QIcon openIcon;
    openIcon.addFile(QStringLiteral(":/icons/openfile-32.png"));
    openIcon.addFile(QStringLiteral(":/icons/openfile-16.png"));
    cmdOpen->setIcon(openIcon);
    cmdOpen->setIconSize(QSize(Layout::PictureSize, Layout::PictureSize));
    cmdOpen->setToolTip(QStringLiteral("Open file"));
    place(cmdOpen, Layout::cmdOpen);

    chkShow = new CheckBox(QStringLiteral("Sh&ow sent lines"), fraSendFile);
    chkShow->setObjectName(QStringLiteral("chkShow"));
    chkShow->setFont(Fonts::smallSans());
    chkShow->setValue(1);
    whiteBackground(chkShow);
    place(chkShow, Layout::chkShow);

    txtInterval = new QLineEdit(QStringLiteral("1000"), fraSendFile);
    txtInterval->setObjectName(QStringLiteral("txtInterval"));
    txtInterval->setMaxLength(Layout::NoMaxLength);
    place(txtInterval, Layout::txtInterval);

    cmdSendFile = new QPushButton(QStringLiteral("S&end"), fraSendFile);
    cmdSendFile->setObjectName(QStringLiteral("cmdSendFile"));
    place(cmdSendFile, Layout::cmdSendFile);

    auto* lblInterval = new QLabel(QStringLiteral("Interva&l"), fraSendFile);
    lblInterval->setObjectName(QStringLiteral("lblInterval"));
    lblInterval->setBuddy(txtInterval);
    place(lblInterval, Layout::lblInterval);
    lblInterval->adjustSize();

    chkAppenCrLf = new CheckBox(QStringLiteral("Appe&nd CrLf"), client);
    chkAppenCrLf->setObjectName(QStringLiteral("chkAppenCrLf"));
    chkAppenCrLf->setFont(Fonts::smallSans());
    chkAppenCrLf->setValue(1);
    whiteBackground(chkAppenCrLf);
    place(chkAppenCrLf, Layout::chkAppenCrLf);

    optMode = new OptionArray(this);
    optMode->setObjectName(QStringLiteral("optMode"));
    OptionButton* ascii = optMode->add(QStringLiteral("optMode"), QStringLiteral("&ASCII"), client);
    OptionButton* hex = optMode->add(QStringLiteral("optMode"), QStringLiteral("HE&X"), client);
    whiteBackground(ascii);
    whiteBackground(hex);
    place(ascii, Layout::optMode0);
    place(hex, Layout::optMode1);
    ascii->setChecked(true);

    // Webdings draws "4" as a right-pointing triangle; here the triangle itself.
    cmdSend1 = new QPushButton(QString(QChar(0x25B6)), client);
    cmdSend1->setObjectName(QStringLiteral("cmdSend1"));
    cmdSend1->setFont(Fonts::sendGlyph());
    cmdSend1->setToolTip(QStringLiteral("Send"));
    place(cmdSend1, Layout::cmdSend1);

    // Lines of any length: a box of our own, since QLineEdit lays out the whole
    // line on every key and freezes on a pasted megabyte.
    txtLine = new LineBox(client);
    txtLine->setObjectName(QStringLiteral("txtLine"));
    place(txtLine, Layout::txtLine);

    cmdClear = new QPushButton(QStringLiteral("Clea&r"), client);
    cmdClear->setObjectName(QStringLiteral("cmdClear"));
    place(cmdClear, Layout::cmdClear);

    wsClient = new SocketControl(this);
    wsClient->setObjectName(QStringLiteral("wsClient"));

    auto* log = new LogView(client);
    log->setObjectName(QStringLiteral("txtOutput"));
    place(log, Layout::txtOutput);
    txtOutput = log;

    cdOpenFile = new CommonDialog(this);
    cdOpenFile->setObjectName(QStringLiteral("cdOpenFile"));
    cdOpenFile->setDialogTitle(QStringLiteral("Select File..."));
    cdOpenFile->setFilter(QStringLiteral("All Files (*)"));

    fraConnectionSettings = new QGroupBox(QStringLiteral("Connection Settings"), client);
    fraConnectionSettings->setObjectName(QStringLiteral("fraConnectionSettings"));
    whiteBackground(fraConnectionSettings);
    place(fraConnectionSettings, Layout::fraConnectionSettings);
    QWidget* fcs = fraConnectionSettings;

    cboMode = new ListCombo(fcs);
    cboMode->setObjectName(QStringLiteral("cboMode"));
    cboMode->addItem(QStringLiteral("0-TCP"), 0);
    cboMode->addItem(QStringLiteral("1-UDP"), 1);
    cboMode->addItem(QStringLiteral("2-TLS"), 2);
    cboMode->setCurrentIndex(-1);
    place(cboMode, Layout::cboMode);

    chkCloseOnDisconnect = new CheckBox(QStringLiteral("Close server when client disconnecte&d"), fcs);
    chkCloseOnDisconnect->setObjectName(QStringLiteral("chkCloseOnDisconnect"));
    chkCloseOnDisconnect->setFont(Fonts::smallSans());
    whiteBackground(chkCloseOnDisconnect);
    place(chkCloseOnDisconnect, Layout::chkCloseOnDisconnect);

    optServer = new OptionArray(this);
    optServer->setObjectName(QStringLiteral("optServer"));
    OptionButton* server = optServer->add(QStringLiteral("optServer"), QStringLiteral("&Server"), fcs);
    OptionButton* clientRole = optServer->add(QStringLiteral("optServer"), QStringLiteral("&Client"), fcs);
    whiteBackground(server);
    whiteBackground(clientRole);
    place(server, Layout::optServer0);
    place(clientRole, Layout::optServer1);

    cmdConnect = new QPushButton(fcs);
    cmdConnect->setObjectName(QStringLiteral("cmdConnect"));
    cmdConnect->setIcon(windowIcon());
    cmdConnect->setIconSize(QSize(Layout::PictureSize, Layout::PictureSize));
    cmdConnect->setToolTip(QStringLiteral("Connect/Disconnect"));
    place(cmdConnect, Layout::cmdConnect);

    txtLocalPort =
        addressBox(QStringLiteral("txtLocalPort"), QStringLiteral("0"), Layout::PortMaxLength, fcs);
    place(txtLocalPort, Layout::txtLocalPort);
    txtRemotePort =
        addressBox(QStringLiteral("txtRemotePort"), QStringLiteral("5005"), Layout::PortMaxLength, fcs);
    place(txtRemotePort, Layout::txtRemotePort);
    txtIP = addressBox(QStringLiteral("txtIP"), QStringLiteral("127.0.0.1"), Layout::TxtIPMaxLength, fcs);
    place(txtIP, Layout::txtIP);

    QLabel* lblMode = label(QStringLiteral("lblMode"), QStringLiteral("&Mode"), fcs);
    lblMode->setBuddy(cboMode);
    place(lblMode, Layout::lblMode);
    QLabel* lblLocalPort = label(QStringLiteral("lblLocalPort"), QStringLiteral("&Local Port"), fcs);
    lblLocalPort->setBuddy(txtLocalPort);
    place(lblLocalPort, Layout::lblLocalPort);
    QLabel* lblRemotePort = label(QStringLiteral("lblRemotePort"), QStringLiteral("&Remote Port"), fcs);
    lblRemotePort->setBuddy(txtRemotePort);
    place(lblRemotePort, Layout::lblRemotePort);
    QLabel* lblIP = label(QStringLiteral("lblIP"), QStringLiteral("I&P or Host"), fcs);
    lblIP->setBuddy(txtIP);
    place(lblIP, Layout::lblIP);
    lblIP->adjustSize();

    lblInfo = label(QStringLiteral("lblInfo"), QString(), client);
    lblInfo->setFont(Fonts::info());
    QPalette grey = lblInfo->palette();
    grey.setColor(QPalette::WindowText, QColor(128, 128, 128));
    lblInfo->setPalette(grey);
    place(lblInfo, Layout::lblInfo);
    lblInfo->adjustSize();

    // Tab order; labels take no focus, their access keys move it to their buddy.
    const QList<QWidget*> order = {txtIP,
                                   txtRemotePort,
                                   txtLocalPort,
                                   (*optServer)[0],
                                   (*optServer)[1],
                                   cmdConnect,
                                   cboMode,
                                   chkCloseOnDisconnect,
                                   cmdOpen,
                                   txtInterval,
                                   chkShow,
                                   cmdSendFile,
                                   log,
                                   cmdClear,
                                   chkFlat,
                                   txtLine,
                                   cmdSend1,
                                   (*optMode)[0],
                                   (*optMode)[1],
                                   chkAppenCrLf};
    for (int i = 0; i + 1 < order.size(); ++i)
        setTabOrder(order[i], order[i + 1]);
}

void frmKelvane::buildMenu()
{
    QMenu* mnFile = menuBar()->addMenu(QStringLiteral("&File"));
    mnFile->setObjectName(QStringLiteral("mnFile"));
    QAction* mnFile_New = mnFile->addAction(QStringLiteral("&New Window"));
    mnFile_New->setObjectName(QStringLiteral("mnFile_New"));
    mnFile_New->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    connect(mnFile_New, &QAction::triggered, this, &frmKelvane::mnFile_New_Click);
    QAction* mnFile_Close = mnFile->addAction(QStringLiteral("&Close"));
    mnFile_Close->setObjectName(QStringLiteral("mnFile_Close"));
    mnFile_Close->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(mnFile_Close, &QAction::triggered, this, &frmKelvane::mnFile_Close_Click);
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

void frmKelvane::restoreSettings(const SavedSettings& saved)
{
    // Each step stands alone: a bad stored value costs only its own step.
    const std::function<void()> steps[] = {
        [&] { cdOpenFile->setFileName(saved.file); },
        [&] { txtIP->setText(saved.remoteIp); },
        [&] { txtRemotePort->setText(NumToText(Val(saved.remotePort))); },
        [&] { txtLocalPort->setText(NumToText(Val(saved.localPort))); },
        [&] { txtInterval->setText(NumToText(Val(saved.interval))); },
        // Selecting an option runs its click: the entry-mode rule and the role switch.
        [&] { optMode->setValue(0, Val(saved.ascii) != 0); },
        [&] { optMode->setValue(1, !optMode->value(0)); },
        // In HEX mode the CR LF setting is not even looked at.
        [&] { chkAppenCrLf->setValue(optMode->value(0) ? RoundToInt16(Val(saved.crlf)) : 0); },
        [&] { chkCloseOnDisconnect->setValue(RoundToInt16(Val(saved.closeOnDisconnect))); },
        // Client first, then the saved role, so the restored box value survives either role.
        [&] { optServer->setValue(1, !optServer->value(0)); },
        [&] { optServer->setValue(0, Val(saved.server) != 0); },
        [&] { cboMode->setListIndex(RoundToInt16(Val(saved.mode))); },
        [&] { chkFlat->setValue(RoundToInt16(Val(saved.flatView))); },
        [&] { chkShow->setValue(RoundToInt16(Val(saved.showSent))); },
        [&] { placeWindow(saved); },
    };
    for (const auto& step : steps)
        reporting(step);
    restoreToolsSettings(saved);
    restoreCaptureSettings(saved);
}

SavedSettings frmKelvane::settingsToSave() const
{
    // A maximized window comes back at the size it had before.
    const QRect place = normalGeometry();
    SavedSettings saved{cdOpenFile->FileName(),
                        txtIP->text(),
                        txtRemotePort->text(),
                        txtLocalPort->text(),
                        txtInterval->text(),
                        flagText(optMode->value(0)),
                        QString::number(chkAppenCrLf->value()),
                        QString::number(chkCloseOnDisconnect->value()),
                        flagText(optServer->value(0)),
                        QString::number(cboMode->listIndex()),
                        QString::number(chkFlat->value()),
                        QString::number(chkShow->value()),
                        QString::number(place.left()),
                        QString::number(place.top()),
                        QString::number(place.width()),
                        QString::number(place.height()),
                        m_repeatTimes,
                        m_repeatInterval,
                        m_history.linesToSave(),
                        m_commands,
                        {},
                        m_commandsChanged,
                        m_replyEngine->isEnabled() ? QStringLiteral("1") : QStringLiteral("0"),
                        QString::fromLatin1(AsciiToHex(m_replies.delimiter)),
                        m_replies.rules,
                        {},
                        m_repliesChanged,
                        m_capture->isCapturing() ? m_capture->path() : QString(),
                        QString::number(int(m_captureAppend)),
                        QString::number(int(m_milliseconds))};
    saved.tlsCertificate = m_tlsCertificate;
    saved.tlsKey = m_tlsKey;
    saved.tlsTrusted = m_tlsTrusted;
    saved.tlsTrustedChanged = m_tlsTrustedChanged;
    saved.captureChanged = m_captureChanged;
    return saved;
}

void frmKelvane::placeWindow(const SavedSettings& saved)
{
    bool ok[4];
    const QRect place(saved.left.toInt(&ok[0]), saved.top.toInt(&ok[1]), saved.width.toInt(&ok[2]),
                      saved.height.toInt(&ok[3]));
    // Nothing saved yet, or a size the layout does not fit in: the layout's size.
    if (!ok[2] || !ok[3] || place.width() < minimumWidth() || place.height() < minimumHeight())
        return;
    resize(place.size());
    if (!ok[0] || !ok[1])
        return;
    // The middle of its top edge must be on a screen, where the caption can be taken.
    const QPoint handle(place.left() + place.width() / 2, place.top());
    for (const QScreen* screen : QGuiApplication::screens())
        if (screen->geometry().contains(handle)) {
            setGeometry(place);
            return;
        }
}

void frmKelvane::connectHandlers()
{
    m_connection = new ConnectionControl(wsClient, this, this);

    connect(cmdClear, &QPushButton::clicked, this, &frmKelvane::cmdClear_Click);
    // What a text box could not do (a copy too large, a failed edit) goes to the log.
    connect(txtOutput, &LogView::notice, this, &frmKelvane::textBox_Notice);
    connect(txtLine, &LineBox::notice, this, &frmKelvane::textBox_Notice);
    // Find, Save Log As... and Clear on the log; what they have to say goes
    // to a warning box, never into the log.
    auto* tools = new LogTools(txtOutput);
    tools->setWarning([this](const QString& text) { m_messageBox->warning(this, applicationTitle(), text); });
    connect(wsClient, &SocketControl::dataArrival, this, &frmKelvane::wsClient_DataArrival);
    connect(wsClient, &SocketControl::datagramsDropped, this, &frmKelvane::wsClient_DatagramsDropped);
    connect(wsClient, &SocketControl::readFailed, this, &frmKelvane::wsClient_ReadFailed);

    connect(cmdConnect, &QPushButton::clicked, this, &frmKelvane::cmdConnect_Click);
    connect(optServer, &OptionArray::clicked, this, &frmKelvane::optServer_Click);
    connect(wsClient, &SocketControl::closed, this, &frmKelvane::wsClient_Close);
    connect(wsClient, &SocketControl::connected, this, &frmKelvane::wsClient_Connect);
    connect(wsClient, &SocketControl::connectionRequest, this, &frmKelvane::wsClient_ConnectionRequest);
    connect(wsClient, &SocketControl::error, this, &frmKelvane::wsClient_Error);
    connect(wsClient, &SocketControl::sendingFailed, this, &frmKelvane::wsClient_SendingFailed);
    connect(wsClient, &SocketControl::bytesNotSent, this, &frmKelvane::wsClient_BytesNotSent);

    connect(cmdSend1, &QPushButton::clicked, this, &frmKelvane::cmdSend1_Click);
    connect(optMode, &OptionArray::clicked, this, &frmKelvane::optMode_Click);
    connect(txtLine, &LineBox::textChanged, this, [this] { m_hexLineChanged = true; });
    connect(cmdOpen, &QPushButton::clicked, this, &frmKelvane::cmdOpen_Click);
    connect(cmdSendFile, &QPushButton::clicked, this, &frmKelvane::cmdSendFile_Click);
    setUpFileSending();

    // A few times a second at most, whatever the traffic.
    m_statusTimer = new QTimer(this);
    m_statusTimer->setInterval(Layout::StatusLineMs);
    connect(m_statusTimer, &QTimer::timeout, this, &frmKelvane::updateStatusLine);
    m_statusTimer->start();
    updateStatusLine();
}

void frmKelvane::updateStatusLine()
{
    StatusFacts f;
    f.udp = wsClient->Protocol() == SocketControl::UdpProtocol;
    f.localPort = wsClient->LocalPort();
    f.traffic = wsClient->traffic();
    f.tls = wsClient->tlsVersion();
    f.situation = m_connection->situation();
    f.peer = f.situation == ConnectionControl::Situation::Connecting
                 ? hostAndPort(txtIP->text(), txtRemotePort->text())
                 : hostAndPort(wsClient->RemoteHostIP(), wsClient->RemotePort());
    f.lastSender = wsClient->lastSender();
    f.sending = m_fileSender->isRunning();
    f.file = m_fileSender->progress();
    // The first refresh comes before the tools are set up.
    if (m_repeater) {
        f.repeating = m_repeater->isRunning();
        f.repeatSent = m_repeater->sent();
        f.repeatTimes = m_repeater->times();
        f.replying = m_replyEngine->isEnabled();
        f.replies = m_replyEngine->replies();
    }
    if (m_capture) {
        f.capturing = m_capture->isCapturing();
        f.capturePath = m_capture->path();
        f.captureBytes = m_capture->fileSize();
    }
    const QString text = statusText(f) + hexLineNote();
    if (text == m_infoText)
        return;
    m_infoText = text;
    showInfo();
}

void frmKelvane::showInfo()
{
    const int room =
        centralWidget()->width() - lblInfo->x() - Layout::InfoRightMargin / Layout::TwipsPerPixel;
    const QString shown = lblInfo->fontMetrics().elidedText(m_infoText, Qt::ElideRight, room);
    lblInfo->setText(shown);
    lblInfo->setToolTip(shown == m_infoText ? QString() : m_infoText);
    lblInfo->adjustSize();
    lblInfo->resize(qMin(lblInfo->width(), room), lblInfo->height());
}

void frmKelvane::followClientArea()
{
    QWidget* client = centralWidget();
    const QSize extra = client->size() - Layout::toPixels(Layout::ClientArea).size();
    for (const Layout::Growing& g : Layout::GrowingControls)
        if (auto* control = client->findChild<QWidget*>(QLatin1String(g.name)))
            control->setGeometry(Layout::grown(Layout::toPixels(g.place), g.follow, extra));
    showInfo();
}

bool frmKelvane::moveToAccessKey(const QKeyEvent& key, bool move)
{
    if ((key.modifiers() & ~Qt::KeypadModifier) != Qt::AltModifier)
        return false;
    const QKeySequence pressed(QKeyCombination(Qt::AltModifier, Qt::Key(key.key())));
    // Each caption with this access key, and the control it leads to.
    int captions = 0;
    QList<QWidget*> targets;
    for (QWidget* child : centralWidget()->findChildren<QWidget*>()) {
        QString caption;
        QWidget* target = child;
        if (auto* button = qobject_cast<QAbstractButton*>(child))
            caption = button->text();
        else if (auto* label = qobject_cast<QLabel*>(child); label && label->buddy()) {
            caption = label->text();
            target = label->buddy();
        }
        if (caption.isEmpty() || QKeySequence::mnemonic(caption) != pressed)
            continue;
        ++captions;
        if (target->isEnabled() && target->isVisibleTo(this) && target->focusPolicy() != Qt::NoFocus)
            targets.append(target);
    }
    // A key of one control keeps its own behaviour: a button's is a click.
    if (captions < 2)
        return false;
    if (!move || targets.isEmpty())
        return true;
    QWidget* from = focusWidget() ? focusWidget() : this;
    for (QWidget* w = from->nextInFocusChain(); w && w != from; w = w->nextInFocusChain())
        if (targets.contains(w)) {
            w->setFocus(Qt::ShortcutFocusReason);
            break;
        }
    return true;
}

void frmKelvane::setDefaultButton(QPushButton* button)
{
    if (m_defaultButton)
        m_defaultButton->setDefault(false);
    m_defaultButton = button;
    if (button)
        button->setDefault(true); // the look only; Enter is handled in eventFilter
}

void frmKelvane::setMessageBox(std::unique_ptr<MessageBoxService> messageBox)
{
    m_messageBox = std::move(messageBox);
}

void frmKelvane::setLauncher(std::unique_ptr<Launcher> launcher)
{
    m_launcher = std::move(launcher);
}

bool frmKelvane::eventFilter(QObject* watched, QEvent* event)
{
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this)
        return QMainWindow::eventFilter(watched, event);

    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // A shared access key comes here as a key press instead of a shortcut:
        // Qt would send it to the controls in turn, whatever has the focus.
        if (moveToAccessKey(*static_cast<QKeyEvent*>(event), false)) {
            event->accept();
            return true;
        }
        break;
    case QEvent::Resize:
        if (watched == centralWidget())
            followClientArea();
        break;
    case QEvent::KeyPress: {
        auto* key = static_cast<QKeyEvent*>(event);
        if (moveToAccessKey(*key, true))
            return true;
        const bool enter = (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
                           (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
        // Only where the key lands: it passes here again on its way up the parents.
        if (!enter || widget != QApplication::focusWidget())
            break;
        // A focused push button takes Enter itself, as it takes Space.
        if (auto* button = qobject_cast<QPushButton*>(widget)) {
            button->click();
            return true;
        }
        // In any other control Enter clicks the window's default button.
        if (m_defaultButton && m_defaultButton->isEnabled() && m_defaultButton->isVisibleTo(this)) {
            m_defaultButton->click();
            return true;
        }
        break;
    }
    case QEvent::FocusIn:
        if (watched == txtOutput)
            txtOutput_GotFocus();
        else if (watched == txtLine)
            txtLine_GotFocus();
        break;
    case QEvent::FocusOut: {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        // Leaving for another window or a popup is no move to another control.
        if (watched == txtInterval && reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            txtInterval_Validate();
        break;
    }
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmKelvane::closeEvent(QCloseEvent* event)
{
    // Shut-down runs once; the window always closes.
    if (!m_unloaded) {
        m_unloaded = true;
        try {
            emit unloading();
        } catch (...) {
        }
    }
    event->accept();
}
