// A milling step of the closed engine: the difference of a workpiece that is the engine's own
// earlier result and a tool that is small against it. Only the workpiece's triangles near the
// tool go through the arrangement; the rest is carried over, renumbered as the whole operation
// would number it.
#include <tbb/parallel_for.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "closed/arrangement.h"
#include "closed/box_bits.h"
#include "closed/closed_boolean.h"
#include "closed/passes.h"
#include "closed/self_crossing.h"
#include "closed/tool_cells.h"
#include "geometry/memory_budget.h"
#include "geometry/mesh_topology.h"
#include "geometry/thread_arena.h"

namespace korvan {
namespace {

using namespace closed;

// A near part larger than this share of the workpiece is computed as a whole operation.
constexpr double kLargestNearShare = 0.5;

// The workpiece's triangles near the tool, welded with the tool as the whole operation welds
// both operands: the workpiece's ids keep their order, the tool's positions the workpiece
// has take the workpiece's, and the tool's others follow in order of first occurrence.
struct Near {
    Welded w;
    std::vector<int32_t> triangles;  // workpiece triangles in the near part, ascending
    std::vector<int32_t> vertices;   // workpiece vertex of each near point below the tool's
    std::vector<int32_t> localOf;    // near point of each workpiece vertex, or -1
};

Near weldNear(const Solid& work, std::vector<int32_t> triangles, const std::vector<Vector4>& tool,
              const std::vector<Triangle>& toolTriangles) {
    Near n;
    n.triangles = std::move(triangles);
    n.localOf.assign(work.vertices.size(), -1);
    for (int32_t t : n.triangles) {
        const Triangle& tri = work.triangles[static_cast<size_t>(t)];
        n.localOf[static_cast<size_t>(tri.i0)] = n.localOf[static_cast<size_t>(tri.i1)] =
            n.localOf[static_cast<size_t>(tri.i2)] = 0;
    }
    Welded& w = n.w;
    for (size_t v = 0; v < n.localOf.size(); ++v) {
        if (n.localOf[v] == 0) {
            n.localOf[v] = static_cast<int32_t>(n.vertices.size());
            n.vertices.push_back(static_cast<int32_t>(v));
            const Vector4& p = work.vertices[v];
            w.points.push_back({p.x + 0.0f, p.y + 0.0f, p.z + 0.0f});
        }
    }
    // The tool's positions that the near part has take its ids; the tool's others follow.
    const PositionWeld toolWeld(tool);
    std::vector<int32_t> idOfPosition(static_cast<size_t>(toolWeld.distinct()), -1);
    for (size_t k = 0; k < n.vertices.size(); ++k) {
        const int32_t id = toolWeld.find(work.vertices[static_cast<size_t>(n.vertices[k])]);
        if (id >= 0) {
            idOfPosition[static_cast<size_t>(id)] = static_cast<int32_t>(k);
        }
    }
    for (int32_t id = 0; id < toolWeld.distinct(); ++id) {
        int32_t& g = idOfPosition[static_cast<size_t>(id)];
        if (g < 0) {
            const Vector4& v = tool[static_cast<size_t>(toolWeld.firstVertex[id])];
            g = static_cast<int32_t>(w.points.size());
            w.points.push_back({v.x + 0.0f, v.y + 0.0f, v.z + 0.0f});
        }
    }
    const std::vector<int32_t>& id = toolWeld.ids;
    w.firstOther = static_cast<int32_t>(n.triangles.size());
    w.tris.reserve(n.triangles.size() + toolTriangles.size());
    for (int32_t t : n.triangles) {
        const Triangle& tri = work.triangles[static_cast<size_t>(t)];
        w.tris.push_back({n.localOf[static_cast<size_t>(tri.i0)],
                          n.localOf[static_cast<size_t>(tri.i1)],
                          n.localOf[static_cast<size_t>(tri.i2)]});
    }
    for (const Triangle& t : toolTriangles) {
        const auto at = [&](int32_t v) { return idOfPosition[static_cast<size_t>(id[v])]; };
        w.tris.push_back({at(t.i0), at(t.i1), at(t.i2)});
    }
    return n;
}

// The workpiece's triangles that meet `reach` (ascending): `near` where one of their cells
// may hold the tool's surface or inside, `aside` where every cell is outside the tool.
struct InReach {
    std::vector<int32_t> near, aside;
};

InReach splitByReach(const Solid& work, const Box& reach, const ToolCells& cells) {
    enum : char { kFar, kNear, kAside };
    const std::vector<uint8_t> beyond = beyondBitsOf(work.vertices, reach.lo, reach.hi);
    const auto kindOf = [&](const Triangle& t) {
        if (!meetsBox(beyond, t.i0, t.i1, t.i2)) {
            return kFar;
        }
        const Vector4& a = work.vertices[t.i0];
        const Vector4& b = work.vertices[t.i1];
        const Vector4& c = work.vertices[t.i2];
        const std::array<double, 3> lo = {std::min({a.x, b.x, c.x}), std::min({a.y, b.y, c.y}),
                                          std::min({a.z, b.z, c.z})};
        const std::array<double, 3> hi = {std::max({a.x, b.x, c.x}), std::max({a.y, b.y, c.y}),
                                          std::max({a.z, b.z, c.z})};
        return cells.outside(lo, hi) ? kAside : kNear;
    };
    std::vector<char> kind(work.triangles.size());
    tbb::parallel_for(tbb::blocked_range<size_t>(0, kind.size(), 4096),
                      [&](const tbb::blocked_range<size_t>& r) {
                          for (size_t i = r.begin(); i < r.end(); ++i) {
                              kind[i] = kindOf(work.triangles[i]);
                          }
                      });
    InReach split;
    for (size_t i = 0; i < kind.size(); ++i) {
        if (kind[i] != kFar) {
            (kind[i] == kNear ? split.near : split.aside).push_back(static_cast<int32_t>(i));
        }
    }
    return split;
}

std::array<Point3, 3> cornersOf(const Solid& work, int32_t t) {
    const Triangle& tri = work.triangles[static_cast<size_t>(t)];
    const Vector4& a = work.vertices[tri.i0];
    const Vector4& b = work.vertices[tri.i1];
    const Vector4& c = work.vertices[tri.i2];
    return {Point3{a.x, a.y, a.z}, Point3{b.x, b.y, b.z}, Point3{c.x, c.y, c.z}};
}

// Calls `f(t)` for each workpiece triangle t outside the near part (`near`, ascending), in
// order, until it returns true; returns whether it did.
template <typename F>
bool anyTriangleOutside(const Solid& work, const std::vector<int32_t>& near, const F& f) {
    size_t k = 0;
    for (int32_t t = 0; t < static_cast<int32_t>(work.triangles.size()); ++t) {
        if (k < near.size() && near[k] == t) {
            ++k;
        } else if (f(t)) {
            return true;
        }
    }
    return false;
}

// The workpiece's triangles other than `near` (ascending), the few nearest the box `reach`
// first: a segment from the tool to one of those crosses few triangles on its way.
std::vector<int32_t> trianglesBeside(const Solid& work, const std::vector<int32_t>& near,
                                     const Box& reach) {
    std::vector<std::pair<double, int32_t>> byDistance;
    byDistance.reserve(work.triangles.size() - near.size());
    double centre[3];
    for (int i = 0; i < 3; ++i) {
        centre[i] = 0.5 * (reach.lo[i] + reach.hi[i]);
    }
    (void)anyTriangleOutside(work, near, [&](int32_t t) {
        const Vector4& a = work.vertices[work.triangles[static_cast<size_t>(t)].i0];
        const double d[3] = {a.x - centre[0], a.y - centre[1], a.z - centre[2]};
        byDistance.emplace_back(d[0] * d[0] + d[1] * d[1] + d[2] * d[2], t);
        return false;
    });
    const size_t nearest = std::min<size_t>(byDistance.size(), 8);
    std::partial_sort(byDistance.begin(), byDistance.begin() + static_cast<ptrdiff_t>(nearest),
                      byDistance.end());
    std::vector<int32_t> out;
    out.reserve(byDistance.size());
    for (const auto& [distance, t] : byDistance) {
        out.push_back(t);
    }
    return out;
}

// Whether a point of `inputs` (near points, as welded) is a corner of a workpiece triangle
// outside the near part: a flip looking across an edge there may have needed that triangle.
bool flipsReachTheRim(const Solid& work, const Near& near, const std::vector<int32_t>& inputs) {
    const auto nearPoints = static_cast<int32_t>(near.vertices.size());
    std::vector<char> asked(static_cast<size_t>(nearPoints), 0);
    bool any = false;
    for (const int32_t p : inputs) {
        if (p < nearPoints) {
            asked[static_cast<size_t>(p)] = 1;
            any = true;
        }
    }
    return any && anyTriangleOutside(work, near.triangles, [&](int32_t t) {
               const Triangle& tri = work.triangles[static_cast<size_t>(t)];
               for (const int32_t v : {tri.i0, tri.i1, tri.i2}) {
                   const int32_t p = near.localOf[static_cast<size_t>(v)];
                   if (p >= 0 && asked[static_cast<size_t>(p)]) {
                       return true;
                   }
               }
               return false;
           });
}

// `v` with `count` items, all of them to be written over. A milling run's workpiece grows a
// little every frame: storage too small is replaced with room to spare, without moving what it
// held, instead of growing (a copy and fresh pages) frame after frame.
template <typename T>
void resizeToOverwrite(std::vector<T>& v, size_t count) {
    if (v.capacity() < count) {
        v = {};  // nothing to move
        reservePopulated(v, count + count / 8);
    }
    v.resize(count);
}

// The result, or nothing where the shortcut does not apply and the whole operation must run.
std::optional<Status> runNear(const Solid& work, const std::vector<Vector4>& tool,
                              const std::vector<Triangle>& toolTriangles, bool toolIsHull,
                              Solid& result, ClosedReport& report) {
    Clock::time_point t = Clock::now();
    const Clock::time_point start = t;
    const auto nWork = static_cast<int32_t>(work.triangles.size());
    const auto nWorkVertices = static_cast<int32_t>(work.vertices.size());
    if (tool.empty() || toolTriangles.empty() || nWork == 0) {
        return std::nullopt;
    }
    // The tool's box, widened far beyond any rounding of a seam point or a fold's collapse:
    // a workpiece triangle outside it keeps its corners and neighbours whatever the tool does.
    Box reach = emptyBox();
    for (const Vector4& v : tool) {
        grow(reach, Box{{v.x, v.y, v.z}, {v.x, v.y, v.z}});
    }
    double size = 1.0;
    for (int i = 0; i < 3; ++i) {
        size = std::max({size, std::abs(reach.lo[i]), std::abs(reach.hi[i])});
    }
    const double margin = 1e-4 * size;
    for (int i = 0; i < 3; ++i) {
        reach.lo[i] -= margin;
        reach.hi[i] += margin;
    }
    const std::array<double, 3>& lo = reach.lo;
    const std::array<double, 3>& hi = reach.hi;
    // One in the box whose cells all lie outside the tool is as far from every tool triangle:
    // it is carried over too (`aside`), and only read where the tool's pieces are decided. A
    // tool moving along a path sits in the groove it cut, whose dense walls fill most of its box.
    InReach inReach = splitByReach(work, reach, ToolCells(reach, tool, toolTriangles, margin));
    const std::vector<int32_t>& aside = inReach.aside;
    if (static_cast<double>(inReach.near.size()) > kLargestNearShare * nWork) {
        return std::nullopt;
    }
    // A tool clear of the workpiece's box is outside it, with nothing near to say so.
    const bool toolOutsideBox =
        inReach.near.empty() && aside.empty() &&
        (lo[0] > work.maxCorner.x || hi[0] < work.minCorner.x || lo[1] > work.maxCorner.y ||
         hi[1] < work.minCorner.y || lo[2] > work.maxCorner.z || hi[2] < work.minCorner.z);
    // The tool's pieces look for the workpiece's surface in the box among these too.
    const OtherTriangles asideTriangles{
        static_cast<int32_t>(aside.size()),
        [&](int32_t i) { return cornersOf(work, aside[static_cast<size_t>(i)]); },
        {}};

    Near near = weldNear(work, std::move(inReach.near), tool, toolTriangles);
    Welded& w = near.w;
    const int32_t firstOther = w.firstOther;
    if (std::string problem = operandProblem(w, 1); !problem.empty()) {
        return Status::failure(problem);
    }
    // The tool's own triangles must not cross (an exact hull's cannot); the workpiece is this
    // engine's result.
    if (const int64_t crossing = toolIsHull ? 0 : selfCrossingPairs(w, 1); crossing > 0) {
        return std::nullopt;  // the whole operation says what is wrong
    }
    // A tool with flat triangles is repaired by the whole operation.
    if (!flatTriangles(w, firstOther, static_cast<int32_t>(w.tris.size())).empty()) {
        return std::nullopt;
    }
    report.weldSeconds = secondsSince(t);

    const Candidates candidates = candidatePairs(w);
    report.broadPhaseSeconds = secondsSince(t);

    const auto inputPoints = static_cast<int32_t>(w.points.size());
    Arrangement arrangement(std::move(w.points), std::move(w.tris), firstOther);
    report.intersectingPairs = arrangement.intersect(candidates.pairs, candidates.involved);
    report.intersectSeconds = secondsSince(t);
    if (!arrangement.split()) {
        return std::nullopt;  // the whole operation says what is wrong
    }
    const std::vector<Piece>& pieces = arrangement.pieces();
    report.pieces = static_cast<int64_t>(pieces.size()) + nWork - firstOther;
    report.seamVertices = arrangement.seamPointCount();
    report.splitSeconds = secondsSince(t);

    // A piece of the tool whose box holds no triangle of the workpiece close enough to aim at
    // (the tool in the air over the workpiece, or in a cavity it cut) is decided against the
    // whole workpiece, from the triangles nearest the tool first: one pass over the workpiece
    // instead of the whole operation.
    std::vector<int32_t> elsewhere;  // the workpiece's triangles outside the near part
    Box everywhere = emptyBox();
    const auto insideWorkpiece = [&](int32_t piece) {
        if (elsewhere.empty()) {
            elsewhere = trianglesBeside(work, near.triangles, reach);
            grow(everywhere, reach);
            grow(everywhere, Box{{work.minCorner.x, work.minCorner.y, work.minCorner.z},
                                 {work.maxCorner.x, work.maxCorner.y, work.maxCorner.z}});
        }
        return arrangement.insideObject1Near(
            piece, everywhere.lo, everywhere.hi,
            {static_cast<int32_t>(elsewhere.size()),
             [&](int32_t i) { return cornersOf(work, elsewhere[static_cast<size_t>(i)]); },
             [&](const Bound& l, const Bound& h) {
                 return trianglesMeetingBox(
                     work.vertices, l, h, elsewhere.size(), [&](size_t i) -> const Triangle& {
                         return work.triangles[static_cast<size_t>(elsewhere[i])];
                     });
             }});
    };
    std::vector<char> keep;
    const bool decided = keepPieces(
        pieces, firstOther, arrangement.pointCount(), BooleanOp::Difference,
        [&](const std::vector<int32_t>& deciding, std::vector<int8_t>& inside) {
            // The workpiece's pieces cast rays through the whole tool; the tool's reach the
            // near part only.
            std::vector<int32_t> work;
            for (int32_t p : deciding) {
                if (pieces[p].source < firstOther) {
                    work.push_back(p);
                }
            }
            const std::vector<int8_t> workInside = arrangement.insideOther(work);
            inside.resize(deciding.size());
            size_t next = 0;
            for (size_t i = 0; i < deciding.size(); ++i) {
                if (pieces[deciding[i]].source < firstOther) {
                    inside[i] = workInside[next++];
                    continue;
                }
                int x = arrangement.insideObject1Near(deciding[i], lo, hi, asideTriangles);
                if (x < 0 && !toolOutsideBox) {
                    x = insideWorkpiece(deciding[i]);
                }
                if (x < 0 && !toolOutsideBox) {
                    return false;
                }
                inside[i] = static_cast<int8_t>(x > 0 ? 1 : 0);
            }
            return true;
        },
        keep);
    if (!decided) {
        return std::nullopt;
    }
    report.classifySeconds = secondsSince(t);

    Assembly a = assembleKept(arrangement, keep, inputPoints, BooleanOp::Difference);
    keep = {};
    if (!a.error.empty()) {
        // The whole operation reports the failure.
        return std::nullopt;
    }
    // A face triangulated again may reach a neighbour the near part does not have, and so may
    // a flip across an edge at the near part's rim; the whole operation has it.
    if (a.refills > 0 || flipsReachTheRim(work, near, a.flipRecord.across)) {
        return std::nullopt;
    }
    report.folds = a.folds;
    // The whole operation numbers vertices before repairing slivers, which only moves corners,
    // and by the corners flipped triangles had, unless the folds' repair numbered them again.
    std::vector<Corners> numbered = a.tris;
    for (const auto& [t, corners] : a.flipRecord.before) {
        numbered[static_cast<size_t>(t)] = corners;
    }
    int64_t dropped = 0;
    report.slivers = repairSlivers(a.tris, a.points, &a.seamVertex, &a.source, &dropped);
    if (dropped > 0) {
        // Rare: the numbering below follows the pieces before the repair one for one.
        return std::nullopt;
    }

    // Ids: workpiece vertices keep theirs, the near part's new vertices follow. The result
    // lists the workpiece's far triangles and the near part's triangles in source order, the
    // tool's last, and numbers vertices by first use, as the whole operation does.
    const auto nearCount = static_cast<int32_t>(near.triangles.size());
    std::vector<int32_t> idOf(a.points.size());
    for (size_t v = 0; v < a.points.size(); ++v) {
        const int32_t o = a.origin[v];
        idOf[v] = o >= 0 && o < static_cast<int32_t>(near.vertices.size())
                      ? near.vertices[static_cast<size_t>(o)]
                      : nWorkVertices + static_cast<int32_t>(v);
    }
    // Where each near triangle's pieces start in `a.tris`; the tool's pieces follow.
    std::vector<int32_t> firstPiece(static_cast<size_t>(nearCount) + 1);
    {
        int32_t j = 0;
        for (int32_t k = 0; k <= nearCount; ++k) {
            while (j < static_cast<int32_t>(a.tris.size()) && a.source[j] >= 0 && a.source[j] < k) {
                ++j;
            }
            firstPiece[static_cast<size_t>(k)] = j;
        }
    }
    const auto nearVertex = [&](int32_t v) { return near.localOf[static_cast<size_t>(v)] >= 0; };
    std::vector<int32_t> number(static_cast<size_t>(nWorkVertices) + a.points.size(), -1);
    int32_t vertexCount = 0;
    const auto use = [&](int32_t id) {
        int32_t& n = number[static_cast<size_t>(id)];
        if (n < 0) {
            n = vertexCount++;
        }
    };
    std::vector<int32_t> farNearSeam;  // far triangles with a corner of the near part
    {
        size_t k = 0;
        for (int32_t i = 0; i < nWork; ++i) {
            if (k < near.triangles.size() && near.triangles[k] == i) {
                for (int32_t j = firstPiece[k]; j < firstPiece[k + 1]; ++j) {
                    for (int32_t v : numbered[static_cast<size_t>(j)]) {
                        use(idOf[static_cast<size_t>(v)]);
                    }
                }
                ++k;
                continue;
            }
            const Triangle& tri = work.triangles[static_cast<size_t>(i)];
            use(tri.i0);
            use(tri.i1);
            use(tri.i2);
            if (nearVertex(tri.i0) || nearVertex(tri.i1) || nearVertex(tri.i2)) {
                farNearSeam.push_back(i);
            }
        }
        for (size_t j = static_cast<size_t>(firstPiece[nearCount]); j < numbered.size(); ++j) {
            for (int32_t v : numbered[j]) {
                use(idOf[static_cast<size_t>(v)]);
            }
        }
    }
    const auto triangleCount = static_cast<int32_t>(nWork - nearCount + a.tris.size());

    // Written over `result`'s own arrays: a milling run hands in the previous frame's
    // workpiece, whose storage then needs neither fresh pages nor zeroing.
    Solid& fresh = result;
    resizeToOverwrite(fresh.vertices, static_cast<size_t>(vertexCount));
    resizeToOverwrite(fresh.triangles, static_cast<size_t>(triangleCount));
    tbb::parallel_for(tbb::blocked_range<size_t>(0, number.size(), 16384),
                      [&](const tbb::blocked_range<size_t>& r) {
                          for (size_t id = r.begin(); id < r.end(); ++id) {
                              const int32_t n = number[id];
                              if (n < 0) {
                                  continue;
                              }
                              if (id < static_cast<size_t>(nWorkVertices)) {
                                  fresh.vertices[static_cast<size_t>(n)] = work.vertices[id];
                              } else {
                                  const Point3& p = a.points[id - nWorkVertices];
                                  fresh.vertices[static_cast<size_t>(n)] =
                                      Vector4(static_cast<float>(p.x) + 0.0f,
                                              static_cast<float>(p.y) + 0.0f,
                                              static_cast<float>(p.z) + 0.0f);
                              }
                          }
                      });
    // Far triangle i lands at i less the near triangles before it plus their pieces. The runs
    // of far triangles between near ones are as long as the part is (the first and the last
    // hold most of it), so they are copied in slices of even size.
    const auto numberOf = [&](int32_t v) {
        return number[static_cast<size_t>(idOf[static_cast<size_t>(v)])];
    };
    struct Slice {
        int32_t from, to;  // far triangles [from, to), or pieces where `pieces` is set
        int32_t at;        // where the first lands
        bool pieces;
    };
    constexpr int32_t kSlice = 8192;
    std::vector<Slice> slices;
    for (int32_t k = 0; k <= nearCount; ++k) {
        // Far triangles between near triangle k - 1 and near triangle k, then k's pieces.
        const int32_t from = k == 0 ? 0 : near.triangles[static_cast<size_t>(k - 1)] + 1;
        const int32_t to = k == nearCount ? nWork : near.triangles[static_cast<size_t>(k)];
        const int32_t at = from - k + firstPiece[static_cast<size_t>(k)];
        for (int32_t i = from; i < to; i += kSlice) {
            slices.push_back({i, std::min(to, i + kSlice), at + (i - from), false});
        }
        const int32_t last = k == nearCount ? static_cast<int32_t>(a.tris.size())
                                            : firstPiece[static_cast<size_t>(k) + 1];
        if (firstPiece[static_cast<size_t>(k)] < last) {
            slices.push_back({firstPiece[static_cast<size_t>(k)], last, at + (to - from), true});
        }
    }
    tbb::parallel_for(
        tbb::blocked_range<size_t>(0, slices.size()), [&](const tbb::blocked_range<size_t>& r) {
            for (size_t s = r.begin(); s < r.end(); ++s) {
                const Slice& slice = slices[s];
                int32_t at = slice.at;
                for (int32_t i = slice.from; i < slice.to; ++i, ++at) {
                    Triangle& dst = fresh.triangles[static_cast<size_t>(at)];
                    if (slice.pieces) {
                        const Corners& c = a.tris[static_cast<size_t>(i)];
                        dst.setIndices(numberOf(c[0]), numberOf(c[1]), numberOf(c[2]));
                        computeTriangleData(dst, fresh.vertices.data());
                        continue;
                    }
                    const Triangle& src = work.triangles[static_cast<size_t>(i)];
                    dst = src;  // the same corners in the same places: the same normal and centroid
                    dst.setIndices(number[static_cast<size_t>(src.i0)],
                                   number[static_cast<size_t>(src.i1)],
                                   number[static_cast<size_t>(src.i2)]);
                }
            }
        });
    fresh.computeBoundingBox();
    fresh.loaded = 1;
    fresh.edgeLimit = work.edgeLimit;
    fresh.touch();
    report.resultTriangles = triangleCount;
    report.carriedOver = nWork - nearCount;

    // Only edges at the near part can have changed; their triangles are the near part's
    // pieces and the far triangles that share a vertex with it.
    std::vector<Corners> around;
    around.reserve(farNearSeam.size() + a.tris.size());
    std::vector<char> touched(static_cast<size_t>(vertexCount), 0);
    for (int32_t i : farNearSeam) {
        const Triangle& tri = work.triangles[static_cast<size_t>(i)];
        around.push_back({number[tri.i0], number[tri.i1], number[tri.i2]});
    }
    for (int32_t v : near.vertices) {
        if (number[static_cast<size_t>(v)] >= 0) {
            touched[static_cast<size_t>(number[static_cast<size_t>(v)])] = 1;
        }
    }
    for (const Corners& c : a.tris) {
        around.push_back({numberOf(c[0]), numberOf(c[1]), numberOf(c[2])});
        for (int32_t v : around.back()) {
            touched[static_cast<size_t>(v)] = 1;
        }
    }
    const MeshTopology topo =
        edgeCounts(around.data(), around.data() + around.size(), vertexCount, &touched);
    if (std::string problem = resultProblem(topo); !problem.empty()) {
        result.clear();
        return Status::failure(problem);
    }
    report.pinchedEdges = topo.nonManifoldEdges;
    report.assembleSeconds = secondsSince(t);
    report.totalSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    return Status();
}

}  // namespace

Status closedDifferenceOfResult(const Solid& object1, const Solid& object2, Solid& result,
                                ClosedReport* report, int threads, const Vector4& object2Offset,
                                const StopToken& stop, bool object2IsHull) {
    stop.check();
    std::optional<Status> done;
    ClosedReport local;
    try {
        std::vector<Vector4> tool;
        tool.reserve(object2.vertices.size());
        bool sound = true;
        for (const Vector4& v : object2.vertices) {
            tool.push_back(v + object2Offset);  // as Solid::translate moves it
            const Vector4& p = tool.back();
            sound = sound && std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
        }
        const auto n = static_cast<uint32_t>(tool.size());
        for (const Triangle& t : object2.triangles) {
            sound = sound && static_cast<uint32_t>(t.i0) < n && static_cast<uint32_t>(t.i1) < n &&
                    static_cast<uint32_t>(t.i2) < n;
        }
        if (sound) {
            ThreadArena().run(threads, [&] {
                done = runNear(object1, tool, object2.triangles, object2IsHull, result, local);
            });
        }
    } catch (const std::bad_alloc&) {
        result.clear();
        return Status::failure(kOutOfMemoryMessage);
    } catch (const std::exception& e) {
        result.clear();
        return Status::failure(std::string("Zatvoreni rezultat nije moguc: ") + e.what());
    }
    if (!done) {
        return closedBooleanOfResult(object1, object2, BooleanOp::Difference, result, report,
                                     threads, object2Offset, stop);
    }
    if (report != nullptr) {
        *report = local;
    }
    return *done;
}

}  // namespace korvan
