#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>

#include <vector>

// Thin layers over Qt's controls for what the window's handlers expect of them:
// check box values 0, 1 and 2, list indexes with -1 for none, and option
// arrays whose selection from code runs the same handling as a click.

// A check box that holds 0 (unchecked), 1 (checked) or 2 (greyed).
class CheckBox : public QCheckBox
{
    Q_OBJECT
public:
    explicit CheckBox(const QString& text, QWidget* parent = nullptr);
    int value() const;
    // Any value but 0, 1 and 2 throws "Invalid property value".
    void setValue(int value);

protected:
    void nextCheckState() override;
};

// The same values on a check box drawn as a toggle push button.
class ToggleButton : public QPushButton
{
    Q_OBJECT
public:
    explicit ToggleButton(const QString& text, QWidget* parent = nullptr);
    int value() const;
    void setValue(int value);

private:
    bool m_greyed = false;
};

// A drop-down list without typing; -1 is no selection.
class ListCombo : public QComboBox
{
    Q_OBJECT
public:
    explicit ListCombo(QWidget* parent = nullptr);
    int listIndex() const { return currentIndex(); }
    // An index outside -1 .. count() - 1 throws "Invalid property value".
    void setListIndex(int index);
    int itemDataAt(int index) const;
};

class OptionArray;

// One option of an array. A click always lands in its array, also on the
// option that is already selected, and never deselects it.
class OptionButton : public QRadioButton
{
    Q_OBJECT
public:
    OptionButton(OptionArray* array, int index, const QString& text, QWidget* parent);
    int index() const { return m_index; }

protected:
    void nextCheckState() override;
    // The arrow keys select the next or the previous option of the array.
    void keyPressEvent(QKeyEvent* event) override;

private:
    OptionArray* m_array;
    int m_index;
};

// A group of options told apart by index. Selecting one, by the user or from
// code, deselects the others and emits clicked(index); deselecting from code
// raises nothing.
class OptionArray : public QObject
{
    Q_OBJECT
public:
    explicit OptionArray(QObject* parent = nullptr);
    OptionButton* add(const QString& objectNameBase, const QString& text, QWidget* parent);
    OptionButton* operator[](int index) const { return m_buttons.at(size_t(index)); }
    int count() const { return int(m_buttons.size()); }
    bool value(int index) const;
    void setValue(int index, bool selected);

signals:
    void clicked(int index);

private:
    std::vector<OptionButton*> m_buttons;
};
