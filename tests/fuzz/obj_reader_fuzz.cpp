// libFuzzer target for the OBJ reader: any bytes must give a mesh or a refusal, never a crash,
// and an accepted mesh only names vertices it has.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "geometry/solid.h"
#include "meshio/obj.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/korvan-fuzz-" + std::to_string(::getpid()) + ".obj";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return 0;
    }
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    korvan::Solid solid;
    if (korvan::readObj(path, solid).ok()) {
        for (const korvan::Triangle& t : solid.triangles) {
            for (const int32_t i : {t.i0, t.i1, t.i2}) {
                if (i < 0 || i >= solid.vertexCount()) {
                    std::abort();
                }
            }
        }
    }
    return 0;
}
