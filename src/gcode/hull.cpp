#include "gcode/hull.h"

#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/convex_hull_3.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <tuple>

namespace korvan::gcode {
namespace {

using Kernel = CGAL::Exact_predicates_inexact_constructions_kernel;
using Point = Kernel::Point_3;

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

using Face = std::array<int32_t, 3>;

// The triangles of a closed convex mesh with every set of edge-joined triangles in one plane
// (a facet, a convex polygon whose corners are extreme points, so no three on a line) replaced
// by the fan from its smallest corner, the turn kept. False where a facet's border is not one
// cycle or a fan triangle would be flat: the faces are then left as they were.
bool fanFlatFacets(const std::vector<Point>& at, std::vector<Face>& faces) {
    // The face of each directed edge, listed by the edge's first corner: a corner has a few.
    std::vector<int32_t> firstEdge(at.size() + 1, 0);
    for (const Face& f : faces) {
        for (const int32_t v : f) {
            ++firstEdge[static_cast<size_t>(v) + 1];
        }
    }
    for (size_t v = 1; v < firstEdge.size(); ++v) {
        firstEdge[v] += firstEdge[v - 1];
    }
    std::vector<std::pair<int32_t, size_t>> edgeTo(3 * faces.size());  // (second corner, face)
    {
        std::vector<int32_t> cursor(firstEdge.begin(), firstEdge.end() - 1);
        for (size_t f = 0; f < faces.size(); ++f) {
            for (int k = 0; k < 3; ++k) {
                edgeTo[static_cast<size_t>(cursor[static_cast<size_t>(faces[f][k])]++)] = {
                    faces[f][(k + 1) % 3], f};
            }
        }
    }
    const auto faceOf = [&](int32_t a, int32_t b) -> std::optional<size_t> {
        for (int32_t e = firstEdge[static_cast<size_t>(a)];
             e < firstEdge[static_cast<size_t>(a) + 1]; ++e) {
            if (edgeTo[static_cast<size_t>(e)].first == b) {
                return edgeTo[static_cast<size_t>(e)].second;
            }
        }
        return std::nullopt;
    };
    std::vector<size_t> facet(faces.size(), SIZE_MAX);
    std::vector<Face> out;
    out.reserve(faces.size());
    for (size_t seed = 0; seed < faces.size(); ++seed) {
        if (facet[seed] != SIZE_MAX) {
            continue;
        }
        // The facet: triangles joined across edges to ones in the plane of `seed`.
        std::vector<size_t> members{seed};
        facet[seed] = seed;
        const Face& s = faces[seed];
        for (size_t i = 0; i < members.size(); ++i) {
            const Face& f = faces[members[i]];
            for (int k = 0; k < 3; ++k) {
                const std::optional<size_t> across = faceOf(f[(k + 1) % 3], f[k]);
                if (!across) {
                    return false;
                }
                const size_t g = *across;
                if (facet[g] != SIZE_MAX) {
                    continue;
                }
                const Face& n = faces[g];
                bool flat = true;
                for (const int32_t v : n) {
                    flat = flat && CGAL::coplanar(
                                       at[static_cast<size_t>(s[0])], at[static_cast<size_t>(s[1])],
                                       at[static_cast<size_t>(s[2])], at[static_cast<size_t>(v)]);
                }
                if (flat) {
                    facet[g] = seed;
                    members.push_back(g);
                }
            }
        }
        if (members.size() == 1) {
            out.push_back(s);
            continue;
        }
        // The border: edges whose reverse is no edge of the facet, one leaving each corner.
        std::map<int32_t, int32_t> next;
        for (const size_t m : members) {
            const Face& f = faces[m];
            for (int k = 0; k < 3; ++k) {
                if (facet[*faceOf(f[(k + 1) % 3], f[k])] != seed &&
                    !next.emplace(f[k], f[(k + 1) % 3]).second) {
                    return false;
                }
            }
        }
        const int32_t first = next.begin()->first;  // the smallest corner
        std::vector<int32_t> ring{first};
        for (int32_t v = next[first]; v != first; v = next[v]) {
            if (ring.size() > next.size()) {
                return false;
            }
            ring.push_back(v);
        }
        if (ring.size() != next.size() || ring.size() != members.size() + 2) {
            return false;
        }
        for (size_t i = 1; i + 1 < ring.size(); ++i) {
            if (CGAL::collinear(at[static_cast<size_t>(ring[0])], at[static_cast<size_t>(ring[i])],
                                at[static_cast<size_t>(ring[i + 1])])) {
                return false;
            }
            out.push_back({ring[0], ring[i], ring[i + 1]});
        }
    }
    faces = std::move(out);
    return true;
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
    // Straight into indexed triangles, with the exact plane tests of the hull's own traits: no
    // half-edge mesh is built and copied. (The public overload for indexed output takes the
    // kernel's inexact planes.)
    std::vector<Point> corners;
    std::vector<std::array<size_t, 3>> hullFaces;
    CGAL::Convex_hull_3::internal::Indexed_triangle_set indexed(corners, hullFaces);
    CGAL::convex_hull_3(in.begin(), in.end(), indexed,
                        CGAL::Convex_hull_traits_3<Kernel, CGAL::Default, CGAL::Tag_true>());

    // Vertices by position; the hull's points are the input doubles, so each is a float.
    std::vector<std::pair<Vector4, int32_t>> sorted;
    sorted.reserve(corners.size());
    for (size_t v = 0; v < corners.size(); ++v) {
        const Point& p = corners[v];
        sorted.emplace_back(Vector4(static_cast<float>(p.x()), static_cast<float>(p.y()),
                                    static_cast<float>(p.z())),
                            static_cast<int32_t>(v));
    }
    std::sort(sorted.begin(), sorted.end(),
              [](const auto& a, const auto& b) { return lessByPosition(a.first, b.first); });
    std::vector<int32_t> rank(corners.size());
    for (size_t i = 0; i < sorted.size(); ++i) {
        rank[static_cast<size_t>(sorted[i].second)] = static_cast<int32_t>(i);
    }
    // Faces with their smallest corner first (keeping the turn), then in order.
    std::vector<std::array<int32_t, 3>> faces;
    faces.reserve(hullFaces.size());
    for (const std::array<size_t, 3>& f : hullFaces) {
        std::array<int32_t, 3> c{rank[f[0]], rank[f[1]], rank[f[2]]};
        std::rotate(c.begin(), std::min_element(c.begin(), c.end()), c.end());
        faces.push_back(c);
    }
    // convex_hull_3 cuts a flat facet of more than three corners (the flat end of a tool, a
    // rectangle along a straight move) into triangles in an order that changes from call to
    // call; each such facet is cut again as a fan from its first corner, so that one tool and
    // one move always give one mesh.
    std::vector<Point> at;
    at.reserve(sorted.size());
    for (const auto& [position, v] : sorted) {
        at.emplace_back(position.x, position.y, position.z);
    }
    (void)fanFlatFacets(at, faces);
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
