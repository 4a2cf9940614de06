// libFuzzer target for one mesh reader, built once per format with KORVAN_FUZZ_READER naming the
// reader: any bytes must give a mesh or a refusal, never a crash, an allocation the file cannot
// back, or a leaked lib3mf object. An accepted mesh has triangles, names only vertices it has,
// and holds finite numbers only; anything else aborts, which libFuzzer reports.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "formats/off.h"
#include "formats/ply.h"
#include "formats/stl.h"
#include "formats/threemf.h"
#include "geometry/solid.h"
#include "meshio/obj.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    korvan::Solid solid;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // The file's own coordinates half the time, so that both paths of adoptMesh are explored.
    const korvan::ReadOptions options{size % 2 == 0};
    if (!korvan::KORVAN_FUZZ_READER(bytes, "fuzz", solid, options).ok()) {
        return 0;
    }
    if (solid.triangles.empty()) {
        std::abort();
    }
    for (const korvan::Triangle& t : solid.triangles) {
        for (const int32_t i : {t.i0, t.i1, t.i2}) {
            if (i < 0 || i >= solid.vertexCount()) {
                std::abort();
            }
        }
    }
    for (const korvan::Vector4& v : solid.vertices) {
        if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z)) {
            std::abort();
        }
    }
    return 0;
}
