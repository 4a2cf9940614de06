// PLY, ASCII and binary of either byte order.
#pragma once

#include <string>
#include <string_view>

#include "geometry/solid.h"
#include "geometry/status.h"
#include "meshio/mesh_data.h"
#include "meshio/mesh_output.h"

namespace korvan {

Status readPly(const std::string& path, Solid& target, const ReadOptions& options = {});
Status readPlyBytes(std::string_view bytes, const std::string& path, Solid& target,
                    const ReadOptions& options = {});
Status writePly(const Solid& solid, const std::string& path, const WriteOptions& options = {});

}  // namespace korvan
