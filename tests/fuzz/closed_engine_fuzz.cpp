// libFuzzer target for the closed engine: the bytes choose two solids (hulls of points, boxes
// turned by tiny angles, height fields, bumpy spheres, copies of one another, offsets down to
// 1e-30) and all three operations run on them. A refusal of an operand is fine; anything else
// must be a closed, oriented result whose volumes keep vol(A u B) + vol(A n B) = vol(A) +
// vol(B). The union then goes on as object 1 of one more operation, as a chain of operations
// uses it, unchecked: that step must be closed and oriented too, or refused. The sanitizers
// catch the rest.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "closed/closed_boolean.h"
#include "geometry/mesh_topology.h"
#include "support/random_solids.h"

using namespace korvan;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    test::Choices choices(data, size);
    const test::OperandPair pair = test::randomOperands(choices);
    const std::string fault = test::faultOfPair(pair);
    if (!fault.empty()) {
        std::fprintf(stderr, "%s: %s\n", pair.description.c_str(), fault.c_str());
        std::abort();
    }
    Solid joined;
    if (!closedBoolean(pair.a, pair.b, BooleanOp::Union, joined, nullptr, 0, pair.offset).ok()) {
        return 0;
    }
    constexpr BooleanOp kOps[] = {BooleanOp::Union, BooleanOp::Intersection, BooleanOp::Difference};
    const BooleanOp op = kOps[choices.below(3)];
    const Vector4 at = choices.flip() ? pair.offset : Vector4();
    Solid out;
    if (closedBooleanOfResult(joined, pair.b, op, out, nullptr, 0, at).ok()) {
        // Edges with four triangles are fine: where the exact result pinches, parts touch.
        const MeshTopology topo = analyzeTopology(out);
        if (topo.openEdges != 0 || topo.orientationFlips != 0) {
            std::fprintf(stderr,
                         "%s: the chained operation %d gave %lld open and %lld flipped edges\n",
                         pair.description.c_str(), static_cast<int>(op),
                         static_cast<long long>(topo.openEdges),
                         static_cast<long long>(topo.orientationFlips));
            std::abort();
        }
    }
    return 0;
}
