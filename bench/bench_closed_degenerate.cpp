// The closed engine where surfaces coincide or nearly do, against the same operands crossing in
// general position: A op A for the real meshes (prepared as the open command prepares them)
// against A u (A moved by 0.1); a cube against itself turned by 1e-6 degrees and two
// tessellations of one sphere at about 100k triangles each, against the same operands moved
// apart so that they cross. Phase times are counters.
#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "closed/closed_boolean.h"
#include "formats/mesh_file.h"
#include "generator/generators.h"
#include "meshio/load.h"
#include "support/mesh_checks.h"

namespace korvan {
namespace {

const char* const kMeshes[] = {
    "conway-hart-A7-flipped", "netgen-hinge",    "netgen-part1", "npm-bunny",
    "openfoam-blob",          "openfoam-flange", "prusa-box",    "prusa-m3-hex-nut",
    "prusa-sphere",           "prusa-torus",     "qt3d-trefoil"};

const Vector4 kApart(0.31f, 0.23f, 0.17f);

const Solid& dataMesh(const std::string& name) {
    static std::map<std::string, Solid> cache;
    auto it = cache.find(name);
    if (it == cache.end()) {
        Solid s;
        (void)loadObject(test::dataFile(name + ".obj"), 0.01f, s);
        it = cache.emplace(name, std::move(s)).first;
    }
    return it->second;
}

// Operand pairs made once: (a, b) for each case.
struct Pair {
    Solid a, b;
};
const Pair& generated(const std::string& which) {
    static std::map<std::string, Pair> cache;
    auto it = cache.find(which);
    if (it == cache.end()) {
        Pair p;
        if (which == "cube") {
            (void)generateObject(PrimitiveParameters::cube(2), 0.01f, p.a);
            p.b = test::turnedAboutZ(p.a, 1e-6);
        } else {
            (void)generateObject(PrimitiveParameters::sphere(160, 320, 1.0f), 1.0f, p.a);
            (void)generateObject(PrimitiveParameters::sphere(170, 300, 1.0f), 1.0f, p.b);
        }
        it = cache.emplace(which, std::move(p)).first;
    }
    return it->second;
}

void run(benchmark::State& state, const Solid& a, const Solid& b, BooleanOp op,
         const Vector4& offset) {
    ClosedReport report;
    Solid out;
    // Once unmeasured, so that no case pays for the memory the process touches first: the
    // cases run one after another, and a later one would find it ready.
    (void)closedBoolean(a, b, op, out, &report, 0, offset);
    for (auto _ : state) {
        const Status s = closedBoolean(a, b, op, out, &report, 0, offset);
        if (!s.ok()) {
            state.SkipWithError(s.message().c_str());
            return;
        }
    }
    state.counters["triangles_in"] = static_cast<double>(a.triangles.size() + b.triangles.size());
    state.counters["triangles_out"] = static_cast<double>(out.triangles.size());
    state.counters["volume"] = test::signedVolume(out);
    state.counters["touching_pairs"] = static_cast<double>(report.intersectingPairs);
    state.counters["pieces"] = static_cast<double>(report.pieces);
    state.counters["weld_ms"] = 1e3 * report.weldSeconds;
    state.counters["broad_ms"] = 1e3 * report.broadPhaseSeconds;
    state.counters["pairs_ms"] = 1e3 * report.intersectSeconds;
    state.counters["split_ms"] = 1e3 * report.splitSeconds;
    state.counters["classify_ms"] = 1e3 * report.classifySeconds;
    state.counters["assemble_ms"] = 1e3 * report.assembleSeconds;
}

void registerAll() {
    const std::pair<BooleanOp, const char*> ops[] = {{BooleanOp::Union, "union"},
                                                     {BooleanOp::Intersection, "intersection"},
                                                     {BooleanOp::Difference, "difference"}};
    for (const char* mesh : kMeshes) {
        const std::string name = mesh;
        for (const auto& [op, opName] : ops) {
            benchmark::RegisterBenchmark(("Self/" + name + "/" + opName).c_str(),
                                         [name, op = op](benchmark::State& state) {
                                             const Solid& a = dataMesh(name);
                                             run(state, a, a, op, Vector4());
                                         })
                ->Unit(benchmark::kMillisecond)
                ->Iterations(3);
        }
        benchmark::RegisterBenchmark(("Self/" + name + "/union_moved_0.1").c_str(),
                                     [name](benchmark::State& state) {
                                         const Solid& a = dataMesh(name);
                                         run(state, a, a, BooleanOp::Union,
                                             Vector4(0.1f, 0.0f, 0.0f));
                                     })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(3);
    }
    for (const char* which : {"cube", "sphere"}) {
        const std::string name = which;
        for (const bool apart : {false, true}) {
            benchmark::RegisterBenchmark(
                ("Coincident/" + name + (apart ? "/apart" : "/together")).c_str(),
                [name, apart](benchmark::State& state) {
                    const Pair& p = generated(name);
                    run(state, p.a, p.b, BooleanOp::Union, apart ? kApart : Vector4());
                })
                ->Unit(benchmark::kMillisecond)
                ->Iterations(3);
        }
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
