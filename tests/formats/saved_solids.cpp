// Saves the closed engine's results on random operand pairs in every format, reads them back
// and counts what a user would see go wrong (not a test; a measurement):
//   saved_solids FIRST_SEED COUNT
// For each result: open or unevenly used edges (welded by position), faults of 2-manifoldness by
// index (formats with indices), flat triangles, vertices that came back different, and whether the
// engine takes it again; then each pair's difference is chained five times through an OBJ file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "closed/closed_boolean.h"
#include "formats/mesh_file.h"
#include "generator/generators.h"
#include "geometry/mesh_topology.h"
#include "support/format_checks.h"
#include "support/mesh_checks.h"
#include "support/random_solids.h"

namespace korvan {
namespace {

struct Tally {
    int64_t results = 0, pinchedInMemory = 0, open = 0, nonManifold = 0, degenerate = 0,
            changed = 0, refused = 0;
};

bool sameCorners(const Solid& a, const Solid& b) {
    if (a.triangles.size() != b.triangles.size()) {
        return false;
    }
    for (size_t t = 0; t < a.triangles.size(); ++t) {
        const Triangle& x = a.triangles[t];
        const Triangle& y = b.triangles[t];
        const int32_t cx[3] = {x.i0, x.i1, x.i2};
        const int32_t cy[3] = {y.i0, y.i1, y.i2};
        for (int k = 0; k < 3; ++k) {
            const Vector4& p = a.vertices[static_cast<size_t>(cx[k])];
            const Vector4& q = b.vertices[static_cast<size_t>(cy[k])];
            if (p.x != q.x || p.y != q.y || p.z != q.z) {
                return false;
            }
        }
    }
    return true;
}

// The engine takes the solid again: an operation with a small cube far away runs every check.
bool accepted(const Solid& s) {
    Solid far, out;
    MakeCube(far, 0.01f);
    const Status status =
        closedBoolean(s, far, BooleanOp::Union, out, nullptr, 1, Vector4(1e4f, 0, 0));
    if (!status && std::getenv("SAVED_SOLIDS_VERBOSE") != nullptr) {
        std::printf("  refused: %s\n", status.message().c_str());
    }
    return status.ok();
}

void judge(const Solid& result, const std::string& path, Tally& tally) {
    Solid back;
    if (!writeMesh(result, path).ok() || !readMesh(path, back, test::keepCoordinates()).ok()) {
        ++tally.refused;
        return;
    }
    ++tally.results;
    const MeshTopology topo = analyzeTopology(back);
    tally.open += topo.openEdges + topo.orientationFlips != 0;
    if (formatOfPath(path) != MeshFormat::Stl) {
        const test::IndexFaults f = test::indexManifoldFaults(back);
        tally.nonManifold += f.edges + f.vertices != 0;
        if (f.edges + f.vertices != 0 && std::getenv("SAVED_SOLIDS_VERBOSE") != nullptr) {
            std::printf("  %s not manifold by index: %lld edges, %lld vertices, %lld flat\n",
                        path.c_str(), static_cast<long long>(f.edges),
                        static_cast<long long>(f.vertices),
                        static_cast<long long>(test::degenerateTriangles(back)));
        }
    }
    tally.degenerate += test::degenerateTriangles(back) != 0;
    tally.changed += !sameCorners(result, back);
    tally.refused += !accepted(back);
}

}  // namespace
}  // namespace korvan

int main(int argc, char** argv) {
    using namespace korvan;
    if (argc < 3) {
        std::fprintf(stderr, "saved_solids FIRST_SEED COUNT\n");
        return 2;
    }
    const uint64_t first = std::strtoull(argv[1], nullptr, 10);
    const uint64_t count = std::strtoull(argv[2], nullptr, 10);
    test::TempDir dir;
    const char* names[] = {"r.obj", "r.stl", "r.ply", "r.off", "r.3mf"};
    Tally tallies[5];
    int64_t chains = 0, cleanChains = 0;
    for (uint64_t seed = first; seed < first + count; ++seed) {
        test::Choices choices(seed);
        const test::OperandPair pair = test::randomOperands(choices);
        for (BooleanOp op : {BooleanOp::Union, BooleanOp::Intersection, BooleanOp::Difference}) {
            Solid result;
            if (!closedBoolean(pair.a, pair.b, op, result, nullptr, 0, pair.offset).ok() ||
                result.triangles.empty()) {
                continue;
            }
            const test::IndexFaults inMemory = test::indexManifoldFaults(result);
            if (std::getenv("SAVED_SOLIDS_VERBOSE") != nullptr) {
                std::printf("seed %llu %s\n", static_cast<unsigned long long>(seed),
                            std::string(operationName(op)).c_str());
            }
            for (int f = 0; f < 5; ++f) {
                tallies[f].pinchedInMemory += inMemory.edges + inMemory.vertices != 0;
                judge(result, dir.path(names[f]), tallies[f]);
            }
        }
        // Five differences chained through a file, object 2 moved a little further each time.
        Solid work;
        work.copyMeshFrom(pair.a);
        bool clean = true, ran = false;
        for (int step = 0; step < 5 && clean; ++step) {
            Solid next;
            const Vector4 at = pair.offset + Vector4(0.01f * static_cast<float>(step), 0, 0);
            if (!closedBoolean(work, pair.b, BooleanOp::Difference, next, nullptr, 0, at).ok()) {
                clean = step > 0 ? false : clean;
                break;
            }
            ran = true;
            if (next.triangles.empty()) {
                break;
            }
            const std::string path = dir.path("chain.obj");
            clean = writeMesh(next, path).ok() &&
                    readMesh(path, work, test::keepCoordinates()).ok() &&
                    analyzeTopology(work).openEdges == 0 && test::degenerateTriangles(work) == 0 &&
                    test::indexManifoldFaults(work).edges == 0 &&
                    test::indexManifoldFaults(work).vertices == 0;
        }
        chains += ran;
        cleanChains += ran && clean;
    }
    for (int f = 0; f < 5; ++f) {
        const Tally& t = tallies[f];
        std::printf(
            "%s: %lld results (%lld pinched in memory): %lld open, %lld not 2-manifold by "
            "index, %lld with flat triangles, %lld with changed vertices, %lld refused\n",
            names[f] + 2, static_cast<long long>(t.results),
            static_cast<long long>(t.pinchedInMemory), static_cast<long long>(t.open),
            static_cast<long long>(t.nonManifold), static_cast<long long>(t.degenerate),
            static_cast<long long>(t.changed), static_cast<long long>(t.refused));
    }
    std::printf("chains of five differences through OBJ: %lld, clean %lld\n",
                static_cast<long long>(chains), static_cast<long long>(cleanChains));
    return 0;
}
