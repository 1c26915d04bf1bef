#include "support/plainImageList.h"

int TPlainImageList::Add(const platform::TIconImage& picture) {
    if (picture.Empty())
        return -1;
    FImages.push_back(picture);
    return Count() - 1;
}
