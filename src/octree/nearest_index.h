// Exact nearest-centroid search over one cell's triangle list (private to the octree).
#pragma once

#include <cstdint>
#include <vector>

#include "geometry/triangle.h"
#include "geometry/vector4.h"

namespace korvan {

// A k-d tree over the centroids of one cell's listed triangles. find() returns the same list
// position as a linear scan that keeps the first of equally near centroids: distances are
// computed exactly as the scan computes them, and a subtree is skipped only when it cannot
// hold a centroid at the best distance or nearer.
class NearestIndex {
public:
    NearestIndex(const std::vector<int32_t>& list, const Triangle* triangles);
    // Position in the list of the nearest centroid to `point`.
    int32_t find(const Vector4& point) const;

private:
    struct Entry {
        Vector4 centroid;
        int32_t position;
    };
    struct Node {
        int32_t begin;
        int32_t end;
        int32_t left = -1;  // children, or -1 in a bucket
        int32_t right = -1;
        Vector4 lo, hi;  // box of the node's centroids
    };
    int32_t buildNode(int32_t begin, int32_t end);
    void search(int32_t node, const Vector4& point, Precise& best, int32_t& bestPosition) const;
    // At most the distance from `point` to any centroid of the node.
    Precise lowerBound(int32_t node, const Vector4& point) const;

    std::vector<Entry> m_entries;
    std::vector<Node> m_nodes;
};

// Lists at most this long are always scanned; longer ones get an index at their
// (kNearestIndexQueries + 1)-th query.
inline constexpr int32_t kNearestIndexThreshold = 48;
inline constexpr int32_t kNearestIndexQueries = 8;

}  // namespace korvan
