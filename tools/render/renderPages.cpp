// Renders every page of KV's window, and the hover pictures, into PNG files for a person to look at. The
// result lists and the detail pages come from a real scan of the machine (nothing is removed).
//
//     QT_QPA_PLATFORM=offscreen WINEPREFIX=<demo>/prefix renderPages <demo>/program/KV.exe <folder>

#include "main/dm2.h"
#include "main/frmMain2.h"
#include "main/KV.h"
#include "main/threadUninstall.h"
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

// Runs a command of the window and lets the job of its worker run.
template <typename F> void Run(F&& command) {
    command();
    while (TUninstallThread::Pending() > 0)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// The detail page of a list's first row, as its double-click opens it.
void OpenDetail(TfrmMain& form, QTreeWidget* list) {
    if (list->topLevelItemCount() == 0)
        return;
    list->clearSelection();
    list->topLevelItem(0)->setSelected(true);
    Run([&] { list == form.lstvRList ? form.lstvRListDblClick(list) : form.lstvNListDblClick(list); });
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

    // A real scan of the machine; a row of each list checked for the clean.
    Run([&] { form->imgScanClick(form->imgScan); });
    for (QTreeWidget* list : {form->lstvRList, form->lstvNList})
        if (list->topLevelItemCount() > 0)
            list->topLevelItem(0)->setCheckState(0, Qt::Checked);
    Save(form.get(), "scan-results");
    Hover(form->imgClean, true);
    form->panCleanHint->show();
    SetCaption(form->panCleanHint, " Deleting C:\\Program Files\\Notepad Plus\\notepadplus.exe...");
    form->gaugeUS->setMaximum(form->lstvRList->topLevelItemCount() + form->lstvNList->topLevelItemCount());
    form->gaugeUS->setValue(3);
    Save(form.get(), "scan-results-cleaning");
    Hover(form->imgClean, false);
    form->gaugeUS->setValue(0);

    form->ShowPanel(pmSubmit);
    Save(form.get(), "submit");
    OpenDetail(*form, form->lstvNList);
    Save(form.get(), "detail");
    OpenDetail(*form, form->lstvRList);
    Save(form.get(), "detail-leftover");
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
