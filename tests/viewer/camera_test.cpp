// The view's camera rules without a window: placement for a new object, projection planes,
// eye-distance limits, key actions, mouse modes and the frame rate.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "generator/generators.h"
#include "scene/scene.h"
#include "viewer/camera.h"

namespace korvan {
namespace {

class CameraTest : public ::testing::Test {
protected:
    ViewState view;
    Scene scene;
};

TEST_F(CameraTest, PlacingForAnObjectKeepsItBetweenTheProjectionPlanes) {
    Solid cube;
    MakeCube(cube, 1.0f);
    placeCameraForObject(view, cube, 0.5);
    const double d = std::sqrt(3.0);
    EXPECT_FLOAT_EQ(view.m_eye.z, static_cast<float>(d));
    EXPECT_FLOAT_EQ(view.m_far, 50 * d);
    // The near plane never cuts into a small shape: at most a tenth of the diagonal.
    EXPECT_LE(view.m_near, d / 10);

    Solid big;
    MakeCube(big, 5000.0f);
    placeCameraForObject(view, big, static_cast<double>(0.01f));
    EXPECT_DOUBLE_EQ(view.m_near, static_cast<double>(0.01f));
    EXPECT_GT(view.m_far, view.m_eye.z + length(big.maxCorner - big.minCorner));
}

TEST_F(CameraTest, DegenerateBoxesGiveFiniteOrderedPlanes) {
    Solid flat;  // zero box
    Solid broken;
    broken.maxCorner = Vector4(std::numeric_limits<float>::infinity(), 0, 0);
    for (const Solid* s : {&flat, &broken}) {
        placeCameraForObject(view, *s, 0.5);
        EXPECT_TRUE(std::isfinite(view.m_eye.z));
        EXPECT_NE(view.m_eye.z, 0.0f);
        EXPECT_GT(view.m_near, 0.0);
        EXPECT_LT(view.m_near, view.m_far);
        EXPECT_TRUE(std::isfinite(view.m_far));
    }
}

TEST_F(CameraTest, KeysActOncePerTickInTheirOrder) {
    Solid& a = scene.m_object1;
    Solid& b = scene.m_object2;
    a.wireframe = 1;
    KeyTable keys;
    EXPECT_FALSE(runKeyActions(keys, view, scene));
    keys.press(kVkPageDown);
    keys.press(kVkF);
    keys.press(kVk2);
    keys.press(65);   // A: latched, no action
    keys.press(300);  // outside the table: ignored
    keys.press(-1);
    EXPECT_TRUE(runKeyActions(keys, view, scene));
    EXPECT_EQ(view.m_eye.z, 15.0f * 1.1f);
    EXPECT_EQ(a.wireframe, 0);
    EXPECT_EQ(b.wireframe, 0);
    EXPECT_FALSE(view.m_showObject2);
    EXPECT_EQ(keys.m_keyDown[65], 1);
    EXPECT_FALSE(runKeyActions(keys, view, scene));  // entries were cleared
    keys.release(65);
    EXPECT_EQ(keys.m_keyDown[65], 0);
}

TEST_F(CameraTest, EyeDistanceStaysFiniteAndNonZero) {
    for (int i = 0; i < 1000; ++i) {
        applyWheel(view, -120 * 50);
    }
    EXPECT_GT(view.m_eye.z, 0.0f);
    for (int i = 0; i < 1000; ++i) {
        applyWheel(view, 120 * 50);
    }
    EXPECT_TRUE(std::isfinite(view.m_eye.z));
    view.m_eye.z = -4;  // a camera behind the target keeps its side
    scaleEyeDistance(view, 1e-12);
    EXPECT_LT(view.m_eye.z, 0.0f);
}

}  // namespace
}  // namespace korvan
