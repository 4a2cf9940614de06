#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "closed/closed_boolean.h"
#include "gcode/checks.h"
#include "gcode/program.h"
#include "gcode/sweep.h"
#include "gcode/swept_tool.h"
#include "gcode/tools.h"
#include "support/mesh_checks.h"
#include "support/random_solids.h"

namespace korvan::gcode {
namespace {

constexpr double kPi = std::numbers::pi;

// The tool's vertices moved to p, rounded to float as a sweep rounds them.
std::vector<Vector4> moved(const Solid& tool, const Position& p) {
    std::vector<Vector4> out;
    for (const Vector4& v : tool.vertices) {
        out.emplace_back(static_cast<float>(v.x + p.x), static_cast<float>(v.y + p.y),
                         static_cast<float>(v.z + p.z));
    }
    return out;
}

using Bits = std::tuple<uint32_t, uint32_t, uint32_t>;
Bits bitsOf(const Vector4& v) {
    uint32_t b[3];
    std::memcpy(&b[0], &v.x, 4);
    std::memcpy(&b[1], &v.y, 4);
    std::memcpy(&b[2], &v.z, 4);
    return {b[0], b[1], b[2]};
}

// Closed and convex, holding both copies of the tool, with no vertex but theirs, and of the
// volume an independent hull of the same points has.
void expectSweepOf(const Solid& sweep, const Solid& tool, const Position& p, const Position& q) {
    std::vector<Vector4> points = moved(tool, p);
    const std::vector<Vector4> atQ = moved(tool, q);
    points.insert(points.end(), atQ.begin(), atQ.end());
    const double scale = checks::scaleOf(sweep);
    EXPECT_EQ(test::openEdgeCount(sweep), 0);
    EXPECT_EQ(test::degenerateTriangles(sweep), 0);
    EXPECT_LE(checks::largestExcess(sweep, sweep.vertices), 1e-9 * scale);
    EXPECT_LE(checks::largestExcess(sweep, points), 1e-9 * scale);
    std::set<Bits> given;
    for (const Vector4& v : points) {
        given.insert(bitsOf(v));
    }
    for (const Vector4& v : sweep.vertices) {
        EXPECT_TRUE(given.count(bitsOf(v))) << v.x << " " << v.y << " " << v.z;
    }
    const double volume = test::signedVolume(sweep);
    EXPECT_GT(volume, 0);
    EXPECT_NEAR(volume, test::signedVolume(test::convexHull(points)), 1e-9 * volume);
}

TEST(GcodeSweep, FlatEndMillAlongASlotSweepsTheStadiumPrism) {
    const double tolerance = 0.01;
    const double r = 3;
    const double l = 20;
    Solid tool;
    ASSERT_TRUE(makeTool({ToolShape::Flat, 2 * r, 0, 0, l}, tolerance, tool).ok());
    const Position p{10, 5, -3};
    const Position q{60, 5, -3};
    Solid sweep;
    ASSERT_TRUE(sweepStraightMove(tool, p, q, 1e-6, sweep).ok());
    expectSweepOf(sweep, tool, p, q);
    const double base = kPi * r * r + 2 * r * 50;
    const double truth = base * l;
    const double area = 2 * base + l * (2 * kPi * r + 100);
    const double volume = test::signedVolume(sweep);
    EXPECT_GE(truth - volume, -1e-6 * truth);
    EXPECT_LE(truth - volume, tolerance * area + 1e-6 * truth);
    // Built the other way round: the same points, the same volume.
    Solid back;
    ASSERT_TRUE(sweepStraightMove(tool, q, p, 1e-6, back).ok());
    EXPECT_NEAR(test::signedVolume(back), volume, 1e-9 * volume);
    EXPECT_EQ(back.vertexCount(), sweep.vertexCount());
}

// The hull's flat facets (the tool's flat end, the rectangles along the move) come back cut
// the same way every time, so that one program always mills one part.
TEST(GcodeSweep, OneMoveAlwaysGivesOneMesh) {
    Solid tool;
    ASSERT_TRUE(makeTool({ToolShape::Flat, 6, 0, 0, 5}, 0.01, tool).ok());
    Solid first;
    ASSERT_TRUE(sweepStraightMove(tool, {20, 40, 10}, {20, 40, -3}, 0.01, first).ok());
    EXPECT_EQ(test::degenerateTriangles(first), 0);
    for (int i = 1; i < 30; ++i) {
        Solid sweep;
        ASSERT_TRUE(sweepStraightMove(tool, {20, 40, 10}, {20, 40, -3}, 0.01, sweep).ok());
        ASSERT_TRUE(test::sameMesh(sweep, first)) << "call " << i;
    }
}

TEST(GcodeSweep, AShortMoveGivesTheToolWhereItStands) {
    Solid tool;
    ASSERT_TRUE(makeTool({ToolShape::Ball, 6, 0, 0, 20}, 0.05, tool).ok());
    const Position p{4, 5, 6};
    Solid sweep;
    ASSERT_TRUE(sweepStraightMove(tool, p, {4 + 1e-7, 5, 6}, 1e-6, sweep).ok());
    EXPECT_EQ(sweep.vertexCount(), tool.vertexCount());
    EXPECT_NEAR(test::signedVolume(sweep), test::signedVolume(tool),
                1e-6 * test::signedVolume(tool));
    EXPECT_EQ(sweep.minCorner, Vector4(1, 2, 6));
    // No move at all, and no short-move allowance: the two copies coincide.
    Solid still;
    ASSERT_TRUE(sweepStraightMove(tool, p, p, 0, still).ok());
    EXPECT_EQ(still.vertexCount(), tool.vertexCount());
    EXPECT_EQ(still.triangleCount(), sweep.triangleCount());
}

TEST(GcodeSweep, RefusesAFlatToolAndPositionsBeyondFloat) {
    Solid sweep;
    Solid tool;
    ASSERT_TRUE(makeTool({ToolShape::Flat, 2, 0, 0, 5}, 0.1, tool).ok());
    ASSERT_TRUE(sweepStraightMove(tool, {0, 0, 0}, {1, 0, 0}, 1e-6, sweep).ok());
    const int32_t kept = sweep.triangleCount();
    const Solid flat = test::makeSolid({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2});
    EXPECT_EQ(sweepStraightMove(flat, {0, 0, 0}, {0, 1, 0}, 1e-6, sweep).message(),
              "Alat nema volumena");
    EXPECT_EQ(sweepStraightMove(Solid(), {0, 0, 0}, {0, 1, 0}, 1e-6, sweep).message(),
              "Alat nema volumena");
    EXPECT_EQ(sweepStraightMove(tool, {0, 0, 0}, {1e39, 0, 0}, 1e-6, sweep).message(),
              "Polozaj alata je izvan dozvoljenog raspona");
    EXPECT_EQ(sweep.triangleCount(), kept);
}

// Every shape along a ramp, a plunge along its axis, a short step, a move far from the origin,
// moves along its flat faces and edges, and at random: the sweep of the two copies, and the sweep
// built from the tool's hull on a grid (where it is one mesh translated exactly), are each the
// closed, convex hull of both ends, and the grid's is manifold with no two triangles crossing.
TEST(GcodeSweep, EveryShapeSweepsTheHullOfBothEnds) {
    const double grid = sweepGrid(200, 0.05);
    ASSERT_GT(grid, 0.0);
    EXPECT_EQ(sweepGrid(1e6, 0.01), 0.0);  // no grid fine enough that far out
    std::mt19937 random(7);
    std::uniform_real_distribution<double> along(-60, 60);
    for (const ToolSpec& spec :
         {ToolSpec{ToolShape::Flat, 6, 0, 0, 20}, ToolSpec{ToolShape::Ball, 6, 0, 0, 20},
          ToolSpec{ToolShape::BullNose, 10, 1, 0, 25}, ToolSpec{ToolShape::Drill, 8, 0, 118, 30}}) {
        Solid tool;
        ASSERT_TRUE(makeTool(spec, 0.05, tool).ok());
        SweptTool swept;
        ASSERT_TRUE(swept.prepare(tool, grid));
        const Vector4 edge = tool.vertices[1] - tool.vertices[0];
        std::vector<std::pair<Position, Position>> moves = {
            {{0, 0, 0}, {30, 20, -5}},
            {{1, 2, 10}, {1, 2, -4}},
            {{-7.5, 3.25, 0}, {-7.5, 3.25 + 1e-3, 0}},
            {{100.1, -40.7, 2.2}, {60.3, 70.9, 2.2}},
            {{10, 20, -3}, {60, 20, -3}},
            {{10, 20, -3}, {10, -40, -3}},
            {{0, 0, 0}, {edge.x, edge.y, edge.z}},
            {{5, 5, 5}, {5 + 3 * double{edge.x}, 5 + 3 * double{edge.y}, 5 + 3 * double{edge.z}}},
        };
        for (int i = 0; i < 12; ++i) {
            moves.push_back({{along(random), along(random), along(random) / 4},
                             {along(random), along(random), along(random) / 4}});
        }
        for (const auto& [from, to] : moves) {
            SCOPED_TRACE(testing::Message()
                         << "shape " << int(spec.shape) << " from " << from.x << " " << from.y
                         << " " << from.z << " to " << to.x << " " << to.y << " " << to.z);
            Solid sweep;
            ASSERT_TRUE(sweepStraightMove(tool, from, to, 1e-6, sweep).ok());
            expectSweepOf(sweep, tool, from, to);
            EXPECT_GT(test::signedVolume(sweep), test::signedVolume(tool) * (1 - 1e-6));
            ASSERT_TRUE(swept.sweep(from, to, 1e-6, sweep));
            expectSweepOf(sweep, tool, onGrid(from, grid), onGrid(to, grid));
            const test::IndexFaults faults = test::indexManifoldFaults(sweep);
            EXPECT_EQ(faults.edges + faults.vertices, 0);
            EXPECT_EQ(crossingPairsWithin(sweep, sweep.minCorner, sweep.maxCorner), 0);
        }
        // A short move leaves the tool's hull where it stands.
        Solid still;
        ASSERT_TRUE(swept.sweep({4, 5, 6}, {4 + 1e-7, 5, 6}, 1e-6, still));
        EXPECT_NEAR(test::signedVolume(still), test::signedVolume(test::convexHull(tool.vertices)),
                    1e-9 * test::signedVolume(still));
        // Beyond the grid's reach the hull of both ends must serve.
        const int32_t kept = still.triangleCount();
        EXPECT_FALSE(swept.sweep({0, 0, 0}, {1e6, 0, 0}, 1e-6, still));
        EXPECT_EQ(still.triangleCount(), kept);
    }
    SweptTool none;
    Solid tool;
    ASSERT_TRUE(makeTool({ToolShape::Ball, 6, 0, 0, 20}, 0.05, tool).ok());
    EXPECT_FALSE(none.prepare(tool, 0.0));
    Solid sweep;
    EXPECT_FALSE(none.sweep({0, 0, 0}, {1, 0, 0}, 1e-6, sweep));
    // A plunge of a flat end mill is the same prism, longer by the plunge.
    Solid flat;
    ASSERT_TRUE(makeTool({ToolShape::Flat, 6, 0, 0, 20}, 0.05, flat).ok());
    ASSERT_TRUE(sweepStraightMove(flat, {0, 0, 10}, {0, 0, 0}, 1e-6, sweep).ok());
    EXPECT_NEAR(test::signedVolume(sweep), test::signedVolume(flat) * 30 / 20,
                1e-6 * test::signedVolume(sweep));
}

std::vector<Move> merged(const std::string& text, double tolerance = 1e-6) {
    Program p;
    const Status s = readGcodeText(text, "m.nc", p);
    EXPECT_TRUE(s.ok()) << s.message();
    return mergeCollinearFeeds(p.moves, p.start, tolerance);
}

TEST(GcodeSweep, MergesStraightRunsOfOneFeedAndTool) {
    const std::vector<Move> m = merged("G1 X10 F100\nX20\nX30\nY10\nY20\n");
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].end, (Position{30, 0, 0}));
    EXPECT_EQ(m[0].line, 3);
    EXPECT_EQ(m[1].end, (Position{30, 20, 0}));
    EXPECT_EQ(m[1].line, 5);
    // The first move runs from the program's start.
    EXPECT_EQ(merged("G1 X10 Y10 F100\nX20 Y20\n").size(), 1u);
    EXPECT_EQ(merged("G1 X10 Y10 F100\nX20 Y21\n").size(), 2u);

    EXPECT_EQ(merged("G1 X10 F100\nX20 F200\n").size(), 2u);
    EXPECT_EQ(merged("T1 M6\nG1 X10 F100\nT2 M6\nX20\n").size(), 2u);
    EXPECT_EQ(merged("G0 X10\nX20\n").size(), 2u);
    EXPECT_EQ(merged("G1 X10 F100\nX5\n").size(), 2u);  // turning back
    EXPECT_EQ(merged("G1 X10 F100\nG4 P1\nG1 X20\n").size(), 3u);
    EXPECT_EQ(merged("G1 X10 F100\nX20 Y0.0000005\nX30 Y0\n").size(), 1u);
    EXPECT_EQ(merged("G1 X10 F100\nX20 Y0.00001\nX30 Y0\n").size(), 3u);
    EXPECT_EQ(merged("G1 X10 F100\nX10\nX20\n").size(), 1u);  // a move of no length
    // Chords of an arc are not on one line.
    EXPECT_EQ(merged("G0 X10\nG2 I-10 F100\n").size(), merged("G0 X10\nG2 I-10 F100\n", 0).size());
}

// Every move of `moves` (from the origin) ends within `tolerance` of the merged move that stands
// for it, and each merged move ends where the last of its moves does, with their feed and tool.
void expectMergeFaithful(const std::vector<Move>& moves, const std::vector<Move>& m,
                         double tolerance) {
    size_t i = 0;
    Position start;
    for (const Move& run : m) {
        for (; i < moves.size() && moves[i].line <= run.line; ++i) {
            EXPECT_LE(checks::distanceToSegment(moves[i].end, start, run.end), tolerance)
                << "line " << moves[i].line;
            EXPECT_EQ(moves[i].feed, run.feed);
            EXPECT_EQ(moves[i].tool, run.tool);
        }
        EXPECT_EQ(moves[i - 1].end, run.end);
        start = run.end;
    }
    EXPECT_EQ(i, moves.size());
}

// Straight segments in random directions, each cut into pieces: the merge gives the segments
// back, and every point passed stays within the tolerance.
TEST(GcodeSweep, MergedRunsPassEveryPointTheProgramPassed) {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> coordinate(-50, 50);
    std::uniform_int_distribution<int> pieces(1, 12);
    std::vector<Move> moves;
    Position at;
    int segments = 0;
    for (int s = 0; s < 200; ++s) {
        const Position to{coordinate(random), coordinate(random), coordinate(random) / 10};
        const int n = s == 100 ? 1000 : pieces(random);  // one run longer than a run may be
        for (int k = 1; k <= n; ++k) {
            const double t = double(k) / n;
            const Position p = k == n ? to
                                      : Position{at.x + t * (to.x - at.x), at.y + t * (to.y - at.y),
                                                 at.z + t * (to.z - at.z)};
            moves.push_back(Move{int64_t(moves.size() + 1), MoveKind::Feed, p, 300, 0, 1});
        }
        at = to;
        ++segments;
    }
    const double tolerance = 1e-9;
    const std::vector<Move> m = mergeCollinearFeeds(moves, {}, tolerance);
    EXPECT_GE(m.size(), size_t(segments));
    EXPECT_LE(m.size(), size_t(segments) + 1000 / 257);
    expectMergeFaithful(moves, m, tolerance);
}

// A gentle curve: any three points in a row lie within the tolerance of one line, a long run
// of them does not.
TEST(GcodeSweep, MergeDoesNotLetAGentleCurveDrift) {
    std::vector<Move> moves;
    for (int k = 1; k <= 200; ++k) {
        moves.push_back(Move{k, MoveKind::Feed, {double(k), 1e-4 * k * k, 0}, 500, 0, 2});
    }
    const std::vector<Move> m = mergeCollinearFeeds(moves, {}, 1e-3);
    EXPECT_GT(m.size(), 20u);
    expectMergeFaithful(moves, m, 1e-3);
}

}  // namespace
}  // namespace korvan::gcode
