// The volume a tool sweeps along the straight moves of a program.
#pragma once

#include <vector>

#include "gcode/program.h"
#include "geometry/solid.h"
#include "geometry/status.h"
#include "geometry/vector4.h"

namespace korvan::gcode {

// The volume a convex tool (tip at its origin, as makeTool builds it) sweeps moving in a straight
// line from `from` to `to`: the exact convex hull of the tool's vertices moved to both ends, as a
// closed, outward-oriented mesh. Its vertices are the moved vertices rounded once to float, no
// others. A move shorter than `shortMove` gives the tool at `from` alone. Refuses a tool that
// spans no volume and positions that do not fit a float; `out` is changed only on success.
Status sweepStraightMove(const Solid& tool, const Position& from, const Position& to,
                         double shortMove, Solid& out);

// Whether `tool` (closed, outward-oriented) is convex as far as its float corners allow: the
// exact convex hull of its vertices exceeds its volume by at most `share` of the hull's. The
// program's own spheres, cylinders and cones are dented by rounding (a corner a few float steps
// in front of a neighbouring face), so exact convexity would refuse them; a real dent of a
// thousandth of the tool is refused at any share below that.
bool fillsConvexHull(const Solid& tool, double share);

// The volume a convex `tool` sweeps moving in a straight line from where `from` puts it to
// where `to` puts it: the exact convex hull of its vertices moved by both, each moved as
// Solid::translate moves it, so that the hull's corners are the tool's own corners at either
// end to the last bit. Refuses a tool that spans no volume; `out` is changed only on success.
Status sweepSolidBetween(const Solid& tool, const Vector4& from, const Vector4& to, Solid& out);

// The moves with each run of consecutive feed moves of one feed and one tool that go on along
// one straight line joined into one move: every point the run passes lies within `tolerance` of
// the joined move. A joined move keeps the line number of the last move it stands for. `start`
// is where the tool is before the first move (Program::start). Runs are cut after 256 moves,
// which keeps the work linear.
std::vector<Move> mergeCollinearFeeds(const std::vector<Move>& moves, const Position& start,
                                      double tolerance);

}  // namespace korvan::gcode
