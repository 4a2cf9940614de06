// What the reader fuzz targets demand of a mesh a reader accepted: triangles, corners that name
// vertices it has, finite coordinates only. Anything else aborts, which libFuzzer reports.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "geometry/solid.h"

namespace korvan::fuzz {

inline void abortUnlessSound(const Solid& solid) {
    if (solid.triangles.empty()) {
        std::abort();
    }
    for (const Triangle& t : solid.triangles) {
        for (const int32_t i : {t.i0, t.i1, t.i2}) {
            if (i < 0 || i >= solid.vertexCount()) {
                std::abort();
            }
        }
    }
    for (const Vector4& v : solid.vertices) {
        if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z)) {
            std::abort();
        }
    }
}

}  // namespace korvan::fuzz
