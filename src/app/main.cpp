#include "app/EventLoop.h"
#include "app/Lifecycle.h"
#include "platform/SettingsStore.h"
#include "ui/frmKelvane.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    useQtEventDispatcher();
    QApplication app(argc, argv);
    QApplication::setApplicationName(frmKelvane::applicationTitle());

    frmKelvane window;
    Lifecycle lifecycle(&window, std::make_unique<SettingsStore>(frmKelvane::applicationTitle()));
    lifecycle.Form_Load();
    window.show();
    return app.exec();
}
