#include "main/KV.h"

#include "main/dm2.h"
#include "main/frmMain2.h"
#include "platform/messageBox.h"
#include "platform/namedMutex.h"

#include <functional>
#include <memory>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

void InitKVResources() {
    static const bool initialised = [] {
        Q_INIT_RESOURCE(KV);
        return true;
    }();
    (void)initialised;
}

namespace {

// The message boxes of KV: owned by the main window, with the platform's icons, buttons and answers.
int ShowQtMessageBox(const std::string& text, const std::string& caption, uint32_t flags) {
    QMessageBox box(frmMain);
    box.setWindowTitle(QString::fromStdString(caption));
    // A box's text often holds names, paths or a server's words: shown as they are, never as markup.
    box.setTextFormat(Qt::PlainText);
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
    switch (flags & 0x0F) {
    case platform::MB_YESNO:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? platform::IDYES : platform::IDNO;
    case platform::MB_OKCANCEL:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        return box.exec() == QMessageBox::Ok ? platform::IDOK : platform::IDCANCEL;
    default:
        box.setStandardButtons(QMessageBox::Ok);
        box.exec();
        return platform::IDOK;
    }
}

} // namespace

void InstallMessageBoxes() {
    platform::SetMessageBoxHandler(ShowQtMessageBox);
    platform::SetMessageBoxDispatcher([](const std::function<int()>& call) {
        int answer = platform::IDOK;
        QMetaObject::invokeMethod(
            qApp, [&] { answer = call(); }, Qt::BlockingQueuedConnection);
        return answer;
    });
}

void RemoveMessageBoxes() {
    platform::SetMessageBoxDispatcher(nullptr);
    platform::SetMessageBoxHandler(nullptr);
}

int KVMain(int argc, char* argv[]) {
    // Another copy runs: leave at once, without a window and without telling it.
    if (platform::HANDLE running = platform::OpenMutexA(platform::MUTEX_ALL_ACCESS, false, KVMutexName)) {
        platform::CloseHandle(running);
        return 0;
    }
    // Held for the life of the process; the system releases it when the process ends in any way.
    platform::CreateMutexA(nullptr, false, KVMutexName);

    QApplication application(argc, argv);
    QApplication::setApplicationName(ApplicationTitle);
    // The main window's close ends the program, also while it is hidden in the tray.
    QApplication::setQuitOnLastWindowClosed(false);
    InstallMessageBoxes();

    auto mainWindow = std::make_unique<TfrmMain>();
    frmMain = mainWindow.get();
    auto dataModule = std::make_unique<Tdm>();
    dm = dataModule.get();

    frmMain->show();
    const int exitCode = QApplication::exec();

    RemoveMessageBoxes();
    dataModule.reset();
    mainWindow.reset();
    return exitCode;
}
