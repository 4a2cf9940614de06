#include "formats/mesh_file.h"

#include <cctype>

#include "formats/off.h"
#include "formats/ply.h"
#include "formats/stl.h"
#include "formats/threemf.h"
#include "geometry/sheets.h"
#include "meshio/load.h"
#include "meshio/obj.h"

namespace korvan {
namespace {

bool endsWithNoCase(std::string_view text, std::string_view suffix) {
    if (text.size() < suffix.size()) {
        return false;
    }
    text.remove_prefix(text.size() - suffix.size());
    for (size_t i = 0; i < suffix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != suffix[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

MeshFormat formatOfPath(std::string_view path) {
    if (endsWithNoCase(path, ".stl")) {
        return MeshFormat::Stl;
    }
    if (endsWithNoCase(path, ".ply")) {
        return MeshFormat::Ply;
    }
    if (endsWithNoCase(path, ".off")) {
        return MeshFormat::Off;
    }
    if (endsWithNoCase(path, ".3mf")) {
        return MeshFormat::ThreeMf;
    }
    return MeshFormat::Obj;
}

Status readMesh(const std::string& path, Solid& target, const ReadOptions& options,
                const StopToken& stop) {
    switch (formatOfPath(path)) {
        case MeshFormat::Stl:
            return readStl(path, target, options);
        case MeshFormat::Ply:
            return readPly(path, target, options);
        case MeshFormat::Off:
            return readOff(path, target, options);
        case MeshFormat::ThreeMf:
            return readThreeMf(path, target, options);
        case MeshFormat::Obj:
            break;
    }
    return readObj(path, target, options, stop);
}

Status writeMesh(const Solid& input, const std::string& path, const WriteOptions& options) {
    // STL has no shared vertices to separate: a reader welds them again.
    const MeshFormat format = formatOfPath(path);
    Solid separated;
    const Solid& solid =
        format != MeshFormat::Stl && separateSheets(input, separated) ? separated : input;
    switch (format) {
        case MeshFormat::Stl:
            return writeStl(solid, path, options);
        case MeshFormat::Ply:
            return writePly(solid, path, options);
        case MeshFormat::Off:
            return writeOff(solid, path, options);
        case MeshFormat::ThreeMf:
            return writeThreeMf(solid, path, options);
        case MeshFormat::Obj:
            break;
    }
    return writeObj(solid, path);
}

Status loadObject(const std::string& path, float samplingFactor, Solid& target,
                  const ReadOptions& options, const StopToken& stop, Solid* plain) {
    Solid fresh;
    if (Status s = readMesh(path, fresh, options, stop); !s) {
        return s;
    }
    return completeAndReplace(fresh, samplingFactor, target, plain);
}

}  // namespace korvan
