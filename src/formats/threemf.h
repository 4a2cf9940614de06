// 3MF, the zipped XML of current slicers (read with lib3mf, written by our own writer so that every
// coordinate reads back exactly).
#pragma once

#include <string>
#include <string_view>

#include "geometry/solid.h"
#include "geometry/status.h"
#include "meshio/mesh_data.h"
#include "meshio/mesh_output.h"

namespace korvan {

Status readThreeMf(const std::string& path, Solid& target, const ReadOptions& options = {});
Status readThreeMfBytes(std::string_view bytes, const std::string& path, Solid& target,
                        const ReadOptions& options = {});
Status writeThreeMf(const Solid& solid, const std::string& path, const WriteOptions& options = {});

}  // namespace korvan
