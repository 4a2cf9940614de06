// libFuzzer target for what follows a read: normalisation, a coarse edge sampling and the
// triangle data. Whatever the file, the prepared mesh holds finite numbers only, every edge
// within the sampling limit.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include <string_view>

#include "geometry/solid.h"
#include "meshio/load.h"
#include "meshio/obj.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    korvan::Solid read;
    korvan::Solid solid;
    // Coarse enough that a small file cannot ask for millions of triangles.
    if (!korvan::readObjText(text, "fuzz.obj", read).ok() ||
        !korvan::completeAndReplace(read, 0.25f, solid).ok()) {
        return 0;
    }
    const auto finite = [](const korvan::Vector4& v) {
        return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
    };
    for (const korvan::Vector4& v : solid.vertices) {
        if (!finite(v)) {
            std::abort();
        }
    }
    for (const korvan::Triangle& t : solid.triangles) {
        if (!finite(t.normal) || !finite(t.centroid)) {
            std::abort();
        }
        const korvan::Vector4& a = solid.vertices[t.i0];
        const korvan::Vector4& b = solid.vertices[t.i1];
        if (solid.edgeLimit > 0 && korvan::length(b - a) > solid.edgeLimit * 1.0001) {
            std::abort();
        }
    }
    return 0;
}
