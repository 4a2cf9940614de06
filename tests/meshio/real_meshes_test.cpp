// The reader on meshes made by other programs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <ostream>
#include <string>

#include "formats/mesh_file.h"
#include "meshio/edge_sampling.h"
#include "meshio/load.h"
#include "meshio/obj.h"
#include "support/mesh_checks.h"

namespace korvan {
namespace {

struct RealMesh {
    std::string file;
    int32_t vertices;
    int32_t triangles;
    bool closed;
    friend void PrintTo(const RealMesh& m, std::ostream* os) { *os << m.file; }
};

class RealMeshTest : public testing::TestWithParam<RealMesh> {};

// Read as it is: the file's counts, in the unit box; sampled: no edge beyond the limit. The
// closed ones stay closed and outward.
TEST_P(RealMeshTest, ReadsWithTheFilesCountsAndStaysClosedWhenSampled) {
    const RealMesh& m = GetParam();
    if (!std::filesystem::exists(test::dataFile(m.file))) {
        GTEST_SKIP() << "shared data folder not beside the checkout";
    }
    Solid s;
    const Status status = readObj(test::dataFile(m.file), s);
    ASSERT_TRUE(status.ok()) << status.message();
    EXPECT_EQ(s.vertexCount(), m.vertices);
    EXPECT_EQ(s.triangleCount(), m.triangles);
    EXPECT_FLOAT_EQ(std::max({s.maxCorner.x, s.maxCorner.y, s.maxCorner.z}), 1.0f);
    for (const Vector4& v : s.vertices) {
        ASSERT_LE(std::max({std::fabs(v.x), std::fabs(v.y), std::fabs(v.z)}), 1.0f + 1e-6f);
    }
    Solid sampled;
    ASSERT_TRUE(loadObject(test::dataFile(m.file), 0.02f, sampled).ok());
    EXPECT_LE(test::longestEdge(sampled), sampled.edgeLimit);
    if (m.closed) {
        EXPECT_GT(test::signedVolume(s), 0.0);
        EXPECT_EQ(test::openEdgeCount(s), 0);
        EXPECT_EQ(test::openEdgeCount(sampled), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    SharedData, RealMeshTest,
    testing::Values(RealMesh{"conway-hart-A7-flipped.obj", 14, 24, true},
                    RealMesh{"netgen-hinge.obj", 598, 1212, true},
                    RealMesh{"netgen-part1.obj", 190, 380, true},
                    RealMesh{"npm-bunny.obj", 1839, 3674, true},
                    RealMesh{"openfoam-blob.obj", 1538, 3072, true},
                    RealMesh{"openfoam-flange.obj", 3228, 6468, true},
                    RealMesh{"prusa-box.obj", 8, 12, true},
                    RealMesh{"prusa-m3-hex-nut.obj", 312, 620, true},
                    RealMesh{"prusa-sphere.obj", 614, 1224, true},
                    RealMesh{"prusa-torus.obj", 1536, 3072, true},
                    RealMesh{"qt3d-trefoil.obj", 4000, 8000, true},
                    RealMesh{"open-npm-primitive-torus.obj", 1225, 2304, false},
                    RealMesh{"open-npm-teapot.obj", 529, 992, false},
                    RealMesh{"full-style/converted-conway-hart-tI.obj", 60, 116, true},
                    RealMesh{"full-style/cura-cremaker-platform-200.obj", 532, 1060, true},
                    RealMesh{"full-style/cura-tinyboy-ra20.obj", 3064, 6144, true},
                    RealMesh{"full-style/qt3d-ball.obj", 1986, 3968, true},
                    RealMesh{"full-style/sh3d-scopia-old-jar.obj", 784, 1568, true}),
    [](const auto& info) {
        std::string name = info.param.file.substr(0, info.param.file.size() - 4);
        std::replace_if(
            name.begin(), name.end(), [](unsigned char c) { return !std::isalnum(c); }, '_');
        return name;
    });

}  // namespace
}  // namespace korvan
