#pragma once

#include "platform/httpClient.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <QSystemTrayIcon>
#include <QWidget>
#include <stdexcept>
#include <string>

class QCloseEvent;
class QFrame;
class QLabel;
class QProgressBar;
class QToolButton;
class QTreeWidget;

namespace Ui {
class TfrmUpdate;
}

// The silent abort: it leaves a transfer and the update run, and the run's error handling shows nothing.
class EAbort : public std::runtime_error {
public:
    EAbort() : std::runtime_error("Operation aborted") {}
};

// The updater's one window. Its first activation runs the update: ask the server what is new, download it
// with progress, and install it once the user agrees (sbtnUpdateClick). While a transfer waits on the
// network or reports progress, the window's events are handled, so it repaints and its close question can
// be asked and answered in the middle of a download.
class TfrmUpdate : public QWidget {
    Q_OBJECT

public:
    explicit TfrmUpdate(QWidget* parent = nullptr);
    ~TfrmUpdate() override;

    // Components, by the names of the layout.
    QFrame* panButton;
    QFrame* panMain;
    QFrame* Bevel1;
    platform::THttpClient IdHTTP;
    QFrame* panMLeft;
    QFrame* panRight;
    QToolButton* sbtnUpdate;
    QToolButton* sbtnCancel;
    QFrame* panMRight;
    QTreeWidget* lstvDownload;
    QFrame* panMBottom;
    QLabel* imgLeft;
    QProgressBar* Gauge;
    QLabel* labState;

    // The tray icon and its tip, present from creation until the window closes.
    const QSystemTrayIcon& TrayIcon() const { return *FTrayIconData; }

    // The update request: fills the six address and digest fields and returns the UpdateMask (1 to 7), 0
    // when there is nothing to fetch or the request failed, or a negative code.
    int CheckUpdate(const std::string& programVer, const std::string& dataVer,
                    const std::string& softDataVer);
    // Fetches the address of Kind (1 program, 2 master data, else software data) into the update folder
    // under Name; Path is the saved file, or empty. Transfer errors are raised.
    void DownloadFile(uint16_t kind, const std::string& name, std::string& path);

    const std::string& ProgramUrl() const { return FProgramUrl; }
    const std::string& DataUrl() const { return FDataUrl; }
    const std::string& SoftDataUrl() const { return FSoftDataUrl; }
    const std::string& ProgramMd5() const { return FProgramMd5; }
    const std::string& DataMd5() const { return FDataMd5; }
    const std::string& SoftDataMd5() const { return FSoftDataMd5; }

signals:
    // The program is to end once control is back in its event loop (the window was closed).
    void ProgramEndRequested();

public slots:
    void FormActivate();
    void sbtnUpdateClick();
    void sbtnCancelClick();
    void WMTrayIcon(QSystemTrayIcon::ActivationReason reason);

protected:
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void FormShow();
    // Puts the window, frame and all, in the middle of its screen's room for windows.
    void CentreOnScreen();
    void IdHTTPWorkBegin(int64_t workCountMax);
    void IdHTTPWork(int64_t workCount);
    void IdHTTPWorkEnd();
    void IdAntiFreezeIdle();
    // The gauge and the download's "KB" cell at the transfer's last count.
    void ShowProgress();

    // The update run, steps 1 to 9; errors leave it.
    void UpdateRun();
    // Unpacks, checks and puts one database file in place; false only when its copy into the program folder
    // failed, in which case the work file and the download are kept for the next run.
    bool InstallDataFile(const std::string& stateText, const std::string& download, const std::string& work,
                         const std::string& target, const std::string& expectedMd5, int deleteUpdate);
    void ShowState(const std::string& text);
    // The application's report of an error that left a handler: its text in a box, once.
    void ShowError(const std::string& text);
    std::string ProgramFolder() const;

    std::unique_ptr<Ui::TfrmUpdate> FUi;
    std::unique_ptr<QSystemTrayIcon> FTrayIconData;
    std::string FProgramUrl;
    std::string FDataUrl;
    std::string FSoftDataUrl;
    std::string FProgramMd5;
    std::string FDataMd5;
    std::string FSoftDataMd5;
    bool FAbortDownload = false;
    int32_t FDownloadIndex = 0;
    // The transfer's last count, whether the display shows it yet, and when the display last changed (the
    // clock's epoch at a transfer's start).
    int64_t FWorkCount = 0;
    bool FProgressPending = false;
    std::chrono::steady_clock::time_point FProgressShownAt;
    std::string FSettingsFile;
    bool FShown = false;
    bool FActivated = false;
};

// The form variable: the program's window while it exists.
extern TfrmUpdate* frmUpdate;
