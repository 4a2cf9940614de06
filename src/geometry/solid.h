// The indexed triangle mesh every subsystem works on.
#pragma once

#include <cstdint>
#include <vector>

#include "geometry/triangle.h"
#include "geometry/vector4.h"

namespace korvan {

// An indexed mesh with its bounding box and the edge limit left by sampling.
//
// The box is set by whoever fills the vertices (reader, generators, Boolean driver) and moved
// by translate(); the operations here never recompute it from the vertices. Vertex positions
// may repeat (sampling creates coincident midpoints); nothing merges them.
//
// `revision` changes whenever the geometry does (every member function that changes vertices,
// triangles or box bumps it; code that writes the arrays directly calls touch()), so a drawing
// layer can keep what it derived from a mesh until the revision moves on.
class Solid {
public:
    std::vector<Triangle> triangles;
    std::vector<Vector4> vertices;
    Vector4 minCorner;
    Vector4 maxCorner;
    Vector4 centre;
    // The box of the file the mesh was read from, in the file's own units and frame, whether or
    // not the reader scaled the mesh into the unit box; zero for meshes not read from a file.
    Vector4 fileMinCorner;
    Vector4 fileMaxCorner;
    int32_t loaded = 0;
    int32_t wireframe = 0;
    uint64_t revision = 0;
    // Longest edge left by sampling; the Boolean engine's distance tolerance. Set only by
    // sampleEdges with a factor strictly between 0 and 1.
    float edgeLimit = 0.0f;
    // The revision at which the mesh was known to bound a solid (0: never); see boundsSolid.
    uint64_t solidRevision = 0;

    Solid() = default;
    // A moved-to solid gets a revision newer than both, so nothing derived from either is reused.
    Solid(Solid&&) noexcept;
    Solid& operator=(Solid&&) noexcept;
    Solid(const Solid&) = delete;
    Solid& operator=(const Solid&) = delete;

    int32_t vertexCount() const { return static_cast<int32_t>(vertices.size()); }
    int32_t triangleCount() const { return static_cast<int32_t>(triangles.size()); }

    // Replaces the arrays with `vertexCount` zero vectors and `triangleCount` default
    // triangles and marks the solid loaded. May throw std::bad_alloc; the solid is then
    // left unchanged.
    void allocate(int32_t vertexCount, int32_t triangleCount);

    // Releases the arrays and resets the box; keeps `wireframe` and `edgeLimit`. Safe on an
    // empty solid.
    void clear();

    // Moves vertices, centroids and box by d (all four components). Normals and labels stay as
    // they are; an octree built before must be rebuilt.
    void translate(const Vector4& d);

    // Centres the box on the origin and scales so that the largest half-extent is 1. A box
    // with zero extent is only shifted. Centroids are not updated. Returns false, changing
    // nothing, when the box is too large or too small for that to stay finite in float.
    [[nodiscard]] bool normalizeToUnitBox();

    // Recomputes every triangle's unit normal and centroid from the current vertices; a
    // degenerate triangle gets the zero normal.
    void computeTriangleData();

    // Sets the box to the bounds of the vertices (all four components); an empty solid gets
    // the zero box. Used where a mesh is assembled from pieces rather than read or generated.
    void computeBoundingBox();

    // Exchanges everything, including `wireframe`, `edgeLimit` and whether each bounds a solid;
    // both get new revisions.
    void swap(Solid& other) noexcept;

    // Becomes a copy of `from`'s mesh: arrays, box, centre, `loaded`, `edgeLimit` and whether
    // it bounds a solid, not `wireframe` (a setting of the view). Gets a new revision.
    void copyMeshFrom(const Solid& from);

    // Records that the geometry changed.
    void touch() { ++revision; }

    // Whether the mesh, as it is now, is known to bound a solid: closed, every triangle facing
    // outward (counterclockwise seen from outside), and no two crossing, so that from outside
    // only triangles facing the eye can be seen. Only the maker of such a mesh says so (the
    // closed engine); any change of the geometry ends it, as it moves the revision.
    bool boundsSolid() const { return solidRevision != 0 && solidRevision == revision; }
    void markBoundsSolid() { solidRevision = revision; }
};

// One triangle's unit normal and centroid from its corners in `vertices`, as
// Solid::computeTriangleData computes them.
void computeTriangleData(Triangle& t, const Vector4* vertices);

// Widens the box [lo, hi] per axis so that it holds p.
inline void includeInBox(Vector4& lo, Vector4& hi, const Vector4& p) {
    if (p.x > hi.x)
        hi.x = p.x;
    if (p.x < lo.x)
        lo.x = p.x;
    if (p.y > hi.y)
        hi.y = p.y;
    if (p.y < lo.y)
        lo.y = p.y;
    if (p.z > hi.z)
        hi.z = p.z;
    if (p.z < lo.z)
        lo.z = p.z;
}

// The box of `points`, which must not be empty.
void boxOfPoints(const std::vector<Vector4>& points, Vector4& lo, Vector4& hi);

}  // namespace korvan
