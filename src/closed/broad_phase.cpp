// Candidate pairs of triangles whose boxes meet, one from each operand.
#include <tbb/enumerable_thread_specific.h>
#include <tbb/parallel_reduce.h>
#include <tbb/parallel_sort.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <utility>
#include <vector>

#include "closed/passes.h"

namespace korvan::closed {
namespace {

Box boxOf(const Welded& w, int32_t t) {
    const Corners& c = w.tris[t];
    Box b{{w.points[c[0]].x, w.points[c[0]].y, w.points[c[0]].z},
          {w.points[c[0]].x, w.points[c[0]].y, w.points[c[0]].z}};
    for (int k = 1; k < 3; ++k) {
        const Point3& p = w.points[c[k]];
        const double v[3] = {p.x, p.y, p.z};
        for (int i = 0; i < 3; ++i) {
            b.lo[i] = std::min(b.lo[i], v[i]);
            b.hi[i] = std::max(b.hi[i], v[i]);
        }
    }
    return b;
}

bool overlaps(const Box& a, const Box& b) {
    for (int i = 0; i < 3; ++i) {
        if (a.hi[i] < b.lo[i] || b.hi[i] < a.lo[i]) {
            return false;
        }
    }
    return true;
}

// Triangles in [begin, end) whose box meets `around`, in index order, and the box of them all.
// Min and max do not depend on the order they are taken in, so the split into ranges does not
// change the box.
std::vector<int32_t> trianglesNear(const Welded& w, int32_t begin, int32_t end, const Box& around,
                                   Box& reach) {
    std::vector<char> near(static_cast<size_t>(end - begin), 0);
    reach = tbb::parallel_reduce(
        tbb::blocked_range<int32_t>(begin, end, 4096), emptyBox(),
        [&](const tbb::blocked_range<int32_t>& r, Box acc) {
            for (int32_t t = r.begin(); t < r.end(); ++t) {
                const Box b = boxOf(w, t);
                if (overlaps(b, around)) {
                    near[static_cast<size_t>(t - begin)] = 1;
                    grow(acc, b);
                }
            }
            return acc;
        },
        [](Box x, const Box& y) {
            grow(x, y);
            return x;
        });
    std::vector<int32_t> out;
    for (int32_t t = begin; t < end; ++t) {
        if (near[static_cast<size_t>(t - begin)]) {
            out.push_back(t);
        }
    }
    return out;
}

}  // namespace

std::vector<std::pair<int32_t, int32_t>> candidatePairs(const Welded& w) {
    const auto nt = static_cast<int32_t>(w.tris.size());
    std::vector<std::pair<int32_t, int32_t>> pairs;
    if (w.firstOther == 0 || w.firstOther == nt) {
        return pairs;
    }
    const Box everything{{-HUGE_VAL, -HUGE_VAL, -HUGE_VAL}, {HUGE_VAL, HUGE_VAL, HUGE_VAL}};
    Box reach[2];
    (void)trianglesNear(w, w.firstOther, nt, everything, reach[1]);
    std::vector<int32_t> side[2];
    side[0] = trianglesNear(w, 0, w.firstOther, reach[1], reach[0]);
    if (side[0].empty()) {
        return pairs;
    }
    side[1] = trianglesNear(w, w.firstOther, nt, reach[0], reach[1]);
    if (side[1].empty()) {
        return pairs;
    }
    // Once more for object 1, now against the object 2 triangles that are left.
    {
        std::vector<int32_t> kept;
        Box again = emptyBox();
        for (int32_t t : side[0]) {
            const Box b = boxOf(w, t);
            if (overlaps(b, reach[1])) {
                kept.push_back(t);
                grow(again, b);
            }
        }
        side[0] = std::move(kept);
        reach[0] = again;
        if (side[0].empty()) {
            return pairs;
        }
    }
    Box region;
    for (int i = 0; i < 3; ++i) {
        region.lo[i] = std::max(reach[0].lo[i], reach[1].lo[i]);
        region.hi[i] = std::min(reach[0].hi[i], reach[1].hi[i]);
    }
    double sizeSum = 0;
    for (int s = 0; s < 2; ++s) {
        for (int32_t t : side[s]) {
            const Box b = boxOf(w, t);
            sizeSum += std::max({b.hi[0] - b.lo[0], b.hi[1] - b.lo[1], b.hi[2] - b.lo[2]});
        }
    }
    const double members = static_cast<double>(side[0].size() + side[1].size());
    double cell = std::max(2.0 * sizeSum / members, 1e-30);
    std::array<int64_t, 3> dim{};
    for (;;) {
        for (int i = 0; i < 3; ++i) {
            dim[i] = std::max<int64_t>(
                static_cast<int64_t>(std::ceil((region.hi[i] - region.lo[i]) / cell)), 1);
        }
        if (dim[0] <= (1 << 20) && dim[1] <= (1 << 20) && dim[2] <= (1 << 20)) {
            break;
        }
        cell *= 2.0;
    }
    const auto cellOf = [&](int i, double v) {
        const auto c = static_cast<int64_t>(std::floor((v - region.lo[i]) / cell));
        return std::clamp<int64_t>(c, 0, dim[i] - 1);
    };
    const auto index = [&](int64_t x, int64_t y, int64_t z) {
        return (z * dim[1] + y) * dim[0] + x;
    };
    const int small = side[0].size() <= side[1].size() ? 0 : 1;
    // (cell, position in the smaller side's list) sorted by cell, and the boxes by position.
    const std::vector<int32_t>& few = side[small];
    std::vector<Box> fewBoxes(few.size());
    std::vector<std::pair<int64_t, int32_t>> grid;
    for (int32_t n = 0; n < static_cast<int32_t>(few.size()); ++n) {
        const Box b = fewBoxes[static_cast<size_t>(n)] = boxOf(w, few[static_cast<size_t>(n)]);
        for (int64_t z = cellOf(2, b.lo[2]); z <= cellOf(2, b.hi[2]); ++z) {
            for (int64_t y = cellOf(1, b.lo[1]); y <= cellOf(1, b.hi[1]); ++y) {
                for (int64_t x = cellOf(0, b.lo[0]); x <= cellOf(0, b.hi[0]); ++x) {
                    grid.emplace_back(index(x, y, z), n);
                }
            }
        }
    }
    tbb::parallel_sort(grid.begin(), grid.end());
    const std::vector<int32_t>& large = side[1 - small];
    tbb::enumerable_thread_specific<std::vector<std::pair<int32_t, int32_t>>> found;
    tbb::parallel_for(
        tbb::blocked_range<size_t>(0, large.size(), 1024),
        [&](const tbb::blocked_range<size_t>& r) {
            auto& out = found.local();
            for (size_t i = r.begin(); i < r.end(); ++i) {
                const int32_t u = large[i];
                const Box bu = boxOf(w, u);
                for (int64_t z = cellOf(2, bu.lo[2]); z <= cellOf(2, bu.hi[2]); ++z) {
                    for (int64_t y = cellOf(1, bu.lo[1]); y <= cellOf(1, bu.hi[1]); ++y) {
                        for (int64_t x = cellOf(0, bu.lo[0]); x <= cellOf(0, bu.hi[0]); ++x) {
                            const int64_t c = index(x, y, z);
                            auto it = std::lower_bound(grid.begin(), grid.end(),
                                                       std::pair<int64_t, int32_t>(c, INT32_MIN));
                            for (; it != grid.end() && it->first == c; ++it) {
                                const Box& bv = fewBoxes[static_cast<size_t>(it->second)];
                                if (!overlaps(bu, bv)) {
                                    continue;
                                }
                                if (cellOf(0, std::max(bu.lo[0], bv.lo[0])) == x &&
                                    cellOf(1, std::max(bu.lo[1], bv.lo[1])) == y &&
                                    cellOf(2, std::max(bu.lo[2], bv.lo[2])) == z) {
                                    const int32_t v = few[static_cast<size_t>(it->second)];
                                    out.emplace_back(small == 0 ? v : u, small == 0 ? u : v);
                                }
                            }
                        }
                    }
                }
            }
        });
    for (const auto& part : found) {
        pairs.insert(pairs.end(), part.begin(), part.end());
    }
    // The threads' shares arrive in any order; sorting makes the list the same for any count.
    tbb::parallel_sort(pairs.begin(), pairs.end());
    return pairs;
}

}  // namespace korvan::closed
