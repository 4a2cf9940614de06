// libFuzzer target for the command line's mesh sources ("sphere:M,N,R" ...): any text is a
// path, an accepted primitive whose parameters the generator takes, or a refusal.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "cli/mesh_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    korvan::PrimitiveParameters p;
    const auto parsed = korvan::cli::parsePrimitive(text, p);
    if (parsed && parsed->ok() && korvan::firstInvalidField(p)) {
        std::abort();
    }
    korvan::Vector4 v;
    (void)korvan::cli::parseVector(text, v);
    return 0;
}
