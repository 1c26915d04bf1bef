#include "update/jpegImage.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <turbojpeg.h>

namespace {

// A JPEG of a picture whose left half is red and right half blue.
std::string EncodedPicture(int width, int height) {
    std::vector<unsigned char> rgb(static_cast<size_t>(width * height * 3));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            unsigned char* pixel = &rgb[static_cast<size_t>((y * width + x) * 3)];
            pixel[0] = x < width / 2 ? 220 : 0;
            pixel[2] = x < width / 2 ? 0 : 220;
        }
    tjhandle encoder = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    EXPECT_EQ(tjCompress2(encoder, rgb.data(), width, 0, height, TJPF_RGB, &jpeg, &size, TJSAMP_444, 95, 0),
              0);
    std::string data(reinterpret_cast<char*>(jpeg), size);
    tjFree(jpeg);
    tjDestroy(encoder);
    return data;
}

TEST(JpegImageTest, DecodesSizeAndColours) {
    TJpegImage image;
    ASSERT_TRUE(DecodeJpeg(EncodedPicture(133, 244), image));
    EXPECT_EQ(image.Width, 133);
    EXPECT_EQ(image.Height, 244);
    ASSERT_EQ(image.Rgb.size(), size_t{133 * 244 * 3});
    const uint8_t* left = &image.Rgb[(100 * 133 + 10) * 3];
    const uint8_t* right = &image.Rgb[(100 * 133 + 120) * 3];
    EXPECT_NEAR(left[0], 220, 8);
    EXPECT_NEAR(left[2], 0, 8);
    EXPECT_NEAR(right[0], 0, 8);
    EXPECT_NEAR(right[2], 220, 8);
}

TEST(JpegImageTest, RefusesWhatIsNoPicture) {
    std::string good = EncodedPicture(64, 32);
    // The frame header (SOF0: FF C0, length, precision, height, width) claims a picture too large.
    std::string huge = good;
    size_t frame = huge.find("\xFF\xC0");
    ASSERT_NE(frame, std::string::npos);
    huge[frame + 5] = '\x7F';
    huge[frame + 7] = '\x7F';
    TJpegImage image;
    for (const std::string& data : {std::string(), std::string("not a picture"), good.substr(0, 20), huge}) {
        EXPECT_FALSE(DecodeJpeg(data, image));
        EXPECT_EQ(image.Width, 0);
        EXPECT_TRUE(image.Rgb.empty());
    }
}

} // namespace
