#include "ui/MessageBox.h"

#include <QMessageBox>
#include <QPushButton>

void QtMessageBox::warning(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::warning(parent, title, text, QMessageBox::Ok);
}

int QtMessageBox::ask(QWidget* parent, const QString& title, const QString& text, const QStringList& buttons)
{
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::NoButton, parent);
    QList<QAbstractButton*> shown;
    for (const QString& label : buttons)
        shown.append(box.addButton(label, QMessageBox::ActionRole));
    if (!shown.isEmpty())
        box.setEscapeButton(shown.last());
    box.exec();
    const int chosen = int(shown.indexOf(box.clickedButton()));
    return chosen < 0 ? int(buttons.size()) - 1 : chosen;
}
