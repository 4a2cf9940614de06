// Solids whose surface touches itself along an edge or at a point, written so that every
// vertex and edge of the file is manifold.
#pragma once

#include <cstdint>

#include "geometry/solid.h"

namespace korvan {

// Where a closed, consistently oriented mesh (judged on welded positions) pinches — four or
// more triangles on an edge, or triangles around a vertex that form more than one fan — gives
// each sheet its own copy of the shared vertices, so that the mesh is 2-manifold by its indices
// while every position stays where it was. At an edge the sheets are told apart by the order of
// the triangles around it: each pairs the triangle facing into a wedge of the solid with the
// one on the wedge's other side. Fills `out` (vertices welded by position, each sheet's copies
// appended after them; triangles, triangle data and box as in `in`) and returns true only when
// something was separated; a mesh that is not closed, or has nothing to separate, is left to
// the caller as it is.
bool separateSheets(const Solid& in, Solid& out);

}  // namespace korvan
