#include "main/frmMain2.h"

#include "common/publicFun.h"
#include "main/dm2.h"
#include "main/KV.h"
#include "platform/dateTime.h"
#include "platform/messageBox.h"
#include "platform/registry.h"
#include "platform/shellExecute.h"
#include "support/hostFiles.h"
#include "support/tempMachine.h"
#include "tools/databaseWriter.h"

#include <filesystem>
#include <fstream>
#include <memory>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QtTest>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::optional<std::string> RunValue() {
    platform::TRegistry registry(platform::KEY_READ);
    registry.SetRootKey(platform::HKEY_LOCAL_MACHINE);
    if (!registry.OpenKeyReadOnly("\\Software\\Microsoft\\Windows\\CurrentVersion\\Run") ||
        !registry.ValueExists("Rudarorovod"))
        return std::nullopt;
    return registry.ReadString("Rudarorovod");
}

const char* const RunKeyBlock = "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Run] 1765370000\n"
                                "\"Other\"=\"C:\\\\other.exe\"\n";

QImage Shown(const QLabel* label) {
    return label->pixmap().toImage();
}

void Enter(QWidget* widget) {
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QCoreApplication::sendEvent(widget, &enter);
}

void Leave(QWidget* widget) {
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(widget, &leave);
}

void AddRow(QTreeWidget* list, const QString& name) {
    new QTreeWidgetItem(list, {QStringLiteral("1"), name});
}

} // namespace

// The main window, driven offscreen on a machine of the test's own: message boxes and the shell's open are
// answered and recorded through their seams.
class TfrmMainTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void layoutHoldsEveryControlInItsPlace();
    void firstShowWritesTheDefaultSettingsAndShowsTheWelcomePage();
    void anExistingSettingsFileIsNotRewritten();
    void anUnwritableProgramFolderIsReportedAndTheWindowStillComesUp();
    void viewSettingsAreApplied_data();
    void viewSettingsAreApplied();
    void settingsValuesShowAsStored();
    void startupMinimizeStartsInTheTray();
    void startupMinimizeWithoutATrayKeepsTheWindowReachable();
    void pagesShowTheirPanels_data();
    void pagesShowTheirPanels();
    void backButtonsReturnToTheResultsOnlyWhenThereAreRows();
    void welcomePageEmptiesTheLists();
    void hoverPicturesFollowThePointer();
    void supportedSoftwareCountTurnsBlueUnderThePointerAndOpensItsPage();
    void headerDragsOnlyWithTheLeftButton();
    void closeIsRefusedWhileAJobRuns();
    void trayMessages();
    void trayMenuItems();
    void versionLabelsComeFromTheProgramFile();
    void versionLabelsKeepTheirCaptionsWithoutAVersion();
    void categoryCountsAndTheSupportedSoftwareList();
    void anEmptyDatabaseCountsNothing();
    void helpAndSupportOpenThroughTheShell();
    void settingsSaveWritesItsKeysInOrderAndTheRunValue();
    void settingsSaveWithoutStartupDeletesTheRunValue();
    void settingsSaveFailsWhenTheMachineKeyCannotBeWritten();

private:
    void CreateWindow();
    void ShowWindow();
    void WriteSettings(const std::string& lines);
    fs::path SettingsPath() const { return FMachine->ProgramFolder() / "Settings.ini"; }

    std::unique_ptr<TTempMachine> FMachine;
    std::unique_ptr<TfrmMain> FForm;
    std::unique_ptr<Tdm> FData;
    std::vector<TRecordedBox> FBoxes;
    std::vector<platform::TShellExecuteCall> FOpened;
};

void TfrmMainTest::init() {
    FMachine = std::make_unique<TTempMachine>();
    platform::SetClockForTesting([] { return platform::EncodeDateTime(2026, 12, 10, 9, 5, 7); });
    FBoxes.clear();
    FOpened.clear();
    platform::SetMessageBoxHandler(
        [this](const std::string& text, const std::string& caption, uint32_t flags) {
            FBoxes.push_back({text, caption, flags});
            return platform::IDOK;
        });
    platform::SetShellExecuteHandler([this](const platform::TShellExecuteCall& call) {
        FOpened.push_back(call);
        return intptr_t{42};
    });
    TDatabaseWriter writer;
    writer.DataStamp = 1765357200;
    writer.Add("FOO", "Foo Tool", 5);
    writer.Add("CHESS", "chess Master", 9);
    writer.Add("GOBAN", "Go Board", 9);
    writer.Add("ARCADE", "arcade", 9);
    writer.Add("NET", "Net Pilot", 1);
    writer.WriteFiles(FMachine->ProgramFolder());
    FMachine->WriteRegistryFile("system.reg", std::string("WINE REGISTRY Version 2\n;; All keys relative to "
                                                          "REGISTRY\\\\Machine\n\n#arch=win64\n\n") +
                                                  RunKeyBlock);
    TfrmMain::ForceTrayIconForTesting = false;
}

void TfrmMainTest::cleanup() {
    FData.reset();
    FForm.reset();
    platform::SetMessageBoxHandler({});
    platform::SetShellExecuteHandler({});
    platform::SetClockForTesting({});
    TfrmMain::ForceTrayIconForTesting = false;
    FMachine.reset();
}

void TfrmMainTest::CreateWindow() {
    FForm = std::make_unique<TfrmMain>();
    frmMain = FForm.get();
    FData = std::make_unique<Tdm>();
    dm = FData.get();
}

void TfrmMainTest::ShowWindow() {
    CreateWindow();
    FForm->show();
}

void TfrmMainTest::WriteSettings(const std::string& lines) {
    FMachine->WriteHostFile(SettingsPath(), lines);
}

void TfrmMainTest::layoutHoldsEveryControlInItsPlace() {
    CreateWindow();
    QCOMPARE(FForm->size(), QSize(692, 517));
    QVERIFY(FForm->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(FForm->windowTitle(), QStringLiteral("Korvane"));
    // The rounded corners: the corner pixels lie outside the window's region, the edges' middles inside.
    QVERIFY(!FForm->mask().contains(QPoint(0, 0)));
    QVERIFY(!FForm->mask().contains(QPoint(691, 516)));
    QVERIFY(FForm->mask().contains(QPoint(346, 0)));
    QVERIFY(FForm->mask().contains(QPoint(0, 258)));
    const struct {
        const char* Name;
        QRect Geometry;
    } placed[] = {
        {"pan_Left", QRect(0, 0, 9, 517)},         {"pan_Right", QRect(683, 0, 9, 517)},
        {"panMain", QRect(9, 0, 674, 517)},        {"panTop", QRect(0, 0, 674, 81)},
        {"imgLogo", QRect(0, 0, 312, 81)},         {"labAppVer", QRect(324, 11, 60, 16)},
        {"imgMin", QRect(604, 10, 30, 11)},        {"imgClose", QRect(641, 10, 31, 11)},
        {"imgSettings", QRect(590, 43, 78, 18)},   {"gaugeUS", QRect(0, 356, 674, 10)},
        {"panFoot", QRect(0, 366, 674, 151)},      {"panFoot_Left", QRect(0, 0, 265, 137)},
        {"imgHelp", QRect(16, 102, 61, 31)},       {"pan_Foot_Bottom", QRect(0, 113, 409, 24)},
        {"pan_Foot_Side", QRect(0, 137, 674, 14)}, {"imgBack", QRect(597, 19, 61, 31)},
        {"imgScan", QRect(295, 10, 90, 91)},       {"imgClean", QRect(191, 10, 90, 91)},
        {"imgCancel", QRect(295, 10, 90, 91)},     {"imgUS1Soft", QRect(14, 7, 32, 32)},
        {"sbtnUpdate", QRect(0, 0, 124, 24)},      {"sbtnSubmitSoft", QRect(124, 0, 143, 24)},
        {"sbtnTechnical", QRect(267, 0, 140, 24)},
    };
    for (const auto& control : placed) {
        auto* widget = FForm->findChild<QWidget*>(QString::fromLatin1(control.Name));
        QVERIFY2(widget, control.Name);
        QCOMPARE(widget->geometry(), control.Geometry);
    }
    for (const char* name : {"pan_Main_Uninstall",
                             "pan_Uninstall_Main",
                             "pan_Uninstall_MTitle1",
                             "imgTitleR",
                             "chkSelectAll1",
                             "lstvRList",
                             "pan_Uninstall_MTitle2",
                             "imgTitleN",
                             "chkSelectAll2",
                             "lstvNList",
                             "pan_Uninstall_RightHint",
                             "labTitle",
                             "labHint",
                             "panCleanHint",
                             "pan_Main_Submit",
                             "labSubmitHint",
                             "edtSoftName",
                             "edtSoftVer",
                             "cmbSoftType",
                             "cmbOS",
                             "edtDownLink",
                             "memoOther",
                             "edtEMail",
                             "pan_Main_Detail",
                             "panUS1Top",
                             "labUS1Soft",
                             "lstvUS2Registry",
                             "lstvUS2File",
                             "pan_Main_Settings",
                             "chkHideTip",
                             "chkHideProcess",
                             "chkAutoUpdate",
                             "labLastTime",
                             "chkUpdateDel",
                             "chkWindowStart",
                             "chkStartMin",
                             "pan_Main_Status",
                             "cmbSupportSoft",
                             "lstvSoftInfo",
                             "labInstallDay",
                             "pan_Foot_Scan",
                             "pan_Foot_Clean",
                             "pan_Foot_Submit",
                             "pan_Foot_Detail",
                             "pan_Foot_Settings",
                             "pan_Foot_Status",
                             "imgSubmit",
                             "imgSCancel",
                             "imgDCancel",
                             "imgSESave",
                             "imgSECancel",
                             "imgSTCancel",
                             "labSoftNum",
                             "labSoftVersion",
                             "labDataVersion",
                             "labSupportNum",
                             "imgFoot",
                             "imgHeader",
                             "imgLeft",
                             "imgRight",
                             "timerUpdate"})
        QVERIFY2(FForm->findChild<QObject*>(QString::fromLatin1(name)), name);
    QCOMPARE(FForm->timerUpdate->interval(), 30000);
    QVERIFY(!FForm->timerUpdate->isActive());
    QCOMPARE(FForm->lstvRList->headerItem()->text(2), QStringLiteral("description "));
    QCOMPARE(FForm->lstvNList->header()->sectionSize(2), 100);
    QCOMPARE(FForm->lstvUS2Registry->header()->sectionSize(1), 530);
    QCOMPARE(FForm->lstvUS2File->header()->sectionSize(1), 590);
    QCOMPARE(FForm->lstvSoftInfo->header()->sectionSize(1), 230);
    QCOMPARE(FForm->cmbOS->count(), 10);
    QCOMPARE(FForm->cmbOS->currentText(), QStringLiteral("Windows XP Home"));
    QCOMPARE(FForm->cmbSoftType->count(), 10);
    QCOMPARE(FForm->cmbSoftType->currentText(), QStringLiteral("Networking Software"));
    QCOMPARE(FForm->labSoftNum->text(), QStringLiteral("0  Software"));
    QCOMPARE(FForm->labAppVer->palette().color(QPalette::WindowText), QColor(255, 251, 242));
    QCOMPARE(FForm->labSupportNum->palette().color(QPalette::WindowText), QColor(41, 57, 80));

    // The data module's lists: fixed sizes, the pictures in their orders.
    QCOMPARE(FData->imglstButton.Count(), 10);
    QCOMPARE(FData->imglstButton.PictureSize(), QSize(90, 91));
    QCOMPARE(FData->imglstOther.Count(), 4);
    QCOMPARE(FData->imglstHelp.Count(), 4);
    QCOMPARE(FData->imglstTopButton.Count(), 4);
    QCOMPARE(FData->imglstSmallICO.PictureSize(), QSize(16, 16));
    QCOMPARE(FData->imglstBigICO.PictureSize(), QSize(32, 32));
    const QList<QAction*> items = FData->TrayPopMenu->actions();
    QCOMPARE(items.size(), 4);
    QCOMPARE(items[0]->text(), QStringLiteral("Korvane"));
    QCOMPARE(items[1]->text(), QStringLiteral("Update Online"));
    QVERIFY(items[2]->isSeparator());
    QCOMPARE(items[3]->text(), QStringLiteral(" Exit"));
    QVERIFY(!items[0]->icon().isNull() && !items[1]->icon().isNull());
    // Until the first showing the picture buttons are empty.
    QVERIFY(FForm->imgScan->pixmap().isNull());
}

void TfrmMainTest::firstShowWritesTheDefaultSettingsAndShowsTheWelcomePage() {
    QVERIFY(!fs::exists(SettingsPath()));
    ShowWindow();
    QVERIFY(FForm->isVisible());
    QCOMPARE(ReadHostFile(SettingsPath()),
             "[Settings]\r\nView Style=2\r\nHidden RightTips=0\r\nHidden Process=0\r\n"
             "Auto Update=0\r\nDelete Update=1\r\nWindows Startup=0\r\n"
             "Startup Minimize=0\r\n[Update Information]\r\nLast Time=2026-12-10 "
             "09:05:07\r\nInstall Day=" +
                 EncodeSettingText("2026-12-10") + "\r\n");
    QCOMPARE(FForm->SettingsFile(), FMachine->ProgramFolderWindows() + "Settings.ini");
    QCOMPARE(FForm->CurrentPanel(), int(pmWelcome));
    QVERIFY(FForm->pan_Main_Uninstall->isVisible());
    QVERIFY(FForm->pan_Foot_Scan->isVisible());
    QVERIFY(FForm->pan_Uninstall_RightHint->isVisible());
    QCOMPARE(Caption(FForm->labTitle), std::string("Welcome to KV"));
    QCOMPARE(Caption(FForm->labHint),
             std::string(
                 "Korvane helps you\rcompletely remove programs &&\rleftovers from your PC.\r\rPlease click "
                 "on the \"Scan\" button\rto start scanning your system for\rrelated files and registry "
                 "entries\rthat were left after unsuccessful\runinstallation."));
    QVERIFY(FForm->labHint->text().startsWith(
        QStringLiteral("Korvane helps you\ncompletely remove programs &\n")));
    QCOMPARE(Caption(FForm->labLastTime), std::string("Last Time: 2026-12-10 09:05:07"));
    QCOMPARE(Caption(FForm->labInstallDay), std::string("2026-12-10"));
    QVERIFY(FForm->chkUpdateDel->isChecked());
    for (QCheckBox* box : {FForm->chkHideTip, FForm->chkHideProcess, FForm->chkAutoUpdate,
                           FForm->chkWindowStart, FForm->chkStartMin})
        QVERIFY2(!box->isChecked(), qPrintable(box->objectName()));
    QVERIFY(!FForm->timerUpdate->isActive());
    QCOMPARE(TfrmMain::ViewStyle(FForm->lstvRList), TfrmMain::vsReport);
    QCOMPARE(FForm->lstvRList->header()->sectionSize(1), 200);
    QCOMPARE(FForm->lstvNList->header()->sectionSize(3), 105);
    // Every picture button shows its normal picture.
    QCOMPARE(Shown(FForm->imgScan), FData->imglstButton.Picture(0).toImage());
    QCOMPARE(Shown(FForm->imgSettings), FData->imglstTopButton.Picture(2).toImage());
    QCOMPARE(Shown(FForm->imgMin), FData->imglstOther.Picture(0).toImage());
    QVERIFY(FBoxes.empty());
}

void TfrmMainTest::anExistingSettingsFileIsNotRewritten() {
    WriteSettings("[Settings]\r\nHidden Process=1\r\n");
    ShowWindow();
    QCOMPARE(ReadHostFile(SettingsPath()), std::string("[Settings]\r\nHidden Process=1\r\n"));
    QVERIFY(FForm->chkHideProcess->isChecked());
    // Keys that are missing read as their defaults, a date among them.
    QVERIFY(FForm->chkUpdateDel->isChecked());
    QCOMPARE(Caption(FForm->labLastTime), std::string("Last Time: 2026-12-10 09:05:07"));
}

void TfrmMainTest::anUnwritableProgramFolderIsReportedAndTheWindowStillComesUp() {
    if (!FMachine->SetImmutable(FMachine->ProgramFolder(), true))
        QSKIP("no immutable flag on this file system");
    ShowWindow();
    FMachine->SetImmutable(FMachine->ProgramFolder(), false);
    QCOMPARE(FBoxes.size(), size_t{1});
    QCOMPARE(FBoxes[0].Caption, std::string("Korvane"));
    QCOMPARE(FBoxes[0].Flags, platform::MB_OK | platform::MB_ICONERROR);
    QVERIFY(!FBoxes[0].Text.empty());
    QVERIFY(!fs::exists(SettingsPath()));
    QVERIFY(FForm->isVisible());
    QCOMPARE(FForm->CurrentPanel(), int(pmWelcome));
    QCOMPARE(Shown(FForm->imgScan), FData->imglstButton.Picture(0).toImage());
    QVERIFY(FForm->chkUpdateDel->isChecked());
}

void TfrmMainTest::viewSettingsAreApplied_data() {
    QTest::addColumn<QString>("settings");
    QTest::addColumn<int>("viewStyle");
    QTest::addColumn<bool>("tipsShown");
    QTest::addColumn<bool>("hideTipChecked");
    QTest::addColumn<QList<int>>("widths");
    QTest::addColumn<bool>("timerOn");
    QTest::addColumn<QString>("checked");
    const QList<int> normal{200, 205, 200, 105}, wide{300, 280, 300, 180};
    QTest::newRow("defaults") << "" << int(TfrmMain::vsReport) << true << false << normal << false
                              << "chkUpdateDel";
    QTest::newRow("tips hidden") << "Hidden RightTips=1" << int(TfrmMain::vsReport) << false << true << wide
                                 << false << "chkHideTip chkUpdateDel";
    QTest::newRow("tips hidden by another number") << "Hidden RightTips=2" << int(TfrmMain::vsReport) << false
                                                   << false << normal << false << "chkUpdateDel";
    QTest::newRow("icon view") << "View Style=0" << int(TfrmMain::vsIcon) << true << false << normal << false
                               << "chkUpdateDel";
    QTest::newRow("list view") << "View Style=1" << int(TfrmMain::vsList) << true << false << normal << false
                               << "chkUpdateDel";
    QTest::newRow("list view for any other style")
        << "View Style=7" << int(TfrmMain::vsList) << true << false << normal << false << "chkUpdateDel";
    QTest::newRow("not a number reads as the default")
        << "View Style=two\r\nDelete Update=x" << int(TfrmMain::vsReport) << true << false << normal << false
        << "chkUpdateDel";
    QTest::newRow("auto update") << "Auto Update=1" << int(TfrmMain::vsReport) << true << false << normal
                                 << true << "chkAutoUpdate chkUpdateDel";
    QTest::newRow("auto update only for 1") << "Auto Update=2\r\nDelete Update=0" << int(TfrmMain::vsReport)
                                            << true << false << normal << false << "";
    QTest::newRow("process, startup")
        << "Hidden Process=1\r\nWindows Startup=1" << int(TfrmMain::vsReport) << true << false << normal
        << false << "chkHideProcess chkUpdateDel chkWindowStart";
}

void TfrmMainTest::viewSettingsAreApplied() {
    QFETCH(QString, settings);
    QFETCH(int, viewStyle);
    QFETCH(bool, tipsShown);
    QFETCH(bool, hideTipChecked);
    QFETCH(QList<int>, widths);
    QFETCH(bool, timerOn);
    QFETCH(QString, checked);
    WriteSettings("[Settings]\r\n" + settings.toStdString() + "\r\n");
    ShowWindow();
    for (QTreeWidget* list : {FForm->lstvRList, FForm->lstvNList}) {
        QCOMPARE(int(TfrmMain::ViewStyle(list)), viewStyle);
        QCOMPARE(list->isHeaderHidden(), viewStyle != TfrmMain::vsReport);
        QCOMPARE(list->isColumnHidden(1), viewStyle != TfrmMain::vsReport);
    }
    QCOMPARE(FForm->pan_Uninstall_RightHint->isVisible(), tipsShown);
    QCOMPARE(FForm->chkHideTip->isChecked(), hideTipChecked);
    // The widths count in the report view, the only one that shows the columns.
    if (viewStyle == TfrmMain::vsReport) {
        QCOMPARE((QList<int>{
                     FForm->lstvRList->header()->sectionSize(1), FForm->lstvRList->header()->sectionSize(2),
                     FForm->lstvNList->header()->sectionSize(1), FForm->lstvNList->header()->sectionSize(3)}),
                 widths);
        QCOMPARE(FForm->lstvNList->header()->sectionSize(2), 100);
    }
    QCOMPARE(FForm->timerUpdate->isActive(), timerOn);
    QStringList boxes;
    for (QCheckBox* box : {FForm->chkHideTip, FForm->chkHideProcess, FForm->chkAutoUpdate,
                           FForm->chkUpdateDel, FForm->chkWindowStart, FForm->chkStartMin})
        if (box->isChecked())
            boxes << box->objectName();
    QCOMPARE(boxes.join(QLatin1Char(' ')), checked);
    // Reading the settings writes nothing back.
    QCOMPARE(ReadHostFile(SettingsPath()), "[Settings]\r\n" + settings.toStdString() + "\r\n");
}

// A settings file is outside text: its values show as the characters stored, never as markup.
void TfrmMainTest::settingsValuesShowAsStored() {
    const std::string lastTime = "<img src=\"x.png\">Foo && <a href=\"http://x\">link</a>";
    const std::string installDay = "<b>2026</b>-12-10";
    WriteSettings("[Update Information]\r\nLast Time=" + lastTime +
                  "\r\nInstall Day=" + EncodeSettingText(installDay) + "\r\n");
    ShowWindow();
    QCOMPARE(FForm->labLastTime->text().toStdString(), "Last Time: " + lastTime);
    QCOMPARE(FForm->labLastTime->textFormat(), Qt::PlainText);
    QCOMPARE(FForm->labInstallDay->text().toStdString(), installDay);
    QCOMPARE(FForm->labInstallDay->textFormat(), Qt::PlainText);
}

void TfrmMainTest::startupMinimizeStartsInTheTray() {
    TfrmMain::ForceTrayIconForTesting = true;
    WriteSettings("[Settings]\r\nStartup Minimize=1\r\n");
    ShowWindow();
    QVERIFY(FForm->TrayIcon());
    QVERIFY(!FForm->isVisible());
    QVERIFY(FForm->IsApplicationMinimized());
    QVERIFY(FForm->chkStartMin->isChecked());
    // The first page is ready behind the tray.
    QCOMPARE(FForm->CurrentPanel(), int(pmWelcome));
    QCOMPARE(Caption(FForm->labSupportNum), std::string("5 Software"));

    TMessage doubleClick{WM_TRAYICON, 0, WM_LBUTTONDBLCLK, 0};
    FForm->WMTrayIcon(doubleClick);
    QVERIFY(FForm->isVisible());
    QVERIFY(!FForm->IsApplicationMinimized());
}

void TfrmMainTest::startupMinimizeWithoutATrayKeepsTheWindowReachable() {
    WriteSettings("[Settings]\r\nStartup Minimize=1\r\n");
    ShowWindow();
    QVERIFY(!FForm->TrayIcon());
    QVERIFY(FForm->isVisible());
    QVERIFY(FForm->isMinimized());
}

void TfrmMainTest::pagesShowTheirPanels_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("mainPanel");
    QTest::addColumn<QString>("footPanel");
    QTest::addColumn<QString>("title");
    QTest::newRow("welcome") << 1 << "pan_Main_Uninstall"
                             << "pan_Foot_Scan"
                             << "Welcome to KV";
    QTest::newRow("scan results") << 2 << "pan_Main_Uninstall"
                                  << "pan_Foot_Clean"
                                  << "Scan results";
    QTest::newRow("submit") << 3 << "pan_Main_Submit"
                            << "pan_Foot_Submit"
                            << "";
    QTest::newRow("detail") << 4 << "pan_Main_Detail"
                            << "pan_Foot_Detail"
                            << "";
    QTest::newRow("settings") << 6 << "pan_Main_Settings"
                              << "pan_Foot_Settings"
                              << "";
    QTest::newRow("supported software") << 7 << "pan_Main_Status"
                                        << "pan_Foot_Status"
                                        << "";
    QTest::newRow("none") << 0 << ""
                          << "pan_Foot_Scan"
                          << "";
    QTest::newRow("there is no page 5") << 5 << ""
                                        << "pan_Foot_Scan"
                                        << "";
    QTest::newRow("above 7") << 8 << ""
                             << "pan_Foot_Scan"
                             << "";
}

void TfrmMainTest::pagesShowTheirPanels() {
    QFETCH(int, mode);
    QFETCH(QString, mainPanel);
    QFETCH(QString, footPanel);
    QFETCH(QString, title);
    ShowWindow();
    FForm->ShowPanel(pmSubmit);
    FForm->panCleanHint->show();
    FForm->ShowPanel(mode);
    for (const char* name : {"pan_Main_Uninstall", "pan_Main_Submit", "pan_Main_Detail", "pan_Main_Settings",
                             "pan_Main_Status"}) {
        auto* panel = FForm->findChild<QWidget*>(QString::fromLatin1(name));
        QCOMPARE(panel->isVisible(), mainPanel == QLatin1String(name));
        if (panel->isVisible())
            QCOMPARE(panel->geometry(), QRect(0, 81, 674, 275));
    }
    for (const char* name : {"pan_Foot_Scan", "pan_Foot_Clean", "pan_Foot_Submit", "pan_Foot_Detail",
                             "pan_Foot_Settings", "pan_Foot_Status"}) {
        auto* panel = FForm->findChild<QWidget*>(QString::fromLatin1(name));
        QCOMPARE(panel->isVisible(), footPanel == QLatin1String(name));
        if (panel->isVisible())
            QCOMPARE(panel->geometry(), QRect(0, 0, 409, 113));
    }
    QVERIFY(!FForm->panCleanHint->isVisibleTo(FForm.get()));
    if (!title.isEmpty())
        QCOMPARE(QString::fromStdString(Caption(FForm->labTitle)), title);
    if (mode == pmScanResults)
        QVERIFY(Caption(FForm->labHint).starts_with("On the left is a list of applications\rthat can be"));
}

void TfrmMainTest::backButtonsReturnToTheResultsOnlyWhenThereAreRows() {
    ShowWindow();
    const struct {
        const char* Open;
        TImageEx* Back;
    } pages[] = {
        {"settings", FForm->imgSECancel}, {"submit", FForm->imgSCancel},  {"submit", FForm->imgBack},
        {"detail", FForm->imgDCancel},    {"status", FForm->imgSTCancel},
    };
    for (bool withRows : {false, true}) {
        if (withRows)
            AddRow(FForm->lstvNList, QStringLiteral("Foo Tool 1.0"));
        for (const auto& page : pages) {
            const std::string open = page.Open;
            if (open == "settings")
                QTest::mouseClick(FForm->imgSettings, Qt::LeftButton);
            else if (open == "submit")
                QTest::mouseClick(FForm->sbtnSubmitSoft, Qt::LeftButton);
            else if (open == "status")
                QTest::mouseClick(FForm->labSupportNum, Qt::LeftButton);
            else
                FForm->ShowPanel(pmDetail);
            QVERIFY(FForm->CurrentPanel() != pmWelcome && FForm->CurrentPanel() != pmScanResults);
            QTest::mouseClick(page.Back, Qt::LeftButton);
            QCOMPARE(FForm->CurrentPanel(), int(withRows ? pmScanResults : pmWelcome));
        }
    }
    QCOMPARE(Caption(FForm->labTitle), std::string("Scan results"));
    QCOMPARE(FForm->lstvNList->topLevelItemCount(), 1);
}

void TfrmMainTest::welcomePageEmptiesTheLists() {
    ShowWindow();
    AddRow(FForm->lstvRList, QStringLiteral("Foo Tool"));
    AddRow(FForm->lstvNList, QStringLiteral("Net Pilot 2"));
    FForm->chkHideProcess->setChecked(true);
    FForm->gaugeUS->setValue(0);
    FForm->ShowPanel(pmScanResults);
    QCOMPARE(FForm->lstvRList->topLevelItemCount(), 1);
    QTest::mouseClick(FForm->imgCancel, Qt::LeftButton);
    QCOMPARE(FForm->CurrentPanel(), int(pmWelcome));
    QCOMPARE(FForm->lstvRList->topLevelItemCount(), 0);
    QCOMPARE(FForm->lstvNList->topLevelItemCount(), 0);
    QVERIFY(FForm->chkHideProcess->isChecked());
}

void TfrmMainTest::hoverPicturesFollowThePointer() {
    ShowWindow();
    const struct {
        TImageEx* Button;
        const TPictureList& List;
        int Normal;
    } buttons[] = {
        {FForm->imgMin, FData->imglstOther, 0},          {FForm->imgClose, FData->imglstOther, 2},
        {FForm->imgSettings, FData->imglstTopButton, 2}, {FForm->imgHelp, FData->imglstHelp, 0},
        {FForm->imgBack, FData->imglstHelp, 2},          {FForm->imgScan, FData->imglstButton, 0},
        {FForm->imgClean, FData->imglstButton, 2},       {FForm->imgCancel, FData->imglstButton, 4},
        {FForm->imgSubmit, FData->imglstButton, 6},      {FForm->imgSCancel, FData->imglstButton, 4},
        {FForm->imgDCancel, FData->imglstButton, 8},     {FForm->imgSESave, FData->imglstButton, 6},
        {FForm->imgSECancel, FData->imglstButton, 4},    {FForm->imgSTCancel, FData->imglstButton, 8},
    };
    for (const auto& entry : buttons) {
        const QString name = entry.Button->objectName();
        QCOMPARE(Shown(entry.Button), entry.List.Picture(entry.Normal).toImage());
        QVERIFY2(entry.List.Picture(entry.Normal).toImage() != entry.List.Picture(entry.Normal + 1).toImage(),
                 qPrintable(name));
        Enter(entry.Button);
        QVERIFY2(Shown(entry.Button) == entry.List.Picture(entry.Normal + 1).toImage(), qPrintable(name));
        QVERIFY(entry.Button->isEnabled());
        Leave(entry.Button);
        QVERIFY2(Shown(entry.Button) == entry.List.Picture(entry.Normal).toImage(), qPrintable(name));
    }
}

void TfrmMainTest::supportedSoftwareCountTurnsBlueUnderThePointerAndOpensItsPage() {
    ShowWindow();
    Enter(FForm->labSupportNum);
    QCOMPARE(FForm->labSupportNum->palette().color(QPalette::WindowText), QColor(0, 130, 203));
    Leave(FForm->labSupportNum);
    QCOMPARE(FForm->labSupportNum->palette().color(QPalette::WindowText), QColor(41, 57, 80));
    QTest::mouseClick(FForm->labSupportNum, Qt::LeftButton);
    QCOMPARE(FForm->CurrentPanel(), int(pmSupportedSoftware));
}

void TfrmMainTest::headerDragsOnlyWithTheLeftButton() {
    ShowWindow();
    FForm->move(100, 100);
    const QPoint start = FForm->pos();
    for (QWidget* picture :
         {static_cast<QWidget*>(FForm->imgLogo), static_cast<QWidget*>(FForm->imgHeader)}) {
        const QPoint before = FForm->pos();
        // A right-button press stores the point and a move with the right button held does not drag.
        QMouseEvent rightPress(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::RightButton,
                               Qt::RightButton, Qt::NoModifier);
        QCoreApplication::sendEvent(picture, &rightPress);
        QMouseEvent rightMove(QEvent::MouseMove, QPointF(50, 40), QPointF(50, 40), Qt::NoButton,
                              Qt::RightButton, Qt::NoModifier);
        QCoreApplication::sendEvent(picture, &rightMove);
        QCOMPARE(FForm->pos(), before);
        QMouseEvent leftPress(QEvent::MouseButtonPress, QPointF(10, 10), QPointF(10, 10), Qt::LeftButton,
                              Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(picture, &leftPress);
        QMouseEvent leftMove(QEvent::MouseMove, QPointF(30, 25), QPointF(30, 25), Qt::NoButton,
                             Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(picture, &leftMove);
        QCOMPARE(FForm->pos(), before + QPoint(20, 15));
    }
    QCOMPARE(FForm->pos(), start + QPoint(40, 30));
}

void TfrmMainTest::closeIsRefusedWhileAJobRuns() {
    TfrmMain::ForceTrayIconForTesting = true;
    ShowWindow();
    for (TImageEx* busy : {FForm->imgScan, FForm->imgClean}) {
        busy->setEnabled(false);
        QTest::mouseClick(FForm->imgClose, Qt::LeftButton);
        FData->Exit1->trigger();
        QVERIFY(!FForm->close());
        QCOMPARE(FBoxes.size(), size_t{3});
        for (const TRecordedBox& box : FBoxes) {
            QCOMPARE(box.Text, std::string("Application is running, can not out!"));
            QCOMPARE(box.Caption, std::string("Error"));
            QCOMPARE(box.Flags, platform::MB_OK | platform::MB_ICONINFORMATION);
        }
        QVERIFY(FForm->isVisible());
        QVERIFY(FForm->TrayIcon());
        busy->setEnabled(true);
        FBoxes.clear();
    }
    QTest::mouseClick(FForm->imgClose, Qt::LeftButton);
    QVERIFY(FBoxes.empty());
    QVERIFY(!FForm->isVisible());
    // Destroying the window removes the tray icon.
    FForm.reset();
}

void TfrmMainTest::trayMessages() {
    TfrmMain::ForceTrayIconForTesting = true;
    ShowWindow();
    QVERIFY(FForm->TrayIcon());
    QCOMPARE(FForm->TrayIconData().uCallbackMessage, WM_TRAYICON);
    QCOMPARE(FForm->TrayIconData().uFlags, 7u);
    QCOMPARE(FForm->TrayIconData().cbSize, 88u);
    QCOMPARE(std::string(FForm->TrayIconData().szTip), std::string("Korvane"));
    QCOMPARE(FForm->TrayIcon()->toolTip(), QStringLiteral("Korvane"));

    // Shown: a double-click does nothing, the right button opens the menu.
    TMessage doubleClick{WM_TRAYICON, 0, WM_LBUTTONDBLCLK, 0};
    FForm->WMTrayIcon(doubleClick);
    QVERIFY(FForm->isVisible() && !FForm->IsApplicationMinimized());
    TMessage rightUp{WM_TRAYICON, 0, WM_RBUTTONUP, 0};
    FForm->WMTrayIcon(rightUp);
    QTRY_VERIFY(FData->TrayPopMenu->isVisible());
    FData->TrayPopMenu->hide();

    // In the tray: single clicks, other buttons and other messages do nothing.
    QTest::mouseClick(FForm->imgMin, Qt::LeftButton);
    QVERIFY(!FForm->isVisible());
    QVERIFY(FForm->TrayIcon());
    for (intptr_t ignored : {intptr_t{WM_LBUTTONUP}, intptr_t{WM_LBUTTONDOWN}, intptr_t{WM_MBUTTONUP},
                             intptr_t{WM_MOUSEMOVE}, intptr_t{WM_RBUTTONDOWN}}) {
        TMessage message{WM_TRAYICON, 0, ignored, 0};
        FForm->WMTrayIcon(message);
    }
    TMessage otherMessage{WM_TRAYICON + 1, 0, WM_LBUTTONDBLCLK, 0};
    FForm->WMTrayIcon(otherMessage);
    QVERIFY(!FForm->isVisible());
    QVERIFY(!FData->TrayPopMenu->isVisible());
    FForm->WMTrayIcon(rightUp);
    QTRY_VERIFY(FData->TrayPopMenu->isVisible());
    FData->TrayPopMenu->hide();
    QVERIFY(!FForm->isVisible());
    // A double-click brings the window back.
    FForm->WMTrayIcon(doubleClick);
    QVERIFY(FForm->isVisible());
    QVERIFY(!FForm->IsApplicationMinimized());
}

void TfrmMainTest::trayMenuItems() {
    TfrmMain::ForceTrayIconForTesting = true;
    ShowWindow();
    // "Korvane" restores only from the tray.
    FData->Rudarorovod1->trigger();
    QVERIFY(FForm->isVisible());
    QTest::mouseClick(FForm->imgMin, Qt::LeftButton);
    QVERIFY(!FForm->isVisible());
    FData->Rudarorovod1->trigger();
    QVERIFY(FForm->isVisible());
    QVERIFY(!FForm->IsApplicationMinimized());

    // "Update Online" is a click on "Online Upgrade", also from the tray.
    QSignalSpy upgrade(FForm->sbtnUpdate, &QToolButton::clicked);
    QTest::mouseClick(FForm->imgMin, Qt::LeftButton);
    FData->UpdateOnline1->trigger();
    QCOMPARE(upgrade.count(), 1);
    QVERIFY(!FForm->isVisible());
    // Without Update.exe beside KV the button only points to the home site.
    QCOMPARE(FBoxes.size(), size_t{1});
    FBoxes.clear();

    // " Exit" closes through the close query, from the tray too.
    FData->Exit1->trigger();
    QVERIFY(FBoxes.empty());
    QVERIFY(!FForm->isVisible());
    FData->Rudarorovod1->trigger();
    QVERIFY(FForm->isVisible());
    FData->Exit1->trigger();
    QVERIFY(!FForm->isVisible());
}

void TfrmMainTest::versionLabelsComeFromTheProgramFile() {
    fs::copy_file(KORVANE_RESOURCE_CARRIER, FMachine->ProgramFile());
    const auto writeTime = fs::file_time_type::clock::from_sys(
        std::chrono::sys_days(std::chrono::year(2026) / 3 / 4) + std::chrono::hours(5) +
        std::chrono::minutes(6) + std::chrono::seconds(7));
    fs::last_write_time(FMachine->ProgramFile(), writeTime);
    ShowWindow();
    QCOMPARE(Caption(FForm->labAppVer), std::string("v1.2"));
    QCOMPARE(Caption(FForm->labSoftVersion), std::string("2026.0304.0506.07"));
    QCOMPARE(Caption(FForm->labDataVersion),
             platform::FormatDateTime("yyyy.mmdd.hhnnss", platform::UnixToDateTime(1765357200)));
    QVERIFY(!FForm->TrayIconData().hIcon.isNull());
}

void TfrmMainTest::versionLabelsKeepTheirCaptionsWithoutAVersion() {
    FMachine->WriteHostFile(FMachine->ProgramFile(), "not a program");
    CreateWindow();
    const QString version = FForm->labAppVer->text(), date = FForm->labSoftVersion->text();
    FForm->show();
    QCOMPARE(FForm->labAppVer->text(), version);
    QCOMPARE(FForm->labSoftVersion->text(), date);
}

void TfrmMainTest::categoryCountsAndTheSupportedSoftwareList() {
    ShowWindow();
    QCOMPARE(Caption(FForm->labSupportNum), std::string("5 Software"));
    QStringList items;
    for (int i = 0; i < FForm->cmbSupportSoft->count(); ++i)
        items << FForm->cmbSupportSoft->itemText(i);
    QCOMPARE(items, (QStringList{"All Types(5)", "Networking Software (1)", "System Tools (0)",
                                 "Audio and video (0)", "Graphic Tools (0)", "Application Software (1)",
                                 "Profession (0)", "Educational Software (0)", "Security Tools (0)",
                                 "Games (3)", "Other Tools (0)"}));
    QCOMPARE(FForm->cmbSupportSoft->currentIndex(), 0);
    // The page's list is filled when the page is shown, not by the selection.
    QCOMPARE(FForm->lstvSoftInfo->topLevelItemCount(), 0);
    QTest::mouseClick(FForm->labSupportNum, Qt::LeftButton);
    QCOMPARE(FForm->lstvSoftInfo->topLevelItemCount(), 5);

    FForm->cmbSupportSoft->setCurrentIndex(9);
    emit FForm->cmbSupportSoft->activated(9);
    QStringList rows;
    for (int i = 0; i < FForm->lstvSoftInfo->topLevelItemCount(); ++i)
        rows << FForm->lstvSoftInfo->topLevelItem(i)->text(0) + QLatin1Char(' ') +
                    FForm->lstvSoftInfo->topLevelItem(i)->text(1);
    QCOMPARE(rows, (QStringList{"1 arcade", "2 chess Master", "3 Go Board"}));
    // Showing the page again rebuilds the list from the database.
    FForm->ShowPanel(pmSupportedSoftware);
    QCOMPARE(FForm->lstvSoftInfo->topLevelItemCount(), 3);
}

void TfrmMainTest::anEmptyDatabaseCountsNothing() {
    fs::remove(FMachine->ProgramFolder() / "KV.dat");
    fs::remove(FMachine->ProgramFolder() / "soft.dat");
    ShowWindow();
    QCOMPARE(Caption(FForm->labSupportNum), std::string("0 Software"));
    for (int i = 0; i < FForm->cmbSupportSoft->count(); ++i)
        QVERIFY(FForm->cmbSupportSoft->itemText(i).endsWith(QStringLiteral("(0)")));
    FForm->ShowPanel(pmSupportedSoftware);
    QCOMPARE(FForm->lstvSoftInfo->topLevelItemCount(), 0);
    QVERIFY(fs::exists(FMachine->ProgramFolder() / "KV.dat"));
}

void TfrmMainTest::helpAndSupportOpenThroughTheShell() {
    ShowWindow();
    QTest::mouseClick(FForm->imgHelp, Qt::LeftButton);
    FMachine->WriteHostFile(FMachine->ProgramFolder() / "KVHelp.chm", "help");
    QTest::mouseClick(FForm->imgHelp, Qt::LeftButton);
    QTest::mouseClick(FForm->sbtnTechnical, Qt::LeftButton);
    QCOMPARE(FOpened.size(), size_t{3});
    QCOMPARE(FOpened[0].File, std::string(HomeSiteAddress) + "/help.php");
    QCOMPARE(FOpened[1].File, FMachine->ProgramFolderWindows() + "KVHelp.chm");
    QCOMPARE(FOpened[2].File, std::string("mailto:") + SupportMailAddress);
    for (const platform::TShellExecuteCall& call : FOpened) {
        QCOMPARE(call.Verb, std::string("open"));
        QCOMPARE(call.Owner, static_cast<const void*>(FForm.get()));
        QVERIFY(call.Parameters.empty() && call.Directory.empty());
        QCOMPARE(call.ShowCommand, platform::SW_SHOWNORMAL);
    }
    QVERIFY(FBoxes.empty());
}

void TfrmMainTest::settingsSaveWritesItsKeysInOrderAndTheRunValue() {
    WriteSettings("[Settings]\r\nView Style=2\r\n[Update Information]\r\nLast Time=2020-01-02 03:04:05\r\n");
    ShowWindow();
    FForm->ShowPanel(pmSettings);
    FForm->chkHideTip->setChecked(true);
    FForm->chkUpdateDel->setChecked(false);
    FForm->chkAutoUpdate->setChecked(true);
    FForm->chkWindowStart->setChecked(true);
    FForm->chkStartMin->setChecked(true);
    QTest::mouseClick(FForm->imgSESave, Qt::LeftButton);
    QCOMPARE(ReadHostFile(SettingsPath()),
             std::string(
                 "[Settings]\r\nView Style=2\r\nHidden RightTips=1\r\nHidden Process=0\r\nAuto Update=1\r\n"
                 "Delete Update=0\r\nWindows Startup=1\r\nStartup Minimize=1\r\n[Update Information]\r\n"
                 "Last Time=2020-01-02 03:04:05\r\n"));
    QCOMPARE(RunValue(), std::optional<std::string>(FMachine->ProgramFolderWindows() + "KV.exe"));
    QCOMPARE(FBoxes.size(), size_t{1});
    QCOMPARE(FBoxes[0].Text, std::string("Settings have been saved successfully."));
    QCOMPARE(FBoxes[0].Caption, std::string("Save"));
    QCOMPARE(FBoxes[0].Flags, platform::MB_OK | platform::MB_ICONINFORMATION);
    // The tips box and the widths change at once; the timer and the page stay as they were.
    QVERIFY(FForm->pan_Uninstall_RightHint->isHidden());
    QCOMPARE(FForm->lstvRList->header()->sectionSize(2), 280);
    QVERIFY(!FForm->timerUpdate->isActive());
    QCOMPARE(FForm->CurrentPanel(), int(pmSettings));
    QVERIFY(FForm->isVisible());

    // Unchecking the tips box restores them, and a missing file is written with the default text first.
    fs::remove(SettingsPath());
    FForm->chkHideTip->setChecked(false);
    QTest::mouseClick(FForm->imgSESave, Qt::LeftButton);
    QVERIFY(!FForm->pan_Uninstall_RightHint->isHidden());
    QCOMPARE(FForm->lstvRList->header()->sectionSize(2), 205);
    const std::string written = ReadHostFile(SettingsPath());
    QVERIFY(written.starts_with("[Settings]\r\nView Style=2\r\nHidden RightTips=0\r\n"));
    QVERIFY(written.find("Install Day=") != std::string::npos);
}

void TfrmMainTest::settingsSaveWithoutStartupDeletesTheRunValue() {
    ShowWindow();
    FForm->chkWindowStart->setChecked(true);
    QTest::mouseClick(FForm->imgSESave, Qt::LeftButton);
    QVERIFY(RunValue());
    FForm->chkWindowStart->setChecked(false);
    QTest::mouseClick(FForm->imgSESave, Qt::LeftButton);
    QVERIFY(!RunValue());
    // No value to delete is no error.
    QTest::mouseClick(FForm->imgSESave, Qt::LeftButton);
    QCOMPARE(FBoxes.size(), size_t{3});
    for (const TRecordedBox& box : FBoxes)
        QCOMPARE(box.Text, std::string("Settings have been saved successfully."));
    QVERIFY(ReadHostFile(SettingsPath()).find("Windows Startup=0\r\n") != std::string::npos);
}

void TfrmMainTest::settingsSaveFailsWhenTheMachineKeyCannotBeWritten() {
    WriteSettings("[Settings]\r\n");
    ShowWindow();
    const fs::path hive = FMachine->Prefix() / "system.reg";
    fs::permissions(hive, fs::perms::owner_read, fs::perm_options::replace);
    FForm->chkHideProcess->setChecked(true);
    FForm->chkWindowStart->setChecked(true);
    FForm->chkStartMin->setChecked(true);
    QTest::mouseClick(FForm->imgSESave, Qt::LeftButton);
    QCOMPARE(FBoxes.size(), size_t{1});
    QCOMPARE(FBoxes[0].Text, std::string("Failed to set data for 'Rudarorovod'"));
    QCOMPARE(FBoxes[0].Caption, std::string("Korvane"));
    QCOMPARE(ReadHostFile(SettingsPath()),
             std::string("[Settings]\r\nHidden RightTips=0\r\nHidden Process=1\r\nAuto "
                         "Update=0\r\nDelete Update=1\r\nWindows Startup=1\r\n"));
    QVERIFY(!RunValue());
    QVERIFY(FForm->isVisible());
}

QTEST_MAIN(TfrmMainTest)
#include "frmMain2Test.moc"
