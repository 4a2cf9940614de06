// Assembly of the result mesh from the selected triangles and pieces.
//
// The work runs in fixed chunks of triangles, so the result is the same with any number of
// threads: four passes, each over every chunk at once. (1) Each chunk notes the corners of its
// selected triangles in a compact list, and each operand vertex learns the first selected
// triangle that uses it. (2) Each chunk counts the vertices it uses first. (3) From the running
// totals of the chunks before it, each chunk numbers those vertices and copies them (pieces
// copy their own corners). (4) Each chunk writes its triangles, with their normals and
// centroids. Numbers thus follow the order of first use, as one pass through the selected
// triangles would give them. Only pass 1 reads the operands' triangle records; from then on
// object 1's triangle array is free and takes the result.
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <limits>
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
// A vertex slot holds the index of the first selected triangle that uses the vertex, kUnused,
// or (from pass 3 on) the vertex's number with kNumbered set; triangle indices and vertex
// numbers are int32, so the flag never clashes with either.
constexpr uint32_t kUnused = std::numeric_limits<uint32_t>::max();
constexpr uint32_t kNumbered = uint32_t{1} << 31;

// Slots are read and written by several chunks at once during passes 1 and 3.
uint32_t loadSlot(uint32_t& slot) {
    return std::atomic_ref<uint32_t>(slot).load(std::memory_order_relaxed);
}

void lowerSlot(uint32_t& slot, uint32_t key) {
    std::atomic_ref<uint32_t> a(slot);
    uint32_t current = a.load(std::memory_order_relaxed);
    while (key < current && !a.compare_exchange_weak(current, key, std::memory_order_relaxed)) {
    }
}

// A selected triangle's corners in the order they are numbered and written, and its index.
struct Corners {
    std::array<int32_t, 3> v;
    uint32_t triangle;
};

// One chunk of one source: object 1's triangles (0), object 2's (1) or the pieces (2).
struct Chunk {
    int32_t source = 0;
    size_t begin = 0;
    size_t end = 0;
    std::vector<Corners> corners;  // pass 1, operand chunks only
    size_t selected = 0;           // pass 1; then the result index of its first triangle
    size_t firstVertices = 0;      // pass 2; then the number of its first new vertex
    Vector4 lo;                    // box of the vertices it copied (pass 3)
    Vector4 hi;
    bool copied = false;
};

template <typename F>
void forEachChunk(std::vector<Chunk>& chunks, bool parallel, const F& f) {
    if (!parallel) {
        for (Chunk& c : chunks) {
            f(c);
        }
        return;
    }
    tbb::parallel_for(tbb::blocked_range<size_t>(0, chunks.size(), 1),
                      [&](const tbb::blocked_range<size_t>& range) {
                          for (size_t k = range.begin(); k != range.end(); ++k) {
                              f(chunks[k]);
                          }
                      });
}

void addChunks(std::vector<Chunk>& chunks, int32_t source, size_t count) {
    for (size_t begin = 0; begin < count; begin += kChunk) {
        Chunk c;
        c.source = source;
        c.begin = begin;
        c.end = std::min(count, begin + kChunk);
        chunks.push_back(c);
    }
}

// The one-thread assembly: one counting pass and one copying pass, numbering vertices as it
// meets them. It gives the same result as the chunked passes (a test holds the two together)
// with less traffic: no corner lists, and no pass that only finds first uses.
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

    // The chunked passes do about 1.4 times the work of the serial ones (89 against 65 ms for
    // 1M triangles on one core), so they pay from two threads that really run at once. Small
    // operations stay serial: a task costs more than a chunk.
    constexpr int kChunkedThreads = 2;
    const bool parallel =
        object1.triangles.size() + object2.triangles.size() + pieces.size() >= 2 * kChunk &&
        tbb::this_task_arena::max_concurrency() >= kChunkedThreads;
    if (!parallel) {
        return static_cast<int32_t>(
            assembleSerially(object1, object2, pieces, keep1, reverse, selected2, selectedPiece));
    }

    std::vector<Chunk> chunks;
    addChunks(chunks, 0, object1.triangles.size());
    addChunks(chunks, 1, object2.triangles.size());
    addChunks(chunks, 2, pieces.size());
    std::array<std::vector<uint32_t>, 2> slots;
    for (size_t k = 0; k < 2; ++k) {
        slots[k].assign(operands[k]->vertices.size(), kUnused);
    }

    forEachChunk(chunks, parallel, [&](Chunk& c) {
        if (c.source == 2) {
            for (size_t i = c.begin; i < c.end; ++i) {
                c.selected += selectedPiece(pieces[i]) ? 1 : 0;
            }
            return;
        }
        uint32_t* slot = slots[static_cast<size_t>(c.source)].data();
        const Triangle* tri = operands[static_cast<size_t>(c.source)]->triangles.data();
        c.corners.reserve(c.end - c.begin);
        for (size_t i = c.begin; i < c.end; ++i) {
            if (selected(c.source, tri[i])) {
                const Corners k{corners(c.source, tri[i]), static_cast<uint32_t>(i)};
                c.corners.push_back(k);
                for (const int32_t v : k.v) {
                    lowerSlot(slot[v], k.triangle);
                }
            }
        }
        c.selected = c.corners.size();
    });

    // Whether corner j is the first use of its vertex: the earliest triangle using it, and not
    // already met at an earlier corner of the same triangle.
    const auto firstUse = [](const Corners& k, size_t j, uint32_t slotValue) {
        return slotValue == k.triangle && (j == 0 || k.v[j] != k.v[0]) &&
               (j < 2 || k.v[2] != k.v[1]);
    };
    forEachChunk(chunks, parallel, [&](Chunk& c) {
        const uint32_t* slot =
            c.source == 2 ? nullptr : slots[static_cast<size_t>(c.source)].data();
        for (const Corners& k : c.corners) {
            for (size_t j = 0; j < 3; ++j) {
                c.firstVertices += firstUse(k, j, slot[k.v[j]]) ? 1 : 0;
            }
        }
    });

    size_t resultTriangles = 0;
    size_t operandVertices = 0;
    size_t pieceCount = 0;
    for (Chunk& c : chunks) {
        const size_t selectedHere = c.selected;
        c.selected = resultTriangles;
        resultTriangles += selectedHere;
        if (c.source == 2) {
            pieceCount += selectedHere;
        } else {
            const size_t firstHere = c.firstVertices;
            c.firstVertices = operandVertices;
            operandVertices += firstHere;
        }
    }
    for (Chunk& c : chunks) {
        if (c.source == 2) {
            // Pieces carry three vertices each, after every operand vertex.
            c.firstVertices = operandVertices + 3 * (c.selected - (resultTriangles - pieceCount));
        }
    }
    assert(operandVertices + 3 * pieceCount <= static_cast<size_t>(INT32_MAX));

    // One thread appends, writing each element once; several write at their own offsets into
    // arrays made at full size first.
    std::vector<Vector4> vertices;
    if (parallel) {
        reservePopulated(vertices, operandVertices + 3 * pieceCount);
        vertices.resize(operandVertices + 3 * pieceCount);
    } else {
        vertices.reserve(operandVertices + 3 * pieceCount);
    }
    const auto putVertex = [&](size_t& next, const Vector4& q) {
        if (parallel) {
            vertices[next] = q;
        } else {
            assert(next == vertices.size());
            vertices.push_back(q);
        }
        ++next;
    };
    const auto widen = [](Chunk& c, const Vector4& p) {
        if (!c.copied) {
            c.lo = c.hi = p;
            c.copied = true;
        } else {
            includeInBox(c.lo, c.hi, p);
        }
    };
    forEachChunk(chunks, parallel, [&](Chunk& c) {
        size_t next = c.firstVertices;
        if (c.source == 2) {
            for (size_t i = c.begin; i < c.end; ++i) {
                const SplitTriangle& p = pieces[i];
                if (selectedPiece(p)) {
                    const bool turn = reverse && p.owner == 2;
                    for (const Vector4& q : {p.p0, turn ? p.p2 : p.p1, turn ? p.p1 : p.p2}) {
                        putVertex(next, q);
                        widen(c, q);
                    }
                }
            }
            return;
        }
        uint32_t* slot = slots[static_cast<size_t>(c.source)].data();
        const Vector4* from = operands[static_cast<size_t>(c.source)]->vertices.data();
        for (const Corners& k : c.corners) {
            for (size_t j = 0; j < 3; ++j) {
                uint32_t& s = slot[k.v[j]];
                if (firstUse(k, j, loadSlot(s))) {
                    std::atomic_ref<uint32_t>(s).store(kNumbered | static_cast<uint32_t>(next),
                                                       std::memory_order_relaxed);
                    putVertex(next, from[k.v[j]]);
                    widen(c, from[k.v[j]]);
                }
            }
        }
    });

    // Object 1's array is written over: its records were last read in pass 1. Sized with room to
    // spare when it must grow, so the next operation of a milling run need not allocate (nor
    // fault in) another; elements past the old size start as default triangles.
    std::vector<Triangle>& triangles = object1.triangles;
    if (resultTriangles > triangles.capacity()) {
        triangles = {};
        reservePopulated(triangles, resultTriangles + resultTriangles / 4);
    }
    if (parallel) {
        triangles.resize(resultTriangles);
    } else {
        triangles.clear();
    }
    forEachChunk(chunks, parallel, [&](Chunk& c) {
        size_t out = c.selected;
        const auto putTriangle = [&]() -> Triangle& {
            return parallel ? triangles[out++] : triangles.emplace_back();
        };
        if (c.source == 2) {
            int32_t next = static_cast<int32_t>(c.firstVertices);
            for (size_t i = c.begin; i < c.end; ++i) {
                if (selectedPiece(pieces[i])) {
                    Triangle& r = putTriangle();
                    r.setIndices(next, next + 1, next + 2);
                    computeTriangleData(r, vertices.data());
                    next += 3;
                }
            }
            return;
        }
        const uint32_t* slot = slots[static_cast<size_t>(c.source)].data();
        for (const Corners& k : c.corners) {
            Triangle& r = putTriangle();
            r.setIndices(static_cast<int32_t>(slot[k.v[0]] & ~kNumbered),
                         static_cast<int32_t>(slot[k.v[1]] & ~kNumbered),
                         static_cast<int32_t>(slot[k.v[2]] & ~kNumbered));
            computeTriangleData(r, vertices.data());
        }
        c.corners = {};
    });
    slots = {};

    // The box of the result's own vertices (pieces included), as for a mesh read from a file:
    // the next operation's tree and its box filter must cover every part of this result.
    // Minima and maxima do not depend on the order they are taken in.
    Vector4 lo;
    Vector4 hi;
    if (!vertices.empty()) {
        lo = hi = vertices.front();
        for (const Chunk& c : chunks) {
            if (c.copied) {
                includeInBox(lo, hi, c.lo);
                includeInBox(lo, hi, c.hi);
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
