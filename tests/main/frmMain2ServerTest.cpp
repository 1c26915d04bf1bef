#include "common/publicFun.h"
#include "common/serverProtocol.h"
#include "main/dm2.h"
#include "main/frmMain2.h"
#include "platform/dateTime.h"
#include "platform/iniFile.h"
#include "platform/messageBox.h"
#include "platform/shellExecute.h"
#include "support/loopbackServer.h"
#include "support/scopedVariable.h"
#include "support/tempMachine.h"
#include "tools/databaseWriter.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <QtTest>
#include <QUrl>
#include <sstream>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// The last-write time given to KV's program file, and the database stamps.
constexpr long long ProgramWritten = 1700000000;
constexpr int32_t DataStamp = 1234567890;
constexpr int32_t SoftStamp = 1234500000;
const char* const FixedNow = "2026-03-04 05:06:07";
const char* const UpdateReplyHead = "System=Rudarorovod\r\nCommand=Update\r\n\r\n";
const char* const SubmitReplyHead = "System=Rudarorovod\r\nCommand=SubmitSoft\r\n\r\n";
constexpr int CheckEndsWithin = 20000;

struct TShownMessage {
    std::string Text;
    std::string Caption;
    uint32_t Flags = 0;
};

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

} // namespace

// KV's update check, Online Upgrade button and software submission, driven through the real window
// offscreen against a loopback server in the place of the update server.
class TfrmMainServerTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void withAutoUpdateOffNoRequestLeaves();
    void theTimerSendsOneUpdateRequestAndStops();
    void onlyAnUpdateWithTheUpdaterPresentRecordsTheTimeAndStartsIt();
    void errorsInsideTheCheckEndItSilently();
    void theWindowStaysResponsiveWhileTheCheckRuns();
    void onlineUpgradeStartsTheUpdaterWithoutARequest();
    void onlineUpgradeWithoutTheUpdaterPointsToTheHomeSite();
    void onlineUpgradeStopsWhenTheSettingsCannotBeWritten();
    void aSubmissionNeedsANameThatIsNotBlank();
    void aSubmissionSendsTheTrimmedFieldsAndEmptiesThemOnSuccess();
    void aFailedSubmissionKeepsTheFields();

private:
    void CreateWindow(int autoUpdate);
    // Runs the timer's handler and waits until the check has ended.
    void RunCheck();
    fs::path SettingsPath() const { return FMachine->ProgramFolder() / "Settings.ini"; }
    std::string UpdaterWindowsPath() const { return FMachine->ProgramFolderWindows() + "Update.exe"; }
    void PutUpdater() const { FMachine->WriteHostFile(FMachine->ProgramFolder() / "Update.exe", "MZ"); }
    void AnswerScript(const std::string& reply) { FServer->Answer("/communicate.php", reply); }
    void FillSubmitPage();
    std::vector<TShownMessage> Messages();
    std::vector<platform::TShellExecuteCall> Starts();

    std::unique_ptr<TTempMachine> FMachine;
    std::unique_ptr<TLoopbackServer> FServer;
    std::unique_ptr<TScopedVariable> FServerAddress;
    std::unique_ptr<TfrmMain> FForm;
    std::unique_ptr<Tdm> FData;
    std::mutex FRecordLock;
    std::vector<TShownMessage> FMessages;
    std::vector<platform::TShellExecuteCall> FStarts;
    // What a message box sees of the submit page when it is shown.
    std::vector<QString> FNameWhenShown;
};

void TfrmMainServerTest::init() {
    FMachine = std::make_unique<TTempMachine>();
    FServer = std::make_unique<TLoopbackServer>();
    FServerAddress =
        std::make_unique<TScopedVariable>(ServerUrlVariable, FServer->Url("/communicate.php").c_str());
    TDatabaseWriter writer;
    writer.DataStamp = DataStamp;
    writer.SoftStamp = SoftStamp;
    writer.Add("FOO", "Foo Tool", 5);
    writer.WriteFiles(FMachine->ProgramFolder());
    FMachine->WriteHostFile(FMachine->ProgramFile(), "KV");
    fs::last_write_time(FMachine->ProgramFile(), fs::file_time_type::clock::from_sys(std::chrono::sys_seconds{
                                                     std::chrono::seconds{ProgramWritten}}));
    platform::SetClockForTesting([] { return platform::EncodeDateTime(2026, 3, 4, 5, 6, 7); });
    platform::SetMessageBoxHandler(
        [this](const std::string& text, const std::string& caption, uint32_t flags) {
            std::lock_guard lock(FRecordLock);
            FMessages.push_back({text, caption, flags});
            if (FForm)
                FNameWhenShown.push_back(FForm->edtSoftName->text());
            return platform::IDOK;
        });
    platform::SetShellExecuteHandler([this](const platform::TShellExecuteCall& call) -> intptr_t {
        std::lock_guard lock(FRecordLock);
        FStarts.push_back(call);
        return 42;
    });
}

void TfrmMainServerTest::cleanup() {
    const bool checksEnded = WaitForUpdateChecksForTesting(CheckEndsWithin);
    FData.reset();
    FForm.reset();
    platform::SetShellExecuteHandler(nullptr);
    platform::SetMessageBoxHandler(nullptr);
    platform::SetClockForTesting(nullptr);
    SetServerReadTimeoutForTesting(0);
    FServerAddress.reset();
    FServer.reset();
    FMachine.reset();
    FMessages.clear();
    FStarts.clear();
    FNameWhenShown.clear();
    QVERIFY(checksEnded);
}

void TfrmMainServerTest::CreateWindow(int autoUpdate) {
    const std::string settingsFile = FMachine->ProgramFolderWindows() + "Settings.ini";
    WriteDefaultSettings(settingsFile);
    platform::TIniFile(settingsFile).WriteInteger(SectionSettings, KeyAutoUpdate, autoUpdate);
    FForm = std::make_unique<TfrmMain>();
    frmMain = FForm.get();
    FData = std::make_unique<Tdm>();
    dm = FData.get();
    FForm->show();
}

void TfrmMainServerTest::RunCheck() {
    FForm->timerUpdateTimer(FForm->timerUpdate);
    QVERIFY(WaitForUpdateChecksForTesting(CheckEndsWithin));
}

std::vector<TShownMessage> TfrmMainServerTest::Messages() {
    std::lock_guard lock(FRecordLock);
    return FMessages;
}

std::vector<platform::TShellExecuteCall> TfrmMainServerTest::Starts() {
    std::lock_guard lock(FRecordLock);
    return FStarts;
}

void TfrmMainServerTest::withAutoUpdateOffNoRequestLeaves() {
    AnswerScript(std::string(UpdateReplyHead) + "Result=1");
    PutUpdater();
    CreateWindow(0);
    QVERIFY(!FForm->timerUpdate->isActive());
    QVERIFY(WaitForUpdateChecksForTesting(0));
    QCOMPARE(FServer->RequestCount(), size_t(0));
    QVERIFY(Starts().empty());
}

void TfrmMainServerTest::theTimerSendsOneUpdateRequestAndStops() {
    AnswerScript(std::string(UpdateReplyHead) + "Result=0");
    CreateWindow(1);
    QVERIFY(FForm->timerUpdate->isActive());
    QCOMPARE(FForm->timerUpdate->interval(), 30000);
    const std::string settingsBefore = ReadFile(SettingsPath());

    // The timer's own signal, as if 30 seconds had passed.
    QVERIFY(QMetaObject::invokeMethod(FForm->timerUpdate, "timeout"));
    QVERIFY(!FForm->timerUpdate->isActive());
    QVERIFY(WaitForUpdateChecksForTesting(CheckEndsWithin));
    QCoreApplication::processEvents();

    const auto requests = FServer->Requests();
    QCOMPARE(requests.size(), size_t(1));
    QCOMPARE(requests[0].Body,
             "System=Rudarorovod&Command=Update&ProgramVer=" + std::to_string(ProgramWritten) +
                 "&DataVer=" + std::to_string(DataStamp) + "&SoftDataVer=" + std::to_string(SoftStamp));
    QCOMPARE(ReadFile(SettingsPath()), settingsBefore);
    QVERIFY(Messages().empty());
    QVERIFY(Starts().empty());
}

void TfrmMainServerTest::onlyAnUpdateWithTheUpdaterPresentRecordsTheTimeAndStartsIt() {
    CreateWindow(0);
    const struct {
        const char* Name;
        std::string Reply;
        bool Updater;
        bool Starts;
    } cases[] = {
        {"an update", std::string(UpdateReplyHead) + "Result=1", true, true},
        {"an update of every file", std::string(UpdateReplyHead) + "Result=7\r\n", true, true},
        {"an update without the updater", std::string(UpdateReplyHead) + "Result=1", false, false},
        {"no update", std::string(UpdateReplyHead) + "Result=0", true, false},
        {"a refusal", std::string(UpdateReplyHead) + "Result=-6", true, false},
        {"not an integer", std::string(UpdateReplyHead) + "Result=yes", true, false},
        {"another server", "System=Other\r\nCommand=Update\r\n\r\nResult=1", true, false},
        {"another command", "System=Rudarorovod\r\nCommand=SubmitSoft\r\n\r\nResult=1", true, false},
        {"no Result line", "System=Rudarorovod\r\nCommand=Update\r\nResult=1", true, false},
    };
    for (const auto& c : cases) {
        FStarts.clear();
        fs::remove(FMachine->ProgramFolder() / "Update.exe");
        if (c.Updater)
            PutUpdater();
        WriteDefaultSettings(FMachine->ProgramFolderWindows() + "Settings.ini");
        const std::string settingsBefore = ReadFile(SettingsPath());
        AnswerScript(c.Reply);
        RunCheck();
        const std::string lastTime =
            platform::TIniFile(FForm->SettingsFile()).ReadString(SectionUpdateInformation, KeyLastTime, "");
        const auto starts = Starts();
        if (c.Starts) {
            QVERIFY2(lastTime == FixedNow, c.Name);
            QVERIFY2(starts.size() == 1, c.Name);
            QCOMPARE(starts[0].Verb, std::string("open"));
            QCOMPARE(starts[0].File, UpdaterWindowsPath());
            QCOMPARE(starts[0].Parameters, std::string());
            QCOMPARE(starts[0].Directory, std::string());
            QCOMPARE(starts[0].ShowCommand, platform::SW_SHOWNORMAL);
            QVERIFY(starts[0].Owner == nullptr);
        } else {
            QVERIFY2(ReadFile(SettingsPath()) == settingsBefore, c.Name);
            QVERIFY2(starts.empty(), c.Name);
        }
    }
    QCOMPARE(FServer->RequestCount(), std::size(cases));

    // A missing settings file gets the default text before the time.
    PutUpdater();
    AnswerScript(std::string(UpdateReplyHead) + "Result=1");
    fs::remove(SettingsPath());
    RunCheck();
    const platform::TIniFile ini(FForm->SettingsFile());
    QCOMPARE(ini.ReadString(SectionUpdateInformation, KeyLastTime, ""), std::string(FixedNow));
    QCOMPARE(ini.ReadString(SectionSettings, KeyDeleteUpdate, ""), std::string("1"));
    QVERIFY(Messages().empty());
}

void TfrmMainServerTest::errorsInsideTheCheckEndItSilently() {
    CreateWindow(0);
    PutUpdater();

    // The server closes the connection in the middle of its reply.
    FServer->CutShort("/communicate.php", std::string(UpdateReplyHead) + "Result=1", 40);
    RunCheck();
    QVERIFY(Starts().empty());

    // The settings file cannot be written: the error ends the check before the updater starts.
    if (!FMachine->SetImmutable(SettingsPath(), true))
        QSKIP("the file system cannot make a file immutable");
    AnswerScript(std::string(UpdateReplyHead) + "Result=1");
    RunCheck();
    QVERIFY(Starts().empty());

    // The database files can be neither found nor made.
    fs::remove(FMachine->ProgramFolder() / "KV.dat");
    QVERIFY(FMachine->SetImmutable(FMachine->ProgramFolder(), true));
    RunCheck();
    QCOMPARE(FServer->RequestCount(), size_t(2));

    // KV's own file cannot be opened for its time: today's date goes, and no message shows on the thread.
    QVERIFY(FMachine->SetImmutable(FMachine->ProgramFolder(), false));
    TDatabaseWriter().WriteFiles(FMachine->ProgramFolder());
    fs::remove(FMachine->ProgramFile());
    RunCheck();
    const auto requests = FServer->Requests();
    QCOMPARE(requests.size(), size_t(3));
    const std::string today = std::to_string(platform::DateTimeToUnix(platform::Date()));
    QVERIFY(requests[2].Body.find("&ProgramVer=" + today + "&") != std::string::npos);

    // KV runs on, and its window still answers.
    QVERIFY(Messages().empty());
    FForm->sbtnSubmitSoft->click();
    QCOMPARE(FForm->CurrentPanel(), int(pmSubmit));
}

void TfrmMainServerTest::theWindowStaysResponsiveWhileTheCheckRuns() {
    SetServerReadTimeoutForTesting(5000);
    FServer->StaySilent("/communicate.php");
    CreateWindow(1);
    QVERIFY(QMetaObject::invokeMethod(FForm->timerUpdate, "timeout"));
    QVERIFY(FServer->WaitForRequests(1, 10s));

    // The request is under way and the window handles its events.
    QVERIFY(!WaitForUpdateChecksForTesting(0));
    bool ran = false;
    QTimer::singleShot(0, [&ran] { ran = true; });
    QTRY_VERIFY(ran);
    FForm->sbtnSubmitSoft->click();
    QCOMPARE(FForm->CurrentPanel(), int(pmSubmit));
    QVERIFY(!WaitForUpdateChecksForTesting(0));

    // The server's silence ends the check after the read time-out, quietly.
    QVERIFY(WaitForUpdateChecksForTesting(CheckEndsWithin));
    QVERIFY(Messages().empty());
    QVERIFY(Starts().empty());
}

void TfrmMainServerTest::onlineUpgradeStartsTheUpdaterWithoutARequest() {
    PutUpdater();
    CreateWindow(0);
    FForm->sbtnUpdate->click();
    QCOMPARE(platform::TIniFile(FForm->SettingsFile()).ReadString(SectionUpdateInformation, KeyLastTime, ""),
             std::string(FixedNow));
    const auto starts = Starts();
    QCOMPARE(starts.size(), size_t(1));
    QCOMPARE(starts[0].File, UpdaterWindowsPath());
    QCOMPARE(starts[0].Verb, std::string("open"));
    QCOMPARE(FServer->RequestCount(), size_t(0));
    QVERIFY(Messages().empty());
    QCOMPARE(FForm->CurrentPanel(), int(pmWelcome));

    // The tray menu's Update Online clicks the same button.
    FData->UpdateOnline1->trigger();
    QCOMPARE(Starts().size(), size_t(2));
    QCOMPARE(FServer->RequestCount(), size_t(0));
}

void TfrmMainServerTest::onlineUpgradeWithoutTheUpdaterPointsToTheHomeSite() {
    CreateWindow(0);
    const std::string settingsBefore = ReadFile(SettingsPath());
    FForm->sbtnUpdate->click();
    const auto messages = Messages();
    QCOMPARE(messages.size(), size_t(1));
    QCOMPARE(messages[0].Text, std::string("Please visit https://korvane.example.org download updates!"));
    QCOMPARE(messages[0].Caption, std::string("Update"));
    QCOMPARE(messages[0].Flags, platform::MB_OK | platform::MB_ICONINFORMATION);
    QCOMPARE(ReadFile(SettingsPath()), settingsBefore);
    QVERIFY(Starts().empty());
}

void TfrmMainServerTest::onlineUpgradeStopsWhenTheSettingsCannotBeWritten() {
    PutUpdater();
    CreateWindow(0);
    if (!FMachine->SetImmutable(SettingsPath(), true))
        QSKIP("the file system cannot make a file immutable");
    FForm->sbtnUpdate->click();
    QVERIFY(Starts().empty());
    const auto messages = Messages();
    QCOMPARE(messages.size(), size_t(1));
    QVERIFY(messages[0].Text.starts_with("Unable to write to "));
    QCOMPARE(messages[0].Flags, platform::MB_OK | platform::MB_ICONERROR);
}

void TfrmMainServerTest::FillSubmitPage() {
    FForm->sbtnSubmitSoft->click();
    FForm->edtSoftName->setText(QStringLiteral("  Foo & Bar  "));
    FForm->edtSoftVer->setText(QStringLiteral("\t2.0 "));
    FForm->cmbSoftType->setCurrentIndex(3);
    FForm->cmbOS->setCurrentIndex(FForm->cmbOS->findText(QStringLiteral("VISTA")));
    FForm->edtDownLink->setText(QStringLiteral(" http://example.org/foo?a=1&b=2 "));
    FForm->memoOther->setPlainText(QStringLiteral("\nFirst line = 100%\nZweite Zeile: Müller\n\n"));
    FForm->edtEMail->setText(QStringLiteral(" me+you@example.org "));
}

void TfrmMainServerTest::aSubmissionNeedsANameThatIsNotBlank() {
    CreateWindow(0);
    FForm->sbtnSubmitSoft->click();
    FForm->edtSoftName->setText(QStringLiteral(" \t "));
    FForm->edtEMail->setText(QStringLiteral("me@example.org"));
    FForm->imgSubmitClick(FForm->imgSubmit);
    const auto messages = Messages();
    QCOMPARE(messages.size(), size_t(1));
    QCOMPARE(messages[0].Text, std::string("You do not enter the name of the software!"));
    QCOMPARE(messages[0].Caption, std::string("Submit Software"));
    QCOMPARE(messages[0].Flags, platform::MB_OK | platform::MB_ICONINFORMATION);
    QCOMPARE(FServer->RequestCount(), size_t(0));
    QCOMPARE(FForm->edtEMail->text(), QStringLiteral("me@example.org"));
}

void TfrmMainServerTest::aSubmissionSendsTheTrimmedFieldsAndEmptiesThemOnSuccess() {
    CreateWindow(0);
    for (const char* result : {"1", "0"}) {
        AnswerScript(std::string(SubmitReplyHead) + "Result=" + result);
        FMessages.clear();
        FNameWhenShown.clear();
        FillSubmitPage();
        const QString softType = FForm->cmbSoftType->currentText();
        FForm->imgSubmitClick(FForm->imgSubmit);

        const auto messages = Messages();
        QCOMPARE(messages.size(), size_t(1));
        QCOMPARE(messages[0].Text, std::string("Software information has been submitted!"));
        QCOMPARE(messages[0].Caption, std::string("Submit Software"));
        QCOMPARE(messages[0].Flags, platform::MB_OK | platform::MB_ICONINFORMATION);
        // The fields are emptied once the message has been closed.
        QCOMPARE(FNameWhenShown.at(0), QStringLiteral("  Foo & Bar  "));
        for (QLineEdit* edit : {FForm->edtSoftName, FForm->edtSoftVer, FForm->edtDownLink, FForm->edtEMail})
            QVERIFY2(edit->text().isEmpty(), qPrintable(edit->objectName()));
        QVERIFY(FForm->memoOther->toPlainText().isEmpty());
        QCOMPARE(FForm->cmbSoftType->currentText(), softType);
        QCOMPARE(FForm->cmbOS->currentText(), QStringLiteral("VISTA"));
    }
    const auto requests = FServer->Requests();
    QCOMPARE(requests.size(), size_t(2));
    const std::string softType = QUrl::toPercentEncoding(FForm->cmbSoftType->currentText()).toStdString();
    QCOMPARE(requests[0].Body, "System=Rudarorovod&Command=SubmitSoft&SoftName=Foo%20%26%20Bar&SoftVer=2.0"
                               "&SoftType=" +
                                   softType +
                                   "&Os=VISTA"
                                   "&DownloadLink=http%3A%2F%2Fexample.org%2Ffoo%3Fa%3D1%26b%3D2"
                                   "&Other=First%20line%20%3D%20100%25%0D%0AZweite%20Zeile%3A%20M%C3%BCller"
                                   "&Email=me%2Byou%40example.org");
    QCOMPARE(requests[0].Header("Content-Type"), std::string("application/x-www-form-urlencoded"));
}

void TfrmMainServerTest::aFailedSubmissionKeepsTheFields() {
    CreateWindow(0);
    TRefusingPort refusing;
    const struct {
        const char* Name;
        std::string Address;
        std::string Reply;
    } cases[] = {
        {"Result 2", FServer->Url("/communicate.php"), std::string(SubmitReplyHead) + "Result=2"},
        {"another command", FServer->Url("/communicate.php"), std::string(UpdateReplyHead) + "Result=1"},
        {"no server", refusing.Url("/communicate.php"), ""},
    };
    for (const auto& c : cases) {
        TScopedVariable address(ServerUrlVariable, c.Address.c_str());
        AnswerScript(c.Reply);
        FMessages.clear();
        FillSubmitPage();
        FForm->imgSubmitClick(FForm->imgSubmit);
        const auto messages = Messages();
        QVERIFY2(messages.size() == 1, c.Name);
        QCOMPARE(messages[0].Text, std::string("Sorry,The software failed to submit information!"));
        QCOMPARE(messages[0].Caption, std::string("Submit Software"));
        QCOMPARE(FForm->edtSoftName->text(), QStringLiteral("  Foo & Bar  "));
        QCOMPARE(FForm->memoOther->toPlainText(),
                 QStringLiteral("\nFirst line = 100%\nZweite Zeile: Müller\n\n"));
        QCOMPARE(FForm->edtEMail->text(), QStringLiteral(" me+you@example.org "));
    }

    // A moved script is followed for the submission.
    FServer->Redirect("/communicate.php", FServer->Url("/new/communicate.php"), 301);
    FServer->Answer("/new/communicate.php", std::string(SubmitReplyHead) + "Result=1");
    FMessages.clear();
    FillSubmitPage();
    FForm->imgSubmitClick(FForm->imgSubmit);
    QCOMPARE(Messages().at(0).Text, std::string("Software information has been submitted!"));
}

QTEST_MAIN(TfrmMainServerTest)
#include "frmMain2ServerTest.moc"
