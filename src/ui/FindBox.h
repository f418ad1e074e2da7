#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QPushButton;
class LineBox;

// The log's find box: a small window of its own, of a fixed layout, with the
// text to find, "Match case", Next and Previous, and a line that tells how
// the last search went. Enter and F3 find the next match, Shift with either
// the previous one; Escape closes the box.
class FindBox : public QWidget
{
    Q_OBJECT

public:
    explicit FindBox(QWidget* parent = nullptr);

    QString needle() const;
    void setNeedle(const QString& needle);
    Qt::CaseSensitivity caseSensitivity() const;
    void setStatus(const QString& text);
    QString status() const;

    // Shows the box, in front, with its text selected for typing over.
    void open();

signals:
    void findRequested(bool forward);
    // By Escape or its frame's close button.
    void closed();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    LineBox* txtFind = nullptr;
    QCheckBox* chkMatchCase = nullptr;
    QPushButton* cmdFindNext = nullptr;
    QPushButton* cmdFindPrevious = nullptr;
    QLabel* lblFindStatus = nullptr;
    bool m_placed = false;
};
