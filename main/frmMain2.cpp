#include "main/frmMain2.h"

#include "common/opUninstallFile.h"
#include "common/opUninstallRegistry.h"
#include "common/publicFun.h"
#include "common/serverProtocol.h"
#include "main/dm2.h"
#include "main/KV.h"
#include "main/threadUninstall.h"
#include "platform/dateTime.h"
#include "platform/fileSystem.h"
#include "platform/iniFile.h"
#include "platform/messageBox.h"
#include "platform/peResources.h"
#include "platform/shellExecute.h"
#include "platform/stringList.h"
#include "platform/systemInfo.h"
#include "platform/sysUtils.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <QCloseEvent>
#include <QCollator>
#include <QFile>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QPainterPath>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <thread>
#include <vector>

TfrmMain* frmMain = nullptr;

namespace {

// Where the pages lie: the main panels between the header and the gauge, the foot panels right of the left
// foot block and above the row of text buttons.
const QRect MainPanelArea(0, 81, 674, 275);
const QRect FootPanelArea(0, 0, 409, 113);

const char* const WelcomeHint =
    "Korvane helps you\rcompletely remove programs &&\rleftovers from your PC.\r\rPlease click on the "
    "\"Scan\" button\rto start scanning your system for\rrelated files and registry entries\rthat were left "
    "after unsuccessful\runinstallation.";
const char* const ScanResultsHint =
    "On the left is a list of applications\rthat can be completely removed by\rKorvane.\r\rDouble click on "
    "the item in the list\rand you can view the detailed\rinformation about the leftover files\rand registry "
    "entries of the software.\r\rSelect the software you want to\runinstall and click on the "
    "\"Clean\"\rbutton "
    "to remove all of its files\rand registry entries.\r\rClick on the \"Cancel\" button to go\rback to the "
    "previous interface.";
const char* const SubmitHint =
    "In case that Korvane failed to uninstall the software you are willing to remove from the computer,\r"
    "you can submit that software to us free of charge.\r"
    "Please fill in the form below and then click Submit button (* Required). \r"
    "We will address it for analysis and reply you within 48 hours.\r"
    "* To speed up the research process, please include the download link for the software you submit. ";

const char* const CloseRefusedText = "Application is running, can not out!";
const char* const SettingsSavedText = "Settings have been saved successfully.";

// Result-list column widths: normal, and wide while the tips box is hidden.
struct TColumnWidths {
    int RListName, RListDescription, NListName, NListPublisher;
};
constexpr TColumnWidths NormalColumns{200, 205, 200, 105};
constexpr TColumnWidths WideColumns{300, 280, 300, 180};

void SetColumnWidths(QTreeWidget* list, std::initializer_list<int> widths) {
    int column = 0;
    for (int width : widths)
        list->header()->resizeSection(column++, width);
}

std::string ProgramFolder() {
    return platform::IncludeTrailingBackslash(platform::ExtractFilePath(platform::GetModuleFileName()));
}

void SetLabelTextColour(QLabel* label, const QColor& colour) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

} // namespace

namespace {

// Every label shows plain text: a caption is never read as markup, so that text from outside the program
// shows as the characters it holds. The caption as given stays readable as the label's "caption" property.
void ShowCaption(QLabel* label, const std::string& caption, const QString& shown) {
    label->setProperty("caption", QString::fromStdString(caption));
    label->setTextFormat(Qt::PlainText);
    label->setText(shown);
}

} // namespace

void SetCaption(QLabel* label, const std::string& caption) {
    // The toolkit's conventions: a carriage return breaks the line and a doubled ampersand shows as one.
    QString shown = QString::fromStdString(caption);
    shown.replace(QStringLiteral("\r"), QStringLiteral("\n"))
        .replace(QStringLiteral("&&"), QStringLiteral("&"));
    ShowCaption(label, caption, shown);
}

void SetPlainCaption(QLabel* label, const std::string& text) {
    ShowCaption(label, text, QString::fromStdString(text));
}

std::string Caption(const QLabel* label) {
    const QVariant caption = label->property("caption");
    return (caption.isValid() ? caption.toString() : label->text()).toStdString();
}

void ShowApplicationError(const std::exception& error) {
    platform::MessageBox(error.what(), ApplicationTitle, platform::MB_OK | platform::MB_ICONERROR);
}

// ==== Creation and destruction ====

TfrmMain::TfrmMain(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
    InitKVResources();
    setupUi(this);
    setFixedSize(692, 517);
    ApplyLook();
    PrepareLists();
    // No page is shown before the first showing.
    for (QWidget* panel :
         std::initializer_list<QWidget*>{pan_Main_Uninstall, pan_Main_Submit, pan_Main_Detail,
                                         pan_Main_Settings, pan_Main_Status, pan_Foot_Clean, pan_Foot_Submit,
                                         pan_Foot_Detail, pan_Foot_Settings, pan_Foot_Status, panCleanHint})
        panel->hide();

    timerUpdate = new QTimer(this);
    timerUpdate->setObjectName(QStringLiteral("timerUpdate"));
    timerUpdate->setInterval(30000);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    BindHandlers();
    FormCreate(this);
}

// The window's font, its style sheet, and the text colours that handlers change (kept in the palette, so
// that the style sheet does not fix them).
void TfrmMain::ApplyLook() {
    QFont windowFont(QStringLiteral("DejaVu Sans"));
    windowFont.setPixelSize(11);
    setFont(windowFont);
    QFile styleSheet(QStringLiteral(":/kv/KV.qss"));
    if (styleSheet.open(QIODevice::ReadOnly))
        setStyleSheet(QString::fromUtf8(styleSheet.readAll()));
    QPalette windowPalette = palette();
    windowPalette.setColor(QPalette::Window, Qt::white);
    windowPalette.setColor(QPalette::WindowText, QColor(41, 57, 80));
    setPalette(windowPalette);
    SetLabelTextColour(labAppVer, QColor(255, 251, 242));
    for (QLabel* value : {labSoftNum, labSoftVersion, labDataVersion, labSupportNum})
        SetLabelTextColour(value, QColor(41, 57, 80));
}

// Column widths of the layout; only the result lists sort on a header click. Columns keep the widths they
// are given: the last one does not stretch.
void TfrmMain::PrepareLists() {
    for (QTreeWidget* list : {lstvRList, lstvNList, lstvUS2Registry, lstvUS2File, lstvSoftInfo})
        list->header()->setStretchLastSection(false);
    for (QTreeWidget* list : {lstvUS2Registry, lstvUS2File, lstvSoftInfo})
        list->header()->setSectionsClickable(false);
    for (QTreeWidget* list : {lstvRList, lstvNList})
        list->header()->setSectionsClickable(true);
    SetColumnWidths(lstvRList, {50, 200, 205});
    SetColumnWidths(lstvNList, {50, 200, 100, 105});
    SetColumnWidths(lstvUS2Registry, {30, 530, 60});
    SetColumnWidths(lstvUS2File, {30, 590});
    SetColumnWidths(lstvSoftInfo, {40, 230});
}

TfrmMain::~TfrmMain() {
    FormDestroy(this);
    if (frmMain == this)
        frmMain = nullptr;
}

void TfrmMain::FormCreate(QObject*) {
    // Rounded corners: a region set once, the window cannot be resized.
    QPainterPath outline;
    outline.addRoundedRect(QRectF(0, 0, width(), height()), 10, 10);
    setMask(QRegion(outline.toFillPolygon().toPolygon()));

    FTrayIconData.hWnd = this;
    FTrayIconData.uID = reinterpret_cast<uintptr_t>(this);
    FTrayIconData.uFlags =
        TNotifyIconData::NIF_MESSAGE | TNotifyIconData::NIF_ICON | TNotifyIconData::NIF_TIP;
    FTrayIconData.uCallbackMessage = WM_TRAYICON;
    FTrayIconData.hIcon = ApplicationIcon();
    std::memset(FTrayIconData.szTip, 0, sizeof FTrayIconData.szTip);
    std::strncpy(FTrayIconData.szTip, ApplicationTitle, sizeof FTrayIconData.szTip - 1);
    setWindowIcon(FTrayIconData.hIcon);
    AddTrayIcon();
}

void TfrmMain::FormDestroy(QObject*) {
    RemoveTrayIcon();
    QCoreApplication::quit();
}

QIcon TfrmMain::ApplicationIcon() {
    // The program's main icon resource; the same icon from the resources when the program file has none.
    platform::TIconImage large, small;
    TPictureList largeList(32, 32), smallList(16, 16);
    QIcon icon;
    if (platform::ExtractIconPair(platform::GetModuleFileName(), 0, large, small) > 0 &&
        largeList.Add(large) >= 0) {
        icon.addPixmap(largeList.Picture(0));
        if (smallList.Add(small) >= 0)
            icon.addPixmap(smallList.Picture(0));
        return icon;
    }
    return QIcon(QStringLiteral(":/kv/korvane.ico"));
}

// ==== Tray icon ====

bool TfrmMain::ForceTrayIconForTesting = false;

void TfrmMain::AddTrayIcon() {
    // Without a notification area the program runs without the icon.
    if (FTrayIcon || !(QSystemTrayIcon::isSystemTrayAvailable() || ForceTrayIconForTesting))
        return;
    FTrayIcon = new QSystemTrayIcon(FTrayIconData.hIcon, this);
    FTrayIcon->setToolTip(QString::fromLatin1(FTrayIconData.szTip));
    connect(FTrayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        TMessage message;
        message.Msg = FTrayIconData.uCallbackMessage;
        message.WParam = FTrayIconData.uID;
        switch (reason) {
        case QSystemTrayIcon::DoubleClick:
            message.LParam = WM_LBUTTONDBLCLK;
            break;
        case QSystemTrayIcon::Context:
            message.LParam = WM_RBUTTONUP;
            break;
        case QSystemTrayIcon::Trigger:
            message.LParam = WM_LBUTTONUP;
            break;
        case QSystemTrayIcon::MiddleClick:
            message.LParam = WM_MBUTTONUP;
            break;
        default:
            return;
        }
        Guarded([&] { WMTrayIcon(message); });
    });
    FTrayIcon->show();
}

void TfrmMain::RemoveTrayIcon() {
    if (!FTrayIcon)
        return;
    FTrayIcon->hide();
    delete FTrayIcon;
    FTrayIcon = nullptr;
}

void TfrmMain::WMTrayIcon(TMessage& Message) {
    if (Message.Msg != WM_TRAYICON)
        return;
    switch (Message.LParam) {
    case WM_LBUTTONDBLCLK:
        if (IsApplicationMinimized())
            RestoreApplication();
        break;
    case WM_RBUTTONUP:
        if (isVisible()) {
            raise();
            activateWindow();
        }
        if (dm)
            dm->TrayPopMenu->popup(QCursor::pos());
        break;
    default:
        break;
    }
}

bool TfrmMain::IsApplicationMinimized() const {
    return FInTray || isMinimized();
}

void TfrmMain::MinimizeToTray() {
    setWindowState(windowState() | Qt::WindowMinimized);
    // Only with a tray icon to come back by does the window leave the taskbar.
    if (FTrayIcon) {
        FInTray = true;
        hide();
    }
}

void TfrmMain::RestoreApplication() {
    FInTray = false;
    showNormal();
    raise();
    activateWindow();
}

// ==== Showing and closing ====

void TfrmMain::setVisible(bool visible) {
    // The first showing runs FormShow before the window appears; when it sends the program into the tray,
    // the window does not appear at all.
    if (visible && !FFormShown) {
        FFormShown = true;
        Guarded([this] { FormShow(this); });
        if (FInTray)
            return;
    }
    QWidget::setVisible(visible);
}

void TfrmMain::FormShow(QObject*) {
    FSettingsFile = ProgramFolder() + SettingsFileName;
    // A missing settings file gets the default text. One that cannot be written is reported, and the window
    // still comes up with the default settings, so that the program stays usable.
    Guarded([this] { OpenSettingsFile(FSettingsFile); });
    InitView(0);
    InitView(1);
    InitView(2);
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    bool canClose = true;
    FormCloseQuery(this, canClose);
    if (!canClose) {
        event->ignore();
        return;
    }
    event->accept();
    QCoreApplication::quit();
}

void TfrmMain::FormCloseQuery(QObject*, bool& CanClose) {
    if (imgScan->isEnabled() && imgClean->isEnabled())
        return;
    platform::MessageBox(CloseRefusedText, "Error", platform::MB_OK | platform::MB_ICONINFORMATION);
    CanClose = false;
}

void TfrmMain::imgMinClick(QObject*) {
    MinimizeToTray();
}

void TfrmMain::imgCloseClick(QObject*) {
    close();
}

// ==== Header drag ====

void TfrmMain::imgLogoMouseDown(QObject*, Qt::MouseButton, Qt::MouseButtons, int X, int Y) {
    FDragX = X;
    FDragY = Y;
}

void TfrmMain::imgLogoMouseMove(QObject*, Qt::MouseButtons Shift, int X, int Y) {
    if (!(Shift & Qt::LeftButton))
        return;
    move(x() + X - FDragX, y());
    move(x(), y() + Y - FDragY);
}

// ==== Event binding ====

// The picture buttons: the normal picture while the pointer is off the button, the hover picture while it is
// over it.
const TfrmMain::TPictureButton TfrmMain::PictureButtons[] = {
    {&TfrmMain::imgMin, &Tdm::imglstOther, 0, 1, &TfrmMain::imgMinClick},
    {&TfrmMain::imgClose, &Tdm::imglstOther, 2, 3, &TfrmMain::imgCloseClick},
    {&TfrmMain::imgScan, &Tdm::imglstButton, 0, 1, &TfrmMain::imgScanClick},
    {&TfrmMain::imgClean, &Tdm::imglstButton, 2, 3, &TfrmMain::imgCleanClick},
    {&TfrmMain::imgCancel, &Tdm::imglstButton, 4, 5, &TfrmMain::imgCancelClick},
    {&TfrmMain::imgSCancel, &Tdm::imglstButton, 4, 5, &TfrmMain::imgSCancelClick},
    {&TfrmMain::imgDCancel, &Tdm::imglstButton, 8, 9, &TfrmMain::imgDCancelClick},
    {&TfrmMain::imgSubmit, &Tdm::imglstButton, 6, 7, &TfrmMain::imgSubmitClick},
    {&TfrmMain::imgHelp, &Tdm::imglstHelp, 0, 1, &TfrmMain::imgHelpClick},
    {&TfrmMain::imgBack, &Tdm::imglstHelp, 2, 3, &TfrmMain::imgSCancelClick},
    {&TfrmMain::imgSettings, &Tdm::imglstTopButton, 2, 3, &TfrmMain::imgSettingsClick},
    {&TfrmMain::imgSESave, &Tdm::imglstButton, 6, 7, &TfrmMain::imgSESaveClick},
    {&TfrmMain::imgSECancel, &Tdm::imglstButton, 4, 5, &TfrmMain::imgSCancelClick},
    {&TfrmMain::imgSTCancel, &Tdm::imglstButton, 8, 9, &TfrmMain::imgDCancelClick},
};

void TfrmMain::BindHandlers() {
    for (const TPictureButton& entry : PictureButtons)
        BindPictureButton(entry);

    BindButton(sbtnUpdate, &TfrmMain::sbtnUpdateClick);
    BindButton(sbtnSubmitSoft, &TfrmMain::sbtnSubmitSoftClick);
    BindButton(sbtnTechnical, &TfrmMain::sbtnTechnicalClick);
    // A check box's click handler also runs when its mark is set by the program.
    connect(chkSelectAll1, &QCheckBox::toggled, this,
            [this] { Guarded([this] { chkSelectAll1Click(chkSelectAll1); }); });
    connect(chkSelectAll2, &QCheckBox::toggled, this,
            [this] { Guarded([this] { chkSelectAll2Click(chkSelectAll2); }); });
    // Only the user's choice of a category runs the change handler.
    connect(cmbSupportSoft, &QComboBox::activated, this,
            [this] { Guarded([this] { cmbSupportSoftChange(cmbSupportSoft); }); });
    for (QTreeWidget* list : {lstvRList, lstvNList}) {
        connect(list->header(), &QHeaderView::sectionClicked, this,
                [this, list](int column) { Guarded([&] { lstvNListColumnClick(list, column); }); });
        list->viewport()->installEventFilter(this);
    }
    connect(timerUpdate, &QTimer::timeout, this,
            [this] { Guarded([this] { timerUpdateTimer(timerUpdate); }); });

    for (QWidget* picture : {static_cast<QWidget*>(imgLogo), static_cast<QWidget*>(imgHeader)})
        picture->installEventFilter(this);
    labSupportNum->installEventFilter(this);
}

void TfrmMain::BindPictureButton(const TPictureButton& entry) {
    TImageEx* button = this->*entry.Button;
    button->OnMouseEnter = [this, &entry](QObject*) { Guarded([&] { ShowButtonPicture(entry, true); }); };
    button->OnMouseLeave = [this, &entry](QObject*) { Guarded([&] { ShowButtonPicture(entry, false); }); };
    BindClick(button, entry.Click);
}

void TfrmMain::ShowButtonPicture(const TPictureButton& entry, bool hover) {
    // The toolkit's picture swap: the picture cleared, then the list's picture copied in.
    TImageEx* button = this->*entry.Button;
    button->clear();
    button->setPixmap((dm->*entry.List).Picture(hover ? entry.Hover : entry.Normal));
}

void TfrmMain::BindButton(QAbstractButton* button, void (TfrmMain::*click)(QObject*)) {
    connect(button, &QAbstractButton::clicked, this,
            [this, button, click] { Guarded([&] { (this->*click)(button); }); });
}

void TfrmMain::BindClick(TImageEx* button, void (TfrmMain::*click)(QObject*)) {
    connect(button, &TImageEx::Click, this,
            [this, button, click] { Guarded([&] { (this->*click)(button); }); });
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == imgLogo || watched == imgHeader) {
        if (event->type() == QEvent::MouseButtonPress) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            const QPoint at = mouse->position().toPoint();
            Guarded([&] { imgLogoMouseDown(watched, mouse->button(), mouse->buttons(), at.x(), at.y()); });
        } else if (event->type() == QEvent::MouseMove) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            const QPoint at = mouse->position().toPoint();
            Guarded([&] { imgLogoMouseMove(watched, mouse->buttons(), at.x(), at.y()); });
        }
    } else if (watched == labSupportNum) {
        if (event->type() == QEvent::Enter)
            Guarded([this] { labSupportNumMouseEnter(labSupportNum); });
        else if (event->type() == QEvent::Leave)
            Guarded([this] { labSupportNumMouseLeave(labSupportNum); });
        else if (event->type() == QEvent::MouseButtonRelease &&
                 static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            Guarded([this] { labSupportNumClick(labSupportNum); });
    } else if (event->type() == QEvent::MouseButtonDblClick) {
        if (watched == lstvRList->viewport())
            Guarded([this] { lstvRListDblClick(lstvRList); });
        else if (watched == lstvNList->viewport())
            Guarded([this] { lstvNListDblClick(lstvNList); });
    }
    return QWidget::eventFilter(watched, event);
}

// ==== Image buttons, hover pictures and links ====

void TfrmMain::labSupportNumMouseEnter(QObject*) {
    SetLabelTextColour(labSupportNum, QColor(0, 130, 203));
}
void TfrmMain::labSupportNumMouseLeave(QObject*) {
    SetLabelTextColour(labSupportNum, QColor(41, 57, 80));
}

void TfrmMain::imgHelpClick(QObject*) {
    const std::string helpFile = ProgramFolder() + "KVHelp.chm";
    ShowHelpOrLink(platform::FileExists(helpFile) ? helpFile : std::string(HomeSiteAddress) + "/help.php");
}

void TfrmMain::sbtnTechnicalClick(QObject*) {
    ShowHelpOrLink(std::string("mailto:") + SupportMailAddress);
}

void TfrmMain::ShowHelpOrLink(const std::string& file) {
    // Nothing is reported when nothing opens: the shell's answer is not looked at.
    platform::ShellExecuteA(this, "open", file, "", "", platform::SW_SHOWNORMAL);
}

// ==== Pages ====

void TfrmMain::ShowPanel(int Mode) {
    for (QWidget* panel : std::initializer_list<QWidget*>{
             pan_Foot_Scan, pan_Foot_Clean, pan_Foot_Submit, pan_Foot_Detail, pan_Foot_Settings,
             pan_Foot_Status, pan_Main_Uninstall, pan_Main_Submit, pan_Main_Detail, pan_Main_Settings,
             pan_Main_Status, panCleanHint})
        panel->hide();
    if (Mode == pmWelcome) {
        SetCaption(labTitle, "Welcome to KV");
        SetCaption(labHint, WelcomeHint);
    } else if (Mode == pmScanResults) {
        SetCaption(labTitle, "Scan results");
        SetCaption(labHint, ScanResultsHint);
    }
    QWidget* mainPanel = nullptr;
    QWidget* footPanel = pan_Foot_Scan;
    switch (Mode) {
    case pmWelcome:
        mainPanel = pan_Main_Uninstall;
        footPanel = pan_Foot_Scan;
        break;
    case pmScanResults:
        mainPanel = pan_Main_Uninstall;
        footPanel = pan_Foot_Clean;
        break;
    case pmSubmit:
        mainPanel = pan_Main_Submit;
        footPanel = pan_Foot_Submit;
        break;
    case pmDetail:
        mainPanel = pan_Main_Detail;
        footPanel = pan_Foot_Detail;
        break;
    case pmSettings:
        mainPanel = pan_Main_Settings;
        footPanel = pan_Foot_Settings;
        break;
    case pmSupportedSoftware:
        mainPanel = pan_Main_Status;
        footPanel = pan_Foot_Status;
        break;
    default:
        break;
    }
    if (mainPanel) {
        mainPanel->setGeometry(MainPanelArea);
        mainPanel->show();
    }
    footPanel->setGeometry(FootPanelArea);
    footPanel->show();
    if (Mode == pmWelcome) {
        lstvRList->clear();
        lstvNList->clear();
    } else if (Mode == pmSupportedSoftware) {
        cmbSupportSoftChange(nullptr);
    }
}

int TfrmMain::CurrentPanel() const {
    if (pan_Main_Uninstall->isVisibleTo(this))
        return pan_Foot_Clean->isVisibleTo(this) ? pmScanResults : pmWelcome;
    if (pan_Main_Submit->isVisibleTo(this))
        return pmSubmit;
    if (pan_Main_Detail->isVisibleTo(this))
        return pmDetail;
    if (pan_Main_Settings->isVisibleTo(this))
        return pmSettings;
    if (pan_Main_Status->isVisibleTo(this))
        return pmSupportedSoftware;
    return pmNone;
}

void TfrmMain::imgSettingsClick(QObject*) {
    ShowPanel(pmSettings);
}
void TfrmMain::sbtnSubmitSoftClick(QObject*) {
    ShowPanel(pmSubmit);
}
void TfrmMain::labSupportNumClick(QObject*) {
    ShowPanel(pmSupportedSoftware);
}

void TfrmMain::imgDCancelClick(QObject*) {
    ShowPanel(lstvRList->topLevelItemCount() + lstvNList->topLevelItemCount() > 0 ? pmScanResults
                                                                                  : pmWelcome);
}

void TfrmMain::imgSCancelClick(QObject* Sender) {
    imgDCancelClick(Sender);
}

void TfrmMain::imgCancelClick(QObject*) {
    ShowPanel(pmWelcome);
}

// ==== View set-up ====

void TfrmMain::InitView(uint16_t Stage) {
    switch (Stage) {
    case 0:
        InitPictures();
        break;
    case 1:
        InitSettings();
        break;
    case 2:
        InitVersions();
        break;
    default:
        break;
    }
}

void TfrmMain::InitPictures() {
    for (const TPictureButton& entry : PictureButtons)
        ShowButtonPicture(entry, false);
    ShowPanel(pmWelcome);
}

void TfrmMain::InitSettings() {
    const platform::TIniFile ini(FSettingsFile);
    const int viewStyle = ini.ReadInteger(SectionSettings, KeyViewStyle, DefaultViewStyle);
    const int hiddenRightTips = ini.ReadInteger(SectionSettings, KeyHiddenRightTips, 0);
    const int hiddenProcess = ini.ReadInteger(SectionSettings, KeyHiddenProcess, 0);
    const int autoUpdate = ini.ReadInteger(SectionSettings, KeyAutoUpdate, 0);
    const int deleteUpdate = ini.ReadInteger(SectionSettings, KeyDeleteUpdate, DefaultDeleteUpdate);
    const int windowsStartup = ini.ReadInteger(SectionSettings, KeyWindowsStartup, 0);
    const int startupMinimize = ini.ReadInteger(SectionSettings, KeyStartupMinimize, 0);
    const std::string lastTime = ini.ReadString(SectionUpdateInformation, KeyLastTime,
                                                platform::FormatDateTime(LastTimeFormat, platform::Now()));
    const std::string installDay =
        ini.ReadString(SectionUpdateInformation, KeyInstallDay,
                       EncodeSettingText(platform::FormatDateTime(InstallDayFormat, platform::Date())));

    SetPlainCaption(labInstallDay, DecodeSettingText(installDay));
    ApplyViewStyle(viewStyle);
    chkAutoUpdate->setChecked(autoUpdate == 1);
    if (autoUpdate == 1)
        timerUpdate->start();
    chkUpdateDel->setChecked(deleteUpdate == 1);
    SetPlainCaption(labLastTime, "Last Time: " + lastTime);
    pan_Uninstall_RightHint->setVisible(hiddenRightTips == 0);
    chkHideTip->setChecked(hiddenRightTips == 1);
    chkHideProcess->setChecked(hiddenProcess == 1);
    ApplyColumnWidths(hiddenRightTips == 1);
    chkWindowStart->setChecked(windowsStartup == 1);
    chkStartMin->setChecked(startupMinimize == 1);
    if (startupMinimize == 1)
        MinimizeToTray();
}

void TfrmMain::ApplyViewStyle(int viewStyle) {
    // The toolkit's list control has an icon, a list and a report view; in the first two a row shows only
    // its caption, and since the lists carry no images the two look alike here.
    const TListViewStyle style = viewStyle == 0 ? vsIcon : viewStyle == 2 ? vsReport : vsList;
    for (QTreeWidget* list : {lstvRList, lstvNList}) {
        list->setProperty("viewStyle", static_cast<int>(style));
        list->setHeaderHidden(style != vsReport);
        for (int column = 1; column < list->columnCount(); ++column)
            list->setColumnHidden(column, style != vsReport);
    }
}

TfrmMain::TListViewStyle TfrmMain::ViewStyle(const QTreeWidget* list) {
    return static_cast<TListViewStyle>(list->property("viewStyle").toInt());
}

void TfrmMain::ApplyColumnWidths(bool wide) {
    const TColumnWidths& widths = wide ? WideColumns : NormalColumns;
    lstvRList->header()->resizeSection(1, widths.RListName);
    lstvRList->header()->resizeSection(2, widths.RListDescription);
    lstvNList->header()->resizeSection(1, widths.NListName);
    lstvNList->header()->resizeSection(3, widths.NListPublisher);
}

void TfrmMain::InitVersions() {
    const std::string programFile = platform::GetModuleFileName();
    std::string version;
    GetFileVersion(programFile, version);
    if (!version.empty()) {
        const size_t firstDot = version.find('.');
        const std::string major = firstDot == std::string::npos ? std::string() : version.substr(0, firstDot);
        const std::string rest = firstDot == std::string::npos ? std::string() : version.substr(firstDot + 1);
        const size_t secondDot = rest.find('.');
        const std::string minor = secondDot == std::string::npos ? std::string() : rest.substr(0, secondDot);
        SetPlainCaption(labAppVer, "v" + major + "." + minor);
        SetPlainCaption(labSoftVersion,
                        platform::FormatDateTime("yyyy.mmdd.hhnn.ss", GetFileDate(programFile, 2)));
    }

    TUFileOp database("", "");
    SetPlainCaption(labDataVersion, database.GetDataVersion(0));
    SetCaption(labSupportNum, platform::IntToStr(database.CountSoftwareByCategory(0)) + " Software");
    cmbSupportSoft->clear();
    for (uint16_t category = 0; category <= 10; ++category) {
        const std::string count = platform::IntToStr(database.CountSoftwareByCategory(category));
        cmbSupportSoft->addItem(QString::fromStdString(
            category == 0 ? "All Types(" + count + ")" : SoftCategoryText(category) + " (" + count + ")"));
    }
    cmbSupportSoft->setCurrentIndex(0);
    SetCaption(labSubmitHint, SubmitHint);
}

// ==== Settings page ====

void TfrmMain::ApplyTipsBox(int hideTip) {
    pan_Uninstall_RightHint->setVisible(hideTip == 0);
    ApplyColumnWidths(hideTip == 1);
}

void TfrmMain::imgSESaveClick(QObject*) {
    platform::TIniFile ini = OpenSettingsFile(FSettingsFile);
    const int hideTip = chkHideTip->isChecked() ? 1 : 0;
    const int hideProcess = chkHideProcess->isChecked() ? 1 : 0;
    ApplyTipsBox(hideTip);
    ini.WriteInteger(SectionSettings, KeyHiddenRightTips, hideTip);
    ini.WriteInteger(SectionSettings, KeyHiddenProcess, hideProcess);
    ini.WriteInteger(SectionSettings, KeyAutoUpdate, chkAutoUpdate->isChecked() ? 1 : 0);
    ini.WriteInteger(SectionSettings, KeyDeleteUpdate, chkUpdateDel->isChecked() ? 1 : 0);
    {
        TURegistryOp registry;
        if (chkWindowStart->isChecked()) {
            ini.WriteInteger(SectionSettings, KeyWindowsStartup, 1);
            registry.SetRunValue(TURegistryOp::RunValueName, platform::GetModuleFileName());
        } else {
            ini.WriteInteger(SectionSettings, KeyWindowsStartup, 0);
            registry.DeleteRunValue(TURegistryOp::RunValueName);
        }
    }
    ini.WriteInteger(SectionSettings, KeyStartupMinimize, chkStartMin->isChecked() ? 1 : 0);
    platform::MessageBox(SettingsSavedText, "Save", platform::MB_OK | platform::MB_ICONINFORMATION);
}

// ==== Supported-software page ====

void TfrmMain::cmbSupportSoftChange(QObject*) {
    const int category = cmbSupportSoft->currentIndex();
    if (category < 0)
        return;
    lstvSoftInfo->clear();
    platform::TStringList names;
    {
        TUFileOp database("", "");
        database.ListSoftwareByCategory(names, static_cast<uint16_t>(category));
    }
    std::vector<QString> sorted;
    sorted.reserve(static_cast<size_t>(names.Count()));
    for (int i = 0; i < names.Count(); ++i)
        sorted.push_back(QString::fromStdString(names[i]));
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(sorted.begin(), sorted.end(),
              [&](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
    QList<QTreeWidgetItem*> rows;
    for (size_t i = 0; i < sorted.size(); ++i)
        rows.append(new QTreeWidgetItem(
            {QString::number(i + 1), QString::fromStdString(platform::Trim(sorted[i].toStdString()))}));
    lstvSoftInfo->addTopLevelItems(rows);
}

// ==== Server requests, update check and software submission ====

namespace {

constexpr const char* UpdateProgramName = "Update.exe";
const char* const SubmitCaption = "Submit Software";
const char* const SoftNameMissingText = "You do not enter the name of the software!";
const char* const SubmittedText = "Software information has been submitted!";
const char* const SubmitFailedText = "Sorry,The software failed to submit information!";

// The update checks under way, so that a test can wait for them to end.
std::mutex UpdateCheckLock;
std::condition_variable UpdateCheckEnded;
int UpdateChecksRunning = 0;

// What the check thread takes along: it never touches the window, which may be gone before the request
// ends (the thread ends with the process, not with the window).
struct TCheckUpdateParameter {
    std::string SettingsFile;
    std::string ProgramFolder;
};

// Records the time of an update start in the settings file, writing the default text first when the file
// is missing. Throws when the file cannot be written.
void WriteLastUpdateTime(const std::string& settingsFile) {
    platform::TIniFile ini = OpenSettingsFile(settingsFile);
    ini.WriteString(SectionUpdateInformation, KeyLastTime,
                    platform::FormatDateTime(LastTimeFormat, platform::Now()));
}

void StartUpdateProgram(const std::string& updateProgram) {
    // The shell's answer is not looked at: a failed start goes unnoticed.
    platform::ShellExecuteA(nullptr, "open", updateProgram, "", "", platform::SW_SHOWNORMAL);
}

// The last write of KV's own file in UTC, as whole Unix seconds. A file that cannot be opened gives today's
// date as the file-date function does, but without its message: the check shows nothing, and a message
// box is the main thread's alone.
std::string ProgramVersionStamp() {
    const std::string programFile = platform::GetModuleFileName();
    const platform::TDateTime written =
        platform::CanOpenForReading(programFile) ? GetFileDate(programFile, 2) : platform::Date();
    return platform::IntToStr(platform::DateTimeToUnix(written));
}

void CheckUpdateThread(const TCheckUpdateParameter& parameter) {
    // Whatever goes wrong here (a database file that cannot be made, a settings file that cannot be
    // written) ends the check silently; it never ends KV.
    try {
        const std::string programVer = ProgramVersionStamp();
        std::string dataVer, softDataVer;
        {
            TUFileOp database("", "");
            dataVer = database.GetDataVersion(1);
            softDataVer = database.GetSoftDataVersion(1);
        }
        const int result = TfrmMain::CheckUpdate(programVer, dataVer, softDataVer);
        const std::string updateProgram = parameter.ProgramFolder + UpdateProgramName;
        if (result > 0 && platform::FileExists(updateProgram)) {
            WriteLastUpdateTime(parameter.SettingsFile);
            StartUpdateProgram(updateProgram);
        }
    } catch (...) {
    }
    {
        std::lock_guard lock(UpdateCheckLock);
        --UpdateChecksRunning;
    }
    UpdateCheckEnded.notify_all();
}

std::string TrimmedText(const QLineEdit* edit) {
    return platform::Trim(edit->text().toStdString());
}

} // namespace

bool WaitForUpdateChecksForTesting(int milliseconds) {
    std::unique_lock lock(UpdateCheckLock);
    return UpdateCheckEnded.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                     [] { return UpdateChecksRunning == 0; });
}

void TfrmMain::timerUpdateTimer(QObject*) {
    {
        std::lock_guard lock(UpdateCheckLock);
        ++UpdateChecksRunning;
    }
    try {
        std::thread(CheckUpdateThread, TCheckUpdateParameter{FSettingsFile, ProgramFolder()}).detach();
    } catch (...) {
        std::lock_guard lock(UpdateCheckLock);
        --UpdateChecksRunning;
        throw;
    }
    timerUpdate->stop();
}

void TfrmMain::SaveLastUpdateTime() {
    WriteLastUpdateTime(FSettingsFile);
}

void TfrmMain::sbtnUpdateClick(QObject*) {
    const std::string updateProgram = ProgramFolder() + UpdateProgramName;
    if (platform::FileExists(updateProgram)) {
        SaveLastUpdateTime();
        StartUpdateProgram(updateProgram);
        return;
    }
    platform::MessageBox(std::string("Please visit ") + HomeSiteAddress + " download updates!", "Update",
                         platform::MB_OK | platform::MB_ICONINFORMATION);
}

void TfrmMain::imgSubmitClick(QObject*) {
    const uint32_t information = platform::MB_OK | platform::MB_ICONINFORMATION;
    if (TrimmedText(edtSoftName).empty()) {
        platform::MessageBox(SoftNameMissingText, SubmitCaption, information);
        return;
    }
    // The memo's lines joined by CR LF, as the toolkit's memo gives its text.
    const std::string other = platform::Trim(
        memoOther->toPlainText().replace(QStringLiteral("\n"), QStringLiteral("\r\n")).toStdString());
    const int result = SubmitSoft(TrimmedText(edtSoftName), TrimmedText(edtSoftVer),
                                  cmbOS->currentText().toStdString(), TrimmedText(edtDownLink), other,
                                  TrimmedText(edtEMail), cmbSoftType->currentText().toStdString());
    if (result != 0 && result != 1) {
        platform::MessageBox(SubmitFailedText, SubmitCaption, information);
        return;
    }
    platform::MessageBox(SubmittedText, SubmitCaption, information);
    for (QLineEdit* edit : {edtSoftName, edtSoftVer, edtDownLink, edtEMail})
        edit->clear();
    memoOther->clear();
}

int TfrmMain::CheckUpdate(const std::string& ProgramVer, const std::string& DataVer,
                          const std::string& SoftDataVer) {
    return PostServerRequest(UpdateRequest(ProgramVer, DataVer, SoftDataVer), CommandUpdate, false);
}

int TfrmMain::SubmitSoft(const std::string& SoftName, const std::string& SoftVer, const std::string& Os,
                         const std::string& DownloadLink, const std::string& Other, const std::string& Email,
                         const std::string& SoftType) {
    return PostServerRequest(SubmitSoftRequest(SoftName, SoftVer, SoftType, Os, DownloadLink, Other, Email),
                             CommandSubmitSoft, true);
}

// ==== Result lists and user commands ====
// Scan, Clean and the double-click only prepare the window and start the worker; the jobs themselves run
// after the handler has returned (threadUninstall).

namespace {

const char* const ScanningHint = "Korvane is now scanning\ryour system. \r\rPlease wait until the sacn is\r"
                                 "completed and the results are\rshown as left.";
const char* const NothingSelectedText = "Please select the software you want to remove first! ";
const char* const ConfirmRemovalText = "Are you sure you want to remove the selected software? ";

int CheckedRows(const QTreeWidget* list) {
    int checked = 0;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->checkState(0) == Qt::Checked)
            ++checked;
    return checked;
}

// The detail of a list's first selected row: its large icon and its name in the detail page's header.
void OpenDetail(TfrmMain& form, QTreeWidget* list) {
    QTreeWidgetItem* row = nullptr;
    for (int i = 0; i < list->topLevelItemCount() && !row; ++i)
        if (list->topLevelItem(i)->isSelected())
            row = list->topLevelItem(i);
    if (!row)
        return;
    form.imgUS1Soft->clear();
    form.imgUS1Soft->setPixmap(dm->imglstBigICO.Picture(row->data(0, RowImageIndexRole).toInt()));
    SetPlainCaption(form.labUS1Soft, row->text(1).toStdString());
    TUninstallThread::Create(umDetail);
}

void CheckEveryRow(QTreeWidget* list, bool checked) {
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        list->topLevelItem(i)->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
}

} // namespace

void TfrmMain::imgScanClick(QObject*) {
    SetCaption(labTitle, "Scan in progress");
    SetCaption(labHint, ScanningHint);
    // The job blocks the window: the texts must be on screen before it starts.
    labTitle->repaint();
    labHint->repaint();
    chkSelectAll1->setChecked(false);
    chkSelectAll2->setChecked(false);
    TUninstallThread::Create(umScan);
}

void TfrmMain::imgCleanClick(QObject*) {
    if (lstvRList->topLevelItemCount() + lstvNList->topLevelItemCount() == 0)
        return;
    if (CheckedRows(lstvRList) + CheckedRows(lstvNList) == 0) {
        platform::MessageBox(NothingSelectedText, "Error", platform::MB_OK | platform::MB_ICONINFORMATION);
        return;
    }
    if (platform::MessageBox(ConfirmRemovalText, "Confirm", platform::MB_YESNO | platform::MB_ICONQUESTION) ==
        platform::IDYES)
        TUninstallThread::Create(umClean);
}

void TfrmMain::lstvRListDblClick(QObject*) {
    OpenDetail(*this, lstvRList);
}

void TfrmMain::lstvNListDblClick(QObject*) {
    OpenDetail(*this, lstvNList);
}

void TfrmMain::chkSelectAll1Click(QObject*) {
    CheckEveryRow(lstvRList, chkSelectAll1->isChecked());
}

void TfrmMain::chkSelectAll2Click(QObject*) {
    CheckEveryRow(lstvNList, chkSelectAll2->isChecked());
}

void TfrmMain::lstvNListColumnClick(QObject* Sender, int Column) {
    auto* list = qobject_cast<QTreeWidget*>(Sender);
    if (!list)
        return;
    // The rows leave the list for the sort and come back in order, with their check marks and selection.
    std::vector<std::pair<QTreeWidgetItem*, bool>> rows;
    while (list->topLevelItemCount() > 0) {
        QTreeWidgetItem* row = list->topLevelItem(0);
        const bool selected = row->isSelected();
        rows.emplace_back(list->takeTopLevelItem(0), selected);
    }
    std::stable_sort(rows.begin(), rows.end(), [Column](const auto& a, const auto& b) {
        return ListViewColumnCompare(a.first, b.first, Column) < 0;
    });
    for (const auto& [row, selected] : rows) {
        list->addTopLevelItem(row);
        row->setSelected(selected);
    }
}

int ListViewColumnCompare(QTreeWidgetItem* Item1, QTreeWidgetItem* Item2, int Column) {
    // Column 0 is the caption, column n the sub-item n - 1: the row's text in that column. Only a to z fold.
    const std::string a = Item1->text(Column).toStdString();
    const std::string b = Item2->text(Column).toStdString();
    auto folded = [](char c) {
        const auto code = static_cast<unsigned char>(c);
        return code >= 'a' && code <= 'z' ? code - ('a' - 'A') : static_cast<int>(code);
    };
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (const int difference = folded(a[i]) - folded(b[i]); difference != 0)
            return difference;
    return static_cast<int>(a.size()) - static_cast<int>(b.size());
}
