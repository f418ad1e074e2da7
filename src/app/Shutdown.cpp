#include "ui/frmKelvane.h"

void frmKelvane::Form_Unload() {}
