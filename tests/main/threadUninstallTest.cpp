#include "main/threadUninstall.h"

#include "common/publicFun.h"
#include "main/dm2.h"
#include "main/frmMain2.h"
#include "platform/dateTime.h"
#include "platform/messageBox.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/systemInfo.h"
#include "platform/sysUtils.h"
#include "platform/winePath.h"
#include "platform/wineRegistry.h"
#include "support/childProcess.h"
#include "support/hiveBuilder.h"
#include "support/hostFiles.h"
#include "support/tempMachine.h"
#include "tools/databaseWriter.h"

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <QtTest>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string Uninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// The key blocks of a registry file. A key without values has a block or not depending on whether it has
// subkeys: such blocks are left out.
std::map<std::string, std::vector<std::string>> KeyBlocks(const std::string& text) {
    auto blocks = HiveKeyBlocks(text);
    std::erase_if(blocks, [](const auto& block) { return block.second.empty(); });
    return blocks;
}

bool KeyExists(platform::HKEY root, const std::string& key) {
    platform::TRegistry registry(platform::KEY_READ);
    registry.SetRootKey(root);
    return registry.KeyExists("\\" + key);
}

bool ValueExists(platform::HKEY root, const std::string& key, const std::string& name) {
    platform::TRegistry registry(platform::KEY_READ);
    registry.SetRootKey(root);
    return registry.OpenKeyReadOnly("\\" + key) && registry.ValueExists(name);
}

QStringList RowTexts(const QTreeWidget* list, int row) {
    QStringList texts;
    for (int column = 0; column < list->columnCount(); ++column)
        texts << list->topLevelItem(row)->text(column);
    return texts;
}

QList<QStringList> Rows(const QTreeWidget* list) {
    QList<QStringList> rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        rows << RowTexts(list, i);
    return rows;
}

void Check(QTreeWidget* list, int row) {
    list->topLevelItem(row)->setCheckState(0, Qt::Checked);
}

QTreeWidgetItem* AddRow(QTreeWidget* list, const QStringList& texts) {
    auto* row = new QTreeWidgetItem(list, texts);
    row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
    row->setCheckState(0, Qt::Unchecked);
    return row;
}

// Records the text of a label each time it is painted: while a job runs the window handles no events, so
// every paint seen then is one the job asked for. OnText, when set, is told of each new text as it shows.
class TPaintRecorder : public QObject {
public:
    explicit TPaintRecorder(QLabel* label) : FLabel(label) { label->installEventFilter(this); }
    ~TPaintRecorder() override { FLabel->removeEventFilter(this); }
    std::vector<std::string> Texts;
    std::function<void(const std::string&)> OnText;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        const std::string text = Caption(FLabel);
        if (event->type() == QEvent::Paint && !text.empty() && (Texts.empty() || Texts.back() != text)) {
            Texts.push_back(text);
            if (OnText)
                OnText(text);
        }
        return false;
    }

private:
    QLabel* FLabel;
};

// A wineserver of the machine's prefix, as the registry finds one: a write lock on the file "lock" of the
// prefix's server folder under the runtime folder. The lock is an open file description's, which the
// registry's check sees from this process too (a process's own record lock it would not).
class TRunningWineServer {
public:
    explicit TRunningWineServer(const TTempMachine& machine) {
        const fs::path runtime = machine.Root() / "run-user";
        struct stat prefix {};
        if (stat(machine.Prefix().c_str(), &prefix) != 0)
            return;
        char name[64];
        std::snprintf(name, sizeof name, "server-%llx-%llx", static_cast<unsigned long long>(prefix.st_dev),
                      static_cast<unsigned long long>(prefix.st_ino));
        fs::create_directories(runtime / "wine" / name);
        platform::TWineRegistry::SetRuntimeFolderForTesting(runtime);
        FLockFile = open((runtime / "wine" / name / "lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        Start();
    }
    ~TRunningWineServer() {
        if (FLockFile >= 0)
            close(FLockFile);
        platform::TWineRegistry::SetRuntimeFolderForTesting({});
    }
    TRunningWineServer(const TRunningWineServer&) = delete;
    TRunningWineServer& operator=(const TRunningWineServer&) = delete;

    bool Running() const { return FRunning; }
    bool Start() { return Lock(F_WRLCK); }
    bool End() { return Lock(F_UNLCK); }

private:
    bool Lock(short type) {
        struct flock lock {};
        lock.l_type = type;
        lock.l_whence = SEEK_SET;
        if (FLockFile < 0 || fcntl(FLockFile, F_OFD_SETLK, &lock) != 0)
            return false;
        FRunning = type == F_WRLCK;
        return true;
    }

    int FLockFile = -1;
    bool FRunning = false;
};

} // namespace

// The worker and the commands on the result lists, driven through the real window offscreen on machines of
// the test's own: a prefix from the test support, a database from the database writer, message boxes
// answered through their seam. Every test waits until the workers it started have ended.
class TUninstallThreadTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void scanListsInstalledAndLeftoverPrograms();
    void scanThatFindsNothingKeepsTheWelcomePage();
    void anErrorEndsTheScanQuietly();
    void findShellEntriesPassesOverNamesThatLeaveTheFolder();
    void resolveFolderTemplate_data();
    void resolveFolderTemplate();
    void selectAllChecksEveryRowAndScanUnchecksTheBoxes();
    void columnCompare_data();
    void columnCompare();
    void columnSortKeepsTheRowsAndTheirNumbers();
    void cleanAsksBeforeItStarts();
    void doubleClickShowsTheProgramsDetail();
    void detailOfAnInstalledRowShowsItsIcon();
    void cleanRemovesInstalledRowsThenLeftoversInOrder();
    void cleanWithHiddenProcessShowsNoStatus();
    void cleaningEveryRowShowsTheWelcomePage();
    void aRemovalThatLeftSomethingIsNoSuccess();
    void aBrokenHiveKeepsItsKeysAndTheirRow();
    void anErrorEndsTheCleanAndKeepsKVUsable();
    void aCleanWhileWineRunsIsRefusedWhole();
    void wineStartedDuringACleanStopsItBeforeTheNextProgram();
    void outsideTextShowsAsPlainText();
    void removalOnARealPrefix();
    void hostileDatabaseRemovesNothingButTheProgramsOwn();

private:
    void ShowWindow();
    void WriteHives();
    // Runs a command and waits for the workers it started.
    template <typename F> void RunCommand(F&& command);
    void Scan();

    std::unique_ptr<TTempMachine> FMachine;
    std::unique_ptr<TfrmMain> FForm;
    std::unique_ptr<Tdm> FData;
    THiveBuilder FSystem{THiveBuilder::System};
    THiveBuilder FUser{THiveBuilder::User};
    TDatabaseWriter FDatabase;
    std::vector<TRecordedBox> FBoxes;
    int FAnswer = platform::IDYES;
};

void TUninstallThreadTest::init() {
    FMachine = std::make_unique<TTempMachine>();
    FSystem = THiveBuilder(THiveBuilder::System);
    FUser = THiveBuilder(THiveBuilder::User);
    FDatabase = TDatabaseWriter();
    FBoxes.clear();
    FAnswer = platform::IDYES;
    platform::SetMessageBoxHandler(
        [this](const std::string& text, const std::string& caption, uint32_t flags) {
            FBoxes.push_back({text, caption, flags});
            return (flags & platform::MB_YESNO) ? FAnswer : platform::IDOK;
        });
    // Ending a process pauses a second; the tests need not.
    platform::SetSleepForTesting([](unsigned) {});
}

void TUninstallThreadTest::cleanup() {
    QTRY_COMPARE(TUninstallThread::Pending(), 0);
    FData.reset();
    FForm.reset();
    platform::SetMessageBoxHandler({});
    platform::SetSleepForTesting({});
    FMachine.reset();
}

void TUninstallThreadTest::WriteHives() {
    FMachine->WriteRegistryFile("system.reg", FSystem.Text());
    FMachine->WriteRegistryFile("user.reg", FUser.Text());
}

void TUninstallThreadTest::ShowWindow() {
    FDatabase.WriteFiles(FMachine->ProgramFolder());
    // KV's own file, with the icon that leftover rows show.
    fs::copy_file(KORVANE_RESOURCE_CARRIER, FMachine->ProgramFile(), fs::copy_options::overwrite_existing);
    FForm = std::make_unique<TfrmMain>();
    frmMain = FForm.get();
    FData = std::make_unique<Tdm>();
    dm = FData.get();
    FForm->show();
    QVERIFY(QTest::qWaitForWindowExposed(FForm.get()));
    // The first paints are done before a test starts recording paints.
    QCoreApplication::processEvents();
}

template <typename F> void TUninstallThreadTest::RunCommand(F&& command) {
    command();
    // The job runs only once the command has returned to the event loop.
    QTRY_COMPARE(TUninstallThread::Pending(), 0);
}

void TUninstallThreadTest::Scan() {
    RunCommand([this] { QTest::mouseClick(FForm->imgScan, Qt::LeftButton); });
}

// ---- Scan ----

void TUninstallThreadTest::scanListsInstalledAndLeftoverPrograms() {
    FDatabase.Add("FOO", "Foo", 5);
    // The first display name that begins with Bar has no uninstall command: Bar is only a leftover.
    FDatabase.Add("BAR", "Bar", 2).File(1, "{pf}\\Bar\\bar.exe");
    FDatabase.Add("BAZ", "Baz Tool", 8).Registry(2, "HKCU{sw}\\Baz");
    FDatabase.Add("QUX", "Qux", 9).DesktopEntries = "Qux.lnk";
    FDatabase.Add("VAL", "Val", 10).Registry(3, "HKCU{sw}\\Shared\\ValPath");
    FDatabase.Add("GHOST", "Ghost", 1).InSoft = false;
    FDatabase.Add("NUM", "Num App", 5);
    FDatabase.Add("NONE", "Nowhere", 5).File(1, "{pf}\\Nowhere\\x.exe");
    FSystem.Key(Uninstall + "BarOne").String("DisplayName", "Bar One");
    FSystem.Key(Uninstall + "FooSuite")
        .String("DisplayName", "FOO Suite 2")
        .String("UninstallString", "C:\\Foo\\unins.exe")
        .String("InstallDate", "20080115")
        .String("Publisher", "Foo Inc");
    FSystem.Key(Uninstall + "MyFoo").String("DisplayName", "My Foo").String("UninstallString", "x.exe");
    FUser.Key(Uninstall + "BarTwo").String("DisplayName", "Bar Two").String("UninstallString", "x.exe");
    // Real installers write numeric dates; the row shows no date and the scan goes on.
    FUser.Key(Uninstall + "NumApp")
        .String("DisplayName", "Num App 1.0")
        .String("UninstallString", "x.exe")
        .Dword("InstallDate", 20080115);
    FUser.Key("Software\\Baz").String("Path", "x");
    FUser.Key("Software\\Shared").String("ValPath", "x");
    WriteHives();
    FMachine->WriteFile("C:\\Program Files\\Bar\\bar.exe", "x");
    FMachine->WriteFile("C:\\users\\tester\\Desktop\\Qux.lnk", "x");
    FMachine->WriteFile("C:\\users\\Public\\Desktop\\Qux.lnk", "x");
    ShowWindow();
    FForm->chkSelectAll1->setChecked(true);

    TPaintRecorder counter(FForm->labSoftNum);
    QSignalSpy gauge(FForm->gaugeUS, &QProgressBar::valueChanged);
    Scan();

    QCOMPARE(Rows(FForm->lstvNList), (QList<QStringList>{{"1", "FOO Suite 2", "Jan 15,2008", "Foo Inc"},
                                                         {"2", "Num App 1.0", "", ""}}));
    QCOMPARE(Rows(FForm->lstvRList),
             (QList<QStringList>{
                 {"1", "Bar", "System Tools"}, {"2", "Baz Tool", "Security Tools"}, {"3", "Qux", "Games"}}));
    for (QTreeWidget* list : {FForm->lstvNList, FForm->lstvRList})
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            QVERIFY(list->topLevelItem(i)->flags() & Qt::ItemIsUserCheckable);
            QCOMPARE(list->topLevelItem(i)->checkState(0), Qt::Unchecked);
        }
    // Leftover rows carry the program's own icon, installed ones an icon added after it.
    QCOMPARE(FForm->lstvRList->topLevelItem(0)->data(0, RowImageIndexRole).toInt(), 0);
    QVERIFY(FForm->lstvNList->topLevelItem(0)->data(0, RowImageIndexRole).toInt() > 0);
    QCOMPARE(Caption(FForm->labSoftNum), std::string("5  Software"));
    // The counter counts up row by row while the job runs, each time repainted by the job.
    QCOMPARE(counter.Texts, (std::vector<std::string>{"1  Software", "2  Software", "3  Software",
                                                      "4  Software", "5  Software"}));
    QCOMPARE(FForm->gaugeUS->maximum(), 8);
    QCOMPARE(gauge.count(), 9);
    for (int step = 0; step < 8; ++step)
        QCOMPARE(gauge.at(step).at(0).toInt(), step + 1);
    QCOMPARE(FForm->gaugeUS->value(), 0);
    QCOMPARE(FForm->CurrentPanel(), int(pmScanResults));
    QCOMPARE(Caption(FForm->labTitle), std::string("Scan results"));
    QVERIFY(FForm->imgScan->isEnabled());
    QVERIFY(FForm->lstvRList->updatesEnabled() && FForm->lstvNList->updatesEnabled());
    QVERIFY(!FForm->chkSelectAll1->isChecked());
}

void TUninstallThreadTest::scanThatFindsNothingKeepsTheWelcomePage() {
    FDatabase.Add("FOO", "Foo", 5).File(1, "{pf}\\Foo\\foo.exe");
    ShowWindow();
    SetCaption(FForm->labSoftNum, "7 Software");
    Scan();
    QCOMPARE(FForm->CurrentPanel(), int(pmWelcome));
    QCOMPARE(Caption(FForm->labTitle), std::string("Scan in progress"));
    QCOMPARE(Caption(FForm->labHint),
             std::string("Korvane is now scanning\ryour system. \r\rPlease wait until the "
                         "sacn is\rcompleted and the results are\rshown as left."));
    QCOMPARE(Caption(FForm->labSoftNum), std::string("0  Software"));
    QCOMPARE(FForm->lstvRList->topLevelItemCount() + FForm->lstvNList->topLevelItemCount(), 0);
}

void TUninstallThreadTest::anErrorEndsTheScanQuietly() {
    ShowWindow();
    // A database that cannot be read: a folder in KV.dat's place.
    fs::remove(FMachine->ProgramFolder() / "KV.dat");
    fs::create_directories(FMachine->ProgramFolder() / "KV.dat");
    AddRow(FForm->lstvRList, {"1", "Old"});
    Scan();
    QVERIFY(FBoxes.empty());
    QVERIFY(FForm->imgScan->isEnabled());
    QCOMPARE(FForm->gaugeUS->value(), 0);
    QCOMPARE(Caption(FForm->labSoftNum), std::string("0  Software"));
    QCOMPARE(FForm->lstvRList->topLevelItemCount(), 0);
    QVERIFY(FForm->lstvRList->updatesEnabled());
    QVERIFY(FForm->close());
}

// ---- Shell entries and install folders ----

void TUninstallThreadTest::findShellEntriesPassesOverNamesThatLeaveTheFolder() {
    ShowWindow();
    FMachine->WriteFile("C:\\users\\tester\\Desktop\\a.lnk", "x");
    FMachine->WriteFile("C:\\users\\Public\\Desktop\\a.lnk", "x");
    FMachine->WriteFile("C:\\users\\tester\\Desktop\\ b.lnk", "x");
    FMachine->WriteFile("C:\\users\\tester\\Desktop\\Sub\\c.lnk", "x");
    FMachine->WriteFile("C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp\\s.lnk", "x");
    FMachine->WriteFile("C:\\users\\tester\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\"
                        "StartUp\\s.lnk",
                        "x");
    TUninstallThread worker(umScan);
    platform::TStringList found;
    QCOMPARE(worker.FindShellEntries(" a.lnk, b.lnk ", sekDesktop, found), 3);
    QCOMPARE(found.Lines(), (std::vector<std::string>{"C:\\users\\tester\\Desktop\\a.lnk",
                                                      "C:\\users\\Public\\Desktop\\a.lnk",
                                                      "C:\\users\\tester\\Desktop\\ b.lnk"}));
    // Startup: the folder of all users first.
    QCOMPARE(worker.FindShellEntries("s.lnk", sekStartup, found), 2);
    QVERIFY(found[0].find("ProgramData") != std::string::npos);
    // Blank names, separators, wildcards and ".." would find the folder itself or a place outside it.
    for (const char* names : {"a.lnk,,x", ",", " , ", "..", "..\\..", "Sub\\c.lnk", "Sub/c.lnk", "*.lnk",
                              "a.lnk,..\\Desktop", "."}) {
        worker.FindShellEntries(names, sekDesktop, found);
        for (const std::string& path : found)
            QCOMPARE(path.substr(path.rfind('\\') + 1), std::string("a.lnk"));
    }
    QCOMPARE(worker.FindShellEntries("", sekDesktop, found), 0);
    QCOMPARE(worker.FindShellEntries("a.lnk", 5, found), 0);
    // Links are followed, as a file or folder test follows them: a link to nothing is no entry.
    const auto desktop = FMachine->HostPath("C:\\users\\tester\\Desktop");
    std::filesystem::create_symlink(desktop / "a.lnk", desktop / "file link.lnk");
    std::filesystem::create_directory_symlink(desktop / "Sub", desktop / "folder link");
    std::filesystem::create_symlink(desktop / "gone.lnk", desktop / "dangling.lnk");
    QCOMPARE(worker.FindShellEntries("file link.lnk,folder link,dangling.lnk", sekDesktop, found), 2);
    QCOMPARE(found.Lines(), (std::vector<std::string>{"C:\\users\\tester\\Desktop\\file link.lnk",
                                                      "C:\\users\\tester\\Desktop\\folder link"}));
}

void TUninstallThreadTest::resolveFolderTemplate_data() {
    QTest::addColumn<QString>("folderTemplate");
    QTest::addColumn<QString>("folder");
    QTest::newRow("drive C:") << "0Acme"
                              << "C:\\Acme";
    QTest::newRow("Program Files") << " 1Vendor\\Foo\\ "
                                   << "C:\\Program Files\\Vendor\\Foo\\";
    QTest::newRow("Windows") << "2AcmeData"
                             << "C:\\windows\\AcmeData";
    QTest::newRow("System") << "3AcmeDrv"
                            << "C:\\windows\\system32\\AcmeDrv";
    QTest::newRow("missing folder") << "1Missing"
                                    << "";
    QTest::newRow("digits 4 to 9") << "4Acme"
                                   << "";
    QTest::newRow("no digit") << "Acme"
                              << "";
    QTest::newRow("empty") << ""
                           << "";
    // Templates that name shared folders give none: the removal would delete the tree.
    QTest::newRow("drive root") << "0"
                                << "";
    QTest::newRow("blank path") << "1  "
                                << "";
    QTest::newRow("Program Files by ..") << "1Vendor\\.."
                                         << "";
    QTest::newRow("Windows folder") << "0windows"
                                    << "";
    QTest::newRow("System folder") << "2system32"
                                   << "";
    QTest::newRow("Common Files") << "1Common Files"
                                  << "";
    QTest::newRow("a special folder") << "0users\\tester\\Desktop"
                                      << "";
    QTest::newRow("above a special folder") << "0users"
                                            << "";
}

void TUninstallThreadTest::resolveFolderTemplate() {
    QFETCH(QString, folderTemplate);
    QFETCH(QString, folder);
    ShowWindow();
    for (const char* made :
         {"C:\\Acme", "C:\\Program Files\\Vendor\\Foo", "C:\\windows\\AcmeData",
          "C:\\windows\\system32\\AcmeDrv", "C:\\Program Files\\Common Files", "C:\\users\\tester\\Desktop"})
        FMachine->MakeFolder(made);
    TUninstallThread worker(umScan);
    QCOMPARE(QString::fromStdString(worker.ResolveFolderTemplate(folderTemplate.toStdString())), folder);
}

// ---- Result-list commands ----

void TUninstallThreadTest::selectAllChecksEveryRowAndScanUnchecksTheBoxes() {
    ShowWindow();
    // An empty list: the box shows its mark, nothing else happens.
    FForm->chkSelectAll2->setChecked(true);
    QVERIFY(FForm->chkSelectAll2->isChecked());
    for (int i = 1; i <= 3; ++i)
        AddRow(FForm->lstvRList, {QString::number(i), QStringLiteral("P%1").arg(i)});
    Check(FForm->lstvRList, 1);
    FForm->chkSelectAll1->click();
    for (int i = 0; i < 3; ++i)
        QCOMPARE(FForm->lstvRList->topLevelItem(i)->checkState(0), Qt::Checked);
    FForm->chkSelectAll1->click();
    for (int i = 0; i < 3; ++i)
        QCOMPARE(FForm->lstvRList->topLevelItem(i)->checkState(0), Qt::Unchecked);
    // Checking every row by hand does not check the box.
    for (int i = 0; i < 3; ++i)
        Check(FForm->lstvRList, i);
    QVERIFY(!FForm->chkSelectAll1->isChecked());
    Scan();
    QVERIFY(!FForm->chkSelectAll2->isChecked());
}

void TUninstallThreadTest::columnCompare_data() {
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<int>("sign");
    QTest::newRow("case of letters") << "Foo Tool"
                                     << "FOO tool" << 0;
    QTest::newRow("Z after w") << "Zeta"
                               << "west" << 1;
    QTest::newRow("beginning first") << "Foo"
                                     << "Foo Pro" << -1;
    QTest::newRow("numbers as text") << "10"
                                     << "2" << -1;
    // Small letters compare as capitals: "a" stands before "_" as "A" does.
    QTest::newRow("letters fold to capitals") << "_"
                                              << "a" << 1;
    QTest::newRow("equal") << ""
                           << "" << 0;
}

void TUninstallThreadTest::columnCompare() {
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(int, sign);
    for (int column : {0, 1, 3}) {
        QTreeWidgetItem a, b;
        a.setText(column, first);
        b.setText(column, second);
        const int result = ListViewColumnCompare(&a, &b, column);
        QCOMPARE((result > 0) - (result < 0), sign);
    }
}

void TUninstallThreadTest::columnSortKeepsTheRowsAndTheirNumbers() {
    ShowWindow();
    for (int i = 1; i <= 12; ++i)
        AddRow(FForm->lstvNList, {QString::number(i), QStringLiteral("Name %1").arg(13 - i), "", ""});
    Check(FForm->lstvNList, 3);
    FForm->lstvNList->topLevelItem(3)->setSelected(true);
    FForm->lstvNList->header()->sectionClicked(0);
    QStringList numbers;
    for (int i = 0; i < 12; ++i)
        numbers << FForm->lstvNList->topLevelItem(i)->text(0);
    QCOMPARE(numbers, (QStringList{"1", "10", "11", "12", "2", "3", "4", "5", "6", "7", "8", "9"}));
    // The rows keep their check marks and selection; clicking again sorts the same way.
    QTreeWidgetItem* four = FForm->lstvNList->topLevelItem(6);
    QCOMPARE(four->text(0), QStringLiteral("4"));
    QCOMPARE(four->checkState(0), Qt::Checked);
    QVERIFY(four->isSelected());
    FForm->lstvNList->header()->sectionClicked(1);
    QCOMPARE(FForm->lstvNList->topLevelItem(0)->text(1), QStringLiteral("Name 1"));
    QCOMPARE(FForm->lstvNList->topLevelItem(0)->text(0), QStringLiteral("12"));
    QCOMPARE(FForm->lstvNList->topLevelItem(1)->text(1), QStringLiteral("Name 10"));
}

void TUninstallThreadTest::cleanAsksBeforeItStarts() {
    ShowWindow();
    // Empty lists: nothing, not even a message.
    RunCommand([this] { FForm->imgCleanClick(FForm->imgClean); });
    QVERIFY(FBoxes.empty());

    AddRow(FForm->lstvRList, {"1", "Foo", ""});
    AddRow(FForm->lstvNList, {"1", "Bar 1.0", "", ""});
    FForm->ShowPanel(pmScanResults);
    RunCommand([this] { QTest::mouseClick(FForm->imgClean, Qt::LeftButton); });
    QCOMPARE(FBoxes.size(), size_t{1});
    QCOMPARE(FBoxes[0].Text, std::string("Please select the software you want to remove first! "));
    QCOMPARE(FBoxes[0].Caption, std::string("Error"));
    QCOMPARE(FBoxes[0].Flags, platform::MB_OK | platform::MB_ICONINFORMATION);

    Check(FForm->lstvRList, 0);
    Check(FForm->lstvNList, 0);
    FAnswer = platform::IDNO;
    RunCommand([this] { QTest::mouseClick(FForm->imgClean, Qt::LeftButton); });
    QCOMPARE(FBoxes.size(), size_t{2});
    QCOMPARE(FBoxes[1].Text, std::string("Are you sure you want to remove the selected software? "));
    QCOMPARE(FBoxes[1].Caption, std::string("Confirm"));
    QCOMPARE(FBoxes[1].Flags, platform::MB_YESNO | platform::MB_ICONQUESTION);
    QCOMPARE(FForm->lstvRList->topLevelItem(0)->checkState(0), Qt::Checked);
    QCOMPARE(FForm->lstvNList->topLevelItem(0)->checkState(0), Qt::Checked);
    QCOMPARE(FForm->lstvRList->topLevelItemCount() + FForm->lstvNList->topLevelItemCount(), 2);

    // Cancel empties both lists and keeps the counter.
    SetCaption(FForm->labSoftNum, "2  Software");
    QTest::mouseClick(FForm->imgCancel, Qt::LeftButton);
    QCOMPARE(FForm->CurrentPanel(), int(pmWelcome));
    QCOMPARE(FForm->lstvRList->topLevelItemCount() + FForm->lstvNList->topLevelItemCount(), 0);
    QCOMPARE(Caption(FForm->labSoftNum), std::string("2  Software"));
}

// ---- Detail ----

void TUninstallThreadTest::doubleClickShowsTheProgramsDetail() {
    FDatabase.Add("FOO", "Foo", 5)
        .File(1, "{pf}\\Foo\\a.dll")
        .File(1, "{pf}\\Foo\\missing.dll")
        .File(1, "C:\\Foo\\b.ini")
        .Registry(2, "HKCU{sw}\\Foo")
        .Registry(3, "HKCU{sw}\\Foo\\Path")
        .Probe("HKLM{sw}\\Foo", "InstallDir");
    FDatabase.Programs.back().DesktopEntries = "Foo.lnk";
    FDatabase.Programs.back().ProgramsEntries = "Foo";
    FSystem.Key("Software\\Foo").String("InstallDir", "\"C:\\Program Files\\Foo\\foo.exe\" -start");
    FUser.Key("Software\\Foo").String("Path", "x");
    WriteHives();
    FMachine->WriteFile("C:\\Program Files\\Foo\\a.dll", "x");
    FMachine->WriteFile("C:\\Program Files\\Foo\\.hidden.dat", "x");
    FMachine->WriteFile("C:\\Program Files\\Foo\\Data\\inner.dat", "x");
    FMachine->WriteFile("C:\\Foo\\b.ini", "x");
    FMachine->WriteFile("C:\\users\\tester\\Desktop\\Foo.lnk", "x");
    FMachine->WriteFile("C:\\users\\Public\\Desktop\\Foo.lnk", "x");
    FMachine->MakeFolder("C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Foo");
    ShowWindow();
    Scan();
    QCOMPARE(FForm->lstvRList->topLevelItemCount(), 1);

    // Without a selected row the double-click does nothing.
    RunCommand(
        [this] { QTest::mouseDClick(FForm->lstvRList->viewport(), Qt::LeftButton, {}, QPoint(5, 200)); });
    QCOMPARE(FForm->CurrentPanel(), int(pmScanResults));

    QSignalSpy gauge(FForm->gaugeUS, &QProgressBar::valueChanged);
    FForm->lstvRList->topLevelItem(0)->setSelected(true);
    RunCommand([this] { FForm->lstvRListDblClick(FForm->lstvRList); });
    QCOMPARE(FForm->CurrentPanel(), int(pmDetail));
    QCOMPARE(Caption(FForm->labUS1Soft), std::string("Foo"));
    QCOMPARE(Rows(FForm->lstvUS2Registry),
             (QList<QStringList>{{"1", "HKEY_CURRENT_USER\\Software\\Foo", "Key"},
                                 {"2", "HKEY_CURRENT_USER\\Software\\Foo\\Path", "Value"}}));
    QList<QStringList> files = Rows(FForm->lstvUS2File);
    QCOMPARE(files.mid(0, 5),
             (QList<QStringList>{{"1", "C:\\Program Files\\Foo\\a.dll"},
                                 {"2", "C:\\Foo\\b.ini"},
                                 {"3", "C:\\users\\tester\\Desktop\\Foo.lnk"},
                                 {"4", "C:\\users\\Public\\Desktop\\Foo.lnk"},
                                 {"5", "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Foo"}}));
    // The install folder's own files, hidden ones too, in the file system's order; nothing of Data.
    QCOMPARE(files.size(), 7);
    QStringList folderFiles{files[5][1], files[6][1]};
    folderFiles.sort();
    QCOMPARE(folderFiles,
             (QStringList{"c:\\program files\\foo\\.hidden.dat", "c:\\program files\\foo\\a.dll"}));
    QCOMPARE(FForm->gaugeUS->maximum(), 100);
    QList<int> steps;
    for (const auto& step : gauge)
        steps << step.at(0).toInt();
    QCOMPARE(steps, (QList<int>{5, 30, 50, 60, 90, 0}));
    // A leftover shows KV's own icon.
    QVERIFY(!FData->imglstBigICO.Picture(0).isNull());
    QCOMPARE(FForm->imgUS1Soft->pixmap().toImage(), FData->imglstBigICO.Picture(0).toImage());

    // Back: the results are still there.
    QTest::mouseClick(FForm->imgDCancel, Qt::LeftButton);
    QCOMPARE(FForm->CurrentPanel(), int(pmScanResults));
}

void TUninstallThreadTest::detailOfAnInstalledRowShowsItsIcon() {
    FDatabase.Add("FOO", "Foo", 5);
    FSystem.Key(Uninstall + "Foo")
        .String("DisplayName", "Foo 1.0")
        .String("UninstallString", "x.exe")
        .Dword("InstallDate", 1);
    WriteHives();
    ShowWindow();
    Scan();
    QCOMPARE(FForm->lstvNList->topLevelItemCount(), 1);
    QTreeWidgetItem* row = FForm->lstvNList->topLevelItem(0);
    FForm->lstvNList->setCurrentItem(row);
    const QRect place = FForm->lstvNList->visualItemRect(row);
    RunCommand([&] { QTest::mouseDClick(FForm->lstvNList->viewport(), Qt::LeftButton, {}, place.center()); });
    QCOMPARE(FForm->CurrentPanel(), int(pmDetail));
    QCOMPARE(Caption(FForm->labUS1Soft), std::string("Foo 1.0"));
    const int index = row->data(0, RowImageIndexRole).toInt();
    QCOMPARE(FForm->imgUS1Soft->pixmap().toImage(), FData->imglstBigICO.Picture(index).toImage());
    QCOMPARE(FForm->lstvUS2File->topLevelItemCount() + FForm->lstvUS2Registry->topLevelItemCount(), 0);
}

// ---- Clean ----

void TUninstallThreadTest::cleanRemovesInstalledRowsThenLeftoversInOrder() {
    FDatabase.Add("ALPHA", "Alpha", 5).File(1, "{pf}\\Alpha\\alpha.exe").Registry(2, "HKCU{sw}\\Alpha");
    FDatabase.Programs.back().Processes = "alphatray.exe, alpha.exe";
    FDatabase.Programs.back().InstallFolder = "1Alpha";
    FDatabase.Add("BETA", "Beta", 5);
    FDatabase.Add("GAMMA", "Gamma", 5);
    FDatabase.Add("DELTA", "Delta", 9).File(1, "{pf}\\Delta\\delta.dat");
    FDatabase.Add("EPS", "Epsilon", 9).File(1, "{pf}\\Epsilon\\e.dat");
    FSystem.Key(Uninstall + "Alpha")
        .String("DisplayName", "Alpha 2")
        .String("UninstallString", "x.exe")
        .String("InstallLocation", "C:\\Program Files\\Alpha");
    FSystem.Key(Uninstall + "Beta").String("DisplayName", "Beta 1").String("UninstallString", "x.exe");
    FSystem.Key(Uninstall + "Gamma").String("DisplayName", "Gamma 3").String("UninstallString", "x.exe");
    FUser.Key("Software\\Alpha").String("Path", "x");
    FUser.Key("Software\\Alpha 2").String("Path", "x");
    WriteHives();
    FMachine->WriteFile("C:\\Program Files\\Alpha\\alpha.exe", "x");
    FMachine->WriteFile("C:\\Program Files\\Delta\\delta.dat", "x");
    FMachine->WriteFile("C:\\Program Files\\Epsilon\\e.dat", "x");
    TChildProcess tray;
    const fs::path trayFile = FMachine->HostPath("C:\\Program Files\\Alpha\\alphatray.exe");
    TChildProcess::CopySleepProgram(trayFile);
    QVERIFY(tray.Start(trayFile, {trayFile.string(), "600"}));
    ShowWindow();
    Scan();
    QCOMPARE(FForm->lstvNList->topLevelItemCount(), 3);
    QCOMPARE(FForm->lstvRList->topLevelItemCount(), 2);
    Check(FForm->lstvNList, 0);
    Check(FForm->lstvNList, 2);
    Check(FForm->lstvRList, 1);

    TPaintRecorder status(FForm->panCleanHint);
    TPaintRecorder counter(FForm->labSoftNum);
    QSignalSpy gauge(FForm->gaugeUS, &QProgressBar::valueChanged);
    bool listsDisabledAtTheEnd = false;
    platform::SetMessageBoxHandler([&](const std::string& text, const std::string& caption, uint32_t flags) {
        FBoxes.push_back({text, caption, flags});
        if (caption == "Finish")
            listsDisabledAtTheEnd = !FForm->lstvNList->isEnabled() && !FForm->lstvRList->isEnabled() &&
                                    !FForm->imgClean->isEnabled() &&
                                    FForm->lstvRList->topLevelItemCount() == 2;
        return (flags & platform::MB_YESNO) ? platform::IDYES : platform::IDOK;
    });
    RunCommand([this] { QTest::mouseClick(FForm->imgClean, Qt::LeftButton); });

    QVERIFY(tray.ReapKilled());
    QVERIFY(!fs::exists(FMachine->HostPath("C:\\Program Files\\Alpha")));
    QVERIFY(!KeyExists(platform::HKEY_CURRENT_USER, "Software\\Alpha"));
    QVERIFY(!KeyExists(platform::HKEY_CURRENT_USER, "Software\\Alpha 2"));
    QVERIFY(!KeyExists(platform::HKEY_LOCAL_MACHINE, Uninstall + "Alpha"));
    QVERIFY(KeyExists(platform::HKEY_LOCAL_MACHINE, Uninstall + "Beta"));
    QVERIFY(!KeyExists(platform::HKEY_LOCAL_MACHINE, Uninstall + "Gamma"));
    QVERIFY(fs::exists(FMachine->HostPath("C:\\Program Files\\Delta\\delta.dat")));
    QVERIFY(!fs::exists(FMachine->HostPath("C:\\Program Files\\Epsilon\\e.dat")));

    const std::vector<std::string> expected{
        " Cleaning Alpha 2...",
        " Ending process - alphatray.exe...",
        " Deleting C:\\Program Files\\Alpha\\alpha.exe...",
        " Deleting HKEY_CURRENT_USER\\Software\\Alpha...",
        " Deleting C:\\Program Files\\Alpha...",
        " Deleting HKEY_CURRENT_USER\\SOFTWARE\\Alpha 2...",
        " Alpha 2 has successfully unloaded.",
        " Cleaning Gamma 3...",
        " Gamma 3 has successfully unloaded.",
        " Cleaning Epsilon...",
        " Deleting C:\\Program Files\\Epsilon\\e.dat...",
        " Epsilon has successfully unloaded.",
    };
    QCOMPARE(status.Texts, expected);
    QVERIFY(listsDisabledAtTheEnd);
    QCOMPARE(FBoxes.back().Text, std::string("Cleaning completed."));
    QCOMPARE(FBoxes.back().Caption, std::string("Finish"));
    QCOMPARE(FBoxes.back().Flags, platform::MB_OK | platform::MB_ICONINFORMATION);
    QCOMPARE(Rows(FForm->lstvNList), (QList<QStringList>{{"2", "Beta 1", "", ""}}));
    QCOMPARE(Rows(FForm->lstvRList), (QList<QStringList>{{"1", "Delta", "Games"}}));
    QCOMPARE(Caption(FForm->labSoftNum), std::string("2 Software"));
    QCOMPARE(FForm->gaugeUS->maximum(), 5);
    QList<int> steps;
    for (const auto& step : gauge)
        steps << step.at(0).toInt();
    QCOMPARE(steps, (QList<int>{1, 2, 3, 4, 5, 0}));
    QVERIFY(!FForm->panCleanHint->isVisible());
    QCOMPARE(FForm->CurrentPanel(), int(pmScanResults));
    for (QWidget* control : std::initializer_list<QWidget*>{
             FForm->imgClean, FForm->imgCancel, FForm->lstvRList, FForm->lstvNList, FForm->pan_Foot_Bottom})
        QVERIFY(control->isEnabled());
}

void TUninstallThreadTest::cleanWithHiddenProcessShowsNoStatus() {
    FDatabase.Add("DELTA", "Delta", 9).File(1, "{pf}\\Delta\\delta.dat");
    FMachine->WriteFile("C:\\Program Files\\Delta\\delta.dat", "x");
    FMachine->WriteFile("C:\\Program Files\\Delta\\keep.dat", "x");
    ShowWindow();
    Scan();
    AddRow(FForm->lstvRList, {"2", "Unknown", ""});
    FForm->chkSelectAll1->setChecked(true);
    // Unsaved, the box counts.
    FForm->chkHideProcess->setChecked(true);
    TPaintRecorder status(FForm->panCleanHint);
    RunCommand([this] { QTest::mouseClick(FForm->imgClean, Qt::LeftButton); });
    QVERIFY(status.Texts.empty());
    QCOMPARE(FBoxes.back().Text, std::string("Cleaning completed."));
    QVERIFY(!fs::exists(FMachine->HostPath("C:\\Program Files\\Delta\\delta.dat")));
    QVERIFY(fs::exists(FMachine->HostPath("C:\\Program Files\\Delta\\keep.dat")));
    // The status line was still set by every step.
    QCOMPARE(Caption(FForm->panCleanHint), std::string(" Deleting C:\\Program Files\\Delta\\delta.dat..."));
    QCOMPARE(Caption(FForm->labSoftNum), std::string("0 Software"));
}

void TUninstallThreadTest::cleaningEveryRowShowsTheWelcomePage() {
    FDatabase.Add("DELTA", "Delta", 9).File(1, "{pf}\\Delta\\delta.dat");
    FDatabase.Programs.back().ProgramsEntries = "Delta";
    FDatabase.Programs.back().InstallFolder = "1Vendor\\Delta";
    FMachine->WriteFile("C:\\Program Files\\Delta\\delta.dat", "x");
    FMachine->WriteFile("C:\\Program Files\\Vendor\\Delta\\d.exe", "x");
    const std::string menu = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
    FMachine->WriteFile(menu + "\\Delta\\Delta.lnk", "x");
    ShowWindow();
    Scan();
    FForm->chkSelectAll1->setChecked(true);
    RunCommand([this] { QTest::mouseClick(FForm->imgClean, Qt::LeftButton); });
    QCOMPARE(FForm->CurrentPanel(), int(pmWelcome));
    QCOMPARE(Caption(FForm->labSoftNum), std::string("0 Software"));
    // The install folder and its emptied vendor folder go; the menu group and then the empty menu folder.
    QVERIFY(!fs::exists(FMachine->HostPath("C:\\Program Files\\Vendor")));
    QVERIFY(fs::exists(FMachine->HostPath("C:\\Program Files")));
    QVERIFY(!fs::exists(FMachine->HostPath(menu + "\\Delta")));
    QVERIFY(fs::exists(FMachine->HostPath("C:\\ProgramData\\Microsoft\\Windows\\Start Menu")));
}

void TUninstallThreadTest::aRemovalThatLeftSomethingIsNoSuccess() {
    FDatabase.Add("DELTA", "Delta", 9).File(1, "{pf}\\Delta\\delta.dat");
    FDatabase.Programs.back().InstallFolder = "1Delta";
    FDatabase.Add("EPS", "Epsilon", 9).File(1, "{pf}\\Epsilon\\e.dat");
    FDatabase.Add("ZETA", "Zeta", 9).File(1, "{pf}\\Zeta\\zeta.dat");
    FMachine->WriteFile("C:\\Program Files\\Delta\\delta.dat", "x");
    FMachine->WriteFile("C:\\Program Files\\Delta\\locked.dat", "x");
    FMachine->WriteFile("C:\\Program Files\\Epsilon\\e.dat", "x");
    FMachine->WriteFile("C:\\Program Files\\Zeta\\zeta.dat", "x");
    const fs::path locked = FMachine->HostPath("C:\\Program Files\\Delta\\locked.dat");
    const fs::path lockedItem = FMachine->HostPath("C:\\Program Files\\Zeta\\zeta.dat");
    if (!FMachine->SetImmutable(locked, true) || !FMachine->SetImmutable(lockedItem, true))
        QSKIP("the file system cannot lock a file");
    ShowWindow();
    Scan();
    FForm->chkSelectAll1->setChecked(true);
    TPaintRecorder status(FForm->panCleanHint);
    RunCommand([this] { QTest::mouseClick(FForm->imgClean, Qt::LeftButton); });
    FMachine->SetImmutable(locked, false);
    FMachine->SetImmutable(lockedItem, false);

    QVERIFY(fs::exists(locked));
    QVERIFY(fs::exists(lockedItem));
    QVERIFY(std::find(status.Texts.begin(), status.Texts.end(), " Delta has successfully unloaded.") ==
            status.Texts.end());
    QVERIFY(std::find(status.Texts.begin(), status.Texts.end(), " Epsilon has successfully unloaded.") !=
            status.Texts.end());
    // The end message names what could not be removed completely, in the order of the clean.
    QCOMPARE(FBoxes.back().Text, std::string("These programs could not be removed completely:\nDelta\nZeta"));
    QCOMPARE(FBoxes.back().Caption, std::string("Finish"));
    QCOMPARE(FBoxes.back().Flags, platform::MB_OK | platform::MB_ICONWARNING);
    // The rows stay, unchecked, with their numbers; the one that went is gone.
    QCOMPARE(Rows(FForm->lstvRList), (QList<QStringList>{{"1", "Delta", "Games"}, {"3", "Zeta", "Games"}}));
    QCOMPARE(FForm->lstvRList->topLevelItem(0)->checkState(0), Qt::Unchecked);
    QCOMPARE(FForm->lstvRList->topLevelItem(1)->checkState(0), Qt::Unchecked);
    QCOMPARE(Caption(FForm->labSoftNum), std::string("2 Software"));
    QCOMPARE(FForm->CurrentPanel(), int(pmScanResults));
}

// A registry file that does not parse completely is never written: its program's keys stay, and so does its
// row, while the file comes out byte for byte as it was.
void TUninstallThreadTest::aBrokenHiveKeepsItsKeysAndTheirRow() {
    FDatabase.Add("DELTA", "Delta", 9).Registry(2, "HKCU{sw}\\Delta");
    FUser.Key("Software\\Delta").String("Path", "x").RawLine("garbage that no reader understands");
    WriteHives();
    const std::string user = ReadHostFile(FMachine->Prefix() / "user.reg");
    ShowWindow();
    Scan();
    QCOMPARE(FForm->lstvRList->topLevelItemCount(), 1);
    FForm->chkSelectAll1->setChecked(true);
    TPaintRecorder status(FForm->panCleanHint);
    RunCommand([this] { QTest::mouseClick(FForm->imgClean, Qt::LeftButton); });
    QCOMPARE(status.Texts.back(), std::string(" Deleting HKEY_CURRENT_USER\\Software\\Delta..."));
    QCOMPARE(ReadHostFile(FMachine->Prefix() / "user.reg"), user);
    QCOMPARE(Rows(FForm->lstvRList), (QList<QStringList>{{"1", "Delta", "Games"}}));
    QCOMPARE(FBoxes.back().Text, std::string("These programs could not be removed completely:\nDelta"));
}

void TUninstallThreadTest::anErrorEndsTheCleanAndKeepsKVUsable() {
    FDatabase.Add("ALPHA", "Alpha", 5);
    FSystem.Key(Uninstall + "Alpha")
        .String("DisplayName", "Alpha 2")
        .String("UninstallString", "x.exe")
        .String("InstallLocation", "C:\\Program Files\\Alpha");
    // An App Paths entry whose Path is a number: reading it as text is an error of the registry.
    FSystem.Key("Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\alpha.exe").Dword("Path", 1);
    WriteHives();
    FMachine->MakeFolder("C:\\Program Files\\Alpha");
    ShowWindow();
    Scan();
    Check(FForm->lstvNList, 0);
    RunCommand([this] { QTest::mouseClick(FForm->imgClean, Qt::LeftButton); });
    QCOMPARE(FBoxes.size(), size_t{1}); // the confirmation only
    for (QWidget* control : std::initializer_list<QWidget*>{
             FForm->imgClean, FForm->imgCancel, FForm->lstvRList, FForm->lstvNList, FForm->pan_Foot_Bottom})
        QVERIFY(control->isEnabled());
    QVERIFY(!FForm->panCleanHint->isVisible());
    QCOMPARE(FForm->gaugeUS->value(), 0);
    Scan();
    QCOMPARE(FForm->lstvNList->topLevelItemCount(), 1);
    QVERIFY(FForm->close());
}

// While a wineserver runs for the prefix the registry cannot be changed: a clean is refused before anything
// of it happens, and says what to do. Scan and detail only read, and go on.
void TUninstallThreadTest::aCleanWhileWineRunsIsRefusedWhole() {
    FDatabase.Add("ALPHA", "Alpha", 5).File(1, "{pf}\\Alpha\\alpha.exe").Registry(2, "HKCU{sw}\\Alpha");
    FDatabase.Programs.back().Processes = "alphatray.exe";
    FDatabase.Programs.back().InstallFolder = "1Alpha";
    FSystem.Key(Uninstall + "Alpha").String("DisplayName", "Alpha 2").String("UninstallString", "x.exe");
    FUser.Key("Software\\Alpha").String("Path", "x");
    WriteHives();
    FMachine->WriteFile("C:\\Program Files\\Alpha\\alpha.exe", "x");
    TChildProcess tray;
    const fs::path trayFile = FMachine->HostPath("C:\\Program Files\\Alpha\\alphatray.exe");
    TChildProcess::CopySleepProgram(trayFile);
    QVERIFY(tray.Start(trayFile, {trayFile.string(), "600"}));
    const std::string system = ReadHostFile(FMachine->Prefix() / "system.reg");
    const std::string user = ReadHostFile(FMachine->Prefix() / "user.reg");
    TRunningWineServer wine(*FMachine);
    QVERIFY(wine.Running());
    QVERIFY(platform::TWineRegistry::Instance().WineServerRunning());

    ShowWindow();
    Scan();
    QCOMPARE(Rows(FForm->lstvNList), (QList<QStringList>{{"1", "Alpha 2", "", ""}}));
    FForm->lstvNList->topLevelItem(0)->setSelected(true);
    RunCommand([this] { FForm->lstvNListDblClick(FForm->lstvNList); });
    QCOMPARE(FForm->CurrentPanel(), int(pmDetail));
    QCOMPARE(Rows(FForm->lstvUS2Registry),
             (QList<QStringList>{{"1", "HKEY_CURRENT_USER\\Software\\Alpha", "Key"}}));
    QTest::mouseClick(FForm->imgDCancel, Qt::LeftButton);
    QCOMPARE(FForm->CurrentPanel(), int(pmScanResults));

    Check(FForm->lstvNList, 0);
    FBoxes.clear();
    TPaintRecorder status(FForm->panCleanHint);
    QSignalSpy gauge(FForm->gaugeUS, &QProgressBar::valueChanged);
    RunCommand([this] { QTest::mouseClick(FForm->imgClean, Qt::LeftButton); });
    // The confirmation, then the refusal; no end message.
    QCOMPARE(FBoxes.size(), size_t{2});
    const TRecordedBox& refusal = FBoxes[1];
    QCOMPARE(refusal.Caption, std::string("Error"));
    QCOMPARE(refusal.Flags, platform::MB_OK | platform::MB_ICONINFORMATION);
    QVERIFY2(refusal.Text.starts_with("Nothing was removed: Wine is running for the prefix " +
                                      FMachine->Prefix().string()),
             refusal.Text.c_str());
    QVERIFY(refusal.Text.find("Close the Windows programs of this prefix") != std::string::npos);
    QVERIFY(refusal.Text.find("\"wineserver -k\"") != std::string::npos);
    // Nothing of the program was touched, nothing of the window changed.
    QVERIFY(tray.Running());
    QVERIFY(fs::exists(FMachine->HostPath("C:\\Program Files\\Alpha\\alpha.exe")));
    QCOMPARE(ReadHostFile(FMachine->Prefix() / "system.reg"), system);
    QCOMPARE(ReadHostFile(FMachine->Prefix() / "user.reg"), user);
    QVERIFY(status.Texts.empty());
    QCOMPARE(gauge.count(), 0);
    QCOMPARE(Rows(FForm->lstvNList), (QList<QStringList>{{"1", "Alpha 2", "", ""}}));
    QCOMPARE(FForm->lstvNList->topLevelItem(0)->checkState(0), Qt::Checked);
    QCOMPARE(Caption(FForm->labSoftNum), std::string("1  Software"));
    QCOMPARE(FForm->CurrentPanel(), int(pmScanResults));
    for (QWidget* control : std::initializer_list<QWidget*>{
             FForm->imgClean, FForm->imgCancel, FForm->lstvRList, FForm->lstvNList, FForm->pan_Foot_Bottom})
        QVERIFY(control->isEnabled());

    // Once Wine has ended, the same clean removes the program.
    QVERIFY(wine.End());
    RunCommand([this] { QTest::mouseClick(FForm->imgClean, Qt::LeftButton); });
    QCOMPARE(FBoxes.back().Text, std::string("Cleaning completed."));
    QVERIFY(tray.ReapKilled());
    QVERIFY(!fs::exists(FMachine->HostPath("C:\\Program Files\\Alpha")));
    QVERIFY(!KeyExists(platform::HKEY_LOCAL_MACHINE, Uninstall + "Alpha"));
    QCOMPARE(FForm->lstvNList->topLevelItemCount(), 0);
}

// A wineserver that starts during a clean stops it at the next program: that one keeps its files and its
// row, and the end message names it.
void TUninstallThreadTest::wineStartedDuringACleanStopsItBeforeTheNextProgram() {
    FDatabase.Add("DELTA", "Delta", 9).File(1, "{pf}\\Delta\\delta.dat");
    FDatabase.Add("EPS", "Epsilon", 9).File(1, "{pf}\\Epsilon\\e.dat");
    FMachine->WriteFile("C:\\Program Files\\Delta\\delta.dat", "x");
    FMachine->WriteFile("C:\\Program Files\\Epsilon\\e.dat", "x");
    TRunningWineServer wine(*FMachine);
    QVERIFY(wine.End());
    ShowWindow();
    Scan();
    FForm->chkSelectAll1->setChecked(true);
    TPaintRecorder status(FForm->panCleanHint);
    status.OnText = [&](const std::string& text) {
        if (text == " Cleaning Epsilon...")
            wine.Start();
    };
    RunCommand([this] { QTest::mouseClick(FForm->imgClean, Qt::LeftButton); });
    QVERIFY(wine.Running());
    QVERIFY(!fs::exists(FMachine->HostPath("C:\\Program Files\\Delta\\delta.dat")));
    QVERIFY(fs::exists(FMachine->HostPath("C:\\Program Files\\Epsilon\\e.dat")));
    QCOMPARE(status.Texts.back(), std::string(" Cleaning Epsilon..."));
    QCOMPARE(FBoxes.back().Text, std::string("These programs could not be removed completely:\nEpsilon"));
    QCOMPARE(Rows(FForm->lstvRList), (QList<QStringList>{{"2", "Epsilon", "Games"}}));
}

// Names and paths from the registry and the database are shown as they are stored, never as markup.
void TUninstallThreadTest::outsideTextShowsAsPlainText() {
    const std::string name = "<img src=\"x.png\">Foo && <b>Bar</b>";
    FDatabase.Add("FOO", "<img", 5).File(1, "C:\\<b>Foo\\a.dll");
    FSystem.Key(Uninstall + "Foo").String("DisplayName", name).String("UninstallString", "x.exe");
    WriteHives();
    FMachine->WriteFile("C:\\<b>Foo\\a.dll", "x");
    ShowWindow();
    Scan();
    QCOMPARE(Rows(FForm->lstvNList), (QList<QStringList>{{"1", QString::fromStdString(name), "", ""}}));
    FForm->lstvNList->topLevelItem(0)->setSelected(true);
    RunCommand([this] { FForm->lstvNListDblClick(FForm->lstvNList); });
    QCOMPARE(FForm->labUS1Soft->text().toStdString(), name);
    QCOMPARE(FForm->labUS1Soft->textFormat(), Qt::PlainText);
    QCOMPARE(Rows(FForm->lstvUS2File), (QList<QStringList>{{"1", "C:\\<b>Foo\\a.dll"}}));
    QTest::mouseClick(FForm->imgDCancel, Qt::LeftButton);

    Check(FForm->lstvNList, 0);
    TPaintRecorder status(FForm->panCleanHint);
    std::vector<std::string> shown;
    status.OnText = [&](const std::string&) {
        if (FForm->panCleanHint->textFormat() == Qt::PlainText)
            shown.push_back(FForm->panCleanHint->text().toStdString());
    };
    RunCommand([this] { QTest::mouseClick(FForm->imgClean, Qt::LeftButton); });
    QCOMPARE(shown, status.Texts);
    QVERIFY(!shown.empty());
    QCOMPARE(shown.front(), " Cleaning " + name + "...");
    QVERIFY(std::find(shown.begin(), shown.end(), " Deleting C:\\<b>Foo\\a.dll...") != shown.end());
    QCOMPARE(shown.back(), " " + name + " has successfully unloaded.");
}

// ---- End to end ----

// A program added to a copy of a real Wine prefix: its service (with a running image), its processes, its
// files, install folder, shell entries, registry items and traces, and its Uninstall key all go; every other
// key of the hives stays byte for byte, and nothing behind the profile's links into the home folder that is
// not the program's own is touched.
void TUninstallThreadTest::removalOnARealPrefix() {
    FMachine->UseFixtureRegistry("win64");
    {
        platform::TRegistry registry;
        registry.SetRootKey(platform::HKEY_LOCAL_MACHINE);
        QVERIFY(registry.OpenKey("\\" + Uninstall + "AcmeEdit", true));
        registry.WriteString("DisplayName", "Acme Edit 4.2");
        registry.WriteString("UninstallString", "\"C:\\Program Files\\AcmeEdit\\unins000.exe\"");
        registry.WriteString("InstallLocation", "C:\\Program Files\\AcmeEdit");
        QVERIFY(registry.OpenKey("\\System\\CurrentControlSet\\Services\\AcmeEditSvc", true));
        registry.WriteString("ImagePath", "C:\\Program Files\\AcmeEdit\\acmesvc.exe");
        QVERIFY(registry.OpenKey("\\Software\\AcmeEdit", true));
        registry.WriteString("InstallDir", "C:\\Program Files\\AcmeEdit\\acmeedit.exe");
        QVERIFY(registry.OpenKey("\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\acmeedit.exe",
                                 true));
        registry.WriteString("Path", "C:\\Program Files\\AcmeEdit");
        registry.SetRootKey(platform::HKEY_CURRENT_USER);
        QVERIFY(registry.OpenKey("\\Software\\AcmeEdit\\Settings", true));
        registry.WriteString("Theme", "dark");
        QVERIFY(registry.OpenKey("\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", true));
        registry.WriteString("AcmeEditTray", "C:\\Program Files\\AcmeEdit\\acmetray.exe");
        registry.CloseKey();
    }
    FDatabase.Add("ACME", "Acme Edit", 5)
        .File(1, "{pf}\\Common Files\\AcmeShared\\acme.dll")
        .File(1, "C:\\users\\tester\\Documents\\thesis.odt")
        .Registry(2, "HKCU{sw}\\AcmeEdit")
        .Registry(3, "HKCU{sw}\\Microsoft\\Windows\\CurrentVersion\\Run\\AcmeEditTray")
        .Probe("HKLM{sw}\\AcmeEdit", "InstallDir");
    TDatabaseProgram& acme = FDatabase.Programs.back();
    acme.Services = "AcmeEditSvc";
    acme.Processes = "acmetray.exe";
    acme.DesktopEntries = "Acme Edit.lnk";
    acme.ProgramsEntries = "Acme Edit";
    acme.StartupEntries = "Acme Tray.lnk";
    FMachine->WriteFile("C:\\Program Files\\AcmeEdit\\acmeedit.exe", "x");
    FMachine->WriteFile("C:\\Program Files\\AcmeEdit\\plugins\\p.dll", "x");
    FMachine->WriteFile("C:\\Program Files\\Common Files\\AcmeShared\\acme.dll", "x");
    FMachine->WriteFile("C:\\Program Files\\Common Files\\Other\\other.dll", "x");
    FMachine->WriteFile("C:\\users\\tester\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Acme "
                        "Edit\\Acme Edit.lnk",
                        "x");
    FMachine->WriteFile("C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp\\Acme Tray.lnk",
                        "x");
    // The profile's Desktop is a link into the home folder, as Wine makes it.
    fs::remove_all(FMachine->HostPath("C:\\users\\tester\\Desktop"));
    FMachine->WriteHostFile(FMachine->Home() / "Desktop" / "Acme Edit.lnk", "x");
    FMachine->WriteHostFile(FMachine->Home() / "Desktop" / "holiday.jpg", "mine");
    FMachine->MakeLink("C:\\users\\tester\\Desktop", FMachine->Home() / "Desktop");
    // Documents too: a file there that the database names is the person's, not the program's.
    FMachine->WriteHostFile(FMachine->Home() / "Documents" / "thesis.odt", "mine");
    FMachine->MakeLink("C:\\users\\tester\\Documents", FMachine->Home() / "Documents");

    TChildProcess service, tray;
    const fs::path serviceFile = FMachine->HostPath("C:\\Program Files\\AcmeEdit\\acmesvc.exe");
    const fs::path trayFile = FMachine->HostPath("C:\\Program Files\\AcmeEdit\\acmetray.exe");
    TChildProcess::CopySleepProgram(serviceFile);
    TChildProcess::CopySleepProgram(trayFile);
    QVERIFY(service.Start(serviceFile, {serviceFile.string(), "600"}));
    QVERIFY(tray.Start(trayFile, {trayFile.string(), "600"}));

    const std::string systemBefore = ReadHostFile(FMachine->Prefix() / "system.reg");
    const std::string userBefore = ReadHostFile(FMachine->Prefix() / "user.reg");
    const std::string defaultBefore = ReadHostFile(FMachine->Prefix() / "userdef.reg");
    ShowWindow();
    Scan();
    QCOMPARE(Rows(FForm->lstvNList).size(), 1);
    QCOMPARE(FForm->lstvNList->topLevelItem(0)->text(1), QStringLiteral("Acme Edit 4.2"));
    Check(FForm->lstvNList, 0);
    TPaintRecorder status(FForm->panCleanHint);
    RunCommand([this] { QTest::mouseClick(FForm->imgClean, Qt::LeftButton); });

    QVERIFY(service.ReapKilled());
    QVERIFY(tray.ReapKilled());
    QCOMPARE(status.Texts.front(), std::string(" Cleaning Acme Edit 4.2..."));
    QCOMPARE(status.Texts.back(), std::string(" Acme Edit 4.2 has successfully unloaded."));
    QVERIFY(!fs::exists(FMachine->HostPath("C:\\Program Files\\AcmeEdit")));
    QVERIFY(!fs::exists(FMachine->HostPath("C:\\Program Files\\Common Files\\AcmeShared\\acme.dll")));
    QVERIFY(fs::exists(FMachine->HostPath("C:\\Program Files\\Common Files\\Other\\other.dll")));
    QVERIFY(!fs::exists(FMachine->Home() / "Desktop" / "Acme Edit.lnk"));
    QCOMPARE(ReadHostFile(FMachine->Home() / "Desktop" / "holiday.jpg"), std::string("mine"));
    QCOMPARE(ReadHostFile(FMachine->Home() / "Documents" / "thesis.odt"), std::string("mine"));
    QVERIFY(fs::is_symlink(FMachine->HostPath("C:\\users\\tester\\Desktop")));
    QVERIFY(!fs::exists(FMachine->HostPath(
        "C:\\users\\tester\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Acme Edit")));
    QVERIFY(fs::exists(
        FMachine->HostPath("C:\\users\\tester\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs")));
    QVERIFY(!fs::exists(FMachine->HostPath(
        "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp\\Acme Tray.lnk")));

    // Every key block of the hives but the program's own stays exactly as it was.
    const std::string serviceKey = "System\\\\CurrentControlSet\\\\Services\\\\AcmeEditSvc";
    const std::string uninstallKey =
        "Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\AcmeEdit";
    const std::string appPathKey =
        "Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\App Paths\\\\acmeedit.exe";
    auto system = KeyBlocks(systemBefore);
    for (const std::string& gone :
         {serviceKey, uninstallKey, appPathKey, std::string("Software\\\\AcmeEdit")}) {
        QVERIFY2(system.erase(gone) == 1, gone.c_str());
    }
    QVERIFY(KeyBlocks(ReadHostFile(FMachine->Prefix() / "system.reg")) == system);
    auto user = KeyBlocks(userBefore);
    QVERIFY(user.erase("Software\\\\AcmeEdit\\\\Settings") == 1);
    auto& run = user.at("Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Run");
    run.erase(std::remove_if(run.begin(), run.end(),
                             [](const std::string& line) { return line.rfind("\"AcmeEditTray\"", 0) == 0; }),
              run.end());
    QVERIFY(KeyBlocks(ReadHostFile(FMachine->Prefix() / "user.reg")) == user);
    QCOMPARE(ReadHostFile(FMachine->Prefix() / "userdef.reg"), defaultBefore);
    QCOMPARE(FForm->CurrentPanel(), int(pmWelcome));
}

// A database and registry written to lead the removal astray: shared folders as templates, probes and
// install locations, entry names that climb out of their folders, blank service names, processes that are
// KV itself, Update and the wineserver. Nothing but the program's own items goes.
void TUninstallThreadTest::hostileDatabaseRemovesNothingButTheProgramsOwn() {
    // KV and this very process, each by its full path: a bare name would match processes of the same name
    // that others run on this machine, which the removal must not be led to end either. A second copy of this
    // test program running at the same time is left out of the list.
    const std::string kvProgram = platform::GetModuleFileName();
    const std::string self = platform::ToWindowsPath(QCoreApplication::applicationFilePath().toStdString());
    int copiesOfSelf = 0;
    for (const platform::TProcessEntry& entry : platform::CreateProcessSnapshot())
        copiesOfSelf += ProcessMatches(entry.ExeFile, self) ? 1 : 0;
    QVERIFY(copiesOfSelf >= 1);
    auto windowsPath = [](const fs::path& path) {
        return "Z:" + platform::StringReplaceAll(path.string(), "/", "\\");
    };
    FDatabase.Add("HOSTILE", "Hostile", 10)
        .File(1, "{pf}\\Hostile\\hostile.exe")
        .File(1, "C:\\")
        .File(1, "C:\\windows")
        .File(1, "{pf}")
        .File(1, "Z:\\")
        .File(1, "C:\\users\\tester\\Desktop")
        .File(1, windowsPath(FMachine->Home() / "notes.txt"))
        .File(1, windowsPath(FMachine->ProgramFolder() / "Settings.ini"))
        .File(1, windowsPath(FMachine->ProgramFolder() / "KV.dat"))
        .Registry(2, "HKLM{sw}")
        .Registry(2, "HKLM{sw}\\Microsoft\\Windows\\CurrentVersion\\Uninstall")
        .Registry(2, "HKCU{sw}\\Microsoft\\Windows\\CurrentVersion\\Run\\")
        .Registry(3, "HKCU{sw}\\Microsoft\\")
        .Registry(2, "HKLM\\System\\CurrentControlSet\\Services")
        .Probe("HKLM{sw}\\Hostile", "Root")
        .Probe("HKLM{sw}\\Hostile", "Windows")
        .Probe("HKLM{sw}\\Hostile", "Desktop");
    TDatabaseProgram& hostile = FDatabase.Programs.back();
    hostile.Services = ",\\,..";
    hostile.Processes =
        kvProgram + ",Update.exe,wineserver" + (copiesOfSelf == 1 ? "," + self : std::string());
    hostile.DesktopEntries = ",..,..\\..,.., ,*";
    hostile.ProgramsEntries = "..\\..\\..\\..\\..\\..";
    hostile.StartupEntries = " ";
    hostile.StartMenuEntries = "Programs,\\";
    const std::pair<const char*, const char*> templates[] = {
        {"Tmpl Zero", "0"},       {"Tmpl One", "1"},
        {"Tmpl Two", "2"},        {"Tmpl Three", "3"},
        {"Tmpl Win", "0windows"}, {"Tmpl Dots", "1.."},
        {"Tmpl Nine", "9x"},      {"Tmpl Desk", "0users\\tester\\Desktop"}};
    int number = 0;
    for (const auto& [name, folderTemplate] : templates) {
        FDatabase.Add("T" + std::to_string(++number), name, 10).File(1, "{pf}\\Hostile\\hostile.exe");
        FDatabase.Programs.back().InstallFolder = folderTemplate;
    }
    FDatabase.Add("ROOTED", "Rooted", 10);
    FSystem.Key("Software\\Hostile")
        .String("Root", "C:\\")
        .String("Windows", "C:\\windows\\notepad.exe")
        .String("Desktop", "C:\\users\\tester\\Desktop\\");
    FSystem.Key(Uninstall + "RootedApp")
        .String("DisplayName", "Rooted App")
        .String("UninstallString", "x.exe")
        .String("InstallLocation", "C:\\");
    FSystem.Key("Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\system.exe")
        .String("Path", "C:\\windows");
    FSystem.Key("Software\\Microsoft\\Windows\\CurrentVersion\\Run").String("Anything", "C:\\windows\\x.exe");
    FSystem.Key("System\\CurrentControlSet\\Services\\Kept").String("ImagePath", "C:\\windows\\kept.exe");
    FUser.Key("Software\\Microsoft\\Windows\\CurrentVersion\\Run").String("Other", "C:\\other.exe");
    FUser.Key("Software\\Microsoft").String("", "default");
    WriteHives();
    FMachine->WriteFile("C:\\Program Files\\Hostile\\hostile.exe", "x");
    FMachine->WriteFile("C:\\windows\\win.ini", "keep");
    FMachine->WriteFile("C:\\windows\\notepad.exe", "keep");
    FMachine->WriteFile("C:\\users\\tester\\Desktop\\mine.txt", "keep");
    FMachine->WriteFile("C:\\users\\Public\\Desktop\\public.txt", "keep");
    FMachine->WriteFile("C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\kept.lnk", "keep");
    FMachine->WriteFile("C:\\Program Files\\Other\\other.exe", "keep");
    FMachine->WriteHostFile(FMachine->Home() / "notes.txt", "keep");
    TChildProcess update, server;
    const fs::path updateFile = FMachine->ProgramFolder() / "Update.exe";
    const fs::path serverFile = FMachine->Root() / "bin" / "wineserver";
    TChildProcess::CopySleepProgram(updateFile);
    TChildProcess::CopySleepProgram(serverFile);
    QVERIFY(update.Start(updateFile, {updateFile.string(), "600"}));
    QVERIFY(server.Start(serverFile, {serverFile.string(), "600"}));

    ShowWindow();
    Scan();
    QCOMPARE(FForm->lstvRList->topLevelItemCount(), 9);
    QCOMPARE(FForm->lstvNList->topLevelItemCount(), 1);
    FForm->chkSelectAll1->setChecked(true);
    FForm->chkSelectAll2->setChecked(true);
    const std::string systemBefore = ReadHostFile(FMachine->Prefix() / "system.reg");
    const std::string userBefore = ReadHostFile(FMachine->Prefix() / "user.reg");
    RunCommand([this] { QTest::mouseClick(FForm->imgClean, Qt::LeftButton); });

    QVERIFY(update.Running());
    QVERIFY(server.Running());
    QVERIFY(!fs::exists(FMachine->HostPath("C:\\Program Files\\Hostile\\hostile.exe")));
    for (const char* kept : {"C:\\windows\\win.ini", "C:\\windows\\notepad.exe",
                             "C:\\users\\tester\\Desktop\\mine.txt", "C:\\users\\Public\\Desktop\\public.txt",
                             "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\kept.lnk",
                             "C:\\Program Files\\Other\\other.exe"})
        QVERIFY2(fs::exists(FMachine->HostPath(kept)), kept);
    QVERIFY(fs::exists(FMachine->Home() / "notes.txt"));
    QVERIFY(fs::exists(FMachine->ProgramFolder() / "Settings.ini"));
    QVERIFY(fs::exists(FMachine->ProgramFolder() / "KV.dat"));
    // The registry keeps everything but the Uninstall entry of the program whose name matched.
    auto system = KeyBlocks(systemBefore);
    QVERIFY(system.erase("Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\RootedApp") ==
            1);
    QVERIFY(KeyBlocks(ReadHostFile(FMachine->Prefix() / "system.reg")) == system);
    QCOMPARE(ReadHostFile(FMachine->Prefix() / "user.reg"), userBefore);
    QVERIFY(KeyExists(platform::HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\Kept"));
    QVERIFY(ValueExists(platform::HKEY_CURRENT_USER, "Software\\Microsoft", ""));
}

QTEST_MAIN(TUninstallThreadTest)
#include "threadUninstallTest.moc"
