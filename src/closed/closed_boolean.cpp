// The closed-result Boolean: weld, find touching pairs, split, classify patches, assemble.
#include "closed/closed_boolean.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <chrono>
#include <climits>
#include <cmath>
#include <exception>
#include <new>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include <tbb/blocked_range.h>
#include <tbb/enumerable_thread_specific.h>
#include <tbb/parallel_for.h>
#include <tbb/parallel_invoke.h>
#include <tbb/parallel_reduce.h>
#include <tbb/parallel_sort.h>
#include <tbb/task_arena.h>

#include "closed/arrangement.h"
#include "geometry/mesh_topology.h"

namespace korvan {
namespace {

using closed::Corners;
using closed::Piece;
using closed::Point3;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point& t) {
    const Clock::time_point now = Clock::now();
    const double s = std::chrono::duration<double>(now - t).count();
    t = now;
    return s;
}

// Indices i in [0, n) with pred(i), in increasing order, tested in parallel.
template <typename Pred>
std::vector<int32_t> selectInOrder(int32_t n, const Pred& pred) {
    std::vector<char> hit(static_cast<size_t>(n), 0);
    tbb::parallel_for(tbb::blocked_range<int32_t>(0, n, 4096),
                      [&](const tbb::blocked_range<int32_t>& r) {
                          for (int32_t i = r.begin(); i < r.end(); ++i) {
                              hit[static_cast<size_t>(i)] = pred(i) ? 1 : 0;
                          }
                      });
    std::vector<int32_t> out;
    for (int32_t i = 0; i < n; ++i) {
        if (hit[static_cast<size_t>(i)]) {
            out.push_back(i);
        }
    }
    return out;
}

// The edge counts of edgeTopology (open, more than two triangles, used unevenly each way) for
// corners [begin, end), with the vertices' rows counted in parallel; sums of counts do not
// depend on the order they are taken in.
MeshTopology edgeFaults(const Corners* begin, const Corners* end, int32_t vertexCount) {
    assert(vertexCount < (1 << 30));
    // Every edge x -> y is filed under its lower end as (higher end * 2 + 1 if it leaves the
    // lower end); a row sorted groups the uses of each edge.
    std::vector<int32_t> start(static_cast<size_t>(vertexCount) + 1, 0);
    for (const Corners* c = begin; c != end; ++c) {
        for (int e = 0; e < 3; ++e) {
            const int32_t x = (*c)[e], y = (*c)[(e + 1) % 3];
            if (x != y) {
                ++start[std::min(x, y) + 1];
            }
        }
    }
    for (size_t i = 1; i < start.size(); ++i) {
        start[i] += start[i - 1];
    }
    std::vector<int32_t> row(static_cast<size_t>(start.back()));
    {
        std::vector<int32_t> fill(start.begin(), start.end() - 1);
        for (const Corners* c = begin; c != end; ++c) {
            for (int e = 0; e < 3; ++e) {
                const int32_t x = (*c)[e], y = (*c)[(e + 1) % 3];
                if (x != y) {
                    row[fill[std::min(x, y)]++] = std::max(x, y) * 2 + (x < y ? 1 : 0);
                }
            }
        }
    }
    struct Counts {
        int64_t open = 0, nonManifold = 0, flips = 0;
    };
    const Counts total = tbb::parallel_reduce(
        tbb::blocked_range<int32_t>(0, vertexCount, 2048), Counts{},
        [&](const tbb::blocked_range<int32_t>& r, Counts acc) {
            for (int32_t a = r.begin(); a < r.end(); ++a) {
                int32_t* first = row.data() + start[a];
                int32_t* last = row.data() + start[a + 1];
                std::sort(first, last);
                for (int32_t* i = first; i != last;) {
                    int32_t* j = i;
                    int32_t forward = 0;
                    while (j != last && (*j >> 1) == (*i >> 1)) {
                        forward += *j & 1;
                        ++j;
                    }
                    const auto count = static_cast<int32_t>(j - i);
                    if (count == 1) {
                        ++acc.open;
                    } else {
                        acc.nonManifold += count > 2 ? 1 : 0;
                        acc.flips += 2 * forward != count ? 1 : 0;
                    }
                    i = j;
                }
            }
            return acc;
        },
        [](Counts x, const Counts& y) {
            x.open += y.open;
            x.nonManifold += y.nonManifold;
            x.flips += y.flips;
            return x;
        });
    MeshTopology topo;
    topo.openEdges = static_cast<decltype(topo.openEdges)>(total.open);
    topo.nonManifoldEdges = static_cast<decltype(topo.nonManifoldEdges)>(total.nonManifold);
    topo.orientationFlips = static_cast<decltype(topo.orientationFlips)>(total.flips);
    return topo;
}

// Both operands over one table of distinct positions: equal positions of either operand share
// one point, so a vertex one operand has on the other's surface is found as itself.
struct Welded {
    std::vector<Point3> points;
    std::vector<Corners> tris;
    int32_t firstOther = 0;
};

// Replaces each triangle whose three distinct corners are collinear, with its middle corner m
// between a and b, by splitting the triangle across its long edge a-b at m: (a, b, m) and
// (b, a, d) become (m, a, d) and (b, m, d). The surface keeps its shape and stays closed.
// Returns the number of such triangles left (none found a partner).
// With `suspect`, only triangles with a suspect corner are looked at.
int64_t repairSlivers(std::vector<Corners>& tris, const std::vector<Point3>& points,
                      const std::vector<char>* suspect = nullptr) {
    const auto coordinate = [&](int32_t v, int axis) {
        const Point3& p = points[v];
        return axis == 0 ? p.x : axis == 1 ? p.y : p.z;
    };
    std::vector<int32_t> slivers;
    for (int round = 0; round < 8; ++round) {
        slivers = selectInOrder(static_cast<int32_t>(tris.size()), [&](int32_t t) {
            const Corners& c = tris[t];
            if (suspect != nullptr && !(*suspect)[c[0]] && !(*suspect)[c[1]] && !(*suspect)[c[2]]) {
                return false;
            }
            return c[0] != c[1] && c[1] != c[2] && c[0] != c[2] &&
                   closed::collinear(points[c[0]], points[c[1]], points[c[2]]);
        });
        if (slivers.empty() || round == 7) {
            break;
        }
        std::vector<int32_t> start(points.size() + 1, 0);
        for (const Corners& c : tris) {
            for (int32_t v : c) {
                ++start[v + 1];
            }
        }
        for (size_t i = 1; i < start.size(); ++i) {
            start[i] += start[i - 1];
        }
        std::vector<int32_t> around(static_cast<size_t>(start.back()));
        std::vector<int32_t> fill(start.begin(), start.end() - 1);
        for (int32_t t = 0; t < static_cast<int32_t>(tris.size()); ++t) {
            for (int32_t v : tris[t]) {
                around[fill[v]++] = t;
            }
        }
        std::vector<char> changed(tris.size(), 0);
        for (int32_t t : slivers) {
            if (changed[t]) {
                continue;
            }
            const Corners c = tris[t];
            // The middle corner along the axis where the three differ most.
            int axis = 0;
            double widest = -1;
            for (int i = 0; i < 3; ++i) {
                const double lo =
                    std::min({coordinate(c[0], i), coordinate(c[1], i), coordinate(c[2], i)});
                const double hi =
                    std::max({coordinate(c[0], i), coordinate(c[1], i), coordinate(c[2], i)});
                if (hi - lo > widest) {
                    widest = hi - lo;
                    axis = i;
                }
            }
            int m = 0;
            for (int i = 0; i < 3; ++i) {
                const double x = coordinate(c[i], axis);
                const double y = coordinate(c[(i + 1) % 3], axis);
                const double z = coordinate(c[(i + 2) % 3], axis);
                if ((y < x && x < z) || (z < x && x < y)) {
                    m = i;
                }
            }
            const int32_t mid = c[m], a = c[(m + 1) % 3], b = c[(m + 2) % 3];
            for (int32_t k = start[a]; k < start[a + 1]; ++k) {
                const int32_t s = around[k];
                if (s == t || changed[s]) {
                    continue;
                }
                const Corners& n = tris[s];
                int r = -1;
                for (int i = 0; i < 3; ++i) {
                    if (n[i] == b && n[(i + 1) % 3] == a) {
                        r = i;
                    }
                }
                if (r < 0) {
                    continue;
                }
                const int32_t d = n[(r + 2) % 3];
                tris[s] = {b, mid, d};
                tris[t] = {mid, a, d};
                changed[s] = changed[t] = 1;
                break;
            }
        }
    }
    return static_cast<int64_t>(slivers.size());
}

// Removes triangles that repeat a corner and splits away collinear ones, per operand; an
// operand that is not closed afterwards is refused.
std::string repairOperands(Welded& w) {
    // Nearly always there is nothing to repair; that is found in one parallel pass.
    const std::vector<int32_t> suspects =
        selectInOrder(static_cast<int32_t>(w.tris.size()), [&](int32_t t) {
            const Corners& c = w.tris[t];
            return c[0] == c[1] || c[1] == c[2] || c[0] == c[2] ||
                   closed::collinear(w.points[c[0]], w.points[c[1]], w.points[c[2]]);
        });
    if (suspects.empty()) {
        return {};
    }
    std::vector<Corners> side[2];
    for (int32_t t = 0; t < static_cast<int32_t>(w.tris.size()); ++t) {
        const Corners& c = w.tris[t];
        if (c[0] != c[1] && c[1] != c[2] && c[0] != c[2]) {
            side[t >= w.firstOther ? 1 : 0].push_back(c);
        }
    }
    const bool dropped = side[0].size() + side[1].size() != w.tris.size();
    for (int s = 0; s < 2; ++s) {
        const int64_t left = repairSlivers(side[s], w.points);
        const std::string name = "Objekt " + std::to_string(s + 1);
        if (left > 0) {
            return name + " ima " + std::to_string(left) +
                   " trokuta bez povrsine koje nije moguce ukloniti";
        }
        if (dropped) {
            const MeshTopology topo = edgeFaults(side[s].data(), side[s].data() + side[s].size(),
                                                 static_cast<int32_t>(w.points.size()));
            if (topo.openEdges != 0 || topo.nonManifoldEdges != 0 || topo.orientationFlips != 0) {
                return name + " bez trokuta bez povrsine vise nije zatvoreno tijelo";
            }
        }
    }
    w.firstOther = static_cast<int32_t>(side[0].size());
    w.tris = std::move(side[0]);
    w.tris.insert(w.tris.end(), side[1].begin(), side[1].end());
    return {};
}

struct Box {
    std::array<double, 3> lo, hi;
};

Box emptyBox() {
    return {{HUGE_VAL, HUGE_VAL, HUGE_VAL}, {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL}};
}

void grow(Box& into, const Box& b) {
    for (int i = 0; i < 3; ++i) {
        into.lo[i] = std::min(into.lo[i], b.lo[i]);
        into.hi[i] = std::max(into.hi[i], b.hi[i]);
    }
}

// The same numbering as welding a's vertices followed by b's: each operand is welded on its
// own (both at once), then b's positions that a has too take a's ids; b's new positions follow
// a's in b's order of first occurrence.
Welded weld(const Solid& a, const Solid& b) {
    int32_t distinct[2] = {0, 0};
    std::vector<int32_t> id[2];
    tbb::parallel_invoke([&] { id[0] = weldPositions(a.vertices, distinct[0]); },
                         [&] { id[1] = weldPositions(b.vertices, distinct[1]); });
    const std::vector<Vector4>* verts[2] = {&a.vertices, &b.vertices};
    // The first vertex of each distinct position, and the box of each operand.
    std::vector<int32_t> firstOf[2];
    Box box[2];
    for (int s = 0; s < 2; ++s) {
        firstOf[s].reserve(static_cast<size_t>(distinct[s]));
        box[s] = emptyBox();
        for (size_t i = 0; i < verts[s]->size(); ++i) {
            if (id[s][i] == static_cast<int32_t>(firstOf[s].size())) {
                firstOf[s].push_back(static_cast<int32_t>(i));
            }
            const Vector4& v = (*verts[s])[i];
            grow(box[s], Box{{v.x, v.y, v.z}, {v.x, v.y, v.z}});
        }
    }
    using Key = std::array<uint32_t, 3>;
    const auto keyOf = [](const Vector4& v) {
        return Key{std::bit_cast<uint32_t>(v.x + 0.0f), std::bit_cast<uint32_t>(v.y + 0.0f),
                   std::bit_cast<uint32_t>(v.z + 0.0f)};
    };
    const auto inBox = [](const Vector4& v, const Box& x) {
        return v.x >= x.lo[0] && v.x <= x.hi[0] && v.y >= x.lo[1] && v.y <= x.hi[1] &&
               v.z >= x.lo[2] && v.z <= x.hi[2];
    };
    // a's positions where b could have them, sorted for lookup.
    std::vector<std::pair<Key, int32_t>> shared;
    for (int32_t k = 0; k < distinct[0]; ++k) {
        const Vector4& v = a.vertices[static_cast<size_t>(firstOf[0][k])];
        if (inBox(v, box[1])) {
            shared.emplace_back(keyOf(v), k);
        }
    }
    std::sort(shared.begin(), shared.end());
    std::vector<int32_t> globalOfB(static_cast<size_t>(distinct[1]));
    int32_t next = distinct[0];
    for (int32_t k = 0; k < distinct[1]; ++k) {
        const Vector4& v = b.vertices[static_cast<size_t>(firstOf[1][k])];
        int32_t g = -1;
        if (inBox(v, box[0])) {
            const Key key = keyOf(v);
            const auto it = std::lower_bound(shared.begin(), shared.end(),
                                             std::pair<Key, int32_t>(key, INT32_MIN));
            if (it != shared.end() && it->first == key) {
                g = it->second;
            }
        }
        globalOfB[static_cast<size_t>(k)] = g >= 0 ? g : next++;
    }
    Welded w;
    w.points.resize(static_cast<size_t>(next));
    for (int s = 0; s < 2; ++s) {
        for (int32_t k = 0; k < distinct[s]; ++k) {
            const Vector4& v = (*verts[s])[static_cast<size_t>(firstOf[s][k])];
            const int32_t g = s == 0 ? k : globalOfB[static_cast<size_t>(k)];
            // +0.0f folds -0 into +0, as the weld did.
            w.points[static_cast<size_t>(g)] = {v.x + 0.0f, v.y + 0.0f, v.z + 0.0f};
        }
    }
    w.tris.resize(a.triangles.size() + b.triangles.size());
    w.firstOther = static_cast<int32_t>(a.triangles.size());
    tbb::parallel_for(tbb::blocked_range<size_t>(0, w.tris.size(), 4096),
                      [&](const tbb::blocked_range<size_t>& r) {
                          for (size_t i = r.begin(); i < r.end(); ++i) {
                              if (i < a.triangles.size()) {
                                  const Triangle& t = a.triangles[i];
                                  w.tris[i] = {id[0][t.i0], id[0][t.i1], id[0][t.i2]};
                              } else {
                                  const Triangle& t = b.triangles[i - a.triangles.size()];
                                  w.tris[i] = {globalOfB[id[1][t.i0]], globalOfB[id[1][t.i1]],
                                               globalOfB[id[1][t.i2]]};
                              }
                          }
                      });
    return w;
}

Box boxOf(const Welded& w, int32_t t) {
    const Corners& c = w.tris[t];
    Box b{{w.points[c[0]].x, w.points[c[0]].y, w.points[c[0]].z},
          {w.points[c[0]].x, w.points[c[0]].y, w.points[c[0]].z}};
    for (int k = 1; k < 3; ++k) {
        const Point3& p = w.points[c[k]];
        const double v[3] = {p.x, p.y, p.z};
        for (int i = 0; i < 3; ++i) {
            b.lo[i] = std::min(b.lo[i], v[i]);
            b.hi[i] = std::max(b.hi[i], v[i]);
        }
    }
    return b;
}

bool overlaps(const Box& a, const Box& b) {
    for (int i = 0; i < 3; ++i) {
        if (a.hi[i] < b.lo[i] || b.hi[i] < a.lo[i]) {
            return false;
        }
    }
    return true;
}

// Triangles in [begin, end) whose box meets `around`, in index order, and the box of them all.
// Min and max do not depend on the order they are taken in, so the split into ranges does not
// change the box.
std::vector<int32_t> trianglesNear(const Welded& w, int32_t begin, int32_t end, const Box& around,
                                   Box& reach) {
    std::vector<char> near(static_cast<size_t>(end - begin), 0);
    reach = tbb::parallel_reduce(
        tbb::blocked_range<int32_t>(begin, end, 4096), emptyBox(),
        [&](const tbb::blocked_range<int32_t>& r, Box acc) {
            for (int32_t t = r.begin(); t < r.end(); ++t) {
                const Box b = boxOf(w, t);
                if (overlaps(b, around)) {
                    near[static_cast<size_t>(t - begin)] = 1;
                    grow(acc, b);
                }
            }
            return acc;
        },
        [](Box x, const Box& y) {
            grow(x, y);
            return x;
        });
    std::vector<int32_t> out;
    for (int32_t t = begin; t < end; ++t) {
        if (near[static_cast<size_t>(t - begin)]) {
            out.push_back(t);
        }
    }
    return out;
}

// Pairs (object 1 triangle, object 2 triangle) whose closed boxes meet, sorted. Only triangles
// near the other operand take part: each side is cut down to the triangles whose box meets the
// other side's remaining ones. The smaller side goes into a sparse grid of cells about a
// triangle in size; each triangle of the larger side looks up the cells its box covers, and a
// pair is reported by the cell that holds the low corner of the two boxes' overlap only.
std::vector<std::pair<int32_t, int32_t>> candidatePairs(const Welded& w) {
    const auto nt = static_cast<int32_t>(w.tris.size());
    std::vector<std::pair<int32_t, int32_t>> pairs;
    if (w.firstOther == 0 || w.firstOther == nt) {
        return pairs;
    }
    const Box everything{{-HUGE_VAL, -HUGE_VAL, -HUGE_VAL}, {HUGE_VAL, HUGE_VAL, HUGE_VAL}};
    Box reach[2];
    (void)trianglesNear(w, w.firstOther, nt, everything, reach[1]);
    std::vector<int32_t> side[2];
    side[0] = trianglesNear(w, 0, w.firstOther, reach[1], reach[0]);
    if (side[0].empty()) {
        return pairs;
    }
    side[1] = trianglesNear(w, w.firstOther, nt, reach[0], reach[1]);
    if (side[1].empty()) {
        return pairs;
    }
    // Once more for object 1, now against the object 2 triangles that are left.
    {
        std::vector<int32_t> kept;
        Box again = emptyBox();
        for (int32_t t : side[0]) {
            const Box b = boxOf(w, t);
            if (overlaps(b, reach[1])) {
                kept.push_back(t);
                grow(again, b);
            }
        }
        side[0] = std::move(kept);
        reach[0] = again;
        if (side[0].empty()) {
            return pairs;
        }
    }
    Box region;
    for (int i = 0; i < 3; ++i) {
        region.lo[i] = std::max(reach[0].lo[i], reach[1].lo[i]);
        region.hi[i] = std::min(reach[0].hi[i], reach[1].hi[i]);
    }
    double sizeSum = 0;
    for (int s = 0; s < 2; ++s) {
        for (int32_t t : side[s]) {
            const Box b = boxOf(w, t);
            sizeSum += std::max({b.hi[0] - b.lo[0], b.hi[1] - b.lo[1], b.hi[2] - b.lo[2]});
        }
    }
    const double members = static_cast<double>(side[0].size() + side[1].size());
    double cell = std::max(2.0 * sizeSum / members, 1e-30);
    std::array<int64_t, 3> dim{};
    for (;;) {
        for (int i = 0; i < 3; ++i) {
            dim[i] = std::max<int64_t>(
                static_cast<int64_t>(std::ceil((region.hi[i] - region.lo[i]) / cell)), 1);
        }
        if (dim[0] <= (1 << 20) && dim[1] <= (1 << 20) && dim[2] <= (1 << 20)) {
            break;
        }
        cell *= 2.0;
    }
    const auto cellOf = [&](int i, double v) {
        const auto c = static_cast<int64_t>(std::floor((v - region.lo[i]) / cell));
        return std::clamp<int64_t>(c, 0, dim[i] - 1);
    };
    const auto index = [&](int64_t x, int64_t y, int64_t z) {
        return (z * dim[1] + y) * dim[0] + x;
    };
    const int small = side[0].size() <= side[1].size() ? 0 : 1;
    // (cell, triangle) of the smaller side, sorted by cell.
    std::vector<std::pair<int64_t, int32_t>> grid;
    for (int32_t t : side[small]) {
        const Box b = boxOf(w, t);
        for (int64_t z = cellOf(2, b.lo[2]); z <= cellOf(2, b.hi[2]); ++z) {
            for (int64_t y = cellOf(1, b.lo[1]); y <= cellOf(1, b.hi[1]); ++y) {
                for (int64_t x = cellOf(0, b.lo[0]); x <= cellOf(0, b.hi[0]); ++x) {
                    grid.emplace_back(index(x, y, z), t);
                }
            }
        }
    }
    tbb::parallel_sort(grid.begin(), grid.end());
    const std::vector<int32_t>& large = side[1 - small];
    tbb::enumerable_thread_specific<std::vector<std::pair<int32_t, int32_t>>> found;
    tbb::parallel_for(
        tbb::blocked_range<size_t>(0, large.size(), 1024),
        [&](const tbb::blocked_range<size_t>& r) {
            auto& out = found.local();
            for (size_t i = r.begin(); i < r.end(); ++i) {
                const int32_t u = large[i];
                const Box bu = boxOf(w, u);
                for (int64_t z = cellOf(2, bu.lo[2]); z <= cellOf(2, bu.hi[2]); ++z) {
                    for (int64_t y = cellOf(1, bu.lo[1]); y <= cellOf(1, bu.hi[1]); ++y) {
                        for (int64_t x = cellOf(0, bu.lo[0]); x <= cellOf(0, bu.hi[0]); ++x) {
                            const int64_t c = index(x, y, z);
                            auto it = std::lower_bound(grid.begin(), grid.end(),
                                                       std::pair<int64_t, int32_t>(c, INT32_MIN));
                            for (; it != grid.end() && it->first == c; ++it) {
                                const Box bv = boxOf(w, it->second);
                                if (!overlaps(bu, bv)) {
                                    continue;
                                }
                                if (cellOf(0, std::max(bu.lo[0], bv.lo[0])) == x &&
                                    cellOf(1, std::max(bu.lo[1], bv.lo[1])) == y &&
                                    cellOf(2, std::max(bu.lo[2], bv.lo[2])) == z) {
                                    out.emplace_back(small == 0 ? it->second : u,
                                                     small == 0 ? u : it->second);
                                }
                            }
                        }
                    }
                }
            }
        });
    for (const auto& part : found) {
        pairs.insert(pairs.end(), part.begin(), part.end());
    }
    // The threads' shares arrive in any order; sorting makes the list the same for any count.
    tbb::parallel_sort(pairs.begin(), pairs.end());
    return pairs;
}

// Disjoint sets over pieces, joined across edges that are not on the seam.
struct Patches {
    std::vector<int32_t> parent;
    explicit Patches(size_t n) : parent(n) { std::iota(parent.begin(), parent.end(), 0); }
    int32_t find(int32_t x) {
        while (parent[x] != x) {
            parent[x] = parent[parent[x]];
            x = parent[x];
        }
        return x;
    }
    void join(int32_t a, int32_t b) {
        a = find(a);
        b = find(b);
        // The smaller index is the root, so a patch's root is its first piece.
        if (a < b) {
            parent[b] = a;
        } else if (b < a) {
            parent[a] = b;
        }
    }
};

Patches findPatches(const std::vector<Piece>& pieces, int32_t firstOther, int32_t pointCount) {
    // Each edge {a, b} with a < b is filed under a, once per piece that has it, packed as
    // b << 32 | seam << 31 | operand << 30 | piece. It is on the seam when pieces of both
    // operands have it or any piece flags it; otherwise its two pieces join one patch.
    assert(pieces.size() < (size_t{1} << 30));
    static constexpr uint64_t kSeam = uint64_t{1} << 31, kOther = uint64_t{1} << 30;
    std::vector<int32_t> start(static_cast<size_t>(pointCount) + 1, 0);
    for (const Piece& p : pieces) {
        for (int e = 0; e < 3; ++e) {
            ++start[std::min(p.v[e], p.v[(e + 1) % 3]) + 1];
        }
    }
    for (size_t i = 1; i < start.size(); ++i) {
        start[i] += start[i - 1];
    }
    std::vector<uint64_t> row(static_cast<size_t>(start.back()));
    {
        std::vector<int32_t> fill(start.begin(), start.end() - 1);
        for (int32_t p = 0; p < static_cast<int32_t>(pieces.size()); ++p) {
            const Piece& piece = pieces[p];
            const uint64_t base =
                static_cast<uint64_t>(p) | (piece.source >= firstOther ? kOther : 0);
            for (int e = 0; e < 3; ++e) {
                const int32_t x = piece.v[e], y = piece.v[(e + 1) % 3];
                row[fill[std::min(x, y)]++] = static_cast<uint64_t>(std::max(x, y)) << 32 | base |
                                              ((piece.seamMask & (1u << e)) != 0 ? kSeam : 0);
            }
        }
    }
    // The joins are gathered in parallel, then made in one thread; the sets, and their roots
    // (always the smallest piece), do not depend on the order of the joins.
    tbb::enumerable_thread_specific<std::vector<std::pair<int32_t, int32_t>>> joins;
    tbb::parallel_for(tbb::blocked_range<int32_t>(0, pointCount, 2048),
                      [&](const tbb::blocked_range<int32_t>& r) {
                          auto& out = joins.local();
                          for (int32_t a = r.begin(); a < r.end(); ++a) {
                              uint64_t* first = row.data() + start[a];
                              uint64_t* last = row.data() + start[a + 1];
                              std::sort(first, last);
                              for (uint64_t* i = first; i != last;) {
                                  uint64_t* j = i;
                                  bool seam = false;
                                  while (j != last && (*j >> 32) == (*i >> 32)) {
                                      seam = seam || (*j & kSeam) != 0 || ((*j ^ *i) & kOther) != 0;
                                      ++j;
                                  }
                                  if (!seam && j - i == 2) {
                                      const auto piece = [](uint64_t u) {
                                          return static_cast<int32_t>(u & (kOther - 1));
                                      };
                                      out.emplace_back(piece(*i), piece(*(i + 1)));
                                  }
                                  i = j;
                              }
                          }
                      });
    Patches patches(pieces.size());
    for (const auto& part : joins) {
        for (const auto& [x, y] : part) {
            patches.join(x, y);
        }
    }
    return patches;
}

bool keepPiece(const Piece& piece, bool fromOther, bool inside, BooleanOp op) {
    if (piece.coplanar != 0) {
        // Where the surfaces coincide one copy at most survives, and it is object 1's.
        if (fromOther) {
            return false;
        }
        return piece.coplanar > 0 ? op != BooleanOp::Difference : op == BooleanOp::Difference;
    }
    switch (op) {
        case BooleanOp::Union:
            return !inside;
        case BooleanOp::Intersection:
            return inside;
        case BooleanOp::Difference:
            break;
    }
    return fromOther ? inside : !inside;
}

// The refusal for an operand with these counts and this volume; empty when it is a solid.
std::string operandProblem(const MeshTopology& topo, bool empty, int objectNumber) {
    const std::string name = "Objekt " + std::to_string(objectNumber);
    if (empty) {
        return name + " je prazan";
    }
    if (topo.openEdges != 0) {
        return name + " nije zatvoreno tijelo (" + std::to_string(topo.openEdges) +
               " otvorenih rubova)";
    }
    // An edge with four triangles, two each way, still bounds a solid (two parts touching
    // along it); this engine's own results can have such edges, so they are accepted. An edge
    // used more often one way than the other is not.
    if (topo.orientationFlips != 0) {
        return name + " nije dosljedno orijentiran (" + std::to_string(topo.orientationFlips) +
               " rubova s trokutima suprotne orijentacije)";
    }
    if (!(topo.signedVolume > 0.0)) {
        return name + " je okrenut iznutra prema van (negativan volumen); okrenite mu trokute";
    }
    return {};
}

// Checks both operands on the shared weld, before anything is dropped.
std::string operandsProblem(const Welded& w) {
    for (int side = 0; side < 2; ++side) {
        const Corners* begin = w.tris.data() + (side == 0 ? 0 : w.firstOther);
        const Corners* end =
            side == 0 ? w.tris.data() + w.firstOther : w.tris.data() + w.tris.size();
        MeshTopology topo = edgeFaults(begin, end, static_cast<int32_t>(w.points.size()));
        for (const Corners* it = begin; it != end; ++it) {
            const Corners& c = *it;
            const Point3& p = w.points[c[0]];
            const Point3& q = w.points[c[1]];
            const Point3& r = w.points[c[2]];
            topo.signedVolume += (p.x * (q.y * r.z - q.z * r.y) + p.y * (q.z * r.x - q.x * r.z) +
                                  p.z * (q.x * r.y - q.y * r.x)) /
                                 6.0;
        }
        if (std::string problem = operandProblem(topo, begin == end, side + 1); !problem.empty()) {
            return problem;
        }
    }
    return {};
}

// Rounding a seam point to floats moves it by up to half a unit in the last place. Where seam
// points lie closer together than that (a tool passing nearly where it passed before), a small
// triangle can turn over and fold into its neighbours: a self-intersection that the next
// operation on this mesh would trip over. Such a triangle faces against the triangle it was cut
// from; its shortest edge with a seam point at one end is collapsed into the other end, which
// keeps the mesh closed and consistently oriented, and the triangles that collapse with it are
// left out, as are pairs of triangles on the same three corners facing each other. Vertices
// are then numbered again in order of first use. Returns the number of edges collapsed.
template <typename SourceNormal>
int64_t unfold(std::vector<Corners>& tris, std::vector<int32_t>& source, std::vector<Point3>& points,
               std::vector<char>& seamVertex, const SourceNormal& sourceNormal) {
    const auto faces = [&](int32_t t) {
        const Corners& c = tris[t];
        const Point3& a = points[c[0]];
        const Point3& b = points[c[1]];
        const Point3& d = points[c[2]];
        const double ux = b.x - a.x, uy = b.y - a.y, uz = b.z - a.z;
        const double vx = d.x - a.x, vy = d.y - a.y, vz = d.z - a.z;
        const std::array<double, 3> n{uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx};
        const int32_t s = source[t];
        std::array<double, 3> r = sourceNormal(s < 0 ? ~s : s);
        const double along = n[0] * r[0] + n[1] * r[1] + n[2] * r[2];
        return s < 0 ? -along : along;
    };
    std::vector<int32_t> into(points.size());
    std::iota(into.begin(), into.end(), 0);
    const auto find = [&](int32_t v) {
        while (into[v] != v) {
            into[v] = into[into[v]];
            v = into[v];
        }
        return v;
    };
    std::vector<char> merged(points.size(), 0);  // vertices others were moved onto
    int64_t collapsed = 0;
    for (int round = 0; round < 16; ++round) {
        const std::vector<int32_t> folded =
            selectInOrder(static_cast<int32_t>(tris.size()), [&](int32_t t) {
                const Corners& c = tris[t];
                return (seamVertex[c[0]] || seamVertex[c[1]] || seamVertex[c[2]]) && !(faces(t) > 0);
            });
        if (folded.empty()) {
            break;
        }
        for (int32_t t : folded) {
            const Corners c{find(tris[t][0]), find(tris[t][1]), find(tris[t][2])};
            if (c[0] == c[1] || c[1] == c[2] || c[0] == c[2]) {
                continue;  // already collapsed by an earlier merge of this round
            }
            int best = -1;
            double shortest = HUGE_VAL;
            for (int e = 0; e < 3; ++e) {
                const int32_t x = c[e], y = c[(e + 1) % 3];
                if (!seamVertex[x] && !seamVertex[y]) {
                    continue;
                }
                const Point3& p = points[x];
                const Point3& q = points[y];
                const double d = (p.x - q.x) * (p.x - q.x) + (p.y - q.y) * (p.y - q.y) +
                                 (p.z - q.z) * (p.z - q.z);
                if (d < shortest) {
                    shortest = d;
                    best = e;
                }
            }
            const int32_t x = c[best], y = c[(best + 1) % 3];
            // A seam point moves onto an input vertex; of two seam points the later one moves.
            const bool moveX = seamVertex[x] && (!seamVertex[y] || x > y);
            into[moveX ? x : y] = moveX ? y : x;
            merged[moveX ? y : x] = 1;
            ++collapsed;
        }
        size_t kept = 0;
        for (size_t t = 0; t < tris.size(); ++t) {
            const Corners c{find(tris[t][0]), find(tris[t][1]), find(tris[t][2])};
            if (c[0] == c[1] || c[1] == c[2] || c[0] == c[2]) {
                continue;
            }
            tris[kept] = c;
            source[kept] = source[t];
            ++kept;
        }
        tris.resize(kept);
        source.resize(kept);
    }
    if (collapsed == 0) {
        return 0;
    }
    // Two triangles on the same corners facing each other enclose nothing.
    {
        std::vector<std::pair<Corners, int32_t>> sorted;
        sorted.reserve(tris.size());
        for (int32_t t = 0; t < static_cast<int32_t>(tris.size()); ++t) {
            Corners c = tris[t];
            if (merged[c[0]] || merged[c[1]] || merged[c[2]]) {
                std::sort(c.begin(), c.end());
                sorted.emplace_back(c, t);
            }
        }
        std::sort(sorted.begin(), sorted.end());
        std::vector<char> drop(tris.size(), 0);
        for (size_t i = 0; i + 1 < sorted.size();) {
            size_t j = i;
            while (j < sorted.size() && sorted[j].first == sorted[i].first) {
                ++j;
            }
            // Within a group every corner order is one of two windings; pair them off.
            std::vector<int32_t> way[2];
            for (size_t k = i; k < j; ++k) {
                const Corners& c = tris[sorted[k].second];
                const int32_t lo = sorted[i].first[0];
                const int at = c[0] == lo ? 0 : c[1] == lo ? 1 : 2;
                way[c[(at + 1) % 3] == sorted[i].first[1] ? 0 : 1].push_back(sorted[k].second);
            }
            for (size_t k = 0; k < std::min(way[0].size(), way[1].size()); ++k) {
                drop[way[0][k]] = drop[way[1][k]] = 1;
            }
            i = j;
        }
        size_t kept = 0;
        for (size_t t = 0; t < tris.size(); ++t) {
            if (!drop[t]) {
                tris[kept] = tris[t];
                source[kept] = source[t];
                ++kept;
            }
        }
        tris.resize(kept);
        source.resize(kept);
    }
    // Number the vertices again in order of first use; merged and unused ones drop out.
    std::vector<int32_t> number(points.size(), -1);
    std::vector<Point3> newPoints;
    std::vector<char> newSeam;
    for (Corners& c : tris) {
        for (int32_t& v : c) {
            if (number[v] < 0) {
                number[v] = static_cast<int32_t>(newPoints.size());
                newPoints.push_back(points[v]);
                newSeam.push_back(seamVertex[v]);
            }
            v = number[v];
        }
    }
    points = std::move(newPoints);
    seamVertex = std::move(newSeam);
    return collapsed;
}

// weldPositions' numbering of `rounded`, where only the uses in `seamUses` can share a
// position with another use: the input points are distinct positions already. Seam points are
// sorted by position and each input point near them is looked up, instead of hashing all.
std::vector<int32_t> weldRounded(const std::vector<Vector4>& rounded,
                                 const std::vector<int32_t>& seamUses, int32_t& distinct) {
    using Key = std::array<uint32_t, 3>;
    const auto keyOf = [&](int32_t i) {
        const Vector4& v = rounded[static_cast<size_t>(i)];
        // +0.0f folds -0 into +0, as weldPositions does.
        return Key{std::bit_cast<uint32_t>(v.x + 0.0f), std::bit_cast<uint32_t>(v.y + 0.0f),
                   std::bit_cast<uint32_t>(v.z + 0.0f)};
    };
    std::vector<std::pair<Key, int32_t>> seam;
    seam.reserve(seamUses.size());
    float lo[3] = {HUGE_VALF, HUGE_VALF, HUGE_VALF}, hi[3] = {-HUGE_VALF, -HUGE_VALF, -HUGE_VALF};
    for (int32_t i : seamUses) {
        seam.emplace_back(keyOf(i), i);
        const Vector4& v = rounded[static_cast<size_t>(i)];
        const float c[3] = {v.x, v.y, v.z};
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], c[k]);
            hi[k] = std::max(hi[k], c[k]);
        }
    }
    std::sort(seam.begin(), seam.end());
    const auto n = static_cast<int32_t>(rounded.size());
    // Each use's first use of the same position.
    std::vector<int32_t> first(static_cast<size_t>(n));
    std::iota(first.begin(), first.end(), 0);
    std::vector<int32_t> inputMatch(seam.size(), INT32_MAX);
    std::vector<char> isSeam(static_cast<size_t>(n), 0);
    for (int32_t i : seamUses) {
        isSeam[static_cast<size_t>(i)] = 1;
    }
    for (int32_t i = 0; i < n && !seam.empty(); ++i) {
        const Vector4& v = rounded[static_cast<size_t>(i)];
        if (isSeam[static_cast<size_t>(i)] || v.x < lo[0] || v.x > hi[0] || v.y < lo[1] ||
            v.y > hi[1] || v.z < lo[2] || v.z > hi[2]) {
            continue;
        }
        const auto it = std::lower_bound(seam.begin(), seam.end(),
                                         std::pair<Key, int32_t>(keyOf(i), INT32_MIN));
        if (it != seam.end() && it->first == keyOf(i)) {
            inputMatch[static_cast<size_t>(it - seam.begin())] = i;  // one input point per position
        }
    }
    for (size_t a = 0; a < seam.size();) {
        size_t b = a;
        int32_t m = seam[a].second;
        while (b < seam.size() && seam[b].first == seam[a].first) {
            m = std::min(m, inputMatch[b]);
            ++b;
        }
        for (size_t k = a; k < b; ++k) {
            first[static_cast<size_t>(seam[k].second)] = m;
            if (inputMatch[k] != INT32_MAX) {
                first[static_cast<size_t>(inputMatch[k])] = m;
            }
        }
        a = b;
    }
    std::vector<int32_t> id(static_cast<size_t>(n));
    int32_t count = 0;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t f = first[static_cast<size_t>(i)];
        id[static_cast<size_t>(i)] = f == i ? count++ : id[static_cast<size_t>(f)];
    }
    distinct = count;
    return id;
}

Status run(const Solid& object1, const Solid& object2, BooleanOp op, Solid& result,
           ClosedReport& report) {
    Clock::time_point t = Clock::now();
    const Clock::time_point start = t;
    Welded w = weld(object1, object2);
    if (std::string message = operandsProblem(w); !message.empty()) {
        return Status::failure(message);
    }
    if (std::string message = repairOperands(w); !message.empty()) {
        return Status::failure(message);
    }
    report.weldSeconds = secondsSince(t);

    const std::vector<std::pair<int32_t, int32_t>> candidates = candidatePairs(w);
    report.broadPhaseSeconds = secondsSince(t);

    const int32_t firstOther = w.firstOther;
    const auto inputPoints = static_cast<int32_t>(w.points.size());
    closed::Arrangement arrangement(std::move(w.points), std::move(w.tris), firstOther);
    report.intersectingPairs = arrangement.intersect(candidates);
    report.intersectSeconds = secondsSince(t);

    if (!arrangement.split()) {
        return Status::failure("Zatvoreni rezultat nije moguc: " + arrangement.error());
    }
    const std::vector<Piece>& pieces = arrangement.pieces();
    report.pieces = static_cast<int64_t>(pieces.size());
    report.seamVertices = arrangement.seamPointCount();
    report.splitSeconds = secondsSince(t);

    Patches patches = findPatches(pieces, firstOther, arrangement.pointCount());
    // One exact ray per patch, cast from the patch's first piece that is off the other surface.
    std::vector<int8_t> patchInside(pieces.size(), -1);
    std::vector<char> keep(pieces.size(), 0);
    for (int32_t p = 0; p < static_cast<int32_t>(pieces.size()); ++p) {
        const Piece& piece = pieces[p];
        const bool fromOther = piece.source >= firstOther;
        bool inside = false;
        if (piece.coplanar == 0) {
            int8_t& known = patchInside[patches.find(p)];
            if (known < 0) {
                known = arrangement.insideOther(p) ? 1 : 0;
            }
            inside = known != 0;
        }
        keep[p] = keepPiece(piece, fromOther, inside, op) ? 1 : 0;
    }
    report.classifySeconds = secondsSince(t);

    // Seam points that round to the same float position become one vertex, and pieces that
    // this collapses are left out.
    const bool reverseOther = op == BooleanOp::Difference;
    std::vector<Corners> kept;
    std::vector<int32_t> keptSource;  // source triangle, as ~source where turned over
    for (int32_t p = 0; p < static_cast<int32_t>(pieces.size()); ++p) {
        if (!keep[p]) {
            continue;
        }
        Corners c = pieces[p].v;
        int32_t source = pieces[p].source;
        if (reverseOther && pieces[p].source >= firstOther) {
            std::swap(c[1], c[2]);
            source = ~source;
        }
        kept.push_back(c);
        keptSource.push_back(source);
    }
    std::vector<int32_t> pointToVertex(static_cast<size_t>(arrangement.pointCount()), -1);
    std::vector<Vector4> rounded;
    std::vector<int32_t> seamUses;  // uses that are seam points
    for (const Corners& c : kept) {
        for (int32_t v : c) {
            if (pointToVertex[v] == -1) {
                pointToVertex[v] = static_cast<int32_t>(rounded.size());
                if (v >= inputPoints) {
                    seamUses.push_back(static_cast<int32_t>(rounded.size()));
                }
                const std::array<float, 3> r = arrangement.rounded(v);
                rounded.emplace_back(r[0], r[1], r[2]);
            }
        }
    }
    int32_t slots = 0;
    const std::vector<int32_t> slotOfUse = weldRounded(rounded, seamUses, slots);
    for (int32_t& v : pointToVertex) {
        if (v >= 0) {
            v = slotOfUse[v];
        }
    }
    std::vector<Vector4> slotPosition(static_cast<size_t>(slots));
    for (size_t i = 0; i < rounded.size(); ++i) {
        slotPosition[slotOfUse[i]] = rounded[i];
    }
    // Pieces collapsed by the rounding are left out before vertices are numbered, in order of
    // first use by the triangles that remain.
    std::vector<Corners> out;
    out.reserve(kept.size());
    std::vector<int32_t> outSource;
    outSource.reserve(kept.size());
    std::vector<int32_t> vertexOfSlot(static_cast<size_t>(slots), -1);
    int32_t vertexCount = 0;
    for (size_t i = 0; i < kept.size(); ++i) {
        const Corners& k = kept[i];
        Corners c{pointToVertex[k[0]], pointToVertex[k[1]], pointToVertex[k[2]]};
        if (c[0] == c[1] || c[1] == c[2] || c[0] == c[2]) {
            continue;
        }
        for (int32_t& v : c) {
            if (vertexOfSlot[v] < 0) {
                vertexOfSlot[v] = vertexCount++;
            }
            v = vertexOfSlot[v];
        }
        out.push_back(c);
        outSource.push_back(keptSource[i]);
    }
    kept = {};
    keptSource = {};
    // Rounding can leave a seam point on the line through two other corners; such triangles
    // are split away. Only triangles with a seam point can have become flat.
    std::vector<Point3> outPoints(static_cast<size_t>(vertexCount));
    for (size_t slot = 0; slot < slotPosition.size(); ++slot) {
        if (vertexOfSlot[slot] >= 0) {
            const Vector4& k = slotPosition[slot];
            outPoints[static_cast<size_t>(vertexOfSlot[slot])] = {k.x, k.y, k.z};
        }
    }
    std::vector<char> seamVertex(static_cast<size_t>(vertexCount), 0);
    for (int32_t point = inputPoints; point < arrangement.pointCount(); ++point) {
        const int32_t slot = pointToVertex[point];
        if (slot >= 0 && vertexOfSlot[slot] >= 0) {
            seamVertex[vertexOfSlot[slot]] = 1;
        }
    }
    report.folds = unfold(out, outSource, outPoints, seamVertex,
                          [&](int32_t t) { return arrangement.sourceNormal(t); });
    vertexCount = static_cast<int32_t>(outPoints.size());
    report.slivers = repairSlivers(out, outPoints, &seamVertex);
    Solid fresh;
    fresh.allocate(vertexCount, static_cast<int32_t>(out.size()));
    for (size_t v = 0; v < outPoints.size(); ++v) {
        const Point3& k = outPoints[v];
        fresh.vertices[v] = Vector4(static_cast<float>(k.x) + 0.0f, static_cast<float>(k.y) + 0.0f,
                                    static_cast<float>(k.z) + 0.0f);
    }
    for (size_t i = 0; i < out.size(); ++i) {
        fresh.triangles[i].setIndices(out[i][0], out[i][1], out[i][2]);
    }
    fresh.computeTriangleData();
    fresh.computeBoundingBox();
    fresh.loaded = 1;
    fresh.edgeLimit = object1.edgeLimit;
    report.resultTriangles = static_cast<int64_t>(out.size());

    const MeshTopology topo = edgeFaults(out.data(), out.data() + out.size(), vertexCount);
    // Where the exact result itself pinches (two parts touching along an edge) an edge keeps
    // four triangles, two each way: closed and oriented, so it is returned and counted.
    if (topo.openEdges != 0 || topo.orientationFlips != 0) {
        return Status::failure("Zatvoreni rezultat nije uspio: " + std::to_string(topo.openEdges) +
                               " otvorenih i " + std::to_string(topo.orientationFlips) +
                               " krivo orijentiranih rubova u rezultatu");
    }
    report.pinchedEdges = topo.nonManifoldEdges;
    report.assembleSeconds = secondsSince(t);
    report.totalSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    result.swap(fresh);
    result.wireframe = fresh.wireframe;
    return {};
}

}  // namespace

Status checkClosedOperand(const Solid& solid, int objectNumber) {
    try {
        const std::string problem =
            operandProblem(analyzeTopology(solid), solid.triangles.empty(), objectNumber);
        return problem.empty() ? Status() : Status::failure(problem);
    } catch (const std::bad_alloc&) {
        return Status::failure(kOutOfMemoryMessage);
    }
}

Status closedBoolean(const Solid& object1, const Solid& object2, BooleanOp op, Solid& result,
                     ClosedReport* report, int threads) {
    // Exact predicates need finite coordinates, and the arrays must agree.
    const Solid* operands[2] = {&object1, &object2};
    for (int k = 0; k < 2; ++k) {
        const Solid& s = *operands[k];
        const std::string name = "Objekt " + std::to_string(k + 1);
        for (const Vector4& v : s.vertices) {
            if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z)) {
                return Status::failure(name + " ima tocku s neispravnim koordinatama");
            }
        }
        const auto n = static_cast<uint32_t>(s.vertices.size());
        for (const Triangle& t : s.triangles) {
            if (static_cast<uint32_t>(t.i0) >= n || static_cast<uint32_t>(t.i1) >= n ||
                static_cast<uint32_t>(t.i2) >= n) {
                return Status::failure(name + " ima trokut s nepostojecim vrhom");
            }
        }
    }
    ClosedReport local;
    try {
        // Every parallel loop below runs inside this arena, so `threads` caps them all.
        tbb::task_arena arena(threads > 0 ? threads : tbb::task_arena::automatic);
        Status s;
        arena.execute([&] { s = run(object1, object2, op, result, local); });
        if (report != nullptr) {
            *report = local;
        }
        return s;
    } catch (const std::bad_alloc&) {
        return Status::failure(kOutOfMemoryMessage);
    } catch (const std::exception& e) {
        return Status::failure(std::string("Zatvoreni rezultat nije moguc: ") + e.what());
    }
}

}  // namespace korvan
