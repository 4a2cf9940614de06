// The closed-result Boolean: weld, find touching pairs, split, classify patches, assemble.
#include "closed/closed_boolean.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cassert>
#include <chrono>
#include <cmath>
#include <exception>
#include <functional>
#include <new>
#include <numeric>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <tbb/blocked_range.h>
#include <tbb/enumerable_thread_specific.h>
#include <tbb/parallel_for.h>
#include <tbb/parallel_invoke.h>
#include <tbb/parallel_reduce.h>
#include <tbb/parallel_sort.h>

#include "closed/arrangement.h"
#include "closed/passes.h"
#include "closed/self_crossing.h"
#include "geometry/mesh_topology.h"
#include "geometry/thread_arena.h"

namespace korvan {
namespace {

using closed::Box;
using closed::candidatePairs;
using closed::Clock;
using closed::Corners;
using closed::emptyBox;
using closed::grow;
using closed::Piece;
using closed::Point3;
using closed::repairSlivers;
using closed::secondsSince;
using closed::selectInOrder;
using closed::unfold;
using closed::Welded;
using closed::weldRounded;

// Removes triangles that repeat a corner and splits away collinear ones (`flat`), per
// operand; an operand that is not closed afterwards is refused.
std::string repairOperands(Welded& w, const std::vector<int32_t>& flat, bool& repaired) {
    // Nearly always there is nothing to repair.
    if (flat.empty()) {
        return {};
    }
    repaired = true;
    std::vector<Corners> side[2];
    for (int32_t t = 0; t < static_cast<int32_t>(w.tris.size()); ++t) {
        const Corners& c = w.tris[t];
        if (c[0] != c[1] && c[1] != c[2] && c[0] != c[2]) {
            side[t >= w.firstOther ? 1 : 0].push_back(c);
        }
    }
    const bool dropped = side[0].size() + side[1].size() != w.tris.size();
    for (int s = 0; s < 2; ++s) {
        const int64_t left = repairSlivers(side[s], w.points);
        const std::string name = "Objekt " + std::to_string(s + 1);
        if (left > 0) {
            return name + " ima " + std::to_string(left) +
                   " trokuta bez povrsine koje nije moguce ukloniti";
        }
        if (dropped) {
            const MeshTopology topo = edgeCounts(side[s].data(), side[s].data() + side[s].size(),
                                                 static_cast<int32_t>(w.points.size()));
            if (topo.openEdges != 0 || topo.nonManifoldEdges != 0 || topo.orientationFlips != 0) {
                return name + " bez trokuta bez povrsine vise nije zatvoreno tijelo";
            }
        }
    }
    w.firstOther = static_cast<int32_t>(side[0].size());
    w.tris = std::move(side[0]);
    w.tris.insert(w.tris.end(), side[1].begin(), side[1].end());
    return {};
}

// An operand's arrays; object 2's vertices may be a moved copy of its solid's.
struct Operand {
    const std::vector<Vector4>& vertices;
    const std::vector<Triangle>& triangles;
};

// The same numbering as welding a's vertices followed by b's: each operand is welded on its
// own (both at once), then b's positions that a has too take a's ids; b's new positions follow
// a's in b's order of first occurrence. `flat` lists the flat triangles, found while the
// triangles are renumbered; `shared` counts b's positions that a has too.
Welded weld(const Operand& a, const Operand& b, std::vector<int32_t>& flat, int32_t& shared) {
    std::optional<PositionWeld> welds[2];
    tbb::parallel_invoke([&] { welds[0].emplace(a.vertices); },
                         [&] { welds[1].emplace(b.vertices); });
    const PositionWeld& wa = *welds[0];
    const PositionWeld& wb = *welds[1];
    // b's positions that a has too take a's ids; b's new positions follow a's in b's order.
    std::vector<int32_t> globalOfB(static_cast<size_t>(wb.distinct()));
    tbb::parallel_for(tbb::blocked_range<int32_t>(0, wb.distinct(), 4096),
                      [&](const tbb::blocked_range<int32_t>& r) {
                          const auto at = [&](int32_t k) -> const Vector4& {
                              return b.vertices[static_cast<size_t>(wb.firstVertex[k])];
                          };
                          constexpr int32_t kAhead = 8;
                          for (int32_t k = r.begin(); k < r.end(); ++k) {
                              if (k + kAhead < r.end()) {
                                  wa.prefetch(at(k + kAhead));
                              }
                              globalOfB[static_cast<size_t>(k)] = wa.find(at(k));
                          }
                      });
    int32_t next = wa.distinct();
    for (int32_t& g : globalOfB) {
        if (g < 0) {
            g = next++;
        }
    }
    shared = wb.distinct() - (next - wa.distinct());
    Welded w;
    w.points.resize(static_cast<size_t>(next));
    const auto place = [&](const Vector4& v, int32_t g) {
        // +0.0f folds -0 into +0, as the weld did.
        w.points[static_cast<size_t>(g)] = {v.x + 0.0f, v.y + 0.0f, v.z + 0.0f};
    };
    tbb::parallel_for(tbb::blocked_range<int32_t>(0, wa.distinct(), 8192),
                      [&](const tbb::blocked_range<int32_t>& r) {
                          for (int32_t k = r.begin(); k < r.end(); ++k) {
                              place(a.vertices[static_cast<size_t>(wa.firstVertex[k])], k);
                          }
                      });
    // b's positions that a has land on a's own; they are equal.
    tbb::parallel_for(tbb::blocked_range<int32_t>(0, wb.distinct(), 8192),
                      [&](const tbb::blocked_range<int32_t>& r) {
                          for (int32_t k = r.begin(); k < r.end(); ++k) {
                              if (globalOfB[k] >= wa.distinct()) {
                                  place(b.vertices[static_cast<size_t>(wb.firstVertex[k])],
                                        globalOfB[k]);
                              }
                          }
                      });
    const std::vector<int32_t>& idA = wa.ids;
    const std::vector<int32_t>& idB = wb.ids;
    w.tris.resize(a.triangles.size() + b.triangles.size());
    w.firstOther = static_cast<int32_t>(a.triangles.size());
    flat = selectInOrder(static_cast<int32_t>(w.tris.size()), [&](int32_t i) {
        Corners& c = w.tris[static_cast<size_t>(i)];
        if (i < w.firstOther) {
            const Triangle& t = a.triangles[static_cast<size_t>(i)];
            c = {idA[t.i0], idA[t.i1], idA[t.i2]};
        } else {
            const Triangle& t = b.triangles[static_cast<size_t>(i - w.firstOther)];
            c = {globalOfB[idB[t.i0]], globalOfB[idB[t.i1]], globalOfB[idB[t.i2]]};
        }
        return closed::isFlat(c, w.points);
    });
    return w;
}

// Disjoint sets over pieces, joined across edges that are not on the seam; with points too,
// numbered before the pieces.
struct Patches {
    std::vector<int32_t> parent;
    int32_t firstPiece = 0;  // the node of piece p is firstPiece + p
    Patches(size_t points, size_t pieces)
        : parent(points + pieces), firstPiece(static_cast<int32_t>(points)) {
        std::iota(parent.begin(), parent.end(), 0);
    }
    int32_t find(int32_t x) {
        while (parent[x] != x) {
            parent[x] = parent[parent[x]];
            x = parent[x];
        }
        return x;
    }
    void join(int32_t a, int32_t b) {
        a = find(a);
        b = find(b);
        // The smaller index is the root, so a parent never comes after its child.
        if (a < b) {
            parent[b] = a;
        } else if (b < a) {
            parent[a] = b;
        }
    }
};

// Joins pieces across edges off the seam. Each edge {a, b} with a < b is filed under a, once
// per piece that has it, packed as b << 32 | seam << 31 | operand << 30 | near << 29 | piece.
// It is on the seam when pieces of both operands have it or any piece flags it; otherwise its
// two pieces join one patch.
//
// With `nearTriangle`, the sets span the points and then the pieces. Only the pieces of near
// triangles, and the pieces that share a corner with one, are filed: every use of an edge that
// a near piece has is among those. A whole triangle away from the other operand instead joins
// its corners, as none of its corners is on the other surface.
Patches findPatches(const std::vector<Piece>& pieces, int32_t firstOther, int32_t otherFirst,
                    int32_t pointCount, const std::vector<char>* nearTriangle) {
    assert(pieces.size() < (size_t{1} << 29));
    static constexpr uint64_t kSeam = uint64_t{1} << 31, kOther = uint64_t{1} << 30,
                              kNear = uint64_t{1} << 29;
    const auto pieceCount = static_cast<int32_t>(pieces.size());
    const auto isNear = [&](const Piece& piece) {
        return nearTriangle == nullptr || (*nearTriangle)[piece.source] != 0;
    };
    std::vector<char> filed;
    if (nearTriangle != nullptr) {
        std::vector<char> nearPoint(static_cast<size_t>(pointCount), 0);
        for (const Piece& piece : pieces) {
            if (isNear(piece)) {
                for (int32_t v : piece.v) {
                    nearPoint[v] = 1;
                }
            }
        }
        filed.resize(pieces.size());
        for (int32_t p = 0; p < pieceCount; ++p) {
            const Piece& piece = pieces[p];
            filed[p] = isNear(piece) || nearPoint[piece.v[0]] || nearPoint[piece.v[1]] ||
                       nearPoint[piece.v[2]];
        }
    }
    const auto isFiled = [&](int32_t p) { return filed.empty() || filed[p] != 0; };
    std::vector<int32_t> start(static_cast<size_t>(pointCount) + 1, 0);
    for (int32_t p = 0; p < pieceCount; ++p) {
        if (isFiled(p)) {
            const Piece& piece = pieces[p];
            for (int e = 0; e < 3; ++e) {
                ++start[std::min(piece.v[e], piece.v[(e + 1) % 3]) + 1];
            }
        }
    }
    for (size_t i = 1; i < start.size(); ++i) {
        start[i] += start[i - 1];
    }
    std::vector<uint64_t> row(static_cast<size_t>(start.back()));
    {
        std::vector<int32_t> fill(start.begin(), start.end() - 1);
        for (int32_t p = 0; p < pieceCount; ++p) {
            if (!isFiled(p)) {
                continue;
            }
            const Piece& piece = pieces[p];
            const uint64_t base = static_cast<uint64_t>(p) |
                                  (piece.source >= firstOther ? kOther : 0) |
                                  (isNear(piece) ? kNear : 0);
            for (int e = 0; e < 3; ++e) {
                const int32_t x = piece.v[e], y = piece.v[(e + 1) % 3];
                row[fill[std::min(x, y)]++] = static_cast<uint64_t>(std::max(x, y)) << 32 | base |
                                              ((piece.seamMask & (1u << e)) != 0 ? kSeam : 0);
            }
        }
    }
    // The joins are gathered in parallel, then made in one thread; the sets, and their roots
    // (always the smallest member), do not depend on the order of the joins.
    tbb::enumerable_thread_specific<std::vector<std::pair<int32_t, int32_t>>> found;
    tbb::parallel_for(tbb::blocked_range<int32_t>(0, pointCount, 2048),
                      [&](const tbb::blocked_range<int32_t>& r) {
                          auto& out = found.local();
                          for (int32_t a = r.begin(); a < r.end(); ++a) {
                              uint64_t* first = row.data() + start[a];
                              uint64_t* last = row.data() + start[a + 1];
                              std::sort(first, last);
                              for (uint64_t* i = first; i != last;) {
                                  uint64_t* j = i;
                                  bool seam = false, near = false;
                                  while (j != last && (*j >> 32) == (*i >> 32)) {
                                      seam = seam || (*j & kSeam) != 0 || ((*j ^ *i) & kOther) != 0;
                                      near = near || (*j & kNear) != 0;
                                      ++j;
                                  }
                                  // Edges between far pieces are joined through their corners.
                                  if (!seam && near && j - i == 2) {
                                      const auto piece = [](uint64_t u) {
                                          return static_cast<int32_t>(u & (kNear - 1));
                                      };
                                      out.emplace_back(piece(*i), piece(*(i + 1)));
                                  }
                                  i = j;
                              }
                          }
                      });
    Patches patches(nearTriangle != nullptr ? static_cast<size_t>(pointCount) : 0, pieces.size());
    const int32_t node = patches.firstPiece;
    for (const auto& part : found) {
        for (const auto& [x, y] : part) {
            patches.join(node + x, node + y);
        }
    }
    if (nearTriangle != nullptr) {
        const auto joinFar = [&](int32_t begin, int32_t end) {
            for (int32_t p = begin; p < end; ++p) {
                const Piece& piece = pieces[p];
                if (isNear(piece)) {
                    continue;
                }
                const int32_t corner = piece.v[0];
                patches.join(corner, piece.v[1]);
                patches.join(corner, piece.v[2]);
                if (isFiled(p)) {
                    patches.join(node + p, corner);
                } else {
                    patches.parent[node + p] = corner;  // joined with nothing else
                }
            }
        };
        // No set spans both operands: the joins above keep to one operand, and a far
        // triangle's corners lie on no piece of the other. So the two operands' far pieces are
        // joined at once, each touching only its own sets.
        tbb::parallel_invoke([&] { joinFar(0, otherFirst); },
                             [&] { joinFar(otherFirst, pieceCount); });
    }
    return patches;
}

bool keepPiece(const Piece& piece, bool fromOther, bool inside, BooleanOp op) {
    if (piece.coplanar != 0) {
        // Where the surfaces coincide one copy at most survives, and it is object 1's.
        if (fromOther) {
            return false;
        }
        return piece.coplanar > 0 ? op != BooleanOp::Difference : op == BooleanOp::Difference;
    }
    switch (op) {
        case BooleanOp::Union:
            return !inside;
        case BooleanOp::Intersection:
            return inside;
        case BooleanOp::Difference:
            break;
    }
    return fromOther ? inside : !inside;
}

// `involved` (ascending) and the triangles with a twin, ascending.
std::vector<int32_t> withTwins(const std::vector<int32_t>& involved,
                               const std::vector<int8_t>& twins) {
    std::vector<int32_t> out;
    out.reserve(involved.size());
    auto next = involved.begin();
    for (size_t t = 0; t < twins.size(); ++t) {
        const auto ti = static_cast<int32_t>(t);
        if (next != involved.end() && *next == ti) {
            out.push_back(ti);
            ++next;
        } else if (twins[t] != 0) {
            out.push_back(ti);
        }
    }
    return out;
}

// Checks both operands on the shared weld, before anything is dropped; `pinched` tells
// whether either has edges with four triangles.
std::string operandsProblem(const closed::WeldedView& w, bool& pinched) {
    // Both operands at once; object 1's problem is named first.
    std::string problem[2];
    bool edges[2] = {false, false};
    tbb::parallel_invoke([&] { problem[0] = closed::operandProblem(w, 0, &edges[0]); },
                         [&] { problem[1] = closed::operandProblem(w, 1, &edges[1]); });
    pinched = edges[0] || edges[1];
    return problem[0].empty() ? problem[1] : problem[0];
}

// The refusal of an operand whose triangles cross or touch each other, for the operands
// `check` names; empty when none does. Both are counted at once; object 1 is named first.
std::string crossingProblem(const closed::WeldedView& w, const bool check[2],
                            const StopToken& stop) {
    int64_t crossing[2] = {0, 0};
    tbb::parallel_invoke(
        [&] { crossing[0] = check[0] ? closed::selfCrossingPairs(w, 0, INT64_MAX, stop) : 0; },
        [&] { crossing[1] = check[1] ? closed::selfCrossingPairs(w, 1, INT64_MAX, stop) : 0; });
    for (int side = 0; side < 2; ++side) {
        if (crossing[side] > 0) {
            return "Objekt " + std::to_string(side + 1) + " sijece samog sebe (" +
                   std::to_string(crossing[side]) +
                   " parova trokuta se sijece ili dodiruje); njegova unutrasnjost nije odredena";
        }
    }
    return {};
}

// `stop` is polled between the phases and counts each phase's triangles when it ends.
Status run(const Solid& object1, const Operand& object2, BooleanOp op, Solid& result,
           ClosedReport& report, bool checkObject1, const StopToken& stop) {
    Clock::time_point t = Clock::now();
    const Clock::time_point start = t;
    std::vector<int32_t> flat;
    int32_t sharedPoints = 0;
    Welded w = weld({object1.vertices, object1.triangles}, object2, flat, sharedPoints);
    bool pinched = false, repaired = false;
    std::string problem;
    // The arrangement needs proper triangles: flat ones are repaired first, after the checks
    // that name what is wrong with an operand.
    if (!flat.empty()) {
        if (problem = operandsProblem(w, pinched); !problem.empty()) {
            return Status::failure(problem);
        }
        if (problem = repairOperands(w, flat, repaired); !problem.empty()) {
            return Status::failure(problem);
        }
    }
    report.weldSeconds = secondsSince(t);
    const auto triangleCount = static_cast<int64_t>(w.tris.size());
    stop.advance(triangleCount);

    const int32_t firstOther = w.firstOther;
    const auto inputPoints = static_cast<int32_t>(w.points.size());
    closed::Arrangement arrangement(std::move(w.points), std::move(w.tris), firstOther);
    const closed::WeldedView welded{arrangement.inputPoints(), arrangement.triangles(), firstOther};
    // The operand checks only read the triangles; the broad phase, the pair tests and the split
    // go on beside them and are thrown away where an operand is refused. The phases after the
    // split need closed, consistently oriented operands: where the first check has passed by
    // the time the split ends, they go on beside the crossing check too, else after it.
    closed::Candidates candidates;
    bool split = false;
    std::exception_ptr failure;  // of the work beside the checks, which name a refusal first
    std::atomic<bool> operandsSound{repaired};  // the first check passed, or ran before
    bool retry = false;                         // the split met twins that were cut
    Solid fresh;
    // Classifies and assembles the split operands into `fresh`.
    const auto finish = [&]() -> Status {
        stop.advance(triangleCount);
        if (!split) {
            return Status::failure("Zatvoreni rezultat nije moguc: " + arrangement.error());
        }
        // Triangles whose box meets one of the other operand's, and their corners.
        std::vector<char> nearTriangle(welded.tris.size(), 0);
        std::vector<char> nearPoint(welded.points.size(), 0);
        for (int32_t tri : candidates.involved) {
            nearTriangle[tri] = 1;
            for (int32_t v : welded.tris[tri]) {
                nearPoint[v] = 1;
            }
        }
        const std::vector<Piece>& pieces = arrangement.pieces();
        report.pieces = static_cast<int64_t>(pieces.size());
        report.seamVertices = arrangement.seamPointCount();
        t = Clock::now();

        std::vector<char> keep;
        closed::keepPieces(
            pieces, firstOther, arrangement.pointCount(), op,
            // One exact ray per patch.
            [&](const std::vector<int32_t>& deciding, std::vector<int8_t>& inside) {
                inside = arrangement.insideOther(deciding);
                return true;
            },
            keep, &nearTriangle);
        report.classifySeconds = secondsSince(t);
        stop.advance(triangleCount);

        closed::Assembly assembly = closed::assembleKept(arrangement, keep, inputPoints, op);
        keep = {};
        if (!assembly.error.empty()) {
            return Status::failure("Zatvoreni rezultat nije moguc: " + assembly.error);
        }
        stop.advance(triangleCount);
        report.folds = assembly.folds;
        std::vector<Corners>& out = assembly.tris;
        std::vector<Point3>& outPoints = assembly.points;
        std::vector<char>& seamVertex = assembly.seamVertex;
        const auto vertexCount = static_cast<int32_t>(outPoints.size());
        // Rounding can leave a seam point on the line through two other corners; such triangles
        // are split away. Only triangles with a seam point can have become flat.
        report.slivers = repairSlivers(out, outPoints, &seamVertex, &assembly.source);
        // Only edges at a near triangle can differ from the operands' edges, where those had two
        // triangles each: the rest are whole triangles with all their neighbours in one patch.
        std::vector<char> checked;
        if (!pinched && !repaired && assembly.refills == 0) {
            checked.assign(outPoints.size(), 0);
            for (size_t i = 0; i < out.size(); ++i) {
                const int32_t source = assembly.source[i];
                if (nearTriangle[source >= 0 ? source : ~source]) {
                    for (int32_t v : out[i]) {
                        checked[v] = 1;
                    }
                }
            }
            for (size_t v = 0; v < outPoints.size(); ++v) {
                const int32_t o = assembly.origin[v];
                if (o >= 0 && nearPoint[o]) {
                    checked[v] = 1;
                }
            }
        }
        // The result's arrays and the check of its edges read `out` only: both at once.
        MeshTopology topo;
        tbb::parallel_invoke(
            [&] {
                fresh.allocate(vertexCount, static_cast<int32_t>(out.size()));
                tbb::parallel_for(tbb::blocked_range<size_t>(0, outPoints.size(), 8192),
                                  [&](const tbb::blocked_range<size_t>& r) {
                                      for (size_t v = r.begin(); v < r.end(); ++v) {
                                          const Point3& k = outPoints[v];
                                          fresh.vertices[v] =
                                              Vector4(static_cast<float>(k.x) + 0.0f,
                                                      static_cast<float>(k.y) + 0.0f,
                                                      static_cast<float>(k.z) + 0.0f);
                                      }
                                  });
                tbb::parallel_for(tbb::blocked_range<size_t>(0, out.size(), 8192),
                                  [&](const tbb::blocked_range<size_t>& r) {
                                      for (size_t i = r.begin(); i < r.end(); ++i) {
                                          Triangle& tri = fresh.triangles[i];
                                          tri.setIndices(out[i][0], out[i][1], out[i][2]);
                                          computeTriangleData(tri, fresh.vertices.data());
                                      }
                                  });
                fresh.computeBoundingBox();
            },
            [&] {
                topo = edgeCounts(out.data(), out.data() + out.size(), vertexCount,
                                  checked.empty() ? nullptr : &checked);
            });
        fresh.loaded = 1;
        fresh.edgeLimit = object1.edgeLimit;
        report.resultTriangles = static_cast<int64_t>(out.size());

        if (std::string problem = closed::resultProblem(topo); !problem.empty()) {
            return Status::failure(problem);
        }
        report.pinchedEdges = topo.nonManifoldEdges;
        report.assembleSeconds = secondsSince(t);
        return {};
    };
    std::optional<Status> finished;
    tbb::parallel_invoke(
        [&] {
            if (!repaired) {
                problem = operandsProblem(welded, pinched);
                operandsSound.store(problem.empty(), std::memory_order_release);
            }
            stop.check();
            if (problem.empty()) {
                const bool check[2] = {checkObject1, true};
                problem = crossingProblem(welded, check, stop);
            }
        },
        [&] {
            try {
                Clock::time_point lap = Clock::now();
                stop.check();
                // A twin's three points are positions both operands have.
                std::vector<int8_t> twins =
                    sharedPoints >= 3 ? closed::twinSides(welded) : std::vector<int8_t>();
                candidates = candidatePairs(welded, stop, twins.empty() ? nullptr : &twins);
                if (!twins.empty()) {
                    // Near the other operand, with their edges numbered, but in no pair.
                    candidates.involved = withTwins(candidates.involved, twins);
                    arrangement.setTwins(std::move(twins));
                }
                arrangement.skipCoveredPairs();
                report.broadPhaseSeconds = secondsSince(lap);
                stop.advance(triangleCount);
                report.intersectingPairs =
                    arrangement.intersect(candidates.pairs, candidates.involved, stop);
                report.intersectSeconds = secondsSince(lap);
                stop.advance(triangleCount);
                split = arrangement.split(stop);
                retry = !split && arrangement.twinTouched();
                report.splitSeconds = secondsSince(lap);
                if (!retry && operandsSound.load(std::memory_order_acquire)) {
                    finished = finish();
                }
            } catch (...) {
                failure = std::current_exception();
            }
        });
    if (!problem.empty()) {
        return Status::failure(problem);
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
    if (retry) {
        // Twins were cut after all: again without them. The restart moves the input out and
        // back, so it waits for the checks, which read it.
        Clock::time_point lap = Clock::now();
        arrangement.restart();
        candidates = candidatePairs(welded, stop);
        report.intersectingPairs =
            arrangement.intersect(candidates.pairs, candidates.involved, stop);
        split = arrangement.split(stop);
        report.splitSeconds += secondsSince(lap);
    }
    if (!finished) {
        finished = finish();
    }
    if (!finished->ok()) {
        return *finished;
    }
    report.totalSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    stop.check();
    result.swap(fresh);
    result.wireframe = fresh.wireframe;
    return {};
}

}  // namespace

namespace closed {

std::string operandProblem(const MeshTopology& topo, bool empty, int objectNumber) {
    const std::string name = "Objekt " + std::to_string(objectNumber);
    if (empty) {
        return name + " je prazan";
    }
    if (topo.openEdges != 0) {
        return name + " nije zatvoreno tijelo (" + std::to_string(topo.openEdges) +
               " otvorenih rubova)";
    }
    // An edge with four triangles, two each way, still bounds a solid (two parts touching
    // along it); this engine's own results can have such edges, so they are accepted. An edge
    // used more often one way than the other is not.
    if (topo.orientationFlips != 0) {
        return name + " nije dosljedno orijentiran (" + std::to_string(topo.orientationFlips) +
               " rubova s trokutima suprotne orijentacije)";
    }
    if (hasNoVolume(topo)) {
        return name + " nema volumen (njegove plohe ne zatvaraju prostor)";
    }
    if (!(topo.signedVolume > 0.0)) {
        return name + " je okrenut iznutra prema van (negativan volumen); okrenite mu trokute";
    }
    return {};
}

std::string operandProblem(const WeldedView& w, int side, bool* pinched) {
    const int32_t first = side == 0 ? 0 : w.firstOther;
    const int32_t last = side == 0 ? w.firstOther : static_cast<int32_t>(w.tris.size());
    const Corners* begin = w.tris.data() + first;
    MeshTopology topo =
        edgeCounts(begin, w.tris.data() + last, static_cast<int32_t>(w.points.size()));
    if (pinched != nullptr) {
        *pinched = topo.nonManifoldEdges != 0;
    }
    for (int32_t t = first; t < last; ++t) {
        const Corners& c = w.tris[t];
        const Point3& p = w.points[c[0]];
        const Point3& q = w.points[c[1]];
        const Point3& r = w.points[c[2]];
        const double tetrahedron = (p.x * (q.y * r.z - q.z * r.y) + p.y * (q.z * r.x - q.x * r.z) +
                                    p.z * (q.x * r.y - q.y * r.x)) /
                                   6.0;
        topo.signedVolume += tetrahedron;
        topo.absoluteVolume += std::fabs(tetrahedron);
    }
    return operandProblem(topo, first == last, side + 1);
}

bool keepPieces(const std::vector<Piece>& pieces, int32_t firstOther, int32_t pointCount,
                BooleanOp op, const DecidePatches& decide, std::vector<char>& keep,
                const std::vector<char>* nearTriangle) {
    // Pieces come in source order: object 1's, then object 2's from here on.
    const auto otherFirst = static_cast<int32_t>(
        std::partition_point(pieces.begin(), pieces.end(),
                             [&](const Piece& piece) { return piece.source < firstOther; }) -
        pieces.begin());
    Patches patches = findPatches(pieces, firstOther, otherFirst, pointCount, nearTriangle);
    // A parent never comes after its child, so one pass in order makes every parent the root.
    std::vector<int32_t>& parent = patches.parent;
    for (int32_t& r : parent) {
        r = parent[r];
    }
    const auto patchOfPiece = [&](int32_t p) { return parent[patches.firstPiece + p]; };
    // Each patch is decided on its first piece off the other surface. No patch spans both
    // operands, so each operand's pieces are gathered at once, in order.
    const auto pieceCount = static_cast<int32_t>(pieces.size());
    std::vector<int32_t> patchOf[2];  // the patch of each deciding piece
    std::vector<int32_t> deciding[2];
    std::vector<int8_t> patchInside(parent.size(), -1);
    const auto gather = [&](int side, int32_t begin, int32_t end) {
        for (int32_t p = begin; p < end; ++p) {
            if (pieces[p].coplanar == 0) {
                const int32_t patch = patchOfPiece(p);
                if (patchInside[patch] < 0) {
                    patchInside[patch] = 0;
                    patchOf[side].push_back(patch);
                    deciding[side].push_back(p);
                }
            }
        }
    };
    tbb::parallel_invoke([&] { gather(0, 0, otherFirst); },
                         [&] { gather(1, otherFirst, pieceCount); });
    deciding[0].insert(deciding[0].end(), deciding[1].begin(), deciding[1].end());
    patchOf[0].insert(patchOf[0].end(), patchOf[1].begin(), patchOf[1].end());
    std::vector<int8_t> inside;
    if (!decide(deciding[0], inside)) {
        return false;
    }
    for (size_t i = 0; i < deciding[0].size(); ++i) {
        patchInside[patchOf[0][i]] = inside[i];
    }
    keep.resize(pieces.size());
    tbb::parallel_for(
        tbb::blocked_range<int32_t>(0, pieceCount, 8192),
        [&](const tbb::blocked_range<int32_t>& r) {
            for (int32_t p = r.begin(); p < r.end(); ++p) {
                const Piece& piece = pieces[p];
                const bool inside = piece.coplanar == 0 && patchInside[patchOfPiece(p)] != 0;
                keep[p] = keepPiece(piece, piece.source >= firstOther, inside, op) ? 1 : 0;
            }
        });
    return true;
}

Assembly assembleKept(const Arrangement& arrangement, const std::vector<char>& keep,
                      int32_t inputPoints, BooleanOp op) {
    const std::vector<Piece>& pieces = arrangement.pieces();
    const int32_t firstOther = arrangement.firstOther();
    const bool reverseOther = op == BooleanOp::Difference;
    // The kept pieces with their points numbered by first use.
    Assembly a;
    std::vector<int32_t> useOf(static_cast<size_t>(arrangement.pointCount()), -1);
    std::vector<int32_t> pointOfUse;
    a.tris.reserve(pieces.size());
    a.source.reserve(pieces.size());
    const WholeTriangles whole = wholeTriangles(arrangement, keep);
    const std::vector<uint8_t>& action = whole.action;
    const auto emit = [&](Corners c, int32_t source) {
        if (reverseOther && source >= firstOther) {
            std::swap(c[1], c[2]);
            source = ~source;
        }
        for (int32_t& v : c) {
            int32_t& use = useOf[v];
            if (use < 0) {
                use = static_cast<int32_t>(pointOfUse.size());
                pointOfUse.push_back(v);
            }
            v = use;
        }
        a.tris.push_back(c);
        a.source.push_back(source);
    };
    std::vector<Piece> late;
    for (int32_t p = 0; p < static_cast<int32_t>(pieces.size()); ++p) {
        if (!keep[p] || action[p] == kDropPiece) {
            continue;
        }
        const int32_t source = pieces[p].source;
        if (action[p] == kSplitNow || action[p] == kSplitAtUsed) {
            late.clear();
            const bool split = action[p] == kSplitNow
                                   ? arrangement.splitDeferred(source, late, a.error)
                                   : arrangement.splitAt(source, whole.used, late, a.error);
            if (!split) {
                return a;
            }
            for (const Piece& piece : late) {
                emit(piece.v, source);
            }
            continue;
        }
        emit(action[p] == kWholeTriangle ? arrangement.triangles()[source] : pieces[p].v, source);
    }
    useOf = {};
    const auto uses = static_cast<int32_t>(pointOfUse.size());
    std::vector<Vector4> rounded(static_cast<size_t>(uses));
    tbb::parallel_for(tbb::blocked_range<int32_t>(0, uses, 8192),
                      [&](const tbb::blocked_range<int32_t>& r) {
                          for (int32_t u = r.begin(); u < r.end(); ++u) {
                              const std::array<float, 3> x = arrangement.rounded(pointOfUse[u]);
                              rounded[u] = Vector4(x[0], x[1], x[2]);
                          }
                      });
    const std::vector<int32_t> seamUses =
        selectInOrder(uses, [&](int32_t u) { return pointOfUse[u] >= inputPoints; });
    // Seam points that round to the same float position (or to an input point's) become one
    // vertex.
    int32_t slots = 0;
    const std::vector<int32_t> slotOfUse = weldRounded(rounded, seamUses, slots);
    if (slots == uses) {
        // Nothing met: every use is a vertex of its own, numbered as it is.
        a.points.resize(static_cast<size_t>(uses));
        a.seamVertex.resize(static_cast<size_t>(uses));
        a.origin.resize(static_cast<size_t>(uses));
        tbb::parallel_for(tbb::blocked_range<int32_t>(0, uses, 8192),
                          [&](const tbb::blocked_range<int32_t>& r) {
                              for (int32_t u = r.begin(); u < r.end(); ++u) {
                                  const Vector4& k = rounded[u];
                                  a.points[u] = {k.x, k.y, k.z};
                                  const bool seam = pointOfUse[u] >= inputPoints;
                                  a.seamVertex[u] = seam ? 1 : 0;
                                  a.origin[u] = seam ? -1 : pointOfUse[u];
                              }
                          });
    } else {
        // Pieces collapsed by the meeting are left out before vertices are numbered again, in
        // order of first use by the triangles that remain.
        std::vector<int32_t> vertexOfSlot(static_cast<size_t>(slots), -1);
        size_t kept = 0;
        for (size_t i = 0; i < a.tris.size(); ++i) {
            Corners c = a.tris[i];
            for (int32_t& v : c) {
                v = slotOfUse[v];
            }
            if (c[0] == c[1] || c[1] == c[2] || c[0] == c[2]) {
                continue;
            }
            for (int32_t& v : c) {
                if (vertexOfSlot[v] < 0) {
                    vertexOfSlot[v] = static_cast<int32_t>(a.points.size());
                    a.points.emplace_back();
                }
                v = vertexOfSlot[v];
            }
            a.tris[kept] = c;
            a.source[kept] = a.source[i];
            ++kept;
        }
        a.tris.resize(kept);
        a.source.resize(kept);
        a.seamVertex.assign(a.points.size(), 0);
        // A vertex is at most one input point, as input points are distinct positions.
        a.origin.assign(a.points.size(), -1);
        for (int32_t u = 0; u < uses; ++u) {
            const int32_t v = vertexOfSlot[slotOfUse[u]];
            if (v < 0) {
                continue;
            }
            const Vector4& k = rounded[u];
            a.points[v] = {k.x, k.y, k.z};
            if (pointOfUse[u] >= inputPoints) {
                a.seamVertex[v] = 1;
            } else {
                a.origin[v] = pointOfUse[u];
            }
        }
    }
    a.folds = unfold(a.tris, a.source, a.points, a.seamVertex, a.origin, arrangement, &a.flips,
                     &a.refills, &a.flipRecord);
    return a;
}

}  // namespace closed

Status checkClosedOperand(const Solid& solid, int objectNumber) {
    try {
        const std::string problem =
            closed::operandProblem(analyzeTopology(solid), solid.triangles.empty(), objectNumber);
        return problem.empty() ? Status() : Status::failure(problem);
    } catch (const std::bad_alloc&) {
        return Status::failure(kOutOfMemoryMessage);
    }
}

namespace {

Status checkedBoolean(const Solid& object1, const Solid& object2, BooleanOp op, Solid& result,
                      ClosedReport* report, int threads, const Vector4& object2Offset,
                      bool checkObject1, const StopToken& stop) {
    std::vector<Vector4> moved;
    try {
        if (!(object2Offset == Vector4())) {
            moved.reserve(object2.vertices.size());
            for (const Vector4& v : object2.vertices) {
                moved.push_back(v + object2Offset);  // as Solid::translate moves it
            }
        }
    } catch (const std::bad_alloc&) {
        return Status::failure(kOutOfMemoryMessage);
    }
    const Operand operands[2] = {
        {object1.vertices, object1.triangles},
        {object2Offset == Vector4() ? object2.vertices : moved, object2.triangles}};
    // Exact predicates need finite coordinates, and the arrays must agree.
    for (int k = 0; k < 2; ++k) {
        const Operand& s = operands[k];
        const std::string name = "Objekt " + std::to_string(k + 1);
        for (const Vector4& v : s.vertices) {
            if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z)) {
                return Status::failure(name + " ima tocku s neispravnim koordinatama");
            }
        }
        const auto n = static_cast<uint32_t>(s.vertices.size());
        for (const Triangle& t : s.triangles) {
            if (static_cast<uint32_t>(t.i0) >= n || static_cast<uint32_t>(t.i1) >= n ||
                static_cast<uint32_t>(t.i2) >= n) {
                return Status::failure(name + " ima trokut s nepostojecim vrhom");
            }
        }
    }
    ClosedReport local;
    try {
        Status s;
        ThreadArena().run(
            threads, [&] { s = run(object1, operands[1], op, result, local, checkObject1, stop); });
        if (report != nullptr) {
            *report = local;
        }
        return s;
    } catch (const std::bad_alloc&) {
        return Status::failure(kOutOfMemoryMessage);
    } catch (const std::exception& e) {
        return Status::failure(std::string("Zatvoreni rezultat nije moguc: ") + e.what());
    }
}

}  // namespace

Status closedBoolean(const Solid& object1, const Solid& object2, BooleanOp op, Solid& result,
                     ClosedReport* report, int threads, const Vector4& object2Offset,
                     const StopToken& stop) {
    return checkedBoolean(object1, object2, op, result, report, threads, object2Offset, true, stop);
}

Status closedBooleanOfResult(const Solid& object1, const Solid& object2, BooleanOp op,
                             Solid& result, ClosedReport* report, int threads,
                             const Vector4& object2Offset, const StopToken& stop) {
    return checkedBoolean(object1, object2, op, result, report, threads, object2Offset, false,
                          stop);
}

}  // namespace korvan
