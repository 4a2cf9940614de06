// The convex hull of random solids, from CGAL; the only test code compiled with CGAL's flags.
#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/Surface_mesh.h>
#include <CGAL/convex_hull_3.h>

#include <algorithm>
#include <array>
#include <map>
#include <tuple>
#include <vector>

#include "support/mesh_checks.h"
#include "support/random_solids.h"

namespace korvan::test {

Solid convexHull(const std::vector<Vector4>& points) {
    using Kernel = CGAL::Exact_predicates_inexact_constructions_kernel;
    using Mesh = CGAL::Surface_mesh<Kernel::Point_3>;
    std::vector<Kernel::Point_3> in;
    for (const Vector4& p : points) {
        in.emplace_back(p.x, p.y, p.z);
    }
    Solid out;
    // Fewer than four points, or all on one plane, span no volume.
    if (in.size() < 4) {
        return out;
    }
    bool spans = false;
    for (size_t i = 3; i < in.size() && !spans; ++i) {
        spans =
            !CGAL::coplanar(in[0], in[1], in[2], in[i]) || !CGAL::collinear(in[0], in[1], in[2]);
    }
    Mesh mesh;
    CGAL::convex_hull_3(in.begin(), in.end(), mesh);
    if (!spans || !CGAL::is_closed(mesh) || mesh.number_of_faces() < 4) {
        return out;
    }
    std::map<Mesh::Vertex_index, int32_t> id;
    std::vector<Vector4> vertices;
    for (const Mesh::Vertex_index v : mesh.vertices()) {
        const Kernel::Point_3& p = mesh.point(v);
        id[v] = static_cast<int32_t>(vertices.size());
        vertices.emplace_back(static_cast<float>(p.x()), static_cast<float>(p.y()),
                              static_cast<float>(p.z()));
    }
    std::vector<std::array<int32_t, 3>> faces;
    for (const Mesh::Face_index f : mesh.faces()) {
        std::array<int32_t, 3> c{};
        int k = 0;
        for (const Mesh::Vertex_index v : CGAL::vertices_around_face(mesh.halfedge(f), mesh)) {
            if (k < 3) {
                c[static_cast<size_t>(k)] = id[v];
            }
            ++k;
        }
        if (k != 3) {
            return out;
        }
        faces.push_back(c);
    }
    // The hull's own order follows CGAL's random state, which earlier hulls have moved on: a
    // seed must give the same mesh whatever ran before, so vertices go by position and faces by
    // corners.
    std::vector<int32_t> order(vertices.size());
    for (size_t i = 0; i < order.size(); ++i) {
        order[i] = static_cast<int32_t>(i);
    }
    std::sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
        const Vector4& p = vertices[static_cast<size_t>(a)];
        const Vector4& q = vertices[static_cast<size_t>(b)];
        return std::tie(p.x, p.y, p.z) < std::tie(q.x, q.y, q.z);
    });
    std::vector<int32_t> rank(vertices.size());
    std::vector<Vector4> sorted;
    for (size_t i = 0; i < order.size(); ++i) {
        rank[static_cast<size_t>(order[i])] = static_cast<int32_t>(i);
        sorted.push_back(vertices[static_cast<size_t>(order[i])]);
    }
    vertices = sorted;
    for (std::array<int32_t, 3>& c : faces) {
        for (int32_t& v : c) {
            v = rank[static_cast<size_t>(v)];
        }
        std::rotate(c.begin(), std::min_element(c.begin(), c.end()), c.end());
    }
    std::sort(faces.begin(), faces.end());
    std::vector<int32_t> corners;
    for (const std::array<int32_t, 3>& f : faces) {
        corners.insert(corners.end(), f.begin(), f.end());
    }
    out = makeSolid(vertices, corners);
    out.computeTriangleData();
    return out;
}

}  // namespace korvan::test
