// Triangles of one operand that cross or touch each other: such an operand has no well-defined
// inside, and the constrained triangulations of the closed engine break on it.
#pragma once

#include <cstdint>
#include <vector>

#include "closed/passes.h"

namespace korvan::closed {

// Number of pairs of triangles of operand `side` (0: triangles [0, w.firstOther), 1: the rest)
// that meet other than in what they share. Two triangles with a common edge (the same two
// point ids) may meet only along that edge, two with one common corner only at that corner,
// two with nothing in common not at all. Touching counts (a corner of one on the other's face
// or edge), and so does coplanar overlap, two triangles on the same three points included.
// Points are welded (equal positions have one id) and every coordinate is a float; a triangle
// with a repeated corner, collinear corners, a corner id out of range or a coordinate that is
// not finite takes no part. Exact, and the same for any number of threads. Counting stops once
// `limit` pairs are found, and the result is then `limit`, so that a hopeless operand is
// refused fast; a limit of 0 or less counts nothing. `stop` is polled once per chunk of the
// pair tests. With `fresh` (one entry per triangle of the side, in order), a pair of two
// triangles whose entries are 0 is not counted: a step that changed part of a mesh asks only
// about the pairs it may have made.
int64_t selfCrossingPairs(const WeldedView& w, int side, int64_t limit = INT64_MAX,
                          const StopToken& stop = {}, const std::vector<char>* fresh = nullptr);

// selfCrossingPairs of triangles given as their corners' positions, three per triangle in
// order, equal positions welded first.
int64_t crossingPairsOfCorners(const std::vector<Vector4>& corners, int64_t limit,
                               const std::vector<char>* fresh);

}  // namespace korvan::closed
