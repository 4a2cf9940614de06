// Exact pair tests, per-triangle constrained triangulation and ray parity.
//
// Decisions (which side, whether and where two triangles touch) use only orientation tests on
// input points, which CGAL's filtered kernel evaluates exactly. A seam point is named by what
// produces it (an edge crossing a face, two edges crossing, or an existing vertex), so both
// operands and every triangle around an edge arrive at the same point. Coordinates of seam
// points are built exactly only where the triangulation and the ray test need them.
#include "closed/arrangement_impl.h"
#include "closed/passes.h"

#include <initializer_list>

#include <tbb/parallel_invoke.h>

#include <bit>
#include <cstdint>
#include <utility>

namespace korvan::closed {

void Arrangement::Impl::buildEdges(const std::vector<int32_t>& involved) {
    // Edge ids per operand, for the triangles of candidate pairs only: a point on an edge
    // touches both triangles of the edge, so both are candidates. An edge of object 1 and one
    // of object 2 on the same two points are different edges.
    // Each edge use as (operand << 62 | lower point << 31 | higher point, triangle * 3 + k):
    // sorted, equal edges are neighbours and ids follow the order of (operand, lo, hi).
    assert(points.size() < (size_t{1} << 30) && tris.size() < (size_t{1} << 30));
    // Sorted by filing each use under its operand and lower point, then sorting those short
    // rows: the order a sort of the keys gives.
    const auto np = static_cast<int32_t>(points.size());
    std::vector<std::pair<int32_t, std::pair<int32_t, uint32_t>>> filed;
    filed.reserve(involved.size() * 3);
    for (int32_t t : involved) {
        for (int k = 0; k < 3; ++k) {
            const int32_t a = tris[t][k];
            const int32_t b = tris[t][(k + 1) % 3];
            filed.push_back(
                {(isOther(t) ? np : 0) + std::min(a, b),
                 {std::max(a, b), static_cast<uint32_t>(t) * 3 + static_cast<uint32_t>(k)}});
        }
    }
    (void)groupByFirst(filed, 2 * points.size());
    std::vector<std::pair<uint64_t, uint32_t>> all(filed.size());
    tbb::parallel_for(tbb::blocked_range<size_t>(0, filed.size(), 8192),
                      [&](const tbb::blocked_range<size_t>& r) {
                          for (size_t i = r.begin(); i < r.end(); ++i) {
                              const auto& [row, use] = filed[i];
                              const bool other = row >= np;
                              const auto lo = static_cast<uint64_t>(other ? row - np : row);
                              all[i] = {static_cast<uint64_t>(other ? 1 : 0) << 62 | lo << 31 |
                                            static_cast<uint64_t>(use.first),
                                        use.second};
                          }
                      });
    filed = {};
    triEdge.assign(tris.size(), {-1, -1, -1});
    int32_t id = -1;
    constexpr uint64_t kPoint = (uint64_t{1} << 31) - 1;
    for (size_t i = 0; i < all.size(); ++i) {
        const uint64_t key = all[i].first;
        if (i == 0 || key != all[i - 1].first) {
            ++id;
            edgeEnds.push_back(
                {static_cast<int32_t>(key >> 31 & kPoint), static_cast<int32_t>(key & kPoint)});
        }
        triEdge[all[i].second / 3][all[i].second % 3] = id;
    }
    this->involved = involved;
    axis.assign(tris.size(), 0);
    projectedSign.assign(tris.size(), 0);
    // Each triangle's entries are its own, so the triangles go in parallel.
    tbb::parallel_for(tbb::blocked_range<size_t>(0, involved.size(), 4096),
                      [&](const tbb::blocked_range<size_t>& r) {
                          for (size_t i = r.begin(); i < r.end(); ++i) {
                              const int32_t t = involved[i];
                              const Corners& c = tris[t];
                              int ax = dominantAxis(points[c[0]], points[c[1]], points[c[2]]);
                              int turn = orient2(c[0], c[1], c[2], ax);
                              // Rounding can cancel a needle's normal to zero and name an axis
                              // its plane contains; a triangle that is not flat shows a turn
                              // along another axis.
                              for (int k = 1; turn == 0 && k < 3; ++k) {
                                  turn = orient2(c[0], c[1], c[2], (ax + k) % 3);
                                  ax = turn != 0 ? (ax + k) % 3 : ax;
                              }
                              axis[t] = static_cast<int8_t>(ax);
                              projectedSign[t] = static_cast<int8_t>(turn);
                              assert(projectedSign[t] != 0);
                          }
                      });
    // An edge between two triangles of one operand in one plane, on either side of it, is no
    // crease: the operand's surface goes on flat across it.
    flatEdge.assign(edgeEnds.size(), 0);
    // An edge's entry is written from its first use alone, so the uses go in parallel.
    tbb::parallel_for(
        tbb::blocked_range<size_t>(0, all.size() > 0 ? all.size() - 1 : 0, 8192),
        [&](const tbb::blocked_range<size_t>& r) {
            for (size_t i = r.begin(); i < r.end(); ++i) {
                if (all[i].first != all[i + 1].first ||
                    (i + 2 < all.size() && all[i + 2].first == all[i].first) ||
                    (i > 0 && all[i - 1].first == all[i].first)) {
                    continue;
                }
                const auto t = static_cast<int32_t>(all[i].second / 3);
                const auto u = static_cast<int32_t>(all[i + 1].second / 3);
                const int32_t e = triEdge[t][all[i].second % 3];
                const int32_t a = edgeEnds[e][0], b = edgeEnds[e][1];
                const int32_t beyondT = tris[t][(all[i].second + 2) % 3];
                const int32_t beyondU = tris[u][(all[i + 1].second + 2) % 3];
                const Corners& c = tris[t];
                flatEdge[e] =
                    orient3(c[0], c[1], c[2], beyondU) == 0 &&
                            orient2(a, b, beyondT, axis[t]) * orient2(a, b, beyondU, axis[t]) < 0
                        ? 1
                        : 0;
            }
        });
}

Arrangement::Impl::PlanarSides::PlanarSides(const Impl& arrangement, int32_t t0, int32_t t1,
                                            int axis)
    : m(arrangement), t{t0, t1}, ax(axis) {
    std::fill(&m_side[0][0][0], &m_side[0][0][0] + 18, kUnknown);
}

int Arrangement::Impl::PlanarSides::side(int s, int i, int j) {
    int8_t& o = m_side[s][i][j];
    if (o == kUnknown) {
        const Corners& c = m.tris[t[s]];
        o = static_cast<int8_t>(m.orient2(c[i], c[(i + 1) % 3], m.tris[t[1 - s]][j], ax));
    }
    return o;
}

int Arrangement::Impl::PlanarSides::turn(int s) {
    int8_t& o = m_turn[s];
    if (o == kUnknown) {
        const Corners& c = m.tris[t[s]];
        o = static_cast<int8_t>(m.orient2(c[0], c[1], c[2], ax));
    }
    return o;
}

Where Arrangement::Impl::locate(PlanarSides& sides, int s, int m) const {
    const Corners& c = tris[sides.t[1 - s]];
    const int32_t z = tris[sides.t[s]][m];
    for (int i = 0; i < 3; ++i) {
        if (c[i] == z) {
            return {kCorner, static_cast<int8_t>(i)};
        }
    }
    const int turn = sides.turn(1 - s);
    int zeros = 0, zeroAt = 0;
    for (int i = 0; i < 3; ++i) {
        const int o = sides.side(1 - s, i, m) * turn;
        if (o < 0) {
            return {};
        }
        if (o == 0) {
            ++zeros;
            zeroAt = i;
        }
    }
    if (zeros == 0) {
        return {kInside, 0};
    }
    // Two zeros would mean z sits on a corner, but equal positions share one id after welding.
    assert(zeros == 1);
    return {kOnEdge, static_cast<int8_t>(zeroAt)};
}

void Arrangement::Impl::segmentVsTriangle(int side, int k, PlanarSides& sides,
                                          std::vector<Found>& out) const {
    const int32_t x = sides.t[side], y = sides.t[1 - side];
    const Corners& cx = tris[x];
    const Corners& cy = tris[y];
    const int32_t p = cx[k], q = cx[(k + 1) % 3];
    const auto add = [&](Key key, Where wx, Where wy) {
        Found f{key, {}};
        f.in[side] = wx;
        f.in[1 - side] = wy;
        out.push_back(f);
    };
    for (int end = 0; end < 2; ++end) {
        const Where w = locate(sides, side, (k + end) % 3);
        if (w.site != kNowhere) {
            add({kVertex, cx[(k + end) % 3], 0}, {kCorner, static_cast<int8_t>((k + end) % 3)}, w);
        }
    }
    for (int j = 0; j < 3; ++j) {
        const int32_t c = cy[j], d = cy[(j + 1) % 3];
        if (c == p || c == q || d == p || d == q) {
            continue;  // a shared corner is found by locate; no crossing besides it
        }
        const int o1 = sides.side(side, k, j), o2 = sides.side(side, k, (j + 1) % 3);
        const int o3 = sides.side(1 - side, j, k), o4 = sides.side(1 - side, j, (k + 1) % 3);
        if (o1 * o2 < 0 && o3 * o4 < 0) {
            const int32_t ex = triEdge[x][k], ey = triEdge[y][j];
            const Key key = side == 0 ? Key{kEdgeEdge, ex, ey} : Key{kEdgeEdge, ey, ex};
            add(key, {kOnEdge, static_cast<int8_t>(k)}, {kOnEdge, static_cast<int8_t>(j)});
            continue;
        }
        // A corner of y inside the open edge pq (touching or collinear overlap).
        if (o1 == 0 && strictlyBetween(p, c, q)) {
            add({kVertex, c, 0}, {kOnEdge, static_cast<int8_t>(k)},
                {kCorner, static_cast<int8_t>(j)});
        }
        if (o2 == 0 && strictlyBetween(p, d, q)) {
            add({kVertex, d, 0}, {kOnEdge, static_cast<int8_t>(k)},
                {kCorner, static_cast<int8_t>((j + 1) % 3)});
        }
    }
}

// Edge k of triangle x against triangle y, when x is not coplanar with y; o holds the
// orientations of x's corners against y's plane.
void Arrangement::Impl::edgeVsTriangle(int side, int32_t x, int k, int32_t y, const int* o,
                                       std::vector<Found>& out) const {
    const Corners& cx = tris[x];
    const Corners& cy = tris[y];
    const int32_t p = cx[k], q = cx[(k + 1) % 3];
    const int op = o[k], oq = o[(k + 1) % 3];
    if (op * oq > 0) {
        return;
    }
    const auto add = [&](Key key, Where wx, Where wy) {
        Found f{key, {}};
        f.in[side] = wx;
        f.in[1 - side] = wy;
        out.push_back(f);
    };
    if (op == 0 || oq == 0) {
        PlanarSides sides(*this, side == 0 ? x : y, side == 0 ? y : x, axis[y]);
        if (op == 0 && oq == 0) {
            segmentVsTriangle(side, k, sides, out);
            return;
        }
        const int m = op == 0 ? k : (k + 1) % 3;
        const Where w = locate(sides, side, m);
        if (w.site != kNowhere) {
            add({kVertex, cx[m], 0}, {kCorner, static_cast<int8_t>(m)}, w);
        }
        return;
    }
    // The open edge crosses y's plane; where, relative to y's edges?
    int s[3];
    int zeros = 0, pos = 0, neg = 0;
    for (int j = 0; j < 3; ++j) {
        s[j] = orient3(p, q, cy[j], cy[(j + 1) % 3]);
        zeros += s[j] == 0;
        pos += s[j] > 0;
        neg += s[j] < 0;
    }
    if (pos > 0 && neg > 0) {
        return;
    }
    const Where onX{kOnEdge, static_cast<int8_t>(k)};
    const int32_t ex = triEdge[x][k];
    if (zeros == 0) {
        add({kEdgeFace, ex, y}, onX, {kInside, 0});
    } else if (zeros == 1) {
        const int j = s[0] == 0 ? 0 : s[1] == 0 ? 1 : 2;
        const int32_t ey = triEdge[y][j];
        const Key key = side == 0 ? Key{kEdgeEdge, ex, ey} : Key{kEdgeEdge, ey, ex};
        add(key, onX, {kOnEdge, static_cast<int8_t>(j)});
    } else {
        assert(zeros == 2);
        // The edges with zero meet at the corner they share.
        const int c = s[0] != 0 ? 2 : s[1] != 0 ? 0 : 1;
        add({kVertex, cy[c], 0}, onX, {kCorner, static_cast<int8_t>(c)});
    }
}

// Exact intersection of object 1 triangle t0 with object 2 triangle t1; records its points.
bool Arrangement::Impl::pair(int32_t t0, int32_t t1, PairRecords& out) const {
    const int32_t t[2] = {t0, t1};
    if (sharedPair(t0, t1, out)) {
        return true;
    }
    int o[2][3];  // corners of t[s] against the plane of t[1 - s]
    for (int s = 0; s < 2; ++s) {
        const Corners& other = tris[t[1 - s]];
        int pos = 0, neg = 0;
        for (int i = 0; i < 3; ++i) {
            o[s][i] = orient3(other[0], other[1], other[2], tris[t[s]][i]);
            pos += o[s][i] > 0;
            neg += o[s][i] < 0;
        }
        if (pos == 3 || neg == 3) {
            return false;
        }
    }
    const bool coplanar = o[0][0] == 0 && o[0][1] == 0 && o[0][2] == 0;
    std::vector<Found> found;
    PlanarSides sides(*this, t0, t1, axis[t0]);
    for (int s = 0; s < 2; ++s) {
        for (int k = 0; k < 3; ++k) {
            if (coplanar) {
                segmentVsTriangle(s, k, sides, found);
            } else {
                edgeVsTriangle(s, t[s], k, t[1 - s], o[s], found);
            }
        }
    }
    if (found.empty()) {
        return false;
    }
    std::sort(found.begin(), found.end(),
              [](const Found& a, const Found& b) { return a.key < b.key; });
    found.erase(std::unique(found.begin(), found.end(),
                            [](const Found& a, const Found& b) { return a.key == b.key; }),
                found.end());
    for (const Found& f : found) {
        for (int s = 0; s < 2; ++s) {
            if (f.in[s].site == kOnEdge) {
                out.onEdge.emplace_back(triEdge[t[s]][f.in[s].index], f.key);
            } else if (f.in[s].site == kInside) {
                out.inFace.emplace_back(t[s], f.key);
            }
        }
    }
    // The keys pushed since `first` become a chain if there are two or more.
    const auto addChain = [&](size_t first) {
        if (out.chainKeys.size() < first + 2) {
            out.chainKeys.resize(first);
            return;
        }
        out.addChain(t0, t1);
    };
    if (!coplanar) {
        out.crossed.push_back(t0);
        out.crossed.push_back(t1);
        const size_t first = out.chainKeys.size();
        for (const Found& f : found) {
            out.chainKeys.push_back(f.key);
        }
        addChain(first);
        return true;
    }
    out.coplanarWith.emplace_back(t0, t1);
    out.coplanarWith.emplace_back(t1, t0);
    // The overlap is bounded by pieces of both triangles' edges: one chain per edge. An edge
    // that is no crease of its operand bounds nothing of the other triangle, whose pieces on
    // either side lie on the same surface facing the same way: it cuts its own triangle only.
    for (int s = 0; s < 2; ++s) {
        for (int k = 0; k < 3; ++k) {
            const size_t first = out.chainKeys.size();
            for (const Found& f : found) {
                const Where w = f.in[s];
                if ((w.site == kOnEdge && w.index == k) ||
                    (w.site == kCorner && (w.index == k || w.index == (k + 1) % 3))) {
                    out.chainKeys.push_back(f.key);
                }
            }
            if (out.chainKeys.size() >= first + 2 && flatEdge[triEdge[t[s]][k]]) {
                out.addChainOf(t[s]);
            } else {
                addChain(first);
            }
        }
    }
    return true;
}

// Triangles with all three corners in common, two in common and different planes, or one in
// common and the rest of one on one side of the other's plane, meet in what they share: an
// operand against itself, or a copy welded onto it, makes such pairs for nearly every
// triangle. Records what the general test would record, from the ids and a few orientations;
// returns false for every other pair.
bool Arrangement::Impl::sharedPair(int32_t t0, int32_t t1, PairRecords& out) const {
    const Corners& c0 = tris[t0];
    const Corners& c1 = tris[t1];
    int shared = 0, own = -1;  // own: a corner of t0 that t1 lacks
    for (int i = 0; i < 3; ++i) {
        if (c0[i] == c1[0] || c0[i] == c1[1] || c0[i] == c1[2]) {
            ++shared;
        } else {
            own = i;
        }
    }
    const auto addChain = [&](int32_t a, int32_t b) {
        out.chainKeys.push_back(Key{kVertex, std::min(a, b), 0});
        out.chainKeys.push_back(Key{kVertex, std::max(a, b), 0});
        out.addChain(t0, t1);
    };
    if (shared == 3) {
        // The same triangle twice: coplanar, each edge of each a chain of its two corners.
        out.coplanarWith.emplace_back(t0, t1);
        out.coplanarWith.emplace_back(t1, t0);
        for (const Corners* c : {&c0, &c1}) {
            for (int k = 0; k < 3; ++k) {
                addChain((*c)[k], (*c)[(k + 1) % 3]);
            }
        }
        return true;
    }
    if (shared == 2) {
        const int32_t a = c0[(own + 1) % 3], b = c0[(own + 2) % 3];
        if (orient3(c1[0], c1[1], c1[2], c0[own]) != 0) {
            // Two planes through one edge meet in its line, and the triangles in the edge.
            out.crossed.push_back(t0);
            out.crossed.push_back(t1);
            addChain(a, b);
            return true;
        }
        // One plane, the third corners on either side of the edge: again the edge alone.
        int32_t other = c1[0];
        for (int32_t v : c1) {
            other = v != a && v != b ? v : other;
        }
        const int ax = axis[t0];
        if (orient2(a, b, c0[own], ax) * orient2(a, b, other, ax) < 0) {
            out.coplanarWith.emplace_back(t0, t1);
            out.coplanarWith.emplace_back(t1, t0);
            addChain(a, b);
            addChain(a, b);
            return true;
        }
        return false;
    }
    if (shared == 1) {
        // Where one triangle's other corners lie strictly on one side of the other's plane,
        // the two meet in their common corner alone, which records nothing.
        const auto oneSide = [&](const Corners& plane, const Corners& c) {
            int sum = 0;
            for (int32_t v : c) {
                if (v != plane[0] && v != plane[1] && v != plane[2]) {
                    const int o = orient3(plane[0], plane[1], plane[2], v);
                    if (o == 0) {
                        return false;
                    }
                    sum += o;
                }
            }
            return sum == 2 || sum == -2;
        };
        if (oneSide(c0, c1) || oneSide(c1, c0)) {
            out.crossed.push_back(t0);
            out.crossed.push_back(t1);
            return true;
        }
        // One plane, and a line through an edge of one at the common corner leaves the other
        // strictly outside: again the corner alone.
        for (int32_t v : c1) {
            if (v != c0[0] && v != c0[1] && v != c0[2] && orient3(c0[0], c0[1], c0[2], v) != 0) {
                return false;
            }
        }
        if (outsideAnEdge(t0, t1, true) || outsideAnEdge(t1, t0, true)) {
            out.coplanarWith.emplace_back(t0, t1);
            out.coplanarWith.emplace_back(t1, t0);
            return true;
        }
    }
    return false;
}

bool Arrangement::Impl::outsideAnEdge(int32_t t, int32_t u, bool strict) const {
    const Corners& c = tris[t];
    const Corners& d = tris[u];
    const int ax = axis[t];
    const int inward = projectedSign[t];
    // With `strict`, every corner of u that is not one of t's must lie strictly outside.
    int own = 0;
    for (int32_t v : d) {
        own += v == c[0] || v == c[1] || v == c[2] ? 1 : 0;
    }
    for (int k = 0; k < 3; ++k) {
        bool outside = true;
        int away = 0;
        for (int32_t v : d) {
            const int o = orient2(c[k], c[(k + 1) % 3], v, ax) * inward;
            outside = outside && o <= 0;
            away += o < 0 ? 1 : 0;
        }
        if (outside && (!strict || away == 3 - own)) {
            return true;
        }
    }
    return false;
}

const EP3& Arrangement::Impl::exactPoint(int32_t id) const {
    std::optional<EP3>& slot = exact[id];
    if (slot) {
        return *slot;
    }
    const auto np = static_cast<int32_t>(points.size());
    if (id < np) {
        const Point3& p = points[id];
        slot = EP3(p.x, p.y, p.z);
        return *slot;
    }
    const Key& k = seamKeys[id - np];
    const auto line = [&](int32_t edge) {
        return Epeck::Line_3(exactPoint(edgeEnds[edge][0]), exactPoint(edgeEnds[edge][1]));
    };
    std::optional<EP3> point;
    // The coordinate in which all the given input points agree exactly, or -1.
    const auto sharedAxis = [&](std::initializer_list<int32_t> ids) {
        for (int axis = 0; axis < 3; ++axis) {
            const double value = coordinate(points[*ids.begin()], axis);
            if (std::all_of(ids.begin(), ids.end(),
                            [&](int32_t v) { return coordinate(points[v], axis) == value; })) {
                return axis;
            }
        }
        return -1;
    };
    // Where the surfaces meet in a plane of constant coordinate (a floor, a wall, a stock's
    // side), the point follows from a few exact operations on the coordinates, and that
    // coordinate is exact from the start: evaluating it exactly costs a fraction of the general
    // construction, and triangulations on such planes evaluate most of their seam points.
    using FT = Epeck::FT;
    const auto at = [&](int32_t v, int axis) { return FT(coordinate(points[v], axis)); };
    if (k.kind == kEdgeFace) {
        const int32_t p = edgeEnds[k.a][0], q = edgeEnds[k.a][1];
        const Corners& c = tris[k.b];
        if (const int axis = sharedAxis({c[0], c[1], c[2]}); axis >= 0) {
            // The edge crosses the plane at one point, so its ends lie on either side of it.
            const FT t = (at(c[0], axis) - at(p, axis)) / (at(q, axis) - at(p, axis));
            FT x[3];
            for (int i = 0; i < 3; ++i) {
                x[i] = i == axis ? at(c[0], axis) : at(p, i) + t * (at(q, i) - at(p, i));
            }
            slot = EP3(x[0], x[1], x[2]);
            return *slot;
        }
    } else {
        const int32_t p = edgeEnds[k.a][0], q = edgeEnds[k.a][1];
        const int32_t r = edgeEnds[k.b][0], w = edgeEnds[k.b][1];
        if (const int axis = sharedAxis({p, q, r, w}); axis >= 0) {
            // In the plane the two edges cross at one point, so they are not parallel there.
            const int i = (axis + 1) % 3, j = (axis + 2) % 3;
            const FT di = at(q, i) - at(p, i), dj = at(q, j) - at(p, j);
            const FT ei = at(w, i) - at(r, i), ej = at(w, j) - at(r, j);
            const FT s =
                ((at(r, i) - at(p, i)) * ej - (at(r, j) - at(p, j)) * ei) / (di * ej - dj * ei);
            FT x[3];
            x[axis] = at(p, axis);
            x[i] = at(p, i) + s * di;
            x[j] = at(p, j) + s * dj;
            slot = EP3(x[0], x[1], x[2]);
            return *slot;
        }
    }
    if (k.kind == kEdgeFace) {
        const Corners& c = tris[k.b];
        const Epeck::Plane_3 plane(exactPoint(c[0]), exactPoint(c[1]), exactPoint(c[2]));
        const auto hit = CGAL::intersection(plane, line(k.a));
        if (hit) {
            if (const EP3* q = boost::get<EP3>(&*hit)) {
                point = *q;
            }
        }
    } else {
        const auto hit = CGAL::intersection(line(k.a), line(k.b));
        if (hit) {
            if (const EP3* q = boost::get<EP3>(&*hit)) {
                point = *q;
            }
        }
    }
    // The pair test proved a single crossing point; anything else is a broken invariant.
    assert(point);
    slot = point ? *point : EP3(0, 0, 0);
    return *slot;
}

// Triangulates triangle t with the given points (its corners first) and seam chains.

Arrangement::Arrangement(std::vector<Point3> points, std::vector<Corners> triangles,
                         int32_t firstOther)
    : m_impl(std::make_unique<Impl>()) {
    m_impl->points = std::move(points);
    m_impl->tris = std::move(triangles);
    m_impl->firstOther = firstOther;
}

Arrangement::~Arrangement() = default;

int64_t Arrangement::intersect(const std::vector<std::pair<int32_t, int32_t>>& candidates,
                               const std::vector<int32_t>& involved, const StopToken& stop) {
    Impl& m = *m_impl;
    m.buildEdges(involved);
    // The pairs to test: all candidates, or, where some triangles are covered, the others.
    std::vector<std::pair<int32_t, int32_t>> tested;
    bool skipping = false;
    if (m.skipCovered) {
        m.covered = m.coveredTriangles(candidates);
        skipping = std::any_of(m.covered.begin(), m.covered.end(), [](int8_t s) { return s != 0; });
    }
    if (skipping) {
        tested.reserve(candidates.size());
        for (const auto& [a, b] : candidates) {
            if (m.covered[static_cast<size_t>(a)] == 0 || m.covered[static_cast<size_t>(b)] == 0) {
                tested.emplace_back(a, b);
            }
        }
    }
    const std::vector<std::pair<int32_t, int32_t>>& pairs = skipping ? tested : candidates;
    // Runs of pairs in parallel, each with its own records; joined in order, with the chain
    // numbers of each run moved past those before it.
    constexpr size_t kRun = 2048;
    const size_t runs = (pairs.size() + kRun - 1) / kRun;
    std::vector<PairRecords> found(runs);
    std::vector<int64_t> touching(runs, 0);
    tbb::parallel_for(tbb::blocked_range<size_t>(0, runs, 1),
                      [&](const tbb::blocked_range<size_t>& r) {
                          for (size_t run = r.begin(); run < r.end(); ++run) {
                              stop.check();
                              const size_t end = std::min(pairs.size(), (run + 1) * kRun);
                              for (size_t i = run * kRun; i < end; ++i) {
                                  const auto [a, b] = pairs[i];
                                  assert(a < m.firstOther && b >= m.firstOther);
                                  touching[run] += m.pair(a, b, found[run]) ? 1 : 0;
                              }
                          }
                      });
    int64_t total = 0;
    for (size_t run = 0; run < runs; ++run) {
        PairRecords& f = found[run];
        const auto before = static_cast<int32_t>(m.chainEnd.size());
        const auto keysBefore = static_cast<int32_t>(m.chainKeys.size());
        const auto append = [](auto& to, auto& from) {
            to.insert(to.end(), std::make_move_iterator(from.begin()),
                      std::make_move_iterator(from.end()));
        };
        for (auto& [t, chain] : f.chainOf) {
            chain += before;
        }
        append(m.onEdge, f.onEdge);
        append(m.inFace, f.inFace);
        append(m.chainOf, f.chainOf);
        append(m.coplanarWith, f.coplanarWith);
        for (int32_t& end : f.chainEnd) {
            end += keysBefore;
        }
        append(m.chainKeys, f.chainKeys);
        append(m.chainEnd, f.chainEnd);
        append(m.crossed, f.crossed);
        f = PairRecords();
        total += touching[run];
    }
    return total;
}

void Arrangement::skipCoveredPairs() {
    m_impl->skipCovered = true;
}

void Arrangement::setTwins(std::vector<int8_t> side) {
    m_impl->twin = std::move(side);
}

bool Arrangement::twinTouched() const {
    return m_impl->twinTouched;
}

void Arrangement::restart() {
    Impl& m = *m_impl;
    Impl fresh;
    fresh.points = std::move(m.points);
    fresh.tris = std::move(m.tris);
    fresh.firstOther = m.firstOther;
    // Move-assigned members stay where they are, so views of the input stay valid.
    m = std::move(fresh);
}

const std::vector<Piece>& Arrangement::pieces() const {
    return m_impl->pieces;
}

const std::vector<Point3>& Arrangement::inputPoints() const {
    return m_impl->points;
}

const std::vector<Corners>& Arrangement::triangles() const {
    return m_impl->tris;
}

int32_t Arrangement::firstOther() const {
    return m_impl->firstOther;
}

int32_t Arrangement::pointCount() const {
    return static_cast<int32_t>(m_impl->points.size() + m_impl->seamKeys.size());
}

int64_t Arrangement::seamPointCount() const {
    return static_cast<int64_t>(m_impl->seamKeys.size());
}

namespace {

// The float nearest to `v` (ties to even), whatever `v` has computed before. Rounding to
// nearest is monotone, so where both ends of the interval round alike so does the value; only
// otherwise is the exact value made (other threads may or may not have made it already, which
// is why the interval's middle would not do).
float nearestFloat(const Epeck::FT& v) {
    std::pair<double, double> in = CGAL::to_interval(v);
    float lo = static_cast<float>(in.first), hi = static_cast<float>(in.second);
    if (lo != hi) {
        (void)v.exact();
        in = CGAL::to_interval(v);
        lo = static_cast<float>(in.first);
        hi = static_cast<float>(in.second);
    }
    if (lo != hi) {
        // Two neighbouring floats: the exact value against their middle, a double.
        const double middle = (static_cast<double>(lo) + static_cast<double>(hi)) / 2;
        const CGAL::Comparison_result c = CGAL::compare(v, Epeck::FT(middle));
        if (c == CGAL::EQUAL) {
            return (std::bit_cast<uint32_t>(lo) & 1u) == 0 ? lo : hi;
        }
        return c == CGAL::SMALLER ? lo : hi;
    }
    return lo + 0.0f;  // -0 as +0
}

}  // namespace

std::array<float, 3> Arrangement::rounded(int32_t point) const {
    const Impl& m = *m_impl;
    if (point < static_cast<int32_t>(m.points.size())) {
        const Point3& p = m.points[point];
        return {static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z)};
    }
    const EP3& p = m.exactPoint(point);
    return {nearestFloat(p.x()), nearestFloat(p.y()), nearestFloat(p.z())};
}

std::array<double, 3> Arrangement::sourceNormal(int32_t triangle) const {
    const Impl& m = *m_impl;
    const Corners& c = m.tris[triangle];
    return crossOf(m.points[c[0]], m.points[c[1]], m.points[c[2]]);
}

namespace {

// 1 where the segment from `from` to `to` crosses the inside of triangle abc, 0 where it does
// not or where `from` lies on the triangle's plane, -1 where `to` lies on the plane or the
// segment meets an edge or a corner.
// With `endOnPlane`, a segment ending on the triangle's plane but off the triangle misses it;
// without, any end on the plane is degenerate.
int segmentCrossing(const EP3& from, const EP3& to, const EP3& a, const EP3& b, const EP3& c,
                    bool endOnPlane = false) {
    const int s1 = sign(CGAL::orientation(a, b, c, from));
    const int s2 = sign(CGAL::orientation(a, b, c, to));
    if (s2 == 0 && (s1 == 0 || !endOnPlane)) {
        return -1;
    }
    if (s2 != 0 && (s1 == 0 || s1 == s2)) {
        return 0;
    }
    // The line meets the plane once, inside the triangle where no two signs are opposite.
    const int e0 = sign(CGAL::orientation(from, to, a, b));
    const int e1 = sign(CGAL::orientation(from, to, b, c));
    const int e2 = sign(CGAL::orientation(from, to, c, a));
    if ((e0 > 0 || e1 > 0 || e2 > 0) && (e0 < 0 || e1 < 0 || e2 < 0)) {
        return 0;
    }
    return s2 == 0 || e0 == 0 || e1 == 0 || e2 == 0 ? -1 : 1;
}

// Points of the plane in a uniform grid of about one cell each, for visiting those in a box.
class PointGrid {
public:
    explicit PointGrid(const std::vector<std::array<double, 2>>& at)
        : m_cells(std::max(1, static_cast<int>(std::sqrt(static_cast<double>(at.size()))))) {
        for (const auto& p : at) {
            for (int k = 0; k < 2; ++k) {
                m_lo[k] = std::min(m_lo[k], p[k]);
                m_hi[k] = std::max(m_hi[k], p[k]);
            }
        }
        for (int k = 0; k < 2; ++k) {
            m_size[k] = m_hi[k] > m_lo[k] ? (m_hi[k] - m_lo[k]) / m_cells : 1.0;
        }
        m_start.assign(static_cast<size_t>(m_cells) * m_cells + 1, 0);
        std::vector<int32_t> cellOf(at.size());
        for (size_t i = 0; i < at.size(); ++i) {
            cellOf[i] = cell(at[i][0], 0) * m_cells + cell(at[i][1], 1);
            ++m_start[cellOf[i] + 1];
        }
        for (size_t c = 1; c < m_start.size(); ++c) {
            m_start[c] += m_start[c - 1];
        }
        m_points.resize(at.size());
        std::vector<int32_t> next(m_start.begin(), m_start.end() - 1);
        for (size_t i = 0; i < at.size(); ++i) {
            m_points[next[cellOf[i]]++] = static_cast<int32_t>(i);
        }
    }

    // Calls visit(i) for every point i in the cells the box [lo, hi] covers, and some beside.
    template <typename Visit>
    void near(const double (&lo)[2], const double (&hi)[2], Visit&& visit) const {
        if (hi[0] < m_lo[0] || lo[0] > m_hi[0] || hi[1] < m_lo[1] || lo[1] > m_hi[1]) {
            return;
        }
        for (int u = cell(lo[0], 0), u1 = cell(hi[0], 0); u <= u1; ++u) {
            for (int w = cell(lo[1], 1), w1 = cell(hi[1], 1); w <= w1; ++w) {
                const size_t c = static_cast<size_t>(u) * m_cells + w;
                for (int32_t j = m_start[c]; j < m_start[c + 1]; ++j) {
                    visit(static_cast<size_t>(m_points[j]));
                }
            }
        }
    }

private:
    int cell(double v, int k) const {
        const double c = std::floor((v - m_lo[k]) / m_size[k]);
        return static_cast<int>(std::clamp(c, 0.0, static_cast<double>(m_cells - 1)));
    }

    int m_cells;
    double m_lo[2] = {HUGE_VAL, HUGE_VAL}, m_hi[2] = {-HUGE_VAL, -HUGE_VAL}, m_size[2] = {1, 1};
    std::vector<int32_t> m_start;  // the points of cell c are m_points[m_start[c], m_start[c + 1])
    std::vector<int32_t> m_points;
};

}  // namespace

std::vector<int8_t> Arrangement::insideOther(const std::vector<int32_t>& pieceIds) const {
    const Impl& m = *m_impl;
    if (m.span == 0) {
        m.span = 1.0;
        for (const Point3& p : m.points) {
            m.span = std::max({m.span, std::abs(p.x), std::abs(p.y), std::abs(p.z)});
        }
    }
    // The rays start at the pieces' centroids; those of each operand's pieces cross the other
    // operand, and the two operands are scanned at once.
    std::vector<Impl::Ray> rays[2];
    for (size_t i = 0; i < pieceIds.size(); ++i) {
        const Piece& piece = m.pieces[pieceIds[i]];
        const EP3 q = CGAL::centroid(m.exactPoint(piece.v[0]), m.exactPoint(piece.v[1]),
                                     m.exactPoint(piece.v[2]));
        rays[m.isOther(piece.source) ? 1 : 0].push_back(
            {q, {CGAL::to_double(q.x()), CGAL::to_double(q.y()), CGAL::to_double(q.z())}, i});
    }
    std::vector<int8_t> inside(pieceIds.size(), 0);
    const auto nt = static_cast<int32_t>(m.tris.size());
    tbb::parallel_invoke([&] { m.castRays(rays[0], m.firstOther, nt, inside); },
                         [&] { m.castRays(rays[1], 0, m.firstOther, inside); });
    return inside;
}

void Arrangement::Impl::castRays(std::vector<Ray>& rays, int32_t begin, int32_t end,
                                 std::vector<int8_t>& inside) const {
    const double length = 8.0 * span;
    const double margin = 1e-9 * span;
    // Nearly along +x, with slopes no mesh of the program lines up with; a ray that grazes an
    // edge or a vertex is cast again along the next one.
    static constexpr double kSlopes[][2] = {{0.000731, 0.000419},  {-0.000613, 0.000887},
                                            {0.000271, -0.000953}, {-0.000829, -0.000347},
                                            {0.000157, 0.000563},  {0.000919, -0.000211}};
    // Exact points are read, never built: the other operand's scan runs beside this one.
    const auto exactOf = [&](int32_t id) {
        const std::optional<EP3>& known = exact[id];
        if (known) {
            return *known;
        }
        const Point3& p = points[id];
        return EP3(p.x, p.y, p.z);
    };
    for (const auto& slope : kSlopes) {
        if (rays.empty()) {
            break;
        }
        const double dy = slope[0], dz = slope[1];
        std::vector<EP3> far;
        std::vector<int> parity(rays.size(), 0);
        std::vector<char> degenerate(rays.size(), 0);
        for (const Ray& ray : rays) {
            far.push_back(ray.from + Epeck::Vector_3(length, length * dy, length * dz));
        }
        // Seen along the ray's direction, (u, w) = (y - dy x, z - dz x), each ray is a point and
        // a triangle lies in the box of its corners' images: each triangle tries only the rays
        // in the grid cells its box covers.
        const auto image = [&](const Point3& p) {
            return std::array<double, 2>{p.y - dy * p.x, p.z - dz * p.x};
        };
        std::vector<std::array<double, 2>> at(rays.size());
        for (size_t i = 0; i < rays.size(); ++i) {
            const auto& [qx, qy, qz] = rays[i].approx;
            at[i] = image({qx, qy, qz});
        }
        const PointGrid grid(at);
        for (int32_t t = begin; t < end; ++t) {
            const Corners& c = tris[t];
            const Point3& a = points[c[0]];
            const Point3& b = points[c[1]];
            const Point3& d = points[c[2]];
            const double xHi = std::max({a.x, b.x, d.x});
            const std::array<double, 2> ia = image(a), ib = image(b), id = image(d);
            double lo[2], hi[2];
            for (int k = 0; k < 2; ++k) {
                lo[k] = std::min({ia[k], ib[k], id[k]}) - margin;
                hi[k] = std::max({ia[k], ib[k], id[k]}) + margin;
            }
            grid.near(lo, hi, [&](size_t i) {
                if (degenerate[i] || xHi < rays[i].approx[0] - margin || at[i][0] < lo[0] ||
                    at[i][0] > hi[0] || at[i][1] < lo[1] || at[i][1] > hi[1]) {
                    return;
                }
                // A ray starting on a triangle's plane starts outside it (the piece is off the
                // other surface).
                const int x = segmentCrossing(rays[i].from, far[i], exactOf(c[0]), exactOf(c[1]),
                                              exactOf(c[2]));
                degenerate[i] = x < 0 ? 1 : 0;
                parity[i] ^= x > 0 ? 1 : 0;
            });
        }
        std::vector<Ray> again;
        for (size_t i = 0; i < rays.size(); ++i) {
            if (degenerate[i]) {
                again.push_back(rays[i]);
            } else {
                inside[rays[i].index] = static_cast<int8_t>(parity[i]);
            }
        }
        rays = std::move(again);
    }
    // A piece whose every ray grazed something counts as outside (never seen).
}

int Arrangement::insideObject1Near(int32_t pieceIndex, const std::array<double, 3>& lo,
                                   const std::array<double, 3>& hi,
                                   const OtherTriangles& alsoObject1) const {
    const Impl& m = *m_impl;
    const Piece& piece = m.pieces[pieceIndex];
    assert(m.isOther(piece.source));
    const EP3 q = CGAL::centroid(m.exactPoint(piece.v[0]), m.exactPoint(piece.v[1]),
                                 m.exactPoint(piece.v[2]));
    const double qd[3] = {CGAL::to_double(q.x()), CGAL::to_double(q.y()), CGAL::to_double(q.z())};
    const auto inBox = [&](const Point3& p) {
        return p.x >= lo[0] && p.x <= hi[0] && p.y >= lo[1] && p.y <= hi[1] && p.z >= lo[2] &&
               p.z <= hi[2];
    };
    const double margin = 1e-9 * std::max({1.0, std::abs(lo[0]), std::abs(lo[1]), std::abs(lo[2]),
                                           std::abs(hi[0]), std::abs(hi[1]), std::abs(hi[2])});
    // Object 1's triangles: the arrangement's, then those given beside it.
    const int32_t count = m.firstOther + alsoObject1.count;
    const auto corners = [&](int32_t t) {
        if (t < m.firstOther) {
            const Corners& c = m.tris[t];
            return std::array<Point3, 3>{m.points[c[0]], m.points[c[1]], m.points[c[2]]};
        }
        return alsoObject1.corners(t - m.firstOther);
    };
    const auto exact = [&](int32_t t, const std::array<Point3, 3>& p, int k) {
        return t < m.firstOther ? m.exactPoint(m.tris[t][k]) : EP3(p[k].x, p[k].y, p[k].z);
    };
    int tried = 0;
    for (int32_t target = 0; target < count && tried < 8; ++target) {
        const std::array<Point3, 3> tp = corners(target);
        if (!inBox(tp[0]) || !inBox(tp[1]) || !inBox(tp[2])) {
            continue;
        }
        ++tried;
        const EP3 ta = exact(target, tp, 0), tb = exact(target, tp, 1), tc = exact(target, tp, 2);
        const EP3 c = CGAL::centroid(ta, tb, tc);
        const int side = sign(CGAL::orientation(ta, tb, tc, q));
        if (side == 0) {
            continue;
        }
        const double cd[3] = {CGAL::to_double(c.x()), CGAL::to_double(c.y()),
                              CGAL::to_double(c.z())};
        double sLo[3], sHi[3];
        for (int i = 0; i < 3; ++i) {
            sLo[i] = std::min(qd[i], cd[i]) - margin;
            sHi[i] = std::max(qd[i], cd[i]) + margin;
        }
        int parity = 0;
        bool degenerate = false;
        const auto cross = [&](int32_t t) {
            const std::array<Point3, 3> p = corners(t);
            const Point3& a = p[0];
            const Point3& b = p[1];
            const Point3& d = p[2];
            if (t == target || std::max({a.x, b.x, d.x}) < sLo[0] ||
                std::min({a.x, b.x, d.x}) > sHi[0] || std::max({a.y, b.y, d.y}) < sLo[1] ||
                std::min({a.y, b.y, d.y}) > sHi[1] || std::max({a.z, b.z, d.z}) < sLo[2] ||
                std::min({a.z, b.z, d.z}) > sHi[2]) {
                return;
            }
            // From the target, whose inside no other triangle of a solid reaches: starting on
            // another triangle's plane is no crossing, and neither is ending on one off the
            // triangle (a piece in the plane of a floor beside it); the piece's centroid on
            // another triangle is degenerate, and the next target is tried.
            const int x =
                segmentCrossing(c, q, exact(t, p, 0), exact(t, p, 1), exact(t, p, 2), true);
            degenerate = x < 0;
            parity ^= x > 0 ? 1 : 0;
        };
        // The triangles given beside the arrangement's are read only where their box meets
        // the segment's, when the caller can say which those are.
        const int32_t read = alsoObject1.meeting ? m.firstOther : count;
        for (int32_t t = 0; t < read && !degenerate; ++t) {
            cross(t);
        }
        if (alsoObject1.meeting && !degenerate) {
            for (const int32_t i :
                 alsoObject1.meeting({sLo[0], sLo[1], sLo[2]}, {sHi[0], sHi[1], sHi[2]})) {
                cross(m.firstOther + i);
                if (degenerate) {
                    break;
                }
            }
        }
        if (!degenerate) {
            // Just before the target the segment is outside where it comes from the side the
            // target faces; each crossing on the way back to the piece turns that over.
            return (side < 0 ? 1 : 0) ^ parity;
        }
    }
    return -1;
}

const std::string& Arrangement::error() const {
    return m_impl->error;
}

bool collinear(const Point3& a, const Point3& b, const Point3& c) {
    // Nearly every triangle is plainly not flat: a cross product component whose rounded value
    // exceeds its error bound (a few units in the last place of its terms) settles it without
    // the exact predicate. Float coordinates keep the terms far above double's underflow.
    const double ux = b.x - a.x, uy = b.y - a.y, uz = b.z - a.z;
    const double vx = c.x - a.x, vy = c.y - a.y, vz = c.z - a.z;
    const double terms[3][2] = {{uy * vz, uz * vy}, {uz * vx, ux * vz}, {ux * vy, uy * vx}};
    for (const auto& t : terms) {
        if (std::abs(t[0] - t[1]) > 1e-15 * (std::abs(t[0]) + std::abs(t[1]))) {
            return false;
        }
    }
    return CGAL::collinear(IP3(a.x, a.y, a.z), IP3(b.x, b.y, b.z), IP3(c.x, c.y, c.z));
}

}  // namespace korvan::closed
