#include "geometry/mesh_topology.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_reduce.h>

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
    constexpr size_t kAhead = 16;
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
    MeshTopology result = edgeCounts(corners.data(), corners.data() + corners.size(), vertexCount);
    std::vector<char> used(static_cast<size_t>(vertexCount), 0);
    for (const auto& c : corners) {
        used[static_cast<size_t>(c[0])] = used[static_cast<size_t>(c[1])] =
            used[static_cast<size_t>(c[2])] = 1;
    }
    result.weldedVertices = std::count(used.begin(), used.end(), 1);
    return result;
}

MeshTopology edgeCounts(const std::array<int32_t, 3>* begin, const std::array<int32_t, 3>* end,
                        int32_t vertexCount, const std::vector<char>* only) {
    // Every edge x -> y is filed under its lower end as (higher end * 2 + 1 if it leaves the
    // lower end); a row sorted groups the uses of each edge.
    // With `only`, edges away from it are not filed at all.
    const auto filed = [only](int32_t x, int32_t y) {
        return x != y && (only == nullptr || (*only)[x] || (*only)[y]);
    };
    std::vector<int32_t> start(static_cast<size_t>(vertexCount) + 1, 0);
    for (const std::array<int32_t, 3>* c = begin; c != end; ++c) {
        for (int e = 0; e < 3; ++e) {
            const int32_t x = (*c)[e], y = (*c)[(e + 1) % 3];
            if (filed(x, y)) {
                ++start[std::min(x, y) + 1];
            }
        }
    }
    for (size_t i = 1; i < start.size(); ++i) {
        start[i] += start[i - 1];
    }
    // Unsigned: twice any id and one more fits.
    std::vector<uint32_t> row(static_cast<size_t>(start.back()));
    {
        std::vector<int32_t> fill(start.begin(), start.end() - 1);
        for (const std::array<int32_t, 3>* c = begin; c != end; ++c) {
            for (int e = 0; e < 3; ++e) {
                const int32_t x = (*c)[e], y = (*c)[(e + 1) % 3];
                if (filed(x, y)) {
                    row[fill[std::min(x, y)]++] =
                        static_cast<uint32_t>(std::max(x, y)) * 2 + (x < y ? 1 : 0);
                }
            }
        }
    }
    struct Counts {
        int64_t open = 0, nonManifold = 0, flips = 0;
    };
    const Counts total = tbb::parallel_reduce(
        tbb::blocked_range<int32_t>(0, vertexCount, 2048), Counts{},
        [&](const tbb::blocked_range<int32_t>& r, Counts acc) {
            for (int32_t a = r.begin(); a < r.end(); ++a) {
                uint32_t* first = row.data() + start[a];
                uint32_t* last = row.data() + start[a + 1];
                std::sort(first, last);
                for (uint32_t* i = first; i != last;) {
                    uint32_t* j = i;
                    int32_t forward = 0;
                    while (j != last && (*j >> 1) == (*i >> 1)) {
                        forward += static_cast<int32_t>(*j & 1);
                        ++j;
                    }
                    const auto count = static_cast<int32_t>(j - i);
                    if (count == 1) {
                        ++acc.open;
                    } else {
                        acc.nonManifold += count > 2 ? 1 : 0;
                        acc.flips += 2 * forward != count ? 1 : 0;
                    }
                    i = j;
                }
            }
            return acc;
        },
        [](Counts x, const Counts& y) {
            x.open += y.open;
            x.nonManifold += y.nonManifold;
            x.flips += y.flips;
            return x;
        });
    MeshTopology topo;
    topo.openEdges = static_cast<decltype(topo.openEdges)>(total.open);
    topo.nonManifoldEdges = static_cast<decltype(topo.nonManifoldEdges)>(total.nonManifold);
    topo.orientationFlips = static_cast<decltype(topo.orientationFlips)>(total.flips);
    return topo;
}

}  // namespace korvan
