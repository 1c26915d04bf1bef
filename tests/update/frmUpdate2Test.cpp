// The updater's window and its run against a loopback update server: every reply case, every message, the
// downloads with their progress rows, the digests, "Delete Update", the abort question, failing and
// stalling servers, and the restart of a real KV process.
#include "update/frmUpdate2.h"

#include "common/publicFun.h"
#include "common/serverProtocol.h"
#include "platform/dateTime.h"
#include "platform/fileSystem.h"
#include "platform/messageBox.h"
#include "platform/peResources.h"
#include "platform/processes.h"
#include "platform/systemInfo.h"
#include "platform/sysUtils.h"
#include "platform/winePath.h"
#include "support/childProcess.h"
#include "support/hostFiles.h"
#include "support/loopbackServer.h"
#include "support/scopedVariable.h"
#include "support/tempMachine.h"
#include "support/updateFiles.h"
#include "tools/databaseWriter.h"
#include "update/updaterMessageBox.h"

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <openssl/evp.h>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <sstream>
#include <sys/stat.h>
#include <zlib.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// One message box as the run showed it, with the status line at that moment.
struct TBox {
    std::string Text;
    std::string Caption;
    uint32_t Flags = 0;
    std::string State;
};

// Today's date as the downloads are named; the clock is fixed by the fixture.
const std::string Today = "20261210";

// Records each text a label shows when it is painted: the run repaints its status line after each change.
class TPaintedTexts : public QObject {
public:
    explicit TPaintedTexts(QLabel* label) : FLabel(label) { label->installEventFilter(this); }
    std::vector<std::string> Texts;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == FLabel && event->type() == QEvent::Paint) {
            std::string text = FLabel->text().toStdString();
            if (Texts.empty() || Texts.back() != text)
                Texts.push_back(text);
        }
        return false;
    }

private:
    QLabel* FLabel;
};

// Counts the paint events of a widget.
class TPaintCount : public QObject {
public:
    explicit TPaintCount(QWidget* widget) { widget->installEventFilter(this); }
    int Count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        Count += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

} // namespace

class TfrmUpdate2Test : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void rendersTheWindow();
    void opensCentredOnItsScreen();
    void programFileCarriesItsVersionAndIcon();
    void withoutKVNothingIsAskedOrShown();
    void requestCarriesTheVersions();
    void repliesWithoutDownloads_data();
    void repliesWithoutDownloads();
    void checkUpdateEmptiesItsFieldsEachCall();
    void installsEveryFileAndCleansUp();
    void digestMismatchReplacesNothing();
    void deleteUpdateKeepsFilesUnlessOne_data();
    void deleteUpdateKeepsFilesUnlessOne();
    void answerNoLeavesTheDownloads();
    void updateFolderThatCannotBeCreated();
    void failedDownloadShowsTheErrorOnceAndStays();
    void serverTextInABoxIsShownAsPlainText();
    void serverThatCutsOrStallsATransfer_data();
    void serverThatCutsOrStallsATransfer();
    void downloadAddressesOtherThanHttpAreRefused();
    void progressGoesToTheRowOfTheDownload();
    void progressCellCountsWholeKilobytes_data();
    void progressCellCountsWholeKilobytes();
    void progressIsDrawnAFewTimesASecond();
    void abortDuringADownload();
    void closeAnsweredNoLetsTheDownloadGoOn();
    void unpackErrorLeavesTheRun();
    void lockedTargetsAreReportedAndTheirDownloadsKept();
    void readOnlyProgramFolder();
    void trayIconRestoresAMinimisedWindow();
    void realKVIsEndedAndStartedAgain();
    void kvNotRunningIsNotStarted();
    void serverWhoseReplyNeverEnds();

private:
    fs::path Program(const std::string& name) const { return FMachine->ProgramFolder() / name; }
    fs::path UpdateFolder(const std::string& name) const { return Program("update") / name; }
    std::vector<std::string> UpdateFolderNames() const;
    // The update server's reply naming the three downloads (empty for a file not offered).
    void OfferFiles(const std::string& program, const std::string& data, const std::string& softData,
                    const std::string& programMd5, const std::string& dataMd5, const std::string& softDataMd5,
                    const std::string& result = "1");
    // A new program and new databases (packed), served with their true digests, for the files of Mask.
    void OfferNewFiles(int mask);
    std::unique_ptr<TfrmUpdate> MakeWindow();
    // Shows the window (its activation starts the run) and waits until the program is told to end.
    bool RunToEnd(TfrmUpdate& window, int timeoutMs = 20000);
    std::vector<std::string> BoxTexts() const;
    static std::string Cell(TfrmUpdate& window, int row, int column);
    std::vector<uint32_t> KVProcesses() const;

    std::unique_ptr<TTempMachine> FMachine;
    std::unique_ptr<TLoopbackServer> FServer;
    std::unique_ptr<TScopedVariable> FServerVariable;
    std::vector<TBox> FBoxes;
    std::function<int(const TBox&)> FAnswer;
    std::vector<unsigned> FSleeps;
    std::function<void()> FOnSleep;
    TfrmUpdate* FCurrent = nullptr;
    std::string FNewProgram;
    std::string FNewData;
    std::string FNewSoftData;
};

void TfrmUpdate2Test::init() {
    FMachine = std::make_unique<TTempMachine>();
    platform::SetModuleFileNameForTesting(Program("Update.exe"));
    FMachine->WriteHostFile(Program("Update.exe"), "the updater");
    FMachine->WriteHostFile(Program("KV.exe"), "old program");
    fs::permissions(Program("KV.exe"), fs::perms(0755));
    const timespec times[2] = {{1700000000, 0}, {1700000000, 0}};
    utimensat(AT_FDCWD, Program("KV.exe").c_str(), times, 0);
    TDatabaseWriter database;
    database.DataStamp = 1600000000;
    database.SoftStamp = 1600000100;
    database.WriteFiles(FMachine->ProgramFolder());

    FServer = std::make_unique<TLoopbackServer>();
    FServerVariable =
        std::make_unique<TScopedVariable>("KORVANE_SERVER_URL", FServer->Url("/communicate.php").c_str());
    FBoxes.clear();
    FSleeps.clear();
    FOnSleep = nullptr;
    FAnswer = [](const TBox&) { return platform::IDYES; };
    platform::SetClockForTesting([] { return platform::EncodeDateTime(2026, 12, 10, 12, 0, 0); });
    platform::SetSleepForTesting([this](unsigned milliseconds) {
        FSleeps.push_back(milliseconds);
        if (FOnSleep)
            FOnSleep();
    });
    platform::SetMessageBoxHandler([this](const std::string& text, const std::string& caption,
                                          uint32_t flags) {
        TBox box{text, caption, flags, FCurrent != nullptr ? FCurrent->labState->text().toStdString() : ""};
        FBoxes.push_back(box);
        if ((flags & 0x0F) == platform::MB_YESNO)
            return FAnswer(box);
        return platform::IDOK;
    });
}

void TfrmUpdate2Test::cleanup() {
    for (uint32_t process : KVProcesses())
        platform::TerminateProcess(process);
    FCurrent = nullptr;
    platform::SetMessageBoxHandler(nullptr);
    platform::SetSleepForTesting(nullptr);
    platform::SetClockForTesting(nullptr);
    SetServerReadTimeoutForTesting(0);
    FServerVariable.reset();
    FServer.reset();
    FMachine.reset();
}

std::vector<std::string> TfrmUpdate2Test::UpdateFolderNames() const {
    std::vector<std::string> names;
    if (fs::is_directory(Program("update")))
        for (const auto& entry : fs::directory_iterator(Program("update")))
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void TfrmUpdate2Test::OfferFiles(const std::string& program, const std::string& data,
                                 const std::string& softData, const std::string& programMd5,
                                 const std::string& dataMd5, const std::string& softDataMd5,
                                 const std::string& result) {
    FServer->Answer("/communicate.php", "System=Rudarorovod\r\nCommand=Update\r\nServer=test\r\nResult=" +
                                            result + "\r\n\r\n\r\nProgram=" + program + "\r\nData=" + data +
                                            "\r\nSoft=" + softData + "\r\nProgramMd5=" + programMd5 +
                                            "\r\nDataMd5=" + dataMd5 + "\r\nSoftMd5=" + softDataMd5 + "\r\n");
}

void TfrmUpdate2Test::OfferNewFiles(int mask) {
    FNewProgram = "new program " + std::string(5000, 'p');
    TDatabaseWriter database;
    database.DataStamp = 1700000500;
    database.SoftStamp = 1700000600;
    database.Add("ID1", "Acme Tool", 2).File(1, "{pf}\\Acme\\acme.exe");
    FNewData = database.DataFileContent();
    FNewSoftData = database.SoftFileContent();
    FServer->Answer("/files/p.exe", FNewProgram);
    FServer->Answer("/files/d.dat", Packed(FNewData));
    FServer->Answer("/files/s.dat", Packed(FNewSoftData));
    OfferFiles((mask & 1) != 0 ? FServer->Url("/files/p.exe") : "",
               (mask & 2) != 0 ? FServer->Url("/files/d.dat") : "",
               (mask & 4) != 0 ? FServer->Url("/files/s.dat") : "", Md5Text(FNewProgram), Md5Text(FNewData),
               Md5Text(FNewSoftData));
}

std::unique_ptr<TfrmUpdate> TfrmUpdate2Test::MakeWindow() {
    auto window = std::make_unique<TfrmUpdate>();
    FCurrent = window.get();
    return window;
}

bool TfrmUpdate2Test::RunToEnd(TfrmUpdate& window, int timeoutMs) {
    QSignalSpy ended(&window, &TfrmUpdate::ProgramEndRequested);
    window.show();
    window.activateWindow();
    return QTest::qWaitFor([&] { return ended.count() > 0; }, timeoutMs);
}

std::vector<std::string> TfrmUpdate2Test::BoxTexts() const {
    std::vector<std::string> texts;
    for (const TBox& box : FBoxes)
        texts.push_back(box.Text);
    return texts;
}

std::string TfrmUpdate2Test::Cell(TfrmUpdate& window, int row, int column) {
    QTreeWidgetItem* item = window.lstvDownload->topLevelItem(row);
    return item != nullptr ? item->text(column).toStdString() : "<no row>";
}

std::vector<uint32_t> TfrmUpdate2Test::KVProcesses() const {
    std::vector<uint32_t> found;
    const std::string kv = FMachine ? platform::ToWindowsPath(Program("KV.exe")) : "";
    for (const auto& entry : platform::CreateProcessSnapshot())
        if (!kv.empty() && platform::SameText(entry.ExeFile, kv))
            found.push_back(entry.ProcessId);
    return found;
}

using Strings = std::vector<std::string>;

void TfrmUpdate2Test::rendersTheWindow() {
    auto window = MakeWindow();
    QCOMPARE(window->windowTitle(), QStringLiteral("Update"));
    QCOMPARE(window->size(), QSize(448, 296));
    QCOMPARE(window->minimumSize(), window->maximumSize());
    QVERIFY(window->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    QCOMPARE(window->sbtnUpdate->text(), QStringLiteral("Update"));
    QCOMPARE(window->sbtnCancel->text(), QStringLiteral("Cancel"));
    QCOMPARE(window->sbtnUpdate->geometry(), QRect(258, 11, 81, 25));
    QCOMPARE(window->sbtnCancel->geometry(), QRect(354, 11, 81, 25));
    QCOMPARE(window->labState->geometry(), QRect(16, 20, 225, 13));
    QCOMPARE(window->labState->text(), QString());
    QCOMPARE(window->panButton->height(), 50);
    QCOMPARE(window->panMLeft->width(), 133);
    QCOMPARE(window->lstvDownload->height(), 203);
    QCOMPARE(window->panMBottom->height(), 41);
    QCOMPARE(window->Gauge->geometry(), QRect(8, 8, 297, 24));
    QCOMPARE(window->Gauge->value(), 0);
    QCOMPARE(window->Bevel1->height(), 2);
    QCOMPARE(window->lstvDownload->headerItem()->text(0), QStringLiteral("File Name"));
    QCOMPARE(window->lstvDownload->headerItem()->text(1), QStringLiteral("downloads"));
    QCOMPARE(window->lstvDownload->header()->sectionSize(0), 200);
    QCOMPARE(window->lstvDownload->header()->sectionSize(1), 90);
    QVERIFY(!window->lstvDownload->header()->sectionsClickable());
    QCOMPARE(window->lstvDownload->topLevelItemCount(), 0);
    QCOMPARE(window->TrayIcon().toolTip(), QStringLiteral("Online update"));
    QVERIFY(window->findChild<QLabel*>("imgLeft") != nullptr);
    // The side picture is the JPEG stored with the window: white lettering on the blue.
    const QImage side = window->imgLeft->pixmap().toImage();
    QCOMPARE(side.size(), QSize(133, 244));
    int white = 0;
    int blue = 0;
    for (int y = 0; y < side.height(); ++y)
        for (int x = 0; x < side.width(); ++x) {
            const QColor c = side.pixelColor(x, y);
            white += c.red() > 230 && c.green() > 230 && c.blue() > 230 ? 1 : 0;
            blue += c.blue() > 150 && c.red() < 80 ? 1 : 0;
        }
    QVERIFY(white > 500);
    QVERIFY(blue > 10000);
    QImage picture = window->grab().toImage();
    QCOMPARE(picture.size(), QSize(448, 296));
    // The gauge's bar colour and the list's cream background, as drawn.
    window->Gauge->setValue(60);
    picture = window->grab().toImage();
    QCOMPARE(picture.pixelColor(133 + 8 + 20, 203 + 8 + 12), QColor(0, 130, 203));
    QCOMPARE(picture.pixelColor(133 + 150, 150), QColor(0xFF, 0xFB, 0xF0));
    window->Gauge->setValue(0);
    const QString file = QStringLiteral(KORVANE_RENDER_FOLDER "/frmUpdate2.png");
    QVERIFY(window->grab().save(file));
}

void TfrmUpdate2Test::opensCentredOnItsScreen() {
    fs::remove(Program("KV.exe"));
    auto window = MakeWindow();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    // The whole window, frame included, in the middle of the screen's room for windows; its size and
    // buttons as they were.
    const QRect frame = window->frameGeometry();
    const QRect available = window->screen()->availableGeometry();
    QVERIFY2(frame.size() != window->size(), "the platform gives the window a frame");
    QVERIFY2((frame.center() - available.center()).manhattanLength() <= 2,
             (std::to_string(frame.x()) + "," + std::to_string(frame.y()) + " in " +
              std::to_string(available.width()) + "x" + std::to_string(available.height()))
                 .c_str());
    QCOMPARE(window->size(), QSize(448, 296));
    QVERIFY(window->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
}

void TfrmUpdate2Test::programFileCarriesItsVersionAndIcon() {
    const std::string program = platform::ToWindowsPath(KORVANE_UPDATE_PROGRAM);
    QCOMPARE(platform::ExtractFileName(program), std::string("Update.exe"));
    std::string version;
    GetFileVersion(program, version);
    QCOMPARE(version, std::string(KORVANE_VERSION ".0"));
    platform::TIconImage large;
    platform::TIconImage small;
    platform::TIconImage iconLarge;
    platform::TIconImage iconSmall;
    QCOMPARE(platform::ExtractIconPair(program, 0, large, small), 2);
    QCOMPARE(platform::ExtractIconPair(platform::ToWindowsPath(KORVANE_UPDATE_ICON), 0, iconLarge, iconSmall),
             2);
    QVERIFY(large.Pixels == iconLarge.Pixels);
}

void TfrmUpdate2Test::withoutKVNothingIsAskedOrShown() {
    fs::remove(Program("KV.exe"));
    auto window = MakeWindow();
    QVERIFY(RunToEnd(*window));
    QCOMPARE(FServer->RequestCount(), size_t{0});
    QVERIFY(FBoxes.empty());
    QVERIFY(!window->isVisible());
    QVERIFY(!window->TrayIcon().isVisible());
    QVERIFY(window->sbtnUpdate->isEnabled());
    // The settings file is there all the same, with its default text.
    QVERIFY(ReadHostFile(Program("Settings.ini")).starts_with("[Settings]\r\nView Style=2\r\n"));
}

void TfrmUpdate2Test::requestCarriesTheVersions() {
    FServer->Answer("/communicate.php", "System=Rudarorovod\r\nCommand=Update\r\n\r\nResult=0\r\n");
    {
        auto window = MakeWindow();
        QVERIFY(RunToEnd(*window));
    }
    fs::remove(Program("KV.dat"));
    {
        auto window = MakeWindow();
        QVERIFY(RunToEnd(*window));
    }
    auto requests = FServer->Requests();
    QCOMPARE(requests.size(), size_t{2});
    QCOMPARE(requests[0].Method, std::string("POST"));
    QCOMPARE(requests[0].Target, std::string("/communicate.php"));
    QCOMPARE(requests[0].Body,
             std::string("System=Rudarorovod&Command=Update&ProgramVer=1700000000&DataVer=1600000000"
                         "&SoftDataVer=1600000100"));
    QCOMPARE(requests[0].Header("Content-Type"), std::string("application/x-www-form-urlencoded"));
    QCOMPARE(requests[0].Header("Accept"), std::string("text/html, */*"));
    QCOMPARE(requests[0].Header("User-Agent"), std::string("Mozilla/3.0 (compatible; Indy Library)"));
    // Without KV.dat both database versions are 0, although soft.dat is there.
    QCOMPARE(requests[1].Body,
             std::string("System=Rudarorovod&Command=Update&ProgramVer=1700000000&DataVer=0&SoftDataVer=0"));
}

void TfrmUpdate2Test::repliesWithoutDownloads_data() {
    QTest::addColumn<QString>("reply");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QTest::addColumn<uint>("icon");
    const QString latest = "The current version is the latest version!";
    const QString failure = "Connects to the server failure!";
    const QString head = "System=Rudarorovod\r\nCommand=Update\r\n\r\n";
    const uint info = platform::MB_ICONINFORMATION;
    const uint error = platform::MB_ICONERROR;
    QTest::newRow("nothing new") << head + "Result=0\r\n\r\n\r\nP=http://x/p" << 200 << latest << info;
    QTest::newRow("no address") << head + "Result=1\r\n\r\n\r\n\r\n\r\n\r\n" << 200 << latest << info;
    QTest::newRow("result not a number")
        << head + "Result=new\r\n\r\n\r\nP=http://x/p" << 200 << latest << info;
    QTest::newRow("no result line") << head << 200 << latest << info;
    QTest::newRow("result -3") << head + "Result=-3" << 200 << latest << info;
    QTest::newRow("result -1") << head + "Result=-1" << 200 << failure << error;
    QTest::newRow("result -6") << head + "Result=-6\r\n\r\n\r\nP=http://x/p" << 200 << failure << error;
    QTest::newRow("result -7") << head + "Result=-7" << 200 << failure << error;
    QTest::newRow("another server") << "<html>hello</html>" << 200 << failure << error;
    QTest::newRow("another command") << "System=Rudarorovod\r\nCommand=SubmitSoft\r\n\r\nResult=1" << 200
                                     << failure << error;
    QTest::newRow("empty reply") << "" << 200 << latest << info;
    QTest::newRow("HTTP error") << head + "Result=1\r\n\r\n\r\nP=http://x/p" << 500 << latest << info;
    QTest::newRow("unreachable") << "" << 0 << latest << info;
}

void TfrmUpdate2Test::repliesWithoutDownloads() {
    QFETCH(QString, reply);
    QFETCH(int, status);
    QFETCH(QString, message);
    QFETCH(uint, icon);
    // A loopback port of the test's own that refuses every connection.
    TRefusingPort refusing;
    std::unique_ptr<TScopedVariable> unreachable;
    if (status == 0)
        unreachable =
            std::make_unique<TScopedVariable>("KORVANE_SERVER_URL", refusing.Url("/communicate.php").c_str());
    else if (status != 200)
        FServer->Fail("/communicate.php", status, "Internal Server Error");
    else
        FServer->Answer("/communicate.php", reply.toStdString());
    auto window = MakeWindow();
    QVERIFY(RunToEnd(*window));
    QCOMPARE(BoxTexts(), Strings{message.toStdString()});
    QCOMPARE(FBoxes[0].Caption, std::string("Update"));
    QCOMPARE(FBoxes[0].Flags, platform::MB_OK | icon);
    QCOMPARE(window->lstvDownload->topLevelItemCount(), 0);
    QCOMPARE(FServer->RequestCount(), static_cast<size_t>(status == 0 ? 0 : 1));
    QVERIFY(!fs::exists(Program("update")));
}

void TfrmUpdate2Test::checkUpdateEmptiesItsFieldsEachCall() {
    auto window = MakeWindow();
    OfferFiles("http://h/p", "http://h/d", "", "pm", "dm", "sm");
    QCOMPARE(window->CheckUpdate("1", "2", "3"), 3);
    QCOMPARE(window->ProgramUrl(), std::string("http://h/p"));
    QCOMPARE(window->DataUrl(), std::string("http://h/d"));
    QCOMPARE(window->SoftDataUrl(), std::string());
    QCOMPARE(window->ProgramMd5(), std::string("pm"));
    QCOMPARE(window->DataMd5(), std::string("dm"));
    QCOMPARE(window->SoftDataMd5(), std::string("sm"));
    // A failed request: 0, and nothing of the last reply is left.
    FServer->Fail("/communicate.php", 503, "Service Unavailable");
    QCOMPARE(window->CheckUpdate("1", "2", "3"), 0);
    for (const std::string* field : {&window->ProgramUrl(), &window->DataUrl(), &window->SoftDataUrl(),
                                     &window->ProgramMd5(), &window->DataMd5(), &window->SoftDataMd5()})
        QCOMPARE(*field, std::string());
}

void TfrmUpdate2Test::installsEveryFileAndCleansUp() {
    OfferNewFiles(7);
    auto window = MakeWindow();
    TPaintedTexts states(window->labState);
    bool rendered = false;
    FAnswer = [&](const TBox& box) {
        if (box.Text == "To update you identified?")
            rendered = window->grab().save(QStringLiteral(KORVANE_RENDER_FOLDER "/frmUpdate2-downloads.png"));
        return platform::IDYES;
    };
    QVERIFY(RunToEnd(*window));
    QVERIFY(rendered);
    QCOMPARE(BoxTexts(), (Strings{"To update you identified?", "Updates completed!"}));
    QCOMPARE(FBoxes[0].Flags, platform::MB_YESNO | platform::MB_ICONQUESTION);
    QCOMPARE(FBoxes[1].Flags, platform::MB_OK | platform::MB_ICONINFORMATION);
    QCOMPARE(FBoxes[1].State, std::string("Updates completed."));
    const Strings shown{"Updating the master data, please wait ...",
                        "Updating software-related data, please wait ...",
                        "Updating procedures, please wait ...", "Updates completed."};
    Strings painted;
    std::copy_if(states.Texts.begin(), states.Texts.end(), std::back_inserter(painted),
                 [](const std::string& text) { return !text.empty(); });
    QCOMPARE(painted, shown);
    QCOMPARE(window->lstvDownload->topLevelItemCount(), 3);
    QCOMPARE(Cell(*window, 0, 0), "Rudarorovod_" + Today + ".exe");
    QCOMPARE(Cell(*window, 1, 0), "KV_" + Today + ".dat");
    QCOMPARE(Cell(*window, 2, 0), "Soft_" + Today + ".dat");
    QCOMPARE(Cell(*window, 0, 1), std::to_string(FNewProgram.size() / 1024) + " KB");
    QCOMPARE(Cell(*window, 1, 1), std::to_string(Packed(FNewData).size() / 1024) + " KB");
    QCOMPARE(Cell(*window, 2, 1), std::to_string(Packed(FNewSoftData).size() / 1024) + " KB");
    QCOMPARE(ReadHostFile(Program("KV.exe")), FNewProgram);
    QCOMPARE(ReadHostFile(Program("KV.dat")), FNewData);
    QCOMPARE(ReadHostFile(Program("soft.dat")), FNewSoftData);
    // The program stays runnable; the downloads and work files are gone, the folder stays.
    QCOMPARE(fs::status(Program("KV.exe")).permissions(), fs::perms(0755));
    QCOMPARE(UpdateFolderNames(), Strings{});
    QVERIFY(fs::is_directory(Program("update")));
    QCOMPARE(FServer->RequestCount(), size_t{4});
    QCOMPARE(FSleeps, std::vector<unsigned>{});
    QVERIFY(window->sbtnUpdate->isEnabled());
    QCOMPARE(window->labState->text(), QString());
}

void TfrmUpdate2Test::digestMismatchReplacesNothing() {
    OfferNewFiles(7);
    // The digests are compared as texts, case and all.
    OfferFiles(FServer->Url("/files/p.exe"), FServer->Url("/files/d.dat"), FServer->Url("/files/s.dat"),
               Md5Text("another program"), QString::fromStdString(Md5Text(FNewData)).toUpper().toStdString(),
               "");
    auto window = MakeWindow();
    QVERIFY(RunToEnd(*window));
    QCOMPARE(BoxTexts(), (Strings{"To update you identified?", "Updates completed!"}));
    QCOMPARE(ReadHostFile(Program("KV.exe")), std::string("old program"));
    QVERIFY(ReadHostFile(Program("KV.dat")) != FNewData);
    QVERIFY(ReadHostFile(Program("soft.dat")) != FNewSoftData);
    QCOMPARE(UpdateFolderNames(), (Strings{"KV_" + Today + ".dat", "Rudarorovod_" + Today + ".exe",
                                           "Soft_" + Today + ".dat", "vData.dat", "vSoft.dat"}));
    QCOMPARE(ReadHostFile(UpdateFolder("vData.dat")), FNewData);
}

void TfrmUpdate2Test::deleteUpdateKeepsFilesUnlessOne_data() {
    QTest::addColumn<QString>("value");
    QTest::newRow("0") << "0";
    QTest::newRow("2") << "2";
    QTest::newRow("not a number") << "yes";
}

void TfrmUpdate2Test::deleteUpdateKeepsFilesUnlessOne() {
    QFETCH(QString, value);
    FMachine->WriteHostFile(Program("Settings.ini"),
                            "[Settings]\r\nDelete Update=" + value.toStdString() + "\r\n");
    OfferNewFiles(7);
    auto window = MakeWindow();
    QVERIFY(RunToEnd(*window));
    QCOMPARE(ReadHostFile(Program("KV.exe")), FNewProgram);
    QCOMPARE(ReadHostFile(Program("KV.dat")), FNewData);
    QCOMPARE(ReadHostFile(Program("soft.dat")), FNewSoftData);
    Strings expected{"KV_" + Today + ".dat", "Rudarorovod_" + Today + ".exe", "Soft_" + Today + ".dat",
                     "vData.dat", "vSoft.dat"};
    // A value that is no integer reads as the default, 1.
    if (value == "yes")
        expected.clear();
    QCOMPARE(UpdateFolderNames(), expected);
}

void TfrmUpdate2Test::answerNoLeavesTheDownloads() {
    OfferNewFiles(7);
    FAnswer = [](const TBox&) { return platform::IDNO; };
    auto window = MakeWindow();
    QVERIFY(RunToEnd(*window));
    QCOMPARE(BoxTexts(), Strings{"To update you identified?"});
    QCOMPARE(ReadHostFile(Program("KV.exe")), std::string("old program"));
    QVERIFY(ReadHostFile(Program("KV.dat")) != FNewData);
    QCOMPARE(UpdateFolderNames(),
             (Strings{"KV_" + Today + ".dat", "Rudarorovod_" + Today + ".exe", "Soft_" + Today + ".dat"}));
    QCOMPARE(ReadHostFile(UpdateFolder("Rudarorovod_" + Today + ".exe")), FNewProgram);
}

void TfrmUpdate2Test::updateFolderThatCannotBeCreated() {
    OfferNewFiles(7);
    FMachine->WriteHostFile(Program("update"), "a file where the folder should be");
    auto window = MakeWindow();
    QVERIFY(RunToEnd(*window));
    QCOMPARE(BoxTexts(), Strings(3, "Can not create directory!"));
    QCOMPARE(FBoxes[0].Caption, std::string("Error"));
    QCOMPARE(FBoxes[0].Flags, platform::MB_OK);
    for (int row = 0; row < 3; ++row)
        QCOMPARE(Cell(*window, row, 1), std::string("Fail"));
    QCOMPARE(FServer->RequestCount(), size_t{1});
    QCOMPARE(ReadHostFile(Program("KV.exe")), std::string("old program"));
}

void TfrmUpdate2Test::failedDownloadShowsTheErrorOnceAndStays() {
    OfferNewFiles(7);
    OfferFiles(FServer->Url("/files/p.exe"), FServer->Url("/files/missing.dat"), FServer->Url("/files/s.dat"),
               Md5Text(FNewProgram), Md5Text(FNewData), Md5Text(FNewSoftData));
    FMachine->WriteHostFile(UpdateFolder("KV_" + Today + ".dat"), "an older download");
    auto window = MakeWindow();
    QSignalSpy ended(window.get(), &TfrmUpdate::ProgramEndRequested);
    window->show();
    window->activateWindow();
    QTRY_COMPARE_WITH_TIMEOUT(FBoxes.size(), size_t{1}, 20000);
    QCOMPARE(FBoxes[0].Text, std::string("HTTP/1.1 404 Not Found"));
    QCOMPARE(FBoxes[0].Caption, std::string("Update"));
    QCOMPARE(FBoxes[0].Flags, platform::MB_OK | platform::MB_ICONERROR);
    // The run stopped there: no later row, nothing installed, the window waits in its running state.
    QCOMPARE(window->lstvDownload->topLevelItemCount(), 2);
    QCOMPARE(Cell(*window, 1, 1), std::string("downloading"));
    QCOMPARE(ReadHostFile(UpdateFolder("KV_" + Today + ".dat")), std::string("an older download"));
    QCOMPARE(UpdateFolderNames(), (Strings{"KV_" + Today + ".dat", "Rudarorovod_" + Today + ".exe"}));
    QCOMPARE(ReadHostFile(Program("KV.exe")), std::string("old program"));
    QTest::qWait(50);
    QCOMPARE(FBoxes.size(), size_t{1});
    QVERIFY(window->isVisible());
    QVERIFY(!window->sbtnUpdate->isEnabled());
    QCOMPARE(ended.count(), 0);

    FAnswer = [](const TBox&) { return platform::IDNO; };
    window->close();
    QCOMPARE(FBoxes.back().Text, std::string("File not download Completed, Aborted?"));
    QCOMPARE(FBoxes.back().Caption, std::string("Confirm"));
    QCOMPARE(FBoxes.back().Flags, platform::MB_YESNO | platform::MB_ICONQUESTION);
    QVERIFY(window->isVisible());
    QCOMPARE(ended.count(), 0);
    FAnswer = [](const TBox&) { return platform::IDYES; };
    window->close();
    QCOMPARE(FBoxes.size(), size_t{3});
    QVERIFY(!window->isVisible());
    QVERIFY(!window->TrayIcon().isVisible());
    QCOMPARE(ended.count(), 1);
}

void TfrmUpdate2Test::serverTextInABoxIsShownAsPlainText() {
    // The error status's reason is the server's text; the updater's own boxes show it as it came.
    const std::string hostile = "<img src=\"x\">Foo <a href=\"x\">y</a>";
    FServer->Fail("/files/p.exe", 404, hostile);
    OfferFiles(FServer->Url("/files/p.exe"), "", "", Md5Text("x"), "", "");
    platform::SetMessageBoxHandler(ShowUpdaterMessageBox);
    std::vector<std::pair<Qt::TextFormat, std::string>> shown;
    QTimer answerer;
    connect(&answerer, &QTimer::timeout, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr)
            return;
        const auto* label = box->findChild<QLabel*>("qt_msgbox_label");
        QVERIFY(label != nullptr);
        shown.emplace_back(label->textFormat(), label->text().toStdString());
        box->button(QMessageBox::Ok)->click();
    });
    answerer.start(10);
    auto window = MakeWindow();
    window->show();
    window->activateWindow();
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), size_t{1}, 20000);
    QCOMPARE(shown[0].second, "HTTP/1.1 404 " + hostile);
    QCOMPARE(shown[0].first, Qt::PlainText);
    QCOMPARE(window->labState->textFormat(), Qt::PlainText);
}

void TfrmUpdate2Test::serverThatCutsOrStallsATransfer_data() {
    QTest::addColumn<bool>("stall");
    QTest::addColumn<QString>("error");
    QTest::newRow("cut short") << false << "";
    QTest::newRow("stalls") << true << "Read timed out.";
}

void TfrmUpdate2Test::serverThatCutsOrStallsATransfer() {
    QFETCH(bool, stall);
    QFETCH(QString, error);
    OfferFiles(FServer->Url("/files/p.exe"), "", "", Md5Text("x"), "", "");
    if (stall)
        FServer->StaySilent("/files/p.exe");
    else
        FServer->CutShort("/files/p.exe", std::string(30000, 'p'), 5000);
    FMachine->WriteHostFile(UpdateFolder("Rudarorovod_" + Today + ".exe"), "an older download");
    auto window = MakeWindow();
    SetServerReadTimeoutForTesting(400);
    window->show();
    window->activateWindow();
    QTRY_COMPARE_WITH_TIMEOUT(FBoxes.size(), size_t{1}, 20000);
    QCOMPARE(FBoxes[0].Flags, platform::MB_OK | platform::MB_ICONERROR);
    if (!error.isEmpty())
        QCOMPARE(FBoxes[0].Text, error.toStdString());
    QVERIFY(!FBoxes[0].Text.empty());
    QCOMPARE(UpdateFolderNames(), Strings{"Rudarorovod_" + Today + ".exe"});
    QCOMPARE(ReadHostFile(UpdateFolder("Rudarorovod_" + Today + ".exe")), std::string("an older download"));
    QVERIFY(!window->sbtnUpdate->isEnabled());
}

void TfrmUpdate2Test::downloadAddressesOtherThanHttpAreRefused() {
    FMachine->WriteHostFile(FMachine->Root() / "secret.txt", "not to be fetched");
    const std::string fileAddress = "file://" + (FMachine->Root() / "secret.txt").string();
    FServer->Redirect("/files/redirected.exe", fileAddress);
    for (const std::string& address : {fileAddress, FServer->Url("/files/redirected.exe")}) {
        FBoxes.clear();
        OfferFiles(address, "", "", Md5Text("not to be fetched"), "", "");
        auto window = MakeWindow();
        window->show();
        window->activateWindow();
        QTRY_COMPARE_WITH_TIMEOUT(FBoxes.size(), size_t{1}, 20000);
        QCOMPARE(FBoxes[0].Flags, platform::MB_OK | platform::MB_ICONERROR);
        QCOMPARE(UpdateFolderNames(), Strings{});
        window->sbtnUpdate->setEnabled(true);
        window->close();
    }
}

void TfrmUpdate2Test::progressGoesToTheRowOfTheDownload() {
    OfferNewFiles(5);
    FServer->Trickle("/files/p.exe", FNewProgram, 1024, 5ms);
    FServer->Trickle("/files/s.dat", Packed(FNewSoftData), 256, 5ms);
    auto window = MakeWindow();
    std::vector<std::pair<int, std::string>> changes;
    std::vector<int> gaugeMaxima;
    connect(window->lstvDownload->model(), &QAbstractItemModel::dataChanged, this,
            [&](const QModelIndex& from, const QModelIndex&) {
                if (from.column() == 1)
                    changes.emplace_back(from.row(), from.data().toString().toStdString());
            });
    connect(window->Gauge, &QProgressBar::valueChanged, this,
            [&](int) { gaugeMaxima.push_back(window->Gauge->maximum()); });
    FAnswer = [](const TBox&) { return platform::IDNO; };
    QVERIFY(RunToEnd(*window));
    QCOMPARE(Cell(*window, 0, 0), "Rudarorovod_" + Today + ".exe");
    QCOMPARE(Cell(*window, 1, 0), "Soft_" + Today + ".dat");
    // The program's row counts first, then the software data's row; no cell changes but those.
    size_t firstOfRow1 = 0;
    while (firstOfRow1 < changes.size() && changes[firstOfRow1].first == 0)
        ++firstOfRow1;
    QVERIFY(firstOfRow1 >= 2);
    QVERIFY(firstOfRow1 < changes.size());
    for (size_t i = firstOfRow1; i < changes.size(); ++i)
        QCOMPARE(changes[i].first, 1);
    QCOMPARE(changes.back().second, std::to_string(Packed(FNewSoftData).size() / 1024) + " KB");
    // The gauge moved during the request too (its reply's total), and ends on the last download's total.
    QVERIFY(!gaugeMaxima.empty());
    QCOMPARE(window->Gauge->maximum(), static_cast<int>(Packed(FNewSoftData).size()));
}

void TfrmUpdate2Test::progressCellCountsWholeKilobytes_data() {
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("cell");
    QTest::newRow("1023") << 1023 << "0 KB";
    QTest::newRow("1024") << 1024 << "1 KB";
    QTest::newRow("2047") << 2047 << "1 KB";
    QTest::newRow("2048") << 2048 << "2 KB";
}

void TfrmUpdate2Test::progressCellCountsWholeKilobytes() {
    QFETCH(int, size);
    QFETCH(QString, cell);
    FServer->Answer("/files/p.exe", std::string(static_cast<size_t>(size), 'p'));
    OfferFiles(FServer->Url("/files/p.exe"), "", "", Md5Text("x"), "", "");
    FAnswer = [](const TBox&) { return platform::IDNO; };
    auto window = MakeWindow();
    QVERIFY(RunToEnd(*window));
    QCOMPARE(Cell(*window, 0, 1), cell.toStdString());
    QCOMPARE(window->Gauge->value(), size);
}

void TfrmUpdate2Test::progressIsDrawnAFewTimesASecond() {
    // Four megabytes in one piece reach the window in hundreds of blocks (libcurl hands over at most 16 KiB
    // at a time).
    const std::string program(4 * 1024 * 1024, 'p');
    FServer->Answer("/files/p.exe", program);
    OfferFiles(FServer->Url("/files/p.exe"), "", "", Md5Text("x"), "", "");
    FAnswer = [](const TBox&) { return platform::IDNO; };
    auto window = MakeWindow();
    TPaintCount gaugePaints(window->Gauge);
    TPaintCount listPaints(window->lstvDownload->viewport());
    QElapsedTimer elapsed;
    elapsed.start();
    QVERIFY(RunToEnd(*window));
    // At most about twenty drawings a second of each, besides a few for the window's first showing, the row
    // and each transfer's start and end (the request's two sides and the download); the last count exactly.
    const qint64 bound = elapsed.elapsed() / 50 + 20;
    QVERIFY2(gaugePaints.Count <= bound, std::to_string(gaugePaints.Count).c_str());
    QVERIFY2(listPaints.Count <= bound, std::to_string(listPaints.Count).c_str());
    QCOMPARE(Cell(*window, 0, 1), std::string("4096 KB"));
    QCOMPARE(window->Gauge->value(), static_cast<int>(program.size()));
    QCOMPARE(window->Gauge->maximum(), static_cast<int>(program.size()));
}

void TfrmUpdate2Test::abortDuringADownload() {
    OfferNewFiles(7);
    FServer->Trickle("/files/p.exe", std::string(4 * 1024 * 1024, 'p'), 64 * 1024, 20ms);
    auto window = MakeWindow();
    QTimer closer;
    connect(&closer, &QTimer::timeout, this, [&] {
        if (Cell(*window, 0, 1).ends_with(" KB")) {
            closer.stop();
            window->close();
        }
    });
    closer.start(10);
    QVERIFY(RunToEnd(*window));
    QCOMPARE(BoxTexts(), Strings{"File not download Completed, Aborted?"});
    QVERIFY(!window->isVisible());
    QVERIFY(!window->TrayIcon().isVisible());
    // The silent abort left the run: no message, no further download, nothing saved or replaced.
    QTest::qWait(50);
    QCOMPARE(FBoxes.size(), size_t{1});
    QCOMPARE(window->lstvDownload->topLevelItemCount(), 1);
    QCOMPARE(UpdateFolderNames(), Strings{});
    QCOMPARE(ReadHostFile(Program("KV.exe")), std::string("old program"));
    QCOMPARE(FServer->RequestCount(), size_t{2});
}

void TfrmUpdate2Test::closeAnsweredNoLetsTheDownloadGoOn() {
    OfferNewFiles(7);
    FServer->Trickle("/files/p.exe", FNewProgram, 512, 10ms);
    auto window = MakeWindow();
    QTimer closer;
    connect(&closer, &QTimer::timeout, this, [&] {
        if (Cell(*window, 0, 1).ends_with(" KB")) {
            closer.stop();
            // Neither the close nor a second activation disturbs the run.
            window->FormActivate();
            window->close();
        }
    });
    closer.start(10);
    FAnswer = [](const TBox& box) {
        return box.Text == "File not download Completed, Aborted?" ? platform::IDNO : platform::IDYES;
    };
    QVERIFY(RunToEnd(*window));
    QCOMPARE(BoxTexts(), (Strings{"File not download Completed, Aborted?", "To update you identified?",
                                  "Updates completed!"}));
    QCOMPARE(ReadHostFile(Program("KV.exe")), FNewProgram);
    QCOMPARE(ReadHostFile(Program("KV.dat")), FNewData);
    QCOMPARE(FServer->RequestCount(), size_t{4});
}

void TfrmUpdate2Test::unpackErrorLeavesTheRun() {
    FServer->Answer("/files/d.dat", "this is not packed");
    OfferFiles("", FServer->Url("/files/d.dat"), "", "", Md5Text("x"), "");
    const std::string oldData = ReadHostFile(Program("KV.dat"));
    auto window = MakeWindow();
    window->show();
    window->activateWindow();
    QTRY_COMPARE_WITH_TIMEOUT(FBoxes.size(), size_t{2}, 20000);
    QCOMPARE(FBoxes[1].Flags, platform::MB_OK | platform::MB_ICONERROR);
    QVERIFY(FBoxes[1].Text.find("KV_" + Today + ".dat") != std::string::npos);
    QCOMPARE(window->labState->text(), QStringLiteral("Updating the master data, please wait ..."));
    QCOMPARE(ReadHostFile(Program("KV.dat")), oldData);
    QVERIFY(!window->sbtnUpdate->isEnabled());
    // KV has not been stopped yet.
    QCOMPARE(FSleeps, std::vector<unsigned>{});
}

void TfrmUpdate2Test::lockedTargetsAreReportedAndTheirDownloadsKept() {
    OfferNewFiles(7);
    const std::string oldData = ReadHostFile(Program("KV.dat"));
    QVERIFY(FMachine->SetImmutable(Program("KV.dat"), true));
    fs::permissions(Program("soft.dat"), fs::perms(0444));
    auto window = MakeWindow();
    const bool ran = RunToEnd(*window);
    FMachine->SetImmutable(Program("KV.dat"), false);
    QVERIFY(ran);
    // The run names the files it could not replace instead of reporting completion, and keeps what it
    // fetched for them; the program file, which could be replaced, is cleaned up as usual.
    QCOMPARE(BoxTexts(), (Strings{"To update you identified?", "Can not update KV.dat, soft.dat!"}));
    QCOMPARE(ReadHostFile(Program("KV.dat")), oldData);
    QVERIFY(ReadHostFile(Program("soft.dat")) != FNewSoftData);
    QCOMPARE(ReadHostFile(Program("KV.exe")), FNewProgram);
    QCOMPARE(UpdateFolderNames(),
             (Strings{"KV_20261210.dat", "Soft_20261210.dat", "vData.dat", "vSoft.dat"}));
    // No temporary copy is left beside the targets.
    for (const auto& entry : fs::directory_iterator(FMachine->ProgramFolder()))
        QVERIFY2(entry.path().filename().string()[0] != '.', entry.path().c_str());
}

void TfrmUpdate2Test::readOnlyProgramFolder() {
    OfferNewFiles(7);
    QVERIFY(FMachine->SetImmutable(FMachine->ProgramFolder(), true));
    auto window = MakeWindow();
    const bool ran = RunToEnd(*window);
    FMachine->SetImmutable(FMachine->ProgramFolder(), false);
    QVERIFY(ran);
    // The settings file cannot be written: said once; then the update folder cannot be made for any download.
    QCOMPARE(FBoxes.size(), size_t{4});
    QCOMPARE(FBoxes[0].Caption, std::string("Update"));
    QCOMPARE(FBoxes[0].Flags, platform::MB_OK | platform::MB_ICONERROR);
    QVERIFY(FBoxes[0].Text.find("Settings.ini") != std::string::npos);
    QCOMPARE(BoxTexts()[3], std::string("Can not create directory!"));
    QVERIFY(!fs::exists(Program("Settings.ini")));
    QCOMPARE(ReadHostFile(Program("KV.exe")), std::string("old program"));
}

void TfrmUpdate2Test::trayIconRestoresAMinimisedWindow() {
    fs::remove(Program("KV.exe"));
    auto window = MakeWindow();
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    window->showMinimized();
    QVERIFY(window->isMinimized());
    window->WMTrayIcon(QSystemTrayIcon::Trigger);
    window->WMTrayIcon(QSystemTrayIcon::MiddleClick);
    QVERIFY(window->isMinimized());
    window->WMTrayIcon(QSystemTrayIcon::DoubleClick);
    QVERIFY(!window->isMinimized());
    window->showMinimized();
    window->WMTrayIcon(QSystemTrayIcon::Context);
    QVERIFY(!window->isMinimized());
}

void TfrmUpdate2Test::realKVIsEndedAndStartedAgain() {
    fs::copy_file(KORVANE_KV_PROGRAM, Program("KV.exe"), fs::copy_options::overwrite_existing);
    TChildProcess kv;
    QVERIFY(kv.Start(Program("KV.exe"), {"KV.exe"}));
    QTRY_COMPARE_WITH_TIMEOUT(KVProcesses(), std::vector<uint32_t>{kv.ProcessId()}, 10000);
    OfferNewFiles(3);
    // The new program is the same KV with bytes of its own at the end.
    FNewProgram = ReadHostFile(KORVANE_KV_PROGRAM) + "new build";
    FServer->Answer("/files/p.exe", FNewProgram);
    OfferFiles(FServer->Url("/files/p.exe"), FServer->Url("/files/d.dat"), "", Md5Text(FNewProgram),
               Md5Text(FNewData), "");
    const std::string oldProgram = ReadHostFile(Program("KV.exe"));
    bool dataNewAtFirstPause = false;
    bool programOldAtFirstPause = false;
    FOnSleep = [&] {
        if (FSleeps.size() == 1) {
            dataNewAtFirstPause = ReadHostFile(Program("KV.dat")) == FNewData;
            programOldAtFirstPause = ReadHostFile(Program("KV.exe")) == oldProgram;
        }
    };
    auto window = MakeWindow();
    QVERIFY(RunToEnd(*window));
    QCOMPARE(BoxTexts(), (Strings{"To update you identified?", "Updates completed!"}));
    // "KV.dat" was replaced while KV ran, KV was ended (a pause after it and two seconds after all), and only
    // then was "KV.exe" replaced.
    QCOMPARE(FSleeps, (std::vector<unsigned>{1000, 2000}));
    QVERIFY(dataNewAtFirstPause);
    QVERIFY(programOldAtFirstPause);
    QVERIFY(kv.ReapKilled());
    QCOMPARE(ReadHostFile(Program("KV.exe")), FNewProgram);
    QCOMPARE(fs::status(Program("KV.exe")).permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
    // The new KV runs: a process of the program folder's KV.exe, not the one that was ended.
    QTRY_COMPARE_WITH_TIMEOUT(KVProcesses().size(), size_t{1}, 10000);
    QVERIFY(KVProcesses()[0] != kv.ProcessId());
}

void TfrmUpdate2Test::kvNotRunningIsNotStarted() {
    fs::copy_file(KORVANE_KV_PROGRAM, Program("KV.exe"), fs::copy_options::overwrite_existing);
    OfferNewFiles(3);
    FNewProgram = ReadHostFile(KORVANE_KV_PROGRAM) + "new build";
    FServer->Answer("/files/p.exe", FNewProgram);
    OfferFiles(FServer->Url("/files/p.exe"), FServer->Url("/files/d.dat"), "", Md5Text(FNewProgram),
               Md5Text(FNewData), "");
    auto window = MakeWindow();
    QVERIFY(RunToEnd(*window));
    QCOMPARE(BoxTexts(), (Strings{"To update you identified?", "Updates completed!"}));
    QCOMPARE(ReadHostFile(Program("KV.dat")), FNewData);
    QCOMPARE(ReadHostFile(Program("KV.exe")), FNewProgram);
    QCOMPARE(FSleeps, std::vector<unsigned>{});
    // Nothing starts in the next moments either.
    QTest::qWait(300);
    QCOMPARE(KVProcesses().size(), size_t{0});
}

void TfrmUpdate2Test::serverWhoseReplyNeverEnds() {
    // An update request whose reply never ends goes the road of a request cut short.
    const std::string reply =
        "System=Rudarorovod\r\nCommand=Update\r\n\r\nResult=1\r\n\r\n\r\nP=" + FServer->Url("/files/p.exe") +
        "\r\n";
    std::vector<TBox> boxes;
    for (bool endless : {false, true}) {
        if (endless)
            FServer->NeverEnd("/communicate.php", reply);
        else
            FServer->CutShort("/communicate.php", reply, 100);
        FBoxes.clear();
        auto window = MakeWindow();
        QVERIFY(RunToEnd(*window));
        QCOMPARE(BoxTexts(), Strings{"The current version is the latest version!"});
        boxes.push_back(FBoxes[0]);
        QCOMPARE(window->lstvDownload->topLevelItemCount(), 0);
    }
    QCOMPARE(boxes[1].Flags, boxes[0].Flags);
    QCOMPARE(FServer->RequestCount(), size_t{2});

    // A download that never ends stops at its bound as a cut one stops: the error is shown and an older
    // download of the same name stays as it was, with no part of the new one beside it.
    struct TLimit {
        TLimit() { platform::SetDownloadLimitForTesting(100000); }
        ~TLimit() { platform::SetDownloadLimitForTesting(0); }
    } limit;
    FBoxes.clear();
    OfferFiles(FServer->Url("/files/p.exe"), "", "", Md5Text("x"), "", "");
    FServer->NeverEnd("/files/p.exe", std::string(4096, 'p'));
    FMachine->WriteHostFile(UpdateFolder("Rudarorovod_" + Today + ".exe"), "an older download");
    auto window = MakeWindow();
    window->show();
    window->activateWindow();
    QTRY_COMPARE_WITH_TIMEOUT(FBoxes.size(), size_t{1}, 20000);
    QCOMPARE(FBoxes[0].Flags, platform::MB_OK | platform::MB_ICONERROR);
    QCOMPARE(FBoxes[0].Text, std::string("The server's reply is longer than 100000 bytes."));
    QCOMPARE(UpdateFolderNames(), Strings{"Rudarorovod_" + Today + ".exe"});
    QCOMPARE(ReadHostFile(UpdateFolder("Rudarorovod_" + Today + ".exe")), std::string("an older download"));
    QCOMPARE(ReadHostFile(Program("KV.exe")), std::string("old program"));
}

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    Q_INIT_RESOURCE(Update);
    application.setWindowIcon(QIcon(QStringLiteral(":/update/update.ico")));
    TfrmUpdate2Test test;
    return QTest::qExec(&test, argc, argv);
}

#include "frmUpdate2Test.moc"
