// Flat faces of a milled part triangulated again from their outlines, so that the floor a tool
// runs along does not keep every seam of the passes before it.
#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <vector>

#include "closed/box_bits.h"
#include "closed/closed_boolean.h"
#include "closed/passes.h"

namespace korvan {
namespace {

using closed::Corners;

float coordinate(const Vector4& p, int k) {
    return k == 0 ? p.x : k == 1 ? p.y : p.z;
}

// A coordinate plane and the side its triangles face.
struct Plane {
    int axis = -1;
    float value = 0.0f;
    bool up = false;
    auto operator<=>(const Plane&) const = default;
};

// The plane of a triangle whose corners agree in one coordinate, where the sign of its area
// there is certain; false otherwise (a triangle off every coordinate plane, or flat).
bool planeOf(const Solid& s, const Triangle& t, Plane& plane) {
    const Vector4& a = s.vertices[static_cast<size_t>(t.i0)];
    const Vector4& b = s.vertices[static_cast<size_t>(t.i1)];
    const Vector4& c = s.vertices[static_cast<size_t>(t.i2)];
    for (int k = 0; k < 3; ++k) {
        const float v = coordinate(a, k);
        if (coordinate(b, k) != v || coordinate(c, k) != v) {
            continue;
        }
        // Cyclic axes (k + 1, k + 2): a positive area faces +k. Doubles with the rounding
        // error bound of the orientation test, so that the sign taken is the exact one.
        const int i = (k + 1) % 3, j = (k + 2) % 3;
        const double left = (double{coordinate(b, i)} - coordinate(a, i)) *
                            (double{coordinate(c, j)} - coordinate(a, j));
        const double right = (double{coordinate(b, j)} - coordinate(a, j)) *
                             (double{coordinate(c, i)} - coordinate(a, i));
        const double det = left - right;
        constexpr double kBound = (3.0 + 16.0 * 0x1p-53) * 0x1p-53;
        if (!(std::abs(det) > kBound * (std::abs(left) + std::abs(right)))) {
            return false;
        }
        plane = Plane{k, v + 0.0f, det > 0};
        return true;
    }
    return false;
}

int32_t findRoot(std::vector<int32_t>& parent, int32_t x) {
    while (parent[static_cast<size_t>(x)] != x) {
        parent[static_cast<size_t>(x)] =
            parent[static_cast<size_t>(parent[static_cast<size_t>(x)])];
        x = parent[static_cast<size_t>(x)];
    }
    return x;
}

}  // namespace

int64_t mergeFlatFaces(Solid& solid, const Vector4& lo, const Vector4& hi) {
    const auto triangleCount = static_cast<int32_t>(solid.triangles.size());
    // The planes of the flat triangles in the box; then every triangle on those planes.
    const std::vector<uint8_t> beyond = closed::beyondBitsOf(solid.vertices, lo, hi);
    const auto boxMeets = [&](const Triangle& t) {
        return closed::meetsBox(beyond, t.i0, t.i1, t.i2);
    };
    std::vector<Plane> planes;
    Plane plane;
    for (const int32_t t : closed::indicesWhere(
             solid.triangles.size(), [&](size_t t) { return boxMeets(solid.triangles[t]); })) {
        if (planeOf(solid, solid.triangles[static_cast<size_t>(t)], plane)) {
            planes.push_back(plane);
        }
    }
    if (planes.empty()) {
        return 0;
    }
    std::sort(planes.begin(), planes.end());
    planes.erase(std::unique(planes.begin(), planes.end()), planes.end());
    // The index of the plane triangle t lies on, or -1.
    const auto planeAt = [&](size_t t) {
        Plane on;
        if (!planeOf(solid, solid.triangles[t], on)) {
            return -1;
        }
        const auto it = std::lower_bound(planes.begin(), planes.end(), on);
        return it != planes.end() && *it == on ? static_cast<int32_t>(it - planes.begin()) : -1;
    };
    // Triangles on those planes, ascending, and the plane of each.
    const std::vector<int32_t> members = closed::indicesWhere(
        static_cast<size_t>(triangleCount), [&](size_t t) { return planeAt(t) >= 0; });
    std::vector<int32_t> planeIndex;
    planeIndex.reserve(members.size());
    for (const int32_t t : members) {
        planeIndex.push_back(planeAt(static_cast<size_t>(t)));
    }
    // Faces: members of one plane joined across the edges they share.
    struct Edge {
        int32_t lo, hi, plane, member;
        auto operator<=>(const Edge&) const = default;
    };
    std::vector<Edge> edges;
    edges.reserve(3 * members.size());
    for (size_t m = 0; m < members.size(); ++m) {
        const Triangle& t = solid.triangles[static_cast<size_t>(members[m])];
        const int32_t v[3] = {t.i0, t.i1, t.i2};
        for (int e = 0; e < 3; ++e) {
            edges.push_back(Edge{std::min(v[e], v[(e + 1) % 3]), std::max(v[e], v[(e + 1) % 3]),
                                 planeIndex[m], static_cast<int32_t>(m)});
        }
    }
    std::sort(edges.begin(), edges.end());
    std::vector<int32_t> parent(members.size());
    std::iota(parent.begin(), parent.end(), 0);
    for (size_t e = 1; e < edges.size(); ++e) {
        const Edge& a = edges[e - 1];
        const Edge& b = edges[e];
        if (a.lo == b.lo && a.hi == b.hi && a.plane == b.plane) {
            const int32_t x = findRoot(parent, a.member), y = findRoot(parent, b.member);
            parent[static_cast<size_t>(std::max(x, y))] = std::min(x, y);
        }
    }
    // Each face by its first member, with its members in order; only faces in the box.
    std::vector<char> inBox(members.size(), 0);
    for (size_t m = 0; m < members.size(); ++m) {
        if (boxMeets(solid.triangles[static_cast<size_t>(members[m])])) {
            inBox[static_cast<size_t>(findRoot(parent, static_cast<int32_t>(m)))] = 1;
        }
    }
    std::vector<std::vector<int32_t>> faces;
    std::vector<int32_t> faceOf(members.size(), -1);
    for (size_t m = 0; m < members.size(); ++m) {
        const auto root = static_cast<size_t>(findRoot(parent, static_cast<int32_t>(m)));
        if (!inBox[root]) {
            continue;
        }
        if (faceOf[root] < 0) {
            faceOf[root] = static_cast<int32_t>(faces.size());
            faces.emplace_back();
        }
        faces[static_cast<size_t>(faceOf[root])].push_back(static_cast<int32_t>(m));
    }

    // Uses of each vertex by all triangles; a corner all of whose uses are its face's own lies
    // inside the face and can go.
    std::vector<int32_t> uses(solid.vertices.size(), 0);
    for (const Triangle& t : solid.triangles) {
        ++uses[static_cast<size_t>(t.i0)];
        ++uses[static_cast<size_t>(t.i1)];
        ++uses[static_cast<size_t>(t.i2)];
    }
    std::vector<int32_t> faceUses(solid.vertices.size(), 0);
    std::vector<char> dropTriangle(solid.triangles.size(), 0);
    std::vector<std::array<int32_t, 3>> added;
    std::vector<Vector4> newVertices;  // lattice points, after the solid's own
    int64_t merged = 0;
    for (const std::vector<int32_t>& face : faces) {
        // The face with its own numbering of corners, for the triangulation.
        std::vector<int32_t> vertexOf;
        std::vector<Corners> local;
        for (const int32_t m : face) {
            const Triangle& t =
                solid.triangles[static_cast<size_t>(members[static_cast<size_t>(m)])];
            for (const int32_t v : {t.i0, t.i1, t.i2}) {
                if (faceUses[static_cast<size_t>(v)]++ == 0) {
                    vertexOf.push_back(v);
                }
            }
        }
        std::sort(vertexOf.begin(), vertexOf.end());
        std::vector<char> keep(vertexOf.size(), 1);
        bool inner = false;
        for (size_t k = 0; k < vertexOf.size(); ++k) {
            const auto v = static_cast<size_t>(vertexOf[k]);
            keep[k] = faceUses[v] < uses[v];
            inner = inner || !keep[k];
            faceUses[v] = 0;
        }
        const auto localOf = [&](int32_t v) {
            return static_cast<int32_t>(std::lower_bound(vertexOf.begin(), vertexOf.end(), v) -
                                        vertexOf.begin());
        };
        std::vector<int32_t> region;
        for (const int32_t m : face) {
            const Triangle& t =
                solid.triangles[static_cast<size_t>(members[static_cast<size_t>(m)])];
            region.push_back(static_cast<int32_t>(local.size()));
            local.push_back(Corners{localOf(t.i0), localOf(t.i1), localOf(t.i2)});
        }
        std::vector<closed::Point3> points;
        points.reserve(vertexOf.size());
        for (const int32_t v : vertexOf) {
            const Vector4& p = solid.vertices[static_cast<size_t>(v)];
            points.push_back({p.x, p.y, p.z});
        }
        const Plane& facePlane =
            planes[static_cast<size_t>(planeIndex[static_cast<size_t>(face[0])])];
        // Lattice points a sixteenth of the face's extent apart (a power of two, so that they
        // are floats exactly) keep its triangles short.
        double extent = 0;
        for (int k = 0; k < 3; ++k) {
            if (k == facePlane.axis) {
                continue;
            }
            const auto [lo, hi] =
                std::minmax_element(points.begin(), points.end(),
                                    [k](const closed::Point3& a, const closed::Point3& b) {
                                        return closed::coordinate(a, k) < closed::coordinate(b, k);
                                    });
            extent = std::max(extent, closed::coordinate(*hi, k) - closed::coordinate(*lo, k));
        }
        const double spacing = extent > 0 ? std::exp2(std::ceil(std::log2(extent / 16))) : 0.0;
        // A face with nothing inside but lattice points is as lean as it gets.
        const auto onLattice = [&](const closed::Point3& p) {
            bool on = spacing > 0;
            for (int k = 0; k < 3; ++k) {
                const double q = closed::coordinate(p, k) / spacing;
                on = on && (k == facePlane.axis || q == std::floor(q));
            }
            return on;
        };
        bool seamInside = false;
        for (size_t k = 0; k < vertexOf.size(); ++k) {
            seamInside = seamInside || (!keep[k] && !onLattice(points[k]));
        }
        if (inner && !seamInside) {
            continue;
        }
        std::vector<Corners> fresh;
        std::vector<closed::Point3> lattice;
        if (!closed::triangulateOutline(
                local, region, points, facePlane.axis, facePlane.up,
                [&](int32_t v) { return keep[static_cast<size_t>(v)] != 0; }, fresh, spacing,
                &lattice)) {
            continue;
        }
        const auto base = static_cast<int32_t>(vertexOf.size());
        const bool latticeUsed = std::any_of(fresh.begin(), fresh.end(), [base](const Corners& c) {
            return c[0] >= base || c[1] >= base || c[2] >= base;
        });
        if (!inner && !latticeUsed) {
            continue;  // nothing to drop or add: the face is as lean as its outline allows
        }
        const auto firstLattice = static_cast<int32_t>(solid.vertices.size() + newVertices.size());
        for (const closed::Point3& p : lattice) {
            newVertices.emplace_back(static_cast<float>(p.x), static_cast<float>(p.y),
                                     static_cast<float>(p.z));
        }
        const auto vertexAt = [&](int32_t c) {
            return c < base ? vertexOf[static_cast<size_t>(c)] : firstLattice + (c - base);
        };
        for (const int32_t m : face) {
            dropTriangle[static_cast<size_t>(members[static_cast<size_t>(m)])] = 1;
        }
        for (const Corners& c : fresh) {
            added.push_back({vertexAt(c[0]), vertexAt(c[1]), vertexAt(c[2])});
        }
        ++merged;
    }
    if (merged == 0) {
        return 0;
    }

    // The triangles kept, then the new ones; vertices numbered by first use.
    std::vector<Triangle> triangles;
    triangles.reserve(solid.triangles.size() -
                      static_cast<size_t>(std::count(dropTriangle.begin(), dropTriangle.end(), 1)) +
                      added.size());
    for (size_t t = 0; t < solid.triangles.size(); ++t) {
        if (!dropTriangle[t]) {
            triangles.push_back(solid.triangles[t]);
        }
    }
    const size_t firstAdded = triangles.size();
    for (const auto& c : added) {
        Triangle t;
        t.setIndices(c[0], c[1], c[2]);
        triangles.push_back(t);
    }
    solid.vertices.insert(solid.vertices.end(), newVertices.begin(), newVertices.end());
    std::vector<int32_t> renumbered(solid.vertices.size(), -1);
    std::vector<Vector4> vertices;
    vertices.reserve(solid.vertices.size());
    for (Triangle& t : triangles) {
        for (int32_t* v : {&t.i0, &t.i1, &t.i2}) {
            int32_t& to = renumbered[static_cast<size_t>(*v)];
            if (to < 0) {
                to = static_cast<int32_t>(vertices.size());
                vertices.push_back(solid.vertices[static_cast<size_t>(*v)]);
            }
            *v = to;
        }
    }
    solid.triangles = std::move(triangles);
    solid.vertices = std::move(vertices);
    for (size_t t = firstAdded; t < solid.triangles.size(); ++t) {
        computeTriangleData(solid.triangles[t], solid.vertices.data());
    }
    solid.computeBoundingBox();
    solid.touch();
    return merged;
}

}  // namespace korvan
