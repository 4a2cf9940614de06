#include <gtest/gtest.h>

#include <cmath>

#include "generator/generators.h"
#include "meshio/edge_sampling.h"
#include "support/mesh_checks.h"

namespace korvan {
namespace {

std::vector<int32_t> cornersOf(const Triangle& t) {
    return {t.i0, t.i1, t.i2};
}

TEST(EdgeSampling, FactorOutsideTheOpenIntervalChangesNothing) {
    for (const float factor : {0.0f, -0.5f, 1.0f, 2.0f, std::nanf("")}) {
        Solid cube;
        MakeCube(cube, 1.0f);
        cube.edgeLimit = 0.125f;
        const uint64_t revision = cube.revision;
        ASSERT_TRUE(sampleEdges(cube, factor).ok());
        EXPECT_EQ(cube.triangleCount(), 12) << factor;
        EXPECT_EQ(cube.edgeLimit, 0.125f);
        EXPECT_EQ(cube.revision, revision);
    }
}

TEST(EdgeSampling, SplitsTheLongestEdgeAtItsMidpointFirst) {
    Solid s = test::makeSolid({{0, 0, 0}, {2, 0, 0}, {0, 1, 0}}, {0, 1, 2});
    ASSERT_TRUE(sampleEdges(s, 0.5f).ok());
    EXPECT_FLOAT_EQ(s.edgeLimit, static_cast<float>(0.5 * std::sqrt(5.0)));
    ASSERT_EQ(s.vertexCount(), 5);
    EXPECT_EQ(s.vertices[3], Vector4(1, 0.5f, 0));
    EXPECT_EQ(s.vertices[4], Vector4(1, 0, 0));
    ASSERT_EQ(s.triangleCount(), 3);
    EXPECT_EQ(cornersOf(s.triangles[0]), (std::vector<int32_t>{0, 4, 3}));
    EXPECT_EQ(cornersOf(s.triangles[1]), (std::vector<int32_t>{2, 0, 3}));
    EXPECT_EQ(cornersOf(s.triangles[2]), (std::vector<int32_t>{1, 3, 4}));
}

TEST(EdgeSampling, TiesPreferTheEarlierEdge) {
    // Equilateral: split on edge 0-1, whose midpoint is the first new vertex.
    const float h = static_cast<float>(std::sqrt(3.0) / 2);
    Solid eq = test::makeSolid({{0, 0, 0}, {1, 0, 0}, {0.5f, h, 0}}, {0, 1, 2});
    ASSERT_TRUE(sampleEdges(eq, 0.55f).ok());
    EXPECT_EQ(eq.vertices[3], Vector4(0.5f, 0, 0));

    // l12 == l20 > l01: split on edge 1-2.
    Solid iso = test::makeSolid({{-0.25f, 0, 0}, {0.25f, 0, 0}, {0, 2, 0}}, {0, 1, 2});
    ASSERT_TRUE(sampleEdges(iso, 0.9f).ok());
    EXPECT_EQ(iso.vertices[3], Vector4(0.125f, 1, 0));
    EXPECT_EQ(cornersOf(iso.triangles[0]), (std::vector<int32_t>{1, 3, 0}));
}

TEST(EdgeSampling, UntouchedTrianglesKeepIndexCornersAndLabel) {
    // A small triangle followed by a large one; only the large one is split.
    Solid s = test::makeSolid({{0, 0, 0}, {0.01f, 0, 0}, {0, 0.01f, 0}, {4, 0, 0}, {0, 4, 0}},
                              {0, 1, 2, 0, 3, 4});
    s.triangles[0].label = kLabelOutside;
    s.triangles[1].label = kLabelInside;
    ASSERT_TRUE(sampleEdges(s, 0.1f).ok());
    EXPECT_EQ(cornersOf(s.triangles[0]), (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(s.triangles[0].label, kLabelOutside);
    EXPECT_EQ(s.triangles[1].label, kLabelNone);  // split
    EXPECT_GT(s.triangleCount(), 2);
}

// Properties of refined primitives: every edge within the limit, the mesh closed once
// coincident midpoints are welded, volume and orientation unchanged, halves in order, and
// nothing left to split.
class SampledShape : public testing::TestWithParam<void (*)(Solid&)> {};

TEST_P(SampledShape, KeepsEdgesWithinTheLimitAndTheMeshClosed) {
    Solid s;
    GetParam()(s);
    s.computeTriangleData();
    std::vector<Vector4> originalNormals;
    for (const Triangle& t : s.triangles) {
        originalNormals.push_back(t.normal);
    }
    const double volume = test::signedVolume(s);
    const Vector4 lo = s.minCorner;
    const Vector4 hi = s.maxCorner;
    const int32_t originalVertices = s.vertexCount();

    ASSERT_TRUE(sampleEdges(s, 0.03f).ok());
    EXPECT_FLOAT_EQ(s.edgeLimit, static_cast<float>(length(hi - lo) * 0.03f));
    EXPECT_LE(test::longestEdge(s), s.edgeLimit);
    EXPECT_EQ(test::openEdgeCount(s), 0);
    EXPECT_NEAR(test::signedVolume(s), volume, std::fabs(volume) * 1e-5);
    EXPECT_EQ(s.minCorner, lo);
    EXPECT_EQ(s.maxCorner, hi);
    // One new vertex per split.
    EXPECT_EQ(s.vertexCount() - originalVertices,
              s.triangleCount() - static_cast<int32_t>(originalNormals.size()));

    // The first half of every original triangle stays at its index, and every piece keeps
    // the orientation of the triangle it came from.
    s.computeTriangleData();
    for (size_t i = 0; i < originalNormals.size(); ++i) {
        EXPECT_GT(dot(s.triangles[i].normal, originalNormals[i]), 0.999);
    }
    for (const Triangle& t : s.triangles) {
        EXPECT_NEAR(length(t.normal), 1.0, 1e-5);
    }
    // A second run with the same factor splits nothing.
    const int32_t triangles = s.triangleCount();
    ASSERT_TRUE(sampleEdges(s, 0.03f).ok());
    EXPECT_EQ(s.triangleCount(), triangles);
}

INSTANTIATE_TEST_SUITE_P(Primitives, SampledShape,
                         testing::Values([](Solid& s) { MakeCube(s, 1.0f); },
                                         [](Solid& s) { MakeSphere(s, 9, 13, 2.0f); },
                                         [](Solid& s) { MakeCylinder(s, 7, 1.0f, 5.0f); },
                                         [](Solid& s) { MakeCone(s, 5, 3.0f, 0.5f); },
                                         [](Solid& s) { MakeBox(s, 0.1f, 10.0f, 1.0f); }));

TEST(EdgeSampling, RefusesARefinementThatCannotFitInMemory) {
    Solid s;
    MakeSphere(s, 1000, 1000, 1.0f);
    s.edgeLimit = 0.5f;
    const Status status = sampleEdges(s, 1e-5f);
    EXPECT_FALSE(status.ok());
    EXPECT_EQ(s.triangleCount(), 1998000);
    EXPECT_EQ(s.vertexCount(), 999002);
    EXPECT_EQ(s.edgeLimit, 0.5f);
}

}  // namespace
}  // namespace korvan
