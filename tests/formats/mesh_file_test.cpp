// Mesh files as a user chains them: every format gives back exactly what was written, closed
// results stay solids through files, and parts keep their millimetres.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "closed/closed_boolean.h"
#include "formats/mesh_file.h"
#include "generator/generators.h"
#include "geometry/mesh_topology.h"
#include "meshio/obj.h"
#include "scene/scene.h"
#include "support/format_checks.h"
#include "support/mesh_checks.h"

namespace korvan {
namespace {

// Every format, and the text forms of the two that also have binary ones.
struct Written {
    const char* name;
    WriteOptions options;
};
const Written kFormats[] = {{"m.obj", {}},     {"m.stl", {}}, {"m.STL", {true}}, {"m.ply", {}},
                            {"m.Ply", {true}}, {"m.off", {}}, {"m.3mf", {}}};

bool welds(const std::string& name) {
    return formatOfPath(name) == MeshFormat::Stl;
}

// Each format reads back the same vertices to the bit and the same triangles; STL, which keeps
// no shared vertices, the same corner positions and one vertex per distinct position. A second
// write gives the same bytes.
void roundTrip(const Solid& original, const std::string& what) {
    SCOPED_TRACE(what);
    test::TempDir dir;
    for (const Written& f : kFormats) {
        SCOPED_TRACE(f.name);
        const std::string path = dir.path(f.name);
        ASSERT_TRUE(writeMesh(original, path, f.options).ok());
        const std::string bytes = test::readFile(path);
        ASSERT_TRUE(writeMesh(original, path, f.options).ok());
        EXPECT_TRUE(test::readFile(path) == bytes) << "not deterministic";
        Solid back;
        const Status s = readMesh(path, back, test::keepCoordinates());
        ASSERT_TRUE(s.ok()) << s.message();
        if (!welds(f.name)) {
            test::expectSameMesh(back, original);
            continue;
        }
        EXPECT_EQ(back.vertexCount(), analyzeTopology(original).weldedVertices);
        ASSERT_EQ(back.triangleCount(), original.triangleCount());
        const auto corner = [](const Solid& m, size_t t, int k) {
            const Triangle& c = m.triangles[t];
            return m.vertices[static_cast<size_t>(k == 0 ? c.i0 : k == 1 ? c.i1 : c.i2)];
        };
        for (size_t t = 0; t < original.triangles.size(); ++t) {
            for (int k = 0; k < 3; ++k) {
                ASSERT_EQ(corner(back, t, k), corner(original, t, k)) << "triangle " << t;
            }
        }
    }
}

TEST(MeshFiles, EveryFormatGivesBackTheSameVerticesAndTriangles) {
    const std::vector<std::string> names = test::dataMeshNames();
    ASSERT_GE(names.size(), 14u);
    for (const std::string& name : names) {
        Solid mesh;
        ASSERT_TRUE(readObj(test::dataFile(name), mesh, test::keepCoordinates()).ok()) << name;
        roundTrip(mesh, name);
    }
    Solid primitive;
    MakeSphere(primitive, 24, 32, 1.5f);
    roundTrip(primitive, "sphere");
    MakeCube(primitive, 2.0f);
    roundTrip(primitive, "cube");
    MakeBox(primitive, 1.0f, 0.3f, 7.0f);
    roundTrip(primitive, "box");
    MakeCylinder(primitive, 40, 0.7f, 3.0f);
    roundTrip(primitive, "cylinder");
    MakeCone(primitive, 40, 0.7f, 3.0f);
    roundTrip(primitive, "cone");
    // Numbers a writer must not round: -0, subnormals, the float range's ends (3MF readers take
    // nothing beyond 1e9), integers past 2^24.
    roundTrip(test::makeSolid({{0.1f, -0.0f, 1e-40f},
                               {123456.789f, 1e9f, -1.1754944e-38f},
                               {-0.3333333f, -1e9f, 16777216.0f},
                               {7.0e-3f, 999999.94f, -3.4e-5f}},
                              {0, 1, 2, 0, 2, 3}),
              "awkward numbers");
    // Random floats of every size up to 3MF's limit of a billion.
    std::mt19937 random(7);
    std::uniform_int_distribution<uint32_t> bits;
    std::vector<Vector4> points;
    std::vector<int32_t> corners;
    while (points.size() < 300) {
        float c[3];
        for (float& x : c) {
            do {
                x = std::bit_cast<float>(bits(random));
            } while (!(std::fabs(x) <= 1e9f) || std::fabs(x) < 1e-30f);
        }
        corners.push_back(static_cast<int32_t>(points.size()));
        points.emplace_back(c[0], c[1], c[2]);
    }
    roundTrip(test::makeSolid(points, corners), "random floats");
}

TEST(MeshFiles, RefusedWritesLeaveTheOldFileUntouched) {
    test::TempDir dir;
    const Solid bad = test::makeSolid({{0, 0, 0}, {NAN, 0, 0}, {0, 1, 0}}, {0, 1, 2});
    for (const Written& f : kFormats) {
        const std::string path = dir.path(f.name);
        test::writeFile(path, "stari sadrzaj");
        const Status s = writeMesh(bad, path, f.options);
        EXPECT_FALSE(s.ok()) << f.name;
        EXPECT_EQ(s.message(), kSaveErrorMessage);
        EXPECT_EQ(test::readFile(path), "stari sadrzaj") << f.name;
        EXPECT_EQ(writeMesh(test::preloaded(), dir.path("no/") + f.name, f.options).message(),
                  kSaveErrorMessage);
    }
    EXPECT_EQ(test::entryCount(dir.dir()), 7) << "a temporary was left behind";
}

TEST(MeshFiles, TheExtensionChoosesTheFormatInAnyCase) {
    EXPECT_EQ(formatOfPath("a/b.StL"), MeshFormat::Stl);
    EXPECT_EQ(formatOfPath("x.PLY"), MeshFormat::Ply);
    EXPECT_EQ(formatOfPath("x.oFf"), MeshFormat::Off);
    EXPECT_EQ(formatOfPath("x.3MF"), MeshFormat::ThreeMf);
    EXPECT_EQ(formatOfPath("x.obj"), MeshFormat::Obj);
    EXPECT_EQ(formatOfPath("x.stl.txt"), MeshFormat::Obj);
    EXPECT_EQ(formatOfPath("stl"), MeshFormat::Obj);

    // A file that is not what its name says is refused, and the object keeps its mesh.
    test::TempDir dir;
    Solid cube;
    MakeCube(cube, 1.0f);
    ASSERT_TRUE(writeMesh(cube, dir.path("cube.obj")).ok());
    for (const char* name : {"cube.stl", "cube.3mf", "cube.ply"}) {
        test::expectRefused({name, test::readFile(dir.path("cube.obj")), ""}, name);
    }
}

// A ball of the closed engine's chain: a sphere moved a little further each step.
void subtractBall(const Solid& work, int step, Solid& result) {
    Solid ball;
    MakeSphere(ball, 10, 14, 0.45f);
    const float a = 0.6f * static_cast<float>(step);
    const Vector4 at(0.9f * std::cos(a), 0.35f * static_cast<float>(step % 3) - 0.3f,
                     0.9f * std::sin(a));
    const Status s = closedBoolean(work, ball, BooleanOp::Difference, result, nullptr, 0, at);
    ASSERT_TRUE(s.ok()) << "step " << step << ": " << s.message();
}

TEST(MeshFiles, ClosedResultsChainedThroughFilesStaySolids) {
    // The chain kept in memory.
    Solid memory;
    MakeCube(memory, 2.0f);
    std::vector<double> volumes;
    for (int step = 0; step < 10; ++step) {
        Solid next;
        subtractBall(memory, step, next);
        memory.swap(next);
        volumes.push_back(test::signedVolume(memory));
    }
    test::TempDir dir;
    for (const Written& f : kFormats) {
        Solid work;
        MakeCube(work, 2.0f);
        for (int step = 0; step < 10; ++step) {
            Solid next;
            subtractBall(work, step, next);
            const std::string path = dir.path(f.name);
            ASSERT_TRUE(writeMesh(next, path, f.options).ok());
            ASSERT_TRUE(readMesh(path, work, test::keepCoordinates()).ok())
                << f.name << " " << step;
            SCOPED_TRACE(std::string(f.name) + " step " + std::to_string(step));
            EXPECT_EQ(test::openEdgeCount(work), 0);
            EXPECT_EQ(test::degenerateTriangles(work), 0);
            if (!welds(f.name)) {
                const test::IndexFaults faults = test::indexManifoldFaults(work);
                EXPECT_EQ(faults.edges, 0);
                EXPECT_EQ(faults.vertices, 0);
            }
            EXPECT_NEAR(test::signedVolume(work), volumes[static_cast<size_t>(step)], 1e-9);
        }
    }
}

// A plate of 100 x 60 x 8 mm with its corner at the origin, and a bolt of radius 4 mm and
// length 20 mm standing through it at (30, 20): the generator's cylinder turned from y to z.
// Everything is multiplied by `scale`.
void writePlateAndBolt(const std::string& platePath, const std::string& boltPath, int sides,
                       float scale) {
    Solid plate;
    MakeBox(plate, 100.0f, 60.0f, 8.0f);
    plate.translate(Vector4(50.0f, 30.0f, 4.0f));
    for (Vector4& v : plate.vertices) {
        v = v * scale;
    }
    ASSERT_TRUE(writeMesh(plate, platePath).ok());
    Solid bolt;
    MakeCylinder(bolt, sides, 4.0f, 20.0f);
    for (Vector4& v : bolt.vertices) {
        v = Vector4(v.x + 30.0f, v.z + 20.0f, v.y + 4.0f) * scale;
    }
    for (Triangle& t : bolt.triangles) {
        t.setIndices(t.i0, t.i2, t.i1);  // swapping y and z mirrors: turn the faces back out
    }
    ASSERT_TRUE(writeMesh(bolt, boltPath).ok());
}

double differenceVolume(const std::string& plate, const std::string& bolt, bool closed) {
    Scene scene;
    scene.m_keepCoordinates = true;
    scene.m_closedResult = closed;
    EXPECT_TRUE(scene.LoadObject(1, plate).ok());
    EXPECT_TRUE(scene.LoadObject(2, bolt).ok());
    EXPECT_TRUE(scene.BooleanOperation(BooleanOp::Difference).ok());
    return test::signedVolume(scene.m_object1);
}

TEST(MeshFiles, PartsKeepTheirMillimetresAndPlaces) {
    constexpr int kSides = 64;
    // The hole is the bolt's polygon, not a circle.
    const double hole = 0.5 * kSides * 16.0 * std::sin(2.0 * std::numbers::pi / kSides) * 8.0;
    const double expected = 100.0 * 60.0 * 8.0 - hole;
    test::TempDir dir;
    writePlateAndBolt(dir.path("plate.stl"), dir.path("bolt.3mf"), kSides, 1.0f);

    Scene scene;
    scene.m_keepCoordinates = true;
    scene.m_closedResult = true;
    ASSERT_TRUE(scene.LoadObject(1, dir.path("plate.stl")).ok());
    ASSERT_TRUE(scene.LoadObject(2, dir.path("bolt.3mf")).ok());
    EXPECT_EQ(scene.m_object1.maxCorner, Vector4(100.0f, 60.0f, 8.0f));
    ASSERT_TRUE(scene.BooleanOperation(BooleanOp::Difference).ok());
    const Solid& r = scene.m_object1;
    EXPECT_NEAR(test::signedVolume(r), expected, 1e-9 * expected);
    // Still in millimetres, with the hole where the bolt was.
    EXPECT_EQ(r.minCorner, Vector4(0.0f, 0.0f, 0.0f));
    EXPECT_EQ(r.maxCorner, Vector4(100.0f, 60.0f, 8.0f));
    double nearest = 1e9;
    for (const Vector4& v : r.vertices) {
        if (v.z == 8.0f) {
            nearest = std::fmin(nearest, std::hypot(v.x - 30.0, v.y - 20.0));
        }
    }
    // On the bolt's polygon: between its sides' middles and its corners.
    EXPECT_GT(nearest, 4.0 * std::cos(std::numbers::pi / kSides) - 1e-5);
    EXPECT_LT(nearest, 4.0 + 1e-5);

    // The octree engine's result in millimetres is its result for the same parts drawn 64
    // times smaller, scaled up: the units change nothing.
    writePlateAndBolt(dir.path("small-plate.obj"), dir.path("small-bolt.ply"), kSides,
                      1.0f / 64.0f);
    const double mm = differenceVolume(dir.path("plate.stl"), dir.path("bolt.3mf"), false);
    const double small =
        differenceVolume(dir.path("small-plate.obj"), dir.path("small-bolt.ply"), false);
    EXPECT_NEAR(mm, small * 64.0 * 64.0 * 64.0, 1e-9 * expected);
    EXPECT_NEAR(mm, expected, 0.02 * expected);

    // Without the mode both are scaled into the unit box on their own, as ever.
    Scene unit;
    ASSERT_TRUE(unit.LoadObject(1, dir.path("plate.stl")).ok());
    EXPECT_EQ(unit.m_object1.maxCorner.x, 1.0f);
    EXPECT_EQ(unit.m_object1.fileMaxCorner, Vector4(100.0f, 60.0f, 8.0f));
}

}  // namespace
}  // namespace korvan
