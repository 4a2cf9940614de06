// OFF: the Object File Format's text form.
#pragma once

#include <string>
#include <string_view>

#include "geometry/solid.h"
#include "geometry/status.h"
#include "meshio/mesh_data.h"
#include "meshio/mesh_output.h"

namespace korvan {

Status readOff(const std::string& path, Solid& target, const ReadOptions& options = {});
Status readOffBytes(std::string_view bytes, const std::string& path, Solid& target,
                    const ReadOptions& options = {});
Status writeOff(const Solid& solid, const std::string& path, const WriteOptions& options = {});

}  // namespace korvan
