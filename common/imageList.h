#pragma once

#include "platform/peResources.h"

// A list of pictures of one size that rows refer to by index (the windows implement it with the toolkit's
// image list; tests with a plain one).
class TImageList {
public:
    virtual ~TImageList() = default;
    // Appends Picture after the last image; the new index, or -1 when nothing was added (an empty picture).
    virtual int Add(const platform::TIconImage& picture) = 0;
    virtual int Count() const = 0;
};
