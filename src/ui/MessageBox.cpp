#include "ui/MessageBox.h"

#include <QMessageBox>

void QtMessageBox::warning(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::warning(parent, title, text, QMessageBox::Ok);
}
