#include <gtest/gtest.h>

#include <sys/resource.h>

#include "geometry/memory_budget.h"
#include "geometry/solid.h"
#include "geometry/statistics.h"
#include "support/mesh_checks.h"

namespace korvan {
namespace {

TEST(Solid, TranslateMovesVerticesCentroidsAndBoxOnly) {
    Solid s = test::makeSolid({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2});
    s.computeTriangleData();
    s.triangles[0].label = kLabelInside;
    const Vector4 d(1, 2, 3);
    s.translate(d);

    const Vector4 moved = s.triangles[0].centroid;
    s.computeTriangleData();
    EXPECT_NEAR(moved.x, s.triangles[0].centroid.x, 1e-6);
    EXPECT_NEAR(moved.y, s.triangles[0].centroid.y, 1e-6);
    EXPECT_NEAR(moved.z, s.triangles[0].centroid.z, 1e-6);
    EXPECT_EQ(s.triangles[0].normal, Vector4(0, 0, 1));
    EXPECT_EQ(s.triangles[0].label, kLabelInside);
    EXPECT_EQ(s.vertices[1], Vector4(2, 2, 3));
    EXPECT_EQ(s.minCorner, Vector4(1, 2, 3));
    EXPECT_EQ(s.maxCorner, Vector4(2, 3, 3));
}

TEST(Solid, NormalizeOfAPointOnlyShifts) {
    Solid s = test::makeSolid({{3, 4, 5}, {3, 4, 5}, {3, 4, 5}}, {0, 1, 2});
    ASSERT_TRUE(s.normalizeToUnitBox());
    for (const Vector4& v : s.vertices) {
        EXPECT_EQ(v, Vector4());
    }
}

// The drawing layer keeps a display list per solid until the revision moves on: every change
// of the geometry, and every exchange of meshes, must give a revision never seen before there.
TEST(Solid, EveryChangeOfTheMeshGivesANewRevision) {
    Solid a = test::makeSolid({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2});
    Solid b = test::makeSolid({{0, 0, 0}, {2, 0, 0}, {0, 2, 0}}, {0, 1, 2});
    b.revision = a.revision;
    uint64_t seenA = a.revision;
    uint64_t seenB = b.revision;
    const auto changed = [&](const char* what) {
        EXPECT_NE(a.revision, seenA) << what;
        EXPECT_NE(b.revision, seenB) << what;
        seenA = a.revision;
        seenB = b.revision;
    };
    a.swap(b);
    changed("swap");
    a = std::move(b);
    changed("move");
    a.translate(Vector4(1, 0, 0));
    b.clear();
    changed("translate, clear");
    ASSERT_TRUE(a.normalizeToUnitBox());
    b.allocate(3, 1);
    changed("normalize, allocate");
}

// The viewer leaves out what faces away from a mesh known to bound a solid: that knowledge must
// travel with the mesh through copies and exchanges, and end with any change of its geometry.
TEST(Solid, KnowledgeOfBoundingASolidGoesWithTheMeshUntilItChanges) {
    Solid a = test::makeSolid({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2});
    Solid b = test::makeSolid({{0, 0, 0}, {2, 0, 0}, {0, 2, 0}}, {0, 1, 2});
    a.markBoundsSolid();
    a.swap(b);
    EXPECT_FALSE(a.boundsSolid());
    EXPECT_TRUE(b.boundsSolid());
    Solid c;
    c.copyMeshFrom(b);
    EXPECT_TRUE(c.boundsSolid());
    Solid d(std::move(c));
    EXPECT_TRUE(d.boundsSolid());
    EXPECT_FALSE(c.boundsSolid());
    a = std::move(d);
    EXPECT_TRUE(a.boundsSolid());
    c.copyMeshFrom(a);
    c.translate(Vector4(1, 0, 0));
    EXPECT_FALSE(c.boundsSolid());
    a.touch();
    EXPECT_FALSE(a.boundsSolid());
    b.copyMeshFrom(a);
    EXPECT_FALSE(b.boundsSolid());
}

// The memory guard must see the process's own limits, not only the machine's memory.
TEST(MemoryBudget, FollowsTheProcessesDataLimit) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer's own mappings count against the limit";
#endif
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_DATA, &old), 0);
    struct rlimit small = old;
    small.rlim_cur = 300u << 20;
    if (old.rlim_max != RLIM_INFINITY && old.rlim_max < small.rlim_cur) {
        GTEST_SKIP() << "the hard limit is lower still";
    }
    ASSERT_EQ(::setrlimit(RLIMIT_DATA, &small), 0);
    const double limit = memoryLimitBytes();
    ::setrlimit(RLIMIT_DATA, &old);
    EXPECT_LE(limit, 300.0 * (1 << 20));
    EXPECT_GT(memoryLimitBytes(), limit);
}

TEST(Statistics, TextNamesOnlyLoadedObjects) {
    Solid none;
    EXPECT_EQ(objectStatistics(none, none), "Ne postoje nikakvi objekti!");
    Solid cube;
    cube.allocate(8, 12);
    EXPECT_EQ(objectStatistics(cube, none),
              "[Objekt 1]\r\nBroj vrhova: 8\r\nBroj trokuta: 12\r\n\r\n");
    const std::string only2 = objectStatistics(none, cube);
    EXPECT_EQ(only2.rfind("[Objekt 2]\r\n", 0), 0u);
    EXPECT_EQ(only2.find("[Objekt 1]"), std::string::npos);
}

}  // namespace
}  // namespace korvan
