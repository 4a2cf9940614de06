#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>

#include "meshio/mesh_output.h"
#include "meshio/obj.h"

namespace korvan {
namespace {

bool writeBody(const Solid& solid, FileSink& sink) {
    static constexpr char kHeader[] = "# 3d tijelo u .obj formatu\n";
    sink.append(kHeader, sizeof(kHeader) - 1);

    constexpr size_t kVertexLine = 3 * (kCoordinateChars + 1) + 2;
    for (const Vector4& v : solid.vertices) {
        char* p = sink.reserve(kVertexLine);
        *p++ = 'v';
        for (float c : {v.x, v.y, v.z}) {
            *p++ = ' ';
            p = putCoordinate(p, c);
        }
        *p++ = '\n';
        sink.commit(p);
    }
    constexpr size_t kFaceLine = 3 * 12 + 4;
    for (const Triangle& t : solid.triangles) {
        char* p = sink.reserve(kFaceLine);
        char* end = p + kFaceLine;
        *p++ = 'f';
        for (int32_t i : {t.i0, t.i1, t.i2}) {
            *p++ = ' ';
            p = std::to_chars(p, end, static_cast<int64_t>(i) + 1).ptr;
        }
        *p++ = '\n';
        sink.commit(p);
    }
    return true;
}

}  // namespace

Status writeObj(const Solid& solid, const std::string& path) {
    if (Status s = checkWritable(solid, path); !s) {
        return s;
    }
    return writeAtomically(path, [&](FileSink& sink) { return writeBody(solid, sink); });
}

}  // namespace korvan
