// Sheets: sets of triangles that, seen along one axis, all turn the same way, and whose outline
// (their edges whose reverse none of them has) is loops that touch nowhere but in common
// corners, one of them turning as the triangles do and the rest, holes, the other way. Over a
// point of the plane lie as many of the triangles as the outline winds around it: at most one.
// So their projections do not overlap, and where two touch, the one's edge or corner lies on
// the other's outline: on an outline edge, beyond which none of them reaches, or on an edge the
// two share. No two meet beyond what they share.
//
// Sheets are made of the cells of a grid over the operand, each triangle in the cell of its
// box's centre: a whole cell, or where its triangles share no sign on any axis (a cube's edge),
// each class of them by the largest component of the normal (or, where a class falls apart,
// each part of it that hangs together by edges). Up an octree of the cells, pieces that meet
// along edges and share a sign are joined, and the largest joins that are sheets are taken.
//
// A triangle outside a sheet can only meet one of the sheet's where the two boxes meet in a
// cell of the sheet: the other triangle is of another piece in that cell, and the one's box
// meets that piece's box; or it reaches into the cell from a cell beside it on some axis, from
// below or from above. The sheet's triangles whose boxes stay in its cells, apart from other
// pieces' boxes there and from what reaches into those cells, are left out of the tests.
#include "closed/sheet_cells.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/parallel_reduce.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <climits>
#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#include "closed/sheet_outline.h"

namespace korvan::closed {
namespace {

// The finest cell's side in mean triangle sizes.
constexpr double kCellSides = 16.0;
// Cells per axis at most 2^kLevels: a cell's code has bits of x, y and z interleaved.
constexpr int kLevels = 6;
// The bit of a triangle's home that tells that its box reaches other cells too.
constexpr uint32_t kSpans = 1u << 31;

// Cubic cells over the operand's box, 2^levels a side, numbered in Morton order: the cells of a
// node of the octree have consecutive codes.
struct Grid {
    double origin[3]{};
    double perCell = 1.0;
    int levels = 0;
    double top = 0;

    // Clamped before the conversion, which then rounds down as floor would; monotone in v.
    int32_t cellOf(int i, double v) const {
        return static_cast<int32_t>(std::min(std::max((v - origin[i]) * perCell, 0.0), top));
    }
};

// The low ten bits of v, each moved to bit 3k.
uint32_t spread(uint32_t v) {
    v &= 0x3ff;
    v = (v | v << 16) & 0x030000ff;
    v = (v | v << 8) & 0x0300f00f;
    v = (v | v << 4) & 0x030c30c3;
    return (v | v << 2) & 0x09249249;
}

// The inverse of spread: bits 3k, to bit k.
uint32_t gather(uint32_t v) {
    v &= 0x09249249;
    v = (v | v >> 2) & 0x030c30c3;
    v = (v | v >> 4) & 0x0300f00f;
    v = (v | v >> 8) & 0x030000ff;
    return (v | v >> 16) & 0x3ff;
}

uint32_t codeOf(int32_t x, int32_t y, int32_t z) {
    return spread(static_cast<uint32_t>(x)) | spread(static_cast<uint32_t>(y)) << 1 |
           spread(static_cast<uint32_t>(z)) << 2;
}

// Coordinate `axis` of the cell (or node, at its level) with code `code`.
int32_t coordinateOf(uint32_t code, int axis) {
    return static_cast<int32_t>(gather(code >> axis));
}

// A float as an integer of the same order (for finite values, -0 taken as +0).
int32_t ordered(float f) {
    const auto i = std::bit_cast<int32_t>(f + 0.0f);
    return i ^ ((i >> 31) & 0x7fffffff);
}

// Classes of triangles by the axis of their normal's largest component and its sign: 2a + 1
// for positive, 2a for negative. A class shares that sign.
constexpr int kClasses = 6;
// Pieces of one class in a cell at most: a class times this plus a part's number fits a byte.
constexpr int32_t kRunsPerClass = 42;

// Part of a finest cell in a sheet: the whole cell, or where its triangles do not all share a
// sign on some axis (a cube's edge), those of one class or of one part of a class. Pairs of two
// pieces' triangles are tested where the one's box meets the other's piece's box.
struct CellPart {
    uint32_t cell;
    int32_t part;   // class * kRunsPerClass + the class's part, or -1 for the whole cell
    Bounds box;     // of a class's piece
    int32_t sheet;  // its sheet, in its worker's numbering; -1 where it is in none
};

// A candidate sheet: pieces whose triangles share a sign on some axis (bit 2a + 1 for a
// positive sign on axis a, 2a for a negative one), and their outline; or the union of other
// candidates, its members, where it is no sheet.
struct Candidate {
    uint8_t signs = 0;
    bool summed = false;  // the outline is a sum of single edges
    std::vector<Edge> outline;
    std::vector<int32_t> pieces, members;
};

// An edge, its ends in order, and the first of some items (candidates, triangles) that has it.
struct EdgeEnd {
    uint64_t key;
    int32_t first;
};
constexpr uint64_t kNoEdge = UINT64_MAX;

// A table of edges, empty, for `edges` entries at most half full; the shift of its hash.
int openEnds(std::vector<EdgeEnd>& table, size_t edges) {
    const size_t size = std::bit_ceil(std::max<size_t>(2 * edges, 16));
    table.assign(size, EdgeEnd{kNoEdge, -1});
    return 64 - std::countr_zero(size);
}

// The slot of edge (x, y), either way, in the table: where it is, or the empty one where it
// would go, now holding it with no item.
EdgeEnd& endOf(std::vector<EdgeEnd>& table, int shift, int32_t x, int32_t y) {
    const uint64_t key = static_cast<uint64_t>(static_cast<uint32_t>(std::min(x, y))) << 32 |
                         static_cast<uint32_t>(std::max(x, y));
    auto at = static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> shift);
    while (table[at].key != kNoEdge && table[at].key != key) {
        at = (at + 1) & (table.size() - 1);
    }
    table[at].key = key;
    return table[at];
}

// The root of k in a forest of parents, halving the path on the way.
int32_t rootOf(std::vector<int32_t>& root, int32_t k) {
    while (root[static_cast<size_t>(k)] != k) {
        k = root[static_cast<size_t>(k)] = root[static_cast<size_t>(root[static_cast<size_t>(k)])];
    }
    return k;
}

// A thread's buffers, its candidates and pieces, and how many sheets it found.
struct Worker {
    OutlineBuffers edges;
    std::vector<EdgeEnd> ends;
    std::vector<int32_t> root, runOf;
    std::vector<Candidate> candidates;
    std::vector<CellPart> pieces;
    int32_t sheets = 0;
};

struct Sheets {
    const CountedTriangles& t;

    // Per axis, the sign of the normal's component there that all of `list` share, or 0: the
    // signs' two bits per axis are the same in all where their AND and OR agree.
    static void uniformSigns(const char* usable, const int32_t* list, int32_t count,
                             int8_t (&sign)[3]) {
        int all = 0x3f, any = 0;
        for (int32_t k = 0; k < count; ++k) {
            const int u = usable[static_cast<size_t>(list[k])];
            all &= u;
            any |= u;
        }
        for (int a = 0; a < 3; ++a) {
            const int mask = 3 << (2 * a);
            sign[a] = static_cast<int8_t>(
                (all & mask) == (any & mask) ? ((all & mask) >> (2 * a)) - 1 : 0);
        }
    }

    // The first axis with a shared sign, or -1.
    static int axisOf(const int8_t (&sign)[3]) {
        return sign[0] != 0 ? 0 : sign[1] != 0 ? 1 : sign[2] != 0 ? 2 : -1;
    }

    // Shared signs as a candidate's bits.
    static uint8_t signBits(const int8_t (&sign)[3]) {
        uint8_t bits = 0;
        for (int a = 0; a < 3; ++a) {
            bits |= static_cast<uint8_t>(sign[a] == 0 ? 0 : 1 << (2 * a + (sign[a] > 0 ? 1 : 0)));
        }
        return bits;
    }

    // Whether the outline in buf.outline makes triangles with shared signs `signs` (bits as a
    // candidate's, some set) a sheet, seen along their first shared axis; with `loopsOnly`,
    // only whether it has one outer loop.
    bool plain(OutlineBuffers& buf, uint8_t signs, bool loopsOnly = false) const {
        const int bit = std::countr_zero(signs);
        const int axis = bit / 2, sign = (bit & 1) != 0 ? 1 : -1;
        return loopsOnly ? oneOuterLoopOnly(buf, t.w.points, axis, sign)
                         : plainOutline(buf, t.w.points, axis, sign);
    }

    // Whether candidate `c`'s outline makes it a sheet; with `loopsOnly`, whether it has one
    // outer loop (a piece that falls apart has not).
    bool settled(Candidate& c, Worker& wk, bool loopsOnly = false) const {
        if (!c.summed || c.signs == 0) {
            return false;
        }
        std::swap(wk.edges.outline, c.outline);
        const bool sheet = plain(wk.edges, c.signs, loopsOnly);
        std::swap(wk.edges.outline, c.outline);
        return sheet;
    }

    // The shared signs of `list` and, where some axis has one, its outline in
    // wk.edges.outline; false where no axis has one or the outline is no sum of single edges.
    bool outlineOf(const int32_t* list, int32_t count, Worker& wk, int8_t (&sign)[3]) const {
        uniformSigns(t.usable, list, count, sign);
        if (axisOf(sign) < 0) {
            return false;
        }
        return triangleOutline(wk.edges, t.w.tris, t.first, list, count);
    }
};

// Groups of `count` candidates, get(k) the k-th, joined where they meet along an edge (one has
// it, the other its reverse) and still share a sign: each group's shared signs and the
// positions k of its members. `ends` is a table for the edges, its contents not used.
template <typename Get>
std::vector<std::pair<uint8_t, std::vector<int32_t>>> joinedGroups(int32_t count, const Get& get,
                                                                   std::vector<EdgeEnd>& ends) {
    std::vector<int32_t> root(static_cast<size_t>(count));
    std::vector<uint8_t> joint(static_cast<size_t>(count));
    for (int32_t k = 0; k < count; ++k) {
        root[static_cast<size_t>(k)] = k;
        joint[static_cast<size_t>(k)] = get(k).signs;
    }
    const auto find = [&](int32_t k) { return rootOf(root, k); };
    // Each edge, either way, in a table with the first candidate that has it; a later one
    // with it joins that one's group.
    size_t edges = 0;
    for (int32_t k = 0; k < count; ++k) {
        edges += get(k).outline.size();
    }
    const int shift = openEnds(ends, edges);
    for (int32_t k = 0; k < count; ++k) {
        for (const Edge& e : get(k).outline) {
            EdgeEnd& end = endOf(ends, shift, e.from, e.to);
            if (end.first < 0) {
                end.first = k;
                continue;
            }
            const int32_t x = find(k), y = find(end.first);
            const uint8_t both = joint[static_cast<size_t>(x)] & joint[static_cast<size_t>(y)];
            if (x != y && both != 0) {
                root[static_cast<size_t>(y)] = x;
                joint[static_cast<size_t>(x)] = both;
            }
        }
    }
    std::vector<std::pair<uint8_t, std::vector<int32_t>>> groups;
    std::vector<int32_t> groupOf(static_cast<size_t>(count), -1);
    for (int32_t k = 0; k < count; ++k) {
        const auto r = static_cast<size_t>(find(k));
        if (groupOf[r] < 0) {
            groupOf[r] = static_cast<int32_t>(groups.size());
            groups.push_back({joint[r], {}});
        }
        groups[static_cast<size_t>(groupOf[r])].second.push_back(k);
    }
    return groups;
}

// The sum of the outlines of `count` candidates, get(k) the k-th, into buf.outline; false
// where one of them is no sum of single edges or the sum is none.
template <typename Get>
bool summedOutline(OutlineBuffers& buf, size_t count, const Get& get) {
    buf.outline.clear();
    for (size_t k = 0; k < count; ++k) {
        const Candidate& d = get(k);
        if (!d.summed) {
            return false;
        }
        buf.outline.insert(buf.outline.end(), d.outline.begin(), d.outline.end());
    }
    return sumOutline(buf);
}

}  // namespace

int64_t dropSheetInteriors(const CountedTriangles& t, const Box& region, double meanSize,
                           const StopToken& stop) {
    // Where none is looked for, each triangle is in a sheet of its own.
    const auto none = [&] {
        tbb::parallel_for(tbb::blocked_range<int32_t>(0, t.n, 4096),
                          [&](const tbb::blocked_range<int32_t>& r) {
                              for (int32_t i = r.begin(); i < r.end(); ++i) {
                                  t.sheet[static_cast<size_t>(i)] = -1 - i;
                              }
                          });
        return int64_t{0};
    };
    Grid g;
    double extent = 0;
    for (int k = 0; k < 3; ++k) {
        g.origin[k] = region.lo[k];
        extent = std::max(extent, region.hi[k] - region.lo[k]);
    }
    const double cell = std::max({kCellSides * meanSize, std::ldexp(extent, -kLevels), 1e-30});
    while (g.levels < kLevels && std::ldexp(cell, g.levels) < extent) {
        ++g.levels;
    }
    if (g.levels < 2) {
        return none();  // a closed surface is no sheet
    }
    g.perCell = 1.0 / cell;
    g.top = std::ldexp(1.0, g.levels) - 1;
    const size_t codes = size_t{1} << (3 * g.levels);

    // Each triangle's home, the cell of its box's centre (the triangles around a vertex that a
    // cell's face passes near fall on its two sides in two runs), and the triangles by cell. A
    // box that reaches over many cells is entered in each: where such boxes are common,
    // nothing is dropped.
    const auto homeOf = [&](const Bounds& b) {
        int32_t at[3];
        for (int k = 0; k < 3; ++k) {
            at[k] = g.cellOf(k, 0.5 * (double{b.lo[k]} + double{b.hi[k]}));
        }
        return codeOf(at[0], at[1], at[2]);
    };
    const auto n = static_cast<size_t>(t.n);
    auto home = std::make_unique_for_overwrite<uint32_t[]>(n);
    const int64_t reaches = tbb::parallel_reduce(
        tbb::blocked_range<size_t>(0, n, 4096), int64_t{0},
        [&](const tbb::blocked_range<size_t>& r, int64_t acc) {
            for (size_t i = r.begin(); i < r.end(); ++i) {
                if (!t.usable[i]) {
                    continue;
                }
                const Bounds& b = t.bounds[i];
                int64_t span = 1;
                for (int k = 0; k < 3; ++k) {
                    span *= g.cellOf(k, b.hi[k]) - g.cellOf(k, b.lo[k]) + 1;
                }
                const uint32_t c = homeOf(b);
                home[i] = c | (span > 1 ? kSpans : 0);
                acc += span - 1;
            }
            return acc;
        },
        std::plus<>());
    if (reaches > static_cast<int64_t>(n)) {
        return none();
    }
    stop.check();
    // Counted and placed on one thread: cheaper than counting in shared counters, and each
    // cell's triangles are in index order.
    std::vector<int32_t> start(codes + 1, 0);
    for (size_t i = 0; i < n; ++i) {
        if (t.usable[i]) {
            ++start[(home[i] & ~kSpans) + 1];
        }
    }
    for (size_t c = 1; c < start.size(); ++c) {
        start[c] += start[c - 1];
    }
    std::vector<int32_t> list(static_cast<size_t>(start.back()));
    {
        std::vector<int32_t> fill(start.begin(), start.end() - 1);
        for (size_t i = 0; i < n; ++i) {
            if (t.usable[i]) {
                list[static_cast<size_t>(fill[home[i] & ~kSpans]++)] = static_cast<int32_t>(i);
            }
        }
    }

    // The sheets. First, bottom up, each node's candidates: a finest cell's is the cell, or
    // where its triangles share no sign, its classes; a node's are its children's, those that
    // meet along edges and share a sign joined. Then, top down, a candidate whose outline is
    // plain is a sheet; where it is not, its members are tried.
    const Sheets sheets{t};
    // A piece whose triangles' outline, just taken into wk.edges.outline, is a sum of single
    // edges, recorded with its candidate; the candidate's index.
    const auto candidate = [&](Worker& wk, const int8_t(&sign)[3], CellPart piece) {
        Candidate c;
        c.signs = Sheets::signBits(sign);
        c.summed = true;
        c.outline = wk.edges.outline;
        c.pieces.push_back(static_cast<int32_t>(wk.pieces.size()));
        wk.pieces.push_back(piece);
        wk.candidates.push_back(std::move(c));
        return static_cast<int32_t>(wk.candidates.size()) - 1;
    };
    // A finest cell that is no sheet as its classes: each a candidate where its outline is one
    // outer loop (a class often falls apart, which would keep whatever it joins from being a
    // sheet; the whole test waits for the largest join), else the parts of it that hang
    // together by edges, each tried alike; a piece that is none is in no sheet. Per triangle
    // whose home is such a cell, its piece there: its class times kRunsPerClass plus its part.
    auto classOf = std::make_unique_for_overwrite<uint8_t[]>(n);
    // Reorders `members` (count of them) so that the triangles that hang together by edges lie
    // in runs, in order of their first member; `runs` gets the runs' starts and the end. Past
    // kRunsPerClass runs, the rest share the last.
    const auto connectedRuns = [&](int32_t* members, int32_t count, Worker& wk,
                                   std::vector<int32_t>& runs) {
        std::vector<int32_t>& root = wk.root;
        root.resize(static_cast<size_t>(count));
        for (int32_t k = 0; k < count; ++k) {
            root[static_cast<size_t>(k)] = k;
        }
        const auto find = [&](int32_t k) { return rootOf(root, k); };
        const int shift = openEnds(wk.ends, 3 * static_cast<size_t>(count));
        for (int32_t k = 0; k < count; ++k) {
            const Corners& c = t.w.tris[static_cast<size_t>(t.first + members[k])];
            for (int e = 0; e < 3; ++e) {
                EdgeEnd& end = endOf(wk.ends, shift, c[static_cast<size_t>(e)],
                                     c[static_cast<size_t>((e + 1) % 3)]);
                if (end.first < 0) {
                    end.first = k;
                } else {
                    root[static_cast<size_t>(find(k))] = find(end.first);
                }
            }
        }
        // Runs numbered by their first member; members placed by run, in order.
        std::vector<int32_t>& runOf = wk.runOf;
        runOf.assign(static_cast<size_t>(count), -1);
        runs.assign(1, 0);
        std::vector<int32_t> sizes;
        for (int32_t k = 0; k < count; ++k) {
            int32_t& r = runOf[static_cast<size_t>(find(k))];
            if (r < 0) {
                r = std::min(static_cast<int32_t>(sizes.size()), kRunsPerClass - 1);
                if (r == static_cast<int32_t>(sizes.size())) {
                    sizes.push_back(0);
                }
            }
            ++sizes[static_cast<size_t>(r)];
        }
        if (sizes.size() == 1) {
            runs.push_back(count);
            return;
        }
        for (const int32_t z : sizes) {
            runs.push_back(runs.back() + z);
        }
        std::vector<int32_t> fill(runs.begin(), runs.end() - 1);
        std::vector<int32_t> placed(static_cast<size_t>(count));
        for (int32_t k = 0; k < count; ++k) {
            placed[static_cast<size_t>(
                fill[static_cast<size_t>(runOf[static_cast<size_t>(find(k))])]++)] = members[k];
        }
        std::copy(placed.begin(), placed.end(), members);
    };
    const auto classes = [&](uint32_t cell, Worker& wk, std::vector<int32_t>& out) {
        const int32_t* members = list.data() + start[cell];
        const int32_t count = start[cell + 1] - start[cell];
        int32_t begin[kClasses + 1] = {};
        for (int32_t k = 0; k < count; ++k) {
            const auto i = static_cast<size_t>(members[k]);
            const Corners& c = t.w.tris[static_cast<size_t>(t.first) + i];
            const Point3& a = t.w.points[static_cast<size_t>(c[0])];
            const Point3& b = t.w.points[static_cast<size_t>(c[1])];
            const Point3& d = t.w.points[static_cast<size_t>(c[2])];
            const double u[3] = {b.x - a.x, b.y - a.y, b.z - a.z};
            const double v[3] = {d.x - a.x, d.y - a.y, d.z - a.z};
            const double normal[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                                      u[0] * v[1] - u[1] * v[0]};
            const double m[3] = {std::abs(normal[0]), std::abs(normal[1]), std::abs(normal[2])};
            const int axis = m[0] >= m[1] && m[0] >= m[2] ? 0 : m[1] >= m[2] ? 1 : 2;
            classOf[i] = static_cast<uint8_t>(2 * axis + (normal[axis] > 0 ? 1 : 0));
            ++begin[classOf[i] + 1];
        }
        for (int c = 1; c < kClasses + 1; ++c) {
            begin[c] += begin[c - 1];
        }
        std::vector<int32_t> byClass(static_cast<size_t>(count));
        int32_t fill[kClasses];
        std::copy(begin, begin + kClasses, fill);
        for (int32_t k = 0; k < count; ++k) {
            const int32_t i = members[k];
            byClass[static_cast<size_t>(fill[classOf[static_cast<size_t>(i)]]++)] = i;
        }
        std::vector<int32_t> runs;
        for (int c = 0; c < kClasses; ++c) {
            const int32_t size = begin[c + 1] - begin[c];
            if (size == 0) {
                continue;
            }
            // Where the class is not one outer loop, each part of it that hangs together by
            // edges is a piece of its own: the walls of two holes in one cell face alike but lie
            // apart, and each part's box is smaller than theirs together.
            int8_t sign[3];
            const bool outlined = sheets.outlineOf(byClass.data() + begin[c], size, wk, sign);
            const bool whole = outlined && sheets.plain(wk.edges, Sheets::signBits(sign), true);
            if (whole) {
                runs.assign({0, size});
            } else {
                connectedRuns(byClass.data() + begin[c], size, wk, runs);
            }
            const bool split = runs.size() > 2;
            for (size_t r = 0; r + 1 < runs.size(); ++r) {
                const int32_t from = begin[c] + runs[r], to = begin[c] + runs[r + 1];
                const auto part = static_cast<uint8_t>(c * kRunsPerClass + static_cast<int>(r));
                CellPart piece{
                    cell,
                    part,
                    {{HUGE_VALF, HUGE_VALF, HUGE_VALF}, {-HUGE_VALF, -HUGE_VALF, -HUGE_VALF}},
                    -1};
                for (int32_t k = from; k < to; ++k) {
                    const auto i = static_cast<size_t>(byClass[static_cast<size_t>(k)]);
                    classOf[i] = part;
                    const Bounds& b = t.bounds[i];
                    for (int a = 0; a < 3; ++a) {
                        piece.box.lo[a] = std::min(piece.box.lo[a], b.lo[a]);
                        piece.box.hi[a] = std::max(piece.box.hi[a], b.hi[a]);
                    }
                }
                // A piece that is the whole class was tried already; its outline is at hand.
                if (split ? !sheets.outlineOf(byClass.data() + from, to - from, wk, sign)
                          : !outlined) {
                    wk.pieces.push_back(piece);  // in no sheet, but others' boxes keep apart
                    continue;
                }
                const int32_t made = candidate(wk, sign, piece);
                if (whole ||
                    (split && sheets.settled(wk.candidates[static_cast<size_t>(made)], wk, true))) {
                    out.push_back(made);
                }
            }
        }
    };
    const auto build = [&](const auto& self, int level, uint32_t code, Worker& wk,
                           std::vector<int32_t>& out) -> void {
        const uint32_t first = code << (3 * level), end = (code + 1) << (3 * level);
        const int32_t count = start[end] - start[first];
        if (count == 0) {
            return;
        }
        if (level == 0) {
            int8_t sign[3];
            if (sheets.outlineOf(list.data() + start[first], count, wk, sign)) {
                out.push_back(candidate(wk, sign, CellPart{code, -1, {}, -1}));
            } else {
                classes(code, wk, out);  // no sheet as a whole: its classes instead
            }
            return;
        }
        std::vector<int32_t> items;
        for (uint32_t k = 0; k < 8; ++k) {
            self(self, level - 1, code << 3 | k, wk, items);
        }
        auto groups = joinedGroups(
            static_cast<int32_t>(items.size()),
            [&](int32_t k) -> const Candidate& {
                return wk.candidates[static_cast<size_t>(items[static_cast<size_t>(k)])];
            },
            wk.ends);
        for (auto& [signs, members] : groups) {
            for (int32_t& m : members) {
                m = items[static_cast<size_t>(m)];
            }
        }
        for (auto& [signs, members] : groups) {
            if (members.size() == 1) {
                out.push_back(members[0]);
                continue;
            }
            Candidate c;
            c.signs = signs;
            for (const int32_t m : members) {
                const Candidate& d = wk.candidates[static_cast<size_t>(m)];
                c.pieces.insert(c.pieces.end(), d.pieces.begin(), d.pieces.end());
            }
            const std::vector<int32_t>& group = members;  // a binding no lambda may name
            c.summed = summedOutline(wk.edges, group.size(), [&](size_t k) -> const Candidate& {
                return wk.candidates[static_cast<size_t>(group[k])];
            });
            if (c.summed) {
                c.outline = wk.edges.outline;
            }
            c.members = std::move(members);
            wk.candidates.push_back(std::move(c));
            out.push_back(static_cast<int32_t>(wk.candidates.size()) - 1);
        }
    };
    const auto settle = [&](const auto& self, int32_t at, Worker& wk) -> void {
        Candidate& c = wk.candidates[static_cast<size_t>(at)];
        if (sheets.settled(c, wk)) {
            for (const int32_t p : c.pieces) {
                wk.pieces[static_cast<size_t>(p)].sheet = wk.sheets;
            }
            ++wk.sheets;
            return;
        }
        const std::vector<int32_t> members = c.members;
        if (!members.empty()) {
            for (const int32_t m : members) {
                self(self, m, wk);
            }
            return;
        }
        // A finest cell's whole that is no sheet after all: its classes instead.
        CellPart& piece = wk.pieces[static_cast<size_t>(c.pieces[0])];
        if (piece.part < 0) {
            const uint32_t cell = piece.cell;
            piece.cell = UINT32_MAX;  // gone
            std::vector<int32_t> parts;
            classes(cell, wk, parts);
            for (const int32_t part : parts) {
                self(self, part, wk);
            }
        }
    };
    // Each octant of the grid is built on its own; their candidates are then joined as a
    // node's children's are, so that a face is not cut into sheets at the octants' borders,
    // where what reaches across would keep triangles from being left out. Sheets that span
    // octants are numbered -2 - r in their pieces until all are counted.
    const int topLevel = g.levels - 1;
    std::array<Worker, 8> octants;
    std::array<std::vector<int32_t>, 8> roots;
    tbb::parallel_for(tbb::blocked_range<uint32_t>(0, 8, 1),
                      [&](const tbb::blocked_range<uint32_t>& r) {
                          stop.check();
                          for (uint32_t code = r.begin(); code < r.end(); ++code) {
                              build(build, topLevel, code, octants[code], roots[code]);
                          }
                      });
    std::vector<std::pair<uint32_t, int32_t>> top;  // (octant, candidate)
    for (uint32_t o = 0; o < 8; ++o) {
        for (const int32_t c : roots[o]) {
            top.emplace_back(o, c);
        }
        roots[o].clear();
    }
    const auto topCandidate = [&](int32_t k) -> const Candidate& {
        const auto& [o, c] = top[static_cast<size_t>(k)];
        return octants[o].candidates[static_cast<size_t>(c)];
    };
    OutlineBuffers across;
    std::vector<EdgeEnd> topEnds;
    int32_t spanning = 0;
    for (const auto& [signs, members] :
         joinedGroups(static_cast<int32_t>(top.size()), topCandidate, topEnds)) {
        const std::vector<int32_t>& group = members;  // a binding no lambda may name
        if (group.size() > 1 &&
            summedOutline(across, group.size(),
                          [&](size_t k) -> const Candidate& { return topCandidate(group[k]); }) &&
            sheets.plain(across, signs)) {
            for (const int32_t k : members) {
                const auto& [o, c] = top[static_cast<size_t>(k)];
                for (const int32_t p : octants[o].candidates[static_cast<size_t>(c)].pieces) {
                    octants[o].pieces[static_cast<size_t>(p)].sheet = -2 - spanning;
                }
            }
            ++spanning;
            continue;
        }
        for (const int32_t k : members) {
            roots[top[static_cast<size_t>(k)].first].push_back(top[static_cast<size_t>(k)].second);
        }
    }
    tbb::parallel_for(tbb::blocked_range<uint32_t>(0, 8, 1),
                      [&](const tbb::blocked_range<uint32_t>& r) {
                          stop.check();
                          for (uint32_t o = r.begin(); o < r.end(); ++o) {
                              for (const int32_t root : roots[o]) {
                                  settle(settle, root, octants[o]);
                              }
                          }
                      });
    int32_t withinOctants = 0;
    for (const Worker& wk : octants) {
        withinOctants += wk.sheets;
    }

    // Cells that are one piece, by the sheet it is in (-1: none); cells of several pieces by
    // kMixed - the index of their first piece in `mixed`, sorted by cell.
    constexpr int32_t kMixed = -2;
    std::vector<int32_t> sheetOf(codes, -1);
    std::vector<CellPart> mixed;
    int32_t sheetCount = 0;
    for (Worker& wk : octants) {
        for (CellPart piece : wk.pieces) {
            if (piece.cell == UINT32_MAX) {
                continue;
            }
            piece.sheet = piece.sheet >= 0   ? piece.sheet + sheetCount
                          : piece.sheet < -1 ? withinOctants - 2 - piece.sheet
                                             : -1;
            if (piece.part < 0) {
                sheetOf[piece.cell] = piece.sheet;
            } else {
                mixed.push_back(piece);
            }
        }
        sheetCount += wk.sheets;
    }
    std::sort(mixed.begin(), mixed.end(), [](const CellPart& x, const CellPart& y) {
        return x.cell != y.cell ? x.cell < y.cell : x.part < y.part;
    });
    for (size_t k = 0; k < mixed.size(); ++k) {
        if (k == 0 || mixed[k].cell != mixed[k - 1].cell) {
            sheetOf[mixed[k].cell] = kMixed - static_cast<int32_t>(k);
        }
    }

    // Calls f(cell's code) for each cell that triangle i's box reaches.
    const auto forCells = [&](size_t i, const auto& f) {
        int32_t lo[3], hi[3];
        for (int k = 0; k < 3; ++k) {
            lo[k] = g.cellOf(k, t.bounds[i].lo[k]);
            hi[k] = g.cellOf(k, t.bounds[i].hi[k]);
        }
        for (int32_t z = lo[2]; z <= hi[2]; ++z) {
            for (int32_t y = lo[1]; y <= hi[1]; ++y) {
                for (int32_t x = lo[0]; x <= hi[0]; ++x) {
                    f(codeOf(x, y, z));
                }
            }
        }
    };
    // The sheet of triangle i, or -1.
    const auto sheetOfTriangle = [&](size_t i) {
        const uint32_t cell = home[i] & ~kSpans;
        const int32_t s = sheetOf[cell];
        if (s > kMixed) {
            return s;
        }
        for (auto k = static_cast<size_t>(kMixed - s); k < mixed.size() && mixed[k].cell == cell;
             ++k) {
            if (mixed[k].part == classOf[i]) {
                return mixed[k].sheet;
            }
        }
        return -1;
    };

    // Per cell with triangles and side (the first axis on which a box's home differs from the
    // cell, and whether from below or above), the box around what reaches into the cell from
    // there: boxes of its own sheet aside, and cells in no sheet left out. Kept per side, a
    // reach does not cover the whole cell: a face reaching in over one edge of a cell leaves
    // the rest of it clear. A cell of several pieces keeps all that reaches in, and each of
    // its pieces in a sheet what reaches in from other sheets, after the cells' slots.
    std::vector<int32_t> slotOf(codes, -1);
    int32_t slots = 0;
    for (size_t c = 0; c < codes; ++c) {
        if (start[c + 1] > start[c]) {
            slotOf[c] = slots++;
        }
    }
    constexpr int kSides = 6;
    struct Reach {
        int32_t lo[3] = {INT32_MAX, INT32_MAX, INT32_MAX};
        int32_t hi[3] = {INT32_MIN, INT32_MIN, INT32_MIN};
    };
    std::vector<Reach> reach((static_cast<size_t>(slots) + mixed.size()) * kSides);
    const auto sidesOf = [&](size_t slot) { return reach.data() + slot * kSides; };
    const auto lower = [](int32_t& at, int32_t v) {
        std::atomic_ref<int32_t> a(at);
        int32_t seen = a.load(std::memory_order_relaxed);
        while (v < seen && !a.compare_exchange_weak(seen, v, std::memory_order_relaxed)) {
        }
    };
    const auto raise = [](int32_t& at, int32_t v) {
        std::atomic_ref<int32_t> a(at);
        int32_t seen = a.load(std::memory_order_relaxed);
        while (v > seen && !a.compare_exchange_weak(seen, v, std::memory_order_relaxed)) {
        }
    };
    tbb::parallel_for(tbb::blocked_range<size_t>(0, n, 4096),
                      [&](const tbb::blocked_range<size_t>& r) {
                          for (size_t i = r.begin(); i < r.end(); ++i) {
                              if (!t.usable[i] || (home[i] & kSpans) == 0) {
                                  continue;  // unused, or in its home cell alone
                              }
                              const Bounds& b = t.bounds[i];
                              const uint32_t cell = home[i] & ~kSpans;
                              const int32_t own = sheetOfTriangle(i);
                              int32_t at[3], lo[3], hi[3];
                              for (int k = 0; k < 3; ++k) {
                                  at[k] = coordinateOf(cell, k);
                                  lo[k] = ordered(b.lo[k]);
                                  hi[k] = ordered(b.hi[k]);
                              }
                              forCells(i, [&](uint32_t c) {
                                  const int32_t s = sheetOf[c];
                                  if (c == cell || s == -1 || (s >= 0 && s == own)) {
                                      return;
                                  }
                                  int side = 0;
                                  for (int k = 2; k >= 0; --k) {
                                      const int32_t to = coordinateOf(c, k);
                                      side = to != at[k] ? 2 * k + (at[k] > to ? 1 : 0) : side;
                                  }
                                  const auto enter = [&](size_t slot) {
                                      Reach& into = sidesOf(slot)[side];
                                      for (int k = 0; k < 3; ++k) {
                                          lower(into.lo[k], lo[k]);
                                          raise(into.hi[k], hi[k]);
                                      }
                                  };
                                  enter(static_cast<size_t>(slotOf[c]));
                                  for (auto k = static_cast<size_t>(kMixed - s);
                                       s <= kMixed && k < mixed.size() && mixed[k].cell == c; ++k) {
                                      if (mixed[k].sheet >= 0 && mixed[k].sheet != own) {
                                          enter(static_cast<size_t>(slots) + k);
                                      }
                                  }
                              });
                          }
                      });

    // Slots that nothing reaches into: a triangle of such a cell's sheet that stays in the
    // cell is left out without a test.
    std::vector<char> reached(static_cast<size_t>(slots) + mixed.size());
    for (size_t slot = 0; slot < reached.size(); ++slot) {
        const Reach* sides = sidesOf(slot);
        for (int side = 0; side < kSides; ++side) {
            reached[slot] = static_cast<char>(reached[slot] | (sides[side].lo[0] != INT32_MAX));
        }
    }

    // A triangle of a sheet is left out where its box stays in the sheet's cells, apart from
    // other pieces' boxes in them, and away from what reaches into them.
    return tbb::parallel_reduce(
        tbb::blocked_range<size_t>(0, n, 4096), int64_t{0},
        [&](const tbb::blocked_range<size_t>& r, int64_t dropped) {
            for (size_t i = r.begin(); i < r.end(); ++i) {
                if (!t.usable[i]) {
                    continue;
                }
                const int32_t own = sheetOfTriangle(i);
                if (own < 0) {
                    t.sheet[i] = -1 - static_cast<int32_t>(i);
                    continue;
                }
                t.sheet[i] = own;
                if ((home[i] & kSpans) == 0 && sheetOf[home[i]] == own &&
                    !reached[static_cast<size_t>(slotOf[home[i]])]) {
                    t.usable[i] = 0;
                    ++dropped;
                    continue;
                }
                const Bounds& b = t.bounds[i];
                int32_t lo[3], hi[3];
                for (int k = 0; k < 3; ++k) {
                    lo[k] = ordered(b.lo[k]);
                    hi[k] = ordered(b.hi[k]);
                }
                bool inner = true;
                const auto within = [&](uint32_t c) {
                    const int32_t s = sheetOf[c];
                    if (!inner || s == -1 || (s >= 0 && s != own)) {
                        inner = false;
                        return;
                    }
                    const auto clear = [&](size_t slot) {
                        const Reach* sides = sidesOf(slot);
                        for (int side = 0; side < kSides && inner; ++side) {
                            const Reach& into = sides[side];
                            inner = hi[0] < into.lo[0] || into.hi[0] < lo[0] ||
                                    hi[1] < into.lo[1] || into.hi[1] < lo[1] ||
                                    hi[2] < into.lo[2] || into.hi[2] < lo[2];
                        }
                    };
                    // In a cell of several pieces, what reaches in from its own sheet meets it
                    // nowhere; where it has no piece there, all that reaches in counts.
                    bool ownPiece = false;
                    for (auto k = static_cast<size_t>(kMixed - s);
                         s <= kMixed && inner && k < mixed.size() && mixed[k].cell == c; ++k) {
                        const CellPart& p = mixed[k];
                        if (p.sheet == own) {
                            ownPiece = true;
                            clear(static_cast<size_t>(slots) + k);
                            continue;
                        }
                        bool apart = false;
                        for (int a = 0; a < 3; ++a) {
                            apart = apart || b.hi[a] < p.box.lo[a] || p.box.hi[a] < b.lo[a];
                        }
                        inner = apart;
                    }
                    if (!ownPiece) {
                        clear(static_cast<size_t>(slotOf[c]));
                    }
                };
                if ((home[i] & kSpans) == 0) {
                    within(home[i]);
                } else {
                    forCells(i, within);
                }
                if (inner) {
                    t.usable[i] = 0;
                    ++dropped;
                }
            }
            return dropped;
        },
        std::plus<>());
}

}  // namespace korvan::closed
