#include "geometry/mesh_topology.h"

#include <algorithm>
#include <array>
#include <numeric>
#include <vector>

namespace korvan {
namespace {

// Id per vertex such that equal positions share one id; ids follow sorted position order.
std::vector<int32_t> weldIds(const Solid& solid, int64_t& distinct) {
    const size_t n = solid.vertices.size();
    std::vector<std::array<float, 3>> key(n);
    for (size_t i = 0; i < n; ++i) {
        const Vector4& v = solid.vertices[i];
        // +0.0f folds -0 into +0 so that the two compare equal as keys.
        key[i] = {v.x + 0.0f, v.y + 0.0f, v.z + 0.0f};
    }
    std::vector<int32_t> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(),
              [&](int32_t a, int32_t b) { return key[a] < key[b] || (key[a] == key[b] && a < b); });
    std::vector<int32_t> id(n);
    int32_t next = -1;
    for (size_t k = 0; k < n; ++k) {
        if (k == 0 || key[order[k]] != key[order[k - 1]]) {
            ++next;
        }
        id[order[k]] = next;
    }
    distinct = next + 1;
    return id;
}

}  // namespace

MeshTopology analyzeTopology(const Solid& solid) {
    MeshTopology result;
    int64_t distinct = 0;
    const std::vector<int32_t> id = weldIds(solid, distinct);

    // Each directed edge as (low, high, forward) so that both directions sort together.
    struct Use {
        int32_t lo, hi;
        bool forward;
        bool operator<(const Use& o) const {
            return lo != o.lo ? lo < o.lo : hi != o.hi ? hi < o.hi : forward < o.forward;
        }
    };
    std::vector<Use> uses;
    uses.reserve(solid.triangles.size() * 3);
    std::vector<char> used(static_cast<size_t>(distinct), 0);
    const auto& v = solid.vertices;
    for (const Triangle& t : solid.triangles) {
        const int32_t c[3] = {id[t.i0], id[t.i1], id[t.i2]};
        const Vector4& p = v[t.i0];
        const Vector4& q = v[t.i1];
        const Vector4& r = v[t.i2];
        // p . (q x r) / 6, the signed volume of the tetrahedron with the origin.
        const double cx = double(q.y) * r.z - double(q.z) * r.y;
        const double cy = double(q.z) * r.x - double(q.x) * r.z;
        const double cz = double(q.x) * r.y - double(q.y) * r.x;
        result.signedVolume += (p.x * cx + p.y * cy + p.z * cz) / 6.0;
        for (int e = 0; e < 3; ++e) {
            used[c[e]] = 1;
            const int32_t a = c[e];
            const int32_t b = c[(e + 1) % 3];
            if (a != b) {
                uses.push_back({std::min(a, b), std::max(a, b), a < b});
            }
        }
    }
    result.weldedVertices = std::count(used.begin(), used.end(), 1);
    std::sort(uses.begin(), uses.end());
    for (size_t i = 0; i < uses.size();) {
        size_t j = i;
        int32_t forward = 0;
        while (j < uses.size() && uses[j].lo == uses[i].lo && uses[j].hi == uses[i].hi) {
            forward += uses[j].forward ? 1 : 0;
            ++j;
        }
        const size_t count = j - i;
        if (count == 1) {
            ++result.openEdges;
            i = j;
            continue;
        }
        if (count > 2) {
            ++result.nonManifoldEdges;
        }
        if (2 * static_cast<size_t>(forward) != count) {
            ++result.orientationFlips;
        }
        i = j;
    }
    return result;
}

}  // namespace korvan
