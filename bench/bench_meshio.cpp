// Edge sampling, OBJ reading and OBJ writing at realistic sizes.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "generator/generators.h"
#include "meshio/edge_sampling.h"
#include "meshio/obj.h"

namespace korvan {
namespace {

double peakRssMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// The unit cube at a sweep of factors; 0.01 (the default) gives about 98,000 triangles.
void BM_SampleUnitCube(benchmark::State& state) {
    const float factor = static_cast<float>(state.range(0)) / 10000.0f;
    int32_t triangles = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Solid cube;
        MakeCube(cube, 1.0f);
        state.ResumeTiming();
        if (!sampleEdges(cube, factor).ok()) {
            state.SkipWithError("sampling failed");
        }
        triangles = cube.triangleCount();
        benchmark::DoNotOptimize(cube.triangles.data());
    }
    state.counters["factor"] = factor;
    state.counters["triangles"] = triangles;
    state.counters["peak_rss_MB"] = peakRssMegabytes();
}
BENCHMARK(BM_SampleUnitCube)->Arg(200)->Arg(100)->Arg(50)->Arg(25)->Unit(benchmark::kMillisecond);

// A sphere of about a million triangles, written once to a temporary file.
class ObjFile {
public:
    ObjFile() {
        MakeSphere(mesh, 708, 708, 1.0f);
        path = (std::filesystem::temp_directory_path() / "korvan-bench-1m.obj").string();
        if (!writeObj(mesh, path).ok()) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
        }
        bytes = static_cast<int64_t>(std::filesystem::file_size(path));
    }
    ~ObjFile() { std::filesystem::remove(path); }

    Solid mesh;
    std::string path;
    int64_t bytes = 0;
};

ObjFile& millionTriangles() {
    static ObjFile file;
    return file;
}

void BM_ReadObjMillionTriangles(benchmark::State& state) {
    ObjFile& file = millionTriangles();
    for (auto _ : state) {
        Solid s;
        if (!readObj(file.path, s).ok()) {
            state.SkipWithError("read failed");
        }
        benchmark::DoNotOptimize(s.vertices.data());
    }
    state.SetBytesProcessed(state.iterations() * file.bytes);
    state.counters["triangles"] = file.mesh.triangleCount();
}
BENCHMARK(BM_ReadObjMillionTriangles)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WriteObjMillionTriangles(benchmark::State& state) {
    ObjFile& file = millionTriangles();
    const std::string out = file.path + ".out";
    for (auto _ : state) {
        if (!writeObj(file.mesh, out).ok()) {
            state.SkipWithError("write failed");
        }
    }
    std::filesystem::remove(out);
    state.SetBytesProcessed(state.iterations() * file.bytes);
    state.counters["triangles"] = file.mesh.triangleCount();
}
BENCHMARK(BM_WriteObjMillionTriangles)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace korvan
