// The updater's program: its one window runs the update when it is first activated, and the program ends
// when the window closes. No command line is read.
#include "platform/messageBox.h"
#include "update/frmUpdate2.h"
#include "update/updaterMessageBox.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    Q_INIT_RESOURCE(Update);
    application.setQuitOnLastWindowClosed(false);
    application.setWindowIcon(QIcon(QStringLiteral(":/update/update.ico")));
    platform::SetMessageBoxHandler(ShowUpdaterMessageBox);
    TfrmUpdate window;
    frmUpdate = &window;
    QObject::connect(&window, &TfrmUpdate::ProgramEndRequested, &application, &QApplication::quit,
                     Qt::QueuedConnection);
    window.show();
    window.activateWindow();
    return application.exec();
}
