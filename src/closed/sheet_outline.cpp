// Outlines of sets of triangles, their edges whose reverse none of them has, and the test that
// such an outline, seen along an axis, bounds a sheet: loops that touch nowhere but in common
// corners, exactly one of them turning as the triangles do.
#include "closed/sheet_outline.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "closed/triangle_pairs.h"

namespace korvan::closed {
namespace {

void clearTable(OutlineBuffers& buf) {
    for (const uint32_t at : buf.filled) {
        buf.slots[at] = 0;
    }
    buf.filled.clear();
}

// Whether the edges of buf.outline, seen along `axis`, meet only in common corners, and
// there do not run back along each other.
bool edgesApart(OutlineBuffers& buf, const std::vector<Point3>& points, int axis) {
    const auto m = static_cast<int32_t>(buf.outline.size());
    const int u = axis == 2 ? 0 : axis + 1;
    const int v = axis == 0 ? 2 : axis - 1;
    buf.ends.resize(static_cast<size_t>(m));
    double low[2] = {HUGE_VAL, HUGE_VAL}, high[2] = {-HUGE_VAL, -HUGE_VAL};
    for (int32_t e = 0; e < m; ++e) {
        const Edge& edge = buf.outline[static_cast<size_t>(e)];
        const int32_t id[2] = {edge.from, edge.to};
        for (int j = 0; j < 2; ++j) {
            const Point3& q = points[static_cast<size_t>(id[j])];
            auto& at = buf.ends[static_cast<size_t>(e)][static_cast<size_t>(j)];
            at = {q.x, q.y, q.z};
            low[0] = std::min(low[0], at[static_cast<size_t>(u)]);
            high[0] = std::max(high[0], at[static_cast<size_t>(u)]);
            low[1] = std::min(low[1], at[static_cast<size_t>(v)]);
            high[1] = std::max(high[1], at[static_cast<size_t>(v)]);
        }
    }
    const auto point = [&](int32_t e, int j) {
        return buf.ends[static_cast<size_t>(e)][static_cast<size_t>(j)].data();
    };
    const auto lo = [&](int32_t e, int c) { return std::min(point(e, 0)[c], point(e, 1)[c]); };
    const auto hi = [&](int32_t e, int c) { return std::max(point(e, 0)[c], point(e, 1)[c]); };
    const auto orient = [&](const double* a, const double* b, const double* c) {
        return orientationAlong(axis, a, b, c);
    };
    // c, on the line of a and b, lies between them.
    const auto between = [&](const double* a, const double* b, const double* c) {
        return std::min(a[u], b[u]) <= c[u] && c[u] <= std::max(a[u], b[u]) &&
               std::min(a[v], b[v]) <= c[v] && c[v] <= std::max(a[v], b[v]);
    };
    // Whether edges e and f, whose boxes meet, touch nowhere but in a common corner, and
    // there do not run back along each other.
    const auto apart = [&](int32_t e, int32_t f) {
        const Edge& x = buf.outline[static_cast<size_t>(e)];
        const Edge& y = buf.outline[static_cast<size_t>(f)];
        const int i = x.from == y.from || x.from == y.to ? 0
                      : x.to == y.from || x.to == y.to   ? 1
                                                         : -1;
        if (i >= 0) {
            const double* q = point(e, i);
            const double* p = point(e, 1 - i);
            const double* r = point(f, (i == 0 ? x.from : x.to) == y.from ? 1 : 0);
            if (orient(p, q, r) != 0) {
                return true;
            }
            const int c = p[u] != q[u] ? u : v;
            return (p[c] > q[c]) != (r[c] > q[c]);
        }
        const double *a = point(e, 0), *b = point(e, 1), *c = point(f, 0), *d = point(f, 1);
        const int o1 = orient(a, b, c), o2 = orient(a, b, d);
        const int o3 = orient(c, d, a), o4 = orient(c, d, b);
        return !((o1 * o2 < 0 && o3 * o4 < 0) || (o1 == 0 && between(a, b, c)) ||
                 (o2 == 0 && between(a, b, d)) || (o3 == 0 && between(c, d, a)) ||
                 (o4 == 0 && between(c, d, b)));
    };
    const auto meet = [&](int32_t e, int32_t f) {
        return lo(f, u) <= hi(e, u) && lo(e, u) <= hi(f, u) && lo(f, v) <= hi(e, v) &&
               lo(e, v) <= hi(f, v);
    };
    // The edges in a grid of about one cell per edge over their box; a pair is tested in
    // the cell of the low corner of where their boxes meet.
    const auto side = static_cast<int32_t>(std::ceil(std::sqrt(static_cast<double>(m))));
    const double scale[2] = {side / std::max(high[0] - low[0], 1e-300),
                             side / std::max(high[1] - low[1], 1e-300)};
    const auto cellOf = [&](int c, double x) {
        return static_cast<int32_t>(std::min(std::max((x - low[c]) * scale[c], 0.0), side - 1.0));
    };
    buf.cellStart.assign(static_cast<size_t>(side) * static_cast<size_t>(side) + 1, 0);
    const auto forCells = [&](int32_t e, const auto& f) {
        const int32_t u0 = cellOf(0, lo(e, u)), u1 = cellOf(0, hi(e, u));
        const int32_t v0 = cellOf(1, lo(e, v)), v1 = cellOf(1, hi(e, v));
        for (int32_t y = v0; y <= v1; ++y) {
            for (int32_t x = u0; x <= u1; ++x) {
                f(static_cast<size_t>(y) * static_cast<size_t>(side) + static_cast<size_t>(x));
            }
        }
    };
    for (int32_t e = 0; e < m; ++e) {
        forCells(e, [&](size_t c) { ++buf.cellStart[c + 1]; });
    }
    for (size_t c = 1; c < buf.cellStart.size(); ++c) {
        buf.cellStart[c] += buf.cellStart[c - 1];
    }
    buf.order.resize(static_cast<size_t>(buf.cellStart.back()));
    buf.fill.assign(buf.cellStart.begin(), buf.cellStart.end() - 1);
    for (int32_t e = 0; e < m; ++e) {
        forCells(e, [&](size_t c) { buf.order[static_cast<size_t>(buf.fill[c]++)] = e; });
    }
    // Edges crowded into few cells (a few long ones stretch the box over many short ones)
    // would make the pairs many: past a budget, the outline is taken as not plain, which
    // only leaves its triangles to the pair tests.
    int64_t budget = 64 * static_cast<int64_t>(m) + 4096;
    for (size_t c = 0; c + 1 < buf.cellStart.size(); ++c) {
        const int64_t inCell = buf.cellStart[c + 1] - buf.cellStart[c];
        budget -= inCell * (inCell - 1) / 2;
        if (budget < 0) {
            return false;
        }
        for (int32_t x = buf.cellStart[c]; x < buf.cellStart[c + 1]; ++x) {
            const int32_t e = buf.order[static_cast<size_t>(x)];
            for (int32_t y = x + 1; y < buf.cellStart[c + 1]; ++y) {
                const int32_t f = buf.order[static_cast<size_t>(y)];
                if (!meet(e, f)) {
                    continue;
                }
                const size_t home = static_cast<size_t>(cellOf(1, std::max(lo(e, v), lo(f, v)))) *
                                        static_cast<size_t>(side) +
                                    static_cast<size_t>(cellOf(0, std::max(lo(e, u), lo(f, u))));
                if (home == c && !apart(e, f)) {
                    return false;
                }
            }
        }
    }
    return true;
}

// Whether the outline's loops (split where a corner starts two edges), whose edges are
// apart, include exactly one that turns the way `sign` says. A loop turns as it does at
// its lowest corner (by u, then v), where it is convex.
bool oneOuterLoop(OutlineBuffers& buf, const std::vector<Point3>& points, int axis, int sign) {
    const auto m = static_cast<int32_t>(buf.outline.size());
    const int u = axis == 2 ? 0 : axis + 1;
    const int v = axis == 0 ? 2 : axis - 1;
    const auto firstFrom = [&](int32_t vertex) {
        return static_cast<int32_t>(
            std::lower_bound(buf.outline.begin(), buf.outline.end(), vertex,
                             [](const Edge& x, int32_t from) { return x.from < from; }) -
            buf.outline.begin());
    };
    buf.used.assign(static_cast<size_t>(m), 0);
    buf.onPath.assign(static_cast<size_t>(m), -1);  // by a corner's first edge
    int outer = 0;
    for (int32_t s = 0; s < m; ++s) {
        if (buf.used[static_cast<size_t>(s)]) {
            continue;
        }
        buf.path.assign(1, buf.outline[static_cast<size_t>(s)].from);
        buf.onPath[static_cast<size_t>(firstFrom(buf.path[0]))] = 0;
        int32_t e = s;
        for (;;) {
            buf.used[static_cast<size_t>(e)] = 1;
            const int32_t next = buf.outline[static_cast<size_t>(e)].to;
            int32_t& mark = buf.onPath[static_cast<size_t>(firstFrom(next))];
            if (mark >= 0) {
                // A loop closes: path[mark..] back to path[mark].
                const auto first = static_cast<size_t>(mark);
                const size_t count = buf.path.size() - first;
                size_t lowest = first;
                for (size_t k = first + 1; k < buf.path.size(); ++k) {
                    const Point3& a = points[static_cast<size_t>(buf.path[k])];
                    const Point3& b = points[static_cast<size_t>(buf.path[lowest])];
                    const double au = coordinate(a, u), bu = coordinate(b, u);
                    if (au < bu || (au == bu && coordinate(a, v) < coordinate(b, v))) {
                        lowest = k;
                    }
                }
                const auto corner = [&](size_t k) {
                    const Point3& q =
                        points[static_cast<size_t>(buf.path[first + (k + count) % count])];
                    return std::array<double, 3>{q.x, q.y, q.z};
                };
                const size_t at = lowest - first;
                const auto p = corner(at + count - 1), q = corner(at), r = corner(at + 1);
                if (orientationAlong(axis, p.data(), q.data(), r.data()) == sign) {
                    ++outer;
                }
                for (size_t k = first + 1; k < buf.path.size(); ++k) {
                    buf.onPath[static_cast<size_t>(firstFrom(buf.path[k]))] = -1;
                }
                buf.path.resize(first + 1);
            } else {
                mark = static_cast<int32_t>(buf.path.size());
                buf.path.push_back(next);
            }
            // On from the path's end, by an edge not yet taken.
            const int32_t from = buf.path.back();
            e = firstFrom(from);
            while (e < m && buf.outline[static_cast<size_t>(e)].from == from &&
                   buf.used[static_cast<size_t>(e)]) {
                ++e;
            }
            if (e == m || buf.outline[static_cast<size_t>(e)].from != from) {
                break;
            }
        }
        // Stuck only back at the start, where every corner starts as many edges as end.
        if (buf.path.size() != 1) {
            return false;
        }
        buf.onPath[static_cast<size_t>(firstFrom(buf.path[0]))] = -1;
    }
    return outer == 1;
}

// The table of edges: each once, both ways, by its ends in order (31 bits each) and a bit
// per way seen; 0 is no edge. At most half full for `edges` edges. Its slots are all 0
// between uses: takeOutline clears those it used.
void openEdgeTable(OutlineBuffers& buf, size_t edges) {
    buf.tableSize = std::bit_ceil(std::max<size_t>(2 * edges, 16));
    if (buf.slots.size() < buf.tableSize) {
        buf.slots.assign(buf.tableSize, 0);
    }
    buf.filled.clear();
}

// Enters an edge; false, with the table cleared, where it is there already the same way.
[[gnu::always_inline]] inline bool enterEdge(OutlineBuffers& buf, int32_t from, int32_t to) {
    const size_t mask = buf.tableSize - 1;
    const int shift = 64 - std::countr_zero(buf.tableSize);
    const uint64_t way = from < to ? 1 : 2;
    const uint64_t key = static_cast<uint64_t>(std::min(from, to)) << 33 |
                         static_cast<uint64_t>(std::max(from, to)) << 2;
    for (auto at = static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> shift);;
         at = (at + 1) & mask) {
        uint64_t& slot = buf.slots[at];
        if (slot == 0) {
            slot = key | way;
            buf.filled.push_back(static_cast<uint32_t>(at));
            return true;
        }
        if ((slot & ~uint64_t{3}) == key) {
            if ((slot & way) != 0) {
                clearTable(buf);
                return false;
            }
            slot |= way;
            return true;
        }
    }
}

// The table's edges seen one way only, into buf.outline in the order they were entered, and
// the table cleared; false where fewer than three are left.
bool takeOutline(OutlineBuffers& buf) {
    buf.outline.clear();
    for (const uint32_t at : buf.filled) {
        const uint64_t slot = buf.slots[at];
        const uint64_t way = slot & 3;
        if (way == 1 || way == 2) {
            const auto lo = static_cast<int32_t>(slot >> 33);
            const auto hi = static_cast<int32_t>((slot >> 2) & 0x7fffffff);
            buf.outline.push_back(way == 1 ? Edge{lo, hi} : Edge{hi, lo});
        }
    }
    clearTable(buf);
    return buf.outline.size() >= 3;
}

void sortByStart(OutlineBuffers& buf) {
    std::sort(buf.outline.begin(), buf.outline.end(), [](const Edge& x, const Edge& y) {
        return x.from != y.from ? x.from < y.from : x.to < y.to;
    });
}

}  // namespace

bool triangleOutline(OutlineBuffers& buf, const std::vector<Corners>& tris, int32_t first,
                     const int32_t* list, int32_t count) {
    openEdgeTable(buf, 3 * static_cast<size_t>(count));
    // The corners are asked for some triangles ahead: the list jumps about the operand.
    constexpr int32_t kAhead = 8;
    for (int32_t k = 0; k < count; ++k) {
        if (k + kAhead < count) {
            __builtin_prefetch(&tris[static_cast<size_t>(first + list[k + kAhead])]);
        }
        const Corners& c = tris[static_cast<size_t>(first + list[k])];
        if (!enterEdge(buf, c[0], c[1]) || !enterEdge(buf, c[1], c[2]) ||
            !enterEdge(buf, c[2], c[0])) {
            return false;
        }
    }
    return takeOutline(buf);
}

bool sumOutline(OutlineBuffers& buf) {
    openEdgeTable(buf, buf.outline.size());
    for (const Edge& edge : buf.outline) {
        if (!enterEdge(buf, edge.from, edge.to)) {
            return false;
        }
    }
    return takeOutline(buf);
}

bool plainOutline(OutlineBuffers& buf, const std::vector<Point3>& points, int axis, int sign) {
    // Sorted only here: most outlines are summed into larger ones and never tested.
    sortByStart(buf);
    return edgesApart(buf, points, axis) && oneOuterLoop(buf, points, axis, sign);
}

bool oneOuterLoopOnly(OutlineBuffers& buf, const std::vector<Point3>& points, int axis, int sign) {
    sortByStart(buf);
    return oneOuterLoop(buf, points, axis, sign);
}

}  // namespace korvan::closed
