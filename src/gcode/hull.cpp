#include "gcode/hull.h"

#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/Surface_mesh.h>
#include <CGAL/convex_hull_3.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <tuple>

namespace korvan::gcode {
namespace {

using Kernel = CGAL::Exact_predicates_inexact_constructions_kernel;
using Point = Kernel::Point_3;
using Mesh = CGAL::Surface_mesh<Point>;

// Whether the points hold four that are not on one plane; decided exactly.
bool spansVolume(const std::vector<Point>& p) {
    size_t i = 1;
    while (i < p.size() && p[i] == p[0]) {
        ++i;
    }
    size_t j = i + 1;
    while (j < p.size() && CGAL::collinear(p[0], p[i], p[j])) {
        ++j;
    }
    size_t k = j + 1;
    while (k < p.size() && CGAL::coplanar(p[0], p[i], p[j], p[k])) {
        ++k;
    }
    return k < p.size();
}

bool lessByPosition(const Vector4& a, const Vector4& b) {
    return std::tie(a.x, a.y, a.z) < std::tie(b.x, b.y, b.z);
}

}  // namespace

bool convexHullOf(const std::vector<Vector4>& points, Solid& out) {
    std::vector<Point> in;
    in.reserve(points.size());
    for (const Vector4& p : points) {
        in.emplace_back(p.x, p.y, p.z);
    }
    if (!spansVolume(in)) {
        return false;
    }
    Mesh mesh;
    CGAL::convex_hull_3(in.begin(), in.end(), mesh);

    // Vertices by position; the hull's points are the input doubles, so each is a float.
    std::vector<std::pair<Vector4, Mesh::Vertex_index>> sorted;
    sorted.reserve(mesh.number_of_vertices());
    for (const Mesh::Vertex_index v : mesh.vertices()) {
        const Point& p = mesh.point(v);
        sorted.emplace_back(Vector4(static_cast<float>(p.x()), static_cast<float>(p.y()),
                                    static_cast<float>(p.z())),
                            v);
    }
    std::sort(sorted.begin(), sorted.end(),
              [](const auto& a, const auto& b) { return lessByPosition(a.first, b.first); });
    std::vector<int32_t> rank(mesh.number_of_vertices());
    for (size_t i = 0; i < sorted.size(); ++i) {
        rank[static_cast<size_t>(sorted[i].second)] = static_cast<int32_t>(i);
    }
    // Faces with their smallest corner first (keeping the turn), then in order.
    std::vector<std::array<int32_t, 3>> faces;
    faces.reserve(mesh.number_of_faces());
    for (const Mesh::Face_index f : mesh.faces()) {
        std::array<int32_t, 3> c{};
        size_t k = 0;
        for (const Mesh::Vertex_index v : CGAL::vertices_around_face(mesh.halfedge(f), mesh)) {
            if (k < 3) {
                c[k] = rank[static_cast<size_t>(v)];
            }
            ++k;
        }
        if (k != 3) {
            return false;  // convex_hull_3 gives triangles only
        }
        std::rotate(c.begin(), std::min_element(c.begin(), c.end()), c.end());
        faces.push_back(c);
    }
    std::sort(faces.begin(), faces.end());

    Solid hull;
    hull.vertices.reserve(sorted.size());
    for (const auto& [position, v] : sorted) {
        hull.vertices.push_back(position);
    }
    hull.triangles.resize(faces.size());
    for (size_t i = 0; i < faces.size(); ++i) {
        hull.triangles[i].setIndices(faces[i][0], faces[i][1], faces[i][2]);
    }
    hull.loaded = 1;
    hull.computeTriangleData();
    hull.computeBoundingBox();
    hull.wireframe = out.wireframe;
    out = std::move(hull);
    return true;
}

}  // namespace korvan::gcode
