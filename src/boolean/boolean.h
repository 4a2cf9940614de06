// The Boolean engine: the triangle-level test and cut, and the assembly of the result.
#pragma once

#include <cstdint>
#include <vector>

#include "geometry/solid.h"
#include "geometry/stop_token.h"
#include "geometry/triangle.h"
#include "geometry/vector4.h"
#include "octree/octree.h"

namespace korvan {

// One piece of a cut triangle, with its own corner positions. `normal` is the cut triangle's;
// `label` 5 behind the cutting plane (inside the other solid), 6 in front of it; `owner` 1 or
// 2 names the operand; `index` is the 1-based position in the operation's piece list.
struct SplitTriangle {
    Vector4 p0;
    Vector4 p1;
    Vector4 p2;
    Vector4 normal;
    int32_t label = kLabelNone;
    int32_t owner = 0;
    int32_t index = 0;
};

// The pieces of one operation, in the order they were made.
using SplitList = std::vector<SplitTriangle>;

// Appends a piece and numbers it (its index is the list's new length).
void appendPiece(SplitList& pieces, SplitTriangle piece);

// Cuts t by the plane of q (through q's centroid, normal q.normal): when t's corners (taken
// from S's vertices) lie strictly on both sides, sets t.label = 1 and appends two or three
// pieces, each turning the same way as t. Otherwise changes nothing. Corners closer to the
// plane than `onPlane` count as lying on it, so rounding alone never cuts off a sliver.
void cutTriangle(const Triangle& q, Triangle& t, const Solid& S, int32_t owner, SplitList& pieces,
                 float onPlane = 0.0f);

// The triangle-level test of one operation between object 1 and object 2: labels a triangle
// of one operand against the other's classified tree, and cuts it along the nearest surface
// triangle when edge sampling is on and the two are closer than the sum of the edge limits.
//
// Given the labels the operation keeps (keep1, keep2 nonzero), a triangle lying on a triangle
// of the other operand (coplanar within a tolerance and overlapping) is not cut but decided by
// orientation, so that a face the two solids share enters the result once or not at all: the
// object 2 copy is always dropped, and the object 1 copy is kept when its normal agrees with
// object 2's as the result turns it (reversed for a difference). Repeating a difference at the
// same place then leaves the mesh as it was instead of multiplying slivers.
class TriangleCutter final : public TriangleTest {
public:
    TriangleCutter(const Solid& object1, const Solid& object2, int32_t edgeSampling,
                   SplitList& pieces, int32_t keep1 = 0, int32_t keep2 = 0);

    // The same test appending its pieces to `pieces` instead: one per task of a parallel run.
    TriangleCutter(const TriangleCutter& other, SplitList& pieces);

    // A is the root of the tree of one operand; t a triangle of the other.
    int32_t testTriangle(OctreeNode& A, Triangle& t) override;

    // insideOut(A, B, *this), with the cells of a large operand tested at once on the threads of
    // the current task arena. Labels and pieces, their order and numbers included, are those
    // of the one-thread run: each cell's pieces are kept apart and appended in cell order.
    // `stop` is polled and counts B's listed triangles after each cell; a stop leaves labels
    // and pieces half done, for the caller to throw away.
    void insideOutParallel(OctreeNode& A, OctreeNode& B, const StopToken& stop = {});

private:
    int32_t descend(OctreeNode& root, OctreeNode& A, Triangle& t);
    int32_t sideAndCut(const Triangle& q, OctreeNode& A, Triangle& t);
    bool coincides(const Triangle& q, const Solid& qSolid, const Triangle& t,
                   const Solid& tSolid) const;

    const Solid& m_object1;
    const Solid& m_object2;
    int32_t m_edgeSampling;
    SplitList& m_pieces;
    int32_t m_keep1;
    int32_t m_keep2;
    // Distance from a plane below which a corner counts as lying on it.
    float m_onPlane;
};

// The box object 2's triangles inside object 1 must lie in (by centroid) to be kept: object 1's
// box, or during milling the box the workpiece had when the run started. `pieces`: object 2's
// pieces pass the same filter (milling), not only its whole triangles.
struct BoxFilter {
    Vector4 minCorner;
    Vector4 maxCorner;
    bool pieces = false;
};

// Replaces object 1's mesh by the triangles of object 1 labelled keep1, those of object 2
// labelled keep2 (for keep2 = 5 only those that pass `filter`) and the pieces whose owner's
// keep label they carry, in that order. Object 2's triangles and pieces are turned inside out
// when keep1 != keep2. Operand vertices keep one copy each, numbered in order of first use;
// pieces get their own. The box becomes that of the result's vertices, and every triangle gets
// the normal and centroid Solid::computeTriangleData would give it; the octree must be rebuilt
// by the caller. Runs on the current task arena's threads; the result does not depend on how
// many. Returns the number of pieces taken.
int32_t assembleResult(Solid& object1, const Solid& object2, const SplitList& pieces, int32_t keep1,
                       int32_t keep2, const BoxFilter& filter);

}  // namespace korvan
