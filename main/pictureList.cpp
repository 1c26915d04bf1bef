#include "main/pictureList.h"

#include <QImage>

int TPictureList::Add(const platform::TIconImage& picture) {
    if (picture.Empty() || picture.Pixels.size() < static_cast<size_t>(picture.Width) * picture.Height)
        return -1;
    // The icon's pixels are 0xAARRGGBB words, the layout of QImage's ARGB32.
    QImage image(reinterpret_cast<const uchar*>(picture.Pixels.data()), picture.Width, picture.Height,
                 picture.Width * 4, QImage::Format_ARGB32);
    return Add(QPixmap::fromImage(image.copy()));
}

int TPictureList::Add(const QPixmap& picture) {
    if (picture.isNull())
        return -1;
    FPictures.push_back(picture.size() == FSize
                            ? picture
                            : picture.scaled(FSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    return Count() - 1;
}

QPixmap TPictureList::Picture(int index) const {
    if (index >= 0 && index < Count())
        return FPictures[static_cast<size_t>(index)];
    QPixmap empty(FSize);
    empty.fill(Qt::transparent);
    return empty;
}
