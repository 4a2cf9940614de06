// The volume a tool sweeps along the straight moves of a program.
#pragma once

#include <vector>

#include "gcode/program.h"
#include "geometry/solid.h"
#include "geometry/status.h"

namespace korvan::gcode {

// The volume a convex tool (tip at its origin, as makeTool builds it) sweeps moving in a straight
// line from `from` to `to`: the exact convex hull of the tool's vertices moved to both ends, as a
// closed, outward-oriented mesh. Its vertices are the moved vertices rounded once to float, no
// others. A move shorter than `shortMove` gives the tool at `from` alone. Refuses a tool that
// spans no volume and positions that do not fit a float; `out` is changed only on success.
Status sweepStraightMove(const Solid& tool, const Position& from, const Position& to,
                         double shortMove, Solid& out);

// The moves with each run of consecutive feed moves of one feed and one tool that go on along
// one straight line joined into one move: every point the run passes lies within `tolerance` of
// the joined move. A joined move keeps the line number of the last move it stands for. `start`
// is where the tool is before the first move (Program::start). Runs are cut after 256 moves,
// which keeps the work linear.
std::vector<Move> mergeCollinearFeeds(const std::vector<Move>& moves, const Position& start,
                                      double tolerance);

}  // namespace korvan::gcode
