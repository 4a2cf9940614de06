// The animation cutting along its path: what a straight run removes, a tool crossing a plate
// between two frames, and the refusals that leave the scene as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "gcode/sweep.h"
#include "generator/generators.h"
#include "scene/animation.h"
#include "scene/scene.h"
#include "support/mesh_checks.h"

namespace korvan {
namespace {

class CountingSink : public FrameSink {
public:
    bool DrawAndSaveFrame(Scene&, int32_t, const std::string&, const std::string&) override {
        ++frames;
        return true;
    }
    int32_t frames = 0;
};

// Object 1 and object 2 as boxes (edges along the axes, centred at the origin), unsampled.
void prepareBoxes(Scene& scene, const PrimitiveParameters& workpiece,
                  const PrimitiveParameters& tool) {
    scene.m_samplingFactor = 1.0f;
    scene.m_closedResult = true;
    ASSERT_TRUE(scene.GenerateObject(1, workpiece).ok());
    ASSERT_TRUE(scene.GenerateObject(2, tool).ok());
}

AnimationSettings straightRun(int32_t frames, const Vector4& step, bool sweep) {
    AnimationSettings s;
    s.x.step = step.x;
    s.y.step = step.y;
    s.z.step = step.z;
    s.frameCount = frames;
    s.sweep = sweep;
    return s;
}

void expectClosed(const Solid& solid) {
    EXPECT_EQ(test::openEdgeCount(solid), 0);
    EXPECT_GT(test::signedVolume(solid), 0.0);
}

// A box tool sunk into the top of a box, run along a diagonal in x and y: the cut is the
// Minkowski sum of the tool's footprint with the path (a hexagon of area ab + |dx|b + |dy|a)
// times the depth. Cutting the frame positions alone leaves a staircase, dx*dy short per step.
TEST(SweptAnimation, StraightRunRemovesTheSweptPrismAndStaysClosed) {
    Scene scene;
    prepareBoxes(scene, PrimitiveParameters::cube(2.0f),
                 PrimitiveParameters::box(0.4f, 0.3f, 0.5f));
    scene.m_object2Offset = Vector4(-0.5f, -0.3f, 0.9f);
    const double before = test::signedVolume(scene.m_object1);
    const AnimationSettings settings = straightRun(8, Vector4(0.1f, 0.05f, 0.0f), true);
    const Vector4 first = animationOffset(scene.m_object2Offset, settings, 0);
    const Vector4 last = animationOffset(scene.m_object2Offset, settings, 7);
    double low[3] = {1e9, 1e9, 1e9};
    double high[3] = {-1e9, -1e9, -1e9};
    for (const Vector4& v : scene.m_object2.vertices) {
        const double c[3] = {v.x, v.y, v.z};
        for (int k = 0; k < 3; ++k) {
            low[k] = std::min(low[k], c[k]);
            high[k] = std::max(high[k], c[k]);
        }
    }
    const double a = high[0] - low[0];
    const double b = high[1] - low[1];
    const double depth = 1.0 - (double(low[2]) + first.z);
    const double dx = std::fabs(double(last.x) - first.x);
    const double dy = std::fabs(double(last.y) - first.y);
    const double swept = (a * b + dx * b + dy * a) * depth;

    const std::vector<Vector4> tool = scene.m_object2.vertices;
    CountingSink sink;
    const AnimationResult r = RunAnimation(scene, settings, sink);
    ASSERT_TRUE(r.status.ok()) << r.status.message();
    EXPECT_EQ(r.framesDone, 8);
    expectClosed(scene.m_object1);
    EXPECT_NEAR(before - test::signedVolume(scene.m_object1), swept, 1e-6 * swept);
    // The tool was never moved: its vertices are the very same floats.
    EXPECT_TRUE(scene.m_object2.vertices == tool);

    // The frame positions alone: the staircase, measurably less.
    Scene plain;
    prepareBoxes(plain, PrimitiveParameters::cube(2.0f),
                 PrimitiveParameters::box(0.4f, 0.3f, 0.5f));
    plain.m_object2Offset = Vector4(-0.5f, -0.3f, 0.9f);
    ASSERT_TRUE(
        RunAnimation(plain, straightRun(8, Vector4(0.1f, 0.05f, 0.0f), false), sink).status.ok());
    const double staircase = before - test::signedVolume(plain.m_object1);
    EXPECT_NEAR(swept - staircase, dx * dy / 7 * depth, 1e-5);
}

// A tool that is above a plate in one frame and below it in the next goes through it: cut
// along the path it leaves a hole of its own cross-section, cut at the frames nothing.
TEST(SweptAnimation, ToolCrossingAPlateBetweenTwoFramesCutsThroughIt) {
    for (const bool sweep : {false, true}) {
        Scene scene;
        prepareBoxes(scene, PrimitiveParameters::box(2.0f, 2.0f, 0.2f),
                     PrimitiveParameters::cube(0.3f));
        scene.m_object2Offset = Vector4(0.2f, -0.1f, 0.5f);
        const double before = test::signedVolume(scene.m_object1);
        CountingSink sink;
        const AnimationResult r =
            RunAnimation(scene, straightRun(2, Vector4(0.0f, 0.0f, -1.0f), sweep), sink);
        ASSERT_TRUE(r.status.ok()) << r.status.message();
        expectClosed(scene.m_object1);
        const double removed = before - test::signedVolume(scene.m_object1);
        EXPECT_NEAR(removed, sweep ? 0.3 * 0.3 * 0.2 : 0.0, 1e-6) << sweep;
    }
}

// An octahedron whose top corner is pushed down below its middle: closed, but dented.
Solid dentedOctahedron() {
    const std::vector<Vector4> v = {{1, 0, 0},  {0, 1, 0},     {-1, 0, 0},
                                    {0, -1, 0}, {0, 0, -0.3f}, {0, 0, -1}};
    const std::vector<int32_t> corners = {0, 1, 4, 1, 2, 4, 2, 3, 4, 3, 0, 4,
                                          1, 0, 5, 2, 1, 5, 3, 2, 5, 0, 3, 5};
    return test::makeSolid(v, corners);
}

// Rounding dents of the program's own shapes pass; a dent of a thousandth does not.
TEST(SweptAnimation, ToolsMustFillTheirHull) {
    EXPECT_FALSE(gcode::fillsConvexHull(dentedOctahedron(), 1e-6));
    Solid shallow = dentedOctahedron();
    shallow.vertices[4].z = -1e-3f;
    EXPECT_FALSE(gcode::fillsConvexHull(shallow, 1e-6));
    shallow.vertices[4].z = 1e-3f;
    EXPECT_TRUE(gcode::fillsConvexHull(shallow, 1e-6));
    for (const PrimitiveParameters& p :
         {PrimitiveParameters::sphere(16, 24, 0.3f), PrimitiveParameters::cylinder(16, 0.3f, 1.0f),
          PrimitiveParameters::cone(16, 0.3f, 1.0f)}) {
        Scene scene;
        scene.m_samplingFactor = 0.08f;
        ASSERT_TRUE(scene.GenerateObject(2, p).ok());
        EXPECT_TRUE(gcode::fillsConvexHull(scene.m_object2, 1e-6)) << int(p.shape);
    }
}

TEST(SweptAnimation, RefusedRunsChangeNothing) {
    for (const bool convex : {true, false}) {
        Scene scene;
        prepareBoxes(scene, PrimitiveParameters::cube(2.0f), PrimitiveParameters::cube(0.3f));
        if (convex) {
            scene.m_closedResult = false;
        } else {
            Solid tool = dentedOctahedron();
            tool.computeTriangleData();
            scene.ReplaceObject(2, std::move(tool));
        }
        scene.m_object2Offset = Vector4(0.9f, 0.0f, 0.0f);
        const std::vector<Vector4> workpiece = scene.m_object1.vertices;
        const uint64_t revision = scene.m_object1.revision;
        CountingSink sink;
        const AnimationResult r =
            RunAnimation(scene, straightRun(3, Vector4(-0.2f, 0.0f, 0.0f), true), sink);
        EXPECT_EQ(r.status.message(), convex ? kSweepNeedsClosedMessage : kToolNotConvexMessage);
        EXPECT_EQ(sink.frames, 0);
        EXPECT_EQ(scene.m_object1.revision, revision);
        EXPECT_TRUE(scene.m_object1.vertices == workpiece);
        EXPECT_EQ(scene.m_object2Offset, Vector4(0.9f, 0.0f, 0.0f));
    }
}

}  // namespace
}  // namespace korvan
