// libFuzzer target for the OFF reader: any bytes must give a mesh or a refusal, never a crash;
// an accepted mesh has triangles, names only vertices it has, and holds finite numbers only.
#include <cstdint>

#include <string_view>

#include "accepted_mesh.h"
#include "formats/off.h"
#include "geometry/solid.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    korvan::Solid solid;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (!korvan::readOffBytes(bytes, "fuzz.off", solid).ok()) {
        return 0;
    }
    korvan::fuzz::abortUnlessSound(solid);
    return 0;
}
