// Bringing a tree up to date after a local change of its solid, instead of building it anew.
#include <tbb/parallel_for.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "octree/nearest_index.h"
#include "octree/octree.h"

namespace korvan {
namespace {

// Below this many listed triangles a cell's children are brought up to date one after another.
constexpr size_t kParallelList = size_t{1} << 16;

bool inClosedBox(const Vector4& c, const Vector4& lo, const Vector4& hi) {
    return lo.x <= c.x && c.x <= hi.x && lo.y <= c.y && c.y <= hi.y && lo.z <= c.z && c.z <= hi.z;
}

// The child whose half-open box holds c, as the build hands centroids out: the midpoint
// belongs to the upper half.
size_t childOf(const Vector4& c, const Vector4& mid) {
    return (c.x < mid.x ? 0u : 1u) | (c.z < mid.z ? 0u : 2u) | (c.y < mid.y ? 0u : 4u);
}

}  // namespace

void OctreeNode::forgetNearestIndex() {
    m_nearestIndex.reset();
    m_nearestReady.store(false, std::memory_order_relaxed);
    m_nearestQueries.store(0, std::memory_order_relaxed);
}

// `added`: the new triangles whose centroids lie in this cell, ascending. The kept ones keep
// their order and get numbers below every new one, so the renumbered list followed by `added`
// is the ascending list a build would give.
void OctreeNode::update(const int32_t* newIndex, const std::vector<int32_t>& added) {
    bool changed = !added.empty();
    if (level > 0) {
        size_t kept = 0;
        for (const int32_t i : triangleIndices) {
            const int32_t n = newIndex[i];
            if (n >= 0) {
                triangleIndices[kept++] = n;
            }
        }
        changed = changed || kept != triangleIndices.size();
        triangleIndices.resize(kept);
        triangleIndices.insert(triangleIndices.end(), added.begin(), added.end());
        triangleCount = static_cast<int32_t>(triangleIndices.size());
    }
    if (changed) {
        forgetNearestIndex();
    }
    if (level > 0 && triangleCount == 0) {
        // Empty: a leaf, classified anew with the rest of the tree.
        for (auto& child : children) {
            child.reset();
        }
        type = kCellUnsorted;
        meanNormal = Vector4();
        maxProjection = minProjection = 0.0f;
        return;
    }
    if (level == octreeLevels) {
        if (changed) {
            computeBoundaryData();
        }
        return;
    }
    // A cell that was empty lists only new triangles, which its new children share out.
    if (isLeaf()) {
        makeChildren();
    }
    std::array<std::vector<int32_t>, 8> shares;
    const Triangle* tri = solid->triangles.data();
    const Vector4 mid = midpoint();
    for (const int32_t i : added) {
        shares[childOf(tri[i].centroid, mid)].push_back(i);
    }
    const size_t listed = level == 0 ? solid->triangles.size() : triangleIndices.size();
    if (listed >= kParallelList) {
        tbb::parallel_for(0, 8, [&](int k) {
            const auto c = static_cast<size_t>(k);
            children[c]->update(newIndex, shares[c]);
        });
    } else {
        for (size_t c = 0; c < 8; ++c) {
            children[c]->update(newIndex, shares[c]);
        }
    }
}

void updateOctree(OctreeNode& root, const std::vector<int32_t>& newIndex, int32_t firstAdded) {
    const std::vector<Triangle>& triangles = root.solid->triangles;
    std::vector<int32_t> added;
    for (size_t i = static_cast<size_t>(firstAdded); i < triangles.size(); ++i) {
        // As in the build, a centroid outside the root's box is in no cell.
        if (inClosedBox(triangles[i].centroid, root.minCorner, root.maxCorner)) {
            added.push_back(static_cast<int32_t>(i));
        }
    }
    root.update(newIndex.data(), added);
    classifyOctree(root);
}

}  // namespace korvan
