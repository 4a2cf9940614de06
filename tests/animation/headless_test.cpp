// Frames drawn without a display by the view's drawing code and read back from the files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "generator/generators.h"
#include "image/decode.h"
#include "scene/animation.h"
#include "support/mesh_checks.h"
#include "viewer/camera.h"
#include "viewer/headless_context.h"
#include "viewer/headless_frames.h"

namespace korvan {
namespace {

constexpr int32_t kWidth = 160;
constexpr int32_t kHeight = 120;

bool isWhite(const uint8_t* p) {
    return p[0] == 255 && p[1] == 255 && p[2] == 255;
}
bool isDarkRed(const uint8_t* p) {
    return p[0] > 40 && p[0] < 200 && p[1] < 20 && p[2] < 20;
}
bool isDarkBlue(const uint8_t* p) {
    return p[2] > 40 && p[2] < 200 && p[0] < 20 && p[1] < 20;
}

int64_t countPixels(const RgbImage& image, bool (*test)(const uint8_t*)) {
    int64_t n = 0;
    for (int32_t y = 0; y < image.height; ++y) {
        for (int32_t x = 0; x < image.width; ++x) {
            n += test(image.pixel(x, y)) ? 1 : 0;
        }
    }
    return n;
}

// Cube (edge 2) as object 1 with the camera placed for it, a small sphere as object 2.
class HeadlessTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Software rendering, so that pictures do not depend on the machine's GPU.
        ::setenv("LIBGL_ALWAYS_SOFTWARE", "1", 0);
        const Status s = HeadlessContext::create(kWidth, kHeight, context);
        if (!s) {
            GTEST_SKIP() << "no headless OpenGL context: " << s.message();
        }
        scene.m_samplingFactor = 0.08f;
        ASSERT_TRUE(scene.GenerateObject(1, PrimitiveParameters::cube(2.0f)).ok());
        ASSERT_TRUE(scene.GenerateObject(2, PrimitiveParameters::sphere(8, 12, 0.3f)).ok());
        placeCameraForObject(view, scene.m_object1, kNearAfterGenerating);
        view.m_coloredMaterials = true;
        view.m_rotY = 30.0f;
        view.m_rotX = 20.0f;
    }

    std::unique_ptr<HeadlessContext> context;
    Scene scene;
    ViewState view;
    test::TempDir dir;
};

TEST_F(HeadlessTest, DrawsTheSceneInTheViewsColours) {
    HeadlessFrameSink sink(*context, view);
    RgbImage picture;
    scene.m_object2Offset = Vector4(0.0f, 0.0f, 1.5f);  // in front of the cube, towards the eye

    // Without coloured materials (on a fresh context) both objects show the default grey.
    view.m_coloredMaterials = false;
    ASSERT_TRUE(sink.drawAndRead(scene, picture).ok());
    EXPECT_EQ(countPixels(picture, isDarkRed), 0);
    const uint8_t* centre = picture.pixel(kWidth / 2, kHeight / 2);
    EXPECT_FALSE(isWhite(centre));
    EXPECT_EQ(centre[0], centre[1]);
    EXPECT_EQ(centre[1], centre[2]);

    view.m_coloredMaterials = true;
    ASSERT_TRUE(sink.drawAndRead(scene, picture).ok());
    ASSERT_EQ(picture.width, kWidth);
    ASSERT_EQ(picture.height, kHeight);
    EXPECT_TRUE(isWhite(picture.pixel(0, 0)));
    EXPECT_TRUE(isWhite(picture.pixel(kWidth - 1, kHeight - 1)));
    EXPECT_GT(countPixels(picture, isDarkRed), kWidth * kHeight / 10);
    EXPECT_GT(countPixels(picture, isDarkBlue), 20);
}

TEST_F(HeadlessTest, MillingFramesShowTheWorkpieceAloneAndPreviewFramesTheTool) {
    scene.m_object2Offset = Vector4(0.9f, 0.9f, 0.9f);
    AnimationSettings settings;
    settings.x.step = -0.4f;
    settings.frameCount = 3;
    settings.format = "bmp";
    HeadlessFrameSink sink(*context, view);
    for (int32_t preview : {1, 0}) {
        settings.preview = preview;
        settings.outputFile = dir.path(preview ? "pre" : "mill");
        const AnimationResult r = RunAnimation(scene, settings, sink);
        EXPECT_EQ(r.framesDone, 3);
        EXPECT_EQ(r.framesNotWritten, 0);
        for (int32_t i = 0; i < 3; ++i) {
            const std::string name = imageFileName(settings.outputFile, i, "bmp");
            testing::DecodedImage decoded;
            ASSERT_TRUE(decodeImageFile(name, decoded)) << name;
            EXPECT_TRUE(isWhite(decoded.image.pixel(0, 0)));
            EXPECT_GT(countPixels(decoded.image, isDarkRed), 100);
            const int64_t blue = countPixels(decoded.image, isDarkBlue);
            if (preview) {
                EXPECT_GT(blue, 0) << name;
            } else {
                EXPECT_EQ(blue, 0) << name;
            }
        }
        EXPECT_FALSE(std::filesystem::exists(imageFileName(settings.outputFile, 3, "bmp")));
    }
}

}  // namespace
}  // namespace korvan
