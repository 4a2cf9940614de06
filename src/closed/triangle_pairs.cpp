#include "closed/triangle_pairs.h"

#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/Intersections_3/Segment_3_Triangle_3.h>
#include <CGAL/Intersections_3/Triangle_3_Triangle_3.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <utility>

namespace korvan::closed {
namespace {

using Kernel = CGAL::Exact_predicates_inexact_constructions_kernel;
using KP2 = Kernel::Point_2;
using KP3 = Kernel::Point_3;

int signOf(double v) {
    return (v > 0.0) - (v < 0.0);
}

int signOf(CGAL::Orientation o) {
    return o == CGAL::POSITIVE ? 1 : o == CGAL::NEGATIVE ? -1 : 0;
}

KP3 kp(const double* p) {
    return KP3(p[0], p[1], p[2]);
}

// Whether d, the rounded a - b, is exact: the error term of Knuth's two-difference is zero.
bool exactDifference(double a, double b, double d) {
    const double bVirtual = a - d;
    const double aVirtual = d + bVirtual;
    return (a - aVirtual) + (bVirtual - b) == 0.0;
}

// Bits from the highest to the lowest set bit of the significand; 0 for zero.
int significantBits(double v) {
    if (v == 0.0) {
        return 0;
    }
    const auto bits = std::bit_cast<uint64_t>(v);
    uint64_t significand = bits & ((uint64_t{1} << 52) - 1);
    if (((bits >> 52) & 0x7ff) != 0) {
        significand |= uint64_t{1} << 52;
    }
    return 64 - std::countl_zero(significand) - std::countr_zero(significand);
}

// orient2 where its error bound leaves the sign open. The double evaluation is still exact
// when the differences are and each product fits in 53 bits, as for points of one line on a
// flat face (a great many there); CGAL's exact predicate takes what is left.
[[gnu::noinline]] int orient2Exact(double ax, double ay, double bx, double by, double cx,
                                   double cy) {
    const double ux = bx - ax, uy = by - ay, vx = cx - ax, vy = cy - ay;
    if (exactDifference(bx, ax, ux) && exactDifference(by, ay, uy) && exactDifference(cx, ax, vx) &&
        exactDifference(cy, ay, vy) && significantBits(ux) + significantBits(vy) <= 53 &&
        significantBits(uy) + significantBits(vx) <= 53) {
        // Both products exact; rounding their difference keeps its sign.
        return signOf(ux * vy - uy * vx);
    }
    return signOf(CGAL::orientation(KP2(ax, ay), KP2(bx, by), KP2(cx, cy)));
}

// Sign of the orientation of (a, b, c) in the plane, counter-clockwise positive. An error bound
// settles nearly every case.
inline int orient2(double ax, double ay, double bx, double by, double cx, double cy) {
    const double ux = bx - ax, uy = by - ay, vx = cx - ax, vy = cy - ay;
    const double l = ux * vy, r = uy * vx;
    const double det = l - r;
    const double bound = 1e-14 * (std::abs(l) + std::abs(r));
    if (det > bound) {
        return 1;
    }
    if (det < -bound) {
        return -1;
    }
    return orient2Exact(ax, ay, bx, by, cx, cy);
}

// orient2 of three points projected along `axis` onto the other two, taken cyclically, so
// that the sign is that of the normal's component on `axis`.
inline int orient2Along(int axis, const double* a, const double* b, const double* c) {
    const int u = axis == 2 ? 0 : axis + 1;
    const int v = axis == 0 ? 2 : axis - 1;
    return orient2(a[u], a[v], b[u], b[v], c[u], c[v]);
}

// Exact side of t's plane that q lies on: the sign of n . (q - p0).
int sideOf(const Tri& t, const double* q) {
    if (t.flat >= 0) {
        // A plane of constant coordinate: the comparison is exact.
        return signOf(q[t.flat] - t.p[0][t.flat]) * t.axisSign;
    }
    const double dx = q[0] - t.p[0][0], dy = q[1] - t.p[0][1], dz = q[2] - t.p[0][2];
    const double s = t.n[0] * dx + t.n[1] * dy + t.n[2] * dz;
    const double bound =
        t.err[0] * std::abs(dx) + t.err[1] * std::abs(dy) + t.err[2] * std::abs(dz);
    if (s > bound) {
        return 1;
    }
    if (s < -bound) {
        return -1;
    }
    return signOf(CGAL::orientation(kp(t.p[0]), kp(t.p[1]), kp(t.p[2]), kp(q)));
}

// Whether segment ab meets triangle t, which it does not lie in the plane of.
bool segmentMeets(const double* a, const double* b, const Tri& t) {
    return CGAL::do_intersect(Kernel::Segment_3(kp(a), kp(b)),
                              Kernel::Triangle_3(kp(t.p[0]), kp(t.p[1]), kp(t.p[2])));
}

// Coplanar triangles x and y with x's corner i on y's corner j: near the common corner each
// is the angle its two edges span there, so they meet beyond the corner exactly where those
// angles (each below a half turn) overlap, that is where one holds an edge of the other.
bool anglesOverlap(const Tri& x, int i, const Tri& y, int j) {
    const int axis = x.axis;
    const double* v = x.p[i];
    const double* a = x.p[(i + 1) % 3];
    const double* b = x.p[(i + 2) % 3];
    const double* c = y.p[(j + 1) % 3];
    const double* d = y.p[(j + 2) % 3];
    // (v, a, b) turns as x does in the projection.
    if (x.axisSign < 0) {
        std::swap(a, b);
    }
    if (orient2Along(axis, v, c, d) < 0) {
        std::swap(c, d);
    }
    // The edge from v towards q lies within the angle from edge va to edge vb.
    const auto within = [&](const double* e0, const double* e1, const double* q) {
        return orient2Along(axis, v, e0, q) >= 0 && orient2Along(axis, v, q, e1) >= 0;
    };
    return within(a, b, c) || within(a, b, d) || within(c, d, a) || within(c, d, b);
}

// Whether coplanar triangles x and y with no common corner meet: they are apart exactly where
// the line of an edge of one has the whole other strictly on its outer side.
bool coplanarMeet(const Tri& x, const Tri& y) {
    const int axis = x.axis;
    const int ySign = orient2Along(axis, y.p[0], y.p[1], y.p[2]);
    const auto apart = [&](const Tri& s, int sign, const Tri& o) {
        for (int e = 0; e < 3; ++e) {
            const double* p = s.p[e];
            const double* q = s.p[(e + 1) % 3];
            if (orient2Along(axis, p, q, o.p[0]) * sign < 0 &&
                orient2Along(axis, p, q, o.p[1]) * sign < 0 &&
                orient2Along(axis, p, q, o.p[2]) * sign < 0) {
                return true;
            }
        }
        return false;
    };
    return !apart(x, x.axisSign, y) && !apart(y, ySign, x);
}

// Whether o, which touches t's plane without crossing it (`side`, its corners' sides of the
// plane, none opposite another and not all zero), meets t. It meets the plane only in its
// corners there and the edge between two of them, so the test is a flat one in t's plane.
bool touchMeets(const Tri& t, const Tri& o, const int (&side)[3]) {
    const double* on[2] = {nullptr, nullptr};
    int count = 0;
    for (int k = 0; k < 3; ++k) {
        if (side[k] == 0) {
            on[count++] = o.p[k];
        }
    }
    // Apart where the line of an edge of t has them all strictly outside ...
    for (int e = 0; e < 3; ++e) {
        const double* p = t.p[e];
        const double* q = t.p[(e + 1) % 3];
        bool outside = true;
        for (int k = 0; k < count && outside; ++k) {
            outside = orient2Along(t.axis, p, q, on[k]) * t.axisSign < 0;
        }
        if (outside) {
            return false;
        }
    }
    if (count == 1) {
        return true;
    }
    // ... or the line of the edge has t strictly on one side.
    const int a = orient2Along(t.axis, on[0], on[1], t.p[0]);
    return a == 0 || orient2Along(t.axis, on[0], on[1], t.p[1]) != a ||
           orient2Along(t.axis, on[0], on[1], t.p[2]) != a;
}

// Whether some sides are opposite: the triangle crosses the plane.
bool crosses(const int (&side)[3]) {
    return (side[0] | side[1] | side[2]) < 0 && (side[0] > 0 || side[1] > 0 || side[2] > 0);
}

}  // namespace

void normalSigns(const double (&p)[3][3], int8_t (&sign)[3]) {
    const double u[3] = {p[1][0] - p[0][0], p[1][1] - p[0][1], p[1][2] - p[0][2]};
    const double v[3] = {p[2][0] - p[0][0], p[2][1] - p[0][1], p[2][2] - p[0][2]};
    for (int i = 0; i < 3; ++i) {
        const int j = (i + 1) % 3, k = (i + 2) % 3;
        const double l = u[j] * v[k], r = u[k] * v[j];
        // Products of float differences do not underflow: a zero one has a zero factor.
        if (std::abs(l - r) > 1e-14 * (std::abs(l) + std::abs(r)) || (l == 0.0 && r == 0.0)) {
            sign[i] = static_cast<int8_t>(signOf(l - r));
        } else {
            sign[i] = static_cast<int8_t>(orient2Along(i, p[0], p[1], p[2]));
        }
    }
}

Tri makeTri(const std::array<int32_t, 3>& id, const float (&p)[3][3], const int8_t (&sign)[3]) {
    Tri t;
    t.id = id;
    for (int k = 0; k < 3; ++k) {
        for (int i = 0; i < 3; ++i) {
            t.p[k][i] = p[k][i];
        }
    }
    const double* a = t.p[0];
    const double u[3] = {t.p[1][0] - a[0], t.p[1][1] - a[1], t.p[1][2] - a[2]};
    const double v[3] = {t.p[2][0] - a[0], t.p[2][1] - a[1], t.p[2][2] - a[2]};
    t.flat = -1;
    for (int i = 0; i < 3; ++i) {
        const int j = (i + 1) % 3, k = (i + 2) % 3;
        const double l = u[j] * v[k], r2 = u[k] * v[j];
        t.n[i] = l - r2;
        // Far above the rounding of the differences, products and sums (a few units in the
        // last place of the terms).
        t.err[i] = 1e-13 * (std::abs(l) + std::abs(r2) + std::abs(t.n[i]));
        if (u[i] == 0.0 && v[i] == 0.0) {
            t.flat = static_cast<int8_t>(i);
        }
    }
    if (t.flat >= 0) {
        t.axis = t.flat;
    } else {
        const double nx = std::abs(t.n[0]), ny = std::abs(t.n[1]), nz = std::abs(t.n[2]);
        t.axis = static_cast<int8_t>(nx >= ny && nx >= nz ? 0 : ny >= nz ? 1 : 2);
    }
    // The largest rounded component can only be zero where the triangle is nearly flat; then
    // the first axis whose projection keeps an area serves.
    for (int8_t i = 0; i < 3 && sign[t.axis] == 0; ++i) {
        t.axis = i;
    }
    t.axisSign = sign[t.axis];
    return t;
}

int orientationAlong(int axis, const double* a, const double* b, const double* c) {
    return orient2Along(axis, a, b, c);
}

bool meetBeyondShared(const Tri& x, const Tri& y) {
    int inY[3];
    int shared = 0;
    for (int i = 0; i < 3; ++i) {
        inY[i] = x.id[i] == y.id[0] ? 0 : x.id[i] == y.id[1] ? 1 : x.id[i] == y.id[2] ? 2 : -1;
        shared += inY[i] >= 0 ? 1 : 0;
    }
    if (shared == 3) {
        return true;  // the same three points
    }
    if (shared == 2) {
        // Edge ab with c beyond it in x and d in y. Off x's plane d leaves only the edge in
        // common; in it, the two overlap exactly where c and d lie on one side of line ab.
        const int ic = inY[0] < 0 ? 0 : inY[1] < 0 ? 1 : 2;
        const int jd = 3 - inY[(ic + 1) % 3] - inY[(ic + 2) % 3];
        const double* d = y.p[jd];
        if (sideOf(x, d) != 0) {
            return false;
        }
        // (a, b, c) is x's own turn, so c's side of ab is x.axisSign.
        return orient2Along(x.axis, x.p[(ic + 1) % 3], x.p[(ic + 2) % 3], d) * x.axisSign > 0;
    }
    if (shared == 1) {
        // Corner v, x = (v, a, b), y = (v, c, d). Where they meet beyond v, the line through
        // v and such a point leaves each triangle through its edge opposite v, the nearer of
        // the two exits lying in both: so they meet beyond v exactly where segment ab meets y
        // or segment cd meets x.
        const int i = inY[0] >= 0 ? 0 : inY[1] >= 0 ? 1 : 2;
        const int j = inY[i];
        const double* a = x.p[(i + 1) % 3];
        const double* b = x.p[(i + 2) % 3];
        const double* c = y.p[(j + 1) % 3];
        const double* d = y.p[(j + 2) % 3];
        const int sa = sideOf(y, a), sb = sideOf(y, b);
        if (sa == 0 && sb == 0) {
            return anglesOverlap(x, i, y, j);
        }
        if (sa * sb > 0) {
            const int sc = sideOf(x, c), sd = sideOf(x, d);
            return sc * sd <= 0 && segmentMeets(c, d, x);
        }
        if (segmentMeets(a, b, y)) {
            return true;
        }
        const int sc = sideOf(x, c), sd = sideOf(x, d);
        return sc * sd <= 0 && segmentMeets(c, d, x);
    }
    // Nothing in common: apart where a plane of either has the other strictly on one side. One
    // that touches the other's plane without crossing it (a wall standing on a floor) meets
    // it in that plane.
    const int s[3] = {sideOf(x, y.p[0]), sideOf(x, y.p[1]), sideOf(x, y.p[2])};
    if (s[0] == s[1] && s[1] == s[2]) {
        return s[0] == 0 && coplanarMeet(x, y);
    }
    if (!crosses(s)) {
        return touchMeets(x, y, s);
    }
    const int r[3] = {sideOf(y, x.p[0]), sideOf(y, x.p[1]), sideOf(y, x.p[2])};
    if (r[0] == r[1] && r[1] == r[2]) {
        return false;  // not zero: x is not in y's plane, since y is not in x's
    }
    if (!crosses(r)) {
        return touchMeets(y, x, r);
    }
    return CGAL::do_intersect(Kernel::Triangle_3(kp(x.p[0]), kp(x.p[1]), kp(x.p[2])),
                              Kernel::Triangle_3(kp(y.p[0]), kp(y.p[1]), kp(y.p[2])));
}

}  // namespace korvan::closed
