// libFuzzer target for the closed engine: the bytes choose two solids (hulls of points, boxes
// turned by tiny angles, height fields, bumpy spheres, copies of one another, offsets down to
// 1e-30) and all three operations run on them. A refusal of an operand is fine; anything else
// must be a closed, oriented result whose volumes keep vol(A u B) + vol(A n B) = vol(A) +
// vol(B). The sanitizers catch the rest.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/random_solids.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    korvan::test::Choices choices(data, size);
    const korvan::test::OperandPair pair = korvan::test::randomOperands(choices);
    const std::string fault = korvan::test::faultOfPair(pair);
    if (!fault.empty()) {
        std::fprintf(stderr, "%s: %s\n", pair.description.c_str(), fault.c_str());
        std::abort();
    }
    return 0;
}
