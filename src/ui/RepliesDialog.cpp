#include "ui/RepliesDialog.h"

#include "platform/KvError.h"
#include "platform/Latin1.h"
#include "platform/NumConv.h"
#include "send/Codec.h"
#include "ui/DialogParts.h"
#include "ui/Layout.h"
#include "ui/StatusLine.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

enum Column
{
    OnColumn,
    MatchColumn,
    PatternColumn,
    PatternHexColumn,
    ReplyColumn,
    ReplyHexColumn,
    CrLfColumn,
    DelayColumn,
    ColumnCount
};

enum DelimiterChoice
{
    NoDelimiter,
    LfDelimiter,
    CrLfDelimiter,
    HexDelimiter
};

QTableWidgetItem* checkItem(bool checked, bool enabled = true)
{
    auto* item = new QTableWidgetItem;
    item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    item->setFlags(enabled ? Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsUserCheckable
                           : Qt::ItemIsSelectable);
    return item;
}

// A delay as typed: a whole number, or -1, which the rule's check refuses with the range.
qint64 readDelay(const QString& text)
{
    bool ok = false;
    const qint64 value = text.trimmed().toLongLong(&ok);
    return ok ? value : -1;
}

} // namespace

RepliesDialog::RepliesDialog(const ReplySet& replies, QWidget* parent) : QDialog(parent), m_replies(replies)
{
    setObjectName(QStringLiteral("dlgReplies"));
    setWindowTitle(QStringLiteral("Automatic Replies"));
    resize(Layout::toPixels(Layout::dlgReplies).size());

    tblReplies = new QTableWidget(0, ColumnCount, this);
    tblReplies->setObjectName(QStringLiteral("tblReplies"));
    tblReplies->setHorizontalHeaderLabels(
        {QStringLiteral("On"), QStringLiteral("Match"), QStringLiteral("Pattern"), QStringLiteral("HEX"),
         QStringLiteral("Reply"), QStringLiteral("HEX"), QStringLiteral("CR LF"), QStringLiteral("Delay")});
    tblReplies->horizontalHeader()->setSectionResizeMode(PatternColumn, QHeaderView::Stretch);
    tblReplies->horizontalHeader()->setSectionResizeMode(ReplyColumn, QHeaderView::Stretch);
    tblReplies->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblReplies->setSelectionMode(QAbstractItemView::SingleSelection);
    tblReplies->setItemDelegate(new UnlimitedDelegate(tblReplies));

    lblReplyNote = new QLabel(this);
    lblReplyNote->setObjectName(QStringLiteral("lblReplyNote"));
    lblReplyNote->setWordWrap(true);

    auto* tools = new QHBoxLayout;
    QPushButton* add = toolButton(QStringLiteral("cmdAddReply"), QStringLiteral("&Add"), this);
    QPushButton* remove = toolButton(QStringLiteral("cmdRemoveReply"), QStringLiteral("&Remove"), this);
    QPushButton* up = toolButton(QStringLiteral("cmdMoveReplyUp"), QStringLiteral("Move &Up"), this);
    QPushButton* down = toolButton(QStringLiteral("cmdMoveReplyDown"), QStringLiteral("Move &Down"), this);
    for (QPushButton* b : {add, remove, up, down})
        tools->addWidget(b);
    tools->addStretch();
    cboReplyDelimiter = new QComboBox(this);
    cboReplyDelimiter->setObjectName(QStringLiteral("cboReplyDelimiter"));
    cboReplyDelimiter->addItems(
        {QStringLiteral("None"), QStringLiteral("LF"), QStringLiteral("CR LF"), QStringLiteral("HEX bytes")});
    cboReplyDelimiter->setToolTip(QStringLiteral("Where the TCP stream is cut into messages"));
    txtReplyDelimiter = new QLineEdit(this);
    txtReplyDelimiter->setObjectName(QStringLiteral("txtReplyDelimiter"));
    auto* delimiterLabel = new QLabel(QStringLiteral("De&limiter:"), this);
    delimiterLabel->setObjectName(QStringLiteral("lblReplyDelimiter"));
    delimiterLabel->setBuddy(cboReplyDelimiter);
    tools->addWidget(delimiterLabel);
    tools->addWidget(cboReplyDelimiter);
    tools->addWidget(txtReplyDelimiter);

    auto* test = new QHBoxLayout;
    txtReplyTest = new QLineEdit(this);
    txtReplyTest->setObjectName(QStringLiteral("txtReplyTest"));
    txtReplyTest->setMaxLength(Layout::NoMaxLength);
    txtReplyTest->setPlaceholderText(QStringLiteral("A message to try the rules on"));
    chkReplyTestHex = new QCheckBox(QStringLiteral("&HEX"), this);
    chkReplyTestHex->setObjectName(QStringLiteral("chkReplyTestHex"));
    auto* testLabel = new QLabel(QStringLiteral("&Test:"), this);
    testLabel->setObjectName(QStringLiteral("lblReplyTestField"));
    testLabel->setBuddy(txtReplyTest);
    test->addWidget(testLabel);
    test->addWidget(txtReplyTest);
    test->addWidget(chkReplyTestHex);
    lblReplyTest = new QLabel(this);
    lblReplyTest->setObjectName(QStringLiteral("lblReplyTest"));
    lblReplyTest->setWordWrap(true);
    lblReplyTest->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("cmdRepliesOK"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cmdRepliesCancel"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tblReplies);
    layout->addWidget(lblReplyNote);
    layout->addLayout(tools);
    layout->addLayout(test);
    layout->addWidget(lblReplyTest);
    layout->addWidget(buttons);

    connect(add, &QPushButton::clicked, this, &RepliesDialog::cmdAddReply_Click);
    connect(remove, &QPushButton::clicked, this, &RepliesDialog::cmdRemoveReply_Click);
    connect(up, &QPushButton::clicked, this, [this] { cmdMoveReply_Click(-1); });
    connect(down, &QPushButton::clicked, this, [this] { cmdMoveReply_Click(1); });
    connect(buttons, &QDialogButtonBox::accepted, this, &RepliesDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &RepliesDialog::reject);
    connect(tblReplies, &QTableWidget::itemChanged, this, &RepliesDialog::tblReplies_ItemChanged);
    connect(tblReplies, &QTableWidget::currentCellChanged, this, &RepliesDialog::showNote);
    connect(cboReplyDelimiter, &QComboBox::currentIndexChanged, this, [this] {
        txtReplyDelimiter->setEnabled(cboReplyDelimiter->currentIndex() == HexDelimiter);
        showTest();
    });
    connect(txtReplyDelimiter, &QLineEdit::textChanged, this, &RepliesDialog::showTest);
    connect(txtReplyTest, &QLineEdit::textChanged, this, &RepliesDialog::showTest);
    connect(chkReplyTestHex, &QCheckBox::toggled, this, &RepliesDialog::showTest);

    showDelimiter();
    showRules(0);
}

void RepliesDialog::showDelimiter()
{
    const QByteArray& d = m_replies.delimiter;
    const int choice = d.isEmpty()   ? NoDelimiter
                       : d == "\n"   ? LfDelimiter
                       : d == "\r\n" ? CrLfDelimiter
                                     : HexDelimiter;
    txtReplyDelimiter->setText(choice == HexDelimiter ? QString::fromLatin1(SpacedHex(d)) : QString());
    cboReplyDelimiter->setCurrentIndex(choice);
    txtReplyDelimiter->setEnabled(choice == HexDelimiter);
}

QByteArray RepliesDialog::delimiter() const
{
    switch (cboReplyDelimiter->currentIndex()) {
    case LfDelimiter:
        return QByteArrayLiteral("\n");
    case CrLfDelimiter:
        return QByteArrayLiteral("\r\n");
    case HexDelimiter:
        return readDelimiter(txtReplyDelimiter->text());
    default:
        return {};
    }
}

void RepliesDialog::showRules(int current)
{
    m_filling = true;
    tblReplies->clearContents();
    tblReplies->setRowCount(int(m_replies.rules.size()));
    for (int row = 0; row < m_replies.rules.size(); ++row) {
        const ReplyRule& r = m_replies.rules.at(row);
        tblReplies->setItem(row, OnColumn, checkItem(r.on));
        tblReplies->setItem(row, PatternColumn, new QTableWidgetItem(r.pattern));
        tblReplies->setItem(row, PatternHexColumn, checkItem(r.patternHex));
        tblReplies->setItem(row, ReplyColumn, new QTableWidgetItem(r.reply));
        tblReplies->setItem(row, ReplyHexColumn, checkItem(r.replyHex));
        // A HEX reply carries its own line ends.
        tblReplies->setItem(row, CrLfColumn, checkItem(r.crLf && !r.replyHex, !r.replyHex));
        tblReplies->setItem(row, DelayColumn,
                            new QTableWidgetItem(r.delayMs < 0 ? QString() : QString::number(r.delayMs)));
        auto* match = new QComboBox(tblReplies);
        match->setObjectName(QStringLiteral("cboReplyMatch"));
        for (int m = ReplyRule::Contains; m <= ReplyRule::Regex; ++m)
            match->addItem(matchName(ReplyRule::Match(m)));
        match->setCurrentIndex(r.match);
        connect(match, &QComboBox::activated, this, [this, match](int index) {
            // The row it stands in now, after any moves.
            for (int at = 0; at < tblReplies->rowCount(); ++at)
                if (tblReplies->cellWidget(at, MatchColumn) == match)
                    m_replies.rules[at].match = ReplyRule::Match(index);
            showNote();
        });
        tblReplies->setCellWidget(row, MatchColumn, match);
    }
    for (int column : {OnColumn, MatchColumn, PatternHexColumn, ReplyHexColumn, CrLfColumn, DelayColumn})
        tblReplies->resizeColumnToContents(column);
    m_filling = false;
    if (!m_replies.rules.isEmpty())
        tblReplies->setCurrentCell(std::clamp(current, 0, int(m_replies.rules.size()) - 1), PatternColumn);
    showNote();
}

void RepliesDialog::tblReplies_ItemChanged(QTableWidgetItem* item)
{
    if (m_filling)
        return;
    ReplyRule& r = m_replies.rules[item->row()];
    const bool checked = item->checkState() == Qt::Checked;
    switch (item->column()) {
    case OnColumn:
        r.on = checked;
        break;
    case PatternColumn:
        r.pattern = item->text();
        break;
    case PatternHexColumn:
        r.patternHex = checked;
        break;
    case ReplyColumn:
        r.reply = item->text();
        break;
    case ReplyHexColumn:
        // As the window's options do: HEX carries its own line ends, ASCII gets CR LF back.
        r.replyHex = checked;
        r.crLf = !checked;
        showRules(item->row());
        return;
    case CrLfColumn:
        r.crLf = checked;
        break;
    case DelayColumn:
        r.delayMs = readDelay(item->text());
        break;
    default:
        break;
    }
    showNote();
}

void RepliesDialog::showNote()
{
    const int row = tblReplies->currentRow();
    lblReplyNote->setText(
        row < 0 || row >= m_replies.rules.size() ? QString() : replyRuleProblem(m_replies.rules.at(row)));
    showTest();
}

void RepliesDialog::showTest()
{
    if (txtReplyTest->text().isEmpty()) {
        lblReplyTest->clear();
        return;
    }
    QString text;
    try {
        const QByteArray typed = Latin1::toBytes(txtReplyTest->text());
        const QByteArray message = chkReplyTestHex->isChecked() ? ParseHexLine(typed) : typed;
        const std::optional<ReplyRules::Answer> answer =
            ReplyRules(m_replies.rules, delimiter()).answer(message);
        if (!answer) {
            text = QStringLiteral("No rule answers.");
        } else {
            text = QStringLiteral("Rule ") + QString::number(answer->rule + 1) + QStringLiteral(" answers");
            if (answer->delayMs > 0)
                text += QStringLiteral(" after ") + CountText(answer->delayMs) + QStringLiteral(" ms");
            const qsizetype n = answer->bytes.size();
            text += QStringLiteral(" with ") +
                    (n == 1 ? QStringLiteral("1 byte") : CountText(n) + QStringLiteral(" bytes")) +
                    QStringLiteral(": ") + visibleText(QString::fromLatin1(answer->bytes)) +
                    QStringLiteral(" | ") + QString::fromLatin1(SpacedHex(answer->bytes));
        }
    } catch (const std::exception& e) {
        text = KvErr::describe(e);
    }
    lblReplyTest->setText(text);
}

void RepliesDialog::cmdAddReply_Click()
{
    const int at = tblReplies->currentRow() + 1;
    ReplyRule r;
    r.crLf = true; // a new ASCII reply, as the window starts
    m_replies.rules.insert(at, r);
    showRules(at);
    tblReplies->editItem(tblReplies->item(at, PatternColumn));
}

void RepliesDialog::cmdRemoveReply_Click()
{
    const int row = tblReplies->currentRow();
    if (row < 0)
        return;
    m_replies.rules.removeAt(row);
    showRules(row);
}

void RepliesDialog::cmdMoveReply_Click(int step)
{
    const int row = tblReplies->currentRow();
    const int to = row + step;
    if (row < 0 || to < 0 || to >= m_replies.rules.size())
        return;
    m_replies.rules.swapItemsAt(row, to);
    showRules(to);
}

void RepliesDialog::accept()
{
    for (int row = 0; row < m_replies.rules.size(); ++row) {
        const QString problem = replyRuleProblem(m_replies.rules.at(row));
        if (!problem.isEmpty()) {
            tblReplies->setCurrentCell(row, PatternColumn);
            lblReplyNote->setText(QStringLiteral("Rule ") + QString::number(row + 1) +
                                  QStringLiteral(" cannot work: ") + problem);
            return;
        }
    }
    try {
        m_replies.delimiter = delimiter();
    } catch (const std::exception& e) {
        lblReplyNote->setText(QStringLiteral("Delimiter: ") + KvErr::describe(e));
        txtReplyDelimiter->setFocus(Qt::OtherFocusReason);
        return;
    }
    QDialog::accept();
}
