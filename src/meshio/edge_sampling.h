// Refinement of a mesh until no edge is longer than a fraction of its box diagonal.
#pragma once

#include "geometry/solid.h"
#include "geometry/status.h"

namespace korvan {

// Sampling factor a new scene reads and generates with; sampling happens only when
// 0 < factor < 1.
inline constexpr float kDefaultSamplingFactor = 0.01f;

// Splits triangles at the midpoint of their longest edge (ties: edge 0-1, then 1-2, then 2-0)
// until every edge is at most L = factor * |maxCorner - minCorner|, and stores L in
// `edgeLimit`. Does nothing unless 0 < factor < 1.
//
// Order of the result: an unsplit triangle keeps its index, corners and label; a split one
// leaves its first half at its index, and the other halves follow the original triangles in
// the order they were made. Every split appends its own midpoint vertex (none are shared).
// The box is unchanged; centroids and normals are stale until computeTriangleData runs.
//
// Fails, leaving the solid exactly as it was, when the refined mesh would not fit in memory.
Status sampleEdges(Solid& solid, float factor);

// Whether sampleEdges(solid, factor) would split any triangle; reads the edges only.
bool needsSampling(const Solid& solid, float factor);

}  // namespace korvan
