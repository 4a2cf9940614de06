// Geometric checks shared by the tests: closedness, orientation, volume, edge lengths.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "geometry/solid.h"

namespace korvan::test {

// Vertex indices after merging vertices with exactly equal positions (sampling leaves
// coincident midpoints unshared), in the solid's triangle order, three per triangle.
std::vector<int32_t> weldedCorners(const Solid& solid);

// Number of directed edges (after welding) that have no partner running the other way, plus
// the number of directed edges used more than once. 0 for a closed, consistently oriented,
// edge-manifold mesh.
int64_t openEdgeCount(const Solid& solid);

// 2-manifold faults judged on the mesh's own indices, as a tool that reads an indexed file
// sees them: edges not used exactly once each way, and vertices whose triangles form more than
// one fan (joined through the edges at the vertex).
struct IndexFaults {
    int64_t edges = 0;
    int64_t vertices = 0;
};
IndexFaults indexManifoldFaults(const Solid& solid);

// Triangles with two equal corners or zero area (exactly, in double).
int64_t degenerateTriangles(const Solid& solid);

// Signed volume by the divergence theorem; positive when normals point outward.
double signedVolume(const Solid& solid);

// Longest edge of any triangle.
double longestEdge(const Solid& solid);

// The largest distance from a vertex of `a` to the surface of `b`, where each is within `reach`
// of it; infinity where some vertex of `a` has no triangle of `b` that near.
double farthestVertexFrom(const Solid& a, const Solid& b, double reach);

// The same vertices (compared with ==) and the same corners, triangle by triangle; with
// `normals`, the same triangle normals too.
bool sameMesh(const Solid& a, const Solid& b, bool normals = false);

// Every vertex turned about the z axis through the origin by `degrees`, rounded to floats:
// where the turn is below a float's spacing, corners stay where they were.
Solid turnedAboutZ(const Solid& s, double degrees);

// A solid holding the given triangles over the given vertices, box from the vertices.
Solid makeSolid(const std::vector<Vector4>& vertices, const std::vector<int32_t>& corners);

// Absolute path of a mesh in the shared data folder.
std::string dataFile(const std::string& name);

// A fresh, empty folder for one test's files; removed with its content by the destructor.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path(const std::string& name) const { return m_dir + "/" + name; }
    const std::string& dir() const { return m_dir; }

private:
    std::string m_dir;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);

}  // namespace korvan::test
