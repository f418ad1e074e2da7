#include "ui/frmKelvane.h"

#include "ui/Controls.h"

void frmKelvane::cmdSend1_Click() {}

void frmKelvane::optMode_Click(int index)
{
    Q_UNUSED(index);
    // HEX lines carry their own line ends, typed as 0D 0A.
    if (optMode->value(1)) {
        chkAppenCrLf->setValue(0);
        chkAppenCrLf->setEnabled(false);
    } else {
        chkAppenCrLf->setValue(1);
        chkAppenCrLf->setEnabled(true);
    }
}

void frmKelvane::txtLine_GotFocus()
{
    // Enter in the line box sends the line.
    setDefaultButton(cmdSend1);
}
