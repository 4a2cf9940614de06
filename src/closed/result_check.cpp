// Self-crossing of a mesh within a box: a chain of operations checks where a step changed it.
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <array>
#include <vector>

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
// order. The box tests run in parallel: a milled part is large and the box small.
template <typename F>
void forTrianglesWithin(const Solid& solid, const Vector4& lo, const Vector4& hi, const F& f) {
    const auto corner = [&](int32_t v) -> const Vector4& {
        return solid.vertices[static_cast<size_t>(v)];
    };
    std::vector<char> within(solid.triangles.size());
    tbb::parallel_for(
        tbb::blocked_range<size_t>(0, within.size(), 8192),
        [&](const tbb::blocked_range<size_t>& r) {
            for (size_t i = r.begin(); i < r.end(); ++i) {
                const Triangle& t = solid.triangles[i];
                const Vector4 &a = corner(t.i0), &b = corner(t.i1), &c = corner(t.i2);
                within[i] =
                    !(std::max({a.x, b.x, c.x}) < lo.x || std::min({a.x, b.x, c.x}) > hi.x ||
                      std::max({a.y, b.y, c.y}) < lo.y || std::min({a.y, b.y, c.y}) > hi.y ||
                      std::max({a.z, b.z, c.z}) < lo.z || std::min({a.z, b.z, c.z}) > hi.z);
            }
        });
    for (size_t i = 0; i < within.size(); ++i) {
        if (within[i] != 0) {
            const Triangle& t = solid.triangles[i];
            f(corner(t.i0), corner(t.i1), corner(t.i2));
        }
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
    closed::Welded w;
    std::vector<Vector4> corners;
    std::vector<char> fresh;
    forTrianglesWithin(solid, lo, hi, [&](const Vector4& a, const Vector4& b, const Vector4& c) {
        fresh.push_back(before == nullptr || isNew(a) || isNew(b) || isNew(c));
        const auto first = static_cast<int32_t>(corners.size());
        corners.push_back(a);
        corners.push_back(b);
        corners.push_back(c);
        w.tris.push_back({first, first + 1, first + 2});
    });
    if (w.tris.size() < 2) {
        return 0;
    }
    const PositionWeld weld(corners);
    w.points.resize(static_cast<size_t>(weld.distinct()));
    for (int32_t k = 0; k < weld.distinct(); ++k) {
        // +0.0f folds -0 into +0, as the weld does.
        const Vector4& v = corners[static_cast<size_t>(weld.firstVertex[static_cast<size_t>(k)])];
        w.points[static_cast<size_t>(k)] = {v.x + 0.0f, v.y + 0.0f, v.z + 0.0f};
    }
    for (closed::Corners& c : w.tris) {
        for (int32_t& v : c) {
            v = weld.ids[static_cast<size_t>(v)];
        }
    }
    w.firstOther = static_cast<int32_t>(w.tris.size());
    return closed::selfCrossingPairs(w, 0, INT64_MAX, {}, before != nullptr ? &fresh : nullptr);
}

}  // namespace korvan
