// Outlines of sets of triangles (their edges whose reverse none of them has) and the test that
// an outline bounds a sheet; internal to the engine.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "closed/arrangement.h"

namespace korvan::closed {

struct Edge {
    int32_t from, to;
};

// A thread's buffers: `outline`, the last outline taken or summed, a table of edges whose
// slots are all 0 between uses, and the tests' scratch.
struct OutlineBuffers {
    std::vector<Edge> outline;
    std::vector<uint64_t> slots;
    size_t tableSize = 0;
    std::vector<uint32_t> filled;  // slots in use
    std::vector<int32_t> path, onPath, order, cellStart, fill;
    std::vector<char> used;
    std::vector<std::array<std::array<double, 3>, 2>> ends;
};

// The outline of triangles first + list[k], k in [0, count), of `tris`, into buf.outline;
// false where an edge is there twice the same way or fewer than three are left.
bool triangleOutline(OutlineBuffers& buf, const std::vector<Corners>& tris, int32_t first,
                     const int32_t* list, int32_t count);

// buf.outline, a sum of edges, reduced to what is left where an edge and its reverse cancel;
// false where an edge is left twice or fewer than three are left.
bool sumOutline(OutlineBuffers& buf);

// Whether buf.outline (which it sorts by start), seen along `axis`, is loops that touch nowhere but
// in common corners, exactly one of them turning the way `sign` says (the others, holes, the other
// way). Over any point, triangles with that outline that all turn that way then number as many as
// the loops wind around it: at most one. Orientations are exact.
bool plainOutline(OutlineBuffers& buf, const std::vector<Point3>& points, int axis, int sign);

// The loop count of plainOutline alone, without the test that the edges are apart: cheap, for
// weeding out pieces that fall apart, never to prove a sheet.
bool oneOuterLoopOnly(OutlineBuffers& buf, const std::vector<Point3>& points, int axis, int sign);

}  // namespace korvan::closed
