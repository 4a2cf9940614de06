#include "meshio/edge_sampling.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/parallel_reduce.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <tuple>
#include <utility>
#include <vector>

#include "geometry/memory_budget.h"

namespace korvan {
namespace {

// Each split adds one vertex and one triangle.
constexpr double kBytesPerSplit = sizeof(Vector4) + sizeof(Triangle);

// The refined mesh may take at most half of the memory the process may use (the machine's,
// or less under a resource or cgroup limit); beyond that we refuse rather than let the system
// kill the program.
size_t maxTrianglesForMemory(size_t startTriangles) {
    double budget = 0.5 * memoryLimitBytes();
    if (!std::isfinite(budget)) {
        budget = 8.0 * 1024 * 1024 * 1024;
    }
    return static_cast<size_t>(static_cast<double>(startTriangles) + budget / kBytesPerSplit);
}

// Triangle indices are 32-bit: a mesh can have no more triangles than that, whatever memory.
constexpr size_t kMaxTriangles = std::numeric_limits<int32_t>::max();
constexpr const char* kTooManyTrianglesMessage =
    "Uzorkovanje bi dalo vise od 2147483647 trokuta; odaberite veci faktor uzorkovanja";

float edgeLength(const Vector4& from, const Vector4& to) {
    return static_cast<float>(length(to - from));
}

// A lower bound of the triangles the refinement makes: every final piece has all edges <= L,
// so its area is at most that of the equilateral triangle of side L, and a triangle with an
// edge over L becomes at least two pieces.
double estimateTriangles(const Solid& solid, float limit) {
    const double maxArea = std::sqrt(3.0) / 4.0 * static_cast<double>(limit) * limit;
    double count = 0.0;
    for (const Triangle& t : solid.triangles) {
        const Vector4& a = solid.vertices[t.i0];
        const Vector4& b = solid.vertices[t.i1];
        const Vector4& c = solid.vertices[t.i2];
        const float longest = std::max({edgeLength(a, b), edgeLength(b, c), edgeLength(c, a)});
        if (!(longest > limit)) {
            count += 1.0;
            continue;
        }
        const double area = 0.5 * length(cross(b - a, c - a));
        count += std::max(2.0, area / maxArea);
    }
    return count;
}

// Triangles per piece of work: fixed, so the result is the same with any number of threads.
constexpr size_t kChunk = 4096;

// What splitting one chunk's triangles made. Vertices the chunk made itself are referred to
// as -(j + 1), j their position in `vertices`, until their final numbers are known.
struct SplitChunk {
    std::vector<Vector4> vertices;               // new midpoints, in the order made
    std::vector<std::array<int32_t, 3>> halves;  // the second half of each split, same order
    std::vector<std::pair<size_t, std::array<int32_t, 3>>> firstHalves;  // split triangles
    size_t base = 0;  // splits made by the chunks before this one
};

// Splits triangles [first, end) of t, reading v and changing neither; see sampleEdges for
// the rule.
void splitTriangles(const std::vector<Vector4>& v, const std::vector<Triangle>& t, size_t first,
                    size_t end, float limit, SplitChunk& out) {
    const auto at = [&](int32_t ref) -> const Vector4& {
        return ref >= 0 ? v[static_cast<size_t>(ref)] : out.vertices[static_cast<size_t>(-ref - 1)];
    };
    for (size_t i = first; i < end; ++i) {
        std::array<int32_t, 3> corners{t[i].i0, t[i].i1, t[i].i2};
        bool split = false;
        for (;;) {
            int32_t i0 = corners[0];
            int32_t i1 = corners[1];
            int32_t i2 = corners[2];
            const float l01 = edgeLength(at(i0), at(i1));
            const float l12 = edgeLength(at(i1), at(i2));
            const float l20 = edgeLength(at(i2), at(i0));
            float l = l01;
            if (l12 > l01 && l12 >= l20) {
                l = l12;
                std::tie(i0, i1, i2) = std::tuple(i1, i2, i0);
            } else if (l20 > l01 && l20 > l12) {
                l = l20;
                std::tie(i0, i1, i2) = std::tuple(i2, i0, i1);
            }
            if (!(l > limit)) {
                break;
            }
            const Vector4 mid = (at(i0) + at(i1)) / 2.0f;
            out.vertices.push_back(mid);
            const auto k = -static_cast<int32_t>(out.vertices.size());
            out.halves.push_back({i1, i2, k});
            corners = {i0, k, i2};
            split = true;
        }
        if (split) {
            out.firstHalves.emplace_back(i, corners);
        }
    }
}

// Writes one chunk's splits at their final places: its vertices and halves after those of the
// chunks before it, past the first `firstVertex` vertices and `firstHalf` triangles.
void placeSplits(const SplitChunk& made, size_t firstVertex, size_t firstHalf,
                 std::vector<Vector4>& v, std::vector<Triangle>& t) {
    const auto number = [&](int32_t ref) {
        return ref >= 0 ? ref : static_cast<int32_t>(firstVertex + made.base) - ref - 1;
    };
    for (size_t j = 0; j < made.vertices.size(); ++j) {
        v[firstVertex + made.base + j] = made.vertices[j];
        const std::array<int32_t, 3>& h = made.halves[j];
        Triangle& half = t[firstHalf + made.base + j];
        half = Triangle();
        half.setIndices(number(h[0]), number(h[1]), number(h[2]));
    }
    for (const auto& [i, c] : made.firstHalves) {
        t[i].setIndices(number(c[0]), number(c[1]), number(c[2]));
    }
}

float samplingLimit(const Solid& solid, float factor) {
    return static_cast<float>(length(solid.maxCorner - solid.minCorner) * factor);
}

}  // namespace

bool needsSampling(const Solid& solid, float factor) {
    if (!(factor > 0.0f && factor < 1.0f)) {
        return false;
    }
    const float limit = samplingLimit(solid, factor);
    const std::vector<Vector4>& v = solid.vertices;
    const std::vector<Triangle>& t = solid.triangles;
    // The same lengths splitTriangles compares, so the answer is exactly whether it splits.
    const auto tooLong = [&](size_t first, size_t end) {
        for (size_t i = first; i < end; ++i) {
            const Vector4& a = v[static_cast<size_t>(t[i].i0)];
            const Vector4& b = v[static_cast<size_t>(t[i].i1)];
            const Vector4& c = v[static_cast<size_t>(t[i].i2)];
            if (edgeLength(a, b) > limit || edgeLength(b, c) > limit || edgeLength(c, a) > limit) {
                return true;
            }
        }
        return false;
    };
    return tbb::parallel_reduce(
        tbb::blocked_range<size_t>(0, t.size(), kChunk), false,
        [&](const tbb::blocked_range<size_t>& r, bool found) {
            return found || tooLong(r.begin(), r.end());
        },
        [](bool a, bool b) { return a || b; });
}

Status sampleEdges(Solid& solid, float factor) {
    if (!(factor > 0.0f && factor < 1.0f)) {
        return {};
    }
    const float limit = samplingLimit(solid, factor);
    // A fine mesh is left as it is after one parallel read of its edges, without the copies.
    if (!needsSampling(solid, factor)) {
        solid.edgeLimit = limit;
        solid.touch();
        return {};
    }

    const size_t byMemory = maxTrianglesForMemory(solid.triangles.size());
    const size_t maxTriangles = std::min(byMemory, kMaxTriangles);
    // The message names the real reason: memory, or the triangle count itself.
    const Status refused =
        Status::failure(byMemory <= kMaxTriangles ? kOutOfMemoryMessage : kTooManyTrianglesMessage);
    const double estimate = estimateTriangles(solid, limit);
    if (estimate > static_cast<double>(maxTriangles)) {
        return refused;
    }

    try {
        // Work on copies so that a failure leaves the solid untouched. Triangles are copied
        // whole (copy construction keeps the label that assignment would drop).
        std::vector<Vector4> v;
        std::vector<Triangle> t;
        const auto reserve = static_cast<size_t>(
            std::min(1.25 * estimate + 16.0, static_cast<double>(maxTriangles)));
        v.reserve(solid.vertices.size() + (reserve - std::min(reserve, solid.triangles.size())));
        t.reserve(reserve);
        v.assign(solid.vertices.begin(), solid.vertices.end());
        t.assign(solid.triangles.begin(), solid.triangles.end());

        // Every triangle made while one generation is split (the triangles [begin, end)) lies
        // after it, and each triangle's splits need only its own corners; so the triangles of a
        // generation are split at once, chunk by chunk, and the chunks' new vertices and halves
        // appended in chunk order, which is the order one pass through them makes.
        size_t begin = 0;
        while (begin < t.size()) {
            const size_t end = t.size();
            const size_t chunks = (end - begin + kChunk - 1) / kChunk;
            std::vector<SplitChunk> made(chunks);
            const auto splitChunk = [&](size_t c) {
                const size_t first = begin + c * kChunk;
                splitTriangles(v, t, first, std::min(end, first + kChunk), limit, made[c]);
            };
            if (chunks > 1) {
                tbb::parallel_for(tbb::blocked_range<size_t>(0, chunks, 1),
                                  [&](const tbb::blocked_range<size_t>& range) {
                                      for (size_t c = range.begin(); c != range.end(); ++c) {
                                          splitChunk(c);
                                      }
                                  });
            } else if (chunks == 1) {
                splitChunk(0);
            }
            size_t splits = 0;
            for (SplitChunk& m : made) {
                m.base = splits;
                splits += m.vertices.size();
            }
            if (splits > maxTriangles - std::min(maxTriangles, end)) {
                return refused;
            }
            const size_t firstVertex = v.size();
            v.resize(firstVertex + splits);
            t.resize(end + splits);
            const auto placeChunk = [&](size_t c) { placeSplits(made[c], firstVertex, end, v, t); };
            if (chunks > 1) {
                tbb::parallel_for(tbb::blocked_range<size_t>(0, chunks, 1),
                                  [&](const tbb::blocked_range<size_t>& range) {
                                      for (size_t c = range.begin(); c != range.end(); ++c) {
                                          placeChunk(c);
                                      }
                                  });
            } else if (chunks == 1) {
                placeChunk(0);
            }
            begin = end;
        }

        solid.vertices.swap(v);
        solid.triangles.swap(t);
    } catch (const std::bad_alloc&) {
        return Status::failure(kOutOfMemoryMessage);
    }
    solid.edgeLimit = limit;
    solid.touch();
    return {};
}

}  // namespace korvan
