#include "main/frmMain2.h"

#include "main/dm2.h"
#include "support/tempMachine.h"
#include "tools/databaseWriter.h"

#include <memory>
#include <QtTest>

// The main window, driven offscreen on a machine of the test's own.
class TfrmMainTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void layoutHoldsEveryControlInItsPlace();

private:
    std::unique_ptr<TTempMachine> FMachine;
    std::unique_ptr<TfrmMain> FForm;
    std::unique_ptr<Tdm> FData;
    void CreateWindow();
};

void TfrmMainTest::init() {
    FMachine = std::make_unique<TTempMachine>();
    TDatabaseWriter writer;
    writer.Add("FOO", "Foo Tool", 5);
    writer.WriteFiles(FMachine->ProgramFolder());
}

void TfrmMainTest::cleanup() {
    FData.reset();
    FForm.reset();
    FMachine.reset();
}

void TfrmMainTest::CreateWindow() {
    FForm = std::make_unique<TfrmMain>();
    frmMain = FForm.get();
    FData = std::make_unique<Tdm>();
    dm = FData.get();
}

void TfrmMainTest::layoutHoldsEveryControlInItsPlace() {
    CreateWindow();
    QCOMPARE(FForm->size(), QSize(692, 517));
    QVERIFY(FForm->windowFlags() & Qt::FramelessWindowHint);
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
                             "sbtnUpdate",
                             "sbtnSubmitSoft",
                             "sbtnTechnical",
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
    QCOMPARE(FForm->cmbOS->currentText(), QStringLiteral("Windows XP Home"));
    QCOMPARE(FForm->cmbSoftType->currentText(), QStringLiteral("Networking Software"));
    QCOMPARE(FData->Exit1->text(), QStringLiteral(" Exit"));
}

QTEST_MAIN(TfrmMainTest)
#include "frmMain2Test.moc"
