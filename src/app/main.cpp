#include "app/EventLoop.h"
#include "ui/frmKelvane.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    useQtEventDispatcher();
    QApplication app(argc, argv);
    QApplication::setApplicationName(frmKelvane::applicationTitle());

    frmKelvane window;
    window.Form_Load();
    window.show();
    return app.exec();
}
