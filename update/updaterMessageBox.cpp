#include "update/updaterMessageBox.h"

#include "platform/messageBox.h"

#include <QApplication>
#include <QMessageBox>

int ShowUpdaterMessageBox(const std::string& text, const std::string& caption, uint32_t flags) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(QString::fromStdString(caption));
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
