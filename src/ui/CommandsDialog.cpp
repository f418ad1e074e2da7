#include "ui/CommandsDialog.h"

#include "platform/KvError.h"
#include "platform/NumConv.h"
#include "send/Codec.h"
#include "ui/CommonDialog.h"
#include "ui/DialogParts.h"
#include "ui/Layout.h"
#include "ui/StatusLine.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

enum Column
{
    NameColumn,
    ModeColumn,
    CrLfColumn,
    TextColumn,
    ColumnCount
};

QString countOf(qsizetype n)
{
    return n == 1 ? QStringLiteral("1 command") : CountText(n) + QStringLiteral(" commands");
}

QString rulesOf(qsizetype n)
{
    return n == 1 ? QStringLiteral("1 reply rule") : CountText(n) + QStringLiteral(" reply rules");
}

} // namespace

CommandsDialog::CommandsDialog(const QList<Command>& commands, const CommandFile* file,
                               CommonDialog* fileDialog, QWidget* parent)
    : QDialog(parent), m_commands(commands), m_file(file), m_fileDialog(fileDialog)
{
    setObjectName(QStringLiteral("dlgCommands"));
    setWindowTitle(QStringLiteral("Edit Commands"));
    resize(Layout::toPixels(Layout::dlgCommands).size());

    tblCommands = new QTableWidget(0, ColumnCount, this);
    tblCommands->setObjectName(QStringLiteral("tblCommands"));
    tblCommands->setHorizontalHeaderLabels(
        {QStringLiteral("Name"), QStringLiteral("Mode"), QStringLiteral("CR LF"), QStringLiteral("Text")});
    tblCommands->horizontalHeader()->setStretchLastSection(true);
    tblCommands->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblCommands->setSelectionMode(QAbstractItemView::SingleSelection);
    tblCommands->setItemDelegate(new UnlimitedDelegate(tblCommands));

    lblCommandNote = new QLabel(this);
    lblCommandNote->setObjectName(QStringLiteral("lblCommandNote"));
    lblCommandNote->setWordWrap(true);

    auto* tools = new QHBoxLayout;
    QPushButton* add = toolButton(QStringLiteral("cmdAddCommand"), QStringLiteral("&Add"), this);
    QPushButton* remove = toolButton(QStringLiteral("cmdRemoveCommand"), QStringLiteral("&Remove"), this);
    QPushButton* up = toolButton(QStringLiteral("cmdMoveCommandUp"), QStringLiteral("Move &Up"), this);
    QPushButton* down = toolButton(QStringLiteral("cmdMoveCommandDown"), QStringLiteral("Move &Down"), this);
    QPushButton* import = toolButton(QStringLiteral("cmdImportCommands"), QStringLiteral("&Import..."), this);
    QPushButton* exportButton =
        toolButton(QStringLiteral("cmdExportCommands"), QStringLiteral("E&xport..."), this);
    for (QPushButton* b : {add, remove, up, down})
        tools->addWidget(b);
    tools->addStretch();
    tools->addWidget(import);
    tools->addWidget(exportButton);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("cmdCommandsOK"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cmdCommandsCancel"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tblCommands);
    layout->addWidget(lblCommandNote);
    layout->addLayout(tools);
    layout->addWidget(buttons);

    connect(add, &QPushButton::clicked, this, &CommandsDialog::cmdAddCommand_Click);
    connect(remove, &QPushButton::clicked, this, &CommandsDialog::cmdRemoveCommand_Click);
    connect(up, &QPushButton::clicked, this, [this] { cmdMoveCommand_Click(-1); });
    connect(down, &QPushButton::clicked, this, [this] { cmdMoveCommand_Click(1); });
    connect(import, &QPushButton::clicked, this, &CommandsDialog::cmdImportCommands_Click);
    connect(exportButton, &QPushButton::clicked, this, &CommandsDialog::cmdExportCommands_Click);
    connect(buttons, &QDialogButtonBox::accepted, this, &CommandsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CommandsDialog::reject);
    connect(tblCommands, &QTableWidget::itemChanged, this, &CommandsDialog::tblCommands_ItemChanged);
    connect(tblCommands, &QTableWidget::currentCellChanged, this, &CommandsDialog::showNote);

    showCommands(0);
}

int CommandsDialog::currentRow() const
{
    return tblCommands->currentRow();
}

void CommandsDialog::showCommands(int current)
{
    m_filling = true;
    tblCommands->clearContents();
    tblCommands->setRowCount(int(m_commands.size()));
    for (int row = 0; row < m_commands.size(); ++row) {
        const Command& c = m_commands.at(row);
        tblCommands->setItem(row, NameColumn, new QTableWidgetItem(c.name));
        tblCommands->setItem(row, TextColumn, new QTableWidgetItem(c.text));
        auto* crLf = new QTableWidgetItem;
        crLf->setCheckState(c.crLf ? Qt::Checked : Qt::Unchecked);
        crLf->setFlags(c.hex ? Qt::ItemIsSelectable
                             : Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        tblCommands->setItem(row, CrLfColumn, crLf);
        auto* mode = new QComboBox(tblCommands);
        mode->setObjectName(QStringLiteral("cboCommandMode"));
        mode->addItems({QStringLiteral("ASCII"), QStringLiteral("HEX")});
        mode->setCurrentIndex(c.hex ? 1 : 0);
        connect(mode, &QComboBox::activated, this, [this, mode](int index) {
            // The row it stands in now, after any moves.
            for (int r = 0; r < tblCommands->rowCount(); ++r)
                if (tblCommands->cellWidget(r, ModeColumn) == mode)
                    setHex(r, index == 1);
        });
        tblCommands->setCellWidget(row, ModeColumn, mode);
    }
    tblCommands->resizeColumnToContents(ModeColumn);
    tblCommands->resizeColumnToContents(CrLfColumn);
    m_filling = false;
    if (!m_commands.isEmpty())
        tblCommands->setCurrentCell(std::clamp(current, 0, int(m_commands.size()) - 1), NameColumn);
    showNote();
}

void CommandsDialog::setHex(int row, bool hex)
{
    // As the window's options do: HEX carries its own line ends, ASCII gets CR LF back.
    m_commands[row].hex = hex;
    m_commands[row].crLf = !hex;
    showCommands(row);
}

void CommandsDialog::tblCommands_ItemChanged(QTableWidgetItem* item)
{
    if (m_filling)
        return;
    Command& c = m_commands[item->row()];
    switch (item->column()) {
    case NameColumn:
        c.name = item->text();
        break;
    case TextColumn:
        c.text = item->text();
        break;
    case CrLfColumn:
        c.crLf = item->checkState() == Qt::Checked;
        break;
    default:
        break;
    }
    showNote();
}

void CommandsDialog::showNote()
{
    const int row = currentRow();
    if (row < 0 || row >= m_commands.size()) {
        lblCommandNote->clear();
        return;
    }
    const Command& c = m_commands.at(row);
    QString note = c.hex && !c.text.isEmpty() ? hexLineText(ReadHexLine(c.text)) : QString();
    const QString problem = commandProblem(c);
    if (!problem.isEmpty())
        note = problem + (note.isEmpty() ? QString() : QStringLiteral(" | ") + note);
    lblCommandNote->setText(note);
}

void CommandsDialog::cmdAddCommand_Click()
{
    const int at = currentRow() + 1;
    Command c;
    c.crLf = true; // a new ASCII command, as the window starts
    m_commands.insert(at, c);
    showCommands(at);
    tblCommands->editItem(tblCommands->item(at, NameColumn));
}

void CommandsDialog::cmdRemoveCommand_Click()
{
    const int row = currentRow();
    if (row < 0)
        return;
    m_commands.removeAt(row);
    showCommands(row);
}

void CommandsDialog::cmdMoveCommand_Click(int step)
{
    const int row = currentRow();
    const int to = row + step;
    if (row < 0 || to < 0 || to >= m_commands.size())
        return;
    m_commands.swapItemsAt(row, to);
    showCommands(to);
}

void CommandsDialog::withChosenFile(bool save, const QString& undone,
                                    const std::function<void(const QString&)>& work)
{
    if (!m_file || !m_fileDialog)
        return;
    try {
        m_fileDialog->setDialogTitle(save ? QStringLiteral("Export Commands")
                                          : QStringLiteral("Import Commands"));
        if (save ? m_fileDialog->ChooseSave() : m_fileDialog->ChooseOpen())
            work(m_fileDialog->FileName());
    } catch (const std::exception& e) {
        emit notice({undone, KvErr::describe(e)});
    }
}

void CommandsDialog::cmdImportCommands_Click()
{
    withChosenFile(false, QStringLiteral("Commands not imported"), [this](const QString& path) {
        QStringList skipped;
        std::optional<ReplySet> replies;
        const QList<Command> read = m_file->read(path, skipped, replies);
        // Added after the ones already here: a shared set joins one's own.
        m_commands += read;
        showCommands(int(m_commands.size() - read.size()));
        for (const QString& why : skipped)
            emit notice({why});
        QString rules;
        if (replies && !replies->rules.isEmpty()) {
            // The rules were made for the file's delimiter.
            m_replies.rules += replies->rules;
            m_replies.delimiter = replies->delimiter;
            rules = QStringLiteral(" and ") + rulesOf(replies->rules.size());
        }
        emit notice({countOf(read.size()) + rules + QStringLiteral(" imported from ") + path});
    });
}

void CommandsDialog::cmdExportCommands_Click()
{
    withChosenFile(true, QStringLiteral("Commands not exported"), [this](const QString& path) {
        m_file->write(path, m_commands, m_replies);
        const QString rules =
            m_replies.rules.isEmpty() ? QString() : QStringLiteral(" and ") + rulesOf(m_replies.rules.size());
        emit notice({countOf(m_commands.size()) + rules + QStringLiteral(" exported to ") + path});
    });
}

void CommandsDialog::accept()
{
    for (int row = 0; row < m_commands.size(); ++row) {
        const QString problem = commandProblem(m_commands.at(row));
        if (!problem.isEmpty()) {
            tblCommands->setCurrentCell(row, NameColumn);
            lblCommandNote->setText(QStringLiteral("Command ") + QString::number(row + 1) +
                                    QStringLiteral(" cannot be sent: ") + problem);
            return;
        }
    }
    QDialog::accept();
}
