// The updater's program: its one window runs the update when it is first activated, and the program ends
// when the window closes. No command line is read.
#include "platform/messageBox.h"
#include "update/frmUpdate2.h"

#include <QApplication>
#include <QMessageBox>

namespace {

// The platform's message boxes as the toolkit's, owned by the active window when there is one.
int ShowMessageBox(const std::string& text, const std::string& caption, uint32_t flags) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(QString::fromStdString(caption));
    box.setText(QString::fromStdString(text));
    switch (flags & 0xF0) {
    case platform::MB_ICONERROR:
        box.setIcon(QMessageBox::Critical);
        break;
    case platform::MB_ICONQUESTION:
        box.setIcon(QMessageBox::Question);
        break;
    case platform::MB_ICONWARNING:
        box.setIcon(QMessageBox::Warning);
        break;
    case platform::MB_ICONINFORMATION:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        break;
    }
    if ((flags & 0x0F) == platform::MB_YESNO) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? platform::IDYES : platform::IDNO;
    }
    if ((flags & 0x0F) == platform::MB_OKCANCEL) {
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        return box.exec() == QMessageBox::Ok ? platform::IDOK : platform::IDCANCEL;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return platform::IDOK;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    Q_INIT_RESOURCE(Update);
    application.setQuitOnLastWindowClosed(false);
    application.setWindowIcon(QIcon(QStringLiteral(":/update/update.ico")));
    platform::SetMessageBoxHandler(ShowMessageBox);
    TfrmUpdate window;
    frmUpdate = &window;
    QObject::connect(&window, &TfrmUpdate::ProgramEndRequested, &application, &QApplication::quit,
                     Qt::QueuedConnection);
    window.show();
    window.activateWindow();
    return application.exec();
}
