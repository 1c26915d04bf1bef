#include "main/KV.h"

#include "main/frmMain2.h"
#include "platform/messageBox.h"
#include "platform/namedMutex.h"
#include "support/tempMachine.h"
#include "tools/databaseWriter.h"

#include <atomic>
#include <filesystem>
#include <QMessageBox>
#include <QProcess>
#include <QtTest>
#include <thread>

namespace fs = std::filesystem;

namespace {

bool MutexExists() {
    platform::HANDLE handle = platform::OpenMutexA(platform::MUTEX_ALL_ACCESS, false, "KV_S_EXISTS");
    platform::CloseHandle(handle);
    return handle != nullptr;
}

} // namespace

// The real program KV.exe, started as a person starts it (offscreen), from program folders of the test's own.
class TKVTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void aSecondCopyEndsAtOnceAndShowsNothing();
    void theMainBlockLeavesAtOnceWhileTheMarkerExists();
    void aBoxAskedOnAnotherThreadIsShownOnTheGuiThread();
    void aBoxShowsItsTextAsPlainText();

private:
    // A program folder with KV.exe and its database, and a process ready to start it there.
    fs::path MakeProgramFolder(const std::string& name);
    void Start(QProcess& process, const fs::path& folder);

    std::unique_ptr<TTempMachine> FMachine;
    QProcess FFirst, FSecond, FThird, FFourth;
};

void TKVTest::init() {
    FMachine = std::make_unique<TTempMachine>();
}

void TKVTest::cleanup() {
    for (QProcess* process : {&FFirst, &FSecond, &FThird, &FFourth}) {
        process->kill();
        process->waitForFinished();
    }
    FMachine.reset();
}

fs::path TKVTest::MakeProgramFolder(const std::string& name) {
    const fs::path folder = FMachine->Root() / name;
    fs::create_directories(folder);
    fs::copy_file(KORVANE_KV_PROGRAM, folder / "KV.exe");
    TDatabaseWriter writer;
    writer.Add("FOO", "Foo Tool", 5);
    writer.WriteFiles(folder);
    return folder;
}

void TKVTest::Start(QProcess& process, const fs::path& folder) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(QString::fromStdString(folder.string()));
    process.start(QString::fromStdString((folder / "KV.exe").string()), {});
    QVERIFY(process.waitForStarted());
}

void TKVTest::aSecondCopyEndsAtOnceAndShowsNothing() {
    const fs::path first = MakeProgramFolder("first"), second = MakeProgramFolder("second");
    QVERIFY(!MutexExists());
    Start(FFirst, first);
    // The first copy has shown its window once it has written its settings file.
    QTRY_VERIFY_WITH_TIMEOUT(fs::exists(first / "Settings.ini"), 30000);
    QVERIFY(MutexExists());

    // A second copy, from another folder: it ends with 0 and has shown no window (which would have written
    // the settings file beside it).
    Start(FSecond, second);
    QVERIFY(FSecond.waitForFinished(30000));
    QCOMPARE(FSecond.exitStatus(), QProcess::NormalExit);
    QCOMPARE(FSecond.exitCode(), 0);
    QVERIFY(!fs::exists(second / "Settings.ini"));
    QCOMPARE(FFirst.state(), QProcess::Running);

    // Once the first copy has been killed, a new one starts.
    FFirst.kill();
    QVERIFY(FFirst.waitForFinished());
    QVERIFY(!MutexExists());
    Start(FThird, second);
    QTRY_VERIFY_WITH_TIMEOUT(fs::exists(second / "Settings.ini"), 30000);
    QVERIFY(MutexExists());
    QCOMPARE(FThird.state(), QProcess::Running);

    // And after one that ended on a request to end.
    FThird.terminate();
    QVERIFY(FThird.waitForFinished());
    fs::remove(first / "Settings.ini");
    Start(FFourth, first);
    QTRY_VERIFY_WITH_TIMEOUT(fs::exists(first / "Settings.ini"), 30000);
    QCOMPARE(FFourth.state(), QProcess::Running);
}

void TKVTest::theMainBlockLeavesAtOnceWhileTheMarkerExists() {
    platform::HANDLE running = platform::CreateMutexA(nullptr, false, "KV_S_EXISTS");
    QVERIFY(running);
    char name[] = "KV.exe";
    char* arguments[] = {name, nullptr};
    QCOMPARE(KVMain(1, arguments), 0);
    QCOMPARE(frmMain, nullptr);
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
    QVERIFY(!fs::exists(FMachine->ProgramFolder() / "Settings.ini"));
    platform::CloseHandle(running);
}

void TKVTest::aBoxAskedOnAnotherThreadIsShownOnTheGuiThread() {
    InstallMessageBoxes();
    // The window's own handler would open a real box; this one records where it runs. It is installed from
    // the GUI thread, as KV installs its own.
    std::thread::id shownOn;
    platform::SetMessageBoxHandler([&](const std::string&, const std::string&, uint32_t) {
        shownOn = std::this_thread::get_id();
        return platform::IDYES;
    });
    std::atomic<int> answer = 0;
    std::thread asker([&] { answer = platform::MessageBox("Question", "Korvane", platform::MB_YESNO); });
    // The asker waits until the GUI thread's event loop has run the box.
    QTRY_COMPARE(answer.load(), platform::IDYES);
    asker.join();
    RemoveMessageBoxes();
    QVERIFY(shownOn == std::this_thread::get_id());
}

// A box's text may hold a name, a path or a server's words: KV's own box shows it as it is, never as markup.
void TKVTest::aBoxShowsItsTextAsPlainText() {
    InstallMessageBoxes();
    const QString text =
        QStringLiteral("<img src=\"x.png\">Foo\n<b>C:\\Bar</b> & <a href=\"http://x\">y</a>");
    QString shown;
    Qt::TextFormat format = Qt::AutoText;
    // The box runs its own event loop; the timer answers it from there.
    QTimer answer;
    answer.setInterval(10);
    connect(&answer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->text();
            format = box->textFormat();
            box->accept();
        }
    });
    answer.start();
    const int button =
        platform::MessageBox(text.toStdString(), "Error", platform::MB_OK | platform::MB_ICONERROR);
    answer.stop();
    RemoveMessageBoxes();
    QCOMPARE(button, platform::IDOK);
    QCOMPARE(shown, text);
    QCOMPARE(format, Qt::PlainText);
}

QTEST_MAIN(TKVTest)
#include "KVTest.moc"
