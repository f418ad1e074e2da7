#include "ui/MessageBox.h"

#include <QMessageBox>
#include <QPushButton>

void QtMessageBox::warning(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::warning(parent, title, text, QMessageBox::Ok);
}

int MessageBoxService::ask(QWidget*, const QString&, const QString&, const QStringList&, int)
{
    return -1;
}

int QtMessageBox::ask(QWidget* parent, const QString& title, const QString& text, const QStringList& answers,
                      int defaultAnswer)
{
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::NoButton, parent);
    QList<QAbstractButton*> buttons;
    for (qsizetype i = 0; i < answers.size(); ++i)
        buttons.append(box.addButton(answers.at(i), i + 1 < answers.size() ? QMessageBox::AcceptRole
                                                                           : QMessageBox::RejectRole));
    if (defaultAnswer >= 0 && defaultAnswer < buttons.size())
        box.setDefaultButton(qobject_cast<QPushButton*>(buttons.at(defaultAnswer)));
    box.exec();
    return int(buttons.indexOf(box.clickedButton()));
}
