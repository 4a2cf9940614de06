// Pictures of the standard views drawn headless: the head-light must tell a box's visible
// faces apart, or its edges vanish.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

#include "scene/scene.h"
#include "viewer/camera.h"
#include "viewer/headless_frames.h"

namespace korvan {
namespace {

// The grey levels that cover at least 2% of the picture each, background left out.
std::vector<int> mainShades(const RgbImage& picture) {
    std::map<int, int64_t> counts;
    for (int32_t y = 0; y < picture.height; ++y) {
        for (int32_t x = 0; x < picture.width; ++x) {
            const uint8_t* p = picture.pixel(x, y);
            if (p[0] != 255 || p[1] != 255 || p[2] != 255) {
                ++counts[p[0]];
            }
        }
    }
    std::vector<int> shades;
    const int64_t enough = int64_t{picture.width} * picture.height / 50;
    for (const auto& [shade, count] : counts) {
        if (count >= enough) {
            shades.push_back(shade);
        }
    }
    return shades;
}

TEST(ViewShading, IsoViewShowsThreeShadesOfACube) {
    ::setenv("LIBGL_ALWAYS_SOFTWARE", "1", 0);
    std::unique_ptr<HeadlessContext> context;
    if (const Status s = HeadlessContext::create(320, 240, context); !s) {
        GTEST_SKIP() << "no headless OpenGL context: " << s.message();
    }
    Scene scene;
    ASSERT_TRUE(scene.GenerateObject(1, PrimitiveParameters::cube(1.0f)).ok());
    ViewState view;
    HeadlessFrameSink sink(*context, view);
    placeCameraForObject(view, scene.m_object1, kNearAfterGenerating);
    RgbImage picture;

    setStandardView(view, StandardView::Iso);
    fitSceneToView(view, scene);
    applyViewport(view);
    ASSERT_TRUE(sink.drawAndRead(scene, picture).ok());
    const std::vector<int> shades = mainShades(picture);
    ASSERT_EQ(shades.size(), 3u);
    // Apart by a step the eye sees at once.
    EXPECT_GE(shades[1] - shades[0], 15);
    EXPECT_GE(shades[2] - shades[1], 15);

    // From the front, the head-light meets one face square on: one shade.
    setStandardView(view, StandardView::Front);
    fitSceneToView(view, scene);
    applyViewport(view);
    ASSERT_TRUE(sink.drawAndRead(scene, picture).ok());
    EXPECT_EQ(mainShades(picture).size(), 1u);
}

}  // namespace
}  // namespace korvan
