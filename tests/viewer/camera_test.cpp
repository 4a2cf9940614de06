// The view's camera rules without a window: placement for a new object, projection planes,
// eye-distance limits, key actions, mouse modes and the frame rate.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

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

    // Degenerate boxes give finite, ordered planes.
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
        applyWheel(view, scene, -120 * 50);
    }
    EXPECT_GT(view.m_eye.z, 0.0f);
    for (int i = 0; i < 1000; ++i) {
        applyWheel(view, scene, 120 * 50);
    }
    EXPECT_TRUE(std::isfinite(view.m_eye.z));
    view.m_eye.z = -4;  // a camera behind the target keeps its side
    scaleEyeDistance(view, 1e-12);
    EXPECT_LT(view.m_eye.z, 0.0f);
}

// Where the drawing puts a scene point, worked out here with the fixed-function pipeline's own
// steps (glRotatef y then x, the pivot, gluLookAt with +y up, gluPerspective 45 degrees):
// normalised device x and y.
struct Projected {
    double x, y;
};
Projected project(const ViewState& v, Vector4 point) {
    const double ax = v.m_rotX * std::numbers::pi / 180, ay = v.m_rotY * std::numbers::pi / 180;
    double x = point.x - v.m_pivot.x, y = point.y - v.m_pivot.y, z = point.z - v.m_pivot.z;
    double y1 = y * std::cos(ax) - z * std::sin(ax), z1 = y * std::sin(ax) + z * std::cos(ax);
    y = y1;
    z = z1;
    const double x1 = x * std::cos(ay) + z * std::sin(ay);
    z1 = -x * std::sin(ay) + z * std::cos(ay);
    x = x1;
    z = z1;
    // Camera axes of gluLookAt.
    const double ex = v.m_eye.x - v.m_target.x, ey = v.m_eye.y - v.m_target.y,
                 ez = v.m_eye.z - v.m_target.z;
    const double el = std::sqrt(ex * ex + ey * ey + ez * ez);
    const double fx = -ex / el, fy = -ey / el, fz = -ez / el;  // forward
    double sx = -fz, sz = fx;                                  // forward x up(0, 1, 0)
    const double sl = std::sqrt(sx * sx + sz * sz);
    sx /= sl;
    sz /= sl;
    const double ux = -sz * fy, uy = sz * fx - sx * fz, uz = sx * fy;  // side x forward
    const double px = x - v.m_eye.x, py = y - v.m_eye.y, pz = z - v.m_eye.z;
    const double depth = px * fx + py * fy + pz * fz;
    const double t = std::tan(22.5 * std::numbers::pi / 180);
    return {(px * sx + pz * sz) / (depth * t * v.m_aspect),
            (px * ux + py * uy + pz * uz) / (depth * t)};
}

void loadCube(Solid& solid, float a) {
    MakeCube(solid, a);
    solid.loaded = 1;
}

TEST_F(CameraTest, HomeCentresBothObjectsWithEvenMargins) {
    loadCube(scene.m_object1, 1.0f);
    loadCube(scene.m_object2, 0.6f);
    scene.m_object2Offset = Vector4(1.6f, 0.3f, 0.0f);  // beside the cube, a little higher
    setViewportSize(view, 800, 600);
    for (const auto& [rotX, rotY] : {std::pair{0.0f, 0.0f}, {20.0f, 30.0f}, {-40.0f, 110.0f}}) {
        view.m_rotX = rotX;
        view.m_rotY = rotY;
        ASSERT_TRUE(fitWholeSceneToView(view, scene));
        double left = 1, right = 1, bottom = 1, top = 1;
        for (const Solid* s : {&scene.m_object1, &scene.m_object2}) {
            const Vector4 move = s == &scene.m_object2 ? scene.m_object2Offset : Vector4();
            for (int i = 0; i < 8; ++i) {
                const Vector4 c((i & 1) ? s->maxCorner.x : s->minCorner.x,
                                (i & 2) ? s->maxCorner.y : s->minCorner.y,
                                (i & 4) ? s->maxCorner.z : s->minCorner.z);
                const Projected p = project(view, c + move);
                left = std::min(left, 1 + p.x);
                right = std::min(right, 1 - p.x);
                bottom = std::min(bottom, 1 + p.y);
                top = std::min(top, 1 - p.y);
            }
        }
        SCOPED_TRACE(testing::Message() << "turn " << rotX << ", " << rotY);
        // Both boxes inside, touching the tighter pair of sides with the margin's border, and
        // centred: the opposite margins agree.
        EXPECT_GT(std::min({left, right, bottom, top}), 0.02);
        EXPECT_NEAR(left, right, 0.01);
        EXPECT_NEAR(bottom, top, 0.01);
        EXPECT_LT(std::min(left + right, bottom + top), 0.4);
    }
    // With object 2 hidden, Home frames the cube alone: from the front, its middle is the
    // picture's.
    view.m_showObject2 = false;
    view.m_rotX = view.m_rotY = 0.0f;
    ASSERT_TRUE(fitWholeSceneToView(view, scene));
    const Projected middle = project(view, Vector4());
    EXPECT_NEAR(middle.x, 0.0, 1e-3);
    EXPECT_NEAR(middle.y, 0.0, 1e-3);
}

TEST_F(CameraTest, ZoomingInStopsOutsideTheShownObjects) {
    loadCube(scene.m_object1, 1.0f);
    setViewportSize(view, 800, 600);
    KeyTable keys;
    for (StandardView which : {StandardView::Front, StandardView::Iso}) {
        setStandardView(view, which);
        fitSceneToView(view, scene);
        double previous = length(view.m_eye);
        for (int i = 0; i < 200; ++i) {
            if (i % 2 == 0) {
                applyWheel(view, scene, -120 * 3);
            } else {
                keys.press(kVkPageUp);
                runKeyActions(keys, view, scene);
            }
            const double now = length(view.m_eye);
            EXPECT_LE(now, previous);
            previous = now;
        }
        // The eye point stays out of the cube [-0.5, 0.5]^3.
        const Vector4 e = view.m_eye;
        EXPECT_GT(std::max({std::fabs(e.x), std::fabs(e.y), std::fabs(e.z)}), 0.5f);
        EXPECT_LT(previous, 3.0);  // it did come close
        applyWheel(view, scene, 120);
        EXPECT_NEAR(length(view.m_eye), previous * 1.1, 1e-4);  // and goes back out
    }
    // A hidden object does not stop the eye.
    view.m_showObject1 = false;
    setStandardView(view, StandardView::Front);
    for (int i = 0; i < 100; ++i) {
        applyWheel(view, scene, -120 * 3);
    }
    EXPECT_LT(view.m_eye.z, 0.5f);
}

TEST_F(CameraTest, IsoViewMeetsTheThreeFacesAtDifferentAngles) {
    view.m_eye = Vector4(0, 0, 7);
    setStandardView(view, StandardView::Iso);
    const Vector4 e = view.m_eye;
    EXPECT_NEAR(length(e), 7.0, 1e-5);
    // The head-light's brightness of the +x, +y and +z faces follows these cosines: they must
    // be apart by a visible step, and all faces seen.
    const double cx = e.x / 7.0, cy = e.y / 7.0, cz = e.z / 7.0;
    EXPECT_GT(std::min({cx, cy, cz}), 0.3);
    EXPECT_GT(std::min({std::fabs(cx - cy), std::fabs(cy - cz), std::fabs(cx - cz)}), 0.1);
}

}  // namespace
}  // namespace korvan
