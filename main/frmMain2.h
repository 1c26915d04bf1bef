#pragma once

#include "ui_frmMain2.h"

#include <cstdint>
#include <exception>
#include <QIcon>
#include <QWidget>
#include <string>

class QAbstractButton;
class QSystemTrayIcon;
class TPictureList;
class Tdm;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

// Window messages the main window takes, with the platform's numbers.
inline constexpr uint32_t WM_USER = 0x0400;
// The message the tray icon sends to its window for every mouse event over it (mouse message in LParam).
inline constexpr uint32_t WM_TRAYICON = WM_USER + 100;
inline constexpr uint32_t WM_MOUSEMOVE = 0x0200;
inline constexpr uint32_t WM_LBUTTONDOWN = 0x0201;
inline constexpr uint32_t WM_LBUTTONUP = 0x0202;
inline constexpr uint32_t WM_LBUTTONDBLCLK = 0x0203;
inline constexpr uint32_t WM_RBUTTONDOWN = 0x0204;
inline constexpr uint32_t WM_RBUTTONUP = 0x0205;
inline constexpr uint32_t WM_MBUTTONUP = 0x0208;

// A window message as the message method receives it.
struct TMessage {
    uint32_t Msg = 0;
    uintptr_t WParam = 0;
    intptr_t LParam = 0;
    intptr_t Result = 0;
};

// The tray icon's record (the first and smallest form, with a 64-character tip), filled once when the window
// is created and passed unchanged when the icon is added and removed.
struct TNotifyIconData {
    static constexpr uint32_t NIF_MESSAGE = 1, NIF_ICON = 2, NIF_TIP = 4;
    uint32_t cbSize = 88;
    QWidget* hWnd = nullptr;
    uintptr_t uID = 0;
    uint32_t uFlags = 0;
    uint32_t uCallbackMessage = 0;
    QIcon hIcon;
    char szTip[64] = {};
};

// The page modes of the main window (there is no page 5).
enum PanelMode : int {
    pmNone = 0,
    pmWelcome = 1,
    pmScanResults = 2,
    pmSubmit = 3,
    pmDetail = 4,
    pmSettings = 6,
    pmSupportedSoftware = 7,
};

// The one window of KV: a borderless 692 x 517 window with rounded corners, its own header, the pages of
// the layout frmMain2.ui, and the tray icon. Its controls are the layout's, public under their layout names
// (Ui::TfrmMain); other units reach the window through the form variable frmMain. Every handler runs on the
// main thread.
class TfrmMain : public QWidget, public Ui::TfrmMain {
    Q_OBJECT
public:
    explicit TfrmMain(QWidget* parent = nullptr);
    ~TfrmMain() override;

    // The update check's timer: 30 seconds, disabled until the settings enable it.
    QTimer* timerUpdate = nullptr;

    // ---- Start-up and frame ----
    void FormCreate(QObject* Sender);
    void FormShow(QObject* Sender);
    void FormCloseQuery(QObject* Sender, bool& CanClose);
    void FormDestroy(QObject* Sender);
    void imgMinClick(QObject* Sender);
    void imgCloseClick(QObject* Sender);
    void imgLogoMouseDown(QObject* Sender, Qt::MouseButton Button, Qt::MouseButtons Shift, int X, int Y);
    void imgLogoMouseMove(QObject* Sender, Qt::MouseButtons Shift, int X, int Y);
    // The message method of WM_TRAYICON.
    void WMTrayIcon(TMessage& Message);

    // ---- Image buttons, hover pictures and links ----
    void labSupportNumMouseEnter(QObject* Sender);
    void labSupportNumMouseLeave(QObject* Sender);
    void imgHelpClick(QObject* Sender);
    void sbtnTechnicalClick(QObject* Sender);

    // ---- Pages, view set-up and settings ----
    void ShowPanel(int Mode);
    void InitView(uint16_t Stage);
    void imgSettingsClick(QObject* Sender);
    void sbtnSubmitSoftClick(QObject* Sender);
    void labSupportNumClick(QObject* Sender);
    void imgDCancelClick(QObject* Sender);
    void imgSCancelClick(QObject* Sender);
    void imgSESaveClick(QObject* Sender);
    void cmbSupportSoftChange(QObject* Sender);

    // ---- Result lists and user commands ----
    void imgScanClick(QObject* Sender);
    void imgCleanClick(QObject* Sender);
    void imgCancelClick(QObject* Sender);
    void lstvRListDblClick(QObject* Sender);
    void lstvNListDblClick(QObject* Sender);
    void chkSelectAll1Click(QObject* Sender);
    void chkSelectAll2Click(QObject* Sender);
    // Column click of both result lists: Sender is the list whose header was clicked.
    void lstvNListColumnClick(QObject* Sender, int Column);

    // ---- Server requests, update check and software submission ----
    void timerUpdateTimer(QObject* Sender);
    void SaveLastUpdateTime();
    void sbtnUpdateClick(QObject* Sender);
    void imgSubmitClick(QObject* Sender);
    // The two requests touch nothing of the window: the update check's thread calls the first.
    static int CheckUpdate(const std::string& ProgramVer, const std::string& DataVer,
                           const std::string& SoftDataVer);
    static int SubmitSoft(const std::string& SoftName, const std::string& SoftVer, const std::string& Os,
                          const std::string& DownloadLink, const std::string& Other, const std::string& Email,
                          const std::string& SoftType);

    const std::string& SettingsFile() const { return FSettingsFile; }
    const TNotifyIconData& TrayIconData() const { return FTrayIconData; }
    // The tray icon, or null while there is none (before creation, after destruction).
    QSystemTrayIcon* TrayIcon() const { return FTrayIcon; }
    // The state the tray's restore acts on: the window minimised into the tray, or minimised.
    bool IsApplicationMinimized() const;
    // Brings the window back from the tray or the taskbar and activates it.
    void RestoreApplication();
    // The page shown (a PanelMode), pmNone before the first.
    int CurrentPanel() const;

    // The view styles of the result lists.
    enum TListViewStyle { vsIcon = 0, vsSmallIcon = 1, vsList = 2, vsReport = 3 };
    static TListViewStyle ViewStyle(const QTreeWidget* list);

    // Tests create the tray icon where the machine has no notification area (offscreen).
    static bool ForceTrayIconForTesting;

    // Runs a handler as the application runs its event handlers: an error it raises is reported to the user
    // (a message box with the error's text) and ends only that handler.
    template <typename F> void Guarded(F&& handler);

    void setVisible(bool visible) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ApplyLook();
    void PrepareLists();
    void BindHandlers();
    // A picture button of the window: its control, the image list of its pictures, the normal and the hover
    // picture, and its click handler.
    struct TPictureButton {
        TImageEx* Ui::TfrmMain::*Button;
        TPictureList Tdm::*List;
        int Normal;
        int Hover;
        void (TfrmMain::*Click)(QObject*);
    };
    // Every picture button, in the order in which the first showing gives them their normal pictures.
    static const TPictureButton PictureButtons[];
    void BindPictureButton(const TPictureButton& entry);
    void ShowButtonPicture(const TPictureButton& entry, bool hover);
    void BindClick(TImageEx* button, void (TfrmMain::*click)(QObject*));
    void BindButton(QAbstractButton* button, void (TfrmMain::*click)(QObject*));
    static QIcon ApplicationIcon();
    void InitPictures();
    void InitSettings();
    void InitVersions();
    void ApplyColumnWidths(bool wide);
    void AddTrayIcon();
    void RemoveTrayIcon();
    // Minimises the application into the tray: minimised, its window hidden, no taskbar entry.
    void MinimizeToTray();
    void ApplyTipsBox(int hideTip);
    void ApplyViewStyle(int viewStyle);
    void ShowHelpOrLink(const std::string& file);

    int FDragX = 0;
    int FDragY = 0;
    std::string FSettingsFile;
    TNotifyIconData FTrayIconData;
    QSystemTrayIcon* FTrayIcon = nullptr;
    bool FFormShown = false;
    bool FInTray = false;
};

// The column compare of the result lists' sort: negative, 0 or positive.
int ListViewColumnCompare(QTreeWidgetItem* Item1, QTreeWidgetItem* Item2, int Column);

extern TfrmMain* frmMain;

// Waits until every update check that the timer started has ended, at most Milliseconds; whether they
// have (for tests: KV itself never waits for a check).
bool WaitForUpdateChecksForTesting(int milliseconds);

// Sets a label's caption as the toolkit shows the program's own captions: a carriage return breaks the line
// and a doubled ampersand shows as one. SetPlainCaption shows text from outside the program (a name, a path,
// a stored value) exactly as it is. Both show plain text, never markup. Caption gives the caption back as
// it was set.
void SetCaption(QLabel* label, const std::string& caption);
void SetPlainCaption(QLabel* label, const std::string& text);
std::string Caption(const QLabel* label);

// Reports an error that reached the application: a message box with its text, titled with the
// application's title, the stop icon and an OK button.
void ShowApplicationError(const std::exception& error);

template <typename F> void TfrmMain::Guarded(F&& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        ShowApplicationError(error);
    }
}
