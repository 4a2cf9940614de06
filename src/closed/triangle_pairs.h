// Exact tests of one pair of triangles of a welded mesh, the narrow phase of the self-crossing
// count: whether they meet beyond the corners they share. A double filter with an error bound
// decides nearly every test, exact predicates the rest; internal to the engine.
#pragma once

#include <array>
#include <cstdint>

namespace korvan::closed {

// One triangle as the exact pair tests read it.
struct Tri {
    std::array<int32_t, 3> id;
    double p[3][3];
    double n[3];      // (p1 - p0) x (p2 - p0)
    double err[3];    // weights of |q - p0| in the error bound of n . (q - p0)
    int8_t flat;      // the axis on which all three corners agree, or -1
    int8_t axis;      // projection axis that keeps the triangle's area
    int8_t axisSign;  // sign of n[axis]: orientation of the corners projected along it
};

// The triangle with corners `p` (exact in float) and their point ids `id`; `sign` holds the
// exact signs of its normal's components (normalSigns), not all zero.
Tri makeTri(const std::array<int32_t, 3>& id, const float (&p)[3][3], const int8_t (&sign)[3]);

// Exact signs of the components of (p1 - p0) x (p2 - p0), all zero for collinear corners.
void normalSigns(const double (&p)[3][3], int8_t (&sign)[3]);

// Exact sign of the orientation of a, b, c projected along `axis` onto the other two, taken
// cyclically, so that a triangle's sign is that of its normal's component on `axis`.
int orientationAlong(int axis, const double* a, const double* b, const double* c);

// Whether triangles x and y meet other than in the corners they share (by id). Two with a
// common edge may meet only along it, two with one common corner only there, two with nothing
// in common not at all; touching and coplanar overlap count.
bool meetBeyondShared(const Tri& x, const Tri& y);

}  // namespace korvan::closed
