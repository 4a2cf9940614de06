// Pairs of one operand's triangles that meet other than in what they share: a grid of cells
// about a triangle in size brings each pair of triangles whose boxes meet together once, ids
// tell what a pair shares, and exact predicates decide what a double filter leaves open.
#include "closed/self_crossing.h"

#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/Intersections_3/Segment_3_Triangle_3.h>
#include <CGAL/Intersections_3/Triangle_3_Triangle_3.h>
#include <tbb/blocked_range.h>
#include <tbb/enumerable_thread_specific.h>
#include <tbb/parallel_for.h>
#include <tbb/parallel_reduce.h>
#include <tbb/parallel_sort.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

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

// Sign of the orientation of (a, b, c) in the plane, counter-clockwise positive. An error bound
// settles nearly every case. Where it does not, the double evaluation is still exact when the
// differences are and each product fits in 53 bits, as for points of one line on a flat face
// (a great many there); CGAL's exact predicate takes what is left.
int orient2(double ax, double ay, double bx, double by, double cx, double cy) {
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
    if (exactDifference(bx, ax, ux) && exactDifference(by, ay, uy) && exactDifference(cx, ax, vx) &&
        exactDifference(cy, ay, vy) && significantBits(ux) + significantBits(vy) <= 53 &&
        significantBits(uy) + significantBits(vx) <= 53) {
        return signOf(det);  // both products exact; rounding their difference keeps its sign
    }
    return signOf(CGAL::orientation(KP2(ax, ay), KP2(bx, by), KP2(cx, cy)));
}

// orient2 of three points projected along `axis` onto the other two, taken cyclically, so
// that the sign is that of the normal's component on `axis`.
int orient2Along(int axis, const double* a, const double* b, const double* c) {
    const int u = axis == 2 ? 0 : axis + 1;
    const int v = axis == 0 ? 2 : axis - 1;
    return orient2(a[u], a[v], b[u], b[v], c[u], c[v]);
}

// The grid: cells of one size over the operand's box, addressed by integer coordinates.
struct Grid {
    std::array<double, 3> origin{};
    double perCell = 1.0;
    std::array<int64_t, 3> dim{};

    // Clamped before the conversion, which then rounds down as floor would.
    int32_t cellOf(int i, double v) const {
        const double c =
            std::clamp((v - origin[i]) * perCell, 0.0, static_cast<double>(dim[i] - 1));
        return static_cast<int32_t>(c);
    }
};

// Cells are grouped into blocks of 4 x 4 x 4; an entry names a triangle and its cell in a block.
constexpr int kBlockShift = 2;
constexpr int32_t kBlockMask = (1 << kBlockShift) - 1;

uint64_t entryOf(int32_t triangle, int32_t x, int32_t y, int32_t z) {
    return (static_cast<uint64_t>(triangle) << 6) |
           static_cast<uint64_t>((x & kBlockMask) | (y & kBlockMask) << 2 | (z & kBlockMask) << 4);
}

struct FloatBox {
    float lo[3], hi[3];
};

// One triangle as the pair tests read it.
struct Tri {
    std::array<int32_t, 3> id;
    double p[3][3];
    double n[3];    // (p1 - p0) x (p2 - p0)
    double err[3];  // weights of |q - p0| in the error bound of n . (q - p0)
    float lo[3], hi[3];
    int32_t cellLo[3];  // the cell of the box's low corner
    int8_t flat;        // the axis on which all three corners agree, or -1
    int8_t axis;        // projection axis that keeps the triangle's area
    int8_t axisSign;    // orientation of the corners projected along it
};

void load(Tri& t, const WeldedView& w, int32_t triangle, const Grid& grid) {
    t.id = w.tris[static_cast<size_t>(triangle)];
    for (int k = 0; k < 3; ++k) {
        const Point3& q = w.points[static_cast<size_t>(t.id[k])];
        t.p[k][0] = q.x;
        t.p[k][1] = q.y;
        t.p[k][2] = q.z;
    }
    for (int i = 0; i < 3; ++i) {
        const double lo = std::min({t.p[0][i], t.p[1][i], t.p[2][i]});
        const double hi = std::max({t.p[0][i], t.p[1][i], t.p[2][i]});
        t.lo[i] = static_cast<float>(lo);
        t.hi[i] = static_cast<float>(hi);
        t.cellLo[i] = grid.cellOf(i, lo);
    }
    const double* a = t.p[0];
    const double u[3] = {t.p[1][0] - a[0], t.p[1][1] - a[1], t.p[1][2] - a[2]};
    const double v[3] = {t.p[2][0] - a[0], t.p[2][1] - a[1], t.p[2][2] - a[2]};
    for (int i = 0; i < 3; ++i) {
        const int j = (i + 1) % 3, k = (i + 2) % 3;
        const double l = u[j] * v[k], r = u[k] * v[j];
        t.n[i] = l - r;
        // Far above the rounding of the differences, products and sums (a few units in the
        // last place of the terms).
        t.err[i] = 1e-13 * (std::abs(l) + std::abs(r) + std::abs(t.n[i]));
    }
    t.flat = -1;
    for (int8_t i = 0; i < 3; ++i) {
        if (u[i] == 0.0 && v[i] == 0.0) {
            t.flat = i;
        }
    }
    if (t.flat >= 0) {
        t.axis = t.flat;
    } else {
        const double nx = std::abs(t.n[0]), ny = std::abs(t.n[1]), nz = std::abs(t.n[2]);
        t.axis = static_cast<int8_t>(nx >= ny && nx >= nz ? 0 : ny >= nz ? 1 : 2);
    }
    t.axisSign = static_cast<int8_t>(orient2Along(t.axis, t.p[0], t.p[1], t.p[2]));
    // The largest rounded component can only miss where the triangle is nearly flat; then
    // the first axis whose projection keeps an area serves.
    for (int8_t i = 0; i < 3 && t.axisSign == 0; ++i) {
        t.axis = i;
        t.axisSign = static_cast<int8_t>(orient2Along(i, t.p[0], t.p[1], t.p[2]));
    }
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

// Whether all three corners of o lie strictly on one side of t's plane.
bool planeSeparates(const Tri& t, const Tri& o) {
    const int s = sideOf(t, o.p[0]);
    return s != 0 && sideOf(t, o.p[1]) == s && sideOf(t, o.p[2]) == s;
}

// Whether triangles x and y meet other than in the corners they share.
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
    // Nothing in common: apart where a plane of either has the other strictly on one side.
    const int s0 = sideOf(x, y.p[0]), s1 = sideOf(x, y.p[1]), s2 = sideOf(x, y.p[2]);
    if (s0 == s1 && s1 == s2) {
        return s0 == 0 && coplanarMeet(x, y);
    }
    if (planeSeparates(y, x)) {
        return false;
    }
    return CGAL::do_intersect(Kernel::Triangle_3(kp(x.p[0]), kp(x.p[1]), kp(x.p[2])),
                              Kernel::Triangle_3(kp(y.p[0]), kp(y.p[1]), kp(y.p[2])));
}

// A thread's buffers for one block at a time.
struct Worker {
    std::vector<Tri> tris;
    std::vector<int32_t> triOfEntry;
    std::vector<int32_t> byCell;
};

// The pass over the cells: every pair of triangles whose boxes meet is tested in the cell of
// the low corner of the boxes' overlap, so once.
struct Counter {
    const WeldedView& w;
    int32_t first;
    const Grid& grid;
    int64_t limit;
    std::atomic<int64_t> found{0};
    std::atomic<bool> stop{false};

    void found1() {
        if (found.fetch_add(1, std::memory_order_relaxed) + 1 >= limit) {
            stop.store(true, std::memory_order_relaxed);
        }
    }

    // The entries of block (bx, by, bz), each a triangle (its entries in a row) and its cell.
    void block(int64_t bx, int64_t by, int64_t bz, const uint64_t* entries, size_t count,
               Worker& wk) {
        if (count < 2 || stop.load(std::memory_order_relaxed)) {
            return;
        }
        wk.tris.clear();
        wk.triOfEntry.resize(count);
        int32_t inCell[65] = {};
        int64_t last = -1;
        for (size_t k = 0; k < count; ++k) {
            const auto t = static_cast<int64_t>(entries[k] >> 6);
            if (t != last) {
                wk.tris.emplace_back();
                load(wk.tris.back(), w, first + static_cast<int32_t>(t), grid);
                last = t;
            }
            wk.triOfEntry[k] = static_cast<int32_t>(wk.tris.size()) - 1;
            ++inCell[(entries[k] & 63) + 1];
        }
        for (int c = 1; c <= 64; ++c) {
            inCell[c] += inCell[c - 1];
        }
        wk.byCell.resize(count);
        {
            int32_t fill[64];
            std::copy(inCell, inCell + 64, fill);
            for (size_t k = 0; k < count; ++k) {
                wk.byCell[static_cast<size_t>(fill[entries[k] & 63]++)] = wk.triOfEntry[k];
            }
        }
        for (int c = 0; c < 64; ++c) {
            const int32_t begin = inCell[c], end = inCell[c + 1];
            if (end - begin < 2) {
                continue;
            }
            const int32_t cell[3] = {
                static_cast<int32_t>((bx << kBlockShift) + (c & kBlockMask)),
                static_cast<int32_t>((by << kBlockShift) + ((c >> 2) & kBlockMask)),
                static_cast<int32_t>((bz << kBlockShift) + ((c >> 4) & kBlockMask))};
            for (int32_t p = begin; p < end; ++p) {
                const Tri& x = wk.tris[static_cast<size_t>(wk.byCell[static_cast<size_t>(p)])];
                for (int32_t q = p + 1; q < end; ++q) {
                    const Tri& y = wk.tris[static_cast<size_t>(wk.byCell[static_cast<size_t>(q)])];
                    if (x.hi[0] < y.lo[0] || y.hi[0] < x.lo[0] || x.hi[1] < y.lo[1] ||
                        y.hi[1] < x.lo[1] || x.hi[2] < y.lo[2] || y.hi[2] < x.lo[2]) {
                        continue;
                    }
                    if (std::max(x.cellLo[0], y.cellLo[0]) != cell[0] ||
                        std::max(x.cellLo[1], y.cellLo[1]) != cell[1] ||
                        std::max(x.cellLo[2], y.cellLo[2]) != cell[2]) {
                        continue;
                    }
                    if (meetBeyondShared(x, y)) {
                        found1();
                        if (stop.load(std::memory_order_relaxed)) {
                            return;
                        }
                    }
                }
            }
        }
    }
};

// Cells per triangle at most, on average, before the cells are made larger.
constexpr int64_t kEntriesPerTriangle = 16;

}  // namespace

int64_t selfCrossingPairs(const WeldedView& w, int side, int64_t limit) {
    const int32_t first = side == 0 ? 0 : w.firstOther;
    const int32_t last = side == 0 ? w.firstOther : static_cast<int32_t>(w.tris.size());
    if (limit <= 0 || last - first < 2) {
        return 0;
    }
    const int32_t n = last - first;
    // Boxes, and which triangles take part: those with three distinct, non-collinear corners.
    std::vector<FloatBox> boxes(static_cast<size_t>(n));
    std::vector<char> usable(static_cast<size_t>(n), 0);
    struct Extent {
        Box region = emptyBox();
        double sizeSum = 0;
        int64_t count = 0;
    };
    const Extent extent = tbb::parallel_reduce(
        tbb::blocked_range<int32_t>(0, n, 4096), Extent{},
        [&](const tbb::blocked_range<int32_t>& r, Extent acc) {
            for (int32_t i = r.begin(); i < r.end(); ++i) {
                const Corners& c = w.tris[static_cast<size_t>(first + i)];
                const Point3& p = w.points[static_cast<size_t>(c[0])];
                const Point3& q = w.points[static_cast<size_t>(c[1])];
                const Point3& s = w.points[static_cast<size_t>(c[2])];
                if (c[0] == c[1] || c[1] == c[2] || c[0] == c[2] || collinear(p, q, s)) {
                    continue;
                }
                usable[static_cast<size_t>(i)] = 1;
                FloatBox& b = boxes[static_cast<size_t>(i)];
                const double lo[3] = {std::min({p.x, q.x, s.x}), std::min({p.y, q.y, s.y}),
                                      std::min({p.z, q.z, s.z})};
                const double hi[3] = {std::max({p.x, q.x, s.x}), std::max({p.y, q.y, s.y}),
                                      std::max({p.z, q.z, s.z})};
                for (int k = 0; k < 3; ++k) {
                    b.lo[k] = static_cast<float>(lo[k]);
                    b.hi[k] = static_cast<float>(hi[k]);
                    acc.region.lo[k] = std::min(acc.region.lo[k], lo[k]);
                    acc.region.hi[k] = std::max(acc.region.hi[k], hi[k]);
                }
                acc.sizeSum += std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
                ++acc.count;
            }
            return acc;
        },
        [](Extent x, const Extent& y) {
            grow(x.region, y.region);
            x.sizeSum += y.sizeSum;
            x.count += y.count;
            return x;
        });
    if (extent.count < 2) {
        return 0;
    }

    // Cells twice a triangle's mean size; larger where the grid would be too fine to address
    // or the triangles would fill too many cells.
    Grid grid;
    double cell = std::max(2.0 * extent.sizeSum / static_cast<double>(extent.count), 1e-30);
    const auto cellRange = [&](const FloatBox& b, int k) {
        return std::pair<int32_t, int32_t>(grid.cellOf(k, b.lo[k]), grid.cellOf(k, b.hi[k]));
    };
    int64_t entryCount = 0;
    for (;;) {
        bool fits = true;
        for (int k = 0; k < 3; ++k) {
            grid.origin[k] = extent.region.lo[k];
            grid.dim[k] = std::max<int64_t>(
                static_cast<int64_t>(std::ceil((extent.region.hi[k] - extent.region.lo[k]) / cell)),
                1);
            fits = fits && grid.dim[k] <= (int64_t{1} << 21);
        }
        grid.perCell = 1.0 / cell;
        if (fits) {
            entryCount = tbb::parallel_reduce(
                tbb::blocked_range<int32_t>(0, n, 4096), int64_t{0},
                [&](const tbb::blocked_range<int32_t>& r, int64_t acc) {
                    for (int32_t i = r.begin(); i < r.end(); ++i) {
                        if (usable[static_cast<size_t>(i)]) {
                            const FloatBox& b = boxes[static_cast<size_t>(i)];
                            int64_t cells = 1;
                            for (int k = 0; k < 3; ++k) {
                                const auto [lo, hi] = cellRange(b, k);
                                cells *= hi - lo + 1;
                            }
                            acc += cells;
                        }
                    }
                    return acc;
                },
                std::plus<>());
            if (entryCount <= kEntriesPerTriangle * extent.count + 65536) {
                break;
            }
        }
        cell *= 2.0;
    }

    // Each triangle's cells, grouped by block. Where the grid's blocks are few enough to be
    // counted in a table, each triangle takes its entries in a block in one row; otherwise
    // entries are sorted by block.
    std::array<int64_t, 3> blocks{};
    for (int k = 0; k < 3; ++k) {
        blocks[k] = (grid.dim[k] + kBlockMask) >> kBlockShift;
    }
    const int64_t blockCount = blocks[0] * blocks[1] * blocks[2];
    // Calls f(bx, by, bz, x0, x1, y0, y1, z0, z1) for each block that triangle i's box
    // reaches, with the cells of the box in it.
    const auto forBlocks = [&](int32_t i, const auto& f) {
        const FloatBox& b = boxes[static_cast<size_t>(i)];
        const auto [x0, x1] = cellRange(b, 0);
        const auto [y0, y1] = cellRange(b, 1);
        const auto [z0, z1] = cellRange(b, 2);
        for (int32_t bz = z0 >> kBlockShift; bz <= z1 >> kBlockShift; ++bz) {
            const int32_t zl = std::max(z0, bz << kBlockShift);
            const int32_t zh = std::min(z1, (bz << kBlockShift) + kBlockMask);
            for (int32_t by = y0 >> kBlockShift; by <= y1 >> kBlockShift; ++by) {
                const int32_t yl = std::max(y0, by << kBlockShift);
                const int32_t yh = std::min(y1, (by << kBlockShift) + kBlockMask);
                for (int32_t bx = x0 >> kBlockShift; bx <= x1 >> kBlockShift; ++bx) {
                    const int32_t xl = std::max(x0, bx << kBlockShift);
                    const int32_t xh = std::min(x1, (bx << kBlockShift) + kBlockMask);
                    f(bx, by, bz, xl, xh, yl, yh, zl, zh);
                }
            }
        }
    };
    const auto writeEntries = [](uint64_t* out, int32_t i, int32_t xl, int32_t xh, int32_t yl,
                                 int32_t yh, int32_t zl, int32_t zh) {
        for (int32_t z = zl; z <= zh; ++z) {
            for (int32_t y = yl; y <= yh; ++y) {
                for (int32_t x = xl; x <= xh; ++x) {
                    *out++ = entryOf(i, x, y, z);
                }
            }
        }
    };

    Counter counter{w, first, grid, limit};
    tbb::enumerable_thread_specific<Worker> workers;
    std::vector<uint64_t> entries(static_cast<size_t>(entryCount));
    if (blockCount <= 2 * extent.count + 65536) {
        const auto blockIndex = [&](int64_t bx, int64_t by, int64_t bz) {
            return static_cast<size_t>((bz * blocks[1] + by) * blocks[0] + bx);
        };
        std::vector<int64_t> start(static_cast<size_t>(blockCount) + 1, 0);
        tbb::parallel_for(
            tbb::blocked_range<int32_t>(0, n, 4096), [&](const tbb::blocked_range<int32_t>& r) {
                for (int32_t i = r.begin(); i < r.end(); ++i) {
                    if (!usable[static_cast<size_t>(i)]) {
                        continue;
                    }
                    forBlocks(i, [&](int32_t bx, int32_t by, int32_t bz, int32_t xl, int32_t xh,
                                     int32_t yl, int32_t yh, int32_t zl, int32_t zh) {
                        const int64_t cells =
                            static_cast<int64_t>(xh - xl + 1) * (yh - yl + 1) * (zh - zl + 1);
                        std::atomic_ref<int64_t>(start[blockIndex(bx, by, bz) + 1])
                            .fetch_add(cells, std::memory_order_relaxed);
                    });
                }
            });
        for (size_t b = 1; b < start.size(); ++b) {
            start[b] += start[b - 1];
        }
        std::vector<int64_t> cursor(start.begin(), start.end() - 1);
        tbb::parallel_for(
            tbb::blocked_range<int32_t>(0, n, 4096), [&](const tbb::blocked_range<int32_t>& r) {
                for (int32_t i = r.begin(); i < r.end(); ++i) {
                    if (!usable[static_cast<size_t>(i)]) {
                        continue;
                    }
                    forBlocks(i, [&](int32_t bx, int32_t by, int32_t bz, int32_t xl, int32_t xh,
                                     int32_t yl, int32_t yh, int32_t zl, int32_t zh) {
                        const int64_t cells =
                            static_cast<int64_t>(xh - xl + 1) * (yh - yl + 1) * (zh - zl + 1);
                        const int64_t at = std::atomic_ref<int64_t>(cursor[blockIndex(bx, by, bz)])
                                               .fetch_add(cells, std::memory_order_relaxed);
                        writeEntries(entries.data() + at, i, xl, xh, yl, yh, zl, zh);
                    });
                }
            });
        tbb::parallel_for(tbb::blocked_range<int64_t>(0, blockCount, 64),
                          [&](const tbb::blocked_range<int64_t>& r) {
                              Worker& wk = workers.local();
                              for (int64_t b = r.begin(); b < r.end(); ++b) {
                                  const int64_t begin = start[static_cast<size_t>(b)];
                                  const int64_t end = start[static_cast<size_t>(b) + 1];
                                  counter.block(b % blocks[0], (b / blocks[0]) % blocks[1],
                                                b / (blocks[0] * blocks[1]), entries.data() + begin,
                                                static_cast<size_t>(end - begin), wk);
                              }
                          });
    } else {
        // A sparse grid (parts of the operand far apart): (block, entry) sorted.
        std::vector<int64_t> offset(static_cast<size_t>(n) + 1, 0);
        tbb::parallel_for(tbb::blocked_range<int32_t>(0, n, 4096),
                          [&](const tbb::blocked_range<int32_t>& r) {
                              for (int32_t i = r.begin(); i < r.end(); ++i) {
                                  if (usable[static_cast<size_t>(i)]) {
                                      const FloatBox& b = boxes[static_cast<size_t>(i)];
                                      int64_t cells = 1;
                                      for (int k = 0; k < 3; ++k) {
                                          const auto [lo, hi] = cellRange(b, k);
                                          cells *= hi - lo + 1;
                                      }
                                      offset[static_cast<size_t>(i) + 1] = cells;
                                  }
                              }
                          });
        for (size_t i = 1; i < offset.size(); ++i) {
            offset[i] += offset[i - 1];
        }
        std::vector<std::pair<uint64_t, uint64_t>> keyed(static_cast<size_t>(entryCount));
        const auto blockKey = [](int64_t bx, int64_t by, int64_t bz) {
            return static_cast<uint64_t>(bx) | static_cast<uint64_t>(by) << 21 |
                   static_cast<uint64_t>(bz) << 42;
        };
        tbb::parallel_for(
            tbb::blocked_range<int32_t>(0, n, 4096), [&](const tbb::blocked_range<int32_t>& r) {
                for (int32_t i = r.begin(); i < r.end(); ++i) {
                    if (!usable[static_cast<size_t>(i)]) {
                        continue;
                    }
                    int64_t at = offset[static_cast<size_t>(i)];
                    forBlocks(i, [&](int32_t bx, int32_t by, int32_t bz, int32_t xl, int32_t xh,
                                     int32_t yl, int32_t yh, int32_t zl, int32_t zh) {
                        for (int32_t z = zl; z <= zh; ++z) {
                            for (int32_t y = yl; y <= yh; ++y) {
                                for (int32_t x = xl; x <= xh; ++x) {
                                    keyed[static_cast<size_t>(at++)] = {blockKey(bx, by, bz),
                                                                        entryOf(i, x, y, z)};
                                }
                            }
                        }
                    });
                }
            });
        tbb::parallel_sort(keyed.begin(), keyed.end());
        std::vector<size_t> groupStart;
        for (size_t k = 0; k < keyed.size(); ++k) {
            entries[k] = keyed[k].second;
            if (k == 0 || keyed[k].first != keyed[k - 1].first) {
                groupStart.push_back(k);
            }
        }
        groupStart.push_back(keyed.size());
        tbb::parallel_for(tbb::blocked_range<size_t>(0, groupStart.size() - 1, 16),
                          [&](const tbb::blocked_range<size_t>& r) {
                              Worker& wk = workers.local();
                              for (size_t g = r.begin(); g < r.end(); ++g) {
                                  const uint64_t key = keyed[groupStart[g]].first;
                                  const uint64_t mask = (uint64_t{1} << 21) - 1;
                                  counter.block(static_cast<int64_t>(key & mask),
                                                static_cast<int64_t>((key >> 21) & mask),
                                                static_cast<int64_t>(key >> 42),
                                                entries.data() + groupStart[g],
                                                groupStart[g + 1] - groupStart[g], wk);
                              }
                          });
    }
    return std::min(counter.found.load(), limit);
}

}  // namespace korvan::closed
