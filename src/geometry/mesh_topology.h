// Closedness, manifoldness and orientation of an indexed mesh, judged on welded vertices.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "geometry/solid.h"

namespace korvan {

struct MeshTopology {
    int64_t weldedVertices = 0;       // distinct positions used by the mesh
    int64_t openEdges = 0;            // undirected edges used by one triangle
    int64_t nonManifoldEdges = 0;     // undirected edges used by more than two triangles
    int64_t orientationFlips = 0;     // edges used more often in one direction than the other
    double signedVolume = 0.0;        // divergence theorem in double; positive for outward normals
    double absoluteVolume = 0.0;      // the same sum of tetrahedra taken without their signs
    int64_t degenerateTriangles = 0;  // triangles of no area: a repeated corner, or in a line
};

// Whether the volume is nothing but rounding: closed surfaces that enclose no space (a flat or
// doubled sheet, triangles all on one point) sum to zero up to errors far below 1e-9 of the
// unsigned sum, which for any solid that floats can hold is at least that fraction of it.
inline bool hasNoVolume(const MeshTopology& t) {
    const double magnitude = t.signedVolume < 0 ? -t.signedVolume : t.signedVolume;
    return !(magnitude > 1e-9 * t.absoluteVolume);
}

// Welds vertices with exactly equal positions (-0 equals +0), then counts edges by use.
// Triangles that collapse to an edge or a point after welding add no edges. A closed,
// consistently oriented, edge-manifold mesh has 0 open, 0 non-manifold edges and 0 flips.
MeshTopology analyzeTopology(const Solid& solid);

// The edge counts of triangles over vertex ids already welded, all below `vertexCount`;
// weldedVertices counts the ids used, signedVolume is left 0.
MeshTopology edgeTopology(const std::vector<std::array<int32_t, 3>>& corners, int32_t vertexCount);

// edgeTopology's edge counts alone (open, more than two triangles, used unevenly each way) for
// the triangles from `begin` to `end`, each vertex's row counted in parallel; sums of counts do
// not depend on the order they are taken in. With `only` (an entry per vertex), edges with
// neither end in it are not counted.
MeshTopology edgeCounts(const std::array<int32_t, 3>* begin, const std::array<int32_t, 3>* end,
                        int32_t vertexCount, const std::vector<char>* only = nullptr);

// One id per distinct position (-0 equals +0), numbered in order of first occurrence;
// `distinct` receives the number of ids.
std::vector<int32_t> weldPositions(const std::vector<Vector4>& vertices, int32_t& distinct);

// weldPositions' numbering, with the table kept so that other positions can be looked up.
// `expectedDistinct` (where not 0) sizes the table for that many positions rather than one
// per vertex; more are still welded, at the cost of growing the table.
class PositionWeld {
public:
    explicit PositionWeld(const std::vector<Vector4>& vertices, size_t expectedDistinct = 0);
    // An empty weld, sized for `expectedDistinct` positions, that add() fills.
    explicit PositionWeld(size_t expectedDistinct);

    std::vector<int32_t> ids;          // per vertex (of the vertices the weld was made of)
    std::vector<int32_t> firstVertex;  // per id, the vertex where it first occurs

    // The id of the next vertex, whose position is v: a new id, distinct() - 1 after the call,
    // where no vertex before had v. Vertices are numbered in the order they are added.
    int32_t add(const Vector4& v);
    int32_t distinct() const { return static_cast<int32_t>(firstVertex.size()); }
    // The id of this position, or -1 where no vertex has it.
    int32_t find(const Vector4& v) const;
    // Starts loading the slot where find(v) looks first; a loop of lookups calls it a few
    // positions ahead.
    void prefetch(const Vector4& v) const;

private:
    struct Slot {
        std::array<uint32_t, 3> key;
        int32_t id;
    };
    std::vector<Slot> m_slots;
    int32_t m_added = 0;
};

}  // namespace korvan
