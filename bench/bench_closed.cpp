// Cube minus sphere at about 10k, 100k and 1M triangles per operand: the closed-result engine
// against the octree engine (time) and against CGAL's corefinement (time and exact volume).
#include <CGAL/Polygon_mesh_processing/corefinement.h>
#include <CGAL/Polygon_mesh_processing/measure.h>
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <tbb/parallel_invoke.h>
#include <tbb/task_arena.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "cgal_mesh.h"
#include "closed/closed_boolean.h"
#include "closed/self_crossing.h"
#include "generator/generators.h"
#include "geometry/mesh_topology.h"
#include "scene/scene.h"

namespace korvan {
namespace {

using Mesh = CgalMesh;
namespace PMP = CGAL::Polygon_mesh_processing;
using Clock = std::chrono::steady_clock;

const Vector4 kOffset(0.3f, 0.2f, 0.9f);

// Sampling factors for cube:2 and sphere:24,32,0.6 at about 10k, 100k, 1M, 4M per operand.
struct Size {
    float cubeFactor;
    float sphereFactor;
    const char* label;
};
constexpr Size kSizes[] = {{0.03f, 0.022f, "10k"},
                           {0.01f, 0.0075f, "100k"},
                           {0.0035f, 0.0025f, "1M"},
                           {0.002f, 0.00125f, "4M"}};

struct Operands {
    Solid cube;
    Solid moved;  // the sphere moved into place
};

PrimitiveParameters cubeParameters() {
    PrimitiveParameters cube;
    cube.shape = Shape::Cube;
    cube.a = 2;
    return cube;
}

PrimitiveParameters sphereParameters() {
    PrimitiveParameters sphere;
    sphere.shape = Shape::Sphere;
    sphere.m = 24;
    sphere.n = 32;
    sphere.a = 0.6f;
    return sphere;
}

// Operands made once per size.
const Operands& operands(int sizeIndex) {
    static std::map<int, Operands> cache;
    auto it = cache.find(sizeIndex);
    if (it == cache.end()) {
        const PrimitiveParameters cube = cubeParameters();
        const PrimitiveParameters sphere = sphereParameters();
        Operands made;
        (void)generateObject(cube, kSizes[sizeIndex].cubeFactor, made.cube);
        (void)generateObject(sphere, kSizes[sizeIndex].sphereFactor, made.moved);
        made.moved.translate(kOffset);
        it = cache.emplace(sizeIndex, std::move(made)).first;
    }
    return it->second;
}

Mesh toMesh(const Solid& s) {
    int refused = 0;
    return toCgalMesh(s, refused);
}

// FNV-1a over the result's vertex coordinates and corner indices: equal hashes across builds
// and thread counts stand for byte-identical output. 32 bits, so a counter holds it exactly.
double resultHash(const Solid& s) {
    uint32_t h = 2166136261u;
    const auto mix = [&h](const void* data, size_t n) {
        const auto* b = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < n; ++i) {
            h = (h ^ b[i]) * 16777619u;
        }
    };
    for (const Vector4& v : s.vertices) {
        const float xyz[3] = {v.x, v.y, v.z};
        mix(xyz, sizeof xyz);
    }
    for (const Triangle& t : s.triangles) {
        const int32_t c[3] = {t.i0, t.i1, t.i2};
        mix(c, sizeof c);
    }
    return static_cast<double>(h);
}

// CPU seconds of the whole process, all threads: on a shared machine this is the figure that
// load does not inflate.
double processCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           1e-6 * static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

// Resident and peak resident memory of the process in MiB (Linux).
double residentMiB() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) {
            resident = 0;
        }
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

double peakMiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_maxrss) / 1024.0;
}

double arraysMiB(const Solid& s) {
    return static_cast<double>(s.vertices.size() * sizeof(Vector4) +
                               s.triangles.size() * sizeof(Triangle)) /
           1048576.0;
}

double secondsSince(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// The engine's phase times as counters.
void phaseCounters(benchmark::State& state, const ClosedReport& report) {
    state.counters["weld_ms"] = 1e3 * report.weldSeconds;
    state.counters["broad_ms"] = 1e3 * report.broadPhaseSeconds;
    state.counters["pairs_ms"] = 1e3 * report.intersectSeconds;
    state.counters["split_ms"] = 1e3 * report.splitSeconds;
    state.counters["classify_ms"] = 1e3 * report.classifySeconds;
    state.counters["assemble_ms"] = 1e3 * report.assembleSeconds;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// Runs of each engine on the same operands, taken in turns so that both see the same load;
// counters carry the medians and the median of the runs' ratios. CGAL's corefinement runs
// once.
void compare(benchmark::State& state, int sizeIndex, bool withCgal) {
    constexpr int kRuns = 5;
    const auto& [cube, moved] = operands(sizeIndex);
    ClosedReport report;
    std::vector<double> closedSeconds, octreeSeconds, ratios;
    double cgalSeconds = 0, closedVolume = 0, cgalVolume = 0;
    MeshTopology topo;
    bool ok = true;
    for (auto _ : state) {
        for (int run = 0; run < kRuns; ++run) {
            Solid result;
            const Clock::time_point t0 = Clock::now();
            ok = closedBoolean(cube, moved, BooleanOp::Difference, result, &report).ok() && ok;
            closedSeconds.push_back(secondsSince(t0));
            if (run == 0) {
                topo = analyzeTopology(result);
                closedVolume = topo.signedVolume;
            }

            // The octree engine gets the same operands through its own generate command.
            Scene scene;
            scene.m_samplingFactor = kSizes[sizeIndex].cubeFactor;
            (void)scene.GenerateObject(1, cubeParameters());
            scene.m_samplingFactor = kSizes[sizeIndex].sphereFactor;
            (void)scene.GenerateObject(2, sphereParameters());
            scene.m_object2Offset = kOffset;
            scene.m_animationRunning = true;
            (void)scene.BooleanOperation(BooleanOp::Difference);
            octreeSeconds.push_back(scene.lastOperation().seconds);
            ratios.push_back(closedSeconds.back() / octreeSeconds.back());
        }
        if (withCgal) {
            Mesh a = toMesh(cube);
            Mesh b = toMesh(moved);
            Mesh out;
            const Clock::time_point t1 = Clock::now();
            const bool cgalOk = PMP::corefine_and_compute_difference(a, b, out);
            cgalSeconds = secondsSince(t1);
            cgalVolume = cgalOk ? CGAL::to_double(PMP::volume(out)) : 0;
        }
    }
    const double closed = median(closedSeconds);
    state.counters["tri1"] = cube.triangleCount();
    state.counters["tri2"] = moved.triangleCount();
    state.counters["pairs"] = static_cast<double>(report.intersectingPairs);
    state.counters["result"] = static_cast<double>(report.resultTriangles);
    state.counters["closed_ms"] = 1e3 * closed;
    phaseCounters(state, report);
    state.counters["ns_per_tri"] = 1e9 * closed / (cube.triangleCount() + moved.triangleCount());
    state.counters["open_edges"] = static_cast<double>(topo.openEdges);
    state.counters["octree_ms"] = 1e3 * median(octreeSeconds);
    state.counters["closed_over_octree"] = median(ratios);
    if (withCgal) {
        state.counters["cgal_ms"] = 1e3 * cgalSeconds;
        state.counters["cgal_over_closed"] = cgalSeconds / closed;
        state.counters["rel_err"] = std::abs(closedVolume - cgalVolume) / cgalVolume;
    }
    if (!ok) {
        state.SkipWithError("the closed engine refused the operands");
    }
}

// The closed engine alone, at a given thread count: phase times, scaling and the result hash.
void closedOnly(benchmark::State& state, int sizeIndex) {
    const auto& [cube, moved] = operands(sizeIndex);
    const int threads = static_cast<int>(state.range(0));
    ClosedReport report;
    double seconds = 0, cpu = 0, hash = 0, before = 0, peak = 0, data = 0;
    bool ok = true;
    for (auto _ : state) {
        Solid result;
        before = residentMiB();
        const double cpu0 = processCpuSeconds();
        const Clock::time_point t0 = Clock::now();
        ok = closedBoolean(cube, moved, BooleanOp::Difference, result, &report, threads).ok();
        seconds = secondsSince(t0);
        cpu = processCpuSeconds() - cpu0;
        peak = peakMiB();
        data = arraysMiB(cube) + arraysMiB(moved) + arraysMiB(result);
        hash = resultHash(result);
    }
    state.counters["tris"] = cube.triangleCount() + moved.triangleCount();
    state.counters["closed_ms"] = 1e3 * seconds;
    state.counters["cpu_ms"] = 1e3 * cpu;
    // Peak memory: the process's peak once the call is done, and what it held before, against
    // the arrays of both operands and the result.
    state.counters["rss_before_mb"] = before;
    state.counters["peak_mb"] = peak;
    state.counters["data_mb"] = data;
    phaseCounters(state, report);
    state.counters["ns_per_tri"] = 1e9 * seconds / (cube.triangleCount() + moved.triangleCount());
    state.counters["hash"] = hash;
    if (!ok) {
        state.SkipWithError("the closed engine refused the operands");
    }
}

// Both operands over one table of positions, each welded on its own (the check reads one
// operand at a time, so ids shared between them do not matter).
closed::Welded weldBoth(const Solid& a, const Solid& b) {
    closed::Welded w;
    for (const Solid* s : {&a, &b}) {
        const PositionWeld weld(s->vertices);
        const auto base = static_cast<int32_t>(w.points.size());
        for (const int32_t v : weld.firstVertex) {
            const Vector4& p = s->vertices[static_cast<size_t>(v)];
            w.points.push_back({p.x + 0.0f, p.y + 0.0f, p.z + 0.0f});
        }
        for (const Triangle& t : s->triangles) {
            w.tris.push_back({base + weld.ids[static_cast<size_t>(t.i0)],
                              base + weld.ids[static_cast<size_t>(t.i1)],
                              base + weld.ids[static_cast<size_t>(t.i2)]});
        }
        if (s == &a) {
            w.firstOther = static_cast<int32_t>(w.tris.size());
        }
    }
    return w;
}

// The self-crossing check of both operands, side by side as the engine's operand checks run,
// against the whole closed Boolean of the same operands at the same thread count, and the
// check of each operand alone; runs taken in turns so that all see the same load, medians
// reported.
void selfCrossing(benchmark::State& state, int sizeIndex) {
    constexpr int kRuns = 5;
    const auto& [cube, moved] = operands(sizeIndex);
    const int threads = static_cast<int>(state.range(0));
    const closed::Welded w = weldBoth(cube, moved);
    tbb::task_arena arena(threads);
    std::vector<double> checkSeconds, closedSeconds, ratios, alone[2];
    int64_t found[2] = {0, 0};
    bool ok = true;
    for (auto _ : state) {
        for (int run = 0; run < kRuns; ++run) {
            arena.execute([&] {
                const Clock::time_point t0 = Clock::now();
                tbb::parallel_invoke([&] { found[0] = closed::selfCrossingPairs(w, 0); },
                                     [&] { found[1] = closed::selfCrossingPairs(w, 1); });
                checkSeconds.push_back(secondsSince(t0));
                for (int side = 0; side < 2; ++side) {
                    const Clock::time_point t1 = Clock::now();
                    (void)closed::selfCrossingPairs(w, side);
                    alone[side].push_back(secondsSince(t1));
                }
            });
            Solid result;
            const Clock::time_point t0 = Clock::now();
            ok = closedBoolean(cube, moved, BooleanOp::Difference, result, nullptr, threads).ok() &&
                 ok;
            closedSeconds.push_back(secondsSince(t0));
            ratios.push_back(checkSeconds.back() / closedSeconds.back());
        }
    }
    state.counters["tris"] = cube.triangleCount() + moved.triangleCount();
    state.counters["check_ms"] = 1e3 * median(checkSeconds);
    state.counters["closed_ms"] = 1e3 * median(closedSeconds);
    state.counters["check_over_closed"] = median(ratios);
    state.counters["cube_ms"] = 1e3 * median(alone[0]);
    state.counters["sphere_ms"] = 1e3 * median(alone[1]);
    state.counters["crossings"] = static_cast<double>(found[0] + found[1]);
    if (!ok) {
        state.SkipWithError("the closed engine refused the operands");
    }
}

// A milling step once the groove fills the tool's box: a sphere (16 x 24, radius 0.3) has
// crossed cube:2 (98k triangles) in 300 steps of 0.0022, as the long milling run does; the
// next 20 steps are timed from the near part, and one as the whole difference.
void millingStep(benchmark::State& state) {
    Solid cube, tool;
    (void)generateObject(PrimitiveParameters::cube(2), 0.01f, cube);
    (void)generateObject(PrimitiveParameters::sphere(16, 24, 0.3f), 0.01f, tool);
    const auto at = [](int frame) { return Vector4(-1.1f + 0.0022f * frame, 0.2f, 0.9f); };
    Solid work;
    (void)closedBoolean(cube, tool, BooleanOp::Difference, work, nullptr, 0, at(0));
    constexpr int kFilled = 300;
    for (int frame = 1; frame < kFilled; ++frame) {
        Solid next;
        (void)closedDifferenceOfResult(work, tool, next, nullptr, 0, at(frame));
        work = std::move(next);
    }
    ClosedReport report;
    double nearSeconds = 0, wholeSeconds = 0;
    int64_t nearTriangles = 0;
    for (auto _ : state) {
        Solid whole;
        Clock::time_point t0 = Clock::now();
        (void)closedBoolean(work, tool, BooleanOp::Difference, whole, nullptr, 0, at(kFilled));
        wholeSeconds = secondsSince(t0);
        Solid next;
        for (int frame = kFilled; frame < kFilled + 20; ++frame) {
            t0 = Clock::now();
            (void)closedDifferenceOfResult(work, tool, next, &report, 0, at(frame));
            nearSeconds += secondsSince(t0);
            nearTriangles += work.triangleCount() - report.carriedOver;
            std::swap(work, next);
        }
    }
    state.counters["workpiece"] = work.triangleCount();
    state.counters["near_triangles"] = static_cast<double>(nearTriangles) / 20;
    state.counters["near_ms"] = 1e3 * nearSeconds / 20;
    state.counters["whole_ms"] = 1e3 * wholeSeconds;
    phaseCounters(state, report);
}

void registerAll() {
    benchmark::RegisterBenchmark("MillingStep", millingStep)
        ->Iterations(1)
        ->Unit(benchmark::kSecond);
    for (int i = 0; i < 4; ++i) {
        benchmark::RegisterBenchmark((std::string("ClosedOnly/") + kSizes[i].label).c_str(),
                                     [i](benchmark::State& s) { closedOnly(s, i); })
            ->Arg(1)
            ->Arg(2)
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    }
    for (int i = 0; i < 4; ++i) {
        benchmark::RegisterBenchmark((std::string("SelfCrossing/") + kSizes[i].label).c_str(),
                                     [i](benchmark::State& s) { selfCrossing(s, i); })
            ->Arg(1)
            ->Arg(2)
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    }
    for (int i = 0; i < 4; ++i) {
        // CGAL's corefinement at 4M takes minutes; the sweep's last size is the engines only.
        const bool withCgal = i < 3;
        benchmark::RegisterBenchmark(
            (std::string("CubeMinusSphere/") + kSizes[i].label).c_str(),
            [i, withCgal](benchmark::State& s) { compare(s, i, withCgal); })
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    }
}

}  // namespace
}  // namespace korvan

int main(int argc, char** argv) {
    korvan::registerAll();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
