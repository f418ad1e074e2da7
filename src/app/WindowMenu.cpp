#include "ui/frmKelvane.h"

void frmKelvane::mnFile_New_Click() {}

void frmKelvane::mnFile_Close_Click()
{
    close();
}
