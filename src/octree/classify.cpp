// Classification of the empty leaves: a flood from the margin inwards along sibling links,
// and next to the surface the side of the nearest surface triangle.
#include "octree/octree.h"

namespace korvan {
namespace {

bool isDecided(int32_t type) {
    return type == kCellInner || type == kCellOuter;
}

// Inner or outer from the nearest triangle of boundary cell n. Reached through a descent, a
// centre lying in the triangle's plane counts as inner; as a direct neighbour, as outer.
int32_t surfaceSide(OctreeNode& node, OctreeNode& n, bool reachedByDescent) {
    const Triangle* t = nearestListedTriangle(n, node.centre);
    const Precise d = dot(node.centre - t->centroid, t->normal);
    if (reachedByDescent) {
        return d > 0 ? kCellOuter : kCellInner;
    }
    return d >= 0 ? kCellOuter : kCellInner;
}

bool touchesSolidBox(const OctreeNode& node) {
    const Solid& s = *node.solid;
    return node.minCorner.x <= s.minCorner.x || node.minCorner.y <= s.minCorner.y ||
           node.minCorner.z <= s.minCorner.z || node.maxCorner.x >= s.maxCorner.x ||
           node.maxCorner.y >= s.maxCorner.y || node.maxCorner.z >= s.maxCorner.z;
}

// The leaf reached from a subdivided cell by always stepping into the child whose centre is
// nearest to `target` (the first of equally near children).
OctreeNode& descendTowards(OctreeNode* n, const Vector4& target) {
    while (n->type == kCellSubdivided) {
        OctreeNode* nearest = n->children[0].get();
        Precise best = length(nearest->centre - target);
        for (int k = 1; k < 8; ++k) {
            const Precise d = length(n->children[k]->centre - target);
            if (d < best) {
                best = d;
                nearest = n->children[k].get();
            }
        }
        n = nearest;
    }
    return *n;
}

}  // namespace

void classify(OctreeNode& node, int32_t m) {
    if (node.level == m && node.type != kCellUnsorted) {
        return;
    }
    if (node.level < m) {
        if (!node.isLeaf()) {
            for (auto& child : node.children) {
                classify(*child, m);
            }
        }
        return;
    }
    if (node.level > m) {
        return;
    }

    // An empty leaf at level m. Cells reaching the solid's box are outside, and say so to
    // their siblings.
    if (touchesSolidBox(node)) {
        node.type = kCellOuter;
        for (OctreeNode* n : node.neighbours) {
            if (n != nullptr) {
                classify(*n, m);
            }
        }
        return;
    }

    for (const OctreeNode* n : node.neighbours) {
        if (n != nullptr && isDecided(n->type)) {
            node.type = n->type;
            return;
        }
    }

    for (OctreeNode* n : node.neighbours) {
        if (n == nullptr) {
            continue;
        }
        if (n->type == kCellSubdivided) {
            OctreeNode& leaf = descendTowards(n, node.centre);
            if (isDecided(leaf.type)) {
                node.type = leaf.type;
                return;
            }
            if (leaf.type == kCellBoundary) {
                node.type = surfaceSide(node, leaf, true);
                return;
            }
        } else if (n->type == kCellBoundary) {
            node.type = surfaceSide(node, *n, false);
            return;
        }
    }

    // Marked before asking the siblings, so that a sibling coming back here stops at once.
    node.type = kCellUndecided;
    for (OctreeNode* n : node.neighbours) {
        if (n != nullptr && n->type == kCellUnsorted) {
            classify(*n, m);
            if (isDecided(n->type)) {
                node.type = n->type;
                return;
            }
        }
    }
}

}  // namespace korvan
