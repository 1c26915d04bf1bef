// Renders the pages of KV's window that the worker fills, from a real scan of the machine: the scan results,
// a leftover's and an installed program's detail, and the status line of a clean, into PNG files. Nothing is
// removed: the clean is shown by its status line only.
//
//     QT_QPA_PLATFORM=offscreen WINEPREFIX=<demo>/prefix renderScan <demo>/program/KV.exe <folder>

#include "main/dm2.h"
#include "main/frmMain2.h"
#include "main/threadUninstall.h"
#include "platform/messageBox.h"
#include "platform/systemInfo.h"

#include <cstdio>
#include <memory>
#include <QApplication>
#include <QDir>
#include <QFontDatabase>
#include <QImage>

namespace {

QString Folder;
int Number = 0;

void Save(QWidget* widget, const char* name) {
    const QString file = QStringLiteral("%1/scan-%2-%3.png")
                             .arg(Folder)
                             .arg(++Number, 2, 10, QLatin1Char('0'))
                             .arg(QLatin1String(name));
    if (!widget->grab().toImage().save(file))
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
    else
        std::printf("%s\n", qPrintable(file));
}

// Runs a command and lets its worker's job run.
template <typename F> void Run(F&& command) {
    command();
    while (TUninstallThread::Pending() > 0)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void ShowDetail(TfrmMain& form, QTreeWidget* list, const char* name) {
    if (list->topLevelItemCount() == 0)
        return;
    list->clearSelection();
    list->topLevelItem(0)->setSelected(true);
    Run([&] { list == form.lstvRList ? form.lstvRListDblClick(list) : form.lstvNListDblClick(list); });
    Save(&form, name);
    form.imgDCancelClick(&form);
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: renderScan <program file KV.exe> <folder>\n");
        return 2;
    }
    for (const char* font : {"DejaVuSans.ttf", "DejaVuSans-Bold.ttf"})
        QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/fonts/truetype/dejavu/") +
                                          QLatin1String(font));
    platform::SetModuleFileNameForTesting(argv[1]);
    Folder = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(Folder);
    platform::SetMessageBoxHandler([](const std::string& text, const std::string& caption, uint32_t) {
        std::fprintf(stderr, "message box %s: %s\n", caption.c_str(), text.c_str());
        return platform::IDNO;
    });

    auto form = std::make_unique<TfrmMain>();
    frmMain = form.get();
    auto data = std::make_unique<Tdm>();
    dm = data.get();
    form->show();

    Run([&] { form->imgScanClick(form->imgScan); });
    Save(form.get(), "results");
    ShowDetail(*form, form->lstvRList, "leftover-detail");
    ShowDetail(*form, form->lstvNList, "installed-detail");

    // The status line as a clean shows it, without cleaning.
    form->panCleanHint->show();
    SetCaption(form->panCleanHint, " Deleting C:\\Program Files\\Notepad Plus\\notepadplus.exe...");
    form->gaugeUS->setMaximum(form->lstvRList->topLevelItemCount() + form->lstvNList->topLevelItemCount());
    form->gaugeUS->setValue(2);
    Save(form.get(), "cleaning");
    return 0;
}
