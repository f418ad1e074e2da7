#include "ui/Prompt.h"

#include <QInputDialog>

std::optional<QString> QtPrompt::text(QWidget* parent, const QString& title, const QString& label)
{
    bool ok = false;
    const QString entered = QInputDialog::getText(parent, title, label, QLineEdit::Normal, QString(), &ok);
    if (!ok)
        return std::nullopt;
    return entered;
}
