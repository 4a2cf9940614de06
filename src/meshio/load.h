// Preparation of a new mesh the way the open and generate commands do it (the reading is
// formats/mesh_file.h's loadObject).
#pragma once

#include <string>

#include "geometry/solid.h"
#include "geometry/status.h"

namespace korvan {

// Samples `fresh` with `samplingFactor`, computes its triangle data and, on success, moves
// it into `target`, which keeps its `wireframe` flag (and its `edgeLimit` when the factor
// switches sampling off). On failure `target` is left as it was.
//
// Where `plain` is given, it receives the mesh as it was before sampling (triangle data
// computed, `edgeLimit` that of the sampled mesh) when sampling split any triangle, and is
// cleared otherwise: the closed engine needs no sampling and works on it instead.
Status completeAndReplace(Solid& fresh, float samplingFactor, Solid& target,
                          Solid* plain = nullptr);

}  // namespace korvan
