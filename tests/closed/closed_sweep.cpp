// Runs the closed engine's random pairs for a range of seeds and reports faults and slow runs:
//   closed_sweep FIRST_SEED COUNT [SECONDS [FOLDER | hashes]]
// With "hashes", each seed's three results are printed as hashes of their vertices and
// corners, so that two builds can be compared for byte-identical output, each with the number
// of pairs of its triangles that cross or touch.
// With one seed and a folder, the two operands are written there as a.obj and b.obj (moved by
// the offset), with every float exact, for a closer look with korvan-cli.
// Exit status 1 when any seed found a fault or took longer than SECONDS (default 10) for one
// operation.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "closed/closed_boolean.h"
#include "support/random_solids.h"

namespace {

void writeExact(const korvan::Solid& s, const korvan::Vector4& offset, const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr) {
        return;
    }
    for (const korvan::Vector4& v0 : s.vertices) {
        const korvan::Vector4 v = v0 + offset;
        std::fprintf(f, "v %.9g %.9g %.9g\n", v.x, v.y, v.z);
    }
    for (const korvan::Triangle& t : s.triangles) {
        std::fprintf(f, "f %d %d %d\n", t.i0 + 1, t.i1 + 1, t.i2 + 1);
    }
    std::fclose(f);
}

// FNV-1a over the vertex coordinates and the corners.
uint32_t hashOf(const korvan::Solid& s) {
    uint32_t h = 2166136261u;
    const auto mix = [&h](const void* data, size_t n) {
        const auto* b = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < n; ++i) {
            h = (h ^ b[i]) * 16777619u;
        }
    };
    for (const korvan::Vector4& v : s.vertices) {
        const float xyz[3] = {v.x, v.y, v.z};
        mix(xyz, sizeof xyz);
    }
    for (const korvan::Triangle& t : s.triangles) {
        const int32_t c[3] = {t.i0, t.i1, t.i2};
        mix(c, sizeof c);
    }
    return h;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "closed_sweep FIRST_SEED COUNT [SECONDS]\n");
        return 2;
    }
    const uint64_t first = std::strtoull(argv[1], nullptr, 10);
    const uint64_t count = std::strtoull(argv[2], nullptr, 10);
    const double limit = argc > 3 ? std::atof(argv[3]) : 10.0;
    int64_t faults = 0, slow = 0;
    double slowest = 0;
    for (uint64_t seed = first; seed < first + count; ++seed) {
        korvan::test::Choices choices(seed);
        const korvan::test::OperandPair pair = korvan::test::randomOperands(choices);
        if (argc > 4 && std::string(argv[4]) == "hashes") {
            const korvan::BooleanOp ops[3] = {korvan::BooleanOp::Union,
                                              korvan::BooleanOp::Intersection,
                                              korvan::BooleanOp::Difference};
            std::printf("seed %llu", static_cast<unsigned long long>(seed));
            for (korvan::BooleanOp op : ops) {
                korvan::Solid out;
                const korvan::Status s =
                    korvan::closedBoolean(pair.a, pair.b, op, out, nullptr, 0, pair.offset);
                // The hash, and the pairs of result triangles that cross or touch.
                std::printf(" %08x:%lld", s.ok() ? hashOf(out) : 0u,
                            static_cast<long long>(
                                s.ok() && !out.triangles.empty()
                                    ? korvan::crossingPairsWithin(
                                          out, korvan::Vector4(-HUGE_VALF, -HUGE_VALF, -HUGE_VALF),
                                          korvan::Vector4(HUGE_VALF, HUGE_VALF, HUGE_VALF))
                                    : 0));
            }
            std::printf("\n");
            continue;
        }
        if (count == 1 && argc > 4) {
            writeExact(pair.a, korvan::Vector4(), std::string(argv[4]) + "/a.obj");
            writeExact(pair.b, pair.offset, std::string(argv[4]) + "/b.obj");
            std::printf("%s\n", pair.description.c_str());
            std::fflush(stdout);
        }
        double times[3] = {0, 0, 0};
        const std::string fault = korvan::test::faultOfPair(pair, times);
        for (double t : times) {
            slowest = t > slowest ? t : slowest;
            if (t > limit) {
                ++slow;
                std::printf("seed %llu slow (%.2f s): %s\n", static_cast<unsigned long long>(seed),
                            t, pair.description.c_str());
            }
        }
        if (count == 1) {
            // One seed: what each operation gave, for a closer look.
            const korvan::BooleanOp ops[3] = {korvan::BooleanOp::Union,
                                              korvan::BooleanOp::Intersection,
                                              korvan::BooleanOp::Difference};
            for (korvan::BooleanOp op : ops) {
                const korvan::test::Judged j = korvan::test::runAndJudge(pair, op);
                std::printf(
                    "%s: %s volume %.9g (slack %.3g), %lld pinched, %lld open, %lld folds, %lld "
                    "slivers %s\n",
                    std::string(korvan::operationName(op)).c_str(), j.ok ? "ok" : "refused",
                    j.volume, j.roundingSlack, static_cast<long long>(j.pinchedEdges),
                    static_cast<long long>(j.openOrFlipped), static_cast<long long>(j.folds),
                    static_cast<long long>(j.slivers), j.message.c_str());
            }
        }
        if (!fault.empty()) {
            ++faults;
            std::printf("seed %llu: %s: %s\n", static_cast<unsigned long long>(seed),
                        pair.description.c_str(), fault.c_str());
        }
        std::fflush(stdout);
    }
    std::printf("%llu seeds, %lld faults, %lld operations over %.0f s, slowest %.3f s\n",
                static_cast<unsigned long long>(count), static_cast<long long>(faults),
                static_cast<long long>(slow), limit, slowest);
    return faults == 0 && slow == 0 ? 0 : 1;
}
