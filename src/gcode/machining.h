// A G-code program run against a stock: every move's swept volume subtracted in turn with the
// closed engine, so that the workpiece is a closed solid after each move, with the collisions
// of rapids and of the shank and the job's time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "gcode/program.h"
#include "gcode/tools.h"
#include "geometry/solid.h"
#include "geometry/status.h"

namespace korvan::gcode {

// An axis-aligned box from corner to corner (any two opposite corners, in program units) as a
// closed, outward-oriented stock. Refuses a corner not finite or beyond 1e6 and a box flat along
// an axis once its corners are floats. `out` is changed only on success.
Status makeBoxStock(const Position& a, const Position& b, Solid& out);

// "X0,Y0,Z0,X1,Y1,Z1" (the text after "box:") into makeBoxStock; the message names the text.
Status parseBoxStock(std::string_view text, Solid& out);

// Which tool cuts each move: the tool table's entry for the move's T where a table is given,
// otherwise (and for moves before any T) the fixed tool. The shank, when given, stands above
// every tool's flutes.
struct ToolChoice {
    std::optional<ToolSpec> fixed;
    ToolTable table;
    std::optional<ShankSpec> shank;
};

struct MachiningOptions {
    // Tessellation of the tools, merging of collinear feeds and the shortest move cut, in
    // program units.
    double tolerance = 0.01;
    double rapidRate = 5000.0;  // units per minute, for the job's time
    int threads = 0;            // the closed engine's worker threads (0: every core)
    // Keep every corner the exact cuts leave. By default a corner that only rounding turns
    // (off a straight rim or flat face by less than a step of the grid the run puts positions
    // on) is dropped after each cut: without that, long runs of passes along one wall split
    // it again and again at such corners, and the part grows with every move. Dropping them
    // moves the surface by a few grid steps at most (about 1e-5 on a part within 100 units),
    // so the part's volume then matches the exact chain of cuts to about that times its cut
    // surface, not to the last digits.
    bool exactPart = false;
};

enum class CollisionKind : uint8_t {
    Rapid,  // a rapid move (G0) whose sweep reaches material; it still cuts
    Shank,  // the shank's sweep reaches material left by the flutes; it does not cut
};

struct Collision {
    int64_t line = 0;
    CollisionKind kind = CollisionKind::Rapid;
    Position from;  // the move, in program units
    Position to;
    // Of the material the sweep reaches; a collision is told only above a millionth of the
    // sweep's own volume, what rounding the seams to floats can make of a mere touch.
    double volume = 0.0;
};

struct MachiningReport {
    // The program's moves as read (each arc chord a move), up to the last one run.
    int64_t moves = 0;
    int64_t feedMoves = 0;
    int64_t rapidMoves = 0;
    int64_t cuts = 0;  // moves whose sweep reached the workpiece: one difference each
    // Local steps that failed and were run again as whole operations.
    int64_t wholeRetries = 0;
    // Moves cut again with the tool shifted sideways by a few units in the last place, where
    // rounding left two triangles of the cut touching; and moves where that did not help.
    int64_t shiftedMoves = 0;
    int64_t touchingMoves = 0;
    // Flat faces (floors, the stock's top) triangulated again from their outlines after a cut.
    int64_t mergedFaces = 0;
    // Corners on straight creases and inside sloping flat faces dropped after a cut, those that
    // only rounding turns included.
    int64_t droppedCorners = 0;
    std::vector<Collision> collisions;
    double stockVolume = 0.0;
    double removedVolume = 0.0;
    double volume = 0.0;            // of what remains
    double machiningSeconds = 0.0;  // feeds at F, rapids at the rapid rate, dwells
    bool stopped = false;           // ended early on request, after a whole move
    int64_t lastLine = 0;           // the line of the last move run
    // Where the time went: building sweeps, the differences, the collisions' intersections.
    double sweepSeconds = 0.0;
    double cutSeconds = 0.0;
    double collisionSeconds = 0.0;
    double checkSeconds = 0.0;  // looking for touching triangles near each cut
    // The tools' corners and the positions they are moved to are rounded to multiples of this
    // (a power of two, two float steps at the run's largest coordinate), so that a tool at either
    // end of a move is one mesh moved exactly; 0 where the run's extent allows no such grid.
    double grid = 0.0;
};

// One move run, for progress lines and frames. `tool` is the cutting tool's mesh at its own
// origin (null before a dwell with no tool in the spindle); `at` is where the tool's tip is
// after the move.
struct MoveDone {
    const Move& move;
    size_t index;  // of the moves the run makes (collinear feeds joined), from 0
    size_t count;
    const Solid& workpiece;
    const Solid* tool;
    Position at;
};

// Follows a run; the default follows nothing and never stops it.
class MachiningObserver {
public:
    virtual ~MachiningObserver() = default;
    virtual void moveDone(const MoveDone& done) { (void)done; }
    // Asked after every move; true ends the run there.
    virtual bool stopRequested() { return false; }
};

// Runs `program` against `workpiece` (the stock in, the part out, both in program units). Each
// motion move, collinear feeds joined, cuts the convex hull of its tool at both ends (moves
// shorter than the tolerance cut nothing and the next move starts where the last cut ended);
// the first cut is a whole closed difference, as the stock is no result of the engine, the
// others its local step. Rapids cut as feeds do; the material a rapid reaches is what its cut
// removes. The shank's sweep (from a hundredth of the tolerance above the flutes, off the plane
// of the flutes' own sweep) is subtracted only to measure what it reaches. Before a run, every
// motion move must have a tool and every feed a feed rate: otherwise nothing is cut and the status
// names the line. The stock must be closed (checkClosedOperand). When the engine refuses a step,
// the status names the line and `workpiece` holds the part after the last move run.
Status machineProgram(const Program& program, const ToolChoice& tools,
                      const MachiningOptions& options, Solid& workpiece, MachiningReport& report,
                      MachiningObserver* observer = nullptr);

// The signed volume of a closed, outward-oriented mesh, in double.
double meshVolume(const Solid& solid);

}  // namespace korvan::gcode
