// Automatic replies: the menu items, the rules' dialog, and the engine in
// send/ that answers what arrives. The window feeds it the arrivals the log
// gets and shows what it did.

#include "ui/frmKelvane.h"

#include "net/SocketControl.h"
#include "send/Codec.h"
#include "send/ReplyEngine.h"
#include "ui/Controls.h"
#include "ui/RepliesDialog.h"
#include "ui/SocketSendLink.h"

#include <QAction>
#include <QMenu>

void frmKelvane::buildRepliesMenu(QMenu* mnTools)
{
    mnTools->addSeparator();
    QAction* mnTools_Replies = mnTools->addAction(QStringLiteral("Automatic Re&plies..."));
    mnTools_Replies->setObjectName(QStringLiteral("mnTools_Replies"));
    connect(mnTools_Replies, &QAction::triggered, this, &frmKelvane::mnTools_Replies_Click);
    mnTools_ReplyAutomatically = mnTools->addAction(QStringLiteral("Reply &Automatically"));
    mnTools_ReplyAutomatically->setObjectName(QStringLiteral("mnTools_ReplyAutomatically"));
    mnTools_ReplyAutomatically->setCheckable(true);
    mnTools_ReplyAutomatically->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
    connect(mnTools_ReplyAutomatically, &QAction::toggled, this,
            &frmKelvane::mnTools_ReplyAutomatically_Click);
}

void frmKelvane::setUpReplies()
{
    m_replyEngine = new ReplyEngine(std::make_unique<SocketReplyLink>(wsClient), this);
    connect(m_replyEngine, &ReplyEngine::replied, this, &frmKelvane::echoBytes);
    connect(m_replyEngine, &ReplyEngine::notice, this, &frmKelvane::Echo);
    connect(m_replyEngine, &ReplyEngine::failed, this, &frmKelvane::replyEngine_Failed);
    // Paced by the peer, as every send is: replies that wait go on once the socket took some.
    connect(wsClient, &SocketControl::bytesWritten, m_replyEngine, &ReplyEngine::linkDrained);
    auto followShow = [this] { m_replyEngine->setShowSent(chkShow->value() == 1); };
    connect(chkShow, &QCheckBox::stateChanged, this, followShow);
    followShow();
}

void frmKelvane::restoreReplies(const SavedSettings& saved)
{
    for (const QString& why : saved.repliesSkipped)
        Echo({why});
    reporting([&] {
        m_replies = {saved.replyRules, HexToAscii(saved.replyDelimiter.toLatin1())};
        m_replyEngine->setRules(m_replies);
    });
    mnTools_ReplyAutomatically->setChecked(saved.repliesEnabled.trimmed() == QLatin1String("1"));
}

void frmKelvane::setReplies(const ReplySet& replies)
{
    if (replies == m_replies)
        return;
    m_replies = replies;
    m_repliesChanged = true;
    m_replyEngine->setRules(m_replies);
}

void frmKelvane::replyTo(const QByteArray& data)
{
    if (m_replyEngine->isEnabled())
        answerArrival(*m_replyEngine, *wsClient, data);
}

void frmKelvane::mnTools_Replies_Click()
{
    if (m_repliesDialog && m_repliesDialog->isVisible()) {
        m_repliesDialog->raise();
        m_repliesDialog->activateWindow();
        return;
    }
    auto* dialog = new RepliesDialog(m_replies, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, &frmKelvane::dlgReplies_OK);
    m_repliesDialog = dialog;
    // Not exec(): the window goes on answering while it is open.
    dialog->open();
}

void frmKelvane::dlgReplies_OK()
{
    setReplies(m_repliesDialog->replies());
}

void frmKelvane::mnTools_ReplyAutomatically_Click(bool on)
{
    m_replyEngine->setEnabled(on);
}

void frmKelvane::replyEngine_Failed(int rule, const QString& description)
{
    // The send button's failure path, naming the rule.
    Echo({QStringLiteral("Error"), description, QStringLiteral("Reply (rule %1)").arg(rule)});
}
