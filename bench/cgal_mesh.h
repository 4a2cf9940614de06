// Korvan's solids as CGAL surface meshes, for the benchmarks that compare with CGAL's
// corefinement Boolean.
#pragma once

#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/Surface_mesh.h>

#include <map>
#include <tuple>
#include <vector>

#include "geometry/solid.h"

namespace korvan {

using CgalKernel = CGAL::Exact_predicates_inexact_constructions_kernel;
using CgalMesh = CGAL::Surface_mesh<CgalKernel::Point_3>;

// `s` with equal positions welded (-0 and 0 are one): sampling leaves coincident midpoints
// unshared, and CGAL needs them shared. Faces that CGAL refuses (they would make the mesh
// non-manifold) are left out and counted in `refused`.
inline CgalMesh toCgalMesh(const Solid& s, int& refused) {
    CgalMesh mesh;
    std::map<std::tuple<float, float, float>, CgalMesh::Vertex_index> ids;
    std::vector<CgalMesh::Vertex_index> idOf(s.vertices.size());
    for (size_t i = 0; i < s.vertices.size(); ++i) {
        const Vector4& v = s.vertices[i];
        const auto key = std::make_tuple(v.x + 0.0f, v.y + 0.0f, v.z + 0.0f);
        auto it = ids.find(key);
        if (it == ids.end()) {
            it = ids.emplace(key, mesh.add_vertex(CgalKernel::Point_3(v.x, v.y, v.z))).first;
        }
        idOf[i] = it->second;
    }
    for (const Triangle& t : s.triangles) {
        if (mesh.add_face(idOf[t.i0], idOf[t.i1], idOf[t.i2]) == CgalMesh::null_face()) {
            ++refused;
        }
    }
    return mesh;
}

}  // namespace korvan
