// Construction of the tree: corners, triangle lists, boundary-cell data, subdivision.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "octree/nearest_index.h"
#include "octree/octree.h"

namespace korvan {
namespace {

// Child k's siblings that differ from it in exactly one axis.
constexpr int kNeighbourTable[8][3] = {{1, 2, 4}, {3, 5, 0}, {3, 6, 0}, {7, 2, 1},
                                       {5, 6, 0}, {7, 1, 4}, {7, 2, 4}, {6, 5, 3}};

bool inClosedBox(const Vector4& c, const Vector4& lo, const Vector4& hi) {
    return lo.x <= c.x && c.x <= hi.x && lo.y <= c.y && c.y <= hi.y && lo.z <= c.z && c.z <= hi.z;
}

}  // namespace

OctreeNode::OctreeNode() : serial(octreeNodeCounter++) {}

OctreeNode::~OctreeNode() = default;

void OctreeNode::build(Solid& s, OctreeNode* parent, int32_t lvl) {
    solid = &s;
    level = lvl;
    if (parent == nullptr) {
        const Vector4 c = s.centre;
        maxCorner = c + (s.maxCorner - c) * 1.1f;
        minCorner = c + (s.minCorner - c) * 1.1f;
        centre = (maxCorner + minCorner) / 2.0f;
        subdivide();
        return;
    }
    centre = (maxCorner + minCorner) / 2.0f;
    // The list was filled by the parent's subdivide().
    triangleCount = static_cast<int32_t>(triangleIndices.size());
    if (level == octreeLevels && triangleCount > 0) {
        const Triangle* tri = s.triangles.data();
        Vector4 sum;
        for (const int32_t i : triangleIndices) {
            sum = sum + tri[i].normal;
        }
        sum.normalize();
        meanNormal = sum;
        type = kCellBoundary;
        topTriangle = tri[triangleIndices[0]];
        bottomTriangle = topTriangle;
        maxProjection = static_cast<float>(dot(meanNormal, topTriangle.centroid));
        minProjection = maxProjection;
        for (const int32_t i : triangleIndices) {
            const Precise p = dot(meanNormal, tri[i].centroid);
            if (p > maxProjection) {
                topTriangle = tri[i];
                maxProjection = static_cast<float>(p);
            } else if (p < minProjection) {
                bottomTriangle = tri[i];
                minProjection = static_cast<float>(p);
            }
        }
    }
    if (level < octreeLevels && triangleCount > 0) {
        subdivide();
    }
}

// Splits the box at its midpoint: siblings share that one value per axis, and upper children
// end exactly at this cell's maximum, so no centroid of this cell falls between children.
// The triangles are handed out in one pass over this cell's list (all triangles for the root)
// rather than one pass per child; each child's list stays in ascending order.
void OctreeNode::subdivide() {
    type = kCellSubdivided;
    for (auto& child : children) {
        child = std::make_unique<OctreeNode>();
    }
    const Vector4 mid((maxCorner.x + minCorner.x) * 0.5f, (maxCorner.y + minCorner.y) * 0.5f,
                      (maxCorner.z + minCorner.z) * 0.5f, (maxCorner.w + minCorner.w) * 0.5f);
    for (int k = 0; k < 8; ++k) {
        OctreeNode& child = *children[k];
        const bool upperX = (k & 1) != 0;
        const bool upperZ = (k & 2) != 0;
        const bool upperY = (k & 4) != 0;
        child.minCorner = Vector4(upperX ? mid.x : minCorner.x, upperY ? mid.y : minCorner.y,
                                  upperZ ? mid.z : minCorner.z, mid.w);
        child.maxCorner = Vector4(upperX ? maxCorner.x : mid.x, upperY ? maxCorner.y : mid.y,
                                  upperZ ? maxCorner.z : mid.z, maxCorner.w);
        for (int j = 0; j < 3; ++j) {
            child.neighbours[j] = children[kNeighbourTable[k][j]].get();
        }
    }

    const Triangle* tri = solid->triangles.data();
    const bool isRoot = level == 0;
    const size_t candidates = isRoot ? solid->triangles.size() : triangleIndices.size();
    // Bit k set when the centroid lies in child k's closed box.
    std::vector<uint8_t> masks(candidates);
    std::array<size_t, 8> counts{};
    for (size_t n = 0; n < candidates; ++n) {
        const Vector4& c = tri[isRoot ? static_cast<int32_t>(n) : triangleIndices[n]].centroid;
        if (isRoot && !inClosedBox(c, minCorner, maxCorner)) {
            continue;
        }
        const bool inX[2] = {c.x <= mid.x, c.x >= mid.x};
        const bool inY[2] = {c.y <= mid.y, c.y >= mid.y};
        const bool inZ[2] = {c.z <= mid.z, c.z >= mid.z};
        uint8_t mask = 0;
        for (int k = 0; k < 8; ++k) {
            if (inX[k & 1] && inZ[(k >> 1) & 1] && inY[(k >> 2) & 1]) {
                mask = static_cast<uint8_t>(mask | (1u << k));
                ++counts[static_cast<size_t>(k)];
            }
        }
        masks[n] = mask;
    }
    for (int k = 0; k < 8; ++k) {
        children[k]->triangleIndices.reserve(counts[static_cast<size_t>(k)]);
    }
    for (size_t n = 0; n < candidates; ++n) {
        const uint8_t mask = masks[n];
        if (mask == 0) {
            continue;
        }
        const int32_t index = isRoot ? static_cast<int32_t>(n) : triangleIndices[n];
        for (int k = 0; k < 8; ++k) {
            if ((mask >> k) & 1u) {
                children[k]->triangleIndices.push_back(index);
            }
        }
    }
    masks = {};
    for (int k = 0; k < 8; ++k) {
        children[k]->build(*solid, this, level + 1);
    }
}

void buildOctree(Solid& solid) {
    solid.root.reset();
    solid.root = std::make_unique<OctreeNode>();
    solid.root->build(solid, nullptr, 0);
}

void classifyOctree(OctreeNode& root) {
    for (int32_t m = octreeLevels; m >= 1; --m) {
        classify(root, m);
    }
}

void prepareOctree(Solid& solid) {
    buildOctree(solid);
    classifyOctree(*solid.root);
}

bool hasOctree(const Solid& solid) {
    return solid.root && solid.root->solid == &solid;
}

}  // namespace korvan
