// The closed-result Boolean engine: exact seams shared by both operands, whole patches kept.
#pragma once

#include <cstdint>

#include "boolean/operation.h"
#include "geometry/solid.h"
#include "geometry/status.h"
#include "geometry/stop_token.h"

namespace korvan {

// Counts and phase times of one closed Boolean, for benchmarks and diagnostics.
struct ClosedReport {
    int64_t intersectingPairs = 0;  // triangle pairs of the two operands that touch
    int64_t seamVertices = 0;       // new vertices on the seam (not vertices of an operand)
    int64_t pieces = 0;             // triangles after splitting, both operands
    int64_t resultTriangles = 0;
    int64_t slivers = 0;  // zero-area result triangles that could not be split away
    int64_t folds = 0;    // edges collapsed where rounding turned a triangle over
    // Result edges with four triangles: where the exact result pinches, or where two seam
    // points rounded to the same float position.
    int64_t pinchedEdges = 0;
    // Object 1's triangles a milling step carried over without computing them (far from
    // object 2); 0 for a whole operation.
    int64_t carriedOver = 0;
    // Shared weld and removal of flat triangles; the operand checks run beside the broad
    // phase, pair tests and split.
    double weldSeconds = 0;
    double broadPhaseSeconds = 0;
    double intersectSeconds = 0;  // exact pair tests
    double splitSeconds = 0;      // constrained triangulation of the cut triangles
    double classifySeconds = 0;   // patches and their inside/outside decision
    double assembleSeconds = 0;
    double totalSeconds = 0;
};

// Refuses an operand that, after welding equal positions, is empty, not closed, not
// consistently oriented (an edge used more often one way than the other) or inside out; the
// message names object `objectNumber`. Edges with four triangles, two each way, are accepted.
Status checkClosedOperand(const Solid& solid, int objectNumber);

// The Boolean of two closed, consistently oriented solids whose triangles do not cross or touch
// each other (other than along the edges and at the corners they share; an operand that does
// is refused, naming the number of such pairs) as a closed, consistently oriented mesh,
// edge-manifold except where the exact result pinches or rounding of seam points to floats makes
// two of them meet (ClosedReport::pinchedEdges). Object 2 is used where its vertices are. On
// success `result` is replaced (welded vertices, triangle data and box computed, loaded, object 1's
// edge limit); on failure it is left untouched and the status carries the message. `threads` caps
// the worker threads (0: all cores); the result is the same for any count. Object 2 takes part
// moved by `object2Offset`, each vertex as Solid::translate moves it, so a caller can move it for
// good once the result is in. `stop` is polled between and inside the phases; a stop throws
// OperationStopped with `result` untouched.
Status closedBoolean(const Solid& object1, const Solid& object2, BooleanOp op, Solid& result,
                     ClosedReport* report = nullptr, int threads = 0,
                     const Vector4& object2Offset = Vector4(), const StopToken& stop = {});

// closedBoolean for an object 1 that this engine made, unchanged since (a chain of operations):
// its triangles are not checked for crossing each other, as closedBoolean checks both
// operands'. Rounding seam points to floats can leave a few result triangles touching where
// the exact result has none, and the chain must go on; object 2 is checked as ever.
Status closedBooleanOfResult(const Solid& object1, const Solid& object2, BooleanOp op,
                             Solid& result, ClosedReport* report = nullptr, int threads = 0,
                             const Vector4& object2Offset = Vector4(), const StopToken& stop = {});

// closedBoolean's difference, the same mesh to the last bit, for a milling step: object 1 must
// be a result of closedBoolean or of this function, unchanged since, with no flat triangles
// left (ClosedReport::slivers was 0). Where object 2 is small against object 1, only object
// 1's triangles near it are computed and the others are carried over; otherwise, and where
// the near part cannot decide (object 2 to repair or inside object 1 with nothing near), the
// whole operation runs. ClosedReport::pinchedEdges then counts the near part's only.
// `result` is written over, reusing its arrays' storage (a milling run hands in the previous
// frame's workpiece); on failure it is left empty. With `object2IsHull` the caller vouches that
// object 2 is a convex hull built with exact predicates (a swept tool), whose triangles cannot
// cross each other: the near part does not check them.
Status closedDifferenceOfResult(const Solid& object1, const Solid& object2, Solid& result,
                                ClosedReport* report = nullptr, int threads = 0,
                                const Vector4& object2Offset = Vector4(),
                                const StopToken& stop = {}, bool object2IsHull = false);

// Pairs of `solid`'s triangles (equal positions welded) that cross or touch other than in what
// they share, among the triangles whose box meets the box from `lo` to `hi`. Rounding seam
// points to floats can make a few result triangles of a chain touch; these are the pairs a
// step may have made. With `before` (the mesh the step changed, free of such pairs or with
// them counted before), only pairs with a corner at a position `before` has no vertex at are
// counted: triangles between old positions lie where the exact result has them.
int64_t crossingPairsWithin(const Solid& solid, const Vector4& lo, const Vector4& hi,
                            const Solid* before = nullptr);

// Flat faces of a milled part made lean again. Each cut leaves the floor it reaches cut along
// every seam of the passes before; the next cut, on the same plane, then meets all those
// pieces. Triangles with all three corners in one coordinate plane (one float equal), facing
// the same way and joined by edges, form a face; each face with a triangle whose box meets the
// box from `lo` to `hi` is triangulated again from its outline where corners that no triangle
// outside it uses (seams of earlier cuts) lie inside it, or where it has room for lattice
// points: those corners are dropped, and points of a lattice in the face's plane (a power of
// two near a sixteenth of its extent apart, well inside it) keep the triangles short, where an
// outline alone fans long slivers across the face that slow every later cut and check. No
// vertex moves, and the new ones lie in the face, so the solid's shape, volume, closedness and
// outline edges stay exactly as they were, and a result of the closed engine stays one that
// closedDifferenceOfResult may take; merging again changes nothing. Vertices are numbered
// again in order of first use; triangle data and box are set. A face whose outline cannot be
// triangulated exactly is left as it is. Returns the number of faces triangulated again.
int64_t mergeFlatFaces(Solid& solid, const Vector4& lo, const Vector4& hi);

// Corners inside the box from `lo` to `hi` where nothing turns, dropped: one on a straight
// crease between two flat faces (its two neighbours along the crease on either side of it), or
// one inside a flat face off the coordinate planes (those are mergeFlatFaces'). Each cut splits
// the faces it meets at every edge of theirs it crosses, and the next splits at those corners
// again, so that a wall milled pass after pass gathers corners without end. The faces around a
// dropped corner are filled again from their outlines with exact predicates; no vertex moves,
// so the solid's shape, volume and closedness stay exactly as they were, and a result of the
// closed engine stays one that closedDifferenceOfResult may take. Vertices no triangle uses any
// more are removed, the others keeping their order. Returns the number of corners dropped.
//
// With a `tolerance` above 0, corners where only rounding turns go too: seam points rounded to
// floats lie up to half a float step off the straight rim or flat face they belong to, and
// each lets the next cut split the faces around it again. Such a corner is dropped where every
// corner of each face around it, itself included, lies within the tolerance of one plane and,
// on a crease, it lies within the tolerance of the segment between its two neighbours there.
// The surface then moves by at most about the tolerance, and no vertex moves. Where a face so
// filled would meet another triangle beyond what they share, only the exact drops are made.
int64_t dropStraightCorners(Solid& solid, const Vector4& lo, const Vector4& hi,
                            double tolerance = 0.0);

// What leanAroundCut did.
struct LeanCounts {
    int64_t mergedFaces = 0;
    int64_t droppedCorners = 0;
};

// A workpiece just cut by `tool` (moved by `offset`) from `before` made lean again around the
// cut: within the tool's box, narrowed to the triangles with a corner at a position `before`
// has no vertex at (what the cut made), mergeFlatFaces, then dropStraightCorners with a
// tolerance of a few float steps at the magnitude of the coordinates there. Where a chain of
// small steps passes a spot again and again, each cut splits the faces it meets at every seam
// point the cut before left, rounded a fraction of a step off its seam, and slivers multiply
// from step to step; after this they do not. The surface moves by the tolerance at most; the
// workpiece stays one that closedDifferenceOfResult may take. Leaves `workpiece` half done if
// it throws.
LeanCounts leanAroundCut(Solid& workpiece, const Solid& before, const Solid& tool,
                         const Vector4& offset);

}  // namespace korvan
