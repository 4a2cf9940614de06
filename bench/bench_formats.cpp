// STL and OFF reading and writing of a sphere of about a million triangles.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "formats/off.h"
#include "formats/stl.h"
#include "generator/generators.h"

namespace korvan {
namespace {

enum class Format { BinaryStl, AsciiStl, Off };

Status write(Format format, const Solid& mesh, const std::string& path) {
    switch (format) {
        case Format::BinaryStl:
            return writeStl(mesh, path);
        case Format::AsciiStl:
            return writeStl(mesh, path, WriteOptions{true});
        case Format::Off:
            return writeOff(mesh, path);
    }
    return {};
}

Status read(Format format, const std::string& path, Solid& target) {
    return format == Format::Off ? readOff(path, target) : readStl(path, target);
}

// The sphere, written once per format to a temporary file.
class SphereFile {
public:
    explicit SphereFile(Format format) {
        MakeSphere(mesh, 708, 708, 1.0f);
        static constexpr const char* kNames[] = {"binary.stl", "ascii.stl", "mesh.off"};
        path = (std::filesystem::temp_directory_path() /
                ("korvan-bench-1m-" + std::string(kNames[static_cast<int>(format)])))
                   .string();
        if (!write(format, mesh, path).ok()) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
        }
        bytes = static_cast<int64_t>(std::filesystem::file_size(path));
    }
    ~SphereFile() { std::filesystem::remove(path); }
    SphereFile(const SphereFile&) = delete;
    SphereFile& operator=(const SphereFile&) = delete;

    Solid mesh;
    std::string path;
    int64_t bytes = 0;
};

SphereFile& sphereFile(Format format) {
    // Each written only when a benchmark of its format runs.
    switch (format) {
        case Format::BinaryStl: {
            static SphereFile binary(Format::BinaryStl);
            return binary;
        }
        case Format::AsciiStl: {
            static SphereFile ascii(Format::AsciiStl);
            return ascii;
        }
        case Format::Off:
            break;
    }
    static SphereFile off(Format::Off);
    return off;
}

void BM_Read(benchmark::State& state, Format format) {
    SphereFile& file = sphereFile(format);
    for (auto _ : state) {
        Solid s;
        if (!read(format, file.path, s).ok()) {
            state.SkipWithError("read failed");
        }
        benchmark::DoNotOptimize(s.vertices.data());
    }
    state.SetBytesProcessed(state.iterations() * file.bytes);
    state.counters["triangles"] = file.mesh.triangleCount();
}

void BM_Write(benchmark::State& state, Format format) {
    SphereFile& file = sphereFile(format);
    const std::string out = file.path + ".out";
    for (auto _ : state) {
        if (!write(format, file.mesh, out).ok()) {
            state.SkipWithError("write failed");
        }
    }
    std::filesystem::remove(out);
    state.SetBytesProcessed(state.iterations() * file.bytes);
    state.counters["triangles"] = file.mesh.triangleCount();
}

BENCHMARK_CAPTURE(BM_Read, BinaryStl, Format::BinaryStl)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Write, BinaryStl, Format::BinaryStl)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Read, AsciiStl, Format::AsciiStl)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Write, AsciiStl, Format::AsciiStl)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Read, Off, Format::Off)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Write, Off, Format::Off)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace korvan
