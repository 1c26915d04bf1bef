// The demonstration machine as a user meets it: built by makeDemo into a temporary folder, with a real KV
// running on it, Update's run against the demonstration's update server (demoServer with an update) installs
// the newer databases, ends KV and starts it again; the prefix takes the start-up value, and its database
// names its programs' folders as the templates expect.
#include "common/opUninstallFile.h"
#include "common/opUninstallRegistry.h"
#include "platform/dateTime.h"
#include "platform/messageBox.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/stringList.h"
#include "platform/systemInfo.h"
#include "platform/sysUtils.h"
#include "platform/winePath.h"
#include "support/childProcess.h"
#include "support/hostFiles.h"
#include "support/scopedVariable.h"
#include "support/tempMachine.h"
#include "tools/databaseWriter.h"
#include "update/frmUpdate2.h"

#include <filesystem>
#include <memory>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Strings = std::vector<std::string>;

// What the demonstration's update server offers: its database description read with the update's after it.
TDatabaseWriter OfferedDatabase() {
    const std::string descriptions = KORVANE_DEMO_DESCRIPTIONS;
    return TDatabaseWriter::Parse(ReadHostFile(descriptions + "/database.txt") + "\n" +
                                  ReadHostFile(descriptions + "/update.txt"));
}

} // namespace

class TDemoMachineTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void onlineUpgradeInstallsTheNewerDatabases();
    void startUpValueIsSavedInThePrefix();
    void folderTemplatesNameTheFolderBelowTheirRoot();

private:
    fs::path Program(const std::string& name) const { return FDemo / "program" / name; }
    std::vector<uint32_t> KVProcesses() const;
    // Starts demoServer with an update on a free port and points the programs at it.
    bool StartServer();
    // Shows a new updater window (its activation starts the run) and waits until the program is told to end.
    bool RunUpdate();

    std::unique_ptr<TTempMachine> FMachine;
    fs::path FDemo;
    std::unique_ptr<TScopedVariable> FPrefix;
    std::unique_ptr<QProcess> FServer;
    std::unique_ptr<TScopedVariable> FServerUrl;
    Strings FBoxes;
};

void TDemoMachineTest::init() {
    FMachine = std::make_unique<TTempMachine>();
    FDemo = FMachine->Root() / "demo";
    QCOMPARE(QProcess::execute(QStringLiteral(KORVANE_MAKE_DEMO), {QStringLiteral(KORVANE_DEMO_DESCRIPTIONS),
                                                                   QString::fromStdString(FDemo.string())}),
             0);
    // As the demonstration's build puts them: KV and Update beside the database.
    fs::copy_file(KORVANE_KV_PROGRAM, Program("KV.exe"));
    platform::SetModuleFileNameForTesting(Program("Update.exe"));
    FPrefix = std::make_unique<TScopedVariable>("WINEPREFIX", (FDemo / "prefix").c_str());
    FBoxes.clear();
    platform::SetSleepForTesting([](unsigned) {});
    platform::SetMessageBoxHandler([this](const std::string& text, const std::string&, uint32_t flags) {
        FBoxes.push_back(text);
        return (flags & 0x0F) == platform::MB_YESNO ? platform::IDYES : platform::IDOK;
    });
}

void TDemoMachineTest::cleanup() {
    for (uint32_t process : KVProcesses())
        platform::TerminateProcess(process);
    platform::SetMessageBoxHandler(nullptr);
    platform::SetSleepForTesting(nullptr);
    FServerUrl.reset();
    if (FServer) {
        FServer->kill();
        FServer->waitForFinished();
        FServer.reset();
    }
    FPrefix.reset();
    FMachine.reset();
}

std::vector<uint32_t> TDemoMachineTest::KVProcesses() const {
    std::vector<uint32_t> found;
    const std::string kv = platform::ToWindowsPath(Program("KV.exe"));
    for (const auto& entry : platform::CreateProcessSnapshot())
        if (platform::SameText(entry.ExeFile, kv))
            found.push_back(entry.ProcessId);
    return found;
}

bool TDemoMachineTest::StartServer() {
    FServer = std::make_unique<QProcess>();
    FServer->start(QStringLiteral(KORVANE_DEMO_SERVER), {QStringLiteral("0"), QStringLiteral("1")});
    if (!FServer->waitForStarted() || !QTest::qWaitFor([&] { return FServer->canReadLine(); }, 10000))
        return false;
    // "The update server's script at http://127.0.0.1:<port>/communicate.php"
    const std::string url = QString::fromUtf8(FServer->readLine()).trimmed().section(' ', -1).toStdString();
    FServerUrl = std::make_unique<TScopedVariable>("KORVANE_SERVER_URL", url.c_str());
    return url.rfind("http://127.0.0.1:", 0) == 0;
}

bool TDemoMachineTest::RunUpdate() {
    TfrmUpdate window;
    QSignalSpy ended(&window, &TfrmUpdate::ProgramEndRequested);
    window.show();
    window.activateWindow();
    return QTest::qWaitFor([&] { return ended.count() > 0; }, 30000);
}

void TDemoMachineTest::onlineUpgradeInstallsTheNewerDatabases() {
    // The run ends every KV.exe of the user: outside a process namespace of its own (ctest runs this test in
    // one where the machine allows it) a KV of this machine would be ended too.
    if (getpid() != 1 && !KVProcesses().empty())
        QSKIP("a KV.exe of this machine runs and the update would end it");
    QVERIFY(StartServer());
    const TDatabaseWriter offered = OfferedDatabase();
    {
        TUFileOp database("", "");
        QVERIFY(std::stoll(database.GetDataVersion(1)) < offered.DataStamp);
        QVERIFY(std::stoll(database.GetSoftDataVersion(1)) < offered.SoftStamp);
    }
    TChildProcess kv;
    QVERIFY(kv.Start(Program("KV.exe"), {"KV.exe"}));
    QTRY_COMPARE_WITH_TIMEOUT(KVProcesses(), std::vector<uint32_t>{kv.ProcessId()}, 10000);

    QVERIFY(RunUpdate());
    QCOMPARE(FBoxes, (Strings{"To update you identified?", "Updates completed!"}));
    // Both databases are the newer ones, byte for byte, and the downloads are gone.
    QCOMPARE(ReadHostFile(Program("KV.dat")), offered.DataFileContent());
    QCOMPARE(ReadHostFile(Program("soft.dat")), offered.SoftFileContent());
    {
        TUFileOp database("", "");
        QCOMPARE(database.GetDataVersion(1), std::to_string(offered.DataStamp));
        QCOMPARE(database.GetSoftDataVersion(1), std::to_string(offered.SoftStamp));
        // The program only the newer database knows is found on the machine.
        platform::TStringList items;
        QCOMPARE(database.GetLeftoverItems("PhotoFrame", 0, items, 1), 1);
    }
    QVERIFY(fs::is_empty(Program("update")));
    // KV was ended and comes back: a new process of the program folder's KV.exe.
    QVERIFY(kv.ReapKilled());
    QTRY_COMPARE_WITH_TIMEOUT(KVProcesses().size(), size_t{1}, 10000);
    QVERIFY(KVProcesses()[0] != kv.ProcessId());

    // Asked again, the server has nothing newer for the updated machine.
    FBoxes.clear();
    QVERIFY(RunUpdate());
    QCOMPARE(FBoxes, Strings{"The current version is the latest version!"});
}

void TDemoMachineTest::startUpValueIsSavedInThePrefix() {
    const std::string program = platform::GetModuleFileName();
    try {
        TURegistryOp registry;
        registry.SetRunValue(TURegistryOp::RunValueName, program);
        // The user's shell folders name the profile of the user the machine was built for.
        QCOMPARE(registry.GetShellFolder("AppData"),
                 std::string("C:\\users\\") + TTempMachine::UserName + "\\AppData\\Roaming");
    } catch (const std::exception& error) {
        QFAIL(error.what());
    }
    platform::TRegistry reader;
    reader.SetRootKey(platform::HKEY_LOCAL_MACHINE);
    QVERIFY(reader.OpenKeyReadOnly(TURegistryOp::RunKey));
    QCOMPARE(reader.ReadString(TURegistryOp::RunValueName), program);
}

void TDemoMachineTest::folderTemplatesNameTheFolderBelowTheirRoot() {
    // A folder template is its root's digit followed directly by the path below the root ("1SevenZip" is
    // C:\Program Files\SevenZip); a separator after the digit would double the root's own.
    for (const TDatabaseProgram& program : OfferedDatabase().Programs) {
        if (program.InstallFolder.empty())
            continue;
        QVERIFY2(program.InstallFolder.size() > 1 && program.InstallFolder[1] != '\\',
                 program.InstallFolder.c_str());
    }
}

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    Q_INIT_RESOURCE(Update);
    application.setWindowIcon(QIcon(QStringLiteral(":/update/update.ico")));
    TDemoMachineTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "demoMachineTest.moc"
