#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <ostream>
#include <string>

#include "generator/generators.h"
#include "meshio/edge_sampling.h"
#include "support/mesh_checks.h"

namespace korvan {
namespace {

struct ShapeCase {
    std::string name;
    std::function<void(Solid&)> make;
    int32_t vertices;
    int32_t triangles;
    double volume;     // of the polyhedron, where it has a closed form; < 0: skip
    double tolerance;  // relative
    friend void PrintTo(const ShapeCase& c, std::ostream* os) { *os << c.name; }
};

// Exact volumes of the polyhedra the generators build (with their 3.14159 angles, the
// rings close a hair short of a full turn, hence the small tolerances).
double prismVolume(int n, double r, double h) {
    return 0.5 * n * r * r * std::sin(2 * M_PI / n) * h;
}

std::vector<ShapeCase> shapeCases() {
    return {
        {"sphere_3_3", [](Solid& s) { MakeSphere(s, 3, 3, 1.0f); }, 8, 12, -1, 0},
        {"sphere_3_4", [](Solid& s) { MakeSphere(s, 3, 4, 2.0f); }, 10, 16, -1, 0},
        {"sphere_40_60", [](Solid& s) { MakeSphere(s, 40, 60, 1.0f); }, 39 * 60 + 2, 2 * 39 * 60,
         4.0 / 3.0 * M_PI, 0.01},
        {"cube", [](Solid& s) { MakeCube(s, 2.0f); }, 8, 12, 8.0, 1e-9},
        {"box", [](Solid& s) { MakeBox(s, 1.0f, 2.0f, 3.0f); }, 8, 12, 6.0, 1e-9},
        {"cylinder_3", [](Solid& s) { MakeCylinder(s, 3, 1.0f, 2.0f); }, 8, 12,
         prismVolume(3, 1, 2), 1e-4},
        {"cylinder_64", [](Solid& s) { MakeCylinder(s, 64, 0.5f, 3.0f); }, 130, 256,
         prismVolume(64, 0.5, 3), 1e-4},
        {"cone_3", [](Solid& s) { MakeCone(s, 3, 1.0f, 2.0f); }, 5, 6, prismVolume(3, 1, 2) / 3.0,
         1e-4},
        {"cone_100", [](Solid& s) { MakeCone(s, 100, 2.0f, 1.0f); }, 102, 200,
         prismVolume(100, 2, 1) / 3.0, 1e-4},
    };
}

class GeneratedShape : public testing::TestWithParam<ShapeCase> {};

TEST_P(GeneratedShape, IsClosedOutwardAndOfTheExpectedSize) {
    const ShapeCase& c = GetParam();
    Solid s;
    c.make(s);
    EXPECT_EQ(s.loaded, 1);
    EXPECT_EQ(s.vertexCount(), c.vertices);
    EXPECT_EQ(s.triangleCount(), c.triangles);
    EXPECT_EQ(test::openEdgeCount(s), 0);
    EXPECT_GT(test::signedVolume(s), 0.0);
    if (c.volume > 0) {
        EXPECT_NEAR(test::signedVolume(s), c.volume, c.volume * c.tolerance);
    }

    // Every normal points away from the centre (all shapes are star-shaped about the origin).
    s.computeTriangleData();
    for (const Triangle& t : s.triangles) {
        EXPECT_GT(dot(t.normal, t.centroid), 0.0) << c.name;
        EXPECT_NEAR(length(t.normal), 1.0, 1e-6);
    }
    // Every vertex lies inside the stated box, and the box is centred on the origin.
    for (const Vector4& v : s.vertices) {
        EXPECT_LE(v.x, s.maxCorner.x);
        EXPECT_GE(v.y, s.minCorner.y);
        EXPECT_EQ(v.w, 0.0f);
    }
    EXPECT_EQ(s.centre, Vector4());
    for (const Triangle& t : s.triangles) {
        EXPECT_EQ(t.label, kLabelNone);
    }
}

INSTANTIATE_TEST_SUITE_P(AllShapes, GeneratedShape, testing::ValuesIn(shapeCases()),
                         [](const auto& info) { return info.param.name; });

TEST(Sphere, RingsUseTheApproximatePi) {
    Solid s;
    MakeSphere(s, 3, 4, 1.0f);
    const double phi = 3.14159 / 3;
    EXPECT_EQ(s.vertices[1],
              Vector4(static_cast<float>(std::sin(phi)), static_cast<float>(std::cos(phi)), 0.0f));
    EXPECT_NEAR(s.vertices[5].y, -0.5, 1e-5);
    EXPECT_EQ(s.vertices[0], Vector4(0, 1, 0));
    EXPECT_EQ(s.vertices[9], Vector4(0, -1, 0));
    // Caps: north triangles first, south cap last.
    EXPECT_EQ(s.triangles[0].i0, 0);
    EXPECT_EQ(s.triangles[15].i0, 9);
}

// A rejected parameter, and sampling that would not fit in memory, leave the target as it was.
TEST(GenerateObject, RefusesWithoutChangingTheTargetAndSamplesTheNewMesh) {
    Solid target;
    MakeCube(target, 1.0f);
    target.wireframe = 1;
    Status s = generateObject(PrimitiveParameters::box(1, 1, 0), 0.01f, target);
    EXPECT_FALSE(s.ok());
    EXPECT_EQ(s.message(), "Nedozvoljena vrijednost parametra");
    s = generateObject(PrimitiveParameters::sphere(1000, 1000, 1.0f), 1e-5f, target);
    EXPECT_EQ(s.message(), kOutOfMemoryMessage);
    EXPECT_FALSE(s.ok());
    EXPECT_EQ(target.triangleCount(), 12);
    EXPECT_EQ(target.loaded, 1);
    // Accepted, the new mesh is sampled and complete; the display switches stay.
    ASSERT_TRUE(generateObject(PrimitiveParameters::cube(1.0f), 0.05f, target).ok());
    EXPECT_EQ(target.wireframe, 1);
    EXPECT_FLOAT_EQ(target.edgeLimit, static_cast<float>(std::sqrt(3.0) * 0.05f));
    EXPECT_LE(test::longestEdge(target), target.edgeLimit);
    EXPECT_NE(target.triangles.back().normal, Vector4());
}

}  // namespace
}  // namespace korvan
