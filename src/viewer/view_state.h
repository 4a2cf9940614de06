// The state of one view, shared by the drawing code, the input logic and the desktop program.
#pragma once

#include <cstdint>

#include "geometry/vector4.h"

namespace korvan {

// Mouse modes of the view.
enum : int32_t {
    kMouseIdle = 0,
    kMouseRotateScene = 1,
    kMouseMoveObject2 = 2,
    kMouseRotateObject2 = 3,
};

struct MousePoint {
    int32_t x = 0;
    int32_t y = 0;
};

// Near plane the camera is placed with for a new object 1: after reading a file (the
// single-precision 0.01 widened to double, as the projection has always used it) and after
// generating a primitive.
inline constexpr double kNearAfterReading = static_cast<double>(0.01f);
inline constexpr double kNearAfterGenerating = 0.5;

// Camera, projection and display switches of one view. The near and far planes are state of
// their own: placing the camera for a new object 1 sets them, and a resize keeps them.
struct ViewState {
    // Scene rotation in degrees: about Y first, then about X.
    float m_rotY = 0.0f;
    float m_rotX = 0.0f;
    // Whether each object is drawn (keys 1 and 2 flip them).
    bool m_showObject1 = true;
    bool m_showObject2 = true;
    // The current colour sets the material (object 1 dark red, object 2 dark blue).
    bool m_coloredMaterials = false;
    // Which octree leaves are drawn: 0 none, 1 inner, 2 outer, 3 boundary, 4 unsorted, 5 all.
    int32_t m_cellDisplayMode = 0;
    int32_t m_mouseMode = kMouseIdle;
    // Last mouse position in view client coordinates.
    MousePoint m_lastMouse;

    // Wheel rotation not yet turned into whole steps (touchpads send small deltas).
    int32_t m_wheelRemainder = 0;

    Vector4 m_eye{0.0f, 0.0f, 15.0f};
    Vector4 m_target;
    // The scene point that turns about the target and is shown at it: the origin for scenes in
    // the unit box, the middle of object 1's box where files keep their own coordinates.
    Vector4 m_pivot;
    double m_near = kNearAfterReading;
    double m_far = 100.0;
    int32_t m_width = 0;
    int32_t m_height = 0;
    double m_aspect = 1.0;
};

}  // namespace korvan
