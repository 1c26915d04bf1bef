#include "update/frmUpdate2.h"

#include "common/opUninstallFile.h"
#include "common/publicFun.h"
#include "common/serverProtocol.h"
#include "platform/dateTime.h"
#include "platform/fileSystem.h"
#include "platform/iniFile.h"
#include "platform/messageBox.h"
#include "platform/shellExecute.h"
#include "platform/systemInfo.h"
#include "platform/sysUtils.h"
#include "ui_frmUpdate2.h"
#include "update/fileStream.h"
#include "update/md5.h"
#include "update/publicFun.h"
#include "update/updaterPictures.h"
#include "update/updaterReply.h"

#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <QApplication>
#include <QCloseEvent>
#include <QEvent>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QToolButton>
#include <QTreeWidget>
#include <QWindow>
#include <vector>

TfrmUpdate* frmUpdate = nullptr;

namespace {

constexpr const char* KVProgram = "KV.exe";
constexpr int DownloadsColumn = 1;
// The gauge and the "KB" cell follow a transfer at most this often (drawing them for every block received
// costs a fast download much of its time); the last count of a transfer is always shown.
constexpr std::chrono::milliseconds ProgressInterval{50};

// "KV.dat, KV.exe": the names of the files a run could not put in place, for its closing message.
std::string JoinNames(const std::vector<std::string>& names) {
    std::string joined;
    for (const std::string& name : names)
        joined += (joined.empty() ? "" : ", ") + name;
    return joined;
}

int ClampToInt(int64_t value) {
    return static_cast<int>(std::clamp<int64_t>(value, INT_MIN, INT_MAX));
}

// The date as the names of the downloads carry it, taken anew for each name.
std::string TodayText() {
    return platform::FormatDateTime("yyyymmdd", platform::Now());
}

} // namespace

TfrmUpdate::TfrmUpdate(QWidget* parent) : QWidget(parent), FUi(std::make_unique<Ui::TfrmUpdate>()) {
    FUi->setupUi(this);
    panButton = FUi->panButton;
    panMain = FUi->panMain;
    Bevel1 = FUi->Bevel1;
    panMLeft = FUi->panMLeft;
    panRight = FUi->panRight;
    sbtnUpdate = FUi->sbtnUpdate;
    sbtnCancel = FUi->sbtnCancel;
    panMRight = FUi->panMRight;
    lstvDownload = FUi->lstvDownload;
    panMBottom = FUi->panMBottom;
    imgLeft = FUi->imgLeft;
    Gauge = FUi->Gauge;
    labState = FUi->labState;

    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    lstvDownload->header()->setSectionsClickable(false);
    lstvDownload->header()->resizeSection(0, 200);
    lstvDownload->header()->resizeSection(DownloadsColumn, 90);
    lstvDownload->headerItem()->setTextAlignment(DownloadsColumn, Qt::AlignCenter);
    imgLeft->setPixmap(UpdaterSidePicture());

    connect(sbtnUpdate, &QToolButton::clicked, this, &TfrmUpdate::sbtnUpdateClick);
    connect(sbtnCancel, &QToolButton::clicked, this, &TfrmUpdate::sbtnCancelClick);

    IdHTTP.Request().Accept = "text/html, */*";
    IdHTTP.Request().UserAgent = "Mozilla/3.0 (compatible; Indy Library)";
    IdHTTP.SetHTTPOptions(platform::hoForceEncodeParams);
    IdHTTP.OnWorkBegin = [this](platform::THttpClient&, platform::TWorkMode, int64_t max) {
        IdHTTPWorkBegin(max);
    };
    IdHTTP.OnWork = [this](platform::THttpClient&, platform::TWorkMode, int64_t count) { IdHTTPWork(count); };
    IdHTTP.OnWorkEnd = [this](platform::THttpClient&, platform::TWorkMode) { IdHTTPWorkEnd(); };
    IdHTTP.OnIdle = [this](platform::THttpClient&) { IdAntiFreezeIdle(); };

    FormCreate();
}

TfrmUpdate::~TfrmUpdate() {
    if (frmUpdate == this)
        frmUpdate = nullptr;
}

std::string TfrmUpdate::ProgramFolder() const {
    return platform::ExtractFilePath(platform::GetModuleFileName());
}

void TfrmUpdate::FormCreate() {
    FTrayIconData = std::make_unique<QSystemTrayIcon>(QApplication::windowIcon(), this);
    FTrayIconData->setToolTip(QStringLiteral("Online update"));
    connect(FTrayIconData.get(), &QSystemTrayIcon::activated, this, &TfrmUpdate::WMTrayIcon);
    // Without a notification area there is no icon to add; the program runs without it.
    if (QSystemTrayIcon::isSystemTrayAvailable())
        FTrayIconData->show();
    FDownloadIndex = 0;
}

void TfrmUpdate::showEvent(QShowEvent* event) {
    if (!FShown) {
        FShown = true;
        CentreOnScreen();
        FormShow();
    }
    QWidget::showEvent(event);
}

void TfrmUpdate::CentreOnScreen() {
    const QScreen* screen = this->screen();
    if (screen == nullptr)
        return;
    const QRect available = screen->availableGeometry();
    // A window's position is its frame's, and the frame is as large as the platform knows it so far.
    const QMargins margins = windowHandle() != nullptr ? windowHandle()->frameMargins() : QMargins();
    const QSize frame = size().grownBy(margins);
    move(available.x() + (available.width() - frame.width()) / 2,
         available.y() + (available.height() - frame.height()) / 2);
}

void TfrmUpdate::FormShow() {
    FSettingsFile = ProgramFolder() + SettingsFileName;
    // A settings file that cannot be written (a read-only program folder) is reported and the window goes
    // on; an error must not leave the toolkit's event handling.
    try {
        if (!platform::FileExists(FSettingsFile))
            WriteDefaultSettings(FSettingsFile);
    } catch (const std::exception& error) {
        ShowError(error.what());
    }
}

void TfrmUpdate::ShowError(const std::string& text) {
    platform::MessageBox(text, "Update", platform::MB_OK | platform::MB_ICONERROR);
}

bool TfrmUpdate::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) {
        // By the first activation a window manager has framed the window: centred again with its frame.
        if (!FActivated) {
            FActivated = true;
            CentreOnScreen();
        }
        // The run starts after the activation has been handled, so that it does not nest inside the window
        // system's delivery of that event.
        QMetaObject::invokeMethod(this, &TfrmUpdate::FormActivate, Qt::QueuedConnection);
    }
    return QWidget::event(event);
}

void TfrmUpdate::FormActivate() {
    // A disabled button (a run in progress) ignores the click, so no activation starts a second run.
    if (sbtnUpdate->isEnabled() && isVisible())
        sbtnUpdate->click();
}

void TfrmUpdate::sbtnCancelClick() {
    close();
}

void TfrmUpdate::closeEvent(QCloseEvent* event) {
    if (!sbtnUpdate->isEnabled()) {
        int answer = platform::MessageBox("File not download Completed, Aborted?", "Confirm",
                                          platform::MB_YESNO | platform::MB_ICONQUESTION);
        if (answer != platform::IDYES) {
            event->ignore();
            return;
        }
        FAbortDownload = true;
    }
    FTrayIconData->hide();
    event->accept();
    emit ProgramEndRequested();
}

void TfrmUpdate::WMTrayIcon(QSystemTrayIcon::ActivationReason reason) {
    if (reason != QSystemTrayIcon::DoubleClick && reason != QSystemTrayIcon::Context)
        return;
    if (isMinimized()) {
        showNormal();
        raise();
        activateWindow();
    }
}

// ---- Transfers ----

void TfrmUpdate::IdAntiFreezeIdle() {
    QApplication::processEvents();
}

void TfrmUpdate::IdHTTPWorkBegin(int64_t workCountMax) {
    FAbortDownload = false;
    Gauge->setValue(0);
    Gauge->setMinimum(0);
    Gauge->setMaximum(ClampToInt(workCountMax));
    // The transfer's first count is shown at once.
    FProgressShownAt = {};
    FProgressPending = false;
}

void TfrmUpdate::IdHTTPWork(int64_t workCount) {
    try {
        QApplication::processEvents();
        if (FAbortDownload)
            IdHTTP.Disconnect();
        FWorkCount = workCount;
        FProgressPending = true;
        const auto now = std::chrono::steady_clock::now();
        if (now - FProgressShownAt >= ProgressInterval) {
            FProgressShownAt = now;
            ShowProgress();
        }
    } catch (...) {
        // A progress report never fails the transfer.
    }
}

void TfrmUpdate::ShowProgress() {
    FProgressPending = false;
    Gauge->setValue(ClampToInt(FWorkCount));
    if (QTreeWidgetItem* row = lstvDownload->topLevelItem(FDownloadIndex))
        row->setText(DownloadsColumn, QString::asprintf("%d KB", ClampToInt(FWorkCount / 1024)));
}

void TfrmUpdate::IdHTTPWorkEnd() {
    if (FProgressPending) {
        try {
            ShowProgress();
        } catch (...) {
            // As in the progress handler.
        }
    }
    if (FAbortDownload)
        throw EAbort();
}

int TfrmUpdate::CheckUpdate(const std::string& programVer, const std::string& dataVer,
                            const std::string& softDataVer) {
    FProgramUrl.clear();
    FDataUrl.clear();
    FSoftDataUrl.clear();
    FProgramMd5.clear();
    FDataMd5.clear();
    FSoftDataMd5.clear();
    TUpdateFiles files;
    // The downloads go on with these settings: the read time-out and redirect following.
    ConfigureServerClient(IdHTTP, true);
    int result = 0;
    try {
        result = ReadUpdaterReply(
            IdHTTP.Post(ServerScriptUrl(), UpdateRequest(programVer, dataVer, softDataVer)), files);
    } catch (...) {
        // A failed request, the user's abort included, means nothing to fetch.
        result = 0;
        files = TUpdateFiles{};
    }
    IdHTTP.Disconnect();
    FProgramUrl = files.ProgramUrl;
    FDataUrl = files.DataUrl;
    FSoftDataUrl = files.SoftDataUrl;
    FProgramMd5 = files.ProgramMd5;
    FDataMd5 = files.DataMd5;
    FSoftDataMd5 = files.SoftDataMd5;
    return result;
}

void TfrmUpdate::DownloadFile(uint16_t kind, const std::string& name, std::string& path) {
    const std::string folder = ProgramFolder() + "update";
    if (!platform::DirectoryExists(folder) && !platform::CreateDirectory(folder)) {
        platform::MessageBox("Can not create directory!", "Error", platform::MB_OK);
        return;
    }
    const std::string target = folder + "\\" + name;
    const std::string& address = kind == 1 ? FProgramUrl : kind == 2 ? FDataUrl : FSoftDataUrl;
    // The body streams into a new file beside the target, which takes the target's place only once the
    // transfer is complete: a failed transfer leaves an older download as it was.
    TFileReplacer body;
    struct TDisconnect {
        platform::THttpClient& Client;
        ~TDisconnect() { Client.Disconnect(); }
    } disconnect{IdHTTP};
    if (!body.Open(target))
        throw std::runtime_error("Cannot create file \"" + target + "\".");
    IdHTTP.Get(address, body.Stream());
    if (!body.Commit())
        throw std::runtime_error("Cannot write file \"" + target + "\".");
    path = platform::FileExists(target) ? target : std::string();
}

// ---- The run ----

void TfrmUpdate::ShowState(const std::string& text) {
    labState->setText(QString::fromStdString(text));
    labState->repaint();
}

void TfrmUpdate::sbtnUpdateClick() {
    try {
        UpdateRun();
    } catch (const EAbort&) {
        // The user ended the program during a transfer: nothing to say.
        return;
    } catch (const std::exception& error) {
        // The run stops where the error left it; the window stays in its running state.
        ShowError(error.what());
        return;
    } catch (...) {
        ShowError("The update stopped on an unknown error.");
        return;
    }
    sbtnUpdate->setEnabled(true);
    labState->setText(QString());
    close();
}

void TfrmUpdate::UpdateRun() {
    sbtnUpdate->setEnabled(false);
    lstvDownload->clear();
    std::string programPath;
    std::string dataPath;
    std::string softDataPath;
    const std::string folder = ProgramFolder();
    if (!platform::FileExists(folder + KVProgram))
        return;

    // Unix seconds of the program's last write, an exact half going to the even neighbour.
    const double programDate = GetFileDate(folder + KVProgram, 2);
    const std::string programVer =
        platform::IntToStr(std::llrint((programDate - platform::UnixDateDelta) * 86400.0));
    std::string dataVer = "0";
    std::string softDataVer = "0";
    if (platform::FileExists(folder + "KV.dat")) {
        TUFileOp database("", "");
        dataVer = database.GetDataVersion(1);
        softDataVer = database.GetSoftDataVersion(1);
    }

    const int r = CheckUpdate(programVer, dataVer, softDataVer);
    if (r < 1) {
        if (r == -1 || r == -2 || r == -6 || r == -7)
            platform::MessageBox("Connects to the server failure!", "Update",
                                 platform::MB_OK | platform::MB_ICONERROR);
        else
            platform::MessageBox("The current version is the latest version!", "Update",
                                 platform::MB_OK | platform::MB_ICONINFORMATION);
        return;
    }

    struct TDownload {
        int Bit;
        uint16_t Kind;
        const char* Prefix;
        const char* Extension;
        std::string* Path;
    } const downloads[] = {
        {umProgram, 1, "Rudarorovod_", ".exe", &programPath},
        {umData, 2, "KV_", ".dat", &dataPath},
        {umSoftData, 3, "Soft_", ".dat", &softDataPath},
    };
    for (const TDownload& download : downloads) {
        if ((r & download.Bit) == 0)
            continue;
        const std::string name = download.Prefix + TodayText() + download.Extension;
        auto* row =
            new QTreeWidgetItem(lstvDownload, {QString::fromStdString(name), QStringLiteral("downloading")});
        row->setTextAlignment(DownloadsColumn, Qt::AlignCenter);
        DownloadFile(download.Kind, name, *download.Path);
        if (download.Path->empty())
            row->setText(DownloadsColumn, QStringLiteral("Fail"));
        if (download.Kind != 3)
            ++FDownloadIndex;
    }
    if (programPath.empty() && dataPath.empty() && softDataPath.empty())
        return;
    if (platform::MessageBox("To update you identified?", "Update",
                             platform::MB_YESNO | platform::MB_ICONQUESTION) != platform::IDYES)
        return;

    const int deleteUpdate =
        platform::TIniFile(FSettingsFile).ReadInteger(SectionSettings, KeyDeleteUpdate, DefaultDeleteUpdate);
    // The files that could not be put in place: the run says so at its end instead of claiming success.
    std::vector<std::string> notReplaced;
    if (!dataPath.empty() &&
        !InstallDataFile("Updating the master data, please wait ...", dataPath, folder + "update\\vData.dat",
                         folder + "KV.dat", FDataMd5, deleteUpdate))
        notReplaced.push_back("KV.dat");
    if (!softDataPath.empty() &&
        !InstallDataFile("Updating software-related data, please wait ...", softDataPath,
                         folder + "update\\vSoft.dat", folder + "soft.dat", FSoftDataMd5, deleteUpdate))
        notReplaced.push_back("soft.dat");

    const bool running = IsProcessRunning(KVProgram);
    if (running) {
        KillProcessByName(KVProgram);
        platform::Sleep(2000);
    }
    if (!programPath.empty()) {
        ShowState("Updating procedures, please wait ...");
        if (platform::FileExists(programPath)) {
            TMD5Digest digest{};
            MD5DigestOfFile(programPath, digest);
            if (MD5DigestToStr(digest) == FProgramMd5) {
                if (!platform::CopyFileReplacing(programPath, folder + KVProgram))
                    notReplaced.push_back(KVProgram);
                else if (deleteUpdate == 1)
                    platform::DeleteFile(programPath);
            }
        }
    }
    // KV starts again detached, so that it outlives the updater; started again whether or not its file was
    // replaced.
    if (running)
        platform::ShellExecuteA(this, "open", folder + KVProgram, "", "", platform::SW_SHOWNORMAL);
    if (!notReplaced.empty()) {
        ShowState("Updates failed.");
        platform::MessageBox("Can not update " + JoinNames(notReplaced) + "!", "Update",
                             platform::MB_OK | platform::MB_ICONERROR);
        return;
    }
    ShowState("Updates completed.");
    platform::MessageBox("Updates completed!", "Update", platform::MB_OK | platform::MB_ICONINFORMATION);
}

bool TfrmUpdate::InstallDataFile(const std::string& stateText, const std::string& download,
                                 const std::string& work, const std::string& target,
                                 const std::string& expectedMd5, int deleteUpdate) {
    ShowState(stateText);
    if (!platform::FileExists(download))
        return true;
    if (DecompressFile(download, work) <= 0)
        return true;
    TMD5Digest digest{};
    MD5DigestOfFile(work, digest);
    if (MD5DigestToStr(digest) != expectedMd5)
        return true;
    // A copy that failed (a locked or read-only target) keeps what was fetched, so nothing is lost.
    if (!platform::CopyFileReplacing(work, target))
        return false;
    if (deleteUpdate == 1) {
        platform::DeleteFile(work);
        platform::DeleteFile(download);
    }
    return true;
}
