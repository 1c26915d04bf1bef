#include "main/dm2.h"

#include "main/frmMain2.h"
#include "main/KV.h"

#include <QAction>
#include <QMenu>

Tdm* dm = nullptr;

Tdm::Tdm(QObject* parent) : QObject(parent) {
    InitKVResources();
    LoadPictures();
    CreateTrayMenu();
}

Tdm::~Tdm() {
    if (dm == this)
        dm = nullptr;
}

void Tdm::LoadPictures() {
    for (const char* name : {"scan", "clean", "cancel", "submit", "back"}) {
        imglstButton.Add(QPixmap(QStringLiteral(":/kv/button_%1.png").arg(QLatin1String(name))));
        imglstButton.Add(QPixmap(QStringLiteral(":/kv/button_%1_hover.png").arg(QLatin1String(name))));
    }
    for (const char* name : {"minimize", "close"}) {
        imglstOther.Add(QPixmap(QStringLiteral(":/kv/%1.png").arg(QLatin1String(name))));
        imglstOther.Add(QPixmap(QStringLiteral(":/kv/%1_hover.png").arg(QLatin1String(name))));
    }
    for (const char* name : {"help", "help_back"}) {
        imglstHelp.Add(QPixmap(QStringLiteral(":/kv/%1.png").arg(QLatin1String(name))));
        imglstHelp.Add(QPixmap(QStringLiteral(":/kv/%1_hover.png").arg(QLatin1String(name))));
    }
    // Pictures 0 and 1 of the header's text buttons belong to a button KV does not show; the settings
    // button takes 2 and 3.
    QPixmap unused(imglstTopButton.PictureSize());
    unused.fill(Qt::transparent);
    imglstTopButton.Add(unused);
    imglstTopButton.Add(unused);
    imglstTopButton.Add(QPixmap(QStringLiteral(":/kv/settings.png")));
    imglstTopButton.Add(QPixmap(QStringLiteral(":/kv/settings_hover.png")));
}

void Tdm::CreateTrayMenu() {
    FTrayMenu = std::make_unique<QMenu>();
    TrayPopMenu = FTrayMenu.get();
    TrayPopMenu->setObjectName(QStringLiteral("TrayPopMenu"));
    Rudarorovod1 =
        TrayPopMenu->addAction(QIcon(QStringLiteral(":/kv/tray_restore.png")), QStringLiteral("Korvane"));
    Rudarorovod1->setObjectName(QStringLiteral("Rudarorovod1"));
    UpdateOnline1 = TrayPopMenu->addAction(QIcon(QStringLiteral(":/kv/tray_update.png")),
                                           QStringLiteral("Update Online"));
    UpdateOnline1->setObjectName(QStringLiteral("UpdateOnline1"));
    N2 = TrayPopMenu->addSeparator();
    N2->setObjectName(QStringLiteral("N2"));
    Exit1 = TrayPopMenu->addAction(QStringLiteral(" Exit"));
    Exit1->setObjectName(QStringLiteral("Exit1"));
    connect(Rudarorovod1, &QAction::triggered, this, &Tdm::Rudarorovod1Click);
    connect(UpdateOnline1, &QAction::triggered, this, &Tdm::UpdateOnline1Click);
    connect(Exit1, &QAction::triggered, this, &Tdm::Exit1Click);
}

void Tdm::Rudarorovod1Click() {
    if (frmMain && frmMain->IsApplicationMinimized())
        frmMain->RestoreApplication();
}

// The same as a click on the "Online Upgrade" button, also while the window is in the tray.
void Tdm::UpdateOnline1Click() {
    if (frmMain)
        frmMain->sbtnUpdate->click();
}

// The same road as the close button: the close query decides.
void Tdm::Exit1Click() {
    if (frmMain)
        frmMain->close();
}
