// Mesh files of every format Korvan knows: OBJ, STL, PLY, OFF and 3MF, told by the extension.
#pragma once

#include <string>
#include <string_view>

#include "geometry/solid.h"
#include "geometry/status.h"
#include "geometry/stop_token.h"
#include "meshio/mesh_data.h"
#include "meshio/mesh_output.h"

namespace korvan {

enum class MeshFormat { Obj, Stl, Ply, Off, ThreeMf };

// The format a path's extension names, in any letter case; OBJ for any other extension (what
// every file was read as before the other formats came).
MeshFormat formatOfPath(std::string_view path);

// Reads a mesh file of the format its extension names into `target` (replaced only on
// success), centred and scaled into the unit box unless `options` keeps the file's coordinates.
// `stop` is polled while an OBJ file is parsed (OperationStopped, `target` untouched).
Status readMesh(const std::string& path, Solid& target, const ReadOptions& options = {},
                const StopToken& stop = {});

// Writes `solid` in the format the extension names, atomically: a failure leaves an existing
// file untouched. Every coordinate reads back as the same float.
Status writeMesh(const Solid& solid, const std::string& path, const WriteOptions& options = {});

// The open-object flow without its dialog: read (any format), normalise unless `options` keeps
// the file's coordinates, sample, triangle data. `target` is replaced only on success.
// `plain`: as completeAndReplace's.
Status loadObject(const std::string& path, float samplingFactor, Solid& target,
                  const ReadOptions& options = {}, const StopToken& stop = {},
                  Solid* plain = nullptr);

}  // namespace korvan
