// Exact pair tests, per-triangle constrained triangulation and ray parity.
//
// Decisions (which side, whether and where two triangles touch) use only orientation tests on
// input points, which CGAL's filtered kernel evaluates exactly. A seam point is named by what
// produces it (an edge crossing a face, two edges crossing, or an existing vertex), so both
// operands and every triangle around an edge arrive at the same point. Coordinates of seam
// points are built exactly only where the triangulation and the ray test need them.
#include "closed/arrangement.h"

#include <CGAL/Constrained_Delaunay_triangulation_2.h>
#include <CGAL/Exact_predicates_exact_constructions_kernel.h>
#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/Triangulation_vertex_base_with_info_2.h>
#include <CGAL/intersections.h>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <boost/variant/get.hpp>
#include <cassert>
#include <cmath>
#include <optional>

namespace korvan::closed {
namespace {

using Epick = CGAL::Exact_predicates_inexact_constructions_kernel;
using Epeck = CGAL::Exact_predicates_exact_constructions_kernel;
using IP3 = Epick::Point_3;
using IP2 = Epick::Point_2;
using EP3 = Epeck::Point_3;
using EP2 = Epeck::Point_2;

using Vb = CGAL::Triangulation_vertex_base_with_info_2<int32_t, Epeck>;
using Fb = CGAL::Constrained_triangulation_face_base_2<Epeck>;
using Tds = CGAL::Triangulation_data_structure_2<Vb, Fb>;
using Cdt = CGAL::Constrained_Delaunay_triangulation_2<
    Epeck, Tds, CGAL::No_constraint_intersection_requiring_constructions_tag>;

// What produces a point: an input vertex, an edge through the interior of a face of the other
// operand, or an edge of object 1 crossing an edge of object 2 at interior points of both.
enum Kind : int32_t { kVertex = 0, kEdgeFace = 1, kEdgeEdge = 2 };

struct Key {
    int32_t kind;
    int32_t a;
    int32_t b;
    auto operator<=>(const Key&) const = default;
};

// Where a point lies in one triangle: at corner i, inside edge i (corner i to i + 1), inside.
enum Site : int8_t { kNowhere = 0, kCorner = 1, kOnEdge = 2, kInside = 3 };
struct Where {
    Site site = kNowhere;
    int8_t index = 0;
};

struct Found {
    Key key;
    Where in[2];  // in the object 1 triangle, in the object 2 triangle
};

int sign(CGAL::Orientation o) {
    return o == CGAL::POSITIVE ? 1 : o == CGAL::NEGATIVE ? -1 : 0;
}

// Axis dropped to project a plane without folding it: the normal's largest component.
int dominantAxis(const Point3& a, const Point3& b, const Point3& c) {
    const double ux = b.x - a.x, uy = b.y - a.y, uz = b.z - a.z;
    const double vx = c.x - a.x, vy = c.y - a.y, vz = c.z - a.z;
    const double nx = std::abs(uy * vz - uz * vy);
    const double ny = std::abs(uz * vx - ux * vz);
    const double nz = std::abs(ux * vy - uy * vx);
    return nx >= ny && nx >= nz ? 0 : ny >= nz ? 1 : 2;
}

// Cyclic (y, z), (z, x), (x, y): a positive normal component keeps 2-D orientation.
template <typename P2, typename P3>
P2 project(const P3& p, int axis) {
    switch (axis) {
        case 0:
            return P2(p.y(), p.z());
        case 1:
            return P2(p.z(), p.x());
        default:
            return P2(p.x(), p.y());
    }
}

IP2 project(const Point3& p, int axis) {
    switch (axis) {
        case 0:
            return IP2(p.y, p.z);
        case 1:
            return IP2(p.z, p.x);
        default:
            return IP2(p.x, p.y);
    }
}

}  // namespace

struct Arrangement::Impl {
    std::vector<Point3> points;
    std::vector<Corners> tris;
    int32_t firstOther = 0;
    std::vector<std::array<int32_t, 3>> triEdge;   // edge id of edge i (corner i to i + 1)
    std::vector<std::array<int32_t, 2>> edgeEnds;  // the two points of each edge
    std::vector<int8_t> axis;                      // projection axis per triangle
    std::vector<int8_t> projectedSign;             // orientation of the projected corners

    // Records gathered by the pair tests, sorted and resolved after all pairs.
    std::vector<std::pair<int32_t, Key>> onEdge;            // (edge id, point) inside the edge
    std::vector<std::pair<int32_t, Key>> inFace;            // (triangle, point) inside the triangle
    std::vector<std::pair<int32_t, int32_t>> chainOf;       // (triangle, chain)
    std::vector<std::pair<int32_t, int32_t>> coplanarWith;  // (triangle, other triangle)
    std::vector<std::vector<Key>> chains;                   // collinear points of one seam segment

    std::vector<Key> seamKeys;  // sorted; seam point id = points.size() + index
    std::vector<Piece> pieces;
    mutable std::vector<std::optional<EP3>> exact;  // per point id, built on demand
    std::string error;
    mutable double span = 0;  // largest coordinate magnitude, at least 1

    bool isOther(int32_t t) const { return t >= firstOther; }
    IP3 ip(int32_t v) const {
        const Point3& p = points[v];
        return IP3(p.x, p.y, p.z);
    }
    int orient3(int32_t a, int32_t b, int32_t c, int32_t d) const {
        return sign(CGAL::orientation(ip(a), ip(b), ip(c), ip(d)));
    }
    int orient2(int32_t a, int32_t b, int32_t c, int ax) const {
        return sign(CGAL::orientation(project(points[a], ax), project(points[b], ax),
                                      project(points[c], ax)));
    }
    bool strictlyBetween(int32_t p, int32_t c, int32_t q) const {
        return CGAL::collinear_are_strictly_ordered_along_line(ip(p), ip(c), ip(q));
    }

    void buildEdges(const std::vector<int32_t>& involved);
    Where locate(int32_t z, int32_t tri, int ax) const;
    void segmentVsTriangle(int side, int32_t x, int k, int32_t y, int ax,
                           std::vector<Found>& out) const;
    void edgeVsTriangle(int side, int32_t x, int k, int32_t y, const int* o,
                        std::vector<Found>& out) const;
    bool pair(int32_t t0, int32_t t1);

    int32_t idOf(const Key& k) const {
        if (k.kind == kVertex) {
            return k.a;
        }
        const auto it = std::lower_bound(seamKeys.begin(), seamKeys.end(), k);
        assert(it != seamKeys.end() && *it == k);
        return static_cast<int32_t>(points.size() + (it - seamKeys.begin()));
    }
    const EP3& exactPoint(int32_t id) const;
    // Appends the pieces of triangle t to `out`; on failure returns false with `why` set.
    // Reads exact points only, all of which must have been built before.
    bool splitTriangle(int32_t t, const std::vector<int32_t>& ids,
                       const std::array<std::vector<int32_t>, 3>& edgePoints,
                       const std::vector<std::vector<int32_t>>& segs,
                       const std::vector<int32_t>& partners, std::vector<Piece>& out,
                       std::string& why) const;
    // Triangle t crossed by one seam segment from point p inside edge k (corner k to k + 1) to
    // point q inside edge k + 1: the corner between them is cut off, and the quadrilateral
    // left takes the diagonal the Delaunay triangulation of the projected points takes.
    void splitAcrossCorner(int32_t t, int k, int32_t p, int32_t q, std::vector<Piece>& out) const;
    // Appends piece v of triangle t (in t's orientation; bit e of `seam` for edge v[e] to
    // v[e + 1]), starting at t's earliest own corner it has, else at its smallest id.
    void addPiece(int32_t t, const int32_t* v, unsigned seam, int8_t coplanar,
                  std::vector<Piece>& out) const;
};

void Arrangement::Impl::buildEdges(const std::vector<int32_t>& involved) {
    // Edge ids per operand, for the triangles of candidate pairs only: a point on an edge
    // touches both triangles of the edge, so both are candidates. An edge of object 1 and one
    // of object 2 on the same two points are different edges.
    struct E {
        int32_t side, lo, hi, tri, k;
    };
    std::vector<E> all;
    all.reserve(involved.size() * 3);
    for (int32_t t : involved) {
        for (int k = 0; k < 3; ++k) {
            const int32_t a = tris[t][k], b = tris[t][(k + 1) % 3];
            all.push_back({isOther(t) ? 1 : 0, std::min(a, b), std::max(a, b), t, k});
        }
    }
    std::sort(all.begin(), all.end(), [](const E& p, const E& q) {
        return std::tie(p.side, p.lo, p.hi, p.tri) < std::tie(q.side, q.lo, q.hi, q.tri);
    });
    triEdge.assign(tris.size(), {-1, -1, -1});
    int32_t id = -1;
    for (size_t i = 0; i < all.size(); ++i) {
        if (i == 0 || all[i].side != all[i - 1].side || all[i].lo != all[i - 1].lo ||
            all[i].hi != all[i - 1].hi) {
            ++id;
        }
        triEdge[all[i].tri][all[i].k] = id;
        if (static_cast<int32_t>(edgeEnds.size()) == id) {
            edgeEnds.push_back({all[i].lo, all[i].hi});
        }
    }
    axis.assign(tris.size(), 0);
    projectedSign.assign(tris.size(), 0);
    for (int32_t t : involved) {
        const Corners& c = tris[t];
        axis[t] = static_cast<int8_t>(dominantAxis(points[c[0]], points[c[1]], points[c[2]]));
        projectedSign[t] = static_cast<int8_t>(orient2(c[0], c[1], c[2], axis[t]));
        assert(projectedSign[t] != 0);
    }
}

// Where point z, which lies in the plane of `tri`, falls in it.
Where Arrangement::Impl::locate(int32_t z, int32_t tri, int ax) const {
    const Corners& c = tris[tri];
    for (int i = 0; i < 3; ++i) {
        if (c[i] == z) {
            return {kCorner, static_cast<int8_t>(i)};
        }
    }
    const int s = orient2(c[0], c[1], c[2], ax);
    int zeros = 0, zeroAt = 0;
    for (int i = 0; i < 3; ++i) {
        const int o = orient2(c[i], c[(i + 1) % 3], z, ax) * s;
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

// Edge k of triangle x lies in the plane of triangle y (side says which operand x is): the
// points of the closed edge that lie in y, found in 2-D.
void Arrangement::Impl::segmentVsTriangle(int side, int32_t x, int k, int32_t y, int ax,
                                          std::vector<Found>& out) const {
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
        const int32_t z = end == 0 ? p : q;
        const Where w = locate(z, y, ax);
        if (w.site != kNowhere) {
            add({kVertex, z, 0}, {kCorner, static_cast<int8_t>((k + end) % 3)}, w);
        }
    }
    for (int j = 0; j < 3; ++j) {
        const int32_t c = cy[j], d = cy[(j + 1) % 3];
        if (c == p || c == q || d == p || d == q) {
            continue;  // a shared corner is found by locate; no crossing besides it
        }
        const int o1 = orient2(p, q, c, ax), o2 = orient2(p, q, d, ax);
        const int o3 = orient2(c, d, p, ax), o4 = orient2(c, d, q, ax);
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
    if (op == 0 && oq == 0) {
        segmentVsTriangle(side, x, k, y, axis[y], out);
        return;
    }
    if (op == 0 || oq == 0) {
        const int32_t z = op == 0 ? p : q;
        const Where w = locate(z, y, axis[y]);
        if (w.site != kNowhere) {
            add({kVertex, z, 0}, {kCorner, static_cast<int8_t>(op == 0 ? k : (k + 1) % 3)}, w);
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
bool Arrangement::Impl::pair(int32_t t0, int32_t t1) {
    const int32_t t[2] = {t0, t1};
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
    for (int s = 0; s < 2; ++s) {
        for (int k = 0; k < 3; ++k) {
            if (coplanar) {
                segmentVsTriangle(s, t[s], k, t[1 - s], axis[t0], found);
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
                onEdge.emplace_back(triEdge[t[s]][f.in[s].index], f.key);
            } else if (f.in[s].site == kInside) {
                inFace.emplace_back(t[s], f.key);
            }
        }
    }
    const auto addChain = [&](std::vector<Key> keys) {
        if (keys.size() < 2) {
            return;
        }
        const auto id = static_cast<int32_t>(chains.size());
        chains.push_back(std::move(keys));
        chainOf.emplace_back(t0, id);
        chainOf.emplace_back(t1, id);
    };
    if (!coplanar) {
        std::vector<Key> keys;
        for (const Found& f : found) {
            keys.push_back(f.key);
        }
        addChain(std::move(keys));
        return true;
    }
    coplanarWith.emplace_back(t0, t1);
    coplanarWith.emplace_back(t1, t0);
    // The overlap is bounded by pieces of both triangles' edges: one chain per edge.
    for (int s = 0; s < 2; ++s) {
        for (int k = 0; k < 3; ++k) {
            std::vector<Key> keys;
            for (const Found& f : found) {
                const Where w = f.in[s];
                if ((w.site == kOnEdge && w.index == k) ||
                    (w.site == kCorner && (w.index == k || w.index == (k + 1) % 3))) {
                    keys.push_back(f.key);
                }
            }
            addChain(std::move(keys));
        }
    }
    return true;
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
bool Arrangement::Impl::splitTriangle(int32_t t, const std::vector<int32_t>& ids,
                                      const std::array<std::vector<int32_t>, 3>& edgePoints,
                                      const std::vector<std::vector<int32_t>>& segs,
                                      const std::vector<int32_t>& partners,
                                      std::vector<Piece>& pieces, std::string& error) const {
    const int ax = axis[t];
    Cdt cdt;
    std::vector<std::pair<int32_t, Cdt::Vertex_handle>> handles;
    handles.reserve(ids.size());
    const auto put = [&](int32_t id, const Cdt::Vertex_handle h) {
        h->info() = id;
        handles.emplace_back(id, h);
    };
    const auto projected = [&](int32_t id) { return project<EP2>(exactPoint(id), ax); };
    Cdt::Vertex_handle corner[3];
    for (int k = 0; k < 3; ++k) {
        corner[k] = cdt.insert(projected(ids[static_cast<size_t>(k)]));
        put(ids[static_cast<size_t>(k)], corner[k]);
    }
    // Points inside an edge go in where they are known to lie, one after another from the
    // edge's first corner: locating them would ask whether they lie on the edge, which no
    // rounded arithmetic can confirm, so each would be settled in exact numbers. The edges of
    // the triangle bound all its points, so no flip removes them.
    std::vector<std::pair<EP2, int32_t>> along;
    for (int k = 0; k < 3; ++k) {
        const EP2 from = projected(ids[static_cast<size_t>(k)]);
        along.clear();
        for (int32_t id : edgePoints[static_cast<size_t>(k)]) {
            along.emplace_back(projected(id), id);
        }
        std::sort(along.begin(), along.end(), [&](const auto& a, const auto& b) {
            return CGAL::compare_distance_to_point(from, a.first, b.first) == CGAL::SMALLER;
        });
        Cdt::Vertex_handle previous = corner[k];
        for (const auto& [point, id] : along) {
            Cdt::Face_handle face;
            int index = 0;
            if (!cdt.is_edge(previous, corner[(k + 1) % 3], face, index)) {
                error = "tocka spoja izvan svog trokuta";
                return false;
            }
            const Cdt::Vertex_handle h = cdt.insert(point, Cdt::EDGE, face, index);
            put(id, h);
            previous = h;
        }
    }
    std::vector<int32_t> onEdges;
    for (const auto& points : edgePoints) {
        onEdges.insert(onEdges.end(), points.begin(), points.end());
    }
    std::sort(onEdges.begin(), onEdges.end());
    for (size_t n = 3; n < ids.size(); ++n) {
        const int32_t id = ids[n];
        if (std::binary_search(onEdges.begin(), onEdges.end(), id)) {
            continue;
        }
        const size_t before = cdt.number_of_vertices();
        const Cdt::Vertex_handle h = cdt.insert(projected(id));
        if (cdt.number_of_vertices() == before) {
            error = "dvije tocke spoja na istom mjestu";
            return false;
        }
        put(id, h);
    }
    std::sort(handles.begin(), handles.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    const auto handleOf = [&](int32_t id) {
        const auto it = std::lower_bound(
            handles.begin(), handles.end(), id,
            [](const std::pair<int32_t, Cdt::Vertex_handle>& h, int32_t v) { return h.first < v; });
        assert(it != handles.end() && it->first == id);
        return it->second;
    };
    try {
        for (const std::vector<int32_t>& seg : segs) {
            // Collinear points: the lexicographic extremes are the segment's ends, and the
            // triangulation splits the constraint at the points between.
            Cdt::Vertex_handle lo = handleOf(seg[0]), hi = lo;
            for (size_t i = 1; i < seg.size(); ++i) {
                const Cdt::Vertex_handle h = handleOf(seg[i]);
                if (CGAL::compare_xy(h->point(), lo->point()) == CGAL::SMALLER) {
                    lo = h;
                }
                if (CGAL::compare_xy(h->point(), hi->point()) == CGAL::LARGER) {
                    hi = h;
                }
            }
            if (lo != hi) {
                cdt.insert_constraint(lo, hi);
            }
        }
    } catch (const std::exception&) {
        error = "rubovi spoja se sijeku unutar trokuta (tijelo sijece samo sebe)";
        return false;
    }
    if (cdt.number_of_vertices() != ids.size()) {
        error = "tocka spoja izvan svog trokuta";
        return false;
    }
    // Faces in a fixed order: by their smallest id, then the rest, so that the output does
    // not depend on the triangulation's storage order.
    const bool flip = projectedSign[t] < 0;
    const size_t first = pieces.size();
    for (auto f = cdt.finite_faces_begin(); f != cdt.finite_faces_end(); ++f) {
        int32_t v[3];
        bool constrained[3];  // edge v[i] -> v[i + 1]
        for (int i = 0; i < 3; ++i) {
            v[i] = f->vertex(i)->info();
            constrained[i] = f->is_constrained((i + 2) % 3);
        }
        if (flip) {
            std::swap(v[1], v[2]);
            // Edges become v0->v2 (old 2), v2->v1 (old 1), v1->v0 (old 0).
            const bool c0 = constrained[2], c1 = constrained[1], c2 = constrained[0];
            constrained[0] = c0;
            constrained[1] = c1;
            constrained[2] = c2;
        }
        unsigned seam = 0;
        for (int i = 0; i < 3; ++i) {
            seam |= constrained[i] ? 1u << i : 0u;
        }
        int8_t coplanar = 0;
        if (!partners.empty()) {
            const EP2 centre = CGAL::centroid(project<EP2>(exactPoint(v[0]), ax),
                                              project<EP2>(exactPoint(v[1]), ax),
                                              project<EP2>(exactPoint(v[2]), ax));
            for (int32_t other : partners) {
                const Corners& c = tris[other];
                const int s = orient2(c[0], c[1], c[2], ax);
                bool inside = true;
                for (int i = 0; i < 3 && inside; ++i) {
                    inside = sign(CGAL::orientation(project<EP2>(exactPoint(c[i]), ax),
                                                    project<EP2>(exactPoint(c[(i + 1) % 3]), ax),
                                                    centre)) == s;
                }
                if (inside) {
                    coplanar = static_cast<int8_t>(s == projectedSign[t] ? 1 : -1);
                    break;
                }
            }
        }
        addPiece(t, v, seam, coplanar, pieces);
    }
    std::sort(pieces.begin() + static_cast<std::ptrdiff_t>(first), pieces.end(),
              [](const Piece& a, const Piece& b) { return a.v < b.v; });
    return true;
}

void Arrangement::Impl::addPiece(int32_t t, const int32_t* v, unsigned seam, int8_t coplanar,
                                 std::vector<Piece>& out) const {
    // A piece that is the whole triangle again keeps the triangle's order.
    const Corners& own = tris[t];
    const auto rank = [&](int32_t id) {
        for (int i = 0; i < 3; ++i) {
            if (own[i] == id) {
                return std::pair<int, int32_t>(i, id);
            }
        }
        return std::pair<int, int32_t>(3, id);
    };
    int r = 0;
    for (int i = 1; i < 3; ++i) {
        if (rank(v[i]) < rank(v[r])) {
            r = i;
        }
    }
    Piece piece{};
    piece.source = t;
    piece.coplanar = coplanar;
    for (int i = 0; i < 3; ++i) {
        piece.v[i] = v[(i + r) % 3];
        if ((seam >> ((i + r) % 3)) & 1u) {
            piece.seamMask |= static_cast<uint8_t>(1u << i);
        }
    }
    out.push_back(piece);
}

void Arrangement::Impl::splitAcrossCorner(int32_t t, int k, int32_t p, int32_t q,
                                          std::vector<Piece>& out) const {
    const Corners& c = tris[t];
    const int32_t from = c[k], corner = c[(k + 1) % 3], to = c[(k + 2) % 3];
    const size_t first = out.size();
    const int32_t cut[3] = {p, corner, q};
    addPiece(t, cut, 1u << 2, 0, out);
    // Quadrilateral from, p, q, to, convex: either diagonal gives valid pieces, so rounding
    // near a tie only picks the other valid one.
    const auto planar = [&](int32_t id) {
        const EP3& e = exactPoint(id);
        const double x = CGAL::to_double(e.x()), y = CGAL::to_double(e.y()),
                     z = CGAL::to_double(e.z());
        const int ax = axis[t];
        return ax == 0   ? std::array<double, 2>{y, z}
               : ax == 1 ? std::array<double, 2>{z, x}
                         : std::array<double, 2>{x, y};
    };
    const std::array<double, 2> a = planar(from), b = planar(p), d = planar(to), e = planar(q);
    // q inside the circle through from, p, to (taken counterclockwise in the projection)?
    const double adx = a[0] - e[0], ady = a[1] - e[1];
    const double bdx = b[0] - e[0], bdy = b[1] - e[1];
    const double cdx = d[0] - e[0], cdy = d[1] - e[1];
    const double det = (adx * adx + ady * ady) * (bdx * cdy - cdx * bdy) -
                       (bdx * bdx + bdy * bdy) * (adx * cdy - cdx * ady) +
                       (cdx * cdx + cdy * cdy) * (adx * bdy - bdx * ady);
    if (det * projectedSign[t] > 0) {
        const int32_t x[3] = {from, p, q}, y[3] = {from, q, to};
        addPiece(t, x, 1u << 1, 0, out);
        addPiece(t, y, 0, 0, out);
    } else {
        const int32_t x[3] = {from, p, to}, y[3] = {p, q, to};
        addPiece(t, x, 0, 0, out);
        addPiece(t, y, 1u << 0, 0, out);
    }
    std::sort(out.begin() + static_cast<std::ptrdiff_t>(first), out.end(),
              [](const Piece& x, const Piece& y) { return x.v < y.v; });
}

Arrangement::Arrangement(std::vector<Point3> points, std::vector<Corners> triangles,
                         int32_t firstOther)
    : m_impl(std::make_unique<Impl>()) {
    m_impl->points = std::move(points);
    m_impl->tris = std::move(triangles);
    m_impl->firstOther = firstOther;
}

Arrangement::~Arrangement() = default;

int64_t Arrangement::intersect(const std::vector<std::pair<int32_t, int32_t>>& candidates,
                               const std::vector<int32_t>& involved) {
    Impl& m = *m_impl;
    m.buildEdges(involved);
    int64_t touching = 0;
    for (const auto& [a, b] : candidates) {
        assert(a < m.firstOther && b >= m.firstOther);
        touching += m.pair(a, b) ? 1 : 0;
    }
    return touching;
}

bool Arrangement::split() {
    Impl& m = *m_impl;
    const auto sortUnique = [](auto& v) {
        std::sort(v.begin(), v.end());
        v.erase(std::unique(v.begin(), v.end()), v.end());
    };
    sortUnique(m.onEdge);
    sortUnique(m.inFace);
    sortUnique(m.chainOf);
    sortUnique(m.coplanarWith);
    for (const auto& e : m.onEdge) {
        if (e.second.kind != kVertex) {
            m.seamKeys.push_back(e.second);
        }
    }
    for (const auto& e : m.inFace) {
        if (e.second.kind != kVertex) {
            m.seamKeys.push_back(e.second);
        }
    }
    sortUnique(m.seamKeys);
    m.exact.assign(m.points.size() + m.seamKeys.size(), std::nullopt);

    // Which triangles need splitting: those with a point on an edge, inside, or a chain.
    const auto nt = static_cast<int32_t>(m.tris.size());
    std::vector<std::vector<int32_t>> edgePoints;  // per edge id, filled lazily below
    std::vector<int32_t> edgeStart(m.edgeEnds.size() + 1, 0);
    for (const auto& e : m.onEdge) {
        ++edgeStart[e.first + 1];
    }
    for (size_t i = 1; i < edgeStart.size(); ++i) {
        edgeStart[i] += edgeStart[i - 1];
    }
    std::vector<char> touched(m.tris.size(), 0);
    for (int32_t t = 0; t < nt; ++t) {
        // Only triangles of candidate pairs have edge ids; only they can be touched.
        for (int k = 0; k < 3 && m.triEdge[t][0] >= 0; ++k) {
            const int32_t e = m.triEdge[t][k];
            if (edgeStart[e + 1] > edgeStart[e]) {
                touched[t] = 1;
            }
        }
    }
    for (const auto& f : m.inFace) {
        touched[f.first] = 1;
    }
    for (const auto& c : m.chainOf) {
        touched[c.first] = 1;
    }

    // What each touched triangle is split along, gathered in triangle order.
    struct Job {
        int32_t t;
        std::vector<int32_t> ids, partners;
        std::vector<std::vector<int32_t>> segs;
        bool inside = false;                             // a point inside the triangle
        std::array<int32_t, 3> edgeCount{};              // points inside each edge
        std::array<int32_t, 3> edgePoint{};              // the first of them
        std::array<std::vector<int32_t>, 3> edgePoints;  // all of them
    };
    std::vector<Job> jobs;
    size_t faceAt = 0, chainAt = 0, coplanarAt = 0;
    for (int32_t t = 0; t < nt; ++t) {
        if (!touched[t]) {
            continue;  // kept whole; coplanar contacts at a single point change nothing
        }
        Job job;
        job.t = t;
        const Corners& c = m.tris[t];
        job.ids.assign(c.begin(), c.end());
        for (; faceAt < m.inFace.size() && m.inFace[faceAt].first < t; ++faceAt) {
        }
        for (; faceAt < m.inFace.size() && m.inFace[faceAt].first == t; ++faceAt) {
            job.ids.push_back(m.idOf(m.inFace[faceAt].second));
            job.inside = true;
        }
        for (; chainAt < m.chainOf.size() && m.chainOf[chainAt].first < t; ++chainAt) {
        }
        for (; chainAt < m.chainOf.size() && m.chainOf[chainAt].first == t; ++chainAt) {
            std::vector<int32_t> seg;
            for (const Key& k : m.chains[m.chainOf[chainAt].second]) {
                seg.push_back(m.idOf(k));
            }
            job.segs.push_back(std::move(seg));
        }
        for (; coplanarAt < m.coplanarWith.size() && m.coplanarWith[coplanarAt].first < t;
             ++coplanarAt) {
        }
        for (; coplanarAt < m.coplanarWith.size() && m.coplanarWith[coplanarAt].first == t;
             ++coplanarAt) {
            job.partners.push_back(m.coplanarWith[coplanarAt].second);
        }
        for (int k = 0; k < 3; ++k) {
            const int32_t e = m.triEdge[t][k];
            for (int32_t i = edgeStart[e]; i < edgeStart[e + 1]; ++i) {
                job.ids.push_back(m.idOf(m.onEdge[i].second));
                job.edgePoints[static_cast<size_t>(k)].push_back(job.ids.back());
            }
            job.edgeCount[k] = edgeStart[e + 1] - edgeStart[e];
            if (job.edgeCount[k] > 0) {
                job.edgePoint[k] = m.idOf(m.onEdge[edgeStart[e]].second);
            }
        }
        std::sort(job.ids.begin() + 3, job.ids.end());
        job.ids.erase(std::unique(job.ids.begin() + 3, job.ids.end()), job.ids.end());
        jobs.push_back(std::move(job));
    }

    // Exact points are built once, before the threads read them: input points (each slot by
    // one thread), then seam points, which read only input points of involved triangles.
    {
        std::vector<char> need(m.points.size(), 0);
        for (int32_t t = 0; t < nt; ++t) {
            if (m.triEdge[t][0] >= 0) {
                for (int32_t v : m.tris[t]) {
                    need[v] = 1;
                }
            }
        }
        tbb::parallel_for(tbb::blocked_range<size_t>(0, need.size(), 4096),
                          [&](const tbb::blocked_range<size_t>& r) {
                              for (size_t i = r.begin(); i < r.end(); ++i) {
                                  if (need[i]) {
                                      (void)m.exactPoint(static_cast<int32_t>(i));
                                  }
                              }
                          });
        const auto np = static_cast<int32_t>(m.points.size());
        tbb::parallel_for(
            tbb::blocked_range<int32_t>(0, static_cast<int32_t>(m.seamKeys.size()), 256),
            [&](const tbb::blocked_range<int32_t>& r) {
                for (int32_t i = r.begin(); i < r.end(); ++i) {
                    (void)m.exactPoint(np + i);
                }
            });
    }

    // The triangulations are independent; each job keeps its own pieces and the first
    // failure in triangle order is the one reported.
    std::vector<std::vector<Piece>> split(jobs.size());
    std::vector<std::string> why(jobs.size());
    std::vector<char> failed(jobs.size(), 0);
    tbb::parallel_for(
        tbb::blocked_range<size_t>(0, jobs.size(), 8), [&](const tbb::blocked_range<size_t>& r) {
            for (size_t j = r.begin(); j < r.end(); ++j) {
                const Job& job = jobs[j];
                // Most cut triangles are crossed once, from edge to edge.
                const int cut = job.edgeCount[0] + job.edgeCount[1] + job.edgeCount[2];
                if (!job.inside && job.partners.empty() && cut == 2 && job.segs.size() == 1 &&
                    job.segs[0].size() == 2 && job.ids.size() == 5) {
                    const auto& c = job.edgeCount;
                    const int k = c[0] == 0 ? 1 : c[1] == 0 ? 2 : 0;  // first of the two edges
                    if (c[k] == 1 && c[(k + 1) % 3] == 1) {
                        const int32_t onFirst = job.edgePoint[k];
                        const int32_t onSecond = job.edgePoint[(k + 1) % 3];
                        const auto& seg = job.segs[0];
                        if ((seg[0] == onFirst && seg[1] == onSecond) ||
                            (seg[0] == onSecond && seg[1] == onFirst)) {
                            m.splitAcrossCorner(job.t, k, onFirst, onSecond, split[j]);
                            continue;
                        }
                    }
                }
                failed[j] = m.splitTriangle(job.t, job.ids, job.edgePoints, job.segs, job.partners,
                                            split[j], why[j])
                                ? 0
                                : 1;
            }
        });
    for (size_t j = 0; j < jobs.size(); ++j) {
        if (failed[j]) {
            m.error = why[j];
            return false;
        }
    }
    size_t total = m.tris.size() - jobs.size();
    for (const std::vector<Piece>& p : split) {
        total += p.size();
    }
    m.pieces.reserve(total);
    size_t next = 0;
    for (int32_t t = 0; t < nt; ++t) {
        if (next < jobs.size() && jobs[next].t == t) {
            m.pieces.insert(m.pieces.end(), split[next].begin(), split[next].end());
            ++next;
        } else {
            m.pieces.push_back({m.tris[t], t, 0, 0});
        }
    }
    return true;
}

const std::vector<Piece>& Arrangement::pieces() const {
    return m_impl->pieces;
}

int32_t Arrangement::pointCount() const {
    return static_cast<int32_t>(m_impl->points.size() + m_impl->seamKeys.size());
}

int64_t Arrangement::seamPointCount() const {
    return static_cast<int64_t>(m_impl->seamKeys.size());
}

std::array<float, 3> Arrangement::rounded(int32_t point) const {
    const Impl& m = *m_impl;
    if (point < static_cast<int32_t>(m.points.size())) {
        const Point3& p = m.points[point];
        return {static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z)};
    }
    const EP3& p = m.exactPoint(point);
    return {static_cast<float>(CGAL::to_double(p.x())), static_cast<float>(CGAL::to_double(p.y())),
            static_cast<float>(CGAL::to_double(p.z()))};
}

std::array<double, 3> Arrangement::sourceNormal(int32_t triangle) const {
    const Impl& m = *m_impl;
    const Corners& c = m.tris[triangle];
    const Point3& a = m.points[c[0]];
    const Point3& b = m.points[c[1]];
    const Point3& d = m.points[c[2]];
    const double ux = b.x - a.x, uy = b.y - a.y, uz = b.z - a.z;
    const double vx = d.x - a.x, vy = d.y - a.y, vz = d.z - a.z;
    return {uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx};
}

bool Arrangement::insideOther(int32_t pieceIndex) const {
    const Impl& m = *m_impl;
    const Piece& piece = m.pieces[pieceIndex];
    const bool fromOther = m.isOther(piece.source);
    const auto nt = static_cast<int32_t>(m.tris.size());
    const int32_t begin = fromOther ? 0 : m.firstOther;
    const int32_t end = fromOther ? m.firstOther : nt;
    const EP3 q = CGAL::centroid(m.exactPoint(piece.v[0]), m.exactPoint(piece.v[1]),
                                 m.exactPoint(piece.v[2]));
    const double qx = CGAL::to_double(q.x()), qy = CGAL::to_double(q.y()),
                 qz = CGAL::to_double(q.z());
    if (m.span == 0) {
        m.span = 1.0;
        for (const Point3& p : m.points) {
            m.span = std::max({m.span, std::abs(p.x), std::abs(p.y), std::abs(p.z)});
        }
    }
    const double span = m.span;
    const double length = 8.0 * span;
    // Nearly along +x, with slopes no mesh of the program lines up with; a ray that grazes an
    // edge or a vertex is replaced by the next one.
    static constexpr double kSlopes[][2] = {{0.000731, 0.000419},  {-0.000613, 0.000887},
                                            {0.000271, -0.000953}, {-0.000829, -0.000347},
                                            {0.000157, 0.000563},  {0.000919, -0.000211}};
    for (const auto& slope : kSlopes) {
        const double dy = slope[0], dz = slope[1];
        const EP3 r = q + Epeck::Vector_3(length, length * dy, length * dz);
        int parity = 0;
        bool degenerate = false;
        for (int32_t t = begin; t < end && !degenerate; ++t) {
            const Corners& c = m.tris[t];
            const Point3& a = m.points[c[0]];
            const Point3& b = m.points[c[1]];
            const Point3& d = m.points[c[2]];
            const double xHi = std::max({a.x, b.x, d.x});
            if (xHi < qx - 1e-9 * span) {
                continue;
            }
            const double xLo = std::max(std::min({a.x, b.x, d.x}), qx);
            // The ray's y and z over the triangle's x range, widened for rounding.
            const double margin = 1e-9 * span;
            const double y0 = qy + dy * (xLo - qx), y1 = qy + dy * (xHi - qx);
            const double z0 = qz + dz * (xLo - qx), z1 = qz + dz * (xHi - qx);
            if (std::max({a.y, b.y, d.y}) < std::min(y0, y1) - margin ||
                std::min({a.y, b.y, d.y}) > std::max(y0, y1) + margin ||
                std::max({a.z, b.z, d.z}) < std::min(z0, z1) - margin ||
                std::min({a.z, b.z, d.z}) > std::max(z0, z1) + margin) {
                continue;
            }
            const EP3& pa = m.exactPoint(c[0]);
            const EP3& pb = m.exactPoint(c[1]);
            const EP3& pc = m.exactPoint(c[2]);
            const int s1 = sign(CGAL::orientation(pa, pb, pc, q));
            const int s2 = sign(CGAL::orientation(pa, pb, pc, r));
            if (s2 == 0) {
                degenerate = true;
                break;
            }
            if (s1 == 0 || s1 == s2) {
                continue;  // starts on the plane outside the triangle, or stays on one side
            }
            const int e0 = sign(CGAL::orientation(q, r, pa, pb));
            const int e1 = sign(CGAL::orientation(q, r, pb, pc));
            const int e2 = sign(CGAL::orientation(q, r, pc, pa));
            if ((e0 > 0 || e1 > 0 || e2 > 0) && (e0 < 0 || e1 < 0 || e2 < 0)) {
                continue;
            }
            if (e0 == 0 || e1 == 0 || e2 == 0) {
                degenerate = true;
                break;
            }
            parity ^= 1;
        }
        if (!degenerate) {
            return parity != 0;
        }
    }
    // Every ray grazed something: keep the last parity rather than fail (never seen).
    return false;
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
