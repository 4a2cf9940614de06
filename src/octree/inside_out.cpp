// The inside-out test: labels one solid's triangles against the other solid's classified tree.
#include "octree/octree.h"

namespace korvan {
namespace {

bool boxesDisjoint(const OctreeNode& A, const OctreeNode& B) {
    return B.maxCorner.x < A.minCorner.x || B.maxCorner.y < A.minCorner.y ||
           B.maxCorner.z < A.minCorner.z || B.minCorner.x > A.maxCorner.x ||
           B.minCorner.y > A.maxCorner.y || B.minCorner.z > A.maxCorner.z;
}

}  // namespace

int32_t boxRelation(const OctreeNode& A, const OctreeNode& B) {
    if (boxesDisjoint(A, B)) {
        return 0;
    }
    if (A.type != kCellSubdivided) {
        return A.type;
    }
    int32_t acc = 0;
    for (const auto& child : A.children) {
        const int32_t r = boxRelation(*child, B);
        if (r == kCellBoundary) {
            return kCellBoundary;
        }
        if (acc == 0) {
            acc = r;
        } else if (r != 0 && r != acc) {
            return kCellBoundary;
        }
    }
    return acc;
}

void labelTriangles(OctreeNode& node, int32_t label) {
    std::vector<Triangle>& triangles = node.solid->triangles;
    // A cut triangle's pieces stand in for it; relabelling it would put both in the result.
    if (node.level == 0) {
        for (Triangle& t : triangles) {
            if (t.label != kLabelCut) {
                t.label = label;
            }
        }
        return;
    }
    for (const int32_t i : node.triangleIndices) {
        Triangle& t = triangles[static_cast<size_t>(i)];
        if (t.label != kLabelCut) {
            t.label = label;
        }
    }
}

void labelRegions(OctreeNode& A, OctreeNode& B, std::vector<OctreeNode*>& cells) {
    const int32_t r = boxRelation(A, B);
    if (r == 0 || r == kCellOuter) {
        labelTriangles(B, kLabelOutside);
        return;
    }
    if (r == kCellInner) {
        labelTriangles(B, kLabelInside);
        return;
    }
    if (B.type == kCellSubdivided) {
        for (auto& child : B.children) {
            labelRegions(A, *child, cells);
        }
        return;
    }
    cells.push_back(&B);
}

void testCellTriangles(OctreeNode& A, OctreeNode& cell, TriangleTest& test) {
    std::vector<Triangle>& triangles = cell.solid->triangles;
    for (const int32_t i : cell.triangleIndices) {
        Triangle& t = triangles[static_cast<size_t>(i)];
        // Listed again by a second cell after being cut: its pieces are already made.
        if (t.label == kLabelCut) {
            continue;
        }
        if (test.testTriangle(A, t) == 0) {
            t.label = kLabelOutside;
        }
    }
}

void insideOut(OctreeNode& A, OctreeNode& B, TriangleTest& test) {
    std::vector<OctreeNode*> cells;
    labelRegions(A, B, cells);
    for (OctreeNode* cell : cells) {
        testCellTriangles(A, *cell, test);
    }
}

}  // namespace korvan
