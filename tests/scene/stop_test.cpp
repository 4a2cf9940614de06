// Stopping the scene's long operations: a stopped operation leaves the scene as it was, and a
// reporter that could stop but does not changes no result.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "meshio/obj.h"
#include "support/mesh_checks.h"

#include "scene/scene.h"

namespace korvan {
namespace {

// Asks to stop as the `stopAt`-th share is set (counting from 1); never when it is 0. A stop
// asked where the phase then counts items lands inside the engines' loops.
struct StoppingReporter final : ProgressReporter {
    explicit StoppingReporter(int stopAt = 0) : stopAt(stopAt) {}
    const std::atomic<bool>* StopFlag() const override { return &flag; }
    void ShowProgressPopup(const std::string&) override { lastShare = 0; }
    void SetProgressShare(double share) override {
        EXPECT_GE(share, lastShare);
        lastShare = share;
        if (++shares == stopAt) {
            flag = true;
        }
    }
    void CountProgress(double upTo, const std::atomic<int64_t>*, int64_t items) override {
        EXPECT_GE(upTo, lastShare);
        EXPECT_GT(items, 0);
        ++counted;
    }
    int stopAt;
    int shares = 0;
    int counted = 0;
    double lastShare = 0;
    std::atomic<bool> flag{false};
};

// A solid's mesh, labels included, bit for bit.
std::string bytesOf(const Solid& s) {
    std::string b;
    const auto add = [&b](const void* p, size_t n) { b.append(static_cast<const char*>(p), n); };
    add(s.vertices.data(), s.vertices.size() * sizeof(Vector4));
    for (const Triangle& t : s.triangles) {
        add(&t.i0, 3 * sizeof(int32_t));
        add(&t.centroid, sizeof(Vector4));
        add(&t.normal, sizeof(Vector4));
        add(&t.label, sizeof(int32_t));
    }
    for (const Vector4* v : {&s.minCorner, &s.maxCorner, &s.centre}) {
        add(v, sizeof(Vector4));
    }
    add(&s.edgeLimit, sizeof(s.edgeLimit));
    add(&s.loaded, sizeof(s.loaded));
    return b;
}

struct SceneState {
    std::string object1, object2;
    uint64_t revision1, revision2;
    Vector4 offset, rotation;
    const OctreeNode* tree1;
    const OctreeNode* tree2;
    bool operator==(const SceneState&) const = default;
};

SceneState stateOf(const Scene& scene) {
    return {bytesOf(scene.m_object1),
            bytesOf(scene.m_object2),
            scene.m_object1.revision,
            scene.m_object2.revision,
            scene.m_object2Offset,
            scene.m_object2Rotation,
            scene.tree(1),
            scene.tree(2)};
}

// Two overlapping spheres in `scene`, object 2 shown moved and turned, after one operation
// so that both trees and the labels are there to be kept.
void setUp(Scene& scene, bool closed) {
    scene.m_samplingFactor = 0.05f;
    scene.m_closedResult = closed;
    ASSERT_TRUE(scene.GenerateObject(1, PrimitiveParameters::sphere(40, 40, 1.0f)).ok());
    ASSERT_TRUE(scene.GenerateObject(2, PrimitiveParameters::sphere(30, 30, 0.6f)).ok());
    scene.m_object2Offset = Vector4(0.7f, 0.1f, 0.0f);
    ASSERT_TRUE(scene.BooleanOperation(BooleanOp::Union).ok());
    ASSERT_TRUE(scene.GenerateObject(2, PrimitiveParameters::sphere(30, 30, 0.5f)).ok());
    scene.m_object2Offset = Vector4(-0.6f, 0.2f, 0.1f);
    scene.m_object2Rotation = Vector4(0, 20, 0);
}

TEST(StopOperation, AStopInAnyPhaseLeavesTheSceneAsItWas) {
    for (const bool closed : {false, true}) {
        Scene reference;
        setUp(reference, closed);
        ASSERT_TRUE(reference.BooleanOperation(BooleanOp::Difference).ok());
        // Phase by phase until the stop comes too late to stop anything.
        for (int stopAt = 1;; ++stopAt) {
            StoppingReporter reporter;
            Scene scene(&reporter);
            setUp(scene, closed);
            reporter.shares = 0;
            reporter.lastShare = 0;
            reporter.stopAt = stopAt;
            const SceneState before = stateOf(scene);
            const Status s = scene.BooleanOperation(BooleanOp::Difference);
            if (s.ok()) {
                EXPECT_GT(stopAt, 2) << closed;
                EXPECT_EQ(bytesOf(scene.m_object1), bytesOf(reference.m_object1)) << closed;
                break;
            }
            EXPECT_EQ(s.message(), "Prekinuto") << closed << " " << stopAt;
            EXPECT_TRUE(stateOf(scene) == before) << closed << " " << stopAt;
            EXPECT_GT(reporter.counted, 0) << closed << " " << stopAt;
            // The scene goes on as if nothing had happened: a reporter that could stop but does
            // not keeps state aside and counts, and the bits are those of a plain scene's.
            reporter.flag = false;
            reporter.stopAt = 0;
            ASSERT_TRUE(scene.BooleanOperation(BooleanOp::Difference).ok());
            EXPECT_EQ(bytesOf(scene.m_object1), bytesOf(reference.m_object1)) << closed;
            EXPECT_EQ(bytesOf(scene.m_object2), bytesOf(reference.m_object2)) << closed;
        }
    }
}

// A sphere of `m` x `n` facets written to sphere.obj in `dir`; its path.
std::string sphereFile(const test::TempDir& dir, int32_t m, int32_t n) {
    const std::string path = dir.path("sphere.obj");
    Solid sphere;
    EXPECT_TRUE(generateObject(PrimitiveParameters::sphere(m, n, 1.0f), 1.0f, sphere).ok());
    EXPECT_TRUE(writeObj(sphere, path).ok());
    return path;
}

TEST(StopOperation, AStoppedLoadOrGenerationKeepsTheObject) {
    test::TempDir dir;
    const std::string path = sphereFile(dir, 300, 300);
    for (int32_t objectNumber : {1, 2}) {
        for (const bool load : {true, false}) {
            int stops = 0;
            for (int stopAt = 1;; ++stopAt) {
                StoppingReporter reporter;
                Scene scene(&reporter);
                setUp(scene, false);
                reporter.stopAt = stopAt;
                reporter.shares = 0;
                const SceneState before = stateOf(scene);
                const Status s =
                    load ? scene.LoadObject(objectNumber, path)
                         : scene.GenerateObject(objectNumber, PrimitiveParameters::cube(1));
                if (s.ok()) {
                    break;
                }
                ++stops;
                EXPECT_EQ(s.message(), "Prekinuto");
                EXPECT_TRUE(stateOf(scene) == before) << objectNumber << " " << stopAt;
            }
            EXPECT_GE(stops, objectNumber == 1 ? 2 : 1) << objectNumber << " " << load;
        }
    }
}

// Both operands made at once (the command-line tool reads its two files so): each object as
// made alone, each kept as it was where its own making fails or is stopped.
TEST(MakeObjects, BothAtOnceAsInTurnsEachKeptWhereItsOwnFails) {
    test::TempDir dir;
    const std::string path = sphereFile(dir, 60, 60);
    const PrimitiveParameters box = PrimitiveParameters::box(1.5f, 1.0f, 0.5f);
    Scene inTurns;
    inTurns.m_samplingFactor = 0.05f;
    ASSERT_TRUE(inTurns.LoadObject(1, path).ok());
    ASSERT_TRUE(inTurns.GenerateObject(2, box).ok());

    Scene atOnce;
    atOnce.m_samplingFactor = 0.05f;
    Status status[2];
    atOnce.MakeObjects({{path, std::nullopt}, {{}, box}}, status);
    ASSERT_TRUE(status[0].ok() && status[1].ok());
    EXPECT_EQ(bytesOf(atOnce.m_object1), bytesOf(inTurns.m_object1));
    EXPECT_EQ(bytesOf(atOnce.m_object2), bytesOf(inTurns.m_object2));
    EXPECT_EQ(bytesOf(atOnce.closedOperand(1)), bytesOf(inTurns.closedOperand(1)));
    EXPECT_EQ(bytesOf(atOnce.closedOperand(2)), bytesOf(inTurns.closedOperand(2)));
    EXPECT_NE(atOnce.tree(1), nullptr);
    ASSERT_TRUE(atOnce.BooleanOperation(BooleanOp::Difference).ok());
    ASSERT_TRUE(inTurns.BooleanOperation(BooleanOp::Difference).ok());
    EXPECT_EQ(bytesOf(atOnce.m_object1), bytesOf(inTurns.m_object1));

    // A file that cannot be read leaves its object alone; the other is made.
    for (int failing = 0; failing < 2; ++failing) {
        Scene scene;
        setUp(scene, false);
        const SceneState before = stateOf(scene);
        Scene::ObjectSource sources[2] = {{path, std::nullopt}, {path, std::nullopt}};
        sources[failing].path = dir.path("missing.obj");
        scene.MakeObjects(sources, status);
        EXPECT_FALSE(status[failing].ok());
        EXPECT_TRUE(status[1 - failing].ok());
        const SceneState after = stateOf(scene);
        EXPECT_EQ(failing == 0 ? after.object1 : after.object2,
                  failing == 0 ? before.object1 : before.object2);
        EXPECT_NE(failing == 0 ? after.object2 : after.object1,
                  failing == 0 ? before.object2 : before.object1);
    }

    // Stopped at the start, neither changes.
    StoppingReporter reporter;
    Scene scene(&reporter);
    setUp(scene, false);
    reporter.shares = 0;
    reporter.stopAt = 1;
    const SceneState before = stateOf(scene);
    scene.MakeObjects({{path, std::nullopt}, {{}, box}}, status);
    EXPECT_EQ(status[0].message(), "Prekinuto");
    EXPECT_EQ(status[1].message(), "Prekinuto");
    EXPECT_TRUE(stateOf(scene) == before);
}

}  // namespace
}  // namespace korvan
