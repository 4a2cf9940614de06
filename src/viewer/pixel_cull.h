// Leaves out of a draw the triangles that cannot change a pixel: those whose window-space
// box, widened by a margin above the rasteriser's and the transform's rounding, holds no pixel
// centre of the viewport. A triangle that covers no pixel centre writes neither colour nor depth,
// so the picture is the same with or without it; a mesh of a million triangles seen in a 640 x 480
// view has most of its triangles between pixel centres, and OpenGL would transform, light and
// set up every one of them.
//
// Sound only for filled polygons rasterised at pixel centres: not for wireframe, nor where the
// framebuffer has sample buffers (callers check `cullsAtPixelCentres`).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "geometry/solid.h"

namespace korvan {

// Where object coordinates land on the screen for the current draw.
struct WindowMapping {
    std::array<double, 16> matrix{};     // projection times modelview, column-major as OpenGL's
    std::array<double, 16> magnitude{};  // the same product of the entries' magnitudes
    std::array<int32_t, 4> viewport{};
};

// A corner's window position and how far it may be off where OpenGL puts it.
using WindowCorner = std::array<float, 3>;

// The current OpenGL matrices and viewport.
WindowMapping currentWindowMapping();

// True when the bound framebuffer samples each pixel at its centre only (no multisampling).
bool cullsAtPixelCentres();

// True when the whole box from `lo` to `hi` lies beyond one plane of the view volume under
// `mapping`, farther than OpenGL's single-precision transform can err anywhere in it: every
// primitive within the box is clipped away whole, and drawing it changes no pixel.
bool boxOutOfView(const WindowMapping& mapping, const Vector4& lo, const Vector4& hi);

// True when the whole box from `lo` to `hi` lies beyond the near plane under `mapping`, farther
// than the transform can err: the eye then sees the box from outside, and every line of sight
// starts outside it.
bool boxBeyondNearPlane(const WindowMapping& mapping, const Vector4& lo, const Vector4& hi);

// Fills `corners` with normal then position of each corner of the triangles of `solid` that
// may cover a pixel centre under `mapping`, in the solid's order, each corner with its
// triangle's normal. With `frontOnly` (OpenGL culls back faces), triangles that turn clockwise
// in the window wherever the transform may put their corners are left out too. `window` is
// scratch kept between calls.
void fillCoveringCorners(const Solid& solid, const WindowMapping& mapping,
                         std::vector<float>& corners, std::vector<WindowCorner>& window,
                         bool frontOnly = false);

// Writes normal then position of each corner of `t`, a triangle of `solid`, from `out` on (the
// layout of the vertex arrays); returns where the next triangle's corners go.
float* putCorners(const Solid& solid, const Triangle& t, float* out);

}  // namespace korvan
