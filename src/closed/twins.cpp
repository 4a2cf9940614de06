// Triangles that both operands have: the same three points, in either order.
//
// Where one surface lies on the other (an operand against a copy of itself turned or moved by
// less than its floats can tell, a cut along a wall that an earlier cut made), most triangles
// of either side can be such twins, each touching some dozen triangles of the other side at its
// corners and edges. A twin is one piece on the other surface whatever else is near: nothing of
// its own operand reaches inside it, so nothing of the other operand does either, except the
// twin. The pair tests and the split can leave both of them out.
#include <tbb/parallel_invoke.h>
#include <tbb/parallel_sort.h>

#include <atomic>

#include "closed/box_bits.h"
#include "closed/passes.h"

namespace korvan::closed {

namespace {

// A triangle's corners sorted (equal for the same points in either order), and from the
// smallest keeping its turn, with its index.
struct Keyed {
    std::array<int32_t, 3> points;
    Corners turned;
    int32_t triangle;
};

// The triangles in [begin, end) whose corners `other` all marks, keyed and sorted by their
// points.
std::vector<Keyed> keyedWithin(const WeldedView& w, int32_t begin, int32_t end,
                               const std::vector<char>& other) {
    const std::vector<int32_t> found =
        indicesWhere(static_cast<size_t>(end - begin), [&](size_t i) {
            const Corners& c = w.tris[static_cast<size_t>(begin) + i];
            return other[static_cast<size_t>(c[0])] && other[static_cast<size_t>(c[1])] &&
                   other[static_cast<size_t>(c[2])];
        });
    std::vector<Keyed> out(found.size());
    for (size_t k = 0; k < found.size(); ++k) {
        const int32_t t = begin + found[k];
        Corners c = w.tris[static_cast<size_t>(t)];
        std::rotate(c.begin(), std::min_element(c.begin(), c.end()), c.end());
        std::array<int32_t, 3> p = c;
        std::sort(p.begin(), p.end());
        out[k] = {p, c, t};
    }
    tbb::parallel_sort(out.begin(), out.end(), [](const Keyed& x, const Keyed& y) {
        return std::pair(x.points, x.triangle) < std::pair(y.points, y.triangle);
    });
    return out;
}

// Whether the entry at k has the same points as a neighbour in its list.
bool repeated(const std::vector<Keyed>& list, size_t k) {
    const auto& p = list[k].points;
    return (k > 0 && list[k - 1].points == p) || (k + 1 < list.size() && list[k + 1].points == p);
}

}  // namespace

std::vector<int8_t> twinSides(const WeldedView& w) {
    const auto n = static_cast<int32_t>(w.tris.size());
    if (w.firstOther == 0 || w.firstOther == n) {
        return {};
    }
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
    std::vector<Keyed> side[2];
    tbb::parallel_invoke([&] { side[0] = keyedWithin(w, 0, w.firstOther, uses[1]); },
                         [&] { side[1] = keyedWithin(w, w.firstOther, n, uses[0]); });
    std::vector<int8_t> twin;
    size_t i = 0, j = 0;
    while (i < side[0].size() && j < side[1].size()) {
        const auto &a = side[0][i].points, &b = side[1][j].points;
        if (a < b) {
            ++i;
        } else if (b < a) {
            ++j;
        } else {
            // A triangle repeated within its own operand (two faces of a flat pocket) is left
            // to the pair tests.
            if (!repeated(side[0], i) && !repeated(side[1], j)) {
                if (twin.empty()) {
                    twin.assign(static_cast<size_t>(n), 0);
                }
                const int8_t s = side[0][i].turned == side[1][j].turned ? 1 : -1;
                twin[static_cast<size_t>(side[0][i].triangle)] = s;
                twin[static_cast<size_t>(side[1][j].triangle)] = s;
            }
            ++i;
            ++j;
        }
    }
    return twin;
}

}  // namespace korvan::closed
