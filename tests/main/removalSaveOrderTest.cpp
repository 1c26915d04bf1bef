#include "main/dm2.h"
#include "main/frmMain2.h"
#include "main/threadUninstall.h"
#include "platform/messageBox.h"
#include "platform/wineRegistry.h"
#include "support/hiveBuilder.h"
#include "support/hostFiles.h"
#include "support/tempMachine.h"
#include "tools/databaseWriter.h"

#include <filesystem>
#include <memory>
#include <QtTest>

namespace fs = std::filesystem;

namespace {

const std::string Entry = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Acme";

// The key's block header as a registry file writes it.
std::string BlockOf(const std::string& key) {
    std::string block = "[";
    for (char c : key)
        block += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return block + "]";
}

} // namespace

// A real removal, through the window offscreen, whose registry changes touch both hives and whose save of
// the second hive fails (as when KV is killed between the two saves): the hive holding the program's
// Uninstall entry is saved last, so the program still shows as installed and the next removal finishes it.
class TRemovalSaveOrderTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void aRemovalCutBetweenItsSavesKeepsTheProgramInstalled_data();
    void aRemovalCutBetweenItsSavesKeepsTheProgramInstalled();

private:
    template <typename F> void RunCommand(F&& command) {
        command();
        QTRY_COMPARE(TUninstallThread::Pending(), 0);
    }
    void Clean() {
        FForm->lstvNList->topLevelItem(0)->setCheckState(0, Qt::Checked);
        RunCommand([this] { QTest::mouseClick(FForm->imgClean, Qt::LeftButton); });
    }

    std::unique_ptr<TTempMachine> FMachine;
    std::unique_ptr<TfrmMain> FForm;
    std::unique_ptr<Tdm> FData;
};

void TRemovalSaveOrderTest::init() {
    FMachine = std::make_unique<TTempMachine>();
    platform::SetMessageBoxHandler([](const std::string&, const std::string&, uint32_t flags) {
        return (flags & platform::MB_YESNO) ? platform::IDYES : platform::IDOK;
    });
}

void TRemovalSaveOrderTest::cleanup() {
    QTRY_COMPARE(TUninstallThread::Pending(), 0);
    platform::TWineRegistry::SetSaveHookForTesting({});
    FData.reset();
    FForm.reset();
    platform::SetMessageBoxHandler({});
    FMachine.reset();
}

void TRemovalSaveOrderTest::aRemovalCutBetweenItsSavesKeepsTheProgramInstalled_data() {
    QTest::addColumn<bool>("entryInUser");
    QTest::newRow("entry in HKLM") << false;
    QTest::newRow("entry in HKCU") << true;
}

void TRemovalSaveOrderTest::aRemovalCutBetweenItsSavesKeepsTheProgramInstalled() {
    QFETCH(bool, entryInUser);
    THiveBuilder system(THiveBuilder::System), user(THiveBuilder::User);
    system.Key("Software\\AcmeMachine").String("Path", "C:\\Acme");
    user.Key("Software\\AcmeUser").String("Theme", "dark");
    (entryInUser ? user : system)
        .Key(Entry)
        .String("DisplayName", "Acme 1.0")
        .String("UninstallString", "x.exe");
    FMachine->WriteRegistryFile("system.reg", system.Text());
    FMachine->WriteRegistryFile("user.reg", user.Text());
    TDatabaseWriter database;
    database.Add("ACME", "Acme", 5).Registry(2, "HKLM{sw}\\AcmeMachine").Registry(2, "HKCU{sw}\\AcmeUser");
    database.WriteFiles(FMachine->ProgramFolder());
    const fs::path entryFile = FMachine->Prefix() / (entryInUser ? "user.reg" : "system.reg");
    const fs::path otherFile = FMachine->Prefix() / (entryInUser ? "system.reg" : "user.reg");
    const std::string otherKey = entryInUser ? "Software\\AcmeMachine" : "Software\\AcmeUser";

    FForm = std::make_unique<TfrmMain>();
    frmMain = FForm.get();
    FData = std::make_unique<Tdm>();
    dm = FData.get();
    FForm->show();
    QVERIFY(QTest::qWaitForWindowExposed(FForm.get()));
    RunCommand([this] { QTest::mouseClick(FForm->imgScan, Qt::LeftButton); });
    QCOMPARE(FForm->lstvNList->topLevelItemCount(), 1);

    int saves = 0;
    platform::TWineRegistry::SetSaveHookForTesting(
        [&saves](int stage) { return stage != 2 || ++saves != 2; });
    Clean();
    QCOMPARE(saves, 2);
    // The other hive went first; the entry's hive kept its file, entry and all.
    QVERIFY(ReadHostFile(otherFile).find(BlockOf(otherKey)) == std::string::npos);
    QVERIFY(ReadHostFile(entryFile).find(BlockOf(Entry)) != std::string::npos);
    QCOMPARE(FForm->lstvNList->topLevelItemCount(), 1);
    QCOMPARE(FForm->lstvNList->topLevelItem(0)->checkState(0), Qt::Unchecked);

    // The next removal finishes it.
    platform::TWineRegistry::SetSaveHookForTesting({});
    Clean();
    QVERIFY(ReadHostFile(entryFile).find(BlockOf(Entry)) == std::string::npos);
    QCOMPARE(FForm->lstvNList->topLevelItemCount(), 0);
}

QTEST_MAIN(TRemovalSaveOrderTest)
#include "removalSaveOrderTest.moc"
