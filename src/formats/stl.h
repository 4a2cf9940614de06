// STL, binary and ASCII: triangles that each carry their own three corners.
#pragma once

#include <string>
#include <string_view>

#include "geometry/solid.h"
#include "geometry/status.h"
#include "meshio/mesh_data.h"
#include "meshio/mesh_output.h"

namespace korvan {

Status readStl(const std::string& path, Solid& target, const ReadOptions& options = {});
Status readStlBytes(std::string_view bytes, const std::string& path, Solid& target,
                    const ReadOptions& options = {});
Status writeStl(const Solid& solid, const std::string& path, const WriteOptions& options = {});

}  // namespace korvan
