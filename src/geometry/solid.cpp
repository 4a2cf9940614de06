#include "geometry/solid.h"

#include <cmath>
#include <cstddef>
#include <utility>

#include "geometry/memory_budget.h"

namespace korvan {

namespace {

uint64_t newerRevision(uint64_t a, uint64_t b) {
    return (a > b ? a : b) + 1;
}

}  // namespace

Solid::Solid(Solid&& other) noexcept
    : triangles(std::move(other.triangles)),
      vertices(std::move(other.vertices)),
      minCorner(other.minCorner),
      maxCorner(other.maxCorner),
      centre(other.centre),
      fileMinCorner(other.fileMinCorner),
      fileMaxCorner(other.fileMaxCorner),
      loaded(other.loaded),
      wireframe(other.wireframe),
      revision(other.revision + 1),
      edgeLimit(other.edgeLimit),
      solidRevision(other.boundsSolid() ? revision : 0) {
    other.touch();
}

Solid& Solid::operator=(Solid&& other) noexcept {
    const uint64_t next = newerRevision(revision, other.revision);
    solidRevision = other.boundsSolid() ? next : 0;
    triangles = std::move(other.triangles);
    vertices = std::move(other.vertices);
    minCorner = other.minCorner;
    maxCorner = other.maxCorner;
    centre = other.centre;
    fileMinCorner = other.fileMinCorner;
    fileMaxCorner = other.fileMaxCorner;
    loaded = other.loaded;
    wireframe = other.wireframe;
    edgeLimit = other.edgeLimit;
    revision = next;
    other.revision = next;
    return *this;
}

void Solid::allocate(int32_t vertexCount, int32_t triangleCount) {
    std::vector<Vector4> newVertices;
    std::vector<Triangle> newTriangles;
    reservePopulated(newVertices, static_cast<size_t>(vertexCount));
    reservePopulated(newTriangles, static_cast<size_t>(triangleCount));
    newVertices.resize(static_cast<size_t>(vertexCount));
    newTriangles.resize(static_cast<size_t>(triangleCount));
    vertices = std::move(newVertices);
    triangles = std::move(newTriangles);
    loaded = 1;
    touch();
}

void Solid::clear() {
    loaded = 0;
    triangles = {};
    vertices = {};
    touch();
    centre = Vector4();
    maxCorner = centre;
    minCorner = maxCorner;
    fileMinCorner = fileMaxCorner = centre;
}

void Solid::translate(const Vector4& d) {
    for (Vector4& v : vertices) {
        v = v + d;
    }
    for (Triangle& t : triangles) {
        t.centroid = t.centroid + d;
    }
    maxCorner = maxCorner + d;
    minCorner = minCorner + d;
    centre = centre + d;
    touch();
}

bool Solid::normalizeToUnitBox() {
    const Vector4 c = (maxCorner + minCorner) / 2.0f;
    float s = maxCorner.x - c.x;
    if (maxCorner.y - c.y > s) {
        s = maxCorner.y - c.y;
    }
    if (maxCorner.z - c.z > s) {
        s = maxCorner.z - c.z;
    }
    // The centre overflows for coordinates near the float range; a subnormal half extent has
    // no finite reciprocal. Either would fill the mesh with inf and nan.
    const bool centred = std::isfinite(c.x) && std::isfinite(c.y) && std::isfinite(c.z);
    const bool scalable =
        s == 0.0f || (std::isfinite(s) && std::isfinite(static_cast<float>(1.0 / s)));
    if (!centred || !scalable) {
        return false;
    }
    centre = c;
    for (Vector4& v : vertices) {
        v = (v - c) / s;
    }
    maxCorner = (maxCorner - c) / s;
    minCorner = (minCorner - c) / s;
    centre = Vector4(0.0f, 0.0f, 0.0f);
    touch();
    return true;
}

void computeTriangleData(Triangle& t, const Vector4* vertices) {
    const Vector4& a = vertices[t.i0];
    const Vector4& b = vertices[t.i1];
    const Vector4& c = vertices[t.i2];
    Vector4 n = cross(b - a, c - a);
    n.normalize();
    t.normal = n;
    t.centroid = ((a + b) + c) / 3.0f;
}

void Solid::computeTriangleData() {
    for (Triangle& t : triangles) {
        korvan::computeTriangleData(t, vertices.data());
    }
}

void Solid::computeBoundingBox() {
    if (vertices.empty()) {
        minCorner = maxCorner = Vector4();
        return;
    }
    boxOfPoints(vertices, minCorner, maxCorner);
}

void boxOfPoints(const std::vector<Vector4>& points, Vector4& lo, Vector4& hi) {
    lo = hi = points.front();
    for (const Vector4& p : points) {
        includeInBox(lo, hi, p);
    }
}

void Solid::copyMeshFrom(const Solid& from) {
    triangles = from.triangles;
    vertices = from.vertices;
    minCorner = from.minCorner;
    maxCorner = from.maxCorner;
    centre = from.centre;
    fileMinCorner = from.fileMinCorner;
    fileMaxCorner = from.fileMaxCorner;
    loaded = from.loaded;
    edgeLimit = from.edgeLimit;
    touch();
    solidRevision = from.boundsSolid() ? revision : 0;
}

void Solid::swap(Solid& other) noexcept {
    const uint64_t next = newerRevision(revision, other.revision);
    const bool solid = boundsSolid(), otherSolid = other.boundsSolid();
    std::swap(triangles, other.triangles);
    std::swap(vertices, other.vertices);
    std::swap(minCorner, other.minCorner);
    std::swap(maxCorner, other.maxCorner);
    std::swap(centre, other.centre);
    std::swap(fileMinCorner, other.fileMinCorner);
    std::swap(fileMaxCorner, other.fileMaxCorner);
    std::swap(loaded, other.loaded);
    std::swap(wireframe, other.wireframe);
    std::swap(edgeLimit, other.edgeLimit);
    revision = next;
    other.revision = next;
    solidRevision = otherSolid ? next : 0;
    other.solidRevision = solid ? next : 0;
}

}  // namespace korvan
