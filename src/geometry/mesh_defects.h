// What a user is told about a mesh that is not a clean solid.
#pragma once

#include <string>

#include "geometry/mesh_topology.h"

namespace korvan {

// One Croatian line per defect (open edges, non-manifold edges, inconsistent orientation,
// triangles of no area, no volume or inside out), each ending in a newline; empty for a closed,
// consistently oriented, edge-manifold mesh of non-degenerate triangles with positive volume.
std::string describeDefects(const MeshTopology& topology);

}  // namespace korvan
