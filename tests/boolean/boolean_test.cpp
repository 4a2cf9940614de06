// The plane cut, the triangle-level test and the assembly of the result.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "boolean/boolean.h"
#include "generator/generators.h"
#include "support/mesh_checks.h"

namespace korvan {
namespace {

Triangle plane(Vector4 point, Vector4 normal) {
    Triangle q;
    q.centroid = point;
    q.normal = normal;
    return q;
}

Solid oneTriangle(Vector4 a, Vector4 b, Vector4 c) {
    Solid s = test::makeSolid({a, b, c}, {0, 1, 2});
    s.computeTriangleData();
    return s;
}

double area(const Vector4& a, const Vector4& b, const Vector4& c) {
    return length(cross(b - a, c - a)) / 2;
}

TEST(CutTriangle, CutsIntoPiecesThatKeepTheWindingAndTheirSides) {
    Solid s = oneTriangle({0, 0, 1}, {1, 0, -1}, {0, 1, -1});
    Triangle& t = s.triangles[0];
    SplitList pieces;
    cutTriangle(plane({0, 0, 0}, {0, 0, 1}), t, s, 2, pieces);
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(t.label, kLabelCut);
    const Vector4 X(0.5f, 0, 0), Y(0, 0.5f, 0);
    const Vector4 expected[3][3] = {
        {{0, 0, 1}, X, Y}, {{0, 1, -1}, Y, X}, {{0, 1, -1}, X, {1, 0, -1}}};
    const int32_t labels[3] = {kLabelOutside, kLabelInside, kLabelInside};
    for (size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(pieces[k].p0, expected[k][0]) << k;
        EXPECT_EQ(pieces[k].p1, expected[k][1]) << k;
        EXPECT_EQ(pieces[k].p2, expected[k][2]) << k;
        EXPECT_EQ(pieces[k].label, labels[k]);
        EXPECT_EQ(pieces[k].owner, 2);
        EXPECT_EQ(pieces[k].index, static_cast<int32_t>(k) + 1);
        EXPECT_EQ(pieces[k].normal, t.normal);
    }
    EXPECT_NEAR(t.normal.x, 2.0 / 3, 1e-6);
    EXPECT_NEAR(t.normal.z, 1.0 / 3, 1e-6);
}

TEST(CutTriangle, PiecesTileTheTriangleTurnItsWayAndLieOnTheirSide) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(-1, 1);
    int cut = 0;
    for (int trial = 0; trial < 2000; ++trial) {
        Solid s = oneTriangle({u(rng), u(rng), u(rng)}, {u(rng), u(rng), u(rng)},
                              {u(rng), u(rng), u(rng)});
        Vector4 n(u(rng), u(rng), u(rng));
        n.normalize();
        // Every fourth plane goes through a corner: a piece then has its corner on the plane.
        const Vector4 on(u(rng) * 0.3f, u(rng) * 0.3f, u(rng) * 0.3f);
        const Triangle q = plane(trial % 4 == 0 ? s.vertices[0] : on, n);
        const Triangle& t = s.triangles[0];
        SplitList pieces;
        cutTriangle(q, s.triangles[0], s, 2, pieces);
        if (pieces.empty()) {
            EXPECT_EQ(t.label, kLabelNone);
            continue;
        }
        ++cut;
        EXPECT_EQ(t.label, kLabelCut);
        EXPECT_TRUE(pieces.size() == 2 || pieces.size() == 3);
        double sum = 0;
        for (const SplitTriangle& p : pieces) {
            sum += area(p.p0, p.p1, p.p2);
            EXPECT_GE(dot(cross(p.p1 - p.p0, p.p2 - p.p0), t.normal), 0);
            const Vector4 centroid = ((p.p0 + p.p1) + p.p2) / 3.0f;
            const double depth = dot(q.normal, q.centroid - centroid);
            EXPECT_TRUE(p.label == kLabelInside ? depth >= -1e-5 : depth <= 1e-5) << depth;
        }
        const double whole = area(s.vertices[0], s.vertices[1], s.vertices[2]);
        EXPECT_NEAR(sum, whole, 1e-5 * (1 + whole));
    }
    EXPECT_GT(cut, 500);
}

// A sampled sphere of radius 1 at the origin with its classified tree, as object 1.
struct SphereFixture : ::testing::Test {
    Solid object1;
    std::unique_ptr<OctreeNode> object1Tree;
    Solid object2;
    SplitList pieces;
    void SetUp() override {
        ASSERT_TRUE(generateObject(PrimitiveParameters::sphere(16, 24, 1), 0.03f, object1).ok());
        object1Tree = prepareOctree(object1);
        object2 = oneTriangle({0, 0, 0}, {0.01f, 0, 0}, {0, 0.01f, 0});
        object2.edgeLimit = 0.05f;
    }
    // A triangle of object 2 with the given centroid (corners moved there).
    Triangle& place(Vector4 c) {
        object2.vertices = {c + Vector4(-0.01f, -0.01f, 0), c + Vector4(0.02f, -0.01f, 0),
                            c + Vector4(-0.01f, 0.02f, 0)};
        object2.computeTriangleData();
        object2.triangles[0].label = kLabelNone;
        return object2.triangles[0];
    }
    OctreeNode* findLeaf(int32_t type) {
        std::vector<OctreeNode*> stack = {object1Tree.get()};
        while (!stack.empty()) {
            OctreeNode* n = stack.back();
            stack.pop_back();
            if (n->isLeaf() && n->type == type && n->level == octreeLevels) {
                return n;
            }
            for (auto& c : n->children) {
                if (c) {
                    stack.push_back(c.get());
                }
            }
        }
        return nullptr;
    }
};

TEST_F(SphereFixture, InnerAndOuterLeavesDecideWithoutCutting) {
    TriangleCutter cutter(object1, object2, 1, pieces);
    EXPECT_EQ(cutter.testTriangle(*object1Tree, place({0.05f, 0.02f, 0.01f})), kLabelInside);
    EXPECT_EQ(cutter.testTriangle(*object1Tree, place({1.05f, 0.02f, 1.03f})), kLabelOutside);
    EXPECT_TRUE(pieces.empty());
}

TEST_F(SphereFixture, TrianglesCrossingTheSurfaceAreCutOnlyWithEdgeSampling) {
    for (int32_t sampling : {0, 1}) {
        pieces.clear();
        TriangleCutter cutter(object1, object2, sampling, pieces);
        object2.vertices = {{0.9f, 0, 0}, {1.1f, 0.01f, 0}, {0.95f, 0.04f, 0.1f}};
        object2.computeTriangleData();
        Triangle& t = object2.triangles[0];
        t.label = kLabelNone;
        const int32_t r = cutter.testTriangle(*object1Tree, t);
        if (sampling == 0) {
            EXPECT_TRUE(r == kLabelInside || r == kLabelOutside);
            EXPECT_TRUE(pieces.empty());
        } else {
            EXPECT_EQ(r, kLabelCut);
            EXPECT_GE(pieces.size(), 2u);
            EXPECT_EQ(pieces[0].owner, 2);
        }
    }
}

// An undecided or unsorted leaf takes the side of the nearest surface triangle of the whole
// tree, not "outside" by default.
TEST_F(SphereFixture, UndecidedLeavesTakeTheSideOfTheNearestSurface) {
    for (int32_t forced : {kCellUndecided, kCellUnsorted}) {
        for (int32_t original : {kCellInner, kCellOuter}) {
            OctreeNode* leaf = findLeaf(original);
            ASSERT_NE(leaf, nullptr);
            leaf->type = forced;
            TriangleCutter cutter(object1, object2, 1, pieces);
            EXPECT_EQ(cutter.testTriangle(*object1Tree, place(leaf->centre)), original);
            leaf->type = original;
        }
    }
}

TEST(Assembly, OrderRemappingReversalAndBoxFilter) {
    // Object 1: two triangles sharing an edge, one kept; object 2: three triangles, one
    // centroid outside object 1's box.
    Solid object1 =
        test::makeSolid({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}, {0, 1, 2, 1, 3, 2});
    object1.computeTriangleData();
    object1.triangles[0].label = kLabelCut;
    object1.triangles[1].label = kLabelOutside;
    Solid object2 = test::makeSolid(
        {{0.2f, 0.2f, 0}, {0.4f, 0.2f, 0}, {0.2f, 0.4f, 0}, {5, 5, 0}, {6, 5, 0}, {5, 6, 0}},
        {0, 1, 2, 3, 4, 5, 2, 1, 0});
    object2.computeTriangleData();
    object2.triangles[0].label = kLabelInside;
    object2.triangles[1].label = kLabelInside;  // outside object 1's box: dropped
    object2.triangles[2].label = kLabelOutside;
    SplitList pieces;
    SplitTriangle p;
    p.p0 = {0, 0, 0};
    p.p1 = {2, 0, 0};
    p.p2 = {0, 2, 0};
    p.normal = {0, 0, 1};
    p.label = kLabelInside;
    p.owner = 2;
    appendPiece(pieces, p);
    p.owner = 1;
    appendPiece(pieces, p);  // owner 1 labelled 5: not kept in a difference
    p.label = kLabelOutside;
    p.p2 = {0, 3, 0};
    appendPiece(pieces, p);

    EXPECT_EQ(assembleResult(object1, object2, pieces, kLabelOutside, kLabelInside,
                             BoxFilter{object1.minCorner, object1.maxCorner}),
              2);
    ASSERT_EQ(object1.triangleCount(), 4);
    ASSERT_EQ(object1.vertexCount(), 12);
    // Object 1's kept triangle (1, 3, 2) first, its corners numbered by first use.
    EXPECT_EQ(object1.triangles[0].i0, 0);
    EXPECT_EQ(object1.vertices[0], Vector4(1, 0, 0));
    EXPECT_EQ(object1.vertices[1], Vector4(1, 1, 0));
    EXPECT_EQ(object1.vertices[2], Vector4(0, 1, 0));
    // Object 2's triangle reversed: corners 0, 2, 1, normal negated.
    const Triangle& r = object1.triangles[1];
    EXPECT_EQ(object1.vertices[r.i0], Vector4(0.2f, 0.2f, 0));
    EXPECT_EQ(object1.vertices[r.i1], Vector4(0.2f, 0.4f, 0));
    EXPECT_EQ(object1.vertices[r.i2], Vector4(0.4f, 0.2f, 0));
    EXPECT_EQ(r.normal.z, -1.0f);
    // Pieces last: object 2's reversed, object 1's as made.
    EXPECT_EQ(object1.vertices[7], Vector4(0, 2, 0));
    EXPECT_EQ(object1.vertices[8], Vector4(2, 0, 0));
    EXPECT_EQ(object1.vertices[11], Vector4(0, 3, 0));
    for (const Triangle& t : object1.triangles) {
        EXPECT_EQ(t.label, kLabelNone);
    }
    // The box covers the pieces too.
    EXPECT_EQ(object1.maxCorner, Vector4(2, 3, 0));
    EXPECT_EQ(object1.minCorner, Vector4(0, 0, 0));
}

}  // namespace
}  // namespace korvan
