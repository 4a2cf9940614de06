// The tree's structure, its nearest-triangle search and the classification of its cells.
#include <gtest/gtest.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <functional>
#include <random>
#include <vector>

#include "generator/generators.h"
#include "octree/octree.h"
#include "support/mesh_checks.h"

namespace korvan {
namespace {

void forEachNode(OctreeNode& node, const std::function<void(OctreeNode&)>& f) {
    f(node);
    if (!node.isLeaf()) {
        for (auto& child : node.children) {
            forEachNode(*child, f);
        }
    }
}

bool inClosedBox(const Vector4& c, const OctreeNode& n) {
    return n.minCorner.x <= c.x && c.x <= n.maxCorner.x && n.minCorner.y <= c.y &&
           c.y <= n.maxCorner.y && n.minCorner.z <= c.z && c.z <= n.maxCorner.z;
}

// A sampled sphere moved off the origin, so that centroids fall anywhere in the cells.
Solid sphere(float factor, float r = 1.0f, Vector4 at = Vector4(0.1234f, -0.377f, 0.05f)) {
    Solid s;
    EXPECT_TRUE(generateObject(PrimitiveParameters::sphere(16, 24, r), factor, s).ok());
    s.translate(at);
    return s;
}

TEST(OctreeBuild, ListsAreAscendingInsideTheBoxAndCoverTheParent) {
    Solid s = sphere(0.03f);
    const std::unique_ptr<OctreeNode> sTree = prepareOctree(s);
    std::vector<int> leafHits(s.triangles.size(), 0);
    forEachNode(*sTree, [&](OctreeNode& n) {
        EXPECT_LE(n.level, octreeLevels);
        EXPECT_EQ(n.triangleCount, static_cast<int32_t>(n.triangleIndices.size()));
        EXPECT_TRUE(std::is_sorted(n.triangleIndices.begin(), n.triangleIndices.end()));
        EXPECT_TRUE(std::adjacent_find(n.triangleIndices.begin(), n.triangleIndices.end()) ==
                    n.triangleIndices.end());
        for (int32_t i : n.triangleIndices) {
            EXPECT_TRUE(inClosedBox(s.triangles[i].centroid, n));
        }
        if (n.isLeaf()) {
            EXPECT_TRUE(n.triangleCount == 0 || n.level == octreeLevels);
            EXPECT_EQ(n.type == kCellBoundary, n.triangleCount > 0);
            for (int32_t i : n.triangleIndices) {
                ++leafHits[i];
            }
            return;
        }
        EXPECT_EQ(n.type, kCellSubdivided);
        // Every centroid of the parent is in some child, and only those.
        for (int32_t i : n.triangleIndices) {
            bool found = false;
            for (auto& c : n.children) {
                found |=
                    std::binary_search(c->triangleIndices.begin(), c->triangleIndices.end(), i);
            }
            EXPECT_TRUE(found) << "triangle " << i << " lost at level " << n.level;
        }
        for (int k = 0; k < 8; ++k) {
            const OctreeNode& c = *n.children[k];
            // Siblings share the midpoint; upper children end at the parent's maximum.
            EXPECT_EQ(c.minCorner.x, (k & 1) ? n.centre.x : n.minCorner.x);
            EXPECT_EQ(c.maxCorner.x, (k & 1) ? n.maxCorner.x : n.centre.x);
            EXPECT_EQ(c.minCorner.y, (k & 4) ? n.centre.y : n.minCorner.y);
            EXPECT_EQ(c.maxCorner.y, (k & 4) ? n.maxCorner.y : n.centre.y);
            EXPECT_EQ(c.minCorner.z, (k & 2) ? n.centre.z : n.minCorner.z);
            EXPECT_EQ(c.maxCorner.z, (k & 2) ? n.maxCorner.z : n.centre.z);
            // Neighbours are the siblings that differ in exactly one axis, one per axis.
            int axes = 0;
            for (const OctreeNode* nb : c.neighbours) {
                const auto j = std::find_if(n.children.begin(), n.children.end(),
                                            [&](auto& p) { return p.get() == nb; }) -
                               n.children.begin();
                ASSERT_LT(j, 8);
                const int diff = k ^ static_cast<int>(j);
                EXPECT_TRUE(diff == 1 || diff == 2 || diff == 4) << k << " links " << j;
                axes |= diff;
            }
            EXPECT_EQ(axes, 7);
        }
    });
    for (size_t i = 0; i < leafHits.size(); ++i) {
        ASSERT_EQ(leafHits[i], 1) << "triangle " << i << " is not in exactly one leaf";
    }
}

// A centroid on a cell plane goes to one cell only: otherwise crowded centroids (a degenerate
// mesh, an object of zero size) would be listed by every leaf, and the tree would grow with
// triangles x leaves.
TEST(OctreeBuild, EachCentroidIsListedByOneCellPerLevelAndNoneGivesOuterLeaves) {
    // The box is [-1, 1]^3, so every cell plane through the origin is exactly 0; the one
    // triangle is flat in z and has its centroid at the origin.
    Solid s = test::makeSolid(
        {{-1, -1, -1}, {1, 1, 1}, {-0.5f, 0, 0}, {0.5f, -0.25f, 0}, {0, 0.25f, 0}}, {2, 3, 4});
    s.computeTriangleData();
    ASSERT_EQ(s.triangles[0].centroid, Vector4(0, 0, 0));
    const std::unique_ptr<OctreeNode> sTree = prepareOctree(s);
    int deepest = 0;
    forEachNode(*sTree, [&](OctreeNode& n) {
        if (n.level == octreeLevels && n.triangleCount == 1) {
            ++deepest;
        }
    });
    EXPECT_EQ(deepest, 1);

    Solid point;
    point.vertices.assign(3, Vector4(0.25f, 0.25f, 0.25f));
    point.triangles.resize(50000);
    point.loaded = 1;
    point.minCorner = point.maxCorner = point.centre = point.vertices[0];
    point.computeTriangleData();
    const std::unique_ptr<OctreeNode> pointTree = prepareOctree(point);
    size_t listed = 0;
    forEachNode(*pointTree, [&](OctreeNode& n) { listed += n.triangleIndices.size(); });
    EXPECT_EQ(listed, size_t{octreeLevels} * point.triangles.size());

    // No triangle at all: eight outer leaves.
    Solid empty;
    empty.loaded = 1;
    const std::unique_ptr<OctreeNode> emptyTree = prepareOctree(empty);
    ASSERT_EQ(emptyTree->type, kCellSubdivided);
    for (auto& c : emptyTree->children) {
        EXPECT_TRUE(c->isLeaf());
        EXPECT_EQ(c->triangleCount, 0);
        EXPECT_EQ(c->type, kCellOuter);
    }
}

TEST(OctreeNearest, MatchesALinearScanIncludingTies) {
    Solid s = sphere(0.008f);
    const std::unique_ptr<OctreeNode> sTree = prepareOctree(s);
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> unit(-1.3f, 1.3f);
    int large = 0;
    forEachNode(*sTree, [&](OctreeNode& n) {
        if (n.type != kCellBoundary) {
            return;
        }
        large += n.triangleCount > 48;
        const auto scan = [&](const Vector4& p) {
            int32_t best = n.triangleIndices[0];
            Precise d = length(s.triangles[best].centroid - p);
            for (int32_t i : n.triangleIndices) {
                if (length(s.triangles[i].centroid - p) < d) {
                    d = length(s.triangles[i].centroid - p);
                    best = i;
                }
            }
            return &s.triangles[best];
        };
        std::vector<Vector4> probes = {n.centre, n.minCorner, n.maxCorner};
        for (int k = 0; k < 16; ++k) {
            probes.emplace_back(unit(rng), unit(rng), unit(rng));
        }
        // Exactly on a centroid, and halfway between two (a tie when exact).
        const Vector4 a = s.triangles[n.triangleIndices.front()].centroid;
        const Vector4 b = s.triangles[n.triangleIndices.back()].centroid;
        probes.push_back(b);
        probes.push_back((a + b) / 2.0f);
        for (const Vector4& p : probes) {
            ASSERT_EQ(nearestListedTriangle(n, p), scan(p));
        }
    });
    EXPECT_GT(large, 10) << "the indexed search was not exercised";
}

TEST(OctreeClassify, EmptyCellsFarFromTheSurfaceTakeItsSide) {
    const Vector4 at(0.1234f, -0.377f, 0.05f);
    Solid s = sphere(0.02f, 1.0f, at);
    const std::unique_ptr<OctreeNode> sTree = prepareOctree(s);
    int inner = 0;
    forEachNode(*sTree, [&](OctreeNode& n) {
        if (!n.isLeaf()) {
            return;
        }
        ASSERT_NE(n.type, kCellUnsorted);
        EXPECT_NE(n.type, kCellUndecided);
        if (n.type == kCellBoundary) {
            return;
        }
        const double r = length(n.centre - at);
        const double halfDiagonal = length(n.maxCorner - n.minCorner) / 2;
        if (r < 1.0 - halfDiagonal) {
            EXPECT_EQ(n.type, kCellInner) << "level " << n.level;
        } else if (r > 1.0 + halfDiagonal) {
            EXPECT_EQ(n.type, kCellOuter) << "level " << n.level;
        }
        inner += n.type == kCellInner;
    });
    EXPECT_GT(inner, 8);
}

// A large tree is classified family by family on several threads; the classes must be those
// of the plain pass over the whole tree, level by level.
TEST(OctreeClassify, FamiliesAtOnceGiveTheLevelByLevelClasses) {
    Solid s = sphere(0.006f);
    ASSERT_GT(s.triangleCount(), 1 << 16);
    const std::unique_ptr<OctreeNode> plain = buildOctree(s);
    for (int32_t m = octreeLevels; m >= 1; --m) {
        classify(*plain, m);
    }
    const std::unique_ptr<OctreeNode> atOnce = buildOctree(s);
    tbb::task_arena(2).execute([&] { classifyOctree(*atOnce); });
    std::vector<int32_t> types[2];
    forEachNode(*plain, [&](OctreeNode& n) { types[0].push_back(n.type); });
    forEachNode(*atOnce, [&](OctreeNode& n) { types[1].push_back(n.type); });
    EXPECT_EQ(types[0], types[1]);
    EXPECT_GT(std::count(types[0].begin(), types[0].end(), kCellInner), 8);
}

// Counts the triangles handed to the per-triangle test and calls them outside.
struct CountingTest final : TriangleTest {
    int calls = 0;
    int32_t testTriangle(OctreeNode&, Triangle& t) override {
        ++calls;
        t.label = kLabelOutside;
        return t.label;
    }
};

TEST(OctreeInsideOut, UniformRegionsAreLabelledWithoutPerTriangleTests) {
    Solid big = sphere(0.03f, 1.0f, Vector4());
    Solid small = sphere(0.05f, 0.2f, Vector4(0.1f, 0.05f, 0));
    Solid far = sphere(0.05f, 0.2f, Vector4(5, 0, 0));
    const std::unique_ptr<OctreeNode> bigTree = prepareOctree(big);
    const std::unique_ptr<OctreeNode> smallTree = prepareOctree(small);
    const std::unique_ptr<OctreeNode> farTree = prepareOctree(far);
    CountingTest test;

    EXPECT_EQ(boxRelation(*bigTree, *farTree), 0);
    insideOut(*bigTree, *farTree, test);
    insideOut(*farTree, *bigTree, test);
    EXPECT_EQ(test.calls, 0);
    for (const Solid* s : {&big, &far}) {
        for (const Triangle& t : s->triangles) {
            ASSERT_EQ(t.label, kLabelOutside);
        }
    }

    insideOut(*bigTree, *smallTree, test);
    EXPECT_EQ(test.calls, 0);
    for (const Triangle& t : small.triangles) {
        ASSERT_EQ(t.label, kLabelInside);
    }
    // The big sphere around the small one: mixed cells, so some triangles are tested one by one.
    EXPECT_EQ(boxRelation(*smallTree, *bigTree), kCellBoundary);
}

TEST(OctreeInsideOut, CutTrianglesKeepTheirLabel) {
    Solid s = sphere(0.05f);
    const std::unique_ptr<OctreeNode> sTree = prepareOctree(s);
    s.triangles[3].label = kLabelCut;
    labelTriangles(*sTree, kLabelInside);
    EXPECT_EQ(s.triangles[3].label, kLabelCut);
    EXPECT_EQ(s.triangles[4].label, kLabelInside);
}

}  // namespace
}  // namespace korvan
