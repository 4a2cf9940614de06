// The exact convex hull of float points, shared by the tool meshes and the swept volumes (and
// the tests' random solids, for a mesh that does not depend on what ran before). The only file
// here compiled with CGAL.
#pragma once

#include <vector>

#include "geometry/solid.h"

namespace korvan::gcode {

// The convex hull of `points` as a closed, outward-oriented triangle mesh whose vertices are
// some of the points themselves (no new coordinates): orientation tests are exact, so the hull
// of the floats is convex to the last bit. Vertices come sorted by position and triangles by
// their corners, so the same set of points gives the same mesh in any order. Returns false,
// leaving `out` alone, when the points span no volume (fewer than four, or all on one plane).
// `out` gets triangle data and box and is marked loaded.
bool convexHullOf(const std::vector<Vector4>& points, Solid& out);

}  // namespace korvan::gcode
