#include "geometry/mesh_topology.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>

namespace korvan {
namespace {

uint64_t hashKey(const std::array<uint32_t, 3>& k) {
    uint64_t h = k[0] * 0x9E3779B97F4A7C15ull;
    h ^= (h >> 29) ^ (k[1] * 0xC2B2AE3D27D4EB4Full);
    h ^= (h >> 31) ^ (k[2] * 0x165667B19E3779F9ull);
    return h ^ (h >> 32);
}

// Vertex -> triangles in compressed rows; a triangle appears once per distinct corner.
struct Incidence {
    std::vector<int32_t> start;
    std::vector<int32_t> tris;
};

Incidence incidence(const std::vector<std::array<int32_t, 3>>& corners, int32_t vertexCount) {
    Incidence inc;
    inc.start.assign(static_cast<size_t>(vertexCount) + 1, 0);
    for (const auto& c : corners) {
        ++inc.start[c[0] + 1];
        if (c[1] != c[0]) {
            ++inc.start[c[1] + 1];
        }
        if (c[2] != c[0] && c[2] != c[1]) {
            ++inc.start[c[2] + 1];
        }
    }
    for (size_t i = 1; i < inc.start.size(); ++i) {
        inc.start[i] += inc.start[i - 1];
    }
    inc.tris.resize(static_cast<size_t>(inc.start.back()));
    std::vector<int32_t> fill(inc.start.begin(), inc.start.end() - 1);
    for (int32_t t = 0; t < static_cast<int32_t>(corners.size()); ++t) {
        const auto& c = corners[t];
        inc.tris[fill[c[0]]++] = t;
        if (c[1] != c[0]) {
            inc.tris[fill[c[1]]++] = t;
        }
        if (c[2] != c[0] && c[2] != c[1]) {
            inc.tris[fill[c[2]]++] = t;
        }
    }
    return inc;
}

// +0.0f folds -0 into +0.
std::array<uint32_t, 3> positionKey(const Vector4& v) {
    return {std::bit_cast<uint32_t>(v.x + 0.0f), std::bit_cast<uint32_t>(v.y + 0.0f),
            std::bit_cast<uint32_t>(v.z + 0.0f)};
}

// Three compares; std::array's operator== calls memcmp here.
bool sameKey(const std::array<uint32_t, 3>& a, const std::array<uint32_t, 3>& b) {
    return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}

}  // namespace

PositionWeld::PositionWeld(size_t expectedDistinct) {
    // Open addressing over the float bits; ids follow first occurrence, so the numbering never
    // depends on the table's layout. A slot holds its key, so a probe touches one cache line.
    // The table starts at two slots per expected position and doubles whenever it is half full.
    size_t capacity = 16;
    while (capacity < 2 * expectedDistinct) {
        capacity *= 2;
    }
    m_slots.assign(capacity, Slot{{0, 0, 0}, -1});
}

PositionWeld::PositionWeld(const std::vector<Vector4>& vertices, size_t expectedDistinct)
    : PositionWeld(expectedDistinct > 0 ? expectedDistinct : vertices.size() / 2) {
    // Meshes usually repeat each position, so without a guess the table starts at one slot per
    // vertex. The slots of the next vertices are fetched ahead: the table is far larger than the
    // caches.
    ids.resize(vertices.size());
    constexpr size_t kAhead = 8;
    for (size_t i = 0; i < vertices.size(); ++i) {
        if (i + kAhead < vertices.size()) {
            prefetch(vertices[i + kAhead]);
        }
        ids[i] = add(vertices[i]);
    }
}

int32_t PositionWeld::add(const Vector4& v) {
    const std::array<uint32_t, 3> k = positionKey(v);
    size_t mask = m_slots.size() - 1;
    size_t h = hashKey(k) & mask;
    while (m_slots[h].id >= 0 && !sameKey(m_slots[h].key, k)) {
        h = (h + 1) & mask;
    }
    const int32_t vertex = m_added++;
    if (m_slots[h].id >= 0) {
        return m_slots[h].id;
    }
    const int32_t id = distinct();
    m_slots[h] = {k, id};
    firstVertex.push_back(vertex);
    if (2 * firstVertex.size() > m_slots.size()) {
        std::vector<Slot> old(2 * m_slots.size(), Slot{{0, 0, 0}, -1});
        old.swap(m_slots);
        mask = m_slots.size() - 1;
        for (const Slot& s : old) {
            if (s.id >= 0) {
                size_t at = hashKey(s.key) & mask;
                while (m_slots[at].id >= 0) {
                    at = (at + 1) & mask;
                }
                m_slots[at] = s;
            }
        }
    }
    return id;
}

void PositionWeld::prefetch(const Vector4& v) const {
    __builtin_prefetch(&m_slots[hashKey(positionKey(v)) & (m_slots.size() - 1)]);
}

int32_t PositionWeld::find(const Vector4& v) const {
    const std::array<uint32_t, 3> k = positionKey(v);
    const size_t mask = m_slots.size() - 1;
    for (size_t h = hashKey(k) & mask;; h = (h + 1) & mask) {
        const Slot& s = m_slots[h];
        if (s.id < 0 || sameKey(s.key, k)) {
            return s.id;
        }
    }
}

std::vector<int32_t> weldPositions(const std::vector<Vector4>& vertices, int32_t& distinct) {
    // A solid's vertices are mostly welded already: the table is sized for all of them.
    PositionWeld weld(vertices, vertices.size());
    distinct = weld.distinct();
    return std::move(weld.ids);
}

MeshTopology analyzeTopology(const Solid& solid) {
    MeshTopology result;
    int32_t distinct = 0;
    const std::vector<int32_t> id = weldPositions(solid.vertices, distinct);
    std::vector<std::array<int32_t, 3>> corners(solid.triangles.size());
    const auto& v = solid.vertices;
    for (size_t i = 0; i < solid.triangles.size(); ++i) {
        const Triangle& t = solid.triangles[i];
        corners[i] = {id[t.i0], id[t.i1], id[t.i2]};
        const Vector4& p = v[t.i0];
        const Vector4& q = v[t.i1];
        const Vector4& r = v[t.i2];
        // p . (q x r) / 6, the signed volume of the tetrahedron with the origin.
        const double cx = double(q.y) * r.z - double(q.z) * r.y;
        const double cy = double(q.z) * r.x - double(q.x) * r.z;
        const double cz = double(q.x) * r.y - double(q.y) * r.x;
        const double tetrahedron = (p.x * cx + p.y * cy + p.z * cz) / 6.0;
        result.signedVolume += tetrahedron;
        result.absoluteVolume += std::fabs(tetrahedron);
        // Differences of floats are exact in double but for extreme spans, and so is a zero
        // cross product of them.
        const double ux = double(q.x) - p.x, uy = double(q.y) - p.y, uz = double(q.z) - p.z;
        const double vx = double(r.x) - p.x, vy = double(r.y) - p.y, vz = double(r.z) - p.z;
        const bool flat =
            uy * vz - uz * vy == 0 && uz * vx - ux * vz == 0 && ux * vy - uy * vx == 0;
        result.degenerateTriangles += flat ? 1 : 0;
    }
    const MeshTopology edges = edgeTopology(corners, distinct);
    result.weldedVertices = edges.weldedVertices;
    result.openEdges = edges.openEdges;
    result.nonManifoldEdges = edges.nonManifoldEdges;
    result.orientationFlips = edges.orientationFlips;
    return result;
}

MeshTopology edgeTopology(const std::vector<std::array<int32_t, 3>>& corners, int32_t vertexCount) {
    MeshTopology result;
    const int32_t distinct = vertexCount;
    const Incidence inc = incidence(corners, distinct);
    for (int32_t i = 0; i < distinct; ++i) {
        result.weldedVertices += inc.start[i + 1] > inc.start[i] ? 1 : 0;
    }
    // Each undirected edge {a, b} with a < b is counted at a, from the triangles around a:
    // every triangle gives the edge leaving a and the edge entering a.
    struct Use {
        int32_t other;
        int32_t forward;  // 1 for a -> other, 0 for other -> a
        bool operator<(const Use& u) const { return other < u.other; }
    };
    std::vector<Use> local;
    for (int32_t a = 0; a < distinct; ++a) {
        local.clear();
        for (int32_t k = inc.start[a]; k < inc.start[a + 1]; ++k) {
            const auto& c = corners[inc.tris[k]];
            for (int e = 0; e < 3; ++e) {
                const int32_t x = c[e], y = c[(e + 1) % 3];
                if (x == a && y > a) {
                    local.push_back({y, 1});
                } else if (y == a && x > a) {
                    local.push_back({x, 0});
                }
            }
        }
        std::sort(local.begin(), local.end());
        for (size_t i = 0; i < local.size();) {
            size_t j = i;
            int32_t forward = 0;
            while (j < local.size() && local[j].other == local[i].other) {
                forward += local[j].forward;
                ++j;
            }
            const auto count = static_cast<int32_t>(j - i);
            if (count == 1) {
                ++result.openEdges;
            } else {
                if (count > 2) {
                    ++result.nonManifoldEdges;
                }
                if (2 * forward != count) {
                    ++result.orientationFlips;
                }
            }
            i = j;
        }
    }
    return result;
}

}  // namespace korvan
