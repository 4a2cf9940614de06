// Preparation of a new mesh the way the open and generate commands do it.
#pragma once

#include <string>

#include "geometry/solid.h"
#include "geometry/status.h"

namespace korvan {

// Samples `fresh` with `samplingFactor`, computes its triangle data and, on success, moves
// it into `target`, which keeps its `wireframe` flag (and its `edgeLimit` when the factor
// switches sampling off). On failure `target` is left as it was.
Status completeAndReplace(Solid& fresh, float samplingFactor, Solid& target);

// The open-object flow without its dialog: read, normalise, sample, triangle data.
// `target` is replaced only on success.
Status loadObject(const std::string& path, float samplingFactor, Solid& target);

}  // namespace korvan
