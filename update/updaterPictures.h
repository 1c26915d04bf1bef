#pragma once

#include <QPixmap>

// The picture on the left of the updater's window.
QPixmap UpdaterSidePicture();
