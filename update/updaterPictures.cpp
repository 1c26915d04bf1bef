#include "update/updaterPictures.h"

#include "update/jpegImage.h"

#include <QColor>
#include <QFile>
#include <QImage>

namespace {

QPixmap PixmapOfJpeg(const QString& resource, const QSize& fallbackSize) {
    QFile file(resource);
    TJpegImage decoded;
    if (file.open(QIODevice::ReadOnly)) {
        QByteArray data = file.readAll();
        if (DecodeJpeg(std::string_view(data.constData(), static_cast<size_t>(data.size())), decoded)) {
            QImage image(decoded.Rgb.data(), decoded.Width, decoded.Height, decoded.Width * 3,
                         QImage::Format_RGB888);
            return QPixmap::fromImage(image.copy());
        }
    }
    QPixmap plain(fallbackSize);
    plain.fill(QColor(0, 130, 203));
    return plain;
}

} // namespace

QPixmap UpdaterSidePicture() {
    return PixmapOfJpeg(QStringLiteral(":/update/update_side.jpg"), QSize(133, 244));
}
