#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "closed/closed_boolean.h"
#include "generator/generators.h"
#include "geometry/mesh_topology.h"
#include "scene/animation.h"
#include "scene/scene.h"
#include "support/mesh_checks.h"

namespace korvan {
namespace {

struct RecordedFrame {
    int32_t number;
    std::string baseName;
    std::string extension;
    Vector4 offset;  // object 2's offset while the frame is drawn
    bool running;
    int32_t object1Triangles;
};

// Records what each frame would show; can fail chosen frames and ask to stop after one.
class RecordingSink : public FrameSink {
public:
    bool DrawAndSaveFrame(Scene& scene, int32_t number, const std::string& baseName,
                          const std::string& extension) override {
        frames.push_back({number, baseName, extension, scene.m_object2Offset,
                          scene.m_animationRunning, scene.m_object1.triangleCount()});
        return number % failEvery != failEvery - 1;
    }
    bool StopRequested() override { return static_cast<int32_t>(frames.size()) == stopAfter; }
    bool DrawsGivenSceneOnly() const override { return drawsCopy; }

    std::vector<RecordedFrame> frames;
    int32_t failEvery = INT32_MAX;
    int32_t stopAfter = -1;
    bool drawsCopy = false;  // the octree run then computes each next frame while it draws
};

// Checks after every frame that the workpiece (a cube of edge 2 at first) is a closed,
// consistently oriented solid that only loses material.
struct SolidCheckSink : RecordingSink {
    bool DrawAndSaveFrame(Scene& scene, int32_t number, const std::string& base,
                          const std::string& extension) override {
        const MeshTopology t = analyzeTopology(scene.m_object1);
        EXPECT_EQ(t.openEdges + t.orientationFlips, 0) << number;
        EXPECT_TRUE(pinchesAllowed || t.nonManifoldEdges == 0) << number;
        EXPECT_LE(t.signedVolume, volume + 1e-9) << number;
        volume = t.signedVolume;
        return RecordingSink::DrawAndSaveFrame(scene, number, base, extension);
    }
    bool pinchesAllowed = false;
    double volume = 8;
};

// Moving there and back again rounds each coordinate at most twice.
void expectSameWithinRounding(const std::vector<Vector4>& a, const std::vector<Vector4>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_NEAR(a[i].x, b[i].x, 1e-6) << i;
        EXPECT_NEAR(a[i].y, b[i].y, 1e-6) << i;
        EXPECT_NEAR(a[i].z, b[i].z, 1e-6) << i;
    }
}

// A coarse cube (edge 2) as workpiece and a small sphere as tool, quick to mill.
class AnimationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(prepare(scene).ok());
        scene.m_object2Offset = Vector4(0.9f, 0.2f, 0.1f);
    }

    static Status prepare(Scene& s) {
        s.m_samplingFactor = 0.08f;
        Status status = s.GenerateObject(1, PrimitiveParameters::cube(2.0f));
        return status ? s.GenerateObject(2, PrimitiveParameters::sphere(8, 12, 0.3f)) : status;
    }

    static AnimationSettings linearX(int32_t frames, float step, int32_t preview) {
        AnimationSettings s;
        s.preview = preview;
        s.x.step = step;
        s.outputFile = "out/anim";
        s.format = "BMP";
        s.frameCount = frames;
        return s;
    }

    Scene scene;
};

// The program's own degree constant, not the exact pi / 180: at 180 degrees the tool stays
// visibly off zero. Angles far past an int's range do not overflow.
TEST(AnimationPath, SineUsesTheProgramsDegreeConstant) {
    AxisMotion m;
    m.sinus = 1;
    m.amplitude = 1000.0f;
    m.angleStep = 30;
    EXPECT_NEAR(axisDisplacement(m, 1), 500.0f, 1e-2);
    EXPECT_NEAR(axisDisplacement(m, 6), 0.0026536, 1e-6);
    m.amplitude = 1.0f;
    m.startAngle = m.angleStep = INT32_MAX;
    EXPECT_EQ(axisDisplacement(m, 999),
              static_cast<float>(std::sin(1000.0 * INT32_MAX * 0.01745327777777778)));
}

// Frames that cannot be written are counted, and the run goes on.
TEST_F(AnimationTest, PreviewWritesEveryFrameAlongThePathAndChangesNothing) {
    const Vector4 start = scene.m_object2Offset;
    const std::vector<Vector4> vertices1 = scene.m_object1.vertices;
    const std::vector<Vector4> vertices2 = scene.m_object2.vertices;
    RecordingSink sink;
    sink.failEvery = 2;  // frames 1 and 3
    const AnimationResult r = RunAnimation(scene, linearX(5, -0.2f, 1), sink);
    EXPECT_TRUE(r.status.ok());
    EXPECT_EQ(r.framesDone, 5);
    EXPECT_EQ(r.framesNotWritten, 2);
    ASSERT_EQ(sink.frames.size(), 5u);
    for (int32_t i = 0; i < 5; ++i) {
        const RecordedFrame& f = sink.frames[i];
        EXPECT_EQ(f.number, i);
        EXPECT_EQ(f.baseName, "out/anim");
        EXPECT_EQ(f.extension, "BMP");
        EXPECT_TRUE(f.running);
        EXPECT_EQ(f.offset, Vector4(start.x + static_cast<float>(i) * -0.2f, start.y, start.z));
    }
    EXPECT_EQ(scene.m_object1.vertices, vertices1);
    EXPECT_EQ(scene.m_object2.vertices, vertices2);
    EXPECT_EQ(scene.m_object2Offset, start);
    EXPECT_FALSE(scene.m_animationRunning);
}

// Each frame is the difference at the next place along the path, drawn with the tool out of
// sight; the tool ends where it started, without the tree built at its last position.
TEST_F(AnimationTest, StartMillsEachFrameWithTheToolOutOfSight) {
    // Reference: the same subtractions step by step, as the animation's own bookkeeping does.
    Scene reference;
    ASSERT_TRUE(prepare(reference).ok());
    const Vector4 start = scene.m_object2Offset;
    reference.m_animationRunning = true;
    reference.m_stockBox = BoxFilter{reference.m_object1.minCorner, reference.m_object1.maxCorner};
    for (int32_t i = 0; i < 3; ++i) {
        reference.m_object2Offset =
            Vector4(start.x - 0.3f * static_cast<float>(i), start.y, start.z);
        const Vector4 back = reference.m_object2Offset * -1.0f;
        ASSERT_TRUE(reference.BooleanOperation(BooleanOp::Difference).ok());
        reference.m_object2.translate(back);
    }

    const std::vector<Vector4> vertices2 = scene.m_object2.vertices;
    RecordingSink sink;
    ASSERT_TRUE(RunAnimation(scene, linearX(3, -0.3f, 0), sink).status.ok());
    ASSERT_EQ(sink.frames.size(), 3u);
    for (const RecordedFrame& f : sink.frames) {
        EXPECT_EQ(f.offset, Vector4(1000.0f, 1000.0f, 1000.0f, 0.0f));
        EXPECT_TRUE(f.running);
    }
    EXPECT_EQ(scene.m_object1.vertices, reference.m_object1.vertices);
    EXPECT_EQ(scene.m_object1.triangleCount(), reference.m_object1.triangleCount());
    EXPECT_EQ(scene.m_object2Offset, start);
    expectSameWithinRounding(scene.m_object2.vertices, vertices2);
    EXPECT_EQ(scene.tree(2), nullptr);
    EXPECT_FALSE(scene.m_animationRunning);
}

// Both engines; where the next frame is computed while the sink draws, it must be dropped.
TEST_F(AnimationTest, StopKeepsTheLastFinishedFrameAndTheStartingOffset) {
    std::vector<Vector4> octreeWorkpieces[2];
    std::vector<Vector4> octreeTools[2];
    for (const bool closed : {false, true}) {
        for (const bool ahead : {false, true}) {
            Scene s;
            ASSERT_TRUE(prepare(s).ok());
            s.m_closedResult = closed;
            const Vector4 start(0.9f, 0.2f, 0.1f);
            s.m_object2Offset = start;
            RecordingSink sink;
            sink.stopAfter = 2;
            sink.drawsCopy = ahead;
            const AnimationResult r = RunAnimation(s, linearX(10, -0.3f, 0), sink);
            EXPECT_TRUE(r.stopped);
            EXPECT_EQ(r.framesDone, 2);
            EXPECT_EQ(sink.frames.size(), 2u);
            EXPECT_EQ(s.m_object1.triangleCount(), sink.frames[1].object1Triangles) << closed;
            EXPECT_EQ(s.m_object2Offset, start);
            EXPECT_FALSE(s.m_animationRunning);
            if (!closed) {
                octreeWorkpieces[ahead] = s.m_object1.vertices;
                octreeTools[ahead] = s.m_object2.vertices;
            }
        }
    }
    EXPECT_EQ(octreeWorkpieces[0], octreeWorkpieces[1]);
    EXPECT_EQ(octreeTools[0], octreeTools[1]);
}

// Where drawing takes long against the difference, the closed run computes each next frame
// while the sink draws: every frame must still show the workpiece the plain loop shows, and a
// stop must drop the frame computed ahead.
TEST_F(AnimationTest, ClosedRunComputingAheadShowsThePlainLoopsFrames) {
    struct FrameHashSink : RecordingSink {
        bool DrawAndSaveFrame(Scene& scene, int32_t number, const std::string& base,
                              const std::string& extension) override {
            double h = 0;
            for (size_t i = 0; i < scene.m_object1.vertices.size(); ++i) {
                const Vector4& v = scene.m_object1.vertices[i];
                h += static_cast<double>(i % 101 + 1) * (v.x + 2.0 * v.y + 3.0 * v.z);
            }
            for (const Triangle& t : scene.m_object1.triangles) {
                h += t.i0 + 2.0 * t.i1 + 3.0 * t.i2;
            }
            hashes.push_back(h);
            if (slow) {
                // Longer than the difference, so that the next one is computed meanwhile.
                const double wait = std::max(0.01, 2.0 * scene.lastOperation().seconds);
                std::this_thread::sleep_for(std::chrono::duration<double>(wait));
            }
            return RecordingSink::DrawAndSaveFrame(scene, number, base, extension);
        }
        bool slow = false;
        std::vector<double> hashes;
    };
    const auto run = [](bool slow, int32_t stopAfter) {
        Scene s;
        EXPECT_TRUE(prepare(s).ok());
        s.m_closedResult = true;
        s.m_object2Offset = Vector4(-1.2f, 0.95f, 0.3f);
        AnimationSettings settings = linearX(8, 0.12f, 0);
        FrameHashSink sink;
        sink.slow = slow;
        sink.stopAfter = stopAfter;
        const AnimationResult r = RunAnimation(s, settings, sink);
        EXPECT_TRUE(r.status.ok());
        sink.hashes.push_back(static_cast<double>(s.m_object1.triangleCount()));
        return sink.hashes;
    };
    EXPECT_EQ(run(true, -1), run(false, -1));
    EXPECT_EQ(run(true, 5), run(false, 5));
}

// A frame the closed engine refuses ends the run with its message; the workpiece keeps the
// last finished frame and the tool is exactly where it was, never moved there and back.
TEST_F(AnimationTest, ClosedRunEndsAtARefusedFrameWithNothingMoved) {
    scene.m_closedResult = true;
    scene.m_object2.triangles.pop_back();  // an open tool
    scene.m_object2.touch();
    const std::vector<Vector4> object1 = scene.m_object1.vertices;
    const std::vector<Vector4> tool = scene.m_object2.vertices;
    const Vector4 start = scene.m_object2Offset;
    RecordingSink sink;
    const AnimationResult r = RunAnimation(scene, linearX(3, -0.3f, 0), sink);
    EXPECT_FALSE(r.status.ok());
    EXPECT_EQ(r.framesDone, 0);
    EXPECT_TRUE(sink.frames.empty());
    EXPECT_EQ(scene.m_object1.vertices, object1);
    EXPECT_EQ(scene.m_object2.vertices, tool);
    EXPECT_EQ(scene.m_object2Offset, start);
}

// Once the tool breaks through a face, pieces of it that lie outside the workpiece must never
// be kept: they would widen object 1's box, and the next frames would keep more of the tool.
TEST_F(AnimationTest, ToolLeavingThroughAFaceLeavesNothingOutsideTheStock) {
    scene.m_object2Offset = Vector4(-1.2f, 0.95f, 0.3f);
    AnimationSettings settings = linearX(24, 0.1f, 0);
    settings.y.step = 0.01f;
    RecordingSink sink;
    ASSERT_TRUE(RunAnimation(scene, settings, sink).status.ok());
    // Triangles are kept by their centroids; a corner may reach past a face by an edge.
    const float limit = 1.0f + 1e-5f;
    for (const Triangle& t : scene.m_object1.triangles) {
        ASSERT_LE(std::abs(t.centroid.x), limit);
        ASSERT_LE(std::abs(t.centroid.y), limit);
        ASSERT_LE(std::abs(t.centroid.z), limit);
    }
    for (const Vector4& v : scene.m_object1.vertices) {
        ASSERT_LE(std::abs(v.x), limit + scene.m_object2.edgeLimit);
        ASSERT_LE(std::abs(v.y), limit + scene.m_object2.edgeLimit);
        ASSERT_LE(std::abs(v.z), limit + scene.m_object2.edgeLimit);
    }
}

// Milling with the closed-result engine: the workpiece is a solid after every frame, stays in
// the stock, only loses material, and a tool that has left it adds nothing.
TEST_F(AnimationTest, ClosedMillingKeepsTheWorkpieceASolidInsideTheStock) {
    scene.m_closedResult = true;
    scene.m_object2Offset = Vector4(-1.2f, 0.95f, 0.3f);
    AnimationSettings settings = linearX(30, 0.1f, 0);
    settings.y.step = 0.01f;
    SolidCheckSink sink;
    ASSERT_TRUE(RunAnimation(scene, settings, sink).status.ok());
    for (const Vector4& v : scene.m_object1.vertices) {
        ASSERT_LE(std::max({std::abs(v.x), std::abs(v.y), std::abs(v.z)}), 1.0f);
    }
    // The last frames are past the cube: nothing changes any more.
    const auto& frames = sink.frames;
    EXPECT_EQ(frames[frames.size() - 1].object1Triangles,
              frames[frames.size() - 2].object1Triangles);
    EXPECT_LT(sink.volume, 8.0 - 0.05);

    // The run computes each frame from the part of the workpiece near the tool; frame by frame
    // the whole difference, made lean around the cut, gives the same workpiece, to the last bit.
    // The run cuts the sampled stock with the tool as generated, not as sampled.
    Scene reference;
    ASSERT_TRUE(prepare(reference).ok());
    Solid work, tool;
    work.copyMeshFrom(reference.m_object1);
    tool.copyMeshFrom(reference.closedOperand(2));
    ASSERT_LT(tool.triangleCount(), reference.m_object2.triangleCount());
    for (int32_t i = 0; i < settings.frameCount; ++i) {
        const Vector4 at = animationOffset(Vector4(-1.2f, 0.95f, 0.3f), settings, i);
        Solid next;
        ASSERT_TRUE(
            closedBooleanOfResult(work, tool, BooleanOp::Difference, next, nullptr, 0, at).ok());
        (void)leanAroundCut(next, work, tool, at);
        work = std::move(next);
        tool.translate(at);  // there and back, as the run moves it
        tool.translate(at * -1.0f);
    }
    EXPECT_TRUE(test::sameMesh(work, scene.m_object1, true));
}

// A sphere leaving the stock through a face in small steps: its front meets what the frame
// before left of its own surface almost tangentially, and every seam point rounded off its
// seam was split at again by the next frame, so that the workpiece multiplied its triangles
// (from 1,400 to 30,000 in these 20 frames). Made lean around each cut, it grows by about a
// ring of the tool's facets a frame, and loses the same material as the plain chain.
TEST(ClosedMilling, ASphereLeavingThroughAFaceInSmallStepsKeepsTheWorkpieceLean) {
    SolidCheckSink sink;
    Scene scene;
    scene.m_closedResult = true;
    scene.m_samplingFactor = 1.0f;
    ASSERT_TRUE(scene.GenerateObject(1, PrimitiveParameters::cube(2.0f)).ok());
    ASSERT_TRUE(scene.GenerateObject(2, PrimitiveParameters::sphere(16, 24, 0.3f)).ok());
    const Vector4 start(0.93f, 0.2f, 0.5f);
    scene.m_object2Offset = start;
    AnimationSettings settings;
    settings.x.step = 0.0022f;
    settings.frameCount = 20;
    settings.outputFile = "out/leaving";
    settings.format = "BMP";
    Solid work, tool;
    work.copyMeshFrom(scene.m_object1);
    tool.copyMeshFrom(scene.closedOperand(2));
    ASSERT_TRUE(RunAnimation(scene, settings, sink).status.ok());
    ASSERT_EQ(sink.frames.size(), 20u);
    const int32_t first = sink.frames.front().object1Triangles;
    EXPECT_LT(scene.m_object1.triangleCount(), first + 250 * 20);

    for (int32_t i = 0; i < settings.frameCount; ++i) {
        Solid next;
        ASSERT_TRUE(closedDifferenceOfResult(work, tool, next, nullptr, 0,
                                             animationOffset(start, settings, i))
                        .ok());
        work = std::move(next);
    }
    const double plain = analyzeTopology(work).signedVolume;
    EXPECT_GT(work.triangleCount(), 5 * scene.m_object1.triangleCount());
    EXPECT_NEAR(sink.volume, plain, 1e-6 * plain);
    // Rounding seam points leaves a few triangles of the chain touching; what the tolerance
    // let move adds none.
    const Vector4 lo(-2, -2, -2), hi(2, 2, 2);
    EXPECT_LE(crossingPairsWithin(scene.m_object1, lo, hi), crossingPairsWithin(work, lo, hi));
}

// A slow feed that keeps passing close to where the tool passed the frame before: seam points
// come closer together than their rounding to floats, which once turned tiny triangles over
// and broke the workpiece at frame 51 of this run.
TEST(ClosedMilling, ASlowFeedAlongTheOldGrooveKeepsTheWorkpieceASolid) {
    SolidCheckSink sink;
    sink.pinchesAllowed = true;
    Scene scene;
    scene.m_closedResult = true;
    scene.m_samplingFactor = 0.1f;
    ASSERT_TRUE(scene.GenerateObject(1, PrimitiveParameters::cube(2.0f)).ok());
    scene.m_samplingFactor = 0.05f;
    ASSERT_TRUE(scene.GenerateObject(2, PrimitiveParameters::sphere(16, 24, 0.3f)).ok());
    scene.m_object2Offset = Vector4(-0.5f, 0.2f, 1.1f);
    AnimationSettings settings;
    settings.x.sinus = 1;
    settings.x.amplitude = 0.03f;
    settings.x.angleStep = 2;
    settings.z.step = -0.0008f;
    settings.frameCount = 55;
    settings.outputFile = "out/slow";
    settings.format = "BMP";
    const AnimationResult r = RunAnimation(scene, settings, sink);
    ASSERT_TRUE(r.status.ok()) << r.status.message();
    EXPECT_EQ(sink.frames.size(), 55u);
    EXPECT_LT(sink.volume, 8.0 - 0.01);
}

}  // namespace
}  // namespace korvan
