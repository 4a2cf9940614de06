// Checks and repairs of welded triangle sets: flat triangles, triangles that rounding turned
// over, and the welding of rounded seam points.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <unordered_map>
#include <utility>
#include <vector>

#include "closed/passes.h"
#include "closed/self_crossing.h"
#include "geometry/mesh_topology.h"

namespace korvan::closed {

std::vector<int32_t> flatTriangles(const WeldedView& w, int32_t begin, int32_t end) {
    std::vector<int32_t> flat = selectInOrder(end - begin, [&](int32_t i) {
        return isFlat(w.tris[static_cast<size_t>(begin + i)], w.points);
    });
    for (int32_t& t : flat) {
        t += begin;
    }
    return flat;
}

int64_t repairSlivers(std::vector<Corners>& tris, const std::vector<Point3>& points,
                      const std::vector<char>* suspect, std::vector<int32_t>* source,
                      int64_t* dropped) {
    const auto coordinateOf = [&](int32_t v, int axis) { return coordinate(points[v], axis); };
    // A flip whose far corner is on the line too leaves two flat triangles with shorter long
    // edges, and each round changes a triangle once: a cluster of seam points rounded onto one
    // line (a tool edge along a wall it cut before) takes a round per few of its triangles.
    // Rounds go on while they flip something and, within a few rounds, leave fewer.
    constexpr int kRounds = 256;
    constexpr int kRoundsWithoutFewer = 8;
    std::vector<int32_t> slivers;
    bool flipped = true;
    size_t fewest = SIZE_MAX;
    int sinceFewer = 0;
    for (int round = 0; round < kRounds; ++round) {
        slivers = selectInOrder(static_cast<int32_t>(tris.size()), [&](int32_t t) {
            const Corners& c = tris[t];
            if (suspect != nullptr && !(*suspect)[c[0]] && !(*suspect)[c[1]] && !(*suspect)[c[2]]) {
                return false;
            }
            return c[0] != c[1] && c[1] != c[2] && c[0] != c[2] &&
                   collinear(points[c[0]], points[c[1]], points[c[2]]);
        });
        sinceFewer = slivers.size() < fewest ? 0 : sinceFewer + 1;
        fewest = std::min(fewest, slivers.size());
        if (slivers.empty() || !flipped || sinceFewer == kRoundsWithoutFewer ||
            round == kRounds - 1) {
            break;
        }
        std::vector<int32_t> start(points.size() + 1, 0);
        for (const Corners& c : tris) {
            for (int32_t v : c) {
                ++start[v + 1];
            }
        }
        for (size_t i = 1; i < start.size(); ++i) {
            start[i] += start[i - 1];
        }
        std::vector<int32_t> around(static_cast<size_t>(start.back()));
        std::vector<int32_t> fill(start.begin(), start.end() - 1);
        for (int32_t t = 0; t < static_cast<int32_t>(tris.size()); ++t) {
            for (int32_t v : tris[t]) {
                around[fill[v]++] = t;
            }
        }
        std::vector<char> changed(tris.size(), 0);
        std::vector<char> gone(tris.size(), 0);
        bool anyGone = false;
        flipped = false;
        for (int32_t t : slivers) {
            if (changed[t]) {
                continue;
            }
            const Corners c = tris[t];
            // The middle corner along the axis where the three differ most.
            int axis = 0;
            double widest = -1;
            for (int i = 0; i < 3; ++i) {
                const double lo =
                    std::min({coordinateOf(c[0], i), coordinateOf(c[1], i), coordinateOf(c[2], i)});
                const double hi =
                    std::max({coordinateOf(c[0], i), coordinateOf(c[1], i), coordinateOf(c[2], i)});
                if (hi - lo > widest) {
                    widest = hi - lo;
                    axis = i;
                }
            }
            int m = 0;
            for (int i = 0; i < 3; ++i) {
                const double x = coordinateOf(c[i], axis);
                const double y = coordinateOf(c[(i + 1) % 3], axis);
                const double z = coordinateOf(c[(i + 2) % 3], axis);
                if ((y < x && x < z) || (z < x && x < y)) {
                    m = i;
                }
            }
            const int32_t mid = c[m], a = c[(m + 1) % 3], b = c[(m + 2) % 3];
            for (int32_t k = start[a]; k < start[a + 1]; ++k) {
                const int32_t s = around[k];
                if (s == t || changed[s]) {
                    continue;
                }
                const Corners& n = tris[s];
                int r = -1;
                for (int i = 0; i < 3; ++i) {
                    if (n[i] == b && n[(i + 1) % 3] == a) {
                        r = i;
                    }
                }
                if (r < 0) {
                    continue;
                }
                const int32_t d = n[(r + 2) % 3];
                changed[s] = changed[t] = 1;
                flipped = true;
                if (d == mid) {
                    // Two flat triangles on the same corners facing each other enclose nothing.
                    gone[s] = gone[t] = 1;
                    anyGone = true;
                } else {
                    tris[s] = {b, mid, d};
                    tris[t] = {mid, a, d};
                }
                break;
            }
        }
        if (anyGone) {
            size_t kept = 0;
            for (size_t t = 0; t < tris.size(); ++t) {
                if (gone[t]) {
                    continue;
                }
                tris[kept] = tris[t];
                if (source != nullptr) {
                    (*source)[kept] = (*source)[t];
                }
                ++kept;
            }
            if (dropped != nullptr) {
                *dropped += static_cast<int64_t>(tris.size() - kept);
            }
            tris.resize(kept);
            if (source != nullptr) {
                source->resize(kept);
            }
        }
    }
    return static_cast<int64_t>(slivers.size());
}

namespace {

// The (corner, triangle) uses of the corners marked in `wanted`, sorted by corner.
std::vector<std::pair<int32_t, int32_t>> usesOf(const std::vector<Corners>& tris,
                                                const std::vector<char>& wanted) {
    std::vector<std::pair<int32_t, int32_t>> around;
    for (int32_t t = 0; t < static_cast<int32_t>(tris.size()); ++t) {
        for (int32_t v : tris[t]) {
            if (wanted[v]) {
                around.emplace_back(v, t);
            }
        }
    }
    std::sort(around.begin(), around.end());
    return around;
}

// A folded sliver (a, b, m) whose seam point m rounded across its long edge a-b is flipped with
// the triangle (b, a, d) across that edge into (m, a, d) and (b, m, d), as a flat one would be:
// the surface moves by the sliver's width only, where collapsing an edge would move m by the
// length of one. Both new triangles must face as the neighbour's source does (`facing`, the
// source each triangle is judged by, follows); otherwise nothing changes. Marks the triangles
// changed in `changed` (sized here) with 1, and with 2 a sliver whose neighbour was flipped
// before it; returns the number of flips. `record` gets the ends of every long edge looked
// across and the corners of both triangles of each flip from before it.
template <typename Faces>
int64_t flipSlivers(std::vector<Corners>& tris, std::vector<int32_t>& facing,
                    const std::vector<Point3>& points, const std::vector<char>& seamVertex,
                    const std::vector<int32_t>& folded, const Faces& faces,
                    std::vector<char>& changed, FlipRecord& record, bool anyApex = false) {
    changed.assign(tris.size(), 0);
    std::vector<char> wanted(points.size(), 0);
    for (int32_t t : folded) {
        for (int32_t v : tris[t]) {
            wanted[v] = 1;
        }
    }
    // Triangles around the folded ones' corners.
    const std::vector<std::pair<int32_t, int32_t>> around = usesOf(tris, wanted);
    const auto squared = [&](int32_t x, int32_t y) {
        const Point3& p = points[x];
        const Point3& q = points[y];
        return (p.x - q.x) * (p.x - q.x) + (p.y - q.y) * (p.y - q.y) + (p.z - q.z) * (p.z - q.z);
    };
    int64_t flips = 0;
    for (int32_t t : folded) {
        if (changed[t]) {
            continue;
        }
        const Corners c = tris[t];
        // The long edge a -> b, opposite a seam point m.
        int e = 0;
        for (int k = 1; k < 3; ++k) {
            if (squared(c[k], c[(k + 1) % 3]) > squared(c[e], c[(e + 1) % 3])) {
                e = k;
            }
        }
        const int32_t a = c[e], b = c[(e + 1) % 3], m = c[(e + 2) % 3];
        if (!seamVertex[m] && !anyApex) {
            continue;
        }
        record.across.push_back(a);
        record.across.push_back(b);
        int32_t partner = -1, d = -1, count = 0;
        const auto first = std::lower_bound(around.begin(), around.end(), std::pair(a, INT32_MIN));
        for (auto it = first; it != around.end() && it->first == a; ++it) {
            const Corners& n = tris[it->second];
            for (int k = 0; k < 3; ++k) {
                if (n[k] == b && n[(k + 1) % 3] == a) {
                    partner = it->second;
                    d = n[(k + 2) % 3];
                    ++count;
                }
            }
        }
        // Only across an edge with one triangle the other way, and not into a pillow.
        if (count != 1 || d == m) {
            continue;
        }
        if (changed[partner]) {
            changed[t] = 2;  // the neighbour was flipped this round: tried again in the next
            continue;
        }
        const Corners oldT = tris[t], oldPartner = tris[partner];
        const int32_t oldFacing = facing[t];
        tris[t] = {m, a, d};
        tris[partner] = {b, m, d};
        facing[t] = facing[partner];
        if (faces(t) > 0 && faces(partner) > 0) {
            changed[t] = changed[partner] = 1;
            record.before.emplace_back(t, oldT);
            record.before.emplace_back(partner, oldPartner);
            ++flips;
        } else {
            tris[t] = oldT;
            tris[partner] = oldPartner;
            facing[t] = oldFacing;
        }
    }
    return flips;
}

// Folds that neither a flip nor a short collapse repairs: a seam point rounded across the long
// edge of a sliver wider than a few units in the last place (seam points of two passes meeting
// near an edge, then welded onto its ends). The point's exact place lies within one unit in the
// last place of each neighbouring float, so it moves to the first of those (one coordinate
// changed, then two, then three) around which every triangle faces as its source does and none
// is flat, and where no other vertex stands. Returns the number of points moved.
template <typename Faces>
int64_t nudgeSeamPoints(const std::vector<Corners>& tris, std::vector<Point3>& points,
                        const std::vector<char>& seamVertex, const std::vector<int32_t>& origin,
                        const std::vector<int32_t>& folded, const Faces& faces) {
    std::vector<char> wanted(points.size(), 0);
    for (int32_t t : folded) {
        for (int32_t v : tris[t]) {
            wanted[v] = seamVertex[v] && origin[v] < 0;
        }
    }
    const std::vector<std::pair<int32_t, int32_t>> around = usesOf(tris, wanted);
    const auto key = [](const Point3& p) { return std::array<double, 3>{p.x, p.y, p.z}; };
    std::vector<std::array<double, 3>> taken(points.size());
    std::transform(points.begin(), points.end(), taken.begin(), key);
    std::sort(taken.begin(), taken.end());
    const auto free = [&](const Point3& p) {
        return !std::binary_search(taken.begin(), taken.end(), key(p));
    };
    // The 26 neighbouring floats, fewest coordinates changed first.
    std::vector<std::array<int, 3>> steps;
    for (int changed = 1; changed <= 3; ++changed) {
        for (int dx = -1; dx <= 1; ++dx) {
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dz = -1; dz <= 1; ++dz) {
                    if ((dx != 0) + (dy != 0) + (dz != 0) == changed) {
                        steps.push_back({dx, dy, dz});
                    }
                }
            }
        }
    }
    const auto next = [](double x, int d) {
        const auto f = static_cast<float>(x);
        return d == 0 ? x : static_cast<double>(std::nextafter(f, d > 0 ? HUGE_VALF : -HUGE_VALF));
    };
    int64_t moved = 0;
    for (int32_t t : folded) {
        if (faces(t) > 0) {
            continue;  // mended by a point moved for an earlier fold
        }
        for (int32_t v : tris[t]) {
            if (!wanted[v]) {
                continue;
            }
            const auto first =
                std::lower_bound(around.begin(), around.end(), std::pair(v, INT32_MIN));
            auto last = first;
            while (last != around.end() && last->first == v) {
                ++last;
            }
            const Point3 was = points[v];
            // The triangles near the point's neighbourhood, to count the pairs that cross or
            // touch there before and after a move: a move must lessen them or leave none.
            Box reach = emptyBox();
            for (auto a = first; a != last; ++a) {
                for (int32_t u : tris[a->second]) {
                    grow(reach, Box{{points[u].x, points[u].y, points[u].z},
                                    {points[u].x, points[u].y, points[u].z}});
                }
            }
            const double pad = std::ldexp(
                std::max({std::abs(reach.lo[0]), std::abs(reach.lo[1]), std::abs(reach.lo[2]),
                          std::abs(reach.hi[0]), std::abs(reach.hi[1]), std::abs(reach.hi[2])}),
                -20);
            Welded local;
            std::unordered_map<int32_t, int32_t> localOf;
            for (const Corners& c : tris) {
                bool near = true;
                for (int k = 0; k < 3 && near; ++k) {
                    double lo = HUGE_VAL, hi = -HUGE_VAL;
                    for (int32_t u : c) {
                        const double x = k == 0 ? points[u].x : k == 1 ? points[u].y : points[u].z;
                        lo = std::min(lo, x);
                        hi = std::max(hi, x);
                    }
                    near = hi >= reach.lo[k] - pad && lo <= reach.hi[k] + pad;
                }
                if (!near) {
                    continue;
                }
                Corners l;
                for (int k = 0; k < 3; ++k) {
                    const auto [at, fresh] =
                        localOf.try_emplace(c[k], static_cast<int32_t>(local.points.size()));
                    l[k] = at->second;
                    if (fresh) {
                        local.points.push_back(points[c[k]]);
                    }
                }
                local.tris.push_back(l);
            }
            local.firstOther = static_cast<int32_t>(local.tris.size());
            const auto vAt = localOf.find(v);
            const int32_t vLocal = vAt == localOf.end() ? -1 : vAt->second;
            const int64_t before = selfCrossingPairs(local, 0);
            bool done = false;
            for (const std::array<int, 3>& d : steps) {
                const Point3 p{next(was.x, d[0]), next(was.y, d[1]), next(was.z, d[2])};
                if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z) || !free(p)) {
                    continue;
                }
                points[v] = p;
                done = std::all_of(first, last, [&](const std::pair<int32_t, int32_t>& a) {
                    return !isFlat(tris[a.second], points) && faces(a.second) > 0;
                });
                if (done && vLocal >= 0) {
                    local.points[static_cast<size_t>(vLocal)] = p;
                    const int64_t after = selfCrossingPairs(local, 0);
                    local.points[static_cast<size_t>(vLocal)] = was;
                    done = after == 0 || after < before;
                }
                if (done) {
                    break;
                }
            }
            if (done) {
                ++moved;
                const auto at = std::lower_bound(taken.begin(), taken.end(), key(was));
                taken.erase(at);
                taken.insert(std::lower_bound(taken.begin(), taken.end(), key(points[v])),
                             key(points[v]));
                break;
            }
            points[v] = was;
        }
    }
    return moved;
}

}  // namespace

int64_t unfold(std::vector<Corners>& tris, std::vector<int32_t>& source,
               std::vector<Point3>& points, std::vector<char>& seamVertex,
               std::vector<int32_t>& origin, const Arrangement& arrangement, int64_t* flipCount,
               int64_t* refillCount, FlipRecord* flipRecord) {
    // The source triangle each triangle faces as: its own, or, once flipped, its neighbour's.
    // `source` keeps its order, which a milling step reads.
    std::vector<int32_t> facing;
    FlipRecord record;
    const auto faces = [&](int32_t t) {
        const Corners& c = tris[t];
        const std::array<double, 3> n = crossOf(points[c[0]], points[c[1]], points[c[2]]);
        const int32_t s = facing.empty() ? source[t] : facing[t];
        const std::array<double, 3> r = arrangement.sourceNormal(s < 0 ? ~s : s);
        const double along = n[0] * r[0] + n[1] * r[1] + n[2] * r[2];
        return s < 0 ? -along : along;
    };
    std::vector<int32_t> into(points.size());
    std::iota(into.begin(), into.end(), 0);
    const auto find = [&](int32_t v) {
        while (into[v] != v) {
            into[v] = into[into[v]];
            v = into[v];
        }
        return v;
    };
    // Vertices others were moved onto: their triangles are looked at again, as seam ones are.
    std::vector<char> merged(points.size(), 0);
    int64_t collapsed = 0, flips = 0, refilled = 0;
    for (int round = 0; round < 16; ++round) {
        const std::vector<int32_t> folded =
            selectInOrder(static_cast<int32_t>(tris.size()), [&](int32_t t) {
                const Corners& c = tris[t];
                return (merged[c[0]] || merged[c[1]] || merged[c[2]] || seamVertex[c[0]] ||
                        seamVertex[c[1]] || seamVertex[c[2]]) &&
                       faces(t) < 0;
            });
        if (folded.empty()) {
            break;
        }
        std::vector<char> flipped;
        if (facing.empty()) {
            facing = source;
        }
        const int64_t before = flips + collapsed;
        flips += flipSlivers(tris, facing, points, seamVertex, folded, faces, flipped, record);
        const bool waiting = std::find(flipped.begin(), flipped.end(), 2) != flipped.end();
        for (int32_t t : folded) {
            // Flipped, or waiting for a neighbour flipped this round (collapsed in the last
            // rounds only).
            if (flipped[t] == 1 || (flipped[t] == 2 && round < 12)) {
                continue;
            }
            const Corners c{find(tris[t][0]), find(tris[t][1]), find(tris[t][2])};
            if (c[0] == c[1] || c[1] == c[2] || c[0] == c[2]) {
                continue;  // already collapsed by an earlier merge of this round
            }
            int best = -1;
            double shortest = HUGE_VAL;
            for (int e = 0; e < 3; ++e) {
                const int32_t x = c[e], y = c[(e + 1) % 3];
                if (!seamVertex[x] && !seamVertex[y]) {
                    continue;
                }
                const Point3& p = points[x];
                const Point3& q = points[y];
                const double d = (p.x - q.x) * (p.x - q.x) + (p.y - q.y) * (p.y - q.y) +
                                 (p.z - q.z) * (p.z - q.z);
                if (d < shortest) {
                    shortest = d;
                    best = e;
                }
            }
            if (best < 0) {
                continue;  // its seam corners moved onto input vertices this round
            }
            // Rounding moves a point by half a unit in the last place, so only seam points that
            // close together can have folded a triangle by meeting. A longer collapse would move
            // a point across the part and change its shape; such a fold is left as it is.
            double scale = 0;
            for (int32_t v : c) {
                scale = std::max(
                    {scale, std::abs(points[v].x), std::abs(points[v].y), std::abs(points[v].z)});
            }
            const double reach = std::ldexp(scale, -18);
            if (shortest > reach * reach) {
                continue;
            }
            const int32_t x = c[best], y = c[(best + 1) % 3];
            // A seam point moves onto an input vertex; of two seam points the later one moves.
            const bool moveX = seamVertex[x] && (!seamVertex[y] || x > y);
            into[moveX ? x : y] = moveX ? y : x;
            merged[moveX ? y : x] = 1;
            ++collapsed;
        }
        size_t kept = 0;
        for (size_t t = 0; t < tris.size(); ++t) {
            const Corners c{find(tris[t][0]), find(tris[t][1]), find(tris[t][2])};
            if (c[0] == c[1] || c[1] == c[2] || c[0] == c[2]) {
                continue;
            }
            tris[kept] = c;
            source[kept] = source[t];
            if (!facing.empty()) {
                facing[kept] = facing[t];
            }
            ++kept;
        }
        tris.resize(kept);
        source.resize(kept);
        if (!facing.empty()) {
            facing.resize(kept);
        }
        if (flips + collapsed == before && !waiting) {
            break;  // the folds left are too wide to collapse and could not be flipped
        }
    }
    const std::vector<int32_t> wide =
        selectInOrder(static_cast<int32_t>(tris.size()), [&](int32_t t) {
            const Corners& c = tris[t];
            // Facing across its source too: a piece whose corners rounded onto one plane
            // square to its source (a sliver of a wall onto a coordinate plane).
            return (seamVertex[c[0]] || seamVertex[c[1]] || seamVertex[c[2]]) &&
                   (faces(t) < 0 || (faces(t) == 0 && !isFlat(c, points)));
        });
    if (!wide.empty()) {
        // A seam point welded onto an input vertex across an edge folds a sliver whose apex is
        // an input vertex; the flip across its long edge gives back the triangles it was cut
        // from.
        if (facing.empty()) {
            facing = source;
        }
        std::vector<char> flipped;
        const std::vector<int32_t> turned = selectInOrder(
            static_cast<int32_t>(wide.size()), [&](int32_t i) { return faces(wide[i]) < 0; });
        std::vector<int32_t> over(turned.size());
        std::transform(turned.begin(), turned.end(), over.begin(),
                       [&](int32_t i) { return wide[i]; });
        flips += flipSlivers(tris, facing, points, seamVertex, over, faces, flipped, record, true);
        // What the flips left: seam points turned over are moved first, then faces along a
        // coordinate plane triangulated again, and seam points of pieces left in such a plane
        // square to their source (slivers of a wall rounded onto it) moved where that failed.
        const auto alongAxis = [&](const Corners& c) {
            const Point3 &a = points[c[0]], &b = points[c[1]], &d = points[c[2]];
            return (a.x == b.x && a.x == d.x) || (a.y == b.y && a.y == d.y) ||
                   (a.z == b.z && a.z == d.z);
        };
        const auto left = [&](const std::vector<int32_t>& from, bool square) {
            std::vector<int32_t> out;
            for (int32_t t : from) {
                const double f = faces(t);
                if (f < 0 || (square && f == 0 && alongAxis(tris[t]))) {
                    out.push_back(t);
                }
            }
            return out;
        };
        nudgeSeamPoints(tris, points, seamVertex, origin, left(wide, false), faces);
        if (const std::vector<int32_t> still = left(wide, true); !still.empty()) {
            refilled = refillPlanarFolds(tris, source, facing, points, still, faces);
            if (refilled > 0) {
                // The refill moved triangles to the end: look for what is left anew.
                const std::vector<int32_t> after =
                    selectInOrder(static_cast<int32_t>(tris.size()), [&](int32_t t) {
                        const Corners& c = tris[t];
                        return (seamVertex[c[0]] || seamVertex[c[1]] || seamVertex[c[2]]) &&
                               !isFlat(c, points);
                    });
                nudgeSeamPoints(tris, points, seamVertex, origin, left(after, true), faces);
            } else {
                nudgeSeamPoints(tris, points, seamVertex, origin, still, faces);
            }
        }
    }
    // Two triangles on the same corners facing each other enclose nothing. They arise where
    // corners were merged, and where two faces meeting at an edge were each cut off by a sliver
    // whose seam point rounded onto that edge: two flat triangles, which no flip can repair.
    const std::vector<int32_t> suspects =
        selectInOrder(static_cast<int32_t>(tris.size()), [&](int32_t t) {
            const Corners& c = tris[t];
            return merged[c[0]] || merged[c[1]] || merged[c[2]] ||
                   ((seamVertex[c[0]] || seamVertex[c[1]] || seamVertex[c[2]]) &&
                    collinear(points[c[0]], points[c[1]], points[c[2]]));
        });
    bool dropped = false;
    if (!suspects.empty()) {
        std::vector<std::pair<Corners, int32_t>> sorted;
        sorted.reserve(suspects.size());
        for (int32_t t : suspects) {
            Corners c = tris[t];
            std::sort(c.begin(), c.end());
            sorted.emplace_back(c, t);
        }
        std::sort(sorted.begin(), sorted.end());
        std::vector<char> drop(tris.size(), 0);
        for (size_t i = 0; i + 1 < sorted.size();) {
            size_t j = i;
            while (j < sorted.size() && sorted[j].first == sorted[i].first) {
                ++j;
            }
            // Within a group every corner order is one of two windings; pair them off.
            std::vector<int32_t> way[2];
            for (size_t k = i; k < j; ++k) {
                const Corners& c = tris[sorted[k].second];
                const int32_t lo = sorted[i].first[0];
                const int at = c[0] == lo ? 0 : c[1] == lo ? 1 : 2;
                way[c[(at + 1) % 3] == sorted[i].first[1] ? 0 : 1].push_back(sorted[k].second);
            }
            for (size_t k = 0; k < std::min(way[0].size(), way[1].size()); ++k) {
                drop[way[0][k]] = drop[way[1][k]] = 1;
                dropped = true;
            }
            i = j;
        }
        size_t kept = 0;
        for (size_t t = 0; t < tris.size(); ++t) {
            if (!drop[t]) {
                tris[kept] = tris[t];
                source[kept] = source[t];
                ++kept;
            }
        }
        tris.resize(kept);
        source.resize(kept);
    }
    if (flipCount != nullptr) {
        *flipCount = flips;
    }
    if (refillCount != nullptr) {
        *refillCount = refilled;
    }
    if (flipRecord != nullptr) {
        // Ends as input points, before any renumbering below.
        for (int32_t& v : record.across) {
            v = origin[v];
        }
        std::erase(record.across, -1);
        std::sort(record.across.begin(), record.across.end());
        record.across.erase(std::unique(record.across.begin(), record.across.end()),
                            record.across.end());
        // Each triangle's corners from before its first flip.
        std::stable_sort(record.before.begin(), record.before.end(),
                         [](const auto& x, const auto& y) { return x.first < y.first; });
        record.before.erase(
            std::unique(record.before.begin(), record.before.end(),
                        [](const auto& x, const auto& y) { return x.first == y.first; }),
            record.before.end());
        *flipRecord = std::move(record);
    }
    if (collapsed == 0 && !dropped && refilled == 0) {
        return flips;
    }
    if (flipRecord != nullptr) {
        flipRecord->before.clear();  // numbered below by the corners as they are now
    }
    // Number the vertices again in order of first use; merged and unused ones drop out.
    std::vector<int32_t> number(points.size(), -1);
    std::vector<Point3> newPoints;
    std::vector<char> newSeam;
    std::vector<int32_t> newOrigin;
    for (Corners& c : tris) {
        for (int32_t& v : c) {
            if (number[v] < 0) {
                number[v] = static_cast<int32_t>(newPoints.size());
                newPoints.push_back(points[v]);
                newSeam.push_back(seamVertex[v]);
                newOrigin.push_back(origin[v]);
            }
            v = number[v];
        }
    }
    points = std::move(newPoints);
    seamVertex = std::move(newSeam);
    origin = std::move(newOrigin);
    return collapsed + flips;
}

std::vector<int32_t> weldRounded(const std::vector<Vector4>& rounded,
                                 const std::vector<int32_t>& seamUses, int32_t& distinct) {
    // The seam points' positions, welded; each input point inside their box is looked up.
    std::vector<Vector4> seam;
    seam.reserve(seamUses.size());
    float lo[3] = {HUGE_VALF, HUGE_VALF, HUGE_VALF}, hi[3] = {-HUGE_VALF, -HUGE_VALF, -HUGE_VALF};
    for (int32_t i : seamUses) {
        const Vector4& v = rounded[static_cast<size_t>(i)];
        seam.push_back(v);
        const float c[3] = {v.x, v.y, v.z};
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], c[k]);
            hi[k] = std::max(hi[k], c[k]);
        }
    }
    const PositionWeld seamWeld(seam);
    const auto n = static_cast<int32_t>(rounded.size());
    // Each position's first use: its first seam use, or the input point there if that is
    // earlier (one input point per position at most).
    std::vector<int32_t> firstOfPosition(static_cast<size_t>(seamWeld.distinct()));
    for (int32_t k = 0; k < seamWeld.distinct(); ++k) {
        firstOfPosition[static_cast<size_t>(k)] = seamUses[seamWeld.firstVertex[k]];
    }
    std::vector<char> isSeam(static_cast<size_t>(n), 0);
    for (int32_t i : seamUses) {
        isSeam[static_cast<size_t>(i)] = 1;
    }
    std::vector<int32_t> first(static_cast<size_t>(n));
    std::iota(first.begin(), first.end(), 0);
    for (int32_t i = 0; i < n && !seam.empty(); ++i) {
        const Vector4& v = rounded[static_cast<size_t>(i)];
        if (isSeam[static_cast<size_t>(i)] || v.x < lo[0] || v.x > hi[0] || v.y < lo[1] ||
            v.y > hi[1] || v.z < lo[2] || v.z > hi[2]) {
            continue;
        }
        const int32_t k = seamWeld.find(v);
        if (k >= 0) {
            int32_t& f = firstOfPosition[static_cast<size_t>(k)];
            f = std::min(f, i);
            first[static_cast<size_t>(i)] = -1 - k;  // resolved below
        }
    }
    for (size_t j = 0; j < seamUses.size(); ++j) {
        first[static_cast<size_t>(seamUses[j])] =
            firstOfPosition[static_cast<size_t>(seamWeld.ids[j])];
    }
    for (int32_t i = 0; i < n; ++i) {
        int32_t& f = first[static_cast<size_t>(i)];
        if (f < 0) {
            f = firstOfPosition[static_cast<size_t>(-1 - f)];
        }
    }
    std::vector<int32_t> id(static_cast<size_t>(n));
    int32_t count = 0;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t f = first[static_cast<size_t>(i)];
        id[static_cast<size_t>(i)] = f == i ? count++ : id[static_cast<size_t>(f)];
    }
    distinct = count;
    return id;
}

}  // namespace korvan::closed
