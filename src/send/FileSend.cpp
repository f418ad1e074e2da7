#include "ui/frmKelvane.h"

#include "platform/NumConv.h"

#include <QLineEdit>

void frmKelvane::cmdOpen_Click() {}

void frmKelvane::cmdSendFile_Click() {}

void frmKelvane::tmrSendFile_Timer() {}

void frmKelvane::txtInterval_Validate()
{
    // The box always shows the number a start will use; the focus moves on regardless.
    try {
        txtInterval->setText(NumToText(Val(txtInterval->text())));
    } catch (...) {
    }
}
