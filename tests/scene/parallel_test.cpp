// The octree engine gives the same bytes with any number of threads: every parallel phase
// keeps the order of the one-thread run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "boolean_cases.h"
#include "support/format_checks.h"

namespace korvan {
namespace {

constexpr int32_t kThreadCounts[] = {2, 4};

struct Case {
    const char* name;
    PrimitiveParameters object1;
    PrimitiveParameters object2;
    Vector4 offset;
    BooleanOp op;
    float factor;
    bool milling;  // two differences in a row, as milling frames
};

// Large enough (up to 100k triangles an operand) that every phase splits its work; the small
// ones take the one-thread paths, which must agree all the same.
const Case kCases[] = {
    {"MillingFrames", PrimitiveParameters::cube(2), PrimitiveParameters::sphere(24, 32, 0.6f),
     Vector4(0.3f, 0.2f, 0.9f), BooleanOp::Difference, 0.0075f, true},
    {"LargeUnion", PrimitiveParameters::sphere(24, 32, 1.0f),
     PrimitiveParameters::cylinder(40, 0.5f, 3.0f), Vector4(0.2f, 0.1f, 0.0f), BooleanOp::Union,
     0.012f, false},
    {"LargeIntersection", PrimitiveParameters::cube(2), PrimitiveParameters::cone(30, 1.0f, 2.0f),
     Vector4(0.5f, 0.3f, 0.2f), BooleanOp::Intersection, 0.012f, false},
    {"SmallDifference", PrimitiveParameters::sphere(16, 24, 0.8f),
     PrimitiveParameters::sphere(16, 24, 0.8f), Vector4(0.4f, 0.3f, 0.2f), BooleanOp::Difference,
     0.03f, false},
    {"SharedFaceUnion", PrimitiveParameters::cube(1), PrimitiveParameters::cube(1),
     Vector4(1.0f, 0.0f, 0.0f), BooleanOp::Union, 0.02f, false},
};

std::string runWithThreads(const Case& c, int32_t threads) {
    Scene scene;
    scene.m_threads = threads;
    scene.m_animationRunning = c.milling;
    EXPECT_TRUE(test::runCase(scene, c.object1, c.object2, c.offset, c.op, c.factor).ok());
    if (c.milling) {
        scene.m_object2Offset = Vector4(-0.2f, 0.1f, 0.0f);
        EXPECT_TRUE(scene.BooleanOperation(c.op).ok());
    }
    return test::savedBytes(scene.m_object1, "result.obj");
}

TEST(ParallelOperation, GivesTheOneThreadBytes) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const std::string serial = runWithThreads(c, 1);
        ASSERT_GT(serial.size(), 1000u);
        for (const int32_t threads : kThreadCounts) {
            SCOPED_TRACE(threads);
            EXPECT_TRUE(runWithThreads(c, threads) == serial);
        }
    }
}

// Milling frames whose workpiece tree is brought up to date where the tool cut give the
// bytes of frames that build it anew (a touched workpiece always gets a new tree). The tool
// stays inside, where no stray piece can move the workpiece's box and force a new tree.
TEST(LocalFrames, GiveTheBytesOfRebuiltTrees) {
    const Case& c = kCases[0];
    std::string results[2];
    int32_t updates = 0;
    for (const bool rebuild : {false, true}) {
        Scene scene;
        scene.m_animationRunning = true;
        ASSERT_TRUE(test::runCase(scene, c.object1, PrimitiveParameters::sphere(16, 24, 0.3f),
                                  Vector4(-0.5f, 0.3f, 0.5f), c.op, c.factor)
                        .ok());
        for (int step = 0; step < 5; ++step) {
            scene.m_object2Offset = Vector4(0.15f, 0.0f, -0.02f);
            if (rebuild) {
                scene.m_object1.touch();
            }
            ASSERT_TRUE(scene.BooleanOperation(c.op).ok());
            updates += scene.lastOperation().treeUpdated ? 1 : 0;
        }
        results[rebuild ? 1 : 0] = test::savedBytes(scene.m_object1, "result.obj");
    }
    EXPECT_GE(updates, 3);
    EXPECT_TRUE(results[0] == results[1]);
}

// The assembly hands over normals and centroids itself; they must be what recomputing them from
// the result's vertices gives, or the next operation would sort by stale data.
TEST(ParallelOperation, LeavesTriangleDataAsRecomputed) {
    const Case& c = kCases[0];
    Scene scene;
    scene.m_threads = 2;
    ASSERT_TRUE(test::runCase(scene, c.object1, c.object2, c.offset, c.op, c.factor).ok());
    const std::vector<Triangle> handed = scene.m_object1.triangles;
    scene.m_object1.computeTriangleData();
    ASSERT_EQ(handed.size(), scene.m_object1.triangles.size());
    size_t differing = 0;
    for (size_t k = 0; k < handed.size(); ++k) {
        const Triangle& a = handed[k];
        const Triangle& b = scene.m_object1.triangles[k];
        differing += a.centroid == b.centroid && a.normal == b.normal ? 0 : 1;
    }
    EXPECT_EQ(differing, 0u);
}

}  // namespace
}  // namespace korvan
