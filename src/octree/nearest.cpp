// Nearest listed triangle of a cell, by centroid distance.
#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>

#include "octree/nearest_index.h"
#include "octree/octree.h"

namespace korvan {
namespace {

// Distance from a point to the closed box [lo, hi], at most that of any point in the box.
Precise distanceToBox(const Vector4& p, const Vector4& lo, const Vector4& hi) {
    const auto gap = [](float v, float low, float high) -> Precise {
        if (v < low) {
            return static_cast<Precise>(low) - v;
        }
        if (v > high) {
            return static_cast<Precise>(v) - high;
        }
        return 0.0;
    };
    const Precise dx = gap(p.x, lo.x, hi.x);
    const Precise dy = gap(p.y, lo.y, hi.y);
    const Precise dz = gap(p.z, lo.z, hi.z);
    return std::sqrt((dx * dx + dy * dy) + dz * dz);
}

}  // namespace

NearestIndex::NearestIndex(const std::vector<int32_t>& list, const Triangle* triangles) {
    m_entries.reserve(list.size());
    for (size_t n = 0; n < list.size(); ++n) {
        m_entries.push_back({triangles[list[n]].centroid, static_cast<int32_t>(n)});
    }
    m_nodes.reserve(list.size() / 4 + 1);
    buildNode(0, static_cast<int32_t>(m_entries.size()));
}

int32_t NearestIndex::buildNode(int32_t begin, int32_t end) {
    const auto id = static_cast<int32_t>(m_nodes.size());
    Vector4 lo = m_entries[static_cast<size_t>(begin)].centroid;
    Vector4 hi = lo;
    for (int32_t i = begin; i < end; ++i) {
        const Vector4& c = m_entries[static_cast<size_t>(i)].centroid;
        lo = Vector4(std::min(lo.x, c.x), std::min(lo.y, c.y), std::min(lo.z, c.z));
        hi = Vector4(std::max(hi.x, c.x), std::max(hi.y, c.y), std::max(hi.z, c.z));
    }
    m_nodes.push_back({begin, end, -1, -1, lo, hi});
    if (end - begin <= 8) {
        return id;
    }
    const float ex = hi.x - lo.x;
    const float ey = hi.y - lo.y;
    const float ez = hi.z - lo.z;
    const int32_t axis = (ex >= ey && ex >= ez) ? 0 : (ey >= ez ? 1 : 2);
    const auto coord = [axis](const Entry& e) {
        return axis == 0 ? e.centroid.x : (axis == 1 ? e.centroid.y : e.centroid.z);
    };
    const int32_t middle = begin + (end - begin) / 2;
    std::nth_element(m_entries.begin() + begin, m_entries.begin() + middle, m_entries.begin() + end,
                     [&coord](const Entry& a, const Entry& b) { return coord(a) < coord(b); });
    const int32_t left = buildNode(begin, middle);
    const int32_t right = buildNode(middle, end);
    Node& node = m_nodes[static_cast<size_t>(id)];
    node.left = left;
    node.right = right;
    return id;
}

Precise NearestIndex::lowerBound(int32_t id, const Vector4& p) const {
    const Node& node = m_nodes[static_cast<size_t>(id)];
    // The margin covers the float rounding of the differences the distances are computed
    // from, so a centroid that could tie with the best is never skipped.
    return distanceToBox(p, node.lo, node.hi) * (1.0 - 1e-6);
}

void NearestIndex::search(int32_t id, const Vector4& point, Precise& best,
                          int32_t& bestPosition) const {
    const Node& node = m_nodes[static_cast<size_t>(id)];
    if (node.left < 0) {
        Precise skip = clearlyFartherThan(best);
        for (int32_t i = node.begin; i < node.end; ++i) {
            const Entry& e = m_entries[static_cast<size_t>(i)];
            const Precise squared = squaredLength(e.centroid - point);
            if (squared > skip) {
                continue;
            }
            const Precise d = std::sqrt(squared);
            if (d < best || (d == best && e.position < bestPosition)) {
                best = d;
                bestPosition = e.position;
                skip = clearlyFartherThan(best);
            }
        }
        return;
    }
    // Nearer box first; a box whose every point is farther than the best is skipped.
    const Precise toLeft = lowerBound(node.left, point);
    const Precise toRight = lowerBound(node.right, point);
    const bool leftFirst = toLeft <= toRight;
    if ((leftFirst ? toLeft : toRight) > best) {
        return;
    }
    search(leftFirst ? node.left : node.right, point, best, bestPosition);
    if ((leftFirst ? toRight : toLeft) <= best) {
        search(leftFirst ? node.right : node.left, point, best, bestPosition);
    }
}

int32_t NearestIndex::find(const Vector4& point) const {
    Precise best = std::numeric_limits<Precise>::infinity();
    int32_t bestPosition = 0;
    if (!m_entries.empty()) {
        search(0, point, best, bestPosition);
    }
    return bestPosition;
}

const Triangle* nearestListedTriangle(OctreeNode& node, const Vector4& point) {
    const std::vector<int32_t>& list = node.triangleIndices;
    if (list.empty()) {
        return nullptr;
    }
    const Triangle* tri = node.solid->triangles.data();
    const bool scan =
        static_cast<int32_t>(list.size()) <= kNearestIndexThreshold ||
        (node.m_nearestQueries.load(std::memory_order_relaxed) < kNearestIndexQueries &&
         node.m_nearestQueries.fetch_add(1, std::memory_order_relaxed) < kNearestIndexQueries);
    if (scan) {
        const Triangle* nearest = &tri[list[0]];
        Precise best = length(nearest->centroid - point);
        Precise skip = clearlyFartherThan(best);
        for (size_t n = 1; n < list.size(); ++n) {
            const Precise squared = squaredLength(tri[list[n]].centroid - point);
            if (squared > skip) {
                continue;
            }
            const Precise d = std::sqrt(squared);
            if (d < best) {
                best = d;
                nearest = &tri[list[n]];
                skip = clearlyFartherThan(best);
            }
        }
        return nearest;
    }
    if (!node.m_nearestReady.load(std::memory_order_acquire)) {
        const std::lock_guard<std::mutex> lock(node.m_nearestMutex);
        if (!node.m_nearestIndex) {
            node.m_nearestIndex = std::make_unique<NearestIndex>(list, tri);
            node.m_nearestReady.store(true, std::memory_order_release);
        }
    }
    return &tri[list[static_cast<size_t>(node.m_nearestIndex->find(point))]];
}

namespace {

void searchSurface(OctreeNode& node, const Vector4& point, Precise& best,
                   const Triangle*& nearest) {
    if (nearest != nullptr &&
        distanceToBox(point, node.minCorner, node.maxCorner) * (1.0 - 1e-6) > best) {
        return;
    }
    if (node.type == kCellSubdivided) {
        for (auto& child : node.children) {
            searchSurface(*child, point, best, nearest);
        }
        return;
    }
    if (node.type != kCellBoundary) {
        return;
    }
    const Triangle* t = nearestListedTriangle(node, point);
    const Precise d = length(t->centroid - point);
    if (nearest == nullptr || d < best || (d == best && t < nearest)) {
        best = d;
        nearest = t;
    }
}

}  // namespace

const Triangle* nearestSurfaceTriangle(OctreeNode& root, const Vector4& point) {
    Precise best = std::numeric_limits<Precise>::infinity();
    const Triangle* nearest = nullptr;
    searchSurface(root, point, best, nearest);
    return nearest;
}

}  // namespace korvan
