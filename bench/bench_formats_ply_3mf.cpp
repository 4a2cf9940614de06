// PLY and 3MF reading and writing of a sphere of about a million triangles.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "formats/ply.h"
#include "formats/threemf.h"
#include "generator/generators.h"

namespace korvan {
namespace {

enum class Format { BinaryPly, AsciiPly, ThreeMf };

Status write(Format format, const Solid& mesh, const std::string& path) {
    switch (format) {
        case Format::BinaryPly:
            return writePly(mesh, path);
        case Format::AsciiPly:
            return writePly(mesh, path, WriteOptions{true});
        case Format::ThreeMf:
            return writeThreeMf(mesh, path);
    }
    return {};
}

Status read(Format format, const std::string& path, Solid& target,
            const ReadOptions& options = {}) {
    return format == Format::ThreeMf ? readThreeMf(path, target, options)
                                     : readPly(path, target, options);
}

// The sphere, written once per format to a temporary file.
class SphereFile {
public:
    explicit SphereFile(Format format) {
        MakeSphere(mesh, 708, 708, 1.0f);
        static constexpr const char* kNames[] = {"binary.ply", "ascii.ply", "mesh.3mf"};
        path = (std::filesystem::temp_directory_path() /
                ("korvan-bench-1m-" + std::string(kNames[static_cast<int>(format)])))
                   .string();
        if (!write(format, mesh, path).ok()) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
        }
        bytes = static_cast<int64_t>(std::filesystem::file_size(path));
        // How many vertices do not come back as the same floats.
        Solid back;
        if (read(format, path, back, ReadOptions{true}).ok()) {
            for (size_t i = 0; i < mesh.vertices.size(); ++i) {
                changed += !(back.vertices[i] == mesh.vertices[i]);
            }
        }
    }
    ~SphereFile() { std::filesystem::remove(path); }
    SphereFile(const SphereFile&) = delete;
    SphereFile& operator=(const SphereFile&) = delete;

    Solid mesh;
    std::string path;
    int64_t bytes = 0;
    int64_t changed = 0;
};

SphereFile& sphereFile(Format format) {
    static SphereFile binary(Format::BinaryPly);
    static SphereFile ascii(Format::AsciiPly);
    static SphereFile threeMf(Format::ThreeMf);
    return format == Format::BinaryPly ? binary : format == Format::AsciiPly ? ascii : threeMf;
}

using Clock = std::chrono::steady_clock;

// `start` is when the timed loop began; call straight after it.
void report(benchmark::State& state, const SphereFile& file, Clock::time_point start) {
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    state.SetBytesProcessed(state.iterations() * file.bytes);
    state.counters["triangles"] = file.mesh.triangleCount();
    state.counters["ms_per_Mtri"] =
        ms / static_cast<double>(state.iterations()) / (file.mesh.triangleCount() * 1e-6);
    state.counters["vertices_changed"] = static_cast<double>(file.changed);
}

void BM_Read(benchmark::State& state, Format format) {
    SphereFile& file = sphereFile(format);
    const Clock::time_point start = Clock::now();
    for (auto _ : state) {
        Solid s;
        if (!read(format, file.path, s).ok()) {
            state.SkipWithError("read failed");
        }
        benchmark::DoNotOptimize(s.vertices.data());
    }
    report(state, file, start);
}

void BM_Write(benchmark::State& state, Format format) {
    SphereFile& file = sphereFile(format);
    const std::string out = file.path + ".out";
    const Clock::time_point start = Clock::now();
    for (auto _ : state) {
        if (!write(format, file.mesh, out).ok()) {
            state.SkipWithError("write failed");
        }
    }
    report(state, file, start);
    std::filesystem::remove(out);
}

BENCHMARK_CAPTURE(BM_Read, BinaryPly, Format::BinaryPly)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Write, BinaryPly, Format::BinaryPly)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Read, AsciiPly, Format::AsciiPly)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Write, AsciiPly, Format::AsciiPly)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Read, ThreeMf, Format::ThreeMf)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Write, ThreeMf, Format::ThreeMf)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace korvan
