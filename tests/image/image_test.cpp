#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "image/decode.h"
#include "image/image.h"
#include "support/format_checks.h"
#include "support/mesh_checks.h"

namespace korvan {
namespace {

namespace fs = std::filesystem;
using testing::DecodedImage;
using testing::decodeImageFile;

// White background, a dark red block on the left and a dark blue one on the right; odd width
// so that BMP rows need padding.
RgbImage testPicture() {
    RgbImage image(61, 40);
    for (int32_t y = 10; y < 30; ++y) {
        for (int32_t x = 5; x < 25; ++x) {
            uint8_t* p = image.pixels.data() + (static_cast<size_t>(y) * image.width + x) * 3;
            p[0] = 128;
            p[1] = p[2] = 0;
        }
        for (int32_t x = 35; x < 55; ++x) {
            uint8_t* p = image.pixels.data() + (static_cast<size_t>(y) * image.width + x) * 3;
            p[0] = p[1] = 0;
            p[2] = 128;
        }
    }
    return image;
}

void expectColourNear(const RgbImage& image, int32_t x, int32_t y, int r, int g, int b, int tol) {
    const uint8_t* p = image.pixel(x, y);
    EXPECT_NEAR(p[0], r, tol) << "at " << x << "," << y;
    EXPECT_NEAR(p[1], g, tol) << "at " << x << "," << y;
    EXPECT_NEAR(p[2], b, tol) << "at " << x << "," << y;
}

class ImageFiles : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return m_dir.path(name); }
    int64_t fileCount() const { return test::entryCount(m_dir.dir()); }
    test::TempDir m_dir;
};

TEST(ImageNames, FollowTheFrameNumberPatternAndChooseTheEncoderByTheNamesExtension) {
    EXPECT_EQ(imageFileName("film", 7, "JPG"), "film0007.JPG");
    EXPECT_EQ(imageFileName("a", 12345, "bmp"), "a12345.bmp");
    EXPECT_EQ(imageFileName("out/anim", 999, "png"), "out/anim0999.png");
    EXPECT_EQ(fileExtension("a/b.c/frame"), "");
    EXPECT_EQ(fileExtension("x.tar.png"), ".png");
    // The rarer names of the encoders and nothing else (the common extensions are written back
    // by the format tests below and the command line's).
    EXPECT_EQ(findImageEncoder("a.dib")->format, ImageFormat::Bmp);
    EXPECT_EQ(findImageEncoder("a.JFIF")->format, ImageFormat::Jpeg);
    for (const char* name : {"a.tif", "a.jp", "a.bmpx", "a", "a.", "dir.bmp/a"}) {
        EXPECT_EQ(findImageEncoder(name), nullptr) << name;
    }
}

TEST_F(ImageFiles, EveryFormatDecodesToThePictureWritten) {
    const RgbImage picture = testPicture();
    struct Case {
        const char* name;
        const char* format;
        int tolerance;  // 0: must match exactly (GIF too, with three colours)
    };
    for (const Case c : {Case{"a.bmp", "BMP", 0}, Case{"a.BMP", "BMP", 0}, Case{"a.png", "PNG", 0},
                         Case{"a.PNG", "PNG", 0}, Case{"a.gif", "GIF", 0}, Case{"a.GIF", "GIF", 0},
                         Case{"a.jpg", "JPEG", 24}, Case{"a.JPG", "JPEG", 24}}) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(writeImage(picture, path(c.name)).ok());
        DecodedImage decoded;
        ASSERT_TRUE(decodeImageFile(path(c.name), decoded));
        EXPECT_EQ(decoded.format, c.format);
        ASSERT_EQ(decoded.image.width, picture.width);
        ASSERT_EQ(decoded.image.height, picture.height);
        if (c.tolerance == 0) {
            EXPECT_EQ(decoded.image.pixels, picture.pixels);
        }
        // Background, block centres and a corner of each block (where JPEG blurs most).
        expectColourNear(decoded.image, 0, 0, 255, 255, 255, c.tolerance);
        expectColourNear(decoded.image, 60, 39, 255, 255, 255, c.tolerance);
        expectColourNear(decoded.image, 15, 20, 128, 0, 0, c.tolerance);
        expectColourNear(decoded.image, 45, 20, 0, 0, 128, c.tolerance);
        expectColourNear(decoded.image, 6, 11, 128, 0, 0, 2 * c.tolerance);
    }
}

TEST_F(ImageFiles, GifKeepsManyColoursWithinTheQuantisationError) {
    // A smooth gradient needs more than 256 colours; the palette still approximates it.
    RgbImage picture(64, 64);
    for (int32_t y = 0; y < 64; ++y) {
        for (int32_t x = 0; x < 64; ++x) {
            uint8_t* p = picture.pixels.data() + (static_cast<size_t>(y) * 64 + x) * 3;
            p[0] = static_cast<uint8_t>(4 * x);
            p[1] = static_cast<uint8_t>(4 * y);
            p[2] = static_cast<uint8_t>(2 * (x + y));
        }
    }
    ASSERT_TRUE(writeImage(picture, path("g.gif")).ok());
    DecodedImage decoded;
    ASSERT_TRUE(decodeImageFile(path("g.gif"), decoded));
    double error = 0;
    for (size_t i = 0; i < picture.pixels.size(); ++i) {
        error += std::abs(int{picture.pixels[i]} - int{decoded.image.pixels[i]});
    }
    EXPECT_LT(error / static_cast<double>(picture.pixels.size()), 8.0);
}

// An unknown extension, nothing to encode, a broken picture, a missing folder.
TEST_F(ImageFiles, FailedWriteLeavesTheExistingFileAndNoTemporary) {
    for (const char* name : {"a.tif", "a", "a."}) {
        EXPECT_EQ(writeImage(testPicture(), path(name)).message(), kImageSaveErrorMessage);
    }
    EXPECT_EQ(fileCount(), 0);
    const std::string target = path("keep.bmp");
    ASSERT_TRUE(writeImage(testPicture(), target).ok());
    const auto before = fs::file_size(target);
    EXPECT_FALSE(writeImage(RgbImage(), target).ok());  // nothing to encode
    RgbImage broken = testPicture();
    broken.pixels.pop_back();
    EXPECT_FALSE(writeImage(broken, target).ok());
    EXPECT_EQ(fs::file_size(target), before);
    EXPECT_EQ(fileCount(), 1);
    EXPECT_FALSE(writeImage(testPicture(), path("missing/dir/a.png")).ok());
}

TEST(ImageEncoding, IsDeterministic) {
    for (ImageFormat format :
         {ImageFormat::Bmp, ImageFormat::Jpeg, ImageFormat::Gif, ImageFormat::Png}) {
        std::vector<uint8_t> a, b;
        ASSERT_TRUE(encodeImage(testPicture(), format, a).ok());
        ASSERT_TRUE(encodeImage(testPicture(), format, b).ok());
        EXPECT_EQ(a, b);
    }
}

}  // namespace
}  // namespace korvan
