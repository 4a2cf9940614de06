// The inside-out test: labels one solid's triangles against the other solid's classified tree.
#include <tbb/parallel_for.h>

#include <algorithm>

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

namespace {

// The triangles a node stands for: every triangle of the solid for a root.
size_t listedCount(const OctreeNode& node) {
    return node.level == 0 ? node.solid->triangles.size() : node.triangleIndices.size();
}

// labelTriangles for the node's listed triangles at positions [begin, end).
void labelListed(OctreeNode& node, int32_t label, size_t begin, size_t end) {
    Triangle* triangles = node.solid->triangles.data();
    const int32_t* list = node.triangleIndices.data();
    for (size_t k = begin; k < end; ++k) {
        Triangle& t = triangles[node.level == 0 ? k : static_cast<size_t>(list[k])];
        // A cut triangle's pieces stand in for it; relabelling it would put both in the result.
        if (t.label != kLabelCut) {
            t.label = label;
        }
    }
}

}  // namespace

void labelTriangles(OctreeNode& node, int32_t label) {
    labelListed(node, label, 0, listedCount(node));
}

void labelRegionsAtOnce(const std::vector<Region>& regions) {
    constexpr size_t kPiece = size_t{1} << 15;
    struct Piece {
        const Region* region;
        size_t begin, end;
    };
    std::vector<Piece> pieces;
    for (const Region& region : regions) {
        const size_t count = listedCount(*region.node);
        for (size_t begin = 0; begin < count; begin += kPiece) {
            pieces.push_back({&region, begin, std::min(count, begin + kPiece)});
        }
    }
    tbb::parallel_for(size_t{0}, pieces.size(), [&](size_t k) {
        const Piece& p = pieces[k];
        labelListed(*p.region->node, p.region->label, p.begin, p.end);
    });
}

void findRegions(OctreeNode& A, OctreeNode& B, std::vector<Region>& regions,
                 std::vector<OctreeNode*>& cells) {
    const int32_t r = boxRelation(A, B);
    if (r == 0 || r == kCellOuter) {
        regions.push_back({&B, kLabelOutside});
        return;
    }
    if (r == kCellInner) {
        regions.push_back({&B, kLabelInside});
        return;
    }
    if (B.type == kCellSubdivided) {
        for (auto& child : B.children) {
            findRegions(A, *child, regions, cells);
        }
        return;
    }
    cells.push_back(&B);
}

void labelRegions(OctreeNode& A, OctreeNode& B, std::vector<OctreeNode*>& cells) {
    std::vector<Region> regions;
    findRegions(A, B, regions, cells);
    for (const Region& region : regions) {
        labelTriangles(*region.node, region.label);
    }
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
