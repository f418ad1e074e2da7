#pragma once

// Parts the Tools menu's dialogs share.

#include "ui/Layout.h"

#include <QLineEdit>
#include <QPushButton>
#include <QStyledItemDelegate>

// QLineEdit's own limit of 32,767 characters would cut a longer text unseen.
class UnlimitedDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override
    {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        if (auto* line = qobject_cast<QLineEdit*>(editor))
            line->setMaxLength(Layout::NoMaxLength);
        return editor;
    }
};

// A button beside a table: Enter in the table is OK, not this button.
inline QPushButton* toolButton(const QString& name, const QString& text, QWidget* parent)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}
