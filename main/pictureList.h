#pragma once

#include "common/imageList.h"

#include <QPixmap>
#include <QSize>
#include <vector>

// An image list of the window toolkit: pictures of one fixed size, appended at the end and found by index.
// A picture of another size is scaled to the list's size as it is added.
class TPictureList : public TImageList {
public:
    TPictureList(int width, int height) : FSize(width, height) {}

    QSize PictureSize() const { return FSize; }
    int Add(const platform::TIconImage& picture) override;
    int Add(const QPixmap& picture);
    int Count() const override { return static_cast<int>(FPictures.size()); }
    // Picture number Index; an index with no picture gives an empty (transparent) picture of the list's size.
    QPixmap Picture(int index) const;
    void Clear() { FPictures.clear(); }

private:
    QSize FSize;
    std::vector<QPixmap> FPictures;
};
