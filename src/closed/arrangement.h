// Exact intersection and splitting of two welded triangle sets; the only users of CGAL.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "geometry/stop_token.h"

namespace korvan::closed {

// An input position; every coordinate is a float, so exact in double.
struct Point3 {
    double x, y, z;
};

// Its coordinate on axis k (0: x, 1: y, 2: z).
inline double coordinate(const Point3& p, int k) {
    return k == 0 ? p.x : k == 1 ? p.y : p.z;
}

using Corners = std::array<int32_t, 3>;

// One triangle of the split surfaces. Points below pointCount() name input vertices first,
// then seam points; both operands use the same id for the same seam point.
struct Piece {
    Corners v;
    int32_t source;    // index of the input triangle it comes from
    uint8_t seamMask;  // bit e: edge v[e] -> v[(e + 1) % 3] lies on the other operand
    int8_t coplanar;   // 0: off the other surface; +1 / -1: on it, same / opposite facing
};

// Triangles read by index, each as its three corners.
struct OtherTriangles {
    int32_t count = 0;
    std::function<std::array<Point3, 3>(int32_t)> corners;
    // Where set: those whose box meets the box [lo, hi] (exactly those), ascending. Lets a
    // long list be searched for the few triangles a segment may cross.
    std::function<std::vector<int32_t>(const std::array<double, 3>& lo,
                                       const std::array<double, 3>& hi)>
        meeting;
};

// (b - a) x (c - a) in double.
inline std::array<double, 3> crossOf(const Point3& a, const Point3& b, const Point3& c) {
    const double ux = b.x - a.x, uy = b.y - a.y, uz = b.z - a.z;
    const double vx = c.x - a.x, vy = c.y - a.y, vz = c.z - a.z;
    return {uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx};
}

struct SplitJob;  // what a touched triangle is split along; internal

// Exactly whether three points lie on one line.
bool collinear(const Point3& a, const Point3& b, const Point3& c);

class Arrangement {
public:
    // `triangles` below `firstOther` belong to object 1, the rest to object 2. Triangles must
    // be non-degenerate (three distinct, non-collinear points).
    Arrangement(std::vector<Point3> points, std::vector<Corners> triangles, int32_t firstOther);
    ~Arrangement();
    Arrangement(const Arrangement&) = delete;
    Arrangement& operator=(const Arrangement&) = delete;

    // Exact intersection of each candidate pair (object 1 triangle, object 2 triangle).
    // `involved` lists, ascending, every triangle near the other operand (a superset of the
    // candidates' triangles); their edges are numbered. Returns the number of pairs that touch.
    // `stop` is polled once per run of pairs (it throws OperationStopped).
    int64_t intersect(const std::vector<std::pair<int32_t, int32_t>>& candidates,
                      const std::vector<int32_t>& involved, const StopToken& stop = {});

    // Before intersect: triangles that the other operand has too (twinSides; the pair tests
    // left them out), each one piece on the other surface, facing as `side` says, its edges on
    // the seam.
    void setTwins(std::vector<int8_t> side);
    // Before intersect, with both operands closed. A triangle that lies on the other surface
    // throughout is then found from the candidate pairs alone, and a pair of two such triangles
    // is not tested: the result keeps one of them whole and drops the other, so no kept piece
    // uses the points where they cross. Such a triangle is left one piece on the other surface,
    // as split() leaves one it finds so itself (isDeferred).
    void skipCoveredPairs();
    // Whether split() failed because something reached inside a twin's edges, which only an
    // operand touching itself can do; restart() and intersect without twins then.
    bool twinTouched() const;
    // Forgets everything but the input points and triangles, which stay where they are.
    void restart();

    // Splits every touched triangle along its seam segments into pieces (in triangle order).
    // Returns false, with `error()` set, when seam segments cross inside a triangle, which only
    // a self-intersecting operand produces.
    // `stop` is polled once per chunk of triangles (it throws OperationStopped).
    bool split(const StopToken& stop = {});

    // A triangle that lies on the other surface throughout, touched by nothing out of its
    // plane, is left one piece (on the other surface, its edges on the seam) by split(): it
    // is kept or dropped whole. Where a kept piece elsewhere uses one of its points (the
    // points its pieces would have, corners first), splitDeferred gives the pieces that
    // split() would have made; false with `why` set where that fails.
    bool isDeferred(int32_t triangle) const;
    const std::vector<int32_t>& deferredPoints(int32_t triangle) const;
    bool splitDeferred(int32_t triangle, std::vector<Piece>& out, std::string& why) const;

    // After split(): the points a touched triangle's pieces have besides its corners, those
    // inside its edges and those inside it, each ascending.
    void innerPoints(int32_t triangle, std::vector<int32_t>& onEdges,
                     std::vector<int32_t>& inside) const;
    // A touched triangle that is kept entirely, in pieces whose points are its corners and the
    // points inside its edges that `used` marks (by point id): the triangle itself, meeting its
    // neighbours at those points, without the seam points no one else needs. False with `why`
    // set where the triangulation fails.
    bool splitAt(int32_t triangle, const std::vector<char>& used, std::vector<Piece>& out,
                 std::string& why) const;

    const std::vector<Piece>& pieces() const;
    // The input points and triangles, as given.
    const std::vector<Point3>& inputPoints() const;
    const std::vector<Corners>& triangles() const;
    int32_t firstOther() const;
    int32_t pointCount() const;
    int64_t seamPointCount() const;
    // The point rounded to the nearest float per coordinate, for the output mesh.
    std::array<float, 3> rounded(int32_t point) const;
    // Cross product of input triangle t's edges (corner 0 to 1, corner 0 to 2), in double.
    std::array<double, 3> sourceNormal(int32_t triangle) const;
    // For each piece, the exact parity of crossings of a ray from its centroid with the other
    // operand (1 inside it). The pieces must not lie on the other surface.
    std::vector<int8_t> insideOther(const std::vector<int32_t>& pieces) const;
    // For a piece of object 2 where object 1 is given by its triangles near object 2 only
    // (every one of its triangles that meets the box [lo, hi] is there or in `alsoObject1`, and
    // the piece lies inside the box): exact parity of crossings on a segment from the piece's
    // centroid to the centroid of an object 1 triangle inside the box, and the side of that
    // triangle the segment arrives from. 1 inside object 1, 0 outside, -1 when no such
    // triangle gives a segment clear of edges and vertices.
    int insideObject1Near(int32_t piece, const std::array<double, 3>& lo,
                          const std::array<double, 3>& hi,
                          const OtherTriangles& alsoObject1 = {}) const;
    const std::string& error() const;

private:
    struct Impl;
    const SplitJob* deferredJob(int32_t triangle) const;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace korvan::closed
