// Renders every page of KV's window, and the hover pictures, into PNG files for a person to look at. The
// result lists are filled with sample rows so that the pages look as they do after a scan.
//
//     QT_QPA_PLATFORM=offscreen WINEPREFIX=<demo>/prefix renderPages <demo>/program/KV.exe <folder>

#include "main/dm2.h"
#include "main/frmMain2.h"
#include "main/KV.h"
#include "platform/messageBox.h"
#include "platform/systemInfo.h"

#include <cstdio>
#include <memory>
#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QFontDatabase>
#include <QImage>
#include <QMenu>
#include <QPainter>

namespace {

QString Folder;
int Number = 0;

// The window as the screen shows it: outside its rounded region nothing is drawn.
void Save(QWidget* widget, const char* name) {
    // Layouts settle in the event loop, as they do before the screen shows the window.
    QCoreApplication::processEvents();
    QImage image = widget->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    const QRegion region = widget->mask();
    if (!region.isEmpty()) {
        QImage clipped(image.size(), QImage::Format_ARGB32);
        clipped.fill(Qt::transparent);
        QPainter painter(&clipped);
        painter.setClipRegion(region);
        painter.drawImage(0, 0, image);
        image = clipped;
    }
    const QString file = QStringLiteral("%1/%2-%3.png")
                             .arg(Folder)
                             .arg(++Number, 2, 10, QLatin1Char('0'))
                             .arg(QLatin1String(name));
    if (!image.save(file))
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
    else
        std::printf("%s\n", qPrintable(file));
}

void Hover(QWidget* widget, bool on) {
    if (on) {
        QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
        QApplication::sendEvent(widget, &enter);
    } else {
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(widget, &leave);
    }
}

void AddRow(QTreeWidget* list, const QStringList& texts, bool checked) {
    auto* row = new QTreeWidgetItem(list, texts);
    row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
    row->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
}

void FillSampleResults(TfrmMain& form) {
    AddRow(form.lstvRList, {"1", "FtpWing", "Networking Software"}, true);
    AddRow(form.lstvRList, {"2", "ChessMate", "Games"}, false);
    AddRow(form.lstvRList, {"3", "TypeTutor", "Educational Software"}, false);
    AddRow(form.lstvNList, {"1", "Notepad Plus 8.6", "Nov 04,2025", "Plus Editors"}, true);
    AddRow(form.lstvNList, {"2", "SevenZip 23.01 (x64)", "Sep 12,2025", "Igor Archivers"}, false);
    AddRow(form.lstvNList, {"3", "MediaCat Player 3.0.20", "Nov 20,2025", "MediaCat Team"}, false);
    AddRow(form.lstvNList, {"4", "Guardian Antivirus 2025", "Mar 01,2025", "Guardian Security"}, false);
    SetCaption(form.labSoftNum, "7  Software");
}

void FillSampleDetail(TfrmMain& form) {
    form.imgUS1Soft->setPixmap(QIcon(QStringLiteral(":/kv/korvane.ico")).pixmap(32, 32));
    SetCaption(form.labUS1Soft, "Notepad Plus 8.6");
    new QTreeWidgetItem(form.lstvUS2Registry, {"1", "HKEY_CURRENT_USER\\Software\\Notepad Plus", "Key"});
    new QTreeWidgetItem(
        form.lstvUS2Registry,
        {"2", "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Notepad Plus",
         "Key"});
    new QTreeWidgetItem(form.lstvUS2File, {"1", "C:\\Program Files\\Notepad Plus\\notepadplus.exe"});
    new QTreeWidgetItem(form.lstvUS2File, {"2", "c:\\program files\\notepad plus\\uninstall.exe"});
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: renderPages <program file KV.exe> <folder>\n");
        return 2;
    }
    for (const char* font : {"DejaVuSans.ttf", "DejaVuSans-Bold.ttf"})
        QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/fonts/truetype/dejavu/") +
                                          QLatin1String(font));
    platform::SetModuleFileNameForTesting(argv[1]);
    Folder = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(Folder);
    // Message boxes (the settings page's confirmation) are answered and noted.
    platform::SetMessageBoxHandler([](const std::string& text, const std::string& caption, uint32_t) {
        std::fprintf(stderr, "message box %s: %s\n", caption.c_str(), text.c_str());
        return platform::IDOK;
    });

    auto form = std::make_unique<TfrmMain>();
    frmMain = form.get();
    auto data = std::make_unique<Tdm>();
    dm = data.get();
    form->show();

    Save(form.get(), "welcome");
    Hover(form->imgScan, true);
    Hover(form->imgHelp, true);
    Hover(form->imgSettings, true);
    Hover(form->imgClose, true);
    Save(form.get(), "welcome-hover");
    for (QWidget* button : {static_cast<QWidget*>(form->imgScan), static_cast<QWidget*>(form->imgHelp),
                            static_cast<QWidget*>(form->imgSettings), static_cast<QWidget*>(form->imgClose)})
        Hover(button, false);

    FillSampleResults(*form);
    form->ShowPanel(pmScanResults);
    Save(form.get(), "scan-results");
    Hover(form->imgClean, true);
    form->panCleanHint->show();
    SetCaption(form->panCleanHint, " Deleting file \"C:\\Program Files\\Notepad Plus\\notepadplus.exe\" ...");
    form->gaugeUS->setMaximum(7);
    form->gaugeUS->setValue(3);
    Save(form.get(), "scan-results-cleaning");
    Hover(form->imgClean, false);
    form->gaugeUS->setValue(0);

    form->ShowPanel(pmSubmit);
    Save(form.get(), "submit");
    FillSampleDetail(*form);
    form->ShowPanel(pmDetail);
    Save(form.get(), "detail");
    form->ShowPanel(pmSettings);
    Save(form.get(), "settings");
    form->ShowPanel(pmSupportedSoftware);
    Save(form.get(), "supported-software");

    form->chkHideTip->setChecked(true);
    form->ShowPanel(pmScanResults);
    form->imgSESaveClick(nullptr);
    Save(form.get(), "scan-results-without-tips");

    data->TrayPopMenu->popup(QPoint(0, 0));
    Save(data->TrayPopMenu, "tray-menu");
    data->TrayPopMenu->hide();
    return 0;
}
