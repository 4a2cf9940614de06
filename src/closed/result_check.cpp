// Self-crossing of a mesh within a box: a chain of operations checks where a step changed it.

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "closed/box_bits.h"
#include "closed/closed_boolean.h"
#include "closed/passes.h"
#include "closed/self_crossing.h"
#include "geometry/mesh_topology.h"

namespace korvan {

namespace {

using Position = std::array<float, 3>;

// +0.0f folds -0 into +0, as the weld does.
Position positionOf(const Vector4& v) {
    return {v.x + 0.0f, v.y + 0.0f, v.z + 0.0f};
}

// Calls f(a, b, c) with the corners of each triangle of `solid` whose box meets [lo, hi], in
// order.
template <typename F>
void forTrianglesWithin(const Solid& solid, const Vector4& lo, const Vector4& hi, const F& f) {
    for (const int32_t i : closed::trianglesMeetingBox(
             solid.vertices, closed::boundOf(lo), closed::boundOf(hi), solid.triangles.size(),
             [&](size_t i) -> const Triangle& { return solid.triangles[i]; })) {
        const Triangle& t = solid.triangles[static_cast<size_t>(i)];
        f(solid.vertices[static_cast<size_t>(t.i0)], solid.vertices[static_cast<size_t>(t.i1)],
          solid.vertices[static_cast<size_t>(t.i2)]);
    }
}

}  // namespace

int64_t crossingPairsWithin(const Solid& solid, const Vector4& lo, const Vector4& hi,
                            const Solid* before) {
    std::vector<Position> old;
    if (before != nullptr) {
        forTrianglesWithin(*before, lo, hi,
                           [&](const Vector4& a, const Vector4& b, const Vector4& c) {
                               old.push_back(positionOf(a));
                               old.push_back(positionOf(b));
                               old.push_back(positionOf(c));
                           });
        std::sort(old.begin(), old.end());
        old.erase(std::unique(old.begin(), old.end()), old.end());
    }
    const auto isNew = [&](const Vector4& v) {
        return !std::binary_search(old.begin(), old.end(), positionOf(v));
    };
    std::vector<Vector4> corners;
    std::vector<char> fresh;
    forTrianglesWithin(solid, lo, hi, [&](const Vector4& a, const Vector4& b, const Vector4& c) {
        fresh.push_back(before == nullptr || isNew(a) || isNew(b) || isNew(c));
        corners.push_back(a);
        corners.push_back(b);
        corners.push_back(c);
    });
    return closed::crossingPairsOfCorners(corners, INT64_MAX, before != nullptr ? &fresh : nullptr);
}

int64_t closed::crossingPairsOfCorners(const std::vector<Vector4>& corners, int64_t limit,
                                       const std::vector<char>* fresh) {
    if (corners.size() < 6) {
        return 0;
    }
    closed::Welded w;
    // Three corners a triangle: a closed surface repeats each position about six times.
    const PositionWeld weld(corners, corners.size() / 6 + 1);
    w.points.resize(static_cast<size_t>(weld.distinct()));
    for (int32_t k = 0; k < weld.distinct(); ++k) {
        // +0.0f folds -0 into +0, as the weld does.
        const Vector4& v = corners[static_cast<size_t>(weld.firstVertex[static_cast<size_t>(k)])];
        w.points[static_cast<size_t>(k)] = {v.x + 0.0f, v.y + 0.0f, v.z + 0.0f};
    }
    for (size_t i = 0; i + 2 < corners.size(); i += 3) {
        w.tris.push_back({weld.ids[i], weld.ids[i + 1], weld.ids[i + 2]});
    }
    w.firstOther = static_cast<int32_t>(w.tris.size());
    return closed::selfCrossingPairs(w, 0, limit, {}, fresh);
}

}  // namespace korvan
