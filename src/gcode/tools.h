// Milling tools as closed convex meshes: the cutting part and the shank above it, from the
// forms the command line and a tool table give them in.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "geometry/solid.h"
#include "geometry/status.h"

namespace korvan::gcode {

enum class ToolShape : uint8_t {
    Flat,      // flat end mill
    Ball,      // ball end mill
    BullNose,  // flat bottom with a rounded corner
    Drill,     // drill or V-bit: a cone at the tip
};

// A tool's cutting part, in program units, tip at the origin and axis along +z. The flute
// length is measured from the tip and holds the whole rounded or pointed end.
struct ToolSpec {
    ToolShape shape = ToolShape::Flat;
    double diameter = 0.0;
    double cornerRadius = 0.0;  // bull-nose: 0 <= r <= diameter / 2
    double tipAngle = 0.0;      // drill: full angle at the tip, degrees, in (0, 180)
    double fluteLength = 0.0;
};

// A cylinder above the cutting part, starting at the flute length.
struct ShankSpec {
    double diameter = 0.0;
    double length = 0.0;
};

// Refuses parameters that make no tool: a diameter or flute length not above 0, a corner
// radius outside [0, diameter / 2], a tip angle outside (0, 180), a flute length shorter than
// the rounded or pointed end, and any value not finite or above 1e6.
Status checkTool(const ToolSpec& tool);
Status checkShank(const ShankSpec& shank);

// The cutting part as a closed, convex, outward-oriented mesh (an exact convex hull of float
// points on the true surface), no farther than `tolerance` from the true surface anywhere.
// Refuses what checkTool refuses, a tolerance not above 0, and a tolerance so small against the
// tool that the mesh would pass 200,000 points. `out` is changed only on success.
Status makeTool(const ToolSpec& tool, double tolerance, Solid& out);

// The shank as a closed, convex cylinder from z = fluteLength up, within `tolerance`.
Status makeShank(const ShankSpec& shank, double fluteLength, double tolerance, Solid& out);

// The command line's forms "flat:D,L", "ball:D,L", "bull:D,R,L", "drill:D,ANGLE,L", checked by
// checkTool; the message names the text.
Status parseTool(std::string_view text, ToolSpec& out);

// The command line's "--shank D,L", checked by checkShank.
Status parseShank(std::string_view text, ShankSpec& out);

struct ToolTableEntry {
    int32_t number = 0;  // the T word that selects it
    ToolSpec tool;
};

// A tool table: one tool per line, "T1 flat 6 20", "T2 ball 6 20", "T3 bull 10 1 25",
// "T4 drill 8 118 30" (the numbers of the command-line forms, separated by blanks), '#'
// starting a comment, blank lines skipped. Each number once. Refusals name the file and the
// line; `target` is replaced only on success.
using ToolTable = std::vector<ToolTableEntry>;
Status readToolTable(const std::string& path, ToolTable& target);
Status readToolTableText(std::string_view text, const std::string& path, ToolTable& target);

// The entry for tool `number`, or nullptr.
const ToolSpec* findTool(const ToolTable& table, int32_t number);

}  // namespace korvan::gcode
