// Construction of the tree: corners, triangle lists, boundary-cell data, subdivision.
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "octree/nearest_index.h"
#include "octree/octree.h"

namespace korvan {
namespace {

// Child k's siblings that differ from it in exactly one axis.
constexpr int kNeighbourTable[8][3] = {{1, 2, 4}, {3, 5, 0}, {3, 6, 0}, {7, 2, 1},
                                       {5, 6, 0}, {7, 1, 4}, {7, 2, 4}, {6, 5, 3}};

template <typename Point>
bool inClosedBox(const Point& c, const Vector4& lo, const Vector4& hi) {
    return lo.x <= c.x && c.x <= hi.x && lo.y <= c.y && c.y <= hi.y && lo.z <= c.z && c.z <= hi.z;
}

}  // namespace

OctreeNode::OctreeNode() = default;

OctreeNode::~OctreeNode() = default;

namespace {

// Work is cut into pieces of this many triangles, whatever the number of threads, so that the
// lists come out the same with any; a cell with fewer candidates is split in one piece.
constexpr size_t kChunk = size_t{1} << 15;

size_t chunkCount(size_t items) {
    return (items + kChunk - 1) / kChunk;
}

// f(chunk) for every chunk of `items`, on the current arena's threads when there are several.
template <typename F>
void forEachChunk(size_t items, const F& f) {
    const size_t chunks = chunkCount(items);
    if (chunks <= 1) {
        for (size_t c = 0; c < chunks; ++c) {
            f(c);
        }
        return;
    }
    tbb::parallel_for(tbb::blocked_range<size_t>(0, chunks, 1),
                      [&f](const tbb::blocked_range<size_t>& range) {
                          for (size_t c = range.begin(); c != range.end(); ++c) {
                              f(c);
                          }
                      });
}

// The centroids in one compact array: every level scans them, in list order. Not zeroed
// first: that would be one more pass over the array, and on one thread.
std::unique_ptr<OctreeNode::Point[]> gatherCentroids(const Solid& s) {
    auto centroids = std::make_unique_for_overwrite<OctreeNode::Point[]>(s.triangles.size());
    OctreeNode::Point* out = centroids.get();
    const Triangle* tri = s.triangles.data();
    forEachChunk(s.triangles.size(), [out, tri, count = s.triangles.size()](size_t c) {
        const size_t end = std::min(count, (c + 1) * kChunk);
        for (size_t i = c * kChunk; i < end; ++i) {
            out[i] = {tri[i].centroid.x, tri[i].centroid.y, tri[i].centroid.z};
        }
    });
    return centroids;
}

}  // namespace

void OctreeNode::build(Solid& s, OctreeNode* parent, int32_t lvl) {
    solid = &s;
    level = lvl;
    const std::unique_ptr<Point[]> centroids = gatherCentroids(s);
    if (parent == nullptr) {
        const Vector4 c = s.centre;
        maxCorner = c + (s.maxCorner - c) * 1.1f;
        minCorner = c + (s.minCorner - c) * 1.1f;
        centre = (maxCorner + minCorner) / 2.0f;
        subdivide(centroids.get());
        return;
    }
    fill(centroids.get());
}

// A child whose corners, neighbours and list its parent has set.
void OctreeNode::fill(const Point* centroids) {
    centre = (maxCorner + minCorner) / 2.0f;
    triangleCount = static_cast<int32_t>(triangleIndices.size());
    if (level == octreeLevels && triangleCount > 0) {
        computeBoundaryData();
    }
    if (level < octreeLevels && triangleCount > 0) {
        subdivide(centroids);
    }
}

void OctreeNode::computeBoundaryData() {
    const Triangle* tri = solid->triangles.data();
    Vector4 sum;
    for (const int32_t i : triangleIndices) {
        sum = sum + tri[i].normal;
    }
    sum.normalize();
    meanNormal = sum;
    type = kCellBoundary;
    maxProjection = static_cast<float>(dot(meanNormal, tri[triangleIndices[0]].centroid));
    minProjection = maxProjection;
    for (const int32_t i : triangleIndices) {
        const Precise p = dot(meanNormal, tri[i].centroid);
        if (p > maxProjection) {
            maxProjection = static_cast<float>(p);
        } else if (p < minProjection) {
            minProjection = static_cast<float>(p);
        }
    }
}

Vector4 OctreeNode::midpoint() const {
    return Vector4((maxCorner.x + minCorner.x) * 0.5f, (maxCorner.y + minCorner.y) * 0.5f,
                   (maxCorner.z + minCorner.z) * 0.5f, (maxCorner.w + minCorner.w) * 0.5f);
}

void OctreeNode::makeChildren() {
    type = kCellSubdivided;
    for (auto& child : children) {
        child = std::make_unique<OctreeNode>();
    }
    const Vector4 mid = midpoint();
    for (int k = 0; k < 8; ++k) {
        OctreeNode& child = *children[k];
        const bool upperX = (k & 1) != 0;
        const bool upperZ = (k & 2) != 0;
        const bool upperY = (k & 4) != 0;
        child.minCorner = Vector4(upperX ? mid.x : minCorner.x, upperY ? mid.y : minCorner.y,
                                  upperZ ? mid.z : minCorner.z, mid.w);
        child.maxCorner = Vector4(upperX ? maxCorner.x : mid.x, upperY ? maxCorner.y : mid.y,
                                  upperZ ? maxCorner.z : mid.z, maxCorner.w);
        child.centre = (child.maxCorner + child.minCorner) / 2.0f;
        for (int j = 0; j < 3; ++j) {
            child.neighbours[j] = children[kNeighbourTable[k][j]].get();
        }
        child.solid = solid;
        child.level = level + 1;
    }
}

// Splits the box at its midpoint: siblings share that one value per axis, and upper children
// end exactly at this cell's maximum, so no centroid of this cell falls between children.
// The triangles are handed out in one pass over this cell's list (all triangles for the root)
// rather than one pass per child; each child's list stays in ascending order.
void OctreeNode::subdivide(const Point* centroids) {
    makeChildren();
    const Vector4 mid = midpoint();

    const bool isRoot = level == 0;
    const size_t candidates = isRoot ? solid->triangles.size() : triangleIndices.size();
    // Bit k set for the one child whose half-open box [min, max) holds the centroid; the
    // midpoint belongs to the upper half, so the root's maximum ends up in its upper corner.
    // Children with bit 0 clear (0, 2, 4, 6) take the lower half in x, and so on for z
    // (bit 1) and y (bit 2). With each centroid in one child, a tree lists at most
    // levels x triangles entries, however the centroids crowd together.
    // Per chunk of candidates: the masks, then how many go to each child, then (from the
    // running totals of the chunks before it) where its entries go in each child's list.
    const size_t chunks = chunkCount(candidates);
    std::vector<uint8_t> masks(candidates);
    std::vector<std::array<uint32_t, 8>> chunkCounts(chunks);
    // Locals, not captures: the byte stores into the masks may alias anything reached through
    // a reference, which would reload it on every triangle.
    const int32_t* list = triangleIndices.data();
    uint8_t* maskOut = masks.data();
    const Vector4 lo = minCorner;
    const Vector4 hi = maxCorner;
    forEachChunk(candidates, [&chunkCounts, list, maskOut, lo, hi, mid, isRoot, candidates,
                              centroids](size_t chunk) {
        const size_t end = std::min(candidates, (chunk + 1) * kChunk);
        std::array<uint32_t, 256> histogram{};
        for (size_t n = chunk * kChunk; n < end; ++n) {
            const Point& c = centroids[isRoot ? n : static_cast<size_t>(list[n])];
            if (isRoot && !inClosedBox(c, lo, hi)) {
                continue;
            }
            const unsigned xm = c.x < mid.x ? 0x55u : 0xAAu;
            const unsigned zm = c.z < mid.z ? 0x33u : 0xCCu;
            const unsigned ym = c.y < mid.y ? 0x0Fu : 0xF0u;
            const auto mask = static_cast<uint8_t>(xm & zm & ym);
            maskOut[n] = mask;
            ++histogram[mask];
        }
        std::array<uint32_t, 8>& counts = chunkCounts[chunk];
        counts = {};
        for (unsigned mask = 1; mask < 256; ++mask) {
            for (size_t k = 0; k < 8; ++k) {
                counts[k] += ((mask >> k) & 1u) * histogram[mask];
            }
        }
    });
    std::array<uint32_t, 8> totals{};
    for (std::array<uint32_t, 8>& counts : chunkCounts) {
        for (size_t k = 0; k < 8; ++k) {
            const uint32_t count = counts[k];
            counts[k] = totals[k];
            totals[k] += count;
        }
    }
    // Sizing a list writes it once; a large cell's eight lists are sized at once.
    const auto size = [&](size_t k) { children[k]->triangleIndices.resize(totals[k]); };
    if (candidates >= 2 * kChunk) {
        tbb::parallel_for(size_t{0}, size_t{8}, size);
    } else {
        for (size_t k = 0; k < 8; ++k) {
            size(k);
        }
    }
    std::array<int32_t*, 8> lists{};
    for (size_t k = 0; k < 8; ++k) {
        lists[k] = children[k]->triangleIndices.data();
    }
    forEachChunk(candidates,
                 [&chunkCounts, lists, list, maskOut, isRoot, candidates](size_t chunk) {
                     std::array<int32_t*, 8> out{};
                     for (size_t k = 0; k < 8; ++k) {
                         out[k] = lists[k] + chunkCounts[chunk][k];
                     }
                     const size_t end = std::min(candidates, (chunk + 1) * kChunk);
                     for (size_t n = chunk * kChunk; n < end; ++n) {
                         unsigned mask = maskOut[n];
                         const int32_t index = isRoot ? static_cast<int32_t>(n) : list[n];
                         while (mask != 0) {
                             const int k = std::countr_zero(mask);
                             *out[static_cast<size_t>(k)]++ = index;
                             mask &= mask - 1;
                         }
                     }
                 });
    masks = {};
    // Subtrees share nothing but the read-only centroids and triangles.
    if (candidates >= 2 * kChunk) {
        tbb::parallel_for(0, 8, [&](int k) { children[static_cast<size_t>(k)]->fill(centroids); });
    } else {
        for (auto& child : children) {
            child->fill(centroids);
        }
    }
}

std::unique_ptr<OctreeNode> buildOctree(Solid& solid) {
    auto root = std::make_unique<OctreeNode>();
    root->build(solid, nullptr, 0);
    return root;
}

void classifyOctree(OctreeNode& root) {
    if (root.solid == nullptr || root.solid->triangles.size() < 2 * kChunk) {
        for (int32_t m = octreeLevels; m >= 1; --m) {
            classify(root, m);
        }
        return;
    }
    // The flood at level m runs along sibling links and reads only deeper levels, classified
    // before, so the children of different parents are classified independently: each family
    // at once with the others, in the order classify(root, m) takes it.
    std::vector<std::vector<OctreeNode*>> parents(octreeLevels);
    parents[0].push_back(&root);
    for (size_t level = 1; level < parents.size(); ++level) {
        for (OctreeNode* node : parents[level - 1]) {
            for (auto& child : node->children) {
                if (!child->isLeaf()) {
                    parents[level].push_back(child.get());
                }
            }
        }
    }
    for (int32_t m = octreeLevels; m >= 1; --m) {
        const std::vector<OctreeNode*>& families = parents[static_cast<size_t>(m - 1)];
        tbb::parallel_for(size_t{0}, families.size(), [&families, m](size_t f) {
            for (auto& child : families[f]->children) {
                classify(*child, m);
            }
        });
    }
}

std::unique_ptr<OctreeNode> prepareOctree(Solid& solid) {
    std::unique_ptr<OctreeNode> root = buildOctree(solid);
    classifyOctree(*root);
    return root;
}

}  // namespace korvan
