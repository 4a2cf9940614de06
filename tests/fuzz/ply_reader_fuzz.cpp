// libFuzzer target for the PLY reader: any bytes must give a mesh or a refusal, never a crash or
// an allocation the file cannot back; an accepted mesh has triangles, names only vertices it
// has, and holds finite numbers only.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "formats/ply.h"
#include "geometry/solid.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    korvan::Solid solid;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // The file's own coordinates half the time, so that both paths of adoptMesh are explored.
    const korvan::ReadOptions options{size % 2 == 0};
    if (!korvan::readPlyBytes(bytes, "fuzz.ply", solid, options).ok()) {
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
