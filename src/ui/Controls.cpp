#include "ui/Controls.h"

#include "platform/KvError.h"

#include <QKeyEvent>

CheckBox::CheckBox(const QString& text, QWidget* parent) : QCheckBox(text, parent) {}

int CheckBox::value() const
{
    switch (checkState()) {
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    default:
        return 0;
    }
}

void CheckBox::setValue(int value)
{
    switch (value) {
    case 0:
        setCheckState(Qt::Unchecked);
        break;
    case 1:
        setCheckState(Qt::Checked);
        break;
    case 2:
        setCheckState(Qt::PartiallyChecked);
        break;
    default:
        throw KvErr::invalidPropertyValue();
    }
}

void CheckBox::nextCheckState()
{
    // A user's click only ever checks or unchecks; greyed is set from code.
    setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    setTristate(false);
}

ToggleButton::ToggleButton(const QString& text, QWidget* parent) : QPushButton(text, parent)
{
    setCheckable(true);
    connect(this, &QPushButton::toggled, this, [this] { m_greyed = false; });
}

int ToggleButton::value() const
{
    return m_greyed ? 2 : (isChecked() ? 1 : 0);
}

void ToggleButton::setValue(int value)
{
    if (value < 0 || value > 2)
        throw KvErr::invalidPropertyValue();
    setChecked(value != 0);
    m_greyed = value == 2;
}

ListCombo::ListCombo(QWidget* parent) : QComboBox(parent)
{
    setEditable(false);
}

void ListCombo::setListIndex(int index)
{
    if (index < -1 || index >= count())
        throw KvErr::invalidPropertyValue();
    setCurrentIndex(index);
}

int ListCombo::itemDataAt(int index) const
{
    if (index < 0 || index >= count())
        throw KvErr::invalidPropertyValue();
    return itemData(index).toInt();
}

OptionButton::OptionButton(OptionArray* array, int index, const QString& text, QWidget* parent)
    : QRadioButton(text, parent), m_array(array), m_index(index)
{
    setAutoExclusive(false);
}

void OptionButton::nextCheckState()
{
    m_array->setValue(m_index, true);
}

void OptionButton::keyPressEvent(QKeyEvent* event)
{
    int step = 0;
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Up:
        step = -1;
        break;
    case Qt::Key_Right:
    case Qt::Key_Down:
        step = 1;
        break;
    default:
        QRadioButton::keyPressEvent(event);
        return;
    }
    // As option buttons always have: the arrow moves to the neighbour, round
    // the ends, selects it and runs its click.
    const int count = m_array->count();
    for (int k = 1; k < count; ++k) {
        OptionButton* next = (*m_array)[((m_index + step * k) % count + count) % count];
        if (!next->isEnabled())
            continue;
        next->setFocus(Qt::OtherFocusReason);
        m_array->setValue(next->index(), true);
        return;
    }
}

OptionArray::OptionArray(QObject* parent) : QObject(parent) {}

OptionButton* OptionArray::add(const QString& objectNameBase, const QString& text, QWidget* parent)
{
    auto* button = new OptionButton(this, count(), text, parent);
    button->setObjectName(objectNameBase + QString::number(count()));
    m_buttons.push_back(button);
    return button;
}

bool OptionArray::value(int index) const
{
    return m_buttons.at(size_t(index))->isChecked();
}

void OptionArray::setValue(int index, bool selected)
{
    OptionButton* chosen = m_buttons.at(size_t(index));
    if (!selected) {
        chosen->setChecked(false);
        return;
    }
    for (OptionButton* b : m_buttons)
        if (b != chosen)
            b->setChecked(false);
    chosen->setChecked(true);
    emit clicked(index);
}
