// The arrangement's private state and the exact types it works in, shared by its pair tests
// (arrangement.cpp) and its triangulations (triangulation.cpp); internal to the closed engine
// and, like them, the only code that sees CGAL.
#pragma once

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
#include <functional>
#include <optional>

#include "closed/arrangement.h"

namespace korvan::closed::exact {

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

inline int sign(CGAL::Orientation o) {
    return o == CGAL::POSITIVE ? 1 : o == CGAL::NEGATIVE ? -1 : 0;
}

// Axis dropped to project a plane without folding it: the normal's largest component.
inline int dominantAxis(const Point3& a, const Point3& b, const Point3& c) {
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

inline IP2 project(const Point3& p, int axis) {
    switch (axis) {
        case 0:
            return IP2(p.y, p.z);
        case 1:
            return IP2(p.z, p.x);
        default:
            return IP2(p.x, p.y);
    }
}

}  // namespace korvan::closed::exact

namespace korvan::closed {

using namespace exact;

// What the pair tests find, gathered per run of pairs so that runs can go in parallel and be
// joined in order: the same records, in the same order, as one pass over all pairs.
struct PairRecords {
    std::vector<std::pair<int32_t, Key>> onEdge;            // (edge id, point) inside the edge
    std::vector<std::pair<int32_t, Key>> inFace;            // (triangle, point) inside the triangle
    std::vector<std::pair<int32_t, int32_t>> chainOf;       // (triangle, chain)
    std::vector<std::pair<int32_t, int32_t>> coplanarWith;  // (triangle, other triangle)
    // Collinear points of one seam segment each: chain i is chainKeys[chainEnd[i - 1],
    // chainEnd[i]), in one array rather than a vector per chain.
    std::vector<Key> chainKeys;
    std::vector<int32_t> chainEnd;
    std::vector<int32_t> crossed;  // triangles touched by a pair that is not in one plane

    int32_t chainCount() const { return static_cast<int32_t>(chainEnd.size()); }
    void addChain(int32_t t0, int32_t t1) {
        chainOf.emplace_back(t0, chainCount());
        chainOf.emplace_back(t1, chainCount());
        chainEnd.push_back(static_cast<int32_t>(chainKeys.size()));
    }
    void addChainOf(int32_t t) {
        chainOf.emplace_back(t, chainCount());
        chainEnd.push_back(static_cast<int32_t>(chainKeys.size()));
    }
};

// What one touched triangle is split along.
struct SplitJob {
    int32_t t = -1;
    std::vector<int32_t> ids, partners;  // points (corners first), coplanar partners
    std::vector<std::vector<int32_t>> segs;
    bool inside = false;                             // a point inside the triangle
    std::array<std::vector<int32_t>, 3> edgePoints;  // points inside each edge
};

struct Arrangement::Impl {
    std::vector<Point3> points;
    std::vector<Corners> tris;
    int32_t firstOther = 0;
    std::vector<int32_t> involved;                 // ascending; the only triangles with edge ids
    std::vector<std::array<int32_t, 3>> triEdge;   // edge id of edge i (corner i to i + 1)
    std::vector<std::array<int32_t, 2>> edgeEnds;  // the two points of each edge
    std::vector<char> flatEdge;         // between two triangles of its operand in one plane
    std::vector<int8_t> axis;           // projection axis per triangle
    std::vector<int8_t> projectedSign;  // orientation of the projected corners
    std::vector<int8_t> twin;           // per triangle, or empty: Arrangement::setTwins
    bool twinTouched = false;
    bool skipCovered = false;     // Arrangement::skipCoveredPairs
    std::vector<int8_t> covered;  // per triangle, or empty: coveredTriangles

    // Records gathered by the pair tests, sorted and resolved after all pairs.
    std::vector<std::pair<int32_t, Key>> onEdge;
    std::vector<std::pair<int32_t, Key>> inFace;
    std::vector<std::pair<int32_t, int32_t>> chainOf;
    std::vector<std::pair<int32_t, int32_t>> coplanarWith;
    std::vector<Key> chainKeys;  // as in PairRecords
    std::vector<int32_t> chainEnd;
    std::vector<int32_t> crossed;
    // Set by split(): where each edge's (onEdge) and each triangle's (inFace, chainOf,
    // coplanarWith) records start, and the chains' points by id.
    std::vector<int32_t> edgeStart, inFaceStart, chainStart, partnerStart;
    std::vector<int32_t> chainIds;
    // Triangles split() left whole as lying entirely on the other surface, ascending, and
    // what each would be split along.
    std::vector<SplitJob> deferred;

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
    // A repeated point (one id: one position) is settled without the predicate, whose filter
    // cannot tell an exact zero and falls back to exact numbers.
    int orient3(int32_t a, int32_t b, int32_t c, int32_t d) const {
        if (d == a || d == b || d == c) {
            return 0;
        }
        return sign(CGAL::orientation(ip(a), ip(b), ip(c), ip(d)));
    }
    int orient2(int32_t a, int32_t b, int32_t c, int ax) const {
        if (c == a || c == b || a == b) {
            return 0;
        }
        return sign(CGAL::orientation(project(points[a], ax), project(points[b], ax),
                                      project(points[c], ax)));
    }
    bool strictlyBetween(int32_t p, int32_t c, int32_t q) const {
        return CGAL::collinear_are_strictly_ordered_along_line(ip(p), ip(c), ip(q));
    }

    void buildEdges(const std::vector<int32_t>& involved);
    // Orientations in one projection between the edges of two triangles in one plane and the
    // other's corners, each computed when first asked: the tests of a coplanar pair ask for most of
    // them several times.
    struct PlanarSides {
        PlanarSides(const Impl& arrangement, int32_t t0, int32_t t1, int axis);
        // Corner j of t[1 - s] against the line through edge i of t[s].
        int side(int s, int i, int j);
        // The order of t[s]'s own corners.
        int turn(int s);

        const Impl& m;
        const int32_t t[2];
        const int ax;

    private:
        static constexpr int8_t kUnknown = 2;
        int8_t m_side[2][3][3];
        int8_t m_turn[2] = {kUnknown, kUnknown};
    };
    // Where corner m of t[s], which lies in the plane of t[1 - s], falls in t[1 - s].
    Where locate(PlanarSides& sides, int s, int m) const;
    // Edge k of t[side] lies in the plane of t[1 - side]: its points that lie in that triangle.
    void segmentVsTriangle(int side, int k, PlanarSides& sides, std::vector<Found>& out) const;
    void edgeVsTriangle(int side, int32_t x, int k, int32_t y, const int* o,
                        std::vector<Found>& out) const;
    // The pair tests read the arrangement only and write to `out`.
    bool pair(int32_t t0, int32_t t1, PairRecords& out) const;
    bool sharedPair(int32_t t0, int32_t t1, PairRecords& out) const;
    // Exactly whether triangle u lies in the plane of triangle t.
    bool inOnePlane(int32_t t, int32_t u) const;
    // For each triangle of the candidate pairs that lies on the other surface throughout,
    // touched by nothing out of its plane: +1 / -1 as that surface faces the same way as it /
    // the other way; 0 for every other triangle. Both operands must be closed and free of
    // crossings (covered_pairs.cpp).
    std::vector<int8_t> coveredTriangles(
        const std::vector<std::pair<int32_t, int32_t>>& candidates) const;
    // Whether triangle u, in t's plane, lies on the outer side of the line through one of t's
    // edges (on it allowed); with `strict`, its corners that are not t's strictly outside.
    bool outsideAnEdge(int32_t t, int32_t u, bool strict) const;

    int32_t idOf(const Key& k) const {
        if (k.kind == kVertex) {
            return k.a;
        }
        const auto it = std::lower_bound(seamKeys.begin(), seamKeys.end(), k);
        assert(it != seamKeys.end() && *it == k);
        return static_cast<int32_t>(points.size() + (it - seamKeys.begin()));
    }
    const EP3& exactPoint(int32_t id) const;
    // Point `id` projected along `axis`: an input point straight from its doubles, which
    // builds nothing lazy; a seam point from its exact form.
    EP2 projectedPoint(int32_t id, int axis) const {
        if (id < static_cast<int32_t>(points.size())) {
            const Point3& p = points[static_cast<size_t>(id)];
            const IP2 q = project(p, axis);
            return EP2(q.x(), q.y());
        }
        return project<EP2>(exactPoint(id), axis);
    }
    // What touched triangle t is split along, from the records split() grouped.
    void makeJob(int32_t t, SplitJob& job) const;
    // A ray from a piece's centroid: the exact start, its rounding, and its place in the
    // caller's list.
    struct Ray {
        EP3 from;
        std::array<double, 3> approx;
        size_t index;
    };
    // Exact parity of crossings of each ray with triangles [begin, end), into inside[index];
    // one pass over the triangles per slope tried. `span` must be known.
    void castRays(std::vector<Ray>& rays, int32_t begin, int32_t end,
                  std::vector<int8_t>& inside) const;
    // Appends the pieces of triangle t to `out`; on failure returns false with `why` set.
    // Reads exact points only, all of which must have been built before.
    bool splitTriangle(int32_t t, const std::vector<int32_t>& ids,
                       const std::array<std::vector<int32_t>, 3>& edgePoints,
                       const std::vector<std::vector<int32_t>>& segs,
                       const std::vector<int32_t>& partners, std::vector<Piece>& out,
                       std::string& why) const;
    // Straight runs of triangle t's seam: where an edge of the other surface between two of its
    // triangles in one plane crosses t inside, the two segments there lie on one line. Each
    // run is its points in order, from an end that is no such point to the other, with at
    // least one such point between. `onEdges` (sorted) lists the points inside t's edges.
    std::vector<std::vector<int32_t>> straightRuns(int32_t t,
                                                   const std::vector<std::vector<int32_t>>& segs,
                                                   const std::vector<int32_t>& onEdges) const;
    // Triangle t crossed by one seam segment from point p inside edge k (corner k to k + 1) to
    // point q inside edge k + 1: the corner between them is cut off, and the quadrilateral
    // left takes the diagonal the Delaunay triangulation of the projected points takes.
    void splitAcrossCorner(int32_t t, int k, int32_t p, int32_t q, std::vector<Piece>& out) const;
    // Triangle t with no point but its corners: itself, with the edges that `segs` name on
    // the seam, as its triangulation would give it.
    void wholeTriangle(int32_t t, const std::vector<std::vector<int32_t>>& segs,
                       const std::vector<int32_t>& partners, std::vector<Piece>& out) const;
    // A coplanar partner of a triangle as its pieces are tested against it: its corners
    // projected along the triangle's axis (input points, so exact in doubles), the sign of
    // their orientation there, and the side a piece inside it takes.
    struct Partner {
        double corner[3][2];
        double lo[2], hi[2];  // bounding box of the corners
        int8_t orientation;
        int8_t side;  // +1: facing as the triangle, -1: the other way
        bool same;    // on the triangle's own corners: holds every piece
    };
    // The partners of t that can hold a piece of it, in the given order: those beside t,
    // beyond the line through one of its edges, are left out, and so is every one after a
    // partner on t's own corners.
    std::vector<Partner> partnersOf(int32_t t, const std::vector<int32_t>& partners) const;
    // +1 / -1 where the centre of the piece with projected corners `piece` lies inside a
    // coplanar partner facing the same way as t / the other way, else 0; the first partner
    // that holds it decides. Exact: rounded arithmetic decides where it is sure.
    static int8_t coplanarSide(const std::vector<Partner>& partners, const EP2* const (&piece)[3]);
    // The pieces of the job's triangle, appended to `out`; on failure false with `why` set.
    bool splitJob(const SplitJob& job, std::vector<Piece>& out, std::string& why) const;
    // +1 / -1 where triangle t, touched only by triangles in its plane, has partners that
    // overlap it and all face the same way as it / the other way: then, the other operand
    // being closed, its surface covers t, and every piece of t would lie on it facing so.
    // 0 otherwise.
    int8_t coveredSide(int32_t t, const std::vector<int32_t>& partners) const;
    // Appends piece v of triangle t (in t's orientation; bit e of `seam` for edge v[e] to
    // v[e + 1]), starting at t's earliest own corner it has, else at its smallest id.
    void addPiece(int32_t t, const int32_t* v, unsigned seam, int8_t coplanar,
                  std::vector<Piece>& out) const;
};

}  // namespace korvan::closed
