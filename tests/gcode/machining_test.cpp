#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "boolean/operation.h"
#include "closed/closed_boolean.h"
#include "gcode/machining.h"
#include "gcode/program.h"
#include "gcode/sweep.h"
#include "gcode/swept_tool.h"
#include "gcode/tools.h"
#include "support/mesh_checks.h"
#include "support/random_solids.h"

namespace korvan::gcode {
namespace {

constexpr double kTolerance = 0.01;

Program programOf(const std::string& text) {
    Program p;
    const Status s = readGcodeText(text, "test.nc", p);
    EXPECT_TRUE(s.ok()) << s.message();
    return p;
}

Program programFile(const std::string& name) {
    Program p;
    const Status s = readGcode(std::string(KORVAN_GCODE_DATA_DIR) + "/" + name, p);
    EXPECT_TRUE(s.ok()) << s.message();
    return p;
}

ToolChoice fixedTool(const ToolSpec& spec) {
    ToolChoice c;
    c.fixed = spec;
    return c;
}

Solid boxStock(const Position& a, const Position& b) {
    Solid s;
    EXPECT_TRUE(makeBoxStock(a, b, s).ok());
    return s;
}

// The stock of the sample programs: 100 x 80 x 20 with its top at z = 0.
Solid sampleStock() {
    return boxStock({0, 0, -20}, {100, 80, 0});
}

// The tool a run cuts with: its corners on the run's grid.
Solid toolOnGrid(const ToolSpec& spec, double grid) {
    Solid tool;
    EXPECT_TRUE(makeTool(spec, kTolerance, tool).ok());
    EXPECT_GT(grid, 0.0);
    const auto on = [&](float c) { return static_cast<float>(std::nearbyint(c / grid) * grid); };
    for (Vector4& v : tool.vertices) {
        v = Vector4(on(v.x), on(v.y), on(v.z));
    }
    return tool;
}

// The sweeps a run cuts, built here from the public steps as hulls of the tool at both ends:
// collinear feeds joined, moves shorter than the tolerance skipped (the next one starting where
// the last cut ended), positions on the run's grid.
std::vector<Solid> sweepsOf(const Program& program, const Solid& tool, double grid) {
    std::vector<Solid> out;
    Position at = program.start;
    for (const Move& m : mergeCollinearFeeds(program.moves, program.start, kTolerance)) {
        if (m.kind == MoveKind::Dwell ||
            std::hypot(m.end.x - at.x, m.end.y - at.y, m.end.z - at.z) < kTolerance) {
            continue;
        }
        Solid& sweep = out.emplace_back();
        EXPECT_TRUE(
            sweepStraightMove(tool, onGrid(at, grid), onGrid(m.end, grid), kTolerance, sweep).ok());
        at = m.end;
    }
    return out;
}

TEST(Machining, StraightSlotRemovesTheSweepsVolumeExactly) {
    const ToolSpec spec{ToolShape::Flat, 6, 0, 0, 6};
    Solid work = boxStock({100, 60, 0}, {0, 0, -20});  // corners in any order
    const Program program =
        programOf("G0 X20 Y30 Z5\nG1 Z-3 F200\nG1 X45 F800\nG1 X70\nG0 Z5\nM30\n");
    MachiningReport report;
    ASSERT_TRUE(machineProgram(program, fixedTool(spec), {}, work, report).ok());
    // Capped threads (one arena for the run) give the same part to the bit.
    Solid capped = boxStock({100, 60, 0}, {0, 0, -20});
    MachiningOptions oneThread;
    oneThread.threads = 1;
    MachiningReport cappedReport;
    ASSERT_TRUE(machineProgram(program, fixedTool(spec), oneThread, capped, cappedReport).ok());
    EXPECT_TRUE(test::sameMesh(capped, work));

    // The flat mill's sweep is a prism 6 high; 3 of it lie in the box. Its volume from an
    // independent hull of the tool's vertices at both ends of the slot (whole numbers, on the
    // run's grid).
    const Solid tool = toolOnGrid(spec, report.grid);
    std::vector<Vector4> ends;
    for (const double x : {20.0, 70.0}) {
        for (const Vector4& v : tool.vertices) {
            ends.emplace_back(static_cast<float>(v.x + x), static_cast<float>(v.y + 30.0),
                              static_cast<float>(v.z - 3.0));
        }
    }
    const double slot = test::signedVolume(test::convexHull(ends)) * 3.0 / 6.0;
    EXPECT_NEAR(report.volume, 100.0 * 60.0 * 20.0 - slot, 1e-9 * report.volume);
    // The stock's top halves the sweep, so the diagonals of its walls cross it where floats hold
    // the seam points exactly (a flute length of 20 would round them, moving the walls by parts
    // of an ulp: 2.5e-9 of the slot's volume). What remains is the sums' rounding.
    EXPECT_NEAR(report.removedVolume, slot, 1e-12 * slot);
    EXPECT_NEAR(test::signedVolume(work), report.volume, 1e-9 * report.volume);
    // Chords within the tolerance lose at most the tolerance times the circle's length.
    const double analytic = 3.0 * (6.0 * 50.0 + std::numbers::pi * 9.0);
    EXPECT_NEAR(report.removedVolume, analytic, 3.0 * kTolerance * 2.0 * std::numbers::pi * 3.0);
    EXPECT_LT(report.removedVolume, analytic);

    EXPECT_EQ(test::openEdgeCount(work), 0);
    EXPECT_TRUE(report.collisions.empty());
    // 8 units of plunge at 200, 50 along at 800 (units per minute); rapids at 5000.
    const double rapids = std::hypot(20.0, 30.0, 5.0) + 8.0;
    EXPECT_NEAR(report.machiningSeconds, 60.0 * (8.0 / 200 + 50.0 / 800 + rapids / 5000), 1e-9);
}

void expectSoundPartInStock(const Solid& work) {
    EXPECT_EQ(test::openEdgeCount(work), 0);
    const test::IndexFaults faults = test::indexManifoldFaults(work);
    EXPECT_EQ(faults.edges, 0);
    EXPECT_EQ(faults.vertices, 0);
    for (const Vector4& v : work.vertices) {
        EXPECT_TRUE(v.x >= 0 && v.x <= 100 && v.y >= 0 && v.y <= 80 && v.z >= -20 && v.z <= 0);
    }
    Solid same;
    const Solid stock = sampleStock();
    EXPECT_TRUE(closedBoolean(work, stock, BooleanOp::Intersection, same).ok());
}

// The sample programs, each with its own tool. With every corner kept: a closed part,
// 2-manifold by its indices, with no crossing triangles (the engine's own operand check),
// inside the stock, of the volume that subtracting the same sweeps in the reverse order with
// whole operations leaves. As run by default, with the corners that only rounding turns
// dropped: as sound, no larger, and within a few steps of the run's grid of the exact part.
TEST(Machining, SampleProgramsLeaveTheStockMinusTheirSweeps) {
    struct Case {
        const char* file;
        ToolSpec tool;
        size_t moves;
    };
    const Case cases[] = {{"zigzag_pocket.nc", {ToolShape::Flat, 6, 0, 0, 20}, 7},
                          {"contour_arcs.nc", {ToolShape::Flat, 8, 0, 0, 25}, 8},
                          {"helical_ramp.nc", {ToolShape::BullNose, 10, 1, 0, 25}, 100}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        Program program = programFile(c.file);
        // A prefix: the engine's steps slow down as the coplanar floors of overlapping passes
        // split each other's triangles, and the reference below runs whole operations.
        program.moves.resize(std::min(program.moves.size(), c.moves));
        Solid work = sampleStock();
        MachiningReport report;
        MachiningOptions exact;
        exact.exactPart = true;
        const Status s = machineProgram(program, fixedTool(c.tool), exact, work, report);
        ASSERT_TRUE(s.ok()) << s.message();
        EXPECT_GE(report.cuts, 4);
        expectSoundPartInStock(work);

        Solid lean = sampleStock();
        MachiningReport leanReport;
        ASSERT_TRUE(machineProgram(program, fixedTool(c.tool), {}, lean, leanReport).ok());
        expectSoundPartInStock(lean);
        EXPECT_LE(lean.triangleCount(), work.triangleCount());
        const double reach = 2.0 * report.grid;
        EXPECT_LE(test::farthestVertexFrom(lean, work, reach), reach);
        EXPECT_LE(test::farthestVertexFrom(work, lean, reach), reach);

        const std::vector<Solid> sweeps =
            sweepsOf(program, toolOnGrid(c.tool, report.grid), report.grid);
        Solid expected = sampleStock();
        Solid next;
        bool first = true;
        for (size_t i = sweeps.size(); i-- > 0;) {
            const Status d =
                first ? closedBoolean(expected, sweeps[i], BooleanOp::Difference, next)
                      : closedBooleanOfResult(expected, sweeps[i], BooleanOp::Difference, next);
            ASSERT_TRUE(d.ok()) << d.message();
            first = false;
            expected.swap(next);
        }
        const double volume = test::signedVolume(expected);
        EXPECT_NEAR(report.volume, volume, 1e-9 * volume);
        EXPECT_NEAR(test::signedVolume(work), report.volume, 1e-9 * volume);
        EXPECT_NEAR(report.removedVolume, report.stockVolume - report.volume, 1e-9 * volume);
    }
}

// Zig-zag passes on one floor each cut the floor the others left. With the floors made lean
// after each cut, the part grows with its outline, not with the seams of every pass: 30 feeds
// leave 155,000 triangles otherwise.
TEST(Machining, FloorsOfOverlappingPassesKeepNoSeamsInside) {
    Program program = programFile("zigzag_pocket.nc");
    program.moves.resize(32);
    Solid work = sampleStock();
    MachiningReport report;
    const ToolSpec tool{ToolShape::Flat, 6, 0, 0, 20};
    const Status s = machineProgram(program, fixedTool(tool), {}, work, report);
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_GT(report.mergedFaces, 20);
    EXPECT_EQ(test::openEdgeCount(work), 0);
    const test::IndexFaults faults = test::indexManifoldFaults(work);
    EXPECT_EQ(faults.edges + faults.vertices, 0);
    EXPECT_EQ(crossingPairsWithin(work, work.minCorner, work.maxCorner), 0);
    EXPECT_NEAR(test::signedVolume(work), report.stockVolume - report.removedVolume,
                1e-9 * report.stockVolume);
    // Every vertex on the floor (z = -1.2 on the run's grid) is on its outline (a wall uses it)
    // or a lattice point that keeps the floor's triangles short, at whole millimetres on a floor
    // this wide.
    const auto floor = static_cast<float>(onGrid({0, 0, -1.2}, report.grid).z);
    std::vector<char> onFloor(work.vertices.size(), 0), offFloor(work.vertices.size(), 0);
    for (const Triangle& t : work.triangles) {
        const int32_t v[3] = {t.i0, t.i1, t.i2};
        bool flat = true;
        for (const int32_t i : v) {
            flat = flat && work.vertices[static_cast<size_t>(i)].z == floor;
        }
        for (const int32_t i : v) {
            (flat ? onFloor : offFloor)[static_cast<size_t>(i)] = 1;
        }
    }
    int64_t floorVertices = 0, inner = 0;
    for (size_t i = 0; i < onFloor.size(); ++i) {
        floorVertices += onFloor[i];
        const Vector4& v = work.vertices[i];
        inner += onFloor[i] && !offFloor[i] && (v.x != std::floor(v.x) || v.y != std::floor(v.y))
                     ? 1
                     : 0;
    }
    EXPECT_GT(floorVertices, 0);
    EXPECT_EQ(inner, 0);
    EXPECT_LT(work.triangleCount(), 10000);
}

TEST(Machining, ReportsRapidsThroughTheStockAndBuriedShanksByLine) {
    const ToolSpec spec{ToolShape::Flat, 6, 0, 0, 20};
    {
        // Line 3 rapids through the top of the stock; line 5 cuts there as a feed.
        Solid work = sampleStock();
        const Program program =
            programOf("G0 X10 Y10 Z5\nG0 Z1\nG0 X90 Z-2\nG0 Z5\nG1 X10 Y20 Z-1 F500\nM30\n");
        MachiningReport report;
        ASSERT_TRUE(machineProgram(program, fixedTool(spec), {}, work, report).ok());
        ASSERT_EQ(report.collisions.size(), 1u);
        EXPECT_EQ(report.collisions[0].line, 3);
        EXPECT_EQ(report.collisions[0].kind, CollisionKind::Rapid);
        EXPECT_GT(report.collisions[0].volume, 0);
        // The rapid still cuts: what it reached is gone.
        EXPECT_GT(report.removedVolume, report.collisions[0].volume);
    }
    {
        // Flutes 5 long, the shank as wide: the plunge to 8 deep (line 3) runs in its own hole,
        // the slot at that depth (line 4) leaves 3 of material above the flutes for the shank
        // to meet, and the rapid out (line 5) cuts that material at the slot's end.
        const ToolChoice plain = fixedTool({ToolShape::Flat, 6, 0, 0, 5});
        ToolChoice tools = plain;
        tools.shank = ShankSpec{6, 30};
        const Program program =
            programOf("G0 X20 Y40 Z10\nG1 Z-3 F300\nG1 Z-8\nG1 X80\nG0 Z10\nG0 X90 Y70\nM30\n");
        Solid work = sampleStock();
        MachiningReport report;
        const Status s = machineProgram(program, tools, {}, work, report);
        ASSERT_TRUE(s.ok()) << s.message();
        std::vector<std::pair<int64_t, CollisionKind>> seen;
        for (const Collision& c : report.collisions) {
            EXPECT_GT(c.volume, 0);
            seen.emplace_back(c.line, c.kind);
        }
        const std::vector<std::pair<int64_t, CollisionKind>> expected = {{4, CollisionKind::Shank},
                                                                         {5, CollisionKind::Rapid}};
        EXPECT_EQ(seen, expected);
        // The slot's upper 3 along its 60 less the plunge's hole: 3 x 6 x 60.
        ASSERT_EQ(report.collisions.size(), 2u);
        EXPECT_NEAR(report.collisions[0].volume, 3.0 * 6.0 * 60.0, 1.0);
        // The rapid out meets the flutes' own column, 3 high, at the slot's end.
        EXPECT_NEAR(report.collisions[1].volume, 3.0 * std::numbers::pi * 9.0, 1.0);
        // The shank cuts nothing: the part is the same without it.
        Solid without = sampleStock();
        MachiningReport plainReport;
        ASSERT_TRUE(machineProgram(program, plain, {}, without, plainReport).ok());
        EXPECT_NEAR(report.volume, plainReport.volume, 1e-9 * report.volume);
    }
}

TEST(Machining, RefusesMovesWithoutToolOrFeedAndAnOpenStock) {
    const Program noTool = programOf("G0 X1 Y1 Z5\nM30\n");
    const Program noFeed = programOf("T1 M6\nG0 X1 Y1 Z5\nG1 Z-1\nM30\n");
    const Program unknown = programOf("T2 M6\nG0 X1 Y1 Z5\nM30\n");
    ToolChoice table;
    table.table = {{1, {ToolShape::Flat, 6, 0, 0, 20}}};
    Solid work = sampleStock();
    MachiningReport report;
    Status s = machineProgram(noTool, ToolChoice{}, {}, work, report);
    EXPECT_NE(s.message().find("Redak 1"), std::string::npos) << s.message();
    s = machineProgram(noFeed, table, {}, work, report);
    EXPECT_NE(s.message().find("Redak 3"), std::string::npos) << s.message();
    s = machineProgram(unknown, table, {}, work, report);
    EXPECT_NE(s.message().find("T2"), std::string::npos) << s.message();
    EXPECT_EQ(report.cuts, 0);
    EXPECT_NEAR(test::signedVolume(work), 100.0 * 80 * 20, 1e-9);

    Solid open = sampleStock();
    open.triangles.pop_back();
    EXPECT_FALSE(machineProgram(noFeed, table, {}, open, report).ok());

    Solid stock;
    for (const char* bad :
         {"0,0,0,10,10", "0,0,0,10,10,0", "0,0,0,10,10,nan", "0,0,0,10,10,1e7", "0,0,0,10,10,5x"}) {
        EXPECT_FALSE(parseBoxStock(bad, stock).ok()) << bad;
    }
    EXPECT_TRUE(stock.triangles.empty());
    ASSERT_TRUE(parseBoxStock("10,10,5,0,0,0", stock).ok());
    EXPECT_EQ(test::openEdgeCount(stock), 0);
    EXPECT_NEAR(test::signedVolume(stock), 500.0, 1e-9);
}

// A stop asked for after a move ends the run there, with the part closed and the report
// counting the moves run.
TEST(Machining, StopsAfterTheMoveItWasAskedIn) {
    class StopAfter final : public MachiningObserver {
    public:
        void moveDone(const MoveDone& done) override { seen = done.index + 1; }
        bool stopRequested() override { return seen == 3; }
        size_t seen = 0;
    };
    const Program program = programOf("G0 X10 Y10 Z5\nG1 Z-1 F300\nG1 X50\nG1 Y50\nG1 X10\nM30\n");
    Solid work = sampleStock();
    MachiningReport report;
    StopAfter stop;
    ASSERT_TRUE(
        machineProgram(program, fixedTool({ToolShape::Flat, 6, 0, 0, 20}), {}, work, report, &stop)
            .ok());
    EXPECT_TRUE(report.stopped);
    EXPECT_EQ(stop.seen, 3u);
    EXPECT_EQ(report.lastLine, 3);
    EXPECT_EQ(report.moves, 3);
    EXPECT_EQ(test::openEdgeCount(work), 0);
    EXPECT_GT(report.removedVolume, 40.0 * 6.0);
}

}  // namespace
}  // namespace korvan::gcode
