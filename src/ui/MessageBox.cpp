#include "ui/MessageBox.h"

#include <QMessageBox>
#include <QPushButton>

void QtMessageBox::warning(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::warning(parent, title, text, QMessageBox::Ok);
}

int MessageBoxService::ask(QWidget*, const QString&, const QString&, const QStringList& answers, int)
{
    return int(answers.size()) - 1;
}

int QtMessageBox::ask(QWidget* parent, const QString& title, const QString& text, const QStringList& answers,
                      int defaultAnswer)
{
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::NoButton, parent);
    QList<QAbstractButton*> buttons;
    for (const QString& answer : answers)
        buttons.append(box.addButton(answer, QMessageBox::ActionRole));
    if (!buttons.isEmpty())
        box.setEscapeButton(buttons.last());
    if (defaultAnswer >= 0 && defaultAnswer < buttons.size())
        box.setDefaultButton(qobject_cast<QPushButton*>(buttons.at(defaultAnswer)));
    box.exec();
    const int chosen = int(buttons.indexOf(box.clickedButton()));
    return chosen < 0 ? int(answers.size()) - 1 : chosen;
}
