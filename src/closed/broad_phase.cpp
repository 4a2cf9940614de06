// Candidate pairs of triangles whose boxes meet, one from each operand.
#include <tbb/enumerable_thread_specific.h>
#include <tbb/parallel_reduce.h>
#include <tbb/parallel_sort.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <cmath>
#include <utility>
#include <vector>

#include "closed/passes.h"

namespace korvan::closed {
namespace {

Box boxOf(const WeldedView& w, int32_t t) {
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
std::vector<int32_t> trianglesNear(const WeldedView& w, int32_t begin, int32_t end,
                                   const Box& around, Box& reach) {
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

// False only where one triangle lies strictly on one side of the other's plane, decided in
// double with an error bound, so that the exact test is left the pairs that may touch. Corners
// are floats, so differences of them are exact; the bound covers the rounding of the cross
// product and of the dot products.
bool mayTouch(const Point3* a, const Point3* b) {
    for (int side = 0; side < 2; ++side) {
        const Point3* t = side == 0 ? a : b;
        const Point3* u = side == 0 ? b : a;
        const double ux = t[1].x - t[0].x, uy = t[1].y - t[0].y, uz = t[1].z - t[0].z;
        const double vx = t[2].x - t[0].x, vy = t[2].y - t[0].y, vz = t[2].z - t[0].z;
        const double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
        const double mx = std::abs(uy * vz) + std::abs(uz * vy);
        const double my = std::abs(uz * vx) + std::abs(ux * vz);
        const double mz = std::abs(ux * vy) + std::abs(uy * vx);
        int above = 0, below = 0;
        for (int k = 0; k < 3; ++k) {
            const double dx = u[k].x - t[0].x, dy = u[k].y - t[0].y, dz = u[k].z - t[0].z;
            const double s = nx * dx + ny * dy + nz * dz;
            const double bound =
                1e-13 * ((mx + std::abs(nx)) * std::abs(dx) + (my + std::abs(ny)) * std::abs(dy) +
                         (mz + std::abs(nz)) * std::abs(dz));
            above += s > bound ? 1 : 0;
            below += s < -bound ? 1 : 0;
        }
        if (above == 3 || below == 3) {
            return false;
        }
    }
    return true;
}

}  // namespace

Candidates candidatePairs(const WeldedView& w) {
    const auto nt = static_cast<int32_t>(w.tris.size());
    Candidates found;
    if (w.firstOther == 0 || w.firstOther == nt) {
        return found;
    }
    const Box everything{{-HUGE_VAL, -HUGE_VAL, -HUGE_VAL}, {HUGE_VAL, HUGE_VAL, HUGE_VAL}};
    Box reach[2];
    (void)trianglesNear(w, w.firstOther, nt, everything, reach[1]);
    std::vector<int32_t> side[2];
    side[0] = trianglesNear(w, 0, w.firstOther, reach[1], reach[0]);
    if (side[0].empty()) {
        return found;
    }
    side[1] = trianglesNear(w, w.firstOther, nt, reach[0], reach[1]);
    if (side[1].empty()) {
        return found;
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
            return found;
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
    // The smaller side's members of each cell: cell c's are cellItems[cellStart[c] ..
    // cellStart[c + 1]), in increasing order. Counted into a dense table of cells where there
    // are few enough cells, else sorted (cell, member) pairs looked up by binary search.
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
    const int64_t cellCount = dim[0] * dim[1] * dim[2];
    const bool dense = cellCount <= (int64_t{1} << 22);
    std::vector<int32_t> cellStart, cellItems;
    if (dense) {
        cellStart.assign(static_cast<size_t>(cellCount) + 1, 0);
        for (const auto& [c, n] : grid) {
            ++cellStart[static_cast<size_t>(c) + 1];
        }
        for (size_t c = 1; c < cellStart.size(); ++c) {
            cellStart[c] += cellStart[c - 1];
        }
        cellItems.resize(grid.size());
        std::vector<int32_t> fill(cellStart.begin(), cellStart.end() - 1);
        for (const auto& [c, n] : grid) {
            cellItems[static_cast<size_t>(fill[static_cast<size_t>(c)]++)] = n;
        }
    } else {
        tbb::parallel_sort(grid.begin(), grid.end());
    }
    // Calls f(member) for each of the smaller side's members in cell c.
    const auto forEachIn = [&](int64_t c, const auto& f) {
        if (dense) {
            for (int32_t k = cellStart[static_cast<size_t>(c)];
                 k < cellStart[static_cast<size_t>(c) + 1]; ++k) {
                f(cellItems[static_cast<size_t>(k)]);
            }
            return;
        }
        auto it =
            std::lower_bound(grid.begin(), grid.end(), std::pair<int64_t, int32_t>(c, INT32_MIN));
        for (; it != grid.end() && it->first == c; ++it) {
            f(it->second);
        }
    };
    const std::vector<int32_t>& large = side[1 - small];
    // Triangles of pairs whose boxes meet, whether or not a plane then separates them: the
    // exact tests number the edges of all of them.
    std::vector<char> involved(static_cast<size_t>(nt), 0);
    const auto involve = [&](int32_t t) {
        std::atomic_ref<char>(involved[static_cast<size_t>(t)]).store(1, std::memory_order_relaxed);
    };
    const auto corners = [&](int32_t t, Point3* p) {
        for (int k = 0; k < 3; ++k) {
            p[k] = w.points[static_cast<size_t>(w.tris[static_cast<size_t>(t)][k])];
        }
    };
    tbb::enumerable_thread_specific<std::vector<std::pair<int32_t, int32_t>>> shares;
    tbb::parallel_for(
        tbb::blocked_range<size_t>(0, large.size(), 1024),
        [&](const tbb::blocked_range<size_t>& r) {
            auto& out = shares.local();
            Point3 pu[3], pv[3];
            for (size_t i = r.begin(); i < r.end(); ++i) {
                const int32_t u = large[i];
                const Box bu = boxOf(w, u);
                corners(u, pu);
                for (int64_t z = cellOf(2, bu.lo[2]); z <= cellOf(2, bu.hi[2]); ++z) {
                    for (int64_t y = cellOf(1, bu.lo[1]); y <= cellOf(1, bu.hi[1]); ++y) {
                        for (int64_t x = cellOf(0, bu.lo[0]); x <= cellOf(0, bu.hi[0]); ++x) {
                            forEachIn(index(x, y, z), [&](int32_t member) {
                                const Box& bv = fewBoxes[static_cast<size_t>(member)];
                                if (!overlaps(bu, bv)) {
                                    return;
                                }
                                if (cellOf(0, std::max(bu.lo[0], bv.lo[0])) == x &&
                                    cellOf(1, std::max(bu.lo[1], bv.lo[1])) == y &&
                                    cellOf(2, std::max(bu.lo[2], bv.lo[2])) == z) {
                                    const int32_t v = few[static_cast<size_t>(member)];
                                    involve(u);
                                    involve(v);
                                    corners(v, pv);
                                    if (mayTouch(pu, pv)) {
                                        out.emplace_back(small == 0 ? v : u, small == 0 ? u : v);
                                    }
                                }
                            });
                        }
                    }
                }
            }
        });
    for (const auto& part : shares) {
        found.pairs.insert(found.pairs.end(), part.begin(), part.end());
    }
    // The threads' shares arrive in any order; sorting makes the list the same for any count.
    tbb::parallel_sort(found.pairs.begin(), found.pairs.end());
    for (int32_t t = 0; t < nt; ++t) {
        if (involved[static_cast<size_t>(t)]) {
            found.involved.push_back(t);
        }
    }
    return found;
}

}  // namespace korvan::closed
