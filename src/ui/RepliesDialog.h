#pragma once

#include "send/ReplyRule.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QTableWidget;
class QTableWidgetItem;

// Automatic Replies: the rules in a table (on, match, pattern, HEX, reply,
// HEX, CR LF, delay) to add, remove, move and edit in place; the delimiter
// that cuts the TCP stream; and a test field that tells which rule answers a
// message and the exact bytes it sends. It opens without blocking; once
// accepted, replies() holds what the user made.
class RepliesDialog : public QDialog
{
    Q_OBJECT
public:
    explicit RepliesDialog(const ReplySet& replies, QWidget* parent = nullptr);

    const ReplySet& replies() const { return m_replies; }
    // OK: refused while a rule cannot work or the delimiter is not HEX bytes;
    // the dialog says which and why.
    void accept() override;

private:
    void cmdAddReply_Click();
    void cmdRemoveReply_Click();
    void cmdMoveReply_Click(int step);
    void tblReplies_ItemChanged(QTableWidgetItem* item);
    void showRules(int current);
    // Under the table: why the current rule cannot work.
    void showNote();
    // The test field's message, answered by the rules as they stand now.
    void showTest();
    // The delimiter the box and its field give; throws KvError with the reason.
    QByteArray delimiter() const;
    void showDelimiter();

    QTableWidget* tblReplies = nullptr;
    QLabel* lblReplyNote = nullptr;
    QComboBox* cboReplyDelimiter = nullptr;
    QLineEdit* txtReplyDelimiter = nullptr;
    QLineEdit* txtReplyTest = nullptr;
    QCheckBox* chkReplyTestHex = nullptr;
    QLabel* lblReplyTest = nullptr;
    ReplySet m_replies;
    bool m_filling = false;
};
