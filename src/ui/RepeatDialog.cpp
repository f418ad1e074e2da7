#include "ui/RepeatDialog.h"

#include "platform/NumConv.h"
#include "send/Repeater.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <optional>

namespace {

// A count as typed: digits, with or without group commas and blanks around
// it; nothing when it is not a whole number from 0 to most.
std::optional<qint64> readCount(const QString& text, qint64 most)
{
    QString digits = text.trimmed();
    digits.remove(QLatin1Char(','));
    if (digits.isEmpty() || digits.size() > 19)
        return std::nullopt;
    for (const QChar c : digits)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    const qint64 value = digits.toLongLong();
    if (value > most)
        return std::nullopt;
    return value;
}

QString rangeText(const QString& field, qint64 most)
{
    return field + QStringLiteral(" must be a whole number from 0 to ") + CountText(most) + QLatin1Char('.');
}

} // namespace

RepeatDialog::RepeatDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("dlgRepeat"));
    setWindowTitle(QStringLiteral("Repeat"));

    txtRepeatTimes = new QLineEdit(this);
    txtRepeatTimes->setObjectName(QStringLiteral("txtRepeatTimes"));
    txtRepeatTimes->setToolTip(QStringLiteral("0 repeats until stopped"));
    txtRepeatInterval = new QLineEdit(this);
    txtRepeatInterval->setObjectName(QStringLiteral("txtRepeatInterval"));
    txtRepeatInterval->setToolTip(QStringLiteral("0 sends as fast as the peer takes"));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Times"), txtRepeatTimes);
    form->addRow(QStringLiteral("Interval (ms)"), txtRepeatInterval);

    lblRepeatProblem = new QLabel(this);
    lblRepeatProblem->setObjectName(QStringLiteral("lblRepeatProblem"));
    lblRepeatProblem->setWordWrap(true);
    lblRepeatProblem->hide();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setObjectName(QStringLiteral("cmdRepeatOK"));
    ok->setDefault(true); // Enter in either field is OK
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cmdRepeatCancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &RepeatDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &RepeatDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(lblRepeatProblem);
    layout->addWidget(buttons);

    setTabOrder(txtRepeatTimes, txtRepeatInterval);
    setTabOrder(txtRepeatInterval, ok);
    setTabOrder(ok, buttons->button(QDialogButtonBox::Cancel));
    txtRepeatTimes->setFocus(Qt::OtherFocusReason);
}

void RepeatDialog::setValues(const QString& times, const QString& intervalMs)
{
    txtRepeatTimes->setText(times);
    txtRepeatInterval->setText(intervalMs);
    txtRepeatTimes->selectAll();
}

QString RepeatDialog::timesText() const
{
    return txtRepeatTimes->text();
}

QString RepeatDialog::intervalText() const
{
    return txtRepeatInterval->text();
}

void RepeatDialog::accept()
{
    const std::optional<qint64> times = readCount(txtRepeatTimes->text(), Repeater::MaxTimes);
    const std::optional<qint64> interval = readCount(txtRepeatInterval->text(), Repeater::MaxIntervalMs);
    if (!times || !interval) {
        // The dialog stays open on the field to mend.
        QLineEdit* bad = times ? txtRepeatInterval : txtRepeatTimes;
        lblRepeatProblem->setText(times ? rangeText(QStringLiteral("Interval (ms)"), Repeater::MaxIntervalMs)
                                        : rangeText(QStringLiteral("Times"), Repeater::MaxTimes) +
                                              QStringLiteral(" 0 repeats until stopped."));
        lblRepeatProblem->show();
        bad->setFocus(Qt::OtherFocusReason);
        bad->selectAll();
        return;
    }
    m_times = *times;
    m_intervalMs = *interval;
    lblRepeatProblem->hide();
    QDialog::accept();
}
