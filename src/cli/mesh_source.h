// The text forms of the command line's values: mesh sources and X,Y,Z vectors.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "generator/generators.h"
#include "geometry/status.h"
#include "geometry/vector4.h"

namespace korvan::cli {

// A primitive when `text` starts with sphere:, cube:, box:, cylinder: or cone:, otherwise
// nullopt (the text is a path). Malformed numbers or a wrong count of them fail with
// "Nedozvoljena vrijednost parametra", as out-of-bounds values do.
std::optional<Status> parsePrimitive(const std::string& text, PrimitiveParameters& out);

// "X,Y,Z", three numbers as parseFloat reads them.
bool parseVector(const std::string& text, Vector4& out);

// The pieces of `text` between separators (one piece when there is none).
std::vector<std::string> split(const std::string& text, char separator);

}  // namespace korvan::cli
