#pragma once

#include "common/imageList.h"

#include <vector>

// An image list that keeps its pictures in memory, so that tests can look at what was added.
class TPlainImageList : public TImageList {
public:
    int Add(const platform::TIconImage& picture) override;
    int Count() const override { return static_cast<int>(FImages.size()); }
    const platform::TIconImage& Image(int index) const { return FImages.at(static_cast<size_t>(index)); }

private:
    std::vector<platform::TIconImage> FImages;
};
