// Assembly of the result mesh from the selected triangles and pieces.
//
// Vertices are numbered in order of first use through object 1's kept triangles, then object
// 2's, then the pieces (three new vertices each). One thread does it in one counting pass and
// one copying pass. Several threads give the same result in three passes: (1) each operand
// numbers its own vertices and notes its triangles' corners, the two operands at once (their
// vertices are distinct, so object 2's numbers are its own plus object 1's count); (2) every
// vertex is copied to its number, range by range; (3) every triangle is written with its
// normal and centroid, range by range. Only pass 1 reads the operands' triangle records; from
// then on object 1's triangle array is free and takes the result.
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/parallel_invoke.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "boolean/boolean.h"
#include "geometry/memory_budget.h"

namespace korvan {
namespace {

bool inBox(const Vector4& c, const Vector4& lo, const Vector4& hi) {
    return lo.x <= c.x && c.x <= hi.x && lo.y <= c.y && c.y <= hi.y && lo.z <= c.z && c.z <= hi.z;
}

constexpr size_t kChunk = size_t{1} << 15;

// One operand's share of the result: the number of each of its vertices within the share (or
// -1 where no selected triangle uses it), how many it numbered, and the corners of its selected
// triangles in those numbers, in order.
struct OperandPart {
    std::vector<int32_t> number;
    size_t vertices = 0;
    std::vector<std::array<int32_t, 3>> corners;
};

template <typename Selected, typename CornersOf>
void numberOperand(const Solid& operand, int32_t source, const Selected& selected,
                   const CornersOf& cornersOf, OperandPart& part) {
    part.number.assign(operand.vertices.size(), -1);
    part.corners.reserve(operand.triangles.size());
    int32_t next = 0;
    for (const Triangle& t : operand.triangles) {
        if (!selected(source, t)) {
            continue;
        }
        std::array<int32_t, 3> c = cornersOf(source, t);
        for (int32_t& v : c) {
            int32_t& n = part.number[static_cast<size_t>(v)];
            if (n < 0) {
                n = next++;
            }
            v = n;
        }
        part.corners.push_back(c);
    }
    part.vertices = static_cast<size_t>(next);
}

template <typename T, typename F>
void forEach(std::vector<T>& items, const F& f) {
    tbb::parallel_for(tbb::blocked_range<size_t>(0, items.size(), 1),
                      [&](const tbb::blocked_range<size_t>& range) {
                          for (size_t k = range.begin(); k != range.end(); ++k) {
                              f(items[k]);
                          }
                      });
}

// The one-thread assembly: one counting pass and one copying pass, numbering vertices as it
// meets them. It gives the same result as the passes of several threads (a test holds the two
// together) with less traffic: no corner lists, and object 1's records rewritten in place
// where they fit.
template <typename Selected2, typename SelectedPiece>
size_t assembleSerially(Solid& object1, const Solid& object2, const SplitList& pieces,
                        int32_t keep1, bool reverse, const Selected2& selected2,
                        const SelectedPiece& selectedPiece) {
    std::vector<int32_t> map1(object1.vertices.size(), -1);
    std::vector<int32_t> map2(object2.vertices.size(), -1);
    int32_t next = 0;
    const auto number = [&next](std::vector<int32_t>& map, int32_t k) {
        int32_t& slot = map[static_cast<size_t>(k)];
        if (slot < 0) {
            slot = next++;
        }
        return slot;
    };
    size_t resultTriangles = 0;
    for (const Triangle& t : object1.triangles) {
        if (t.label == keep1) {
            number(map1, t.i0);
            number(map1, t.i1);
            number(map1, t.i2);
            ++resultTriangles;
        }
    }
    for (const Triangle& t : object2.triangles) {
        if (selected2(t)) {
            number(map2, t.i0);
            number(map2, reverse ? t.i2 : t.i1);
            number(map2, reverse ? t.i1 : t.i2);
            ++resultTriangles;
        }
    }
    size_t pieceCount = 0;
    for (const SplitTriangle& p : pieces) {
        pieceCount += selectedPiece(p) ? 1 : 0;
    }
    const auto operandVertices = static_cast<size_t>(next);
    std::vector<Vector4> vertices(operandVertices + 3 * pieceCount);
    for (size_t k = 0; k < map1.size(); ++k) {
        if (map1[k] >= 0) {
            vertices[static_cast<size_t>(map1[k])] = object1.vertices[k];
        }
    }
    for (size_t k = 0; k < map2.size(); ++k) {
        if (map2[k] >= 0) {
            vertices[static_cast<size_t>(map2[k])] = object2.vertices[k];
        }
    }
    // Where the result fits, object 1's records are copied forward over themselves (a kept
    // triangle never moves up); otherwise into a new array, with room for the next frame.
    std::vector<Triangle>& triangles = object1.triangles;
    std::vector<Triangle> grown;
    const bool inPlace = resultTriangles <= triangles.capacity();
    if (!inPlace) {
        grown.reserve(resultTriangles + resultTriangles / 4);
    }
    size_t out = 0;
    for (size_t i = 0; i < triangles.size(); ++i) {
        const Triangle& t = triangles[i];
        if (t.label == keep1) {
            const int32_t a = map1[static_cast<size_t>(t.i0)];
            const int32_t b = map1[static_cast<size_t>(t.i1)];
            const int32_t c = map1[static_cast<size_t>(t.i2)];
            (inPlace ? triangles[out++] : grown.emplace_back()).setIndices(a, b, c);
        }
    }
    map1 = {};
    if (inPlace) {
        triangles.resize(out);
    } else {
        triangles = std::move(grown);
    }
    for (const Triangle& t : object2.triangles) {
        if (selected2(t)) {
            const int32_t a = map2[static_cast<size_t>(t.i0)];
            const int32_t b = map2[static_cast<size_t>(t.i1)];
            const int32_t c = map2[static_cast<size_t>(t.i2)];
            triangles.emplace_back().setIndices(a, reverse ? c : b, reverse ? b : c);
        }
    }
    map2 = {};
    size_t corner = operandVertices;
    for (const SplitTriangle& p : pieces) {
        if (!selectedPiece(p)) {
            continue;
        }
        const bool turn = reverse && p.owner == 2;
        const auto first = static_cast<int32_t>(corner);
        triangles.emplace_back().setIndices(first, first + 1, first + 2);
        vertices[corner++] = p.p0;
        vertices[corner++] = turn ? p.p2 : p.p1;
        vertices[corner++] = turn ? p.p1 : p.p2;
    }
    for (Triangle& t : triangles) {
        computeTriangleData(t, vertices.data());
    }
    object1.vertices = std::move(vertices);
    object1.computeBoundingBox();
    object1.centre = (object1.maxCorner + object1.minCorner) / 2.0f;
    return pieceCount;
}

}  // namespace

int32_t assembleResult(Solid& object1, const Solid& object2, const SplitList& pieces, int32_t keep1,
                       int32_t keep2, const BoxFilter& filter) {
    const Vector4 box1Min = filter.minCorner;
    const Vector4 box1Max = filter.maxCorner;
    const bool animationRunning = filter.pieces;
    const bool reverse = keep1 != keep2;

    const auto selected2 = [&](const Triangle& t) {
        if (t.label != keep2) {
            return false;
        }
        if (keep2 == kLabelOutside) {
            return true;
        }
        return keep2 == kLabelInside && inBox(t.centroid, box1Min, box1Max);
    };
    const auto pieceCentroid = [](const SplitTriangle& p) { return ((p.p0 + p.p1) + p.p2) / 3.0f; };
    const auto selectedPiece = [&](const SplitTriangle& p) {
        if (!((p.label == keep1 && p.owner == 1) || (p.label == keep2 && p.owner == 2))) {
            return false;
        }
        if (animationRunning && p.owner == 2 && keep2 == kLabelInside) {
            return inBox(pieceCentroid(p), box1Min, box1Max);
        }
        return true;
    };
    const std::array<const Solid*, 2> operands{&object1, &object2};
    const auto selected = [&](int32_t source, const Triangle& t) {
        return source == 0 ? t.label == keep1 : selected2(t);
    };
    // Corners in the order they are numbered and written: object 2's turned when reversed.
    const auto corners = [&](int32_t source, const Triangle& t) {
        const bool turn = source == 1 && reverse;
        return std::array<int32_t, 3>{t.i0, turn ? t.i2 : t.i1, turn ? t.i1 : t.i2};
    };

    // The passes below note every selected triangle's corners once more, so they pay only from
    // two threads that really run at once. Small operations stay serial: a task costs more
    // than a chunk.
    const bool parallel =
        object1.triangles.size() + object2.triangles.size() + pieces.size() >= 2 * kChunk &&
        tbb::this_task_arena::max_concurrency() >= 2;
    if (!parallel) {
        return static_cast<int32_t>(
            assembleSerially(object1, object2, pieces, keep1, reverse, selected2, selectedPiece));
    }

    // Pass 1, the two operands at once: each numbers its own vertices by first use through
    // its selected triangles and notes their corners so numbered. Object 2's numbers follow
    // all of object 1's, as one pass through both would give them; the pieces are picked
    // beside them.
    std::array<OperandPart, 2> parts;
    std::vector<uint32_t> chosenPieces;
    tbb::parallel_invoke([&] { numberOperand(object1, 0, selected, corners, parts[0]); },
                         [&] { numberOperand(object2, 1, selected, corners, parts[1]); },
                         [&] {
                             for (size_t i = 0; i < pieces.size(); ++i) {
                                 if (selectedPiece(pieces[i])) {
                                     chosenPieces.push_back(static_cast<uint32_t>(i));
                                 }
                             }
                         });
    const size_t firstOf2 = parts[0].vertices;
    const size_t firstPieceVertex = firstOf2 + parts[1].vertices;
    const size_t pieceCount = chosenPieces.size();
    const size_t triangles1 = parts[0].corners.size();
    const size_t firstPiece = triangles1 + parts[1].corners.size();
    const size_t resultTriangles = firstPiece + pieceCount;
    assert(firstPieceVertex + 3 * pieceCount <= static_cast<size_t>(INT32_MAX));

    // Pass 2: every vertex to its number, each range of each source on its own; the box of
    // each range, combined after (minima and maxima do not depend on the order). Meanwhile one
    // thread readies object 1's triangle array for pass 3: its records were last read in pass
    // 1. It is sized with room to spare when it must grow, so that the next operation of a
    // milling run need not allocate (nor fault in) another; growing it writes every new
    // element, which would otherwise hold up the passes.
    struct Range {
        int32_t source;
        size_t begin, end;
        Vector4 lo, hi;
        bool copied = false;
    };
    std::vector<Vector4> vertices;
    std::vector<Range> ranges;
    std::vector<Triangle>& triangles = object1.triangles;
    tbb::parallel_invoke(
        [&] {
            if (resultTriangles > triangles.capacity()) {
                triangles = {};
                reservePopulated(triangles, resultTriangles + resultTriangles / 4);
            }
            triangles.resize(resultTriangles);
        },
        [&] {
            reservePopulated(vertices, firstPieceVertex + 3 * pieceCount);
            vertices.resize(firstPieceVertex + 3 * pieceCount);
            for (int32_t source = 0; source < 3; ++source) {
                const size_t count = source < 2
                                         ? operands[static_cast<size_t>(source)]->vertices.size()
                                         : pieceCount;
                for (size_t begin = 0; begin < count; begin += kChunk) {
                    ranges.push_back({source, begin, std::min(count, begin + kChunk), {}, {}});
                }
            }
            const auto put = [&](Range& r, size_t at, const Vector4& q) {
                vertices[at] = q;
                if (!r.copied) {
                    r.lo = r.hi = q;
                    r.copied = true;
                } else {
                    includeInBox(r.lo, r.hi, q);
                }
            };
            forEach(ranges, [&](Range& r) {
                if (r.source == 2) {
                    for (size_t j = r.begin; j < r.end; ++j) {
                        const SplitTriangle& p = pieces[chosenPieces[j]];
                        const bool turn = reverse && p.owner == 2;
                        const size_t at = firstPieceVertex + 3 * j;
                        put(r, at, p.p0);
                        put(r, at + 1, turn ? p.p2 : p.p1);
                        put(r, at + 2, turn ? p.p1 : p.p2);
                    }
                    return;
                }
                const OperandPart& part = parts[static_cast<size_t>(r.source)];
                const Vector4* from = operands[static_cast<size_t>(r.source)]->vertices.data();
                const size_t base = r.source == 0 ? 0 : firstOf2;
                for (size_t k = r.begin; k < r.end; ++k) {
                    if (part.number[k] >= 0) {
                        put(r, base + static_cast<size_t>(part.number[k]), from[k]);
                    }
                }
            });
        });

    // Pass 3: the triangles, with their normals and centroids.
    std::vector<Range> spans;
    for (size_t begin = 0; begin < resultTriangles; begin += kChunk) {
        spans.push_back({0, begin, std::min(resultTriangles, begin + kChunk), {}, {}});
    }
    forEach(spans, [&](Range& r) {
        for (size_t i = r.begin; i < r.end; ++i) {
            Triangle& t = triangles[i];
            if (i < firstPiece) {
                const bool first = i < triangles1;
                const auto base = static_cast<int32_t>(first ? 0 : firstOf2);
                const std::array<int32_t, 3>& c =
                    first ? parts[0].corners[i] : parts[1].corners[i - triangles1];
                t.setIndices(base + c[0], base + c[1], base + c[2]);
            } else {
                const auto v = static_cast<int32_t>(firstPieceVertex + 3 * (i - firstPiece));
                t.setIndices(v, v + 1, v + 2);
            }
            computeTriangleData(t, vertices.data());
        }
    });

    // The box of the result's own vertices (pieces included), as for a mesh read from a file:
    // the next operation's tree and its box filter must cover every part of this result.
    Vector4 lo;
    Vector4 hi;
    if (!vertices.empty()) {
        lo = hi = vertices.front();
        for (const Range& r : ranges) {
            if (r.copied) {
                includeInBox(lo, hi, r.lo);
                includeInBox(lo, hi, r.hi);
            }
        }
    }
    object1.vertices = std::move(vertices);
    object1.minCorner = lo;
    object1.maxCorner = hi;
    object1.centre = (object1.maxCorner + object1.minCorner) / 2.0f;
    return static_cast<int32_t>(pieceCount);
}

}  // namespace korvan
