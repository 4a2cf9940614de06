// Triangles that both operands have: the same three points, in either order.
//
// Where one surface lies on the other (an operand against a copy of itself turned or moved by
// less than its floats can tell, a cut along a wall that an earlier cut made), most triangles
// of either side can be such twins, each touching some dozen triangles of the other side at its
// corners and edges. A twin is one piece on the other surface whatever else is near: nothing of
// its own operand reaches inside it, so nothing of the other operand does either, except the
// twin. The pair tests and the split can leave both of them out.
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/parallel_invoke.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cassert>
#include <utility>
#include <vector>

#include "closed/box_bits.h"
#include "closed/passes.h"

namespace korvan::closed {

namespace {

// A triangle filed under its smallest point: its other two points, ascending, and 2 * its index
// + 1 where its corners run from the smallest to the middle one (its turn).
using Filed = std::pair<int32_t, std::array<int32_t, 3>>;

// The triangles in [begin, end) whose corners `other` all marks, each row sorted: the order of
// a sort by points, then index. Returns the rows' starts, none where there are no triangles.
std::vector<int32_t> filedWithin(const WeldedView& w, int32_t begin, int32_t end,
                                 const std::vector<char>& other, std::vector<Filed>& out) {
    const std::vector<int32_t> found =
        indicesWhere(static_cast<size_t>(end - begin), [&](size_t i) {
            const Corners& c = w.tris[static_cast<size_t>(begin) + i];
            return other[static_cast<size_t>(c[0])] && other[static_cast<size_t>(c[1])] &&
                   other[static_cast<size_t>(c[2])];
        });
    out.resize(found.size());
    tbb::parallel_for(
        tbb::blocked_range<size_t>(0, found.size(), 8192),
        [&](const tbb::blocked_range<size_t>& r) {
            for (size_t k = r.begin(); k < r.end(); ++k) {
                const int32_t t = begin + found[k];
                Corners c = w.tris[static_cast<size_t>(t)];
                std::rotate(c.begin(), std::min_element(c.begin(), c.end()), c.end());
                const bool up = c[1] < c[2];
                out[k] = {c[0], {std::min(c[1], c[2]), std::max(c[1], c[2]), 2 * t + (up ? 1 : 0)}};
            }
        });
    if (out.empty()) {
        return {};
    }
    return groupByFirst(out, w.points.size());
}

// Whether the entry at k of a row [first, last) has the same points as a neighbour.
bool repeated(const Filed* first, const Filed* last, const Filed* k) {
    const auto same = [&](const Filed* x) {
        return x->second[0] == k->second[0] && x->second[1] == k->second[1];
    };
    return (k != first && same(k - 1)) || (k + 1 != last && same(k + 1));
}

// Marks in `twin` the twins between one side's row [a, aEnd) and the other's [b, bEnd), the
// triangles filed under one point: both sorted alike, one merge finds them. Returns whether it
// marked any.
bool markTwins(const Filed* a, const Filed* aEnd, const Filed* b, const Filed* bEnd,
               std::vector<int8_t>& twin) {
    bool marked = false;
    for (const Filed *i = a, *j = b; i != aEnd && j != bEnd;) {
        const std::array<int32_t, 2> x{i->second[0], i->second[1]};
        const std::array<int32_t, 2> y{j->second[0], j->second[1]};
        if (x < y) {
            ++i;
        } else if (y < x) {
            ++j;
        } else {
            // A triangle repeated within its own operand (two faces of a flat pocket) is
            // left to the pair tests.
            if (!repeated(a, aEnd, i) && !repeated(b, bEnd, j)) {
                const int8_t s = (i->second[2] & 1) == (j->second[2] & 1) ? int8_t{1} : int8_t{-1};
                twin[static_cast<size_t>(i->second[2] >> 1)] = s;
                twin[static_cast<size_t>(j->second[2] >> 1)] = s;
                marked = true;
            }
            ++i;
            ++j;
        }
    }
    return marked;
}

}  // namespace

std::vector<int8_t> twinSides(const WeldedView& w) {
    const auto n = static_cast<int32_t>(w.tris.size());
    if (w.firstOther == 0 || w.firstOther == n) {
        return {};
    }
    assert(n < (1 << 30));  // 2 * index + turn fits
    // The points each operand uses; only a triangle whose corners the other uses can be a twin.
    std::vector<char> uses[2];
    uses[0].assign(w.points.size(), 0);
    uses[1].assign(w.points.size(), 0);
    tbb::parallel_for(tbb::blocked_range<int32_t>(0, n, 8192),
                      [&](const tbb::blocked_range<int32_t>& r) {
                          for (int32_t t = r.begin(); t < r.end(); ++t) {
                              std::vector<char>& u = uses[t < w.firstOther ? 0 : 1];
                              for (const int32_t v : w.tris[static_cast<size_t>(t)]) {
                                  std::atomic_ref<char>(u[static_cast<size_t>(v)])
                                      .store(1, std::memory_order_relaxed);
                              }
                          }
                      });
    // Each side's triangles filed under their smallest point, so that twins share a row
    // number and the rows are matched in parallel.
    std::vector<Filed> side[2];
    std::vector<int32_t> row[2];
    tbb::parallel_invoke([&] { row[0] = filedWithin(w, 0, w.firstOther, uses[1], side[0]); },
                         [&] { row[1] = filedWithin(w, w.firstOther, n, uses[0], side[1]); });
    if (side[0].empty() || side[1].empty()) {
        return {};
    }
    std::vector<int8_t> twin(static_cast<size_t>(n), 0);
    std::atomic<bool> any{false};
    tbb::parallel_for(tbb::blocked_range<size_t>(0, w.points.size(), 4096),
                      [&](const tbb::blocked_range<size_t>& r) {
                          bool marked = false;
                          for (size_t v = r.begin(); v < r.end(); ++v) {
                              marked |= markTwins(
                                  side[0].data() + row[0][v], side[0].data() + row[0][v + 1],
                                  side[1].data() + row[1][v], side[1].data() + row[1][v + 1], twin);
                          }
                          if (marked) {
                              any.store(true, std::memory_order_relaxed);
                          }
                      });
    if (!any.load()) {
        return {};
    }
    return twin;
}

}  // namespace korvan::closed
