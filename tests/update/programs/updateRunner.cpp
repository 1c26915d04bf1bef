// Runs the updater's window once, as Update.exe does, for the tests that end it at random moments: the
// program folder is the first argument, every question is answered Yes and the pauses are skipped. It ends
// when the window has closed (exit code 0) or after a minute (exit code 3).
#include "platform/dateTime.h"
#include "platform/messageBox.h"
#include "platform/systemInfo.h"
#include "update/frmUpdate2.h"

#include <cstdio>
#include <QApplication>
#include <QTimer>

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: updateRunner <program folder>\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    platform::SetModuleFileNameForTesting(std::filesystem::path(argv[1]) / "Update.exe");
    platform::SetMessageBoxHandler([](const std::string&, const std::string&, uint32_t flags) {
        return (flags & 0x0F) == platform::MB_YESNO ? platform::IDYES : platform::IDOK;
    });
    platform::SetSleepForTesting([](unsigned) {});
    TfrmUpdate window;
    QObject::connect(&window, &TfrmUpdate::ProgramEndRequested, &application, &QApplication::quit,
                     Qt::QueuedConnection);
    QTimer::singleShot(60000, &application, [] { QApplication::exit(3); });
    window.show();
    window.activateWindow();
    return application.exec();
}
