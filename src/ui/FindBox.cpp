#include "ui/FindBox.h"

#include "ui/LineBox.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

namespace {

// The text box is as wide as this many characters.
constexpr int FindColumns = 32;
// From the parent window's top right corner, where the box first shows.
constexpr int Inset = 24;

} // namespace

FindBox::FindBox(QWidget* parent) : QWidget(parent, Qt::Tool)
{
    setObjectName(QStringLiteral("frmFind"));
    setWindowTitle(tr("Find"));

    auto* label = new QLabel(tr("Fi&nd:"), this);
    label->setObjectName(QStringLiteral("lblFind"));
    txtFind = new LineBox(this);
    txtFind->setObjectName(QStringLiteral("txtFind"));
    txtFind->setMinimumWidth(fontMetrics().averageCharWidth() * FindColumns);
    label->setBuddy(txtFind);

    chkMatchCase = new QCheckBox(tr("Match &case"), this);
    chkMatchCase->setObjectName(QStringLiteral("chkMatchCase"));
    cmdFindPrevious = new QPushButton(tr("&Previous"), this);
    cmdFindPrevious->setObjectName(QStringLiteral("cmdFindPrevious"));
    cmdFindPrevious->setToolTip(tr("Shift+Enter, Shift+F3"));
    cmdFindNext = new QPushButton(tr("&Next"), this);
    cmdFindNext->setObjectName(QStringLiteral("cmdFindNext"));
    cmdFindNext->setToolTip(tr("Enter, F3"));
    lblFindStatus = new QLabel(this);
    lblFindStatus->setObjectName(QStringLiteral("lblFindStatus"));

    auto* grid = new QGridLayout(this);
    grid->addWidget(label, 0, 0);
    grid->addWidget(txtFind, 0, 1, 1, 3);
    grid->addWidget(chkMatchCase, 1, 1);
    grid->addWidget(cmdFindPrevious, 1, 2);
    grid->addWidget(cmdFindNext, 1, 3);
    grid->addWidget(lblFindStatus, 2, 0, 1, 4);
    grid->setColumnStretch(1, 1);
    // The box keeps the size of its contents.
    grid->setSizeConstraint(QLayout::SetFixedSize);
    // An empty status line keeps its place.
    lblFindStatus->setMinimumHeight(lblFindStatus->fontMetrics().height());

    setTabOrder(txtFind, chkMatchCase);
    setTabOrder(chkMatchCase, cmdFindPrevious);
    setTabOrder(cmdFindPrevious, cmdFindNext);

    connect(cmdFindNext, &QPushButton::clicked, this, [this] { emit findRequested(true); });
    connect(cmdFindPrevious, &QPushButton::clicked, this, [this] { emit findRequested(false); });
}

QString FindBox::needle() const
{
    return txtFind->text();
}

void FindBox::setNeedle(const QString& needle)
{
    txtFind->setText(needle);
}

Qt::CaseSensitivity FindBox::caseSensitivity() const
{
    return chkMatchCase->isChecked() ? Qt::CaseSensitive : Qt::CaseInsensitive;
}

void FindBox::setStatus(const QString& text)
{
    lblFindStatus->setText(text);
}

QString FindBox::status() const
{
    return lblFindStatus->text();
}

void FindBox::open()
{
    if (!m_placed && parentWidget()) {
        m_placed = true;
        adjustSize();
        const QWidget* over = parentWidget()->window();
        move(over->mapToGlobal(QPoint(over->width() - width() - Inset, Inset)));
    }
    show();
    raise();
    activateWindow();
    txtFind->setFocus(Qt::ShortcutFocusReason);
    txtFind->selectAll();
}

void FindBox::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
    if ((enter || key == Qt::Key_F3) && (mods == Qt::NoModifier || mods == Qt::ShiftModifier)) {
        // A focused button takes Enter itself.
        if (auto* button = qobject_cast<QPushButton*>(focusWidget());
            button && enter && mods == Qt::NoModifier)
            button->click();
        else
            emit findRequested(mods == Qt::NoModifier);
        return;
    }
    if (key == Qt::Key_Escape && mods == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void FindBox::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    emit closed();
}
