#pragma once

#include "main/pictureList.h"

#include <memory>
#include <QObject>

class QAction;
class QMenu;

// The data module of KV: a window-less holder of the image lists of the main window and of the tray icon's
// popup menu. Created after the main window; other units reach it through the form variable dm.
class Tdm : public QObject {
    Q_OBJECT
public:
    explicit Tdm(QObject* parent = nullptr);
    ~Tdm() override;

    TPictureList imglstSmallICO{16, 16};
    TPictureList imglstBigICO{32, 32};
    TPictureList imglstButton{90, 91};
    QMenu* TrayPopMenu = nullptr;
    QAction* Rudarorovod1 = nullptr;
    QAction* UpdateOnline1 = nullptr;
    QAction* N2 = nullptr;
    QAction* Exit1 = nullptr;
    TPictureList imglstOther{30, 11};
    TPictureList imglstHelp{61, 31};
    TPictureList imglstTopButton{78, 18};

public slots:
    void Rudarorovod1Click();
    void UpdateOnline1Click();
    void Exit1Click();

private:
    void LoadPictures();
    void CreateTrayMenu();

    std::unique_ptr<QMenu> FTrayMenu; // a menu has no widget parent here
};

extern Tdm* dm;
