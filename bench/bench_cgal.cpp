// Side by side with CGAL's corefinement Boolean on the same polyhedral operands: time of the
// whole operation on each side, and the volume of Korvan's result against CGAL's exact one.
#include <CGAL/Polygon_mesh_processing/corefinement.h>
#include <CGAL/Polygon_mesh_processing/measure.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <string>
#include <tuple>

#include "cgal_mesh.h"
#include "scene/boolean_cases.h"
#include "scene/scene.h"
#include "support/mesh_checks.h"

namespace korvan {
namespace {

namespace PMP = CGAL::Polygon_mesh_processing;

struct Case {
    const char* name;
    PrimitiveParameters object1;
    PrimitiveParameters object2;
    Vector4 offset;
    BooleanOp op;
};

const Case kCases[] = {
    {"cube-minus-sphere", PrimitiveParameters::cube(2), PrimitiveParameters::sphere(24, 32, 0.6f),
     Vector4(0.3f, 0.2f, 0.9f), BooleanOp::Difference},
    {"sphere-union-sphere", PrimitiveParameters::sphere(24, 32, 0.8f),
     PrimitiveParameters::sphere(24, 32, 0.8f), Vector4(0.7f, 0.1f, 0.05f), BooleanOp::Union},
    {"cylinder-intersect-cube", PrimitiveParameters::cube(2),
     PrimitiveParameters::cylinder(32, 0.5f, 3), Vector4(0.1f, 0, -0.05f), BooleanOp::Intersection},
    {"sphere-minus-sphere", PrimitiveParameters::sphere(24, 32, 0.8f),
     PrimitiveParameters::sphere(24, 32, 0.5f), Vector4(0.5f, 0.3f, -0.2f), BooleanOp::Difference},
};

// Runs one case on both sides; factors are the two operands' sampling factors.
void compare(benchmark::State& state, const Case& c, float factor1, float factor2) {
    double korvanSeconds = 0, cgalSeconds = 0, korvanVolume = 0, cgalVolume = 0;
    int refused = 0;
    bool cgalOk = true;
    int32_t triangles1 = 0, triangles2 = 0;
    for (auto _ : state) {
        Scene scene;
        scene.m_samplingFactor = factor1;
        (void)scene.GenerateObject(1, c.object1);
        scene.m_samplingFactor = factor2;
        (void)scene.GenerateObject(2, c.object2);
        triangles1 = scene.m_object1.triangleCount();
        triangles2 = scene.m_object2.triangleCount();

        // CGAL gets the same polyhedra, object 2 moved exactly as the operation moves it.
        Solid moved;
        moved.vertices = scene.m_object2.vertices;
        moved.triangles = scene.m_object2.triangles;
        moved.translate(c.offset);
        CgalMesh a = toCgalMesh(scene.m_object1, refused);
        CgalMesh b = toCgalMesh(moved, refused);
        CgalMesh out;
        const auto t0 = std::chrono::steady_clock::now();
        switch (c.op) {
            case BooleanOp::Union:
                cgalOk = PMP::corefine_and_compute_union(a, b, out);
                break;
            case BooleanOp::Intersection:
                cgalOk = PMP::corefine_and_compute_intersection(a, b, out);
                break;
            case BooleanOp::Difference:
                cgalOk = PMP::corefine_and_compute_difference(a, b, out);
                break;
        }
        cgalSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        cgalVolume = cgalOk ? CGAL::to_double(PMP::volume(out)) : 0;

        scene.m_object2Offset = c.offset;
        scene.m_animationRunning = true;  // no time message
        (void)scene.BooleanOperation(c.op);
        korvanSeconds = scene.lastOperation().seconds;
        korvanVolume = test::signedVolume(scene.m_object1);
    }
    state.counters["tri1"] = triangles1;
    state.counters["tri2"] = triangles2;
    state.counters["korvan_ms"] = korvanSeconds * 1e3;
    state.counters["cgal_ms"] = cgalSeconds * 1e3;
    state.counters["cgal_over_korvan"] = cgalSeconds / korvanSeconds;
    state.counters["korvan_vol"] = korvanVolume;
    state.counters["cgal_vol"] = cgalVolume;
    state.counters["rel_err"] = std::abs(korvanVolume - cgalVolume) / cgalVolume;
    if (!cgalOk || refused > 0) {
        state.SkipWithError("CGAL refused the operands or the operation");
    }
}

void registerAll() {
    for (const Case& c : kCases) {
        for (float factor : {0.01f, 0.005f}) {
            benchmark::RegisterBenchmark(
                (std::string("Accuracy/") + c.name + "/" + std::to_string(factor)).c_str(),
                [&c, factor](benchmark::State& s) { compare(s, c, factor, factor); })
                ->Iterations(1)
                ->Unit(benchmark::kMillisecond);
        }
    }
    // Speed at about 10k and 100k triangles per operand (sphere factors chosen to match).
    for (const auto& [f1, f2, label] :
         {std::make_tuple(0.03f, 0.022f, "10k"), std::make_tuple(0.01f, 0.0075f, "100k")}) {
        benchmark::RegisterBenchmark(
            (std::string("Speed/cube-minus-sphere/") + label).c_str(),
            [f1 = f1, f2 = f2](benchmark::State& s) { compare(s, kCases[0], f1, f2); })
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
