#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;

// The Repeat dialog: how many times the line box's line goes out, and how
// often. It opens without blocking; accepted() comes with values it checked.
class RepeatDialog : public QDialog
{
    Q_OBJECT
public:
    explicit RepeatDialog(QWidget* parent = nullptr);

    // The fields as text: what the user typed last, or what the settings held.
    void setValues(const QString& times, const QString& intervalMs);
    QString timesText() const;
    QString intervalText() const;
    // The values read from the fields; meaningful once the dialog is accepted.
    qint64 times() const { return m_times; }
    qint64 intervalMs() const { return m_intervalMs; }

    // OK: a value that cannot be used is refused, and the dialog says why.
    void accept() override;

private:
    QLineEdit* txtRepeatTimes = nullptr;
    QLineEdit* txtRepeatInterval = nullptr;
    QLabel* lblRepeatProblem = nullptr;
    qint64 m_times = 0;
    qint64 m_intervalMs = 0;
};
