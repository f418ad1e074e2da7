#include "ui/frmKelvane.h"

#include "ui/Controls.h"

void frmKelvane::cmdConnect_Click() {}

void frmKelvane::optServer_Click(int index)
{
    // The close-on-disconnect box means something only to a server: the client
    // role keeps its value aside and gives it back when the server role returns.
    if (index == 1) {
        savedCloseOnDisconnect = chkCloseOnDisconnect->value();
        chkCloseOnDisconnect->setValue(0);
        chkCloseOnDisconnect->setEnabled(false);
    } else {
        chkCloseOnDisconnect->setValue(savedCloseOnDisconnect);
        chkCloseOnDisconnect->setEnabled(true);
    }
}
