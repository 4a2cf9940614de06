// Candidate pairs of triangles whose boxes meet, one from each operand.
#include <tbb/blocked_range.h>
#include <tbb/enumerable_thread_specific.h>
#include <tbb/parallel_for.h>
#include <tbb/parallel_reduce.h>
#include <tbb/parallel_sort.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <cmath>
#include <optional>
#include <utility>
#include <vector>

#include "closed/passes.h"

namespace korvan::closed {
namespace {

// The coarse grid of keepNearOther: cells of this many mean triangle sizes, and at most this
// many cells.
constexpr double kCoarseSides = 8.0;
constexpr int64_t kCoarseCells = int64_t{1} << 21;

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

// Cubic cells over `region`, `cell` wide, doubled until `fits(dim)` holds for the number of
// cells per axis. Any monotone rule serves, as long as the grid and the lookups share it.
struct CellGrid {
    Box region;
    std::array<int64_t, 3> dim{};
    double perCell = 1.0;

    template <class Fits>
    CellGrid(const Box& over, double cell, const Fits& fits) : region(over) {
        for (;;) {
            for (int i = 0; i < 3; ++i) {
                dim[static_cast<size_t>(i)] = std::max<int64_t>(
                    static_cast<int64_t>(std::ceil((region.hi[i] - region.lo[i]) / cell)), 1);
            }
            if (fits(dim)) {
                break;
            }
            cell *= 2.0;
        }
        perCell = 1.0 / cell;
    }
    int64_t cellOf(int i, double v) const {
        // Clamped before the conversion, which then rounds down as floor would.
        const double c = std::clamp((v - region.lo[i]) * perCell, 0.0,
                                    static_cast<double>(dim[static_cast<size_t>(i)] - 1));
        return static_cast<int64_t>(c);
    }
    int64_t index(int64_t x, int64_t y, int64_t z) const { return (z * dim[1] + y) * dim[0] + x; }
    int64_t cells() const { return dim[0] * dim[1] * dim[2]; }
};

// Triangles in [begin, end) whose box meets `around`, in index order, and the box of them all;
// none that `leaveOut` marks. Min and max do not depend on the order they are taken in, so the
// split into ranges does not change the box.
std::vector<int32_t> trianglesNear(const WeldedView& w, int32_t begin, int32_t end,
                                   const Box& around, Box& reach,
                                   const std::vector<int8_t>* leaveOut) {
    std::vector<char> near(static_cast<size_t>(end - begin), 0);
    reach = tbb::parallel_reduce(
        tbb::blocked_range<int32_t>(begin, end, 4096), emptyBox(),
        [&](const tbb::blocked_range<int32_t>& r, Box acc) {
            for (int32_t t = r.begin(); t < r.end(); ++t) {
                if (leaveOut != nullptr && (*leaveOut)[static_cast<size_t>(t)] != 0) {
                    continue;
                }
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

// A triangle's corners and plane, for the separation test: the cross product of its edges
// from corner 0, and the sums of the magnitudes of each component's two products.
struct Plane {
    Point3 corner[3];
    double n[3], m[3];
};

Plane planeOf(const WeldedView& w, int32_t t) {
    Plane p;
    for (int k = 0; k < 3; ++k) {
        p.corner[k] = w.points[static_cast<size_t>(w.tris[static_cast<size_t>(t)][k])];
    }
    const Point3* c = p.corner;
    const double ux = c[1].x - c[0].x, uy = c[1].y - c[0].y, uz = c[1].z - c[0].z;
    const double vx = c[2].x - c[0].x, vy = c[2].y - c[0].y, vz = c[2].z - c[0].z;
    p.n[0] = uy * vz - uz * vy;
    p.n[1] = uz * vx - ux * vz;
    p.n[2] = ux * vy - uy * vx;
    p.m[0] = std::abs(uy * vz) + std::abs(uz * vy);
    p.m[1] = std::abs(uz * vx) + std::abs(ux * vz);
    p.m[2] = std::abs(ux * vy) + std::abs(uy * vx);
    return p;
}

// Whether all of u's corners lie strictly on one side of t's plane, decided in double with an
// error bound. Corners are floats, so differences of them are exact; the bound covers the
// rounding of the cross product and of the dot products.
bool separates(const Plane& t, const Plane& u) {
    int above = 0, below = 0;
    for (int k = 0; k < 3; ++k) {
        const double dx = u.corner[k].x - t.corner[0].x, dy = u.corner[k].y - t.corner[0].y,
                     dz = u.corner[k].z - t.corner[0].z;
        const double s = t.n[0] * dx + t.n[1] * dy + t.n[2] * dz;
        const double bound = 1e-13 * ((t.m[0] + std::abs(t.n[0])) * std::abs(dx) +
                                      (t.m[1] + std::abs(t.n[1])) * std::abs(dy) +
                                      (t.m[2] + std::abs(t.n[2])) * std::abs(dz));
        above += s > bound ? 1 : 0;
        below += s < -bound ? 1 : 0;
    }
    return above == 3 || below == 3;
}

// False only where one triangle lies strictly on one side of the other's plane, so that the
// exact test is left the pairs that may touch.
bool mayTouch(const Plane& a, const Plane& b) {
    return !separates(a, b) && !separates(b, a);
}

// The boxes of each side's triangles, and of those only the ones whose boxes reach a cell of a
// coarse grid that a box of the other side reaches too. Two surfaces meet along curves, and
// most of what lies in their shared region comes nowhere near the other; finer tests then see
// only what does. Two boxes that meet both reach the cell of a point they share, so no pair is
// lost. `reach` becomes the box of what is kept; false where a side keeps nothing.
bool keepNearOther(const WeldedView& w, std::vector<int32_t> (&side)[2],
                   std::vector<Box> (&boxes)[2], Box (&reach)[2]) {
    Box region;
    for (int i = 0; i < 3; ++i) {
        region.lo[i] = std::max(reach[0].lo[i], reach[1].lo[i]);
        region.hi[i] = std::min(reach[0].hi[i], reach[1].hi[i]);
        if (region.lo[i] > region.hi[i]) {
            return false;
        }
    }
    // The cells' size from the boxes of a sample: it only sets how much is kept.
    double sizeSum = 0;
    int64_t sampled = 0;
    for (const std::vector<int32_t>& tris : side) {
        const size_t step = std::max<size_t>(tris.size() / 4096, 1);
        for (size_t i = 0; i < tris.size(); i += step) {
            const Box b = boxOf(w, tris[i]);
            sizeSum += std::max({b.hi[0] - b.lo[0], b.hi[1] - b.lo[1], b.hi[2] - b.lo[2]});
            ++sampled;
        }
    }
    const CellGrid g(
        region, std::max(kCoarseSides * sizeSum / static_cast<double>(sampled), 1e-30),
        [](const std::array<int64_t, 3>& d) { return d[0] * d[1] * d[2] <= kCoarseCells; });
    // Calls f(cell) for each cell that box b reaches until f returns true; whether one did.
    const auto anyCell = [&](const Box& b, const auto& f) {
        for (int64_t z = g.cellOf(2, b.lo[2]); z <= g.cellOf(2, b.hi[2]); ++z) {
            for (int64_t y = g.cellOf(1, b.lo[1]); y <= g.cellOf(1, b.hi[1]); ++y) {
                for (int64_t x = g.cellOf(0, b.lo[0]); x <= g.cellOf(0, b.hi[0]); ++x) {
                    if (f(static_cast<size_t>(g.index(x, y, z)))) {
                        return true;
                    }
                }
            }
        }
        return false;
    };
    const auto cells = static_cast<size_t>(g.cells());
    std::vector<char> reachedBy[2] = {std::vector<char>(cells, 0), std::vector<char>(cells, 0)};
    for (int s = 0; s < 2; ++s) {
        boxes[s].resize(side[s].size());
        tbb::parallel_for(tbb::blocked_range<size_t>(0, side[s].size(), 4096),
                          [&](const tbb::blocked_range<size_t>& r) {
                              for (size_t i = r.begin(); i < r.end(); ++i) {
                                  boxes[s][i] = boxOf(w, side[s][i]);
                                  (void)anyCell(boxes[s][i], [&](size_t c) {
                                      // Read first: neighbours mark the same few cells, and
                                      // writes would pass their lines between the cores.
                                      std::atomic_ref<char> mark(reachedBy[s][c]);
                                      if (mark.load(std::memory_order_relaxed) == 0) {
                                          mark.store(1, std::memory_order_relaxed);
                                      }
                                      return false;
                                  });
                              }
                          });
    }
    for (int s = 0; s < 2; ++s) {
        std::vector<char> keep(boxes[s].size(), 0);
        tbb::parallel_for(tbb::blocked_range<size_t>(0, boxes[s].size(), 4096),
                          [&](const tbb::blocked_range<size_t>& r) {
                              for (size_t i = r.begin(); i < r.end(); ++i) {
                                  keep[i] = anyCell(boxes[s][i], [&](size_t c) {
                                      return reachedBy[1 - s][c] != 0;
                                  });
                              }
                          });
        size_t kept = 0;
        reach[s] = emptyBox();
        for (size_t i = 0; i < keep.size(); ++i) {
            if (keep[i]) {
                grow(reach[s], boxes[s][i]);
                side[s][kept] = side[s][i];
                boxes[s][kept] = boxes[s][i];
                ++kept;
            }
        }
        side[s].resize(kept);
        boxes[s].resize(kept);
        if (kept == 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

Candidates candidatePairs(const WeldedView& w, const StopToken& stop,
                          const std::vector<int8_t>* leaveOut) {
    const auto nt = static_cast<int32_t>(w.tris.size());
    Candidates found;
    if (w.firstOther == 0 || w.firstOther == nt) {
        return found;
    }
    const Box everything{{-HUGE_VAL, -HUGE_VAL, -HUGE_VAL}, {HUGE_VAL, HUGE_VAL, HUGE_VAL}};
    Box reach[2];
    (void)trianglesNear(w, w.firstOther, nt, everything, reach[1], leaveOut);
    std::vector<int32_t> side[2];
    side[0] = trianglesNear(w, 0, w.firstOther, reach[1], reach[0], leaveOut);
    if (side[0].empty()) {
        return found;
    }
    stop.check();
    side[1] = trianglesNear(w, w.firstOther, nt, reach[0], reach[1], leaveOut);
    if (side[1].empty()) {
        return found;
    }
    stop.check();
    std::vector<Box> boxes[2];
    if (!keepNearOther(w, side, boxes, reach)) {
        return found;
    }
    stop.check();
    Box region;
    for (int i = 0; i < 3; ++i) {
        region.lo[i] = std::max(reach[0].lo[i], reach[1].lo[i]);
        region.hi[i] = std::min(reach[0].hi[i], reach[1].hi[i]);
    }
    double sizeSum = 0;
    for (int s = 0; s < 2; ++s) {
        for (const Box& b : boxes[s]) {
            sizeSum += std::max({b.hi[0] - b.lo[0], b.hi[1] - b.lo[1], b.hi[2] - b.lo[2]});
        }
    }
    const double members = static_cast<double>(side[0].size() + side[1].size());
    const CellGrid g(region, std::max(2.0 * sizeSum / members, 1e-30),
                     [](const std::array<int64_t, 3>& d) {
                         return d[0] <= (1 << 20) && d[1] <= (1 << 20) && d[2] <= (1 << 20);
                     });
    const auto cellOf = [&](int i, double v) { return g.cellOf(i, v); };
    const auto index = [&](int64_t x, int64_t y, int64_t z) { return g.index(x, y, z); };
    const int small = side[0].size() <= side[1].size() ? 0 : 1;
    const std::vector<int32_t>& few = side[small];
    const std::vector<Box>& fewBoxes = boxes[small];
    const auto forCells = [&](const Box& b, const auto& f) {
        for (int64_t z = cellOf(2, b.lo[2]); z <= cellOf(2, b.hi[2]); ++z) {
            for (int64_t y = cellOf(1, b.lo[1]); y <= cellOf(1, b.hi[1]); ++y) {
                for (int64_t x = cellOf(0, b.lo[0]); x <= cellOf(0, b.hi[0]); ++x) {
                    f(index(x, y, z));
                }
            }
        }
    };
    // The smaller side's (cell, member) entries, each member's in a row, counted first so that
    // they are written in parallel.
    std::vector<int64_t> firstEntry(few.size() + 1, 0);
    tbb::parallel_for(tbb::blocked_range<size_t>(0, few.size(), 4096),
                      [&](const tbb::blocked_range<size_t>& r) {
                          for (size_t n = r.begin(); n < r.end(); ++n) {
                              int64_t cells = 0;
                              forCells(fewBoxes[n], [&](int64_t) { ++cells; });
                              firstEntry[n + 1] = cells;
                          }
                      });
    for (size_t n = 1; n < firstEntry.size(); ++n) {
        firstEntry[n] += firstEntry[n - 1];
    }
    std::vector<std::pair<int64_t, int32_t>> grid(static_cast<size_t>(firstEntry.back()));
    tbb::parallel_for(tbb::blocked_range<size_t>(0, few.size(), 4096),
                      [&](const tbb::blocked_range<size_t>& r) {
                          for (size_t n = r.begin(); n < r.end(); ++n) {
                              auto at = static_cast<size_t>(firstEntry[n]);
                              forCells(fewBoxes[n], [&](int64_t c) {
                                  grid[at++] = {c, static_cast<int32_t>(n)};
                              });
                          }
                      });
    stop.check();
    // The smaller side's members of each cell, in increasing order, each with its box, so
    // that a cell's tests read one run of memory; box corners are floats, as the points are.
    // A dense table of cells finds a cell's run where there are few enough cells, else a
    // binary search of the sorted (cell, member) pairs.
    struct Item {
        float lo[3], hi[3];
        int32_t member;
    };
    stop.check();
    const int64_t cellCount = g.cells();
    const bool dense = cellCount <= (int64_t{1} << 22);
    std::vector<int32_t> cellStart;
    std::vector<int32_t> order(grid.size());
    if (dense) {
        cellStart.assign(static_cast<size_t>(cellCount) + 1, 0);
        for (const auto& [c, n] : grid) {
            ++cellStart[static_cast<size_t>(c) + 1];
        }
        for (size_t c = 1; c < cellStart.size(); ++c) {
            cellStart[c] += cellStart[c - 1];
        }
        std::vector<int32_t> fill(cellStart.begin(), cellStart.end() - 1);
        for (const auto& [c, n] : grid) {
            order[static_cast<size_t>(fill[static_cast<size_t>(c)]++)] = n;
        }
    } else {
        tbb::parallel_sort(grid.begin(), grid.end());
        for (size_t k = 0; k < grid.size(); ++k) {
            order[k] = grid[k].second;
        }
    }
    std::vector<Item> items(order.size());
    tbb::parallel_for(tbb::blocked_range<size_t>(0, order.size(), 4096),
                      [&](const tbb::blocked_range<size_t>& r) {
                          for (size_t k = r.begin(); k < r.end(); ++k) {
                              const Box& b = fewBoxes[static_cast<size_t>(order[k])];
                              Item& item = items[k];
                              for (int i = 0; i < 3; ++i) {
                                  item.lo[i] = static_cast<float>(b.lo[i]);
                                  item.hi[i] = static_cast<float>(b.hi[i]);
                              }
                              item.member = order[k];
                          }
                      });
    // The run of items in cell c.
    const auto itemsIn = [&](int64_t c) {
        size_t first = 0, last = 0;
        if (dense) {
            first = static_cast<size_t>(cellStart[static_cast<size_t>(c)]);
            last = static_cast<size_t>(cellStart[static_cast<size_t>(c) + 1]);
        } else {
            const auto at = std::lower_bound(grid.begin(), grid.end(),
                                             std::pair<int64_t, int32_t>(c, INT32_MIN));
            first = static_cast<size_t>(at - grid.begin());
            for (last = first; last < grid.size() && grid[last].first == c; ++last) {
            }
        }
        return std::pair<const Item*, const Item*>(items.data() + first, items.data() + last);
    };
    const std::vector<int32_t>& large = side[1 - small];
    const std::vector<Box>& largeBoxes = boxes[1 - small];
    // Triangles of pairs whose boxes meet, whether or not a plane then separates them: the
    // exact tests number the edges of all of them.
    std::vector<char> involved(static_cast<size_t>(nt), 0);
    const auto involve = [&](int32_t t) {
        std::atomic_ref<char>(involved[static_cast<size_t>(t)]).store(1, std::memory_order_relaxed);
    };
    tbb::enumerable_thread_specific<std::vector<std::pair<int32_t, int32_t>>> shares;
    tbb::parallel_for(
        tbb::blocked_range<size_t>(0, large.size(), 1024),
        [&](const tbb::blocked_range<size_t>& r) {
            stop.check();
            auto& out = shares.local();
            for (size_t i = r.begin(); i < r.end(); ++i) {
                const int32_t u = large[i];
                const Box& bu = largeBoxes[i];
                std::optional<Plane> pu;  // made at the first box it meets
                for (int64_t z = cellOf(2, bu.lo[2]); z <= cellOf(2, bu.hi[2]); ++z) {
                    for (int64_t y = cellOf(1, bu.lo[1]); y <= cellOf(1, bu.hi[1]); ++y) {
                        for (int64_t x = cellOf(0, bu.lo[0]); x <= cellOf(0, bu.hi[0]); ++x) {
                            const auto [first, last] = itemsIn(index(x, y, z));
                            for (const Item* it = first; it != last; ++it) {
                                if (bu.hi[0] < it->lo[0] || it->hi[0] < bu.lo[0] ||
                                    bu.hi[1] < it->lo[1] || it->hi[1] < bu.lo[1] ||
                                    bu.hi[2] < it->lo[2] || it->hi[2] < bu.lo[2]) {
                                    continue;
                                }
                                // Reported by the cell of the overlap's low corner only.
                                if (cellOf(0, std::max<double>(bu.lo[0], it->lo[0])) != x ||
                                    cellOf(1, std::max<double>(bu.lo[1], it->lo[1])) != y ||
                                    cellOf(2, std::max<double>(bu.lo[2], it->lo[2])) != z) {
                                    continue;
                                }
                                const int32_t v = few[static_cast<size_t>(it->member)];
                                involve(u);
                                involve(v);
                                // Two triangles in one plane of constant coordinate (boxes
                                // flat on that axis, at one value) are never on two sides of
                                // a plane: told without their corners.
                                bool touch = false;
                                for (int k = 0; k < 3; ++k) {
                                    touch =
                                        touch || (bu.lo[k] == bu.hi[k] && it->lo[k] == bu.lo[k] &&
                                                  it->hi[k] == bu.lo[k]);
                                }
                                if (!touch) {
                                    if (!pu) {
                                        pu = planeOf(w, u);
                                    }
                                    // The smaller side's planes are made where a box meets
                                    // theirs: few of its triangles do.
                                    touch = mayTouch(*pu, planeOf(w, v));
                                }
                                if (touch) {
                                    out.emplace_back(small == 0 ? v : u, small == 0 ? u : v);
                                }
                            }
                        }
                    }
                }
            }
        });
    for (const auto& part : shares) {
        found.pairs.insert(found.pairs.end(), part.begin(), part.end());
    }
    // The threads' shares arrive in any order; sorting makes the list the same for any count.
    // Each pair is found once, so nothing is dropped.
    (void)groupByFirst(found.pairs, static_cast<size_t>(w.firstOther));
    for (int32_t t = 0; t < nt; ++t) {
        if (involved[static_cast<size_t>(t)]) {
            found.involved.push_back(t);
        }
    }
    return found;
}

}  // namespace korvan::closed
