// Passes over the two operands' welded triangles, shared by the closed engine's driver, its
// broad phase and the repairs of its output; internal to the engine.
#pragma once

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "boolean/operation.h"
#include "closed/arrangement.h"
#include "geometry/mesh_topology.h"
#include "geometry/stop_token.h"
#include "geometry/vector4.h"

namespace korvan::closed {

// Welded triangles to read: a Welded, or the arrangement's own copy of one.
struct WeldedView {
    const std::vector<Point3>& points;
    const std::vector<Corners>& tris;
    int32_t firstOther;
};

// Both operands over one table of distinct positions: equal positions of either operand share
// one point, so a vertex one operand has on the other's surface is found as itself.
struct Welded {
    std::vector<Point3> points;
    std::vector<Corners> tris;
    int32_t firstOther = 0;
    operator WeldedView() const { return {points, tris, firstOther}; }
};

struct Box {
    std::array<double, 3> lo, hi;
};

inline Box emptyBox() {
    return {{HUGE_VAL, HUGE_VAL, HUGE_VAL}, {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL}};
}

inline void grow(Box& into, const Box& b) {
    for (int i = 0; i < 3; ++i) {
        into.lo[i] = std::min(into.lo[i], b.lo[i]);
        into.hi[i] = std::max(into.hi[i], b.hi[i]);
    }
}

using Clock = std::chrono::steady_clock;

// Seconds since `t`, moving `t` on to now: the drivers' phase times.
inline double secondsSince(Clock::time_point& t) {
    const Clock::time_point now = Clock::now();
    const double s = std::chrono::duration<double>(now - t).count();
    t = now;
    return s;
}

// The failure of a result with open or unevenly used edges; empty when there are none. Where
// the exact result itself pinches (two parts touching along an edge) an edge keeps four
// triangles, two each way: closed and oriented, so that is no failure.
inline std::string resultProblem(const MeshTopology& topo) {
    if (topo.openEdges == 0 && topo.orientationFlips == 0) {
        return {};
    }
    return "Zatvoreni rezultat nije uspio: " + std::to_string(topo.openEdges) + " otvorenih i " +
           std::to_string(topo.orientationFlips) + " krivo orijentiranih rubova u rezultatu";
}

// Indices i in [0, n) with pred(i), in increasing order, tested in parallel.
template <typename Pred>
std::vector<int32_t> selectInOrder(int32_t n, const Pred& pred) {
    std::vector<char> hit(static_cast<size_t>(n), 0);
    tbb::parallel_for(tbb::blocked_range<int32_t>(0, n, 4096),
                      [&](const tbb::blocked_range<int32_t>& r) {
                          for (int32_t i = r.begin(); i < r.end(); ++i) {
                              hit[static_cast<size_t>(i)] = pred(i) ? 1 : 0;
                          }
                      });
    std::vector<int32_t> out;
    for (int32_t i = 0; i < n; ++i) {
        if (hit[static_cast<size_t>(i)]) {
            out.push_back(i);
        }
    }
    return out;
}

// Sorts `list` by (first, second) and drops repeats, as a whole sort would, but by placing each
// entry in the bucket of its first value (in [0, n)) and sorting the small buckets, in parallel.
// Returns where each first value's entries start, n + 1 offsets.
template <class T>
std::vector<int32_t> groupByFirst(std::vector<std::pair<int32_t, T>>& list, size_t n) {
    std::vector<int32_t> start(n + 1, 0);
    for (const auto& e : list) {
        ++start[static_cast<size_t>(e.first) + 1];
    }
    std::partial_sum(start.begin(), start.end(), start.begin());
    std::vector<std::pair<int32_t, T>> placed(list.size());
    {
        std::vector<int32_t> at(start.begin(), start.end() - 1);
        for (auto& e : list) {
            placed[static_cast<size_t>(at[static_cast<size_t>(e.first)]++)] = std::move(e);
        }
    }
    std::vector<int32_t> kept(n + 1, 0);
    tbb::parallel_for(tbb::blocked_range<size_t>(0, n, 1024),
                      [&](const tbb::blocked_range<size_t>& r) {
                          for (size_t b = r.begin(); b < r.end(); ++b) {
                              const auto first = placed.begin() + start[b];
                              const auto last = placed.begin() + start[b + 1];
                              std::sort(first, last);
                              kept[b + 1] = static_cast<int32_t>(std::unique(first, last) - first);
                          }
                      });
    std::partial_sum(kept.begin(), kept.end(), kept.begin());
    list.resize(static_cast<size_t>(kept[n]));
    tbb::parallel_for(tbb::blocked_range<size_t>(0, n, 1024),
                      [&](const tbb::blocked_range<size_t>& r) {
                          for (size_t b = r.begin(); b < r.end(); ++b) {
                              std::move(placed.begin() + start[b],
                                        placed.begin() + start[b] + (kept[b + 1] - kept[b]),
                                        list.begin() + kept[b]);
                          }
                      });
    return kept;
}

// The refusal of object `objectNumber` with these edge counts and this volume; empty when it
// is a solid.
std::string operandProblem(const MeshTopology& topo, bool empty, int objectNumber);

// The refusal of operand `side` (0: object 1) of the shared weld; empty when it is a solid.
// `pinched` tells whether it has edges with four triangles.
std::string operandProblem(const WeldedView& w, int side, bool* pinched = nullptr);

// Whether a triangle repeats a corner or its corners lie on one line.
inline bool isFlat(const Corners& c, const std::vector<Point3>& points) {
    return c[0] == c[1] || c[1] == c[2] || c[0] == c[2] ||
           collinear(points[c[0]], points[c[1]], points[c[2]]);
}

// The flat triangles in [begin, end), in order.
std::vector<int32_t> flatTriangles(const WeldedView& w, int32_t begin, int32_t end);

// Replaces each triangle whose three distinct corners are collinear, with its middle corner m
// between a and b, by splitting the triangle across its long edge a-b at m: (a, b, m) and
// (b, a, d) become (m, a, d) and (b, m, d). The surface keeps its shape and stays closed.
// Returns the number of such triangles left (none found a partner).
// With `suspect`, only triangles with a suspect corner are looked at.
// Two flat triangles on the same corners facing each other are dropped instead, `source`
// (one entry per triangle) following, and counted in `dropped`.
int64_t repairSlivers(std::vector<Corners>& tris, const std::vector<Point3>& points,
                      const std::vector<char>* suspect = nullptr,
                      std::vector<int32_t>* source = nullptr, int64_t* dropped = nullptr);

// Pairs (object 1 triangle, object 2 triangle) whose closed boxes meet and that no plane of
// either plainly separates, sorted, and the triangles of every pair whose boxes meet
// (`involved`, ascending). Only triangles near the other operand take part: each side is cut
// down to the triangles whose box meets the other side's remaining ones. The smaller side goes
// into a sparse grid of cells about a triangle in size; each triangle of the larger side looks
// up the cells its box covers, and a pair is reported by the cell that holds the low corner of
// the two boxes' overlap only.
struct Candidates {
    std::vector<std::pair<int32_t, int32_t>> pairs;
    std::vector<int32_t> involved;
};
// `stop` is polled once per chunk of the pair search. Triangles that `leaveOut` marks (where
// given) take no part.
Candidates candidatePairs(const WeldedView& w, const StopToken& stop = {},
                          const std::vector<int8_t>* leaveOut = nullptr);

// Per triangle, where the other operand has a triangle of the same three points (a twin) and
// neither operand repeats them: +1 where the two turn alike, -1 where they face each other, 0
// elsewhere. Empty where no triangle has a twin.
std::vector<int8_t> twinSides(const WeldedView& w);

// Where a seam point's rounding to floats turns a result triangle over, collapses it away:
// `source` gives each triangle's source triangle in the arrangement (~source where it was
// turned over for the result).
//
// Rounding a seam point to floats moves it by up to half a unit in the last place. Where seam
// points lie closer together than that (a tool passing nearly where it passed before), a small
// triangle can turn over and fold into its neighbours: a self-intersection that the next
// operation on this mesh would trip over. Such a triangle faces against the triangle it was cut
// from. A sliver whose seam point rounded across its long edge is flipped with the triangle
// across that edge, as a flat one is. Otherwise its shortest edge with a seam point at one end
// is collapsed into the other end, which keeps the mesh closed and consistently oriented, and
// the triangles that collapse with it are left out, as are pairs of triangles on the same
// three corners facing each other (also flat ones, where two faces meeting at an edge were
// each cut off by a sliver). A triangle that rounding made flat is no fold: repairSlivers
// splits it away. Vertices are then numbered again in order of first use. Returns the number
// of flips and collapses, and the flips alone in `flipCount`.
// `origin` follows the vertices through the renumbering.
//
// What the flips looked at and changed, for a caller that repeats the assembly on part of a
// mesh: the input points (`origin`, ascending) at the ends of every edge a flip looked across,
// the only ones whose other triangles a flip may have needed; and, where the vertices were not
// numbered again, the corners each flipped triangle had before, which their numbering follows.
struct FlipRecord {
    std::vector<int32_t> across;
    std::vector<std::pair<int32_t, Corners>> before;  // (triangle, corners), by triangle
};
int64_t unfold(std::vector<Corners>& tris, std::vector<int32_t>& source,
               std::vector<Point3>& points, std::vector<char>& seamVertex,
               std::vector<int32_t>& origin, const Arrangement& arrangement,
               int64_t* flipCount = nullptr, int64_t* refillCount = nullptr,
               FlipRecord* flipRecord = nullptr);

// Folds left in faces along a coordinate plane (`folds`: triangles that face against their
// source, all three corners with one coordinate equal): the triangles of the plane within
// three rings of them are replaced by a constrained triangulation of their outline in the
// plane, facing as the face does, where that outline is a proper one once rounded (it does not
// cross itself and has no corner on it). New triangles go to the end and take the source and
// facing of a triangle of the face that faces right. No point moves; points left unused are
// the caller's to drop. Returns the number of planes triangulated again.
int64_t refillPlanarFolds(std::vector<Corners>& tris, std::vector<int32_t>& source,
                          std::vector<int32_t>& facing, const std::vector<Point3>& points,
                          const std::vector<int32_t>& folds,
                          const std::function<double(int32_t)>& faces);

// The triangles `region` of `tris`, all in one plane across `axis`, again from their outline:
// a constrained triangulation of the outline's corners and of the region's other corners that
// `keep` names (all where it is empty), facing +axis where `up`, else -axis, into `out`. False
// where the outline crosses itself once rounded, a corner lies on it, or the triangulation's
// inside cannot be told; `out` is then unusable.
// With `spacing` (a power of two) and `lattice`, the points of the plane whose other two
// coordinates are multiples of `spacing`, within the outline's box and more than about two
// spacings from it, are triangulated too, numbered from points.size() on in the order of
// `lattice` (which receives all of them, used or not): an outline alone fans long slivers
// across a face (from a stock's corner to a pocket's rim), with them the triangles stay within
// a few spacings of each other but along long outline edges.
bool triangulateOutline(const std::vector<Corners>& tris, const std::vector<int32_t>& region,
                        const std::vector<Point3>& points, int axis, bool up,
                        const std::function<bool(int32_t)>& keep, std::vector<Corners>& out,
                        double spacing = 0, std::vector<Point3>* lattice = nullptr);

// Which of the arrangement's pieces `op` keeps (`keep`, one entry per piece). Pieces are
// grouped into patches, joined across edges off the seam; `decide(pieces, inside)` is given
// one piece per patch, the first off the other surface, and sets inside[i] to 1 where
// pieces[i] is inside the other operand, 0 outside; it returns false when it cannot tell,
// which makes this return false.
//
// With `nearTriangle` (per input triangle: its box meets one of the other operand's), a whole
// triangle away from the other operand is joined with every other such triangle it shares a
// corner with: none of them meets the other surface, so they lie on the side of that corner.
using DecidePatches =
    std::function<bool(const std::vector<int32_t>& pieces, std::vector<int8_t>& inside)>;
bool keepPieces(const std::vector<Piece>& pieces, int32_t firstOther, int32_t pointCount,
                BooleanOp op, const DecidePatches& decide, std::vector<char>& keep,
                const std::vector<char>* nearTriangle = nullptr);

// What assembleKept does with each piece: emits it, emits its source triangle whole in its
// place, leaves it out (a later piece of a triangle emitted otherwise), emits in its place the
// pieces of the triangle that the split left whole, or emits in its place the triangle split
// only at the used points of its edges (Arrangement::splitAt).
constexpr uint8_t kKeepPiece = 0;
constexpr uint8_t kWholeTriangle = 1;
constexpr uint8_t kDropPiece = 2;
constexpr uint8_t kSplitNow = 3;
constexpr uint8_t kSplitAtUsed = 4;

// A split triangle that lies partly on the other surface and is kept entirely is emitted as
// itself: whole (kWholeTriangle on its first piece, kDropPiece on the rest) where no other
// kept piece uses a point inside it or inside its edges; split at the used points of its edges
// alone (kSplitAtUsed) where only such points are used; as its pieces (kKeepPiece, or
// kSplitNow where the split left it whole) where a used point lies inside it, which then uses
// all its points in turn. kKeepPiece elsewhere. `used` marks, by point id, the points the
// emitted triangles use (empty where no triangle is such).
struct WholeTriangles {
    std::vector<uint8_t> action;
    std::vector<char> used;
};
WholeTriangles wholeTriangles(const Arrangement& arrangement, const std::vector<char>& keep);

// The kept pieces as one welded mesh: split triangles kept entirely put back whole
// (wholeTriangles), object 2's turned over for a difference, seam points
// that round to the same float position (or to an input point's) made one vertex, pieces
// this collapses left out, folds collapsed (unfold), vertices numbered by first use.
struct Assembly {
    std::vector<Corners> tris;
    std::vector<int32_t> source;  // source triangle, as ~source where turned over
    std::vector<Point3> points;
    std::vector<char> seamVertex;
    std::vector<int32_t> origin;  // the input point each vertex is, or -1 for a seam point
    int64_t folds = 0;
    int64_t flips = 0;      // of the folds, slivers flipped with a neighbour
    int64_t refills = 0;    // planes triangulated again around folds (refillPlanarFolds)
    FlipRecord flipRecord;  // what unfold's flips looked at and changed
    std::string error;      // set where a triangle left whole could not be split after all
};
Assembly assembleKept(const Arrangement& arrangement, const std::vector<char>& keep,
                      int32_t inputPoints, BooleanOp op);

// weldPositions' numbering of `rounded`, where only the uses in `seamUses` can share a
// position with another use: the input points are distinct positions already. Seam points are
// welded and each input point inside their box is looked up, instead of hashing all.
std::vector<int32_t> weldRounded(const std::vector<Vector4>& rounded,
                                 const std::vector<int32_t>& seamUses, int32_t& distinct);

}  // namespace korvan::closed
