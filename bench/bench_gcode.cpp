// The G-code reader on a large program, tool meshes at a sweep of tolerances, and the swept
// volume of one move.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "gcode/program.h"
#include "gcode/sweep.h"
#include "gcode/tools.h"

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

}  // namespace
}  // namespace korvan::gcode
