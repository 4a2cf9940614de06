// Cube minus sphere at growing sizes: the time of each phase of the operation, its time per
// input triangle, and its peak heap use against the size of the operands and the result.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <tbb/task_arena.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <memory>
#include <new>
#include <utility>

#include "generator/generators.h"
#include "octree/octree.h"
#include "scene/scene.h"

// Heap accounting for the peak-memory figures: every allocation of the program is counted.
namespace {
std::atomic<int64_t> g_liveBytes{0};
std::atomic<int64_t> g_peakBytes{0};

void* countedAlloc(std::size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    const int64_t live = g_liveBytes += static_cast<int64_t>(malloc_usable_size(p));
    int64_t peak = g_peakBytes.load();
    while (live > peak && !g_peakBytes.compare_exchange_weak(peak, live)) {
    }
    return p;
}
void countedFree(void* p) {
    if (p != nullptr) {
        g_liveBytes -= static_cast<int64_t>(malloc_usable_size(p));
        std::free(p);
    }
}
}  // namespace

void* operator new(std::size_t size) {
    return countedAlloc(size);
}
void* operator new[](std::size_t size) {
    return countedAlloc(size);
}
void operator delete(void* p) noexcept {
    countedFree(p);
}
void operator delete[](void* p) noexcept {
    countedFree(p);
}
void operator delete(void* p, std::size_t) noexcept {
    countedFree(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    countedFree(p);
}

namespace korvan {
namespace {

int64_t arrayBytes(const Solid& s) {
    return static_cast<int64_t>(s.vertices.size() * sizeof(Vector4) +
                                s.triangles.size() * sizeof(Triangle));
}

// Sampling factors that give about 10k, 100k, 1M and 4M triangles per operand.
struct Size {
    float cubeFactor;
    float sphereFactor;
};
constexpr Size kSizes[] = {
    {0.03f, 0.022f}, {0.01f, 0.0075f}, {0.0035f, 0.0025f}, {0.002f, 0.00125f}};

// Sampled operands, made once per size: sampling a 4M mesh takes longer than the operation.
const std::pair<Solid, Solid>& operands(int sizeIndex) {
    static std::map<int, std::pair<Solid, Solid>> cache;
    auto it = cache.find(sizeIndex);
    if (it == cache.end()) {
        std::pair<Solid, Solid> made;
        (void)generateObject(PrimitiveParameters::cube(2), kSizes[sizeIndex].cubeFactor,
                             made.first);
        (void)generateObject(PrimitiveParameters::sphere(24, 32, 0.6f),
                             kSizes[sizeIndex].sphereFactor, made.second);
        it = cache.emplace(sizeIndex, std::move(made)).first;
    }
    return it->second;
}

Solid copyMesh(const Solid& from) {
    Solid to;
    to.copyMeshFrom(from);
    to.loaded = 1;
    return to;
}

// Arguments: the size, and the threads the scene may use.
void BM_CubeMinusSphere(benchmark::State& state) {
    const auto& [cube, sphere] = operands(static_cast<int>(state.range(0)));
    const auto threads = static_cast<int32_t>(state.range(1));
    OperationReport sum;
    double memoryRatio = 0;
    double peakMegabytes = 0;
    int32_t resultTriangles = 0;
    // Made and dropped with the timing paused: its destruction is no part of the operation.
    std::unique_ptr<Scene> made;
    for (auto _ : state) {
        state.PauseTiming();
        made.reset();
        made = std::make_unique<Scene>();
        Scene& scene = *made;
        scene.m_threads = threads;
        Solid object1 = copyMesh(cube);
        const int64_t operandBytes = arrayBytes(object1) + arrayBytes(sphere);
        const int64_t before = g_liveBytes.load();
        g_peakBytes = before;
        // Object 1's tree is built by the open command, before the operation; it counts
        // towards the operation's memory all the same.
        scene.ReplaceObject(1, std::move(object1));
        scene.ReplaceObject(2, copyMesh(sphere));
        scene.m_object2Offset = Vector4(0.3f, 0.2f, 0.9f);
        scene.m_animationRunning = true;
        state.ResumeTiming();
        (void)scene.BooleanOperation(BooleanOp::Difference);
        state.PauseTiming();
        const OperationReport& r = scene.lastOperation();
        sum.seconds += r.seconds;
        sum.buildSeconds += r.buildSeconds;
        sum.classifySeconds += r.classifySeconds;
        sum.insideOut2Seconds += r.insideOut2Seconds;
        sum.insideOut1Seconds += r.insideOut1Seconds;
        sum.assemblySeconds += r.assemblySeconds;
        sum.rebuildSeconds += r.rebuildSeconds;
        resultTriangles = scene.m_object1.triangleCount();
        const int64_t peak = operandBytes + (g_peakBytes.load() - before);
        peakMegabytes = static_cast<double>(peak) / (1 << 20);
        memoryRatio = static_cast<double>(peak) /
                      static_cast<double>(operandBytes + arrayBytes(scene.m_object1));
        state.ResumeTiming();
    }
    const double n = static_cast<double>(state.iterations());
    const double inputTriangles = cube.triangleCount() + sphere.triangleCount();
    state.counters["tri1"] = cube.triangleCount();
    state.counters["tri2"] = sphere.triangleCount();
    state.counters["result"] = resultTriangles;
    state.counters["build_ms"] = 1e3 * sum.buildSeconds / n;
    state.counters["classify_ms"] = 1e3 * sum.classifySeconds / n;
    state.counters["io2_ms"] = 1e3 * sum.insideOut2Seconds / n;
    state.counters["io1_ms"] = 1e3 * sum.insideOut1Seconds / n;
    state.counters["assembly_ms"] = 1e3 * sum.assemblySeconds / n;
    state.counters["rebuild_ms"] = 1e3 * sum.rebuildSeconds / n;
    state.counters["ns_per_tri"] = 1e9 * sum.seconds / n / inputTriangles;
    state.counters["peak_MB"] = peakMegabytes;
    state.counters["mem_ratio"] = memoryRatio;
}
BENCHMARK(BM_CubeMinusSphere)
    ->ArgsProduct({{0, 1, 2, 3}, {1, 2, 4}})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// The octree of one operand alone: build and classification.
void BM_OctreeBuild(benchmark::State& state) {
    const Solid& cube = operands(static_cast<int>(state.range(0))).first;
    Solid s = copyMesh(cube);
    tbb::task_arena arena(static_cast<int>(state.range(1)));
    for (auto _ : state) {
        arena.execute([&] {
            const std::unique_ptr<OctreeNode> tree = prepareOctree(s);
            benchmark::DoNotOptimize(tree.get());
        });
    }
    state.counters["triangles"] = s.triangleCount();
}
BENCHMARK(BM_OctreeBuild)->ArgsProduct({{0, 1, 2, 3}, {1, 2}})->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace korvan
