// Octree over a solid's triangle centroids: construction, classification of the empty cells
// and the inside-out test between two trees.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "geometry/solid.h"
#include "geometry/triangle.h"
#include "geometry/vector4.h"

namespace korvan {

// Deepest level of every tree; the root is level 0.
inline constexpr int32_t octreeLevels = 4;

// Cell type codes; 5 and 6 are also the triangle labels inside and outside.
enum : int32_t {
    kCellUnsorted = 0,
    kCellUndecided = 2,
    kCellSubdivided = 3,
    kCellBoundary = 4,
    kCellInner = 5,
    kCellOuter = 6,
};

class NearestIndex;

// One cell. A node of level >= 1 lists, in ascending order, every triangle whose centroid lies
// in its half-open box [min, max) (closed above only along the root's maximum), so each
// centroid is in exactly one cell of a level; the root lists none. Boundary cells (deepest level,
// at least one triangle) also carry the mean normal of their triangles, the extreme triangles along
// it and the range of the centroids' projections.
struct OctreeNode {
    Vector4 maxCorner;
    Vector4 minCorner;
    Vector4 centre;
    Vector4 meanNormal;
    int32_t type = kCellUnsorted;
    Solid* solid = nullptr;
    // Bit 0 of the index selects the upper half in x, bit 1 in z, bit 2 in y.
    std::array<std::unique_ptr<OctreeNode>, 8> children;
    // The three siblings that differ from this cell in exactly one axis; null in the root.
    std::array<OctreeNode*, 3> neighbours{};
    float maxProjection = 0.0f;
    float minProjection = 0.0f;
    std::vector<int32_t> triangleIndices;
    int32_t triangleCount = 0;
    int32_t level = 0;

    OctreeNode();
    ~OctreeNode();
    OctreeNode(const OctreeNode&) = delete;
    OctreeNode& operator=(const OctreeNode&) = delete;

    // Fills this node and its subtree. The root is called with a null parent and level 0 and
    // takes 1.1 times the solid's bounding box; a child is built by its parent, which sets its
    // corners and neighbours first. Reads the solid's box and the triangles' centroids and
    // normals, which must be current; changes nothing in the solid.
    void build(Solid& solid, OctreeNode* parent, int32_t level);

    bool isLeaf() const { return !children[0]; }

    // A centroid as the build reads it, all the tree's cells at once: x, y and z alone.
    struct Point {
        float x;
        float y;
        float z;
    };

private:
    friend const Triangle* nearestListedTriangle(OctreeNode& node, const Vector4& point);
    friend void updateOctree(OctreeNode& root, const std::vector<int32_t>& newIndex,
                             int32_t firstAdded);
    void fill(const Point* centroids);
    void subdivide(const Point* centroids);
    // Where the cell splits: siblings share this one value per axis.
    Vector4 midpoint() const;
    // Makes the eight children with their corners and neighbours; their lists stay empty.
    void makeChildren();
    // The boundary cell's mean normal and projection range, from its listed triangles.
    void computeBoundaryData();
    void update(const int32_t* newIndex, const std::vector<int32_t>& added);
    // Drops the nearest-centroid index once the list it was built over has changed.
    void forgetNearestIndex();

    // Built once a large cell has been asked often enough to repay it. Queries come from
    // several threads at once; the index gives the scan's answer, so who builds it, and when,
    // changes no result.
    std::unique_ptr<NearestIndex> m_nearestIndex;
    std::mutex m_nearestMutex;
    std::atomic<bool> m_nearestReady{false};
    std::atomic<int32_t> m_nearestQueries{0};
};

// The listed triangle whose centroid is nearest to `point` (ties keep the earlier one in the
// list), by reference into the node's solid; null when the node lists none.
const Triangle* nearestListedTriangle(OctreeNode& node, const Vector4& point);
// The triangle of any boundary cell under `root` whose centroid is nearest to `point` (ties
// keep the lower triangle index); null when the tree has no boundary cell.
const Triangle* nearestSurfaceTriangle(OctreeNode& root, const Vector4& point);

// Classifies the empty leaves at level m of the subtree (and those the propagation reaches
// through sibling links) as inner 5, outer 6 or undecided 2.
void classify(OctreeNode& node, int32_t m);

// A tree over the solid's current triangles; not classified. The tree points at the solid,
// which must stay where it is while the tree is used.
std::unique_ptr<OctreeNode> buildOctree(Solid& solid);
// classify(root, m) for m = octreeLevels down to 1.
void classifyOctree(OctreeNode& root);
// buildOctree then classifyOctree: what every caller does after a mesh changes.
std::unique_ptr<OctreeNode> prepareOctree(Solid& solid);

// Brings a classified tree up to date after its solid's triangles were replaced by the old ones
// mapped through `newIndex` (-1 where dropped, the kept ones in their old order with their
// centroids and normals unchanged) followed by new ones from `firstAdded` on, the solid's box
// unchanged. Cells whose triangles stayed the same are only renumbered and keep their nearest-
// centroid index; the rest are redone. The tree is then the one prepareOctree would give.
void updateOctree(OctreeNode& root, const std::vector<int32_t>& newIndex, int32_t firstAdded);

// Decides the side of one triangle against the reference tree; implemented by the Boolean
// engine, which may also cut the triangle.
class TriangleTest {
public:
    // Returns 0 when t's centroid lies outside A's box; otherwise writes t's label (5, 6, or 1
    // when cut) and returns it.
    virtual int32_t testTriangle(OctreeNode& A, Triangle& t) = 0;

protected:
    ~TriangleTest() = default;
};

// 0 when no classified cell of A's subtree overlaps B's box; the common code 2, 5 or 6 when
// every overlapping leaf has it; 4 when a boundary cell overlaps or the leaves disagree.
int32_t boxRelation(const OctreeNode& A, const OctreeNode& B);

// Writes `label` into the triangles the node lists (every triangle of the solid for a root).
// A triangle already cut in this operation (label 1) keeps its label.
void labelTriangles(OctreeNode& node, int32_t label);

// Labels the triangles of B's subtree inside (5) or outside (6) A's solid: whole regions by
// the classes of A's cells, the rest triangle by triangle through `test`. A stays the root.
// The same as labelRegions followed by testCellTriangles on each cell in turn.
void insideOut(OctreeNode& A, OctreeNode& B, TriangleTest& test);

// insideOut's first half: labels the whole regions and appends, in depth-first order, the
// leaves of B's subtree whose triangles need the test one by one. The regions and the cells
// list disjoint triangles, so the cells may then be tested in any order, or at once, as long
// as `test` itself allows it.
void labelRegions(OctreeNode& A, OctreeNode& B, std::vector<OctreeNode*>& cells);

// A cell of B's tree whose triangles all take one label.
struct Region {
    OctreeNode* node;
    int32_t label;
};
// labelRegions with the regions appended to `regions` instead of labelled; they too may be
// labelled in any order, or at once.
void findRegions(OctreeNode& A, OctreeNode& B, std::vector<Region>& regions,
                 std::vector<OctreeNode*>& cells);
// labelTriangles for each region, large ones cut into pieces labelled on the threads of the
// current task arena.
void labelRegionsAtOnce(const std::vector<Region>& regions);
// insideOut's second half for one cell that labelRegions listed.
void testCellTriangles(OctreeNode& A, OctreeNode& cell, TriangleTest& test);

}  // namespace korvan
