// View-wide state shared by the drawing code, the input logic and the desktop program.
#pragma once

#include <cstdint>

#include "geometry/vector4.h"

namespace korvan {

// Scene rotation in degrees: about Y first, then about X.
inline float g_rotY = 0.0f;
inline float g_rotX = 0.0f;
// 1 while the object is drawn (keys 1 and 2 flip them).
inline int32_t g_showObject1 = 1;
inline int32_t g_showObject2 = 1;
// 1: the current colour sets the material (object 1 dark red, object 2 dark blue).
inline int32_t g_coloredMaterials = 0;
// Which octree leaves are drawn: 0 none, 1 inner, 2 outer, 3 boundary, 4 unsorted, 5 all.
inline int32_t g_cellDisplayMode = 0;

// Mouse modes of the view.
enum : int32_t {
    kMouseIdle = 0,
    kMouseRotateScene = 1,
    kMouseMoveObject2 = 2,
    kMouseRotateObject2 = 3,
};
inline int32_t g_mouseMode = kMouseIdle;

struct MousePoint {
    int32_t x = 0;
    int32_t y = 0;
};
// Last mouse position in view client coordinates.
inline MousePoint g_lastMouse;

// Camera and projection of one view. The near and far planes are state of their own: placing
// the camera for a new object 1 sets them, and a resize keeps them.
struct ViewState {
    Vector4 m_eye{0.0f, 0.0f, 15.0f};
    Vector4 m_target;
    // The single-precision 0.01 widened to double, as the projection has always used it.
    double m_near = static_cast<double>(0.01f);
    double m_far = 100.0;
    int32_t m_width = 0;
    int32_t m_height = 0;
    double m_aspect = 1.0;
};

}  // namespace korvan
