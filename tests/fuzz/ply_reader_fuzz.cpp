// libFuzzer target for the PLY reader: any bytes must give a mesh or a refusal, never a crash or
// an allocation the file cannot back; an accepted mesh has triangles, names only vertices it
// has, and holds finite numbers only.
#include <cstdint>
#include <string_view>

#include "accepted_mesh.h"
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
    korvan::fuzz::abortUnlessSound(solid);
    return 0;
}
