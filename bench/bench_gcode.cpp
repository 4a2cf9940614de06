// The G-code reader on a large program, tool meshes at a sweep of tolerances, the swept
// volume of one move, and whole machining runs: feed moves per second on a large workpiece and
// a pocket's total time.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "gcode/machining.h"
#include "gcode/program.h"
#include "gcode/sweep.h"
#include "gcode/tools.h"
#include "generator/generators.h"

namespace korvan::gcode {
namespace {

// A post-processor's finishing program: zig-zag passes with line numbers, and a G2 corner and
// a G3 return between passes; about 30 bytes a line.
std::string largeProgram(int lines) {
    std::string text =
        "%\nO2000 (BENCH)\nG90 G17 G21 G94\nT1 M6\nS12000 M3\nG0 X0 Y0 Z5\n"
        "G1 Z-1 F300\n";
    char line[96];
    double x = 0;
    for (int i = 0; i < lines; ++i) {
        const double y = i * 0.25;
        if (i % 50 == 49) {
            // A half circle to the next pass, where the last pass ended.
            std::snprintf(line, sizeof line, "N%d G2 X%.3f Y%.3f R0.125\n", i, x, y);
        } else {
            x = (i % 2) * 80.0 + 0.001 * (i % 7);
            std::snprintf(line, sizeof line, "N%d G1 X%.3f Y%.3f F1200\n", i, x, y);
        }
        text += line;
    }
    return text + "M30\n%\n";
}

void BM_ReadGcode(benchmark::State& state) {
    const std::string text = largeProgram(static_cast<int>(state.range(0)));
    size_t moves = 0;
    for (auto _ : state) {
        Program program;
        if (!readGcodeText(text, "bench.nc", program).ok()) {
            state.SkipWithError("refused");
        }
        moves = program.moves.size();
        benchmark::DoNotOptimize(program.moves.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.counters["moves"] = static_cast<double>(moves);
    state.counters["MB"] = static_cast<double>(text.size()) / 1e6;
}
BENCHMARK(BM_ReadGcode)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

const ToolSpec kTools[] = {{ToolShape::Flat, 6, 0, 0, 20},
                           {ToolShape::Ball, 6, 0, 0, 20},
                           {ToolShape::BullNose, 10, 1, 0, 25},
                           {ToolShape::Drill, 8, 0, 118, 30}};

// Each shape at tolerances 0.1, 0.01 and 0.001.
void BM_MakeTool(benchmark::State& state) {
    const ToolSpec& spec = kTools[state.range(0)];
    const double tolerance = 1.0 / static_cast<double>(state.range(1));
    Solid tool;
    for (auto _ : state) {
        if (!makeTool(spec, tolerance, tool).ok()) {
            state.SkipWithError("refused");
        }
    }
    state.counters["vertices"] = tool.vertexCount();
    state.counters["triangles"] = tool.triangleCount();
}
BENCHMARK(BM_MakeTool)->ArgsProduct({{0, 1, 2, 3}, {10, 100, 1000}})->Unit(benchmark::kMillisecond);

// A ball end mill's ramp, tool at tolerances 0.1, 0.01 and 0.001.
void BM_SweepStraightMove(benchmark::State& state) {
    Solid tool;
    if (!makeTool(kTools[1], 1.0 / static_cast<double>(state.range(0)), tool).ok()) {
        state.SkipWithError("no tool");
        return;
    }
    Solid sweep;
    for (auto _ : state) {
        if (!sweepStraightMove(tool, {0, 0, 0}, {30, 20, -5}, 1e-6, sweep).ok()) {
            state.SkipWithError("refused");
        }
    }
    state.counters["tool_vertices"] = tool.vertexCount();
    state.counters["triangles"] = sweep.triangleCount();
}
BENCHMARK(BM_SweepStraightMove)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

// Times the moves after the first cut: the first is a whole operation on the stock, which is
// no result of the engine; every later one is the local step.
class AfterFirstCut final : public MachiningObserver {
public:
    void moveDone(const MoveDone& done) override {
        if (!m_started && done.workpiece.triangleCount() != m_stockTriangles) {
            m_started = true;
            m_first = done.index;
            m_t0 = std::chrono::steady_clock::now();
        }
    }
    double movesPerSecond(size_t count) const {
        const double s =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - m_t0).count();
        return m_started && s > 0 ? static_cast<double>(count - 1 - m_first) / s : 0.0;
    }
    int32_t m_stockTriangles = 0;

private:
    bool m_started = false;
    size_t m_first = 0;
    std::chrono::steady_clock::time_point m_t0;
};

void addRunCounters(benchmark::State& state, const MachiningReport& r, const Solid& part) {
    state.counters["feed_moves"] = static_cast<double>(r.feedMoves);
    state.counters["cuts"] = static_cast<double>(r.cuts);
    state.counters["part_triangles"] = part.triangleCount();
    state.counters["sweep_s"] = r.sweepSeconds;
    state.counters["cut_s"] = r.cutSeconds;
    state.counters["collision_s"] = r.collisionSeconds;
    state.counters["check_s"] = r.checkSeconds;
    state.counters["whole_retries"] = static_cast<double>(r.wholeRetries);
    state.counters["shifted"] = static_cast<double>(r.shiftedMoves);
    state.counters["dropped_corners"] = static_cast<double>(r.droppedCorners);
}

// A ball end mill (about 1,000 triangles) over the top of a sphere of about 100,000 triangles:
// passes across it, each a little further along y and at one of five depths, so that no two
// sweeps are translates of each other along a facet's plane (coplanar faces slow the engine
// down; BM_MachinePocket shows how much). Argument: the number of feed moves.
void BM_MachineFeedsOnLargeWorkpiece(benchmark::State& state) {
    Solid stock;
    generateShape(stock, PrimitiveParameters::sphere(224, 224, 50.0f));
    stock.computeTriangleData();
    stock.computeBoundingBox();
    std::string text = "G0 X-20 Y-20 Z55\nG1 Z46 F1000\n";
    char line[96];
    const int moves = static_cast<int>(state.range(0));
    for (int i = 0; i < moves; ++i) {
        const double y = -20.0 + 0.37 * i + 0.11 * (i % 3);
        const double x = i % 2 == 0 ? 20.0 : -20.0;
        std::snprintf(line, sizeof line, "G1 X%.3f Y%.3f Z%.3f\n", x, y, 46.0 + 0.137 * (i % 5));
        text += line;
    }
    Program program;
    if (!readGcodeText(text + "M30\n", "feeds.nc", program).ok()) {
        state.SkipWithError("program refused");
        return;
    }
    program.start = {-20, -20, 55};  // above the sphere, not at its centre
    ToolChoice tools;
    tools.fixed = ToolSpec{ToolShape::Ball, 6, 0, 0, 20};
    MachiningOptions options;
    options.tolerance = 0.02;  // a ball of about 1,000 triangles
    Solid tool;
    (void)makeTool(*tools.fixed, options.tolerance, tool);
    double rate = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Solid part;
        part.copyMeshFrom(stock);
        MachiningReport report;
        AfterFirstCut observer;
        observer.m_stockTriangles = stock.triangleCount();
        state.ResumeTiming();
        if (!machineProgram(program, tools, options, part, report, &observer).ok()) {
            state.SkipWithError("run failed");
            return;
        }
        rate = observer.movesPerSecond(program.moves.size());
        addRunCounters(state, report, part);
    }
    state.counters["stock_triangles"] = stock.triangleCount();
    state.counters["tool_triangles"] = tool.triangleCount();
    state.counters["moves_per_s"] = rate;
}
BENCHMARK(BM_MachineFeedsOnLargeWorkpiece)
    ->Arg(50)
    ->Arg(200)
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

// Mills a pocket program (its moves, then a retract) out of a 100 x 80 x 20 block with a flat
// end mill of diameter 6.
void millPocket(benchmark::State& state, const std::string& moves) {
    Program program;
    if (!readGcodeText(moves + "G0 Z5\nM30\n", "pocket.nc", program).ok()) {
        state.SkipWithError("program refused");
        return;
    }
    ToolChoice tools;
    tools.fixed = ToolSpec{ToolShape::Flat, 6, 0, 0, 20};
    for (auto _ : state) {
        Solid part;
        if (!makeBoxStock({0, 0, -20}, {100, 80, 0}, part).ok()) {
            state.SkipWithError("no stock");
            return;
        }
        MachiningReport report;
        if (!machineProgram(program, tools, {}, part, report).ok()) {
            state.SkipWithError("run failed");
            return;
        }
        addRunCounters(state, report, part);
    }
    state.counters["moves"] = static_cast<double>(program.moves.size());
}

// A pocket 60 x 40 in a 100 x 80 x 20 block, flat end mill of diameter 6: zig-zag passes along
// x at one depth, 34 / (moves / 2) apart (0.68 at 100 moves; at 10,000, 0.0068, far finer than
// any CAM program would step, so that every pass leaves its own tooth on both ends of the
// pocket). Argument: the number of moves.
void BM_MachinePocket(benchmark::State& state) {
    const int moves = static_cast<int>(state.range(0));
    std::string text = "G0 X23 Y23 Z5\nG1 Z-2 F300\n";
    char line[96];
    for (int i = 0; i < moves; ++i) {
        const double y = 23.0 + 34.0 * (i / 2) / (moves / 2.0);
        std::snprintf(line, sizeof line, "G1 X%.3f Y%.4f F1200\n", i % 2 == 0 ? 77.0 : 23.0, y);
        text += line;
    }
    millPocket(state, text);
}
BENCHMARK(BM_MachinePocket)->Arg(20)->Arg(100)->Arg(10000)->Unit(benchmark::kSecond)->Iterations(1);

// A pocket as CAM programs clear one: 60 x 40 in the same block, flat end mill of diameter 6,
// loops 2.4 apart from the inside out, their corners rounded with arcs of radius 2 (G3, cut
// into chords by the reader), in levels 0.3 deep. Argument: the number of levels; 37 levels
// are 9,918 moves.
void BM_MachineLayeredPocket(benchmark::State& state) {
    const int levels = static_cast<int>(state.range(0));
    std::string text = "G90 G17 G21\nG0 X50 Y40 Z5\n";
    char line[128];
    std::vector<double> offsets;
    for (double d = 0.0; d < 17.0 - 0.5; d += 2.4) {
        offsets.insert(offsets.begin(), d);
    }
    for (int level = 1; level <= levels; ++level) {
        std::snprintf(line, sizeof line, "G1 X50 Y40 F300\nG1 Z%.3f\nF1200\n", -0.3 * level);
        text += line;
        for (const double d : offsets) {
            const double x0 = 23 + d, x1 = 77 - d, y0 = 23 + d, y1 = 57 - d;
            const double r = std::min(2.0, (y1 - y0) / 2 - 0.01), xm = (x0 + x1) / 2;
            std::snprintf(line, sizeof line, "G1 X%.4f Y%.4f\nG1 X%.4f\nG3 X%.4f Y%.4f I0 J%.4f\n",
                          xm, y0, x1 - r, x1, y0 + r, r);
            text += line;
            std::snprintf(line, sizeof line, "G1 Y%.4f\nG3 X%.4f Y%.4f I%.4f J0\nG1 X%.4f\n",
                          y1 - r, x1 - r, y1, -r, x0 + r);
            text += line;
            std::snprintf(line, sizeof line, "G3 X%.4f Y%.4f I0 J%.4f\nG1 Y%.4f\n", x0, y1 - r, -r,
                          y0 + r);
            text += line;
            std::snprintf(line, sizeof line, "G3 X%.4f Y%.4f I%.4f J0\nG1 X%.4f\n", x0 + r, y0, r,
                          xm);
            text += line;
        }
    }
    millPocket(state, text);
}
BENCHMARK(BM_MachineLayeredPocket)->Arg(1)->Arg(37)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
}  // namespace korvan::gcode
