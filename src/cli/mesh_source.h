// Mesh sources on the command line: an OBJ path or a primitive such as "sphere:M,N,R".
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "generator/generators.h"
#include "geometry/solid.h"
#include "geometry/status.h"
#include "geometry/vector4.h"

namespace korvan::cli {

// A primitive when `text` starts with sphere:, cube:, box:, cylinder: or cone:, otherwise
// nullopt (the text is a path). Malformed numbers or a wrong count of them fail with
// "Nedozvoljena vrijednost parametra", as out-of-bounds values do.
std::optional<Status> parsePrimitive(const std::string& text, PrimitiveParameters& out);

// Reads (and normalises) or generates the source, then samples it with g_samplingFactor and
// computes its triangle data, announcing the phase on stderr. `target` changes only on success.
Status loadSource(const std::string& text, int objectNumber, Solid& target);

// Parses a number in the C locale's notation, whatever the process locale; the whole text
// must be the number.
bool parseFloat(const std::string& text, float& out);
bool parseInt(const std::string& text, int& out);
// "X,Y,Z", three floats as parseFloat reads them.
bool parseVector(const std::string& text, Vector4& out);

// The pieces of `text` between separators (one piece when there is none).
std::vector<std::string> split(const std::string& text, char separator);

}  // namespace korvan::cli
