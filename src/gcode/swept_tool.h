// A convex tool made ready for the straight moves of a run: the volume a move sweeps is built
// from the tool's own hull instead of a hull of both ends computed move after move.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "gcode/program.h"
#include "geometry/solid.h"

namespace korvan::gcode {

// The tool's corners are put on a binary grid (a power of two, fine enough that every position
// of the run plus a corner is a float), and so is each position, so that the tool at either end
// of a move is one mesh translated exactly. The volume swept is then the Minkowski sum of the
// tool's hull with the move: the hull's faces that look back along the move at the start, those
// that look ahead at the end, and a band along the outline between them. Its point set is the
// exact convex hull of the tool's corners at both ends, as sweepStraightMove gives it.
// The spacing of the grid for a run whose positions plus a tool's corners stay within
// `largest` of the origin: the finest power of two that keeps every such sum a float with room
// to spare, or 0 where that is coarser than a hundredth of `tolerance`.
double sweepGrid(double largest, double tolerance);

// Rounds `p` to the grid of spacing `grid`.
Position onGrid(const Position& p, double grid);

class SweptTool {
public:
    // Puts the tool's corners on the grid of spacing `grid` (from sweepGrid) and prepares its
    // hull. False, leaving the tool as it was and this unprepared, where the grid is 0 or the
    // hull spans no volume.
    bool prepare(Solid& tool, double grid);
    bool ready() const { return m_grid > 0.0; }

    // The volume swept from `from` to `to`, each rounded to the grid, as a closed,
    // outward-oriented mesh with triangle data and box. A move shorter than `shortMove` gives
    // the tool at `from` alone. False, leaving `out` alone, where a position is too far for
    // the grid or two corners of the sweep fall on one point; sweepStraightMove then serves.
    bool sweep(const Position& from, const Position& to, double shortMove, Solid& out) const;

private:
    using Steps = std::array<int64_t, 3>;
    double m_grid = 0.0;
    std::vector<Steps> m_corners;                 // the hull's corners, in grid steps
    std::vector<std::array<int32_t, 3>> m_faces;  // outward, as the hull gives them
    // The face across each face's edge k (from corner k to corner k + 1).
    std::vector<std::array<int32_t, 3>> m_across;
};

}  // namespace korvan::gcode
