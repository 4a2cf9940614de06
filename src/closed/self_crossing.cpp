// Pairs of one operand's triangles that meet other than in what they share. The triangles are
// stored in the order of a grid's blocks and entered in every cell their box reaches. Pairs
// with a common corner are settled per vertex: where the triangles around a vertex form one
// plain fan, none of them meets another beyond what they share, and only other fans need their
// pairs tested. Pairs with nothing in common are tested once, in one cell both reach. Each
// pair's exact test is in triangle_pairs. A large operand first leaves out the inner triangles of
// its sheets (sheet_cells), which meet no triangle beyond what they share.
#include "closed/self_crossing.h"

#include <tbb/blocked_range.h>
#include <tbb/enumerable_thread_specific.h>
#include <tbb/parallel_for.h>
#include <tbb/parallel_reduce.h>
#include <tbb/parallel_sort.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "closed/sheet_cells.h"
#include "closed/triangle_pairs.h"

namespace korvan::closed {
namespace {

// The grid: cells of one size over the operand's box, addressed by integer coordinates.
struct Grid {
    std::array<double, 3> origin{};
    double perCell = 1.0;
    std::array<int64_t, 3> dim{};
    std::array<double, 3> top{};  // dim - 1

    // Clamped before the conversion, which then rounds down as floor would.
    int32_t cellOf(int i, double v) const {
        return static_cast<int32_t>(std::min(std::max((v - origin[i]) * perCell, 0.0), top[i]));
    }
};

// Cells are grouped into blocks of 8 x 8 x 8; an entry names a triangle and its cell in a block.
constexpr int kBlockShift = 3;
constexpr int32_t kBlockMask = (1 << kBlockShift) - 1;
constexpr int kCellBits = 3 * kBlockShift;  // a cell within its block
constexpr int kBlockCells = 1 << kCellBits;
constexpr uint16_t kOutside = 0xffff;

uint64_t entryOf(int32_t triangle, int32_t x, int32_t y, int32_t z) {
    return (static_cast<uint64_t>(triangle) << kCellBits) |
           static_cast<uint64_t>((x & kBlockMask) | (y & kBlockMask) << kBlockShift |
                                 (z & kBlockMask) << (2 * kBlockShift));
}

// An array whose values are each written before they are read: left uninitialised, its pages
// are first touched by the threads that fill it rather than by a pass that zeroes it.
template <typename T>
std::unique_ptr<T[]> unfilled(size_t n) {
    return std::make_unique_for_overwrite<T[]>(n);
}

// A triangle as stored in the order of the blocks: its corners, exact in float, and their ids.
struct Record {
    float p[3][3];
    Corners id;
    int8_t sign[3];  // exact signs of the normal's components
    int8_t fresh;    // 0: its pairs with other triangles that are not fresh are not counted
    int32_t sheet;   // its sheet's, or a number of its own: pairs in one sheet do not meet
    // Bit 3k + i: corner k's cell on axis i is one past that of the box's low corner, where
    // kFar is clear; where it is set, some corner lies farther.
    uint16_t cornerStep;
};

constexpr uint16_t kFar = 1 << 9;

// A float as an integer of the same order (for finite values, -0 taken as +0), so that box
// tests compare integers, which run several at once.
int32_t ordered(float f) {
    const auto i = std::bit_cast<int32_t>(f + 0.0f);
    return i ^ ((i >> 31) & 0x7fffffff);
}

// A triangle of the block being processed.
struct Local {
    int32_t lo[3], hi[3];  // its box, as ordered integers
    int32_t cellLo[3];     // the cell of the box's low corner
    Corners id;
    int8_t sign[3];          // exact signs of its normal's components
    int8_t fresh;            // as its record's
    int32_t sheet;           // as its record's
    uint16_t cornerCell[3];  // each corner's cell in the block, or kOutside
    int32_t record;
};

// Quarter of the plane that the direction with coordinate signs (sx, sy) points into,
// counter-clockwise from +x, each quarter holding its first axis direction.
int quadrant(int sx, int sy) {
    const int second = (sx <= 0) & (sy > 0);
    const int third = (sx < 0) & (sy <= 0);
    const int fourth = (sx >= 0) & (sy < 0);
    return second | third << 1 | fourth * 3;
}

// A corner of a triangle in the fan around a vertex: the triangle (the block's) and which of
// its corners the vertex is.
struct FanCorner {
    int32_t tri;
    int32_t corner;
};

// A block of the grid: its coordinates and its entries.
struct BlockRun {
    int32_t at[3];
    int64_t begin, count;
};

// A thread's buffers for one block at a time.
struct Worker {
    std::vector<uint64_t> entries;  // of the block, where they are made for it
    std::vector<Local> locals;
    std::vector<int32_t> localOfEntry, byCell, made;
    std::vector<Tri> tris;
    // Fans: the block's vertices in a small hash table, each with a list of its corners.
    struct Slot {
        int32_t vertex, group;
        uint32_t stamp;  // the block it was filled for
    };
    std::vector<Slot> slots;
    uint32_t stamp = 0;
    std::vector<int32_t> groupVertex, groupStart, groupFill, cornerGroup;
    std::vector<FanCorner> corners, fan;
    std::vector<int32_t> from, to;
    // A large fan's triangles: each as the cap of directions from the vertex that holds it.
    struct Cap {
        double centre[3];
        double cosRadius, sinRadius;
    };
    std::vector<Cap> caps;
    // A cell's triangles, as columns.
    std::vector<int32_t> lo[3], hi[3], id[3], starts, sheets, need, order;
};

// The pass over the blocks. A pair of triangles with a common corner is tested with the fan
// of its smallest common point id, and only where that fan is not plain; any other pair whose
// boxes meet is tested once, in the cell where between them the two boxes start on every
// axis.
struct Counter {
    const Record* records;
    const Grid& grid;
    int64_t limit;
    std::atomic<int64_t> found{0};
    std::atomic<bool> stop{false};

    // Counts one crossing; false once the limit is reached.
    bool add() {
        if (found.fetch_add(1, std::memory_order_relaxed) + 1 >= limit) {
            stop.store(true, std::memory_order_relaxed);
            return false;
        }
        return true;
    }

    // The exact form of the block's triangle i, made at its first use.
    const Tri& exact(Worker& wk, int32_t i) const {
        int32_t& at = wk.made[static_cast<size_t>(i)];
        if (at < 0) {
            const Local& l = wk.locals[static_cast<size_t>(i)];
            at = static_cast<int32_t>(wk.tris.size());
            wk.tris.push_back(makeTri(records[l.record].id, records[l.record].p, l.sign));
        }
        return wk.tris[static_cast<size_t>(at)];
    }

    void makeLocal(Local& l, int32_t j, const int32_t (&block)[3]) const {
        const Record& r = records[j];
        l.record = j;
        l.id = r.id;
        float lo[3], hi[3];
        for (int i = 0; i < 3; ++i) {
            lo[i] = std::min({r.p[0][i], r.p[1][i], r.p[2][i]});
            hi[i] = std::max({r.p[0][i], r.p[1][i], r.p[2][i]});
            l.lo[i] = ordered(lo[i]);
            l.hi[i] = ordered(hi[i]);
            l.cellLo[i] = grid.cellOf(i, lo[i]);
        }
        for (int k = 0; k < 3; ++k) {
            int32_t cell[3];
            bool inBlock = true;
            for (int i = 0; i < 3 && inBlock; ++i) {
                cell[i] = (r.cornerStep & kFar) != 0
                              ? grid.cellOf(i, r.p[k][i])
                              : l.cellLo[i] + ((r.cornerStep >> (3 * k + i)) & 1);
                inBlock = (cell[i] >> kBlockShift) == block[i];
            }
            l.cornerCell[k] =
                inBlock ? static_cast<uint16_t>((cell[0] & kBlockMask) |
                                                (cell[1] & kBlockMask) << kBlockShift |
                                                (cell[2] & kBlockMask) << (2 * kBlockShift))
                        : kOutside;
        }
        for (int i = 0; i < 3; ++i) {
            l.sign[i] = r.sign[i];
        }
        l.fresh = r.fresh;
        l.sheet = r.sheet;
    }

    // Whether the triangles around a vertex (all of them, as `fan`) form one plain fan: seen
    // along some axis each turns the same way, and their far edges close a loop that winds
    // once around the vertex. Then, seen along that axis, the angles at the vertex tile the
    // plane once: two triangles that share an edge from it meet only in that edge, others
    // only at the vertex, and so it is in space.
    bool plainFan(Worker& wk, const FanCorner* fan, int count) const {
        if (count < 3) {
            return false;
        }
        const auto local = [&](int k) -> const Local& {
            return wk.locals[static_cast<size_t>(fan[k].tri)];
        };
        wk.from.resize(static_cast<size_t>(count));
        wk.to.resize(static_cast<size_t>(count));
        int32_t* from = wk.from.data();
        int32_t* to = wk.to.data();
        for (int k = 0; k < count; ++k) {
            const Corners& id = local(k).id;
            from[k] = id[static_cast<size_t>((fan[k].corner + 1) % 3)];
            to[k] = id[static_cast<size_t>((fan[k].corner + 2) % 3)];
        }
        // Each far corner starts one far edge and ends one; for a small fan, `before` notes
        // the angle that ends where each starts.
        constexpr int kSmall = 16;
        int before[kSmall];
        if (count <= kSmall) {
            for (int k = 0; k < count; ++k) {
                int starts = 0, ends = 0, at = 0;
                for (int j = 0; j < count; ++j) {
                    starts += from[j] == from[k] ? 1 : 0;
                    const bool end = to[j] == from[k];
                    ends += end ? 1 : 0;
                    at = end ? j : at;
                }
                before[k] = at;
                if (starts != 1 || ends != 1) {
                    return false;
                }
            }
        } else {
            std::sort(from, from + count);
            std::sort(to, to + count);
            if (!std::equal(from, from + count, to) ||
                std::adjacent_find(from, from + count) != from + count) {
                return false;
            }
        }
        int axis = -1;
        int sign = 0;
        for (int i = 0; i < 3 && axis < 0; ++i) {
            sign = local(0).sign[i];
            bool same = sign != 0;
            for (int k = 1; k < count && same; ++k) {
                same = local(k).sign[i] == sign;
            }
            axis = same ? i : -1;
        }
        if (axis < 0) {
            return false;
        }
        // Each angle, under a half turn, steps over as many quarter boundaries as its ends'
        // quarters differ by; the loop winds once when the steps add up to four.
        const int u = axis == 2 ? 0 : axis + 1;
        const int w = axis == 0 ? 2 : axis - 1;
        const float* v = records[local(0).record].p[fan[0].corner];
        // Signs of differences of floats, exact without computing them.
        const auto quarter = [&](const float* q) {
            return quadrant((q[u] > v[u]) - (q[u] < v[u]), sign * ((q[w] > v[w]) - (q[w] < v[w])));
        };
        int steps = 0;
        if (count <= kSmall) {
            // An angle ends where the next starts: each far corner's quarter once.
            int starting[kSmall];
            for (int k = 0; k < count; ++k) {
                starting[k] = quarter(records[local(k).record].p[(fan[k].corner + 1) % 3]);
            }
            for (int k = 0; k < count; ++k) {
                steps += (starting[k] - starting[before[k]]) & 3;
            }
        } else {
            for (int k = 0; k < count; ++k) {
                const Record& r = records[local(k).record];
                const int c = fan[k].corner;
                steps += (quarter(r.p[(c + 2) % 3]) - quarter(r.p[(c + 1) % 3])) & 3;
            }
        }
        return steps == 4;
    }

    // For each triangle of the fan, the cap of directions (on the sphere around the vertex)
    // that holds its angle there: centred between the directions of its far corners, as wide
    // as half the angle between them. A triangle lies in the cone of its cap; two whose caps
    // are apart meet only at the vertex.
    void fanCaps(Worker& wk, const FanCorner* fan, int count) const {
        wk.caps.resize(static_cast<size_t>(count));
        for (int k = 0; k < count; ++k) {
            const Record& r = records[wk.locals[static_cast<size_t>(fan[k].tri)].record];
            const float* v = r.p[fan[k].corner];
            double dir[2][3];
            for (int e = 0; e < 2; ++e) {
                const float* q = r.p[(fan[k].corner + 1 + e) % 3];
                const double d[3] = {double{q[0]} - v[0], double{q[1]} - v[1], double{q[2]} - v[2]};
                const double length = std::hypot(d[0], d[1], d[2]);
                for (int i = 0; i < 3; ++i) {
                    dir[e][i] = d[i] / length;
                }
            }
            Worker::Cap& cap = wk.caps[static_cast<size_t>(k)];
            const double cosAngle = std::clamp(
                dir[0][0] * dir[1][0] + dir[0][1] * dir[1][1] + dir[0][2] * dir[1][2], -1.0, 1.0);
            const double mid[3] = {dir[0][0] + dir[1][0], dir[0][1] + dir[1][1],
                                   dir[0][2] + dir[1][2]};
            const double length = std::hypot(mid[0], mid[1], mid[2]);
            if (!(length > 1e-6)) {
                // Nearly a half turn: a cap that is apart from none.
                cap = Worker::Cap{{1, 0, 0}, -1, 0};
                continue;
            }
            cap = Worker::Cap{{mid[0] / length, mid[1] / length, mid[2] / length},
                              std::sqrt((1 + cosAngle) / 2),
                              std::sqrt((1 - cosAngle) / 2)};
        }
    }

    // Whether the caps are apart: their centres further apart than their radii together, by a
    // margin far above the rounding of the directions (a few units in the last place).
    static bool capsApart(const Worker::Cap& x, const Worker::Cap& y) {
        const double dot =
            x.centre[0] * y.centre[0] + x.centre[1] * y.centre[1] + x.centre[2] * y.centre[2];
        // Each radius is under a quarter turn, so the sum is under a half.
        const double cosSum = x.cosRadius * y.cosRadius - x.sinRadius * y.sinRadius;
        return dot < cosSum - 1e-9;
    }

    // The fans of the vertices in the block: all triangles at such a vertex have an entry in
    // its cell, so in this block, and no other block sees the vertex. Where a fan is not plain,
    // tests the pairs of its triangles with no smaller common corner. False once the limit is
    // reached.
    bool fans(Worker& wk) {
        const size_t count = wk.locals.size();
        // Three corners per triangle at most, with the table at most half full. Slots filled
        // for earlier blocks count as empty.
        const size_t need = std::bit_ceil(std::max<size_t>(6 * count, 16));
        if (wk.slots.size() < need || ++wk.stamp == 0) {
            wk.slots.assign(std::max(need, wk.slots.size()), Worker::Slot{0, 0, 0});
            wk.stamp = 1;
        }
        const size_t mask = wk.slots.size() - 1;
        const auto shift = static_cast<uint32_t>(32 - std::countr_zero(wk.slots.size()));
        // The corners in the block, each with its vertex's group; then by group.
        wk.groupVertex.clear();
        wk.groupStart.assign(1, 0);
        wk.cornerGroup.resize(3 * count);
        wk.corners.resize(3 * count);
        size_t corners = 0;
        for (size_t i = 0; i < count; ++i) {
            const Local& l = wk.locals[i];
            for (int k = 0; k < 3; ++k) {
                if (l.cornerCell[k] == kOutside) {
                    continue;
                }
                const int32_t v = l.id[static_cast<size_t>(k)];
                size_t at = (static_cast<uint32_t>(v) * 2654435761u) >> shift;
                while (wk.slots[at].stamp == wk.stamp && wk.slots[at].vertex != v) {
                    at = (at + 1) & mask;
                }
                Worker::Slot& slot = wk.slots[at];
                if (slot.stamp != wk.stamp) {
                    slot = {v, static_cast<int32_t>(wk.groupVertex.size()), wk.stamp};
                    wk.groupVertex.push_back(v);
                    wk.groupStart.push_back(0);
                }
                ++wk.groupStart[static_cast<size_t>(slot.group) + 1];
                wk.cornerGroup[corners] = slot.group;
                wk.corners[corners] = {static_cast<int32_t>(i), k};
                ++corners;
            }
        }
        const size_t groups = wk.groupVertex.size();
        for (size_t g = 1; g <= groups; ++g) {
            wk.groupStart[g] += wk.groupStart[g - 1];
        }
        wk.fan.resize(corners);
        wk.groupFill.assign(wk.groupStart.begin(), wk.groupStart.end() - 1);
        for (size_t c = 0; c < corners; ++c) {
            wk.fan[static_cast<size_t>(wk.groupFill[static_cast<size_t>(wk.cornerGroup[c])]++)] =
                wk.corners[c];
        }
        for (size_t g = 0; g < groups; ++g) {
            FanCorner* fan = wk.fan.data() + wk.groupStart[g];
            const int32_t size = wk.groupStart[g + 1] - wk.groupStart[g];
            // Fresh corners first: a pair of two others is not counted, so the pairs start
            // at a fresh one.
            const int32_t freshCount = static_cast<int32_t>(
                std::partition(fan, fan + size,
                               [&](const FanCorner& f) {
                                   return wk.locals[static_cast<size_t>(f.tri)].fresh != 0;
                               }) -
                fan);
            if (freshCount == 0 || plainFan(wk, fan, size)) {
                continue;
            }
            // In a large fan (a stock's corner fanned to a pocket's outline, a wall's slivers
            // gathered at a floor's corner) most pairs lie far apart around the vertex, and a
            // test of their caps spares the exact test.
            constexpr int32_t kLargeFan = 12;
            const bool large = size >= kLargeFan;
            if (large) {
                fanCaps(wk, fan, size);
            }
            const int32_t v = wk.groupVertex[g];
            for (int32_t a = 0; a < freshCount; ++a) {
                const Corners& x = wk.locals[static_cast<size_t>(fan[a].tri)].id;
                for (int32_t b = a + 1; b < size; ++b) {
                    if (large && capsApart(wk.caps[static_cast<size_t>(a)],
                                           wk.caps[static_cast<size_t>(b)])) {
                        continue;
                    }
                    const Local& ly = wk.locals[static_cast<size_t>(fan[b].tri)];
                    if (ly.sheet == wk.locals[static_cast<size_t>(fan[a].tri)].sheet) {
                        continue;
                    }
                    const Corners& y = ly.id;
                    bool smaller = false;
                    for (const int32_t id : x) {
                        smaller = smaller || (id < v && (id == y[0] || id == y[1] || id == y[2]));
                    }
                    if (!smaller &&
                        meetBeyondShared(exact(wk, fan[a].tri), exact(wk, fan[b].tri)) && !add()) {
                        return false;
                    }
                }
            }
        }
        return true;
    }

    // Tests the pairs of cell (coordinates `cell`) among `members` (the block's triangles)
    // that have no common corner; false once the limit is reached. Such a pair is tested here
    // when between them the two boxes start in this cell on every axis.
    bool cellPairs(Worker& wk, const int32_t* cellMembers, int32_t count,
                   const int32_t (&cell)[3]) {
        const auto n = static_cast<size_t>(count);
        if (wk.starts.size() < n) {
            for (int k = 0; k < 3; ++k) {
                wk.lo[k].resize(n);
                wk.hi[k].resize(n);
                wk.id[k].resize(n);
            }
            wk.starts.resize(n);
            wk.sheets.resize(n);
            wk.need.resize(n);
            wk.order.resize(n);
        }
        // Fresh triangles first: a pair of two others is not counted, so the pairs start at a
        // fresh one.
        int32_t freshCount = 0;
        for (size_t m = 0; m < n; ++m) {
            freshCount += wk.locals[static_cast<size_t>(cellMembers[m])].fresh;
        }
        {
            size_t front = 0, back = static_cast<size_t>(freshCount);
            for (size_t m = 0; m < n; ++m) {
                const int32_t i = cellMembers[m];
                wk.order[wk.locals[static_cast<size_t>(i)].fresh != 0 ? front++ : back++] = i;
            }
        }
        const int32_t* members = wk.order.data();
        for (size_t m = 0; m < n; ++m) {
            const Local& l = wk.locals[static_cast<size_t>(members[m])];
            for (int k = 0; k < 3; ++k) {
                wk.lo[k][m] = l.lo[k];
                wk.hi[k][m] = l.hi[k];
                wk.id[k][m] = l.id[static_cast<size_t>(k)];
            }
            wk.sheets[m] = l.sheet;
            // Bit k: the box starts in this cell on axis k.
            wk.starts[m] = (l.cellLo[0] == cell[0] ? 1 : 0) | (l.cellLo[1] == cell[1] ? 2 : 0) |
                           (l.cellLo[2] == cell[2] ? 4 : 0);
        }
        const int32_t *lo0 = wk.lo[0].data(), *lo1 = wk.lo[1].data(), *lo2 = wk.lo[2].data();
        const int32_t *hi0 = wk.hi[0].data(), *hi1 = wk.hi[1].data(), *hi2 = wk.hi[2].data();
        const int32_t *a = wk.id[0].data(), *b = wk.id[1].data(), *c = wk.id[2].data();
        const int32_t* starts = wk.starts.data();
        const int32_t* sheets = wk.sheets.data();
        int32_t* need = wk.need.data();
        for (int32_t p = 0; p < freshCount && p + 1 < count; ++p) {
            const int32_t xlo0 = lo0[p], xlo1 = lo1[p], xlo2 = lo2[p];
            const int32_t xhi0 = hi0[p], xhi1 = hi1[p], xhi2 = hi2[p];
            const int32_t xa = a[p], xb = b[p], xc = c[p], xs = starts[p], xsheet = sheets[p];
            // Without branches, so that the loop runs several pairs at once: pairs reported
            // here whose boxes meet, that have no common corner (the fans take those) and that
            // lie in two sheets.
            int32_t any = 0;
            for (int32_t q = p + 1; q < count; ++q) {
                const int32_t elsewhere = (xs | starts[q]) != 7;
                const int32_t apart = (xhi0 < lo0[q]) | (hi0[q] < xlo0) | (xhi1 < lo1[q]) |
                                      (hi1[q] < xlo1) | (xhi2 < lo2[q]) | (hi2[q] < xlo2);
                const int32_t shared = (xa == a[q]) | (xa == b[q]) | (xa == c[q]) | (xb == a[q]) |
                                       (xb == b[q]) | (xb == c[q]) | (xc == a[q]) | (xc == b[q]) |
                                       (xc == c[q]);
                const int32_t open = (elsewhere | apart | shared | (xsheet == sheets[q])) ^ 1;
                need[q] = open;
                any |= open;
            }
            if (any == 0) {
                continue;
            }
            for (int32_t q = p + 1; q < count; ++q) {
                if (need[q] != 0 &&
                    meetBeyondShared(exact(wk, members[p]), exact(wk, members[q])) && !add()) {
                    return false;
                }
            }
        }
        return true;
    }

    // The block's fans, then the pairs of its cells.
    void block(const int32_t (&block)[3], const uint64_t* entries, size_t count, Worker& wk) {
        if (count < 2 || stop.load(std::memory_order_relaxed)) {
            return;
        }
        wk.locals.clear();
        wk.localOfEntry.resize(count);
        int32_t inCell[kBlockCells + 1] = {};
        int64_t last = -1;
        for (size_t k = 0; k < count; ++k) {
            const auto j = static_cast<int64_t>(entries[k] >> kCellBits);
            if (j != last) {
                wk.locals.emplace_back();
                makeLocal(wk.locals.back(), static_cast<int32_t>(j), block);
                last = j;
            }
            wk.localOfEntry[k] = static_cast<int32_t>(wk.locals.size()) - 1;
            ++inCell[(entries[k] & (kBlockCells - 1)) + 1];
        }
        wk.made.assign(wk.locals.size(), -1);
        wk.tris.clear();
        // Room for all, so that a reference to one made stays valid while another is made.
        wk.tris.reserve(wk.locals.size());
        if (!fans(wk)) {
            return;
        }
        for (int c = 1; c <= kBlockCells; ++c) {
            inCell[c] += inCell[c - 1];
        }
        wk.byCell.resize(count);
        {
            int32_t fill[kBlockCells];
            std::copy(inCell, inCell + kBlockCells, fill);
            for (size_t k = 0; k < count; ++k) {
                wk.byCell[static_cast<size_t>(fill[entries[k] & (kBlockCells - 1)]++)] =
                    wk.localOfEntry[k];
            }
        }
        for (int c = 0; c < kBlockCells; ++c) {
            const int32_t begin = inCell[c], end = inCell[c + 1];
            if (end - begin < 2) {
                continue;
            }
            const int32_t cell[3] = {
                (block[0] << kBlockShift) + (c & kBlockMask),
                (block[1] << kBlockShift) + ((c >> kBlockShift) & kBlockMask),
                (block[2] << kBlockShift) + ((c >> (2 * kBlockShift)) & kBlockMask)};
            if (!cellPairs(wk, wk.byCell.data() + begin, end - begin, cell)) {
                return;
            }
        }
    }
};

// Triangles from which sheets are looked for: below, the tests of all pairs cost little.
constexpr int64_t kSheetsFrom = 20000;

// Cells per triangle at most, on average, before the cells are made larger.
constexpr int64_t kEntriesPerTriangle = 16;

}  // namespace

int64_t selfCrossingPairs(const WeldedView& w, int side, int64_t limit, const StopToken& stop,
                          const std::vector<char>* fresh) {
    const int32_t first = side == 0 ? 0 : w.firstOther;
    const int32_t last = side == 0 ? w.firstOther : static_cast<int32_t>(w.tris.size());
    if (limit <= 0 || last - first < 2) {
        return 0;
    }
    const int32_t n = last - first;
    // Boxes and the operand's extent. A triangle with a repeated corner or collinear corners
    // takes no part.
    auto bounds = unfilled<Bounds>(static_cast<size_t>(n));
    auto usable = unfilled<char>(static_cast<size_t>(n));
    struct Extent {
        Box region = emptyBox();
        double sizeSum = 0;
        int64_t count = 0;
    };
    const auto join = [](Extent x, const Extent& y) {
        grow(x.region, y.region);
        x.sizeSum += y.sizeSum;
        x.count += y.count;
        return x;
    };
    Extent extent = tbb::parallel_reduce(
        tbb::blocked_range<int32_t>(0, n, 4096), Extent{},
        [&](const tbb::blocked_range<int32_t>& r, Extent acc) {
            stop.check();
            // The corners are asked for some triangles ahead.
            constexpr int32_t kAhead = 8;
            for (int32_t i = r.begin(); i < r.end(); ++i) {
                if (i + kAhead < r.end()) {
                    for (const int32_t v : w.tris[static_cast<size_t>(first + i + kAhead)]) {
                        if (v >= 0 && static_cast<size_t>(v) < w.points.size()) {
                            __builtin_prefetch(&w.points[static_cast<size_t>(v)]);
                        }
                    }
                }
                const Corners& c = w.tris[static_cast<size_t>(first + i)];
                char& use = usable[static_cast<size_t>(i)];
                use = c[0] != c[1] && c[1] != c[2] && c[0] != c[2];
                for (const int32_t v : c) {
                    use = use && v >= 0 && static_cast<size_t>(v) < w.points.size();
                }
                if (!use) {
                    continue;
                }
                double p[3][3];
                for (int k = 0; k < 3; ++k) {
                    const Point3& q = w.points[static_cast<size_t>(c[static_cast<size_t>(k)])];
                    p[k][0] = q.x;
                    p[k][1] = q.y;
                    p[k][2] = q.z;
                    use = use && std::isfinite(q.x) && std::isfinite(q.y) && std::isfinite(q.z);
                }
                if (!use) {
                    continue;
                }
                int8_t sign[3];
                normalSigns(p, sign);
                if (sign[0] == 0 && sign[1] == 0 && sign[2] == 0) {
                    use = 0;
                    continue;
                }
                // The signs, kept for the triangle's record, each as sign + 1 in two bits.
                use = static_cast<char>(0x40 | (sign[0] + 1) | (sign[1] + 1) << 2 |
                                        (sign[2] + 1) << 4);
                Bounds& b = bounds[static_cast<size_t>(i)];
                double size = 0;
                for (int k = 0; k < 3; ++k) {
                    const double lo = std::min({p[0][k], p[1][k], p[2][k]});
                    const double hi = std::max({p[0][k], p[1][k], p[2][k]});
                    b.lo[k] = static_cast<float>(lo);
                    b.hi[k] = static_cast<float>(hi);
                    acc.region.lo[k] = std::min(acc.region.lo[k], lo);
                    acc.region.hi[k] = std::max(acc.region.hi[k], hi);
                    size = std::max(size, hi - lo);
                }
                acc.sizeSum += size;
                ++acc.count;
            }
            return acc;
        },
        join);
    // Inner triangles of sheets need no tests; what is left is measured again.
    std::unique_ptr<int32_t[]> sheets;
    if (fresh == nullptr && extent.count >= kSheetsFrom) {
        sheets = unfilled<int32_t>(static_cast<size_t>(n));
    }
    const int32_t* sheetOf = sheets.get();
    if (sheets != nullptr &&
        dropSheetInteriors({w, first, n, bounds.get(), usable.get(), sheets.get()}, extent.region,
                           extent.sizeSum / static_cast<double>(extent.count), stop) > 0) {
        extent = tbb::parallel_reduce(
            tbb::blocked_range<int32_t>(0, n, 4096), Extent{},
            [&](const tbb::blocked_range<int32_t>& r, Extent acc) {
                for (int32_t i = r.begin(); i < r.end(); ++i) {
                    if (usable[static_cast<size_t>(i)]) {
                        const Bounds& b = bounds[static_cast<size_t>(i)];
                        double size = 0;
                        for (int k = 0; k < 3; ++k) {
                            acc.region.lo[k] = std::min<double>(acc.region.lo[k], b.lo[k]);
                            acc.region.hi[k] = std::max<double>(acc.region.hi[k], b.hi[k]);
                            size = std::max<double>(size, double{b.hi[k]} - b.lo[k]);
                        }
                        acc.sizeSum += size;
                        ++acc.count;
                    }
                }
                return acc;
            },
            join);
    }
    if (extent.count < 2) {
        return 0;
    }

    // Cells twice a triangle's mean size; larger where the grid would be too fine to address
    // or the triangles would fill too many cells.
    Grid grid;
    double cell = std::max(2.0 * extent.sizeSum / static_cast<double>(extent.count), 1e-30);
    for (;;) {
        bool fits = true;
        for (int k = 0; k < 3; ++k) {
            grid.origin[k] = extent.region.lo[k];
            grid.dim[k] = std::max<int64_t>(
                static_cast<int64_t>(std::ceil((extent.region.hi[k] - extent.region.lo[k]) / cell)),
                1);
            fits = fits && grid.dim[k] <= (int64_t{1} << 21);
        }
        grid.perCell = 1.0 / cell;
        for (int k = 0; k < 3; ++k) {
            grid.top[k] = static_cast<double>(grid.dim[k] - 1);
        }
        if (fits) {
            const int64_t entryCount = tbb::parallel_reduce(
                tbb::blocked_range<int32_t>(0, n, 4096), int64_t{0},
                [&](const tbb::blocked_range<int32_t>& r, int64_t acc) {
                    for (int32_t i = r.begin(); i < r.end(); ++i) {
                        if (usable[static_cast<size_t>(i)]) {
                            const Bounds& b = bounds[static_cast<size_t>(i)];
                            int64_t cells = 1;
                            for (int k = 0; k < 3; ++k) {
                                cells *= grid.cellOf(k, b.hi[k]) - grid.cellOf(k, b.lo[k]) + 1;
                            }
                            acc += cells;
                        }
                    }
                    return acc;
                },
                std::plus<>());
            if (entryCount <= kEntriesPerTriangle * extent.count + 65536) {
                break;
            }
        }
        cell *= 2.0;
    }

    // Cells are grouped into blocks. Where the blocks are few enough to be counted in a table,
    // entries are placed by counting; otherwise they are sorted by block.
    std::array<int64_t, 3> blocks{};
    for (int k = 0; k < 3; ++k) {
        blocks[k] = (grid.dim[k] + kBlockMask) >> kBlockShift;
    }
    const int64_t blockCount = blocks[0] * blocks[1] * blocks[2];
    const bool dense = blockCount <= 2 * extent.count + 65536;
    const auto blockIndex = [&](int64_t bx, int64_t by, int64_t bz) {
        return static_cast<size_t>((bz * blocks[1] + by) * blocks[0] + bx);
    };
    const auto blockKey = [](int64_t bx, int64_t by, int64_t bz) {
        return static_cast<uint64_t>(bx) | static_cast<uint64_t>(by) << 21 |
               static_cast<uint64_t>(bz) << 42;
    };
    const auto homeCells = [&](const Bounds& b) {
        return std::array<int64_t, 3>{grid.cellOf(0, b.lo[0]) >> kBlockShift,
                                      grid.cellOf(1, b.lo[1]) >> kBlockShift,
                                      grid.cellOf(2, b.lo[2]) >> kBlockShift};
    };

    // The triangles' records in order of the block of their box's low corner, so that the
    // triangles of a block lie together.
    const auto m = static_cast<size_t>(extent.count);
    auto records = unfilled<Record>(m);
    const auto store = [&](size_t at, int32_t i) {
        Record& r = records[at];
        r.id = w.tris[static_cast<size_t>(first + i)];
        r.fresh = fresh == nullptr || (*fresh)[static_cast<size_t>(i)] != 0 ? 1 : 0;
        r.sheet = sheetOf == nullptr ? -1 - i : sheetOf[static_cast<size_t>(i)];
        const int use = usable[static_cast<size_t>(i)];
        for (int k = 0; k < 3; ++k) {
            r.sign[k] = static_cast<int8_t>(((use >> (2 * k)) & 3) - 1);
        }
        for (int k = 0; k < 3; ++k) {
            const Point3& q = w.points[static_cast<size_t>(r.id[static_cast<size_t>(k)])];
            r.p[k][0] = static_cast<float>(q.x);
            r.p[k][1] = static_cast<float>(q.y);
            r.p[k][2] = static_cast<float>(q.z);
        }
        r.cornerStep = 0;
        for (int i = 0; i < 3; ++i) {
            const int32_t lo = grid.cellOf(i, std::min({r.p[0][i], r.p[1][i], r.p[2][i]}));
            for (int k = 0; k < 3; ++k) {
                const int32_t step = grid.cellOf(i, r.p[k][i]) - lo;
                r.cornerStep |= static_cast<uint16_t>(step == 1  ? 1 << (3 * k + i)
                                                      : step > 1 ? kFar
                                                                 : 0);
            }
        }
    };
    std::vector<int32_t> homeStart;  // dense: each block's first record
    if (dense) {
        auto home = unfilled<int32_t>(static_cast<size_t>(n));
        std::vector<int32_t> start(static_cast<size_t>(blockCount) + 1, 0);
        tbb::parallel_for(tbb::blocked_range<int32_t>(0, n, 4096),
                          [&](const tbb::blocked_range<int32_t>& r) {
                              for (int32_t i = r.begin(); i < r.end(); ++i) {
                                  if (usable[static_cast<size_t>(i)]) {
                                      const auto h = homeCells(bounds[static_cast<size_t>(i)]);
                                      const size_t b = blockIndex(h[0], h[1], h[2]);
                                      home[static_cast<size_t>(i)] = static_cast<int32_t>(b);
                                      std::atomic_ref<int32_t>(start[b + 1])
                                          .fetch_add(1, std::memory_order_relaxed);
                                  }
                              }
                          });
        for (size_t b = 1; b < start.size(); ++b) {
            start[b] += start[b - 1];
        }
        homeStart = start;
        // The corners are read in the operand's order, asked for some triangles ahead.
        tbb::parallel_for(
            tbb::blocked_range<int32_t>(0, n, 4096), [&](const tbb::blocked_range<int32_t>& r) {
                stop.check();
                constexpr int32_t kAhead = 8;
                for (int32_t i = r.begin(); i < r.end(); ++i) {
                    if (i + kAhead < r.end()) {
                        for (const int32_t v : w.tris[static_cast<size_t>(first + i + kAhead)]) {
                            __builtin_prefetch(&w.points[static_cast<size_t>(v)]);
                        }
                    }
                    if (usable[static_cast<size_t>(i)]) {
                        const auto h = static_cast<size_t>(home[static_cast<size_t>(i)]);
                        store(static_cast<size_t>(std::atomic_ref<int32_t>(start[h]).fetch_add(
                                  1, std::memory_order_relaxed)),
                              i);
                    }
                }
            });
    } else {
        std::vector<std::pair<uint64_t, int32_t>> keyed;
        keyed.reserve(m);
        for (int32_t i = 0; i < n; ++i) {
            if (usable[static_cast<size_t>(i)]) {
                const auto h = homeCells(bounds[static_cast<size_t>(i)]);
                keyed.emplace_back(blockKey(h[0], h[1], h[2]), i);
            }
        }
        stop.check();
        tbb::parallel_sort(keyed.begin(), keyed.end());
        tbb::parallel_for(tbb::blocked_range<size_t>(0, m, 4096),
                          [&](const tbb::blocked_range<size_t>& r) {
                              for (size_t j = r.begin(); j < r.end(); ++j) {
                                  store(j, keyed[j].second);
                              }
                          });
    }
    bounds.reset();
    usable.reset();

    // Calls f(bx, by, bz, x0, x1, y0, y1, z0, z1) for each block that triangle j's box
    // reaches, with the cells of the box in it.
    const auto forBlocks = [&](size_t j, const auto& f) {
        const Record& r = records[j];
        int32_t lo[3], hi[3];
        for (int i = 0; i < 3; ++i) {
            lo[i] = grid.cellOf(i, std::min({r.p[0][i], r.p[1][i], r.p[2][i]}));
            hi[i] = grid.cellOf(i, std::max({r.p[0][i], r.p[1][i], r.p[2][i]}));
        }
        for (int32_t bz = lo[2] >> kBlockShift; bz <= hi[2] >> kBlockShift; ++bz) {
            const int32_t zl = std::max(lo[2], bz << kBlockShift);
            const int32_t zh = std::min(hi[2], (bz << kBlockShift) + kBlockMask);
            for (int32_t by = lo[1] >> kBlockShift; by <= hi[1] >> kBlockShift; ++by) {
                const int32_t yl = std::max(lo[1], by << kBlockShift);
                const int32_t yh = std::min(hi[1], (by << kBlockShift) + kBlockMask);
                for (int32_t bx = lo[0] >> kBlockShift; bx <= hi[0] >> kBlockShift; ++bx) {
                    const int32_t xl = std::max(lo[0], bx << kBlockShift);
                    const int32_t xh = std::min(hi[0], (bx << kBlockShift) + kBlockMask);
                    f(bx, by, bz, xl, xh, yl, yh, zl, zh);
                }
            }
        }
    };
    const auto cellsIn = [](int32_t xl, int32_t xh, int32_t yl, int32_t yh, int32_t zl,
                            int32_t zh) {
        return static_cast<int64_t>(xh - xl + 1) * (yh - yl + 1) * (zh - zl + 1);
    };
    const auto forTriangles = [&](const auto& f) {
        tbb::parallel_for(tbb::blocked_range<size_t>(0, m, 4096),
                          [&](const tbb::blocked_range<size_t>& r) {
                              stop.check();
                              for (size_t j = r.begin(); j < r.end(); ++j) {
                                  f(j);
                              }
                          });
    };

    Counter counter{records.get(), grid, limit};
    tbb::enumerable_thread_specific<Worker> workers;
    std::vector<BlockRun> runs;
    std::unique_ptr<uint64_t[]> entries;
    if (dense) {
        // A block holds the triangles whose box starts in it, and those whose box reaches into
        // it from another block, listed apart; its entries are made when it is processed.
        std::vector<int32_t> spillStart(static_cast<size_t>(blockCount) + 1, 0);
        const auto forSpills = [&](size_t j, const auto& f) {
            const Record& r = records[j];
            int32_t lo[3], hi[3];
            bool spills = false;
            for (int i = 0; i < 3; ++i) {
                lo[i] = grid.cellOf(i, std::min({r.p[0][i], r.p[1][i], r.p[2][i]})) >> kBlockShift;
                hi[i] = grid.cellOf(i, std::max({r.p[0][i], r.p[1][i], r.p[2][i]})) >> kBlockShift;
                spills = spills || hi[i] != lo[i];
            }
            if (!spills) {
                return;
            }
            for (int32_t bz = lo[2]; bz <= hi[2]; ++bz) {
                for (int32_t by = lo[1]; by <= hi[1]; ++by) {
                    for (int32_t bx = lo[0]; bx <= hi[0]; ++bx) {
                        if (bx != lo[0] || by != lo[1] || bz != lo[2]) {
                            f(blockIndex(bx, by, bz));
                        }
                    }
                }
            }
        };
        forTriangles([&](size_t j) {
            forSpills(j, [&](size_t b) {
                std::atomic_ref<int32_t>(spillStart[b + 1]).fetch_add(1, std::memory_order_relaxed);
            });
        });
        for (size_t b = 1; b < spillStart.size(); ++b) {
            spillStart[b] += spillStart[b - 1];
        }
        std::vector<int32_t> spills(static_cast<size_t>(spillStart.back()));
        std::vector<int32_t> cursor(spillStart.begin(), spillStart.end() - 1);
        forTriangles([&](size_t j) {
            forSpills(j, [&](size_t b) {
                spills[static_cast<size_t>(std::atomic_ref<int32_t>(cursor[b]).fetch_add(
                    1, std::memory_order_relaxed))] = static_cast<int32_t>(j);
            });
        });
        tbb::parallel_for(
            tbb::blocked_range<int64_t>(0, blockCount, 64),
            [&](const tbb::blocked_range<int64_t>& r) {
                stop.check();
                Worker& wk = workers.local();
                for (int64_t b = r.begin(); b < r.end(); ++b) {
                    const auto at = static_cast<size_t>(b);
                    const int32_t homed = homeStart[at + 1] - homeStart[at];
                    const int32_t spilled = spillStart[at + 1] - spillStart[at];
                    if (homed + spilled < 2) {
                        continue;
                    }
                    const int32_t block[3] = {static_cast<int32_t>(b % blocks[0]),
                                              static_cast<int32_t>((b / blocks[0]) % blocks[1]),
                                              static_cast<int32_t>(b / (blocks[0] * blocks[1]))};
                    wk.entries.clear();
                    const auto enter = [&](size_t j) {
                        forBlocks(j, [&](int32_t bx, int32_t by, int32_t bz, int32_t xl, int32_t xh,
                                         int32_t yl, int32_t yh, int32_t zl, int32_t zh) {
                            if (bx != block[0] || by != block[1] || bz != block[2]) {
                                return;
                            }
                            for (int32_t z = zl; z <= zh; ++z) {
                                for (int32_t y = yl; y <= yh; ++y) {
                                    for (int32_t x = xl; x <= xh; ++x) {
                                        wk.entries.push_back(
                                            entryOf(static_cast<int32_t>(j), x, y, z));
                                    }
                                }
                            }
                        });
                    };
                    for (int32_t j = homeStart[at]; j < homeStart[at + 1]; ++j) {
                        enter(static_cast<size_t>(j));
                    }
                    for (int32_t k = spillStart[at]; k < spillStart[at + 1]; ++k) {
                        enter(static_cast<size_t>(spills[static_cast<size_t>(k)]));
                    }
                    counter.block(block, wk.entries.data(), wk.entries.size(), wk);
                }
            });
        return std::min(counter.found.load(), limit);
    } else {
        // (block, entry) pairs, sorted: a triangle's entries in a block stay in one row.
        std::vector<int64_t> offset(m + 1, 0);
        forTriangles([&](size_t j) {
            int64_t cells = 0;
            forBlocks(j,
                      [&](int32_t, int32_t, int32_t, int32_t xl, int32_t xh, int32_t yl, int32_t yh,
                          int32_t zl, int32_t zh) { cells += cellsIn(xl, xh, yl, yh, zl, zh); });
            offset[j + 1] = cells;
        });
        for (size_t j = 1; j < offset.size(); ++j) {
            offset[j] += offset[j - 1];
        }
        std::vector<std::pair<uint64_t, uint64_t>> keyed(static_cast<size_t>(offset.back()));
        forTriangles([&](size_t j) {
            auto at = static_cast<size_t>(offset[j]);
            forBlocks(j, [&](int32_t bx, int32_t by, int32_t bz, int32_t xl, int32_t xh, int32_t yl,
                             int32_t yh, int32_t zl, int32_t zh) {
                for (int32_t z = zl; z <= zh; ++z) {
                    for (int32_t y = yl; y <= yh; ++y) {
                        for (int32_t x = xl; x <= xh; ++x) {
                            keyed[at++] = {blockKey(bx, by, bz),
                                           entryOf(static_cast<int32_t>(j), x, y, z)};
                        }
                    }
                }
            });
        });
        stop.check();
        tbb::parallel_sort(keyed.begin(), keyed.end());
        entries = unfilled<uint64_t>(keyed.size());
        const uint64_t mask = (uint64_t{1} << 21) - 1;
        for (size_t k = 0; k < keyed.size(); ++k) {
            entries[k] = keyed[k].second;
            const uint64_t key = keyed[k].first;
            if (k == 0 || key != keyed[k - 1].first) {
                runs.push_back(
                    {{static_cast<int32_t>(key & mask), static_cast<int32_t>((key >> 21) & mask),
                      static_cast<int32_t>(key >> 42)},
                     static_cast<int64_t>(k),
                     0});
            }
            ++runs.back().count;
        }
    }

    tbb::parallel_for(tbb::blocked_range<size_t>(0, runs.size(), 16),
                      [&](const tbb::blocked_range<size_t>& r) {
                          stop.check();
                          Worker& wk = workers.local();
                          for (size_t b = r.begin(); b < r.end(); ++b) {
                              counter.block(runs[b].at, entries.get() + runs[b].begin,
                                            static_cast<size_t>(runs[b].count), wk);
                          }
                      });
    return std::min(counter.found.load(), limit);
}

}  // namespace korvan::closed
