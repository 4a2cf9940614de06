// Checks shared by the tool, sweep and arc tests.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "gcode/program.h"
#include "geometry/solid.h"

namespace korvan::gcode::checks {

// The largest distance by which a point lies outside the plane of a triangle of `mesh` (the side
// its normal points to); 0 or less when every point is on or behind every face plane. Planes from
// the float corners in double.
inline double largestExcess(const Solid& mesh, const std::vector<Vector4>& points) {
    double worst = -INFINITY;
    for (const Triangle& t : mesh.triangles) {
        const Vector4& a = mesh.vertices[static_cast<size_t>(t.i0)];
        const Vector4& b = mesh.vertices[static_cast<size_t>(t.i1)];
        const Vector4& c = mesh.vertices[static_cast<size_t>(t.i2)];
        const double u[3] = {double(b.x) - a.x, double(b.y) - a.y, double(b.z) - a.z};
        const double v[3] = {double(c.x) - a.x, double(c.y) - a.y, double(c.z) - a.z};
        const double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                             u[0] * v[1] - u[1] * v[0]};
        const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        if (length == 0) {
            continue;
        }
        for (const Vector4& p : points) {
            const double d = (n[0] * (double(p.x) - a.x) + n[1] * (double(p.y) - a.y) +
                              n[2] * (double(p.z) - a.z)) /
                             length;
            worst = std::max(worst, d);
        }
    }
    return worst;
}

// Distance from p to the segment from a to b.
inline double distanceToSegment(const Position& p, const Position& a, const Position& b) {
    const double d[3] = {b.x - a.x, b.y - a.y, b.z - a.z};
    const double w[3] = {p.x - a.x, p.y - a.y, p.z - a.z};
    const double dd = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
    const double t =
        dd > 0 ? std::clamp((w[0] * d[0] + w[1] * d[1] + w[2] * d[2]) / dd, 0.0, 1.0) : 0.0;
    return std::hypot(w[0] - t * d[0], w[1] - t * d[1], w[2] - t * d[2]);
}

// The largest absolute coordinate of the mesh: the scale of its rounding.
inline double scaleOf(const Solid& mesh) {
    double s = 0;
    for (const Vector4& v : mesh.vertices) {
        s = std::max({s, std::fabs(double(v.x)), std::fabs(double(v.y)), std::fabs(double(v.z))});
    }
    return s;
}

}  // namespace korvan::gcode::checks
