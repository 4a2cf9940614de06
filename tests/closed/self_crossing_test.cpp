// Pairs of one operand's triangles that meet other than in what they share: counted by hand
// for small solids, and against an exact intersection of every pair of triangles.
#include "closed/self_crossing.h"

#include <CGAL/Exact_predicates_exact_constructions_kernel.h>
#include <CGAL/Intersections_3/Triangle_3_Triangle_3.h>
#include <gtest/gtest.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "generator/generators.h"
#include "formats/mesh_file.h"
#include "meshio/load.h"
#include "support/mesh_checks.h"

namespace korvan::closed {
namespace {

using EK = CGAL::Exact_predicates_exact_constructions_kernel;
using EP = EK::Point_3;

struct V {
    float x, y, z;
};

V operator+(V a, V b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}

// Operands built from positions; equal positions get one id, as the engine's weld gives them.
// Everything goes to object 1 until second() is called.
struct Builder {
    Welded w;
    std::map<std::array<float, 3>, int32_t> ids;
    bool split = false;

    int32_t point(V p) {
        const std::array<float, 3> key{p.x + 0.0f, p.y + 0.0f, p.z + 0.0f};
        const auto [it, fresh] = ids.emplace(key, static_cast<int32_t>(w.points.size()));
        if (fresh) {
            w.points.push_back({key[0], key[1], key[2]});
        }
        return it->second;
    }
    void triangle(int32_t a, int32_t b, int32_t c) { w.tris.push_back({a, b, c}); }
    void triangle(V a, V b, V c) { triangle(point(a), point(b), point(c)); }
    void second() {
        w.firstOther = static_cast<int32_t>(w.tris.size());
        split = true;
    }
    WeldedView view() const {
        return {w.points, w.tris, split ? w.firstOther : static_cast<int32_t>(w.tris.size())};
    }
    int64_t crossings(int side = 0, int64_t limit = INT64_MAX) const {
        return selfCrossingPairs(view(), side, limit);
    }
    void solid(const Solid& s) {
        for (const Triangle& t : s.triangles) {
            const auto at = [&](int32_t i) {
                const Vector4& v = s.vertices[static_cast<size_t>(i)];
                return point({v.x, v.y, v.z});
            };
            triangle(at(t.i0), at(t.i1), at(t.i2));
        }
    }
};

// A parallelepiped with corner o and edges e1, e2, e3 (right-handed), turned outward: corner
// i + 2j + 4k lies at o + i e1 + j e2 + k e3, and each face is two triangles. The faces k = 0
// and k = 1 are cut from corner 0 to 3 and from 4 to 7.
void box(Builder& b, V o, V e1, V e2, V e3) {
    int32_t c[8];
    for (int i = 0; i < 8; ++i) {
        V p = o;
        if (i & 1) {
            p = p + e1;
        }
        if (i & 2) {
            p = p + e2;
        }
        if (i & 4) {
            p = p + e3;
        }
        c[i] = b.point(p);
    }
    const int faces[12][3] = {{0, 2, 3}, {0, 3, 1}, {4, 5, 7}, {4, 7, 6}, {0, 4, 6}, {0, 6, 2},
                              {1, 3, 7}, {1, 7, 5}, {0, 1, 5}, {0, 5, 4}, {2, 6, 7}, {2, 7, 3}};
    for (const auto& f : faces) {
        b.triangle(c[f[0]], c[f[1]], c[f[2]]);
    }
}

// The axis-parallel box [lo, hi].
void box(Builder& b, V lo, V hi) {
    box(b, lo, {hi.x - lo.x, 0, 0}, {0, hi.y - lo.y, 0}, {0, 0, hi.z - lo.z});
}

EP exact(const Point3& p) {
    return EP(p.x, p.y, p.z);
}

// The reference: whether the exact intersection of triangles x and y reaches beyond the
// points they share. The intersection is convex, so its corners tell.
bool meetBeyondSharedExactly(const WeldedView& w, const Corners& x, const Corners& y) {
    std::vector<EP> shared;
    for (int32_t a : x) {
        for (int32_t b : y) {
            if (a == b) {
                shared.push_back(exact(w.points[static_cast<size_t>(a)]));
            }
        }
    }
    if (shared.size() == 3) {
        return true;
    }
    const auto triangle = [&](const Corners& t) {
        return EK::Triangle_3(exact(w.points[static_cast<size_t>(t[0])]),
                              exact(w.points[static_cast<size_t>(t[1])]),
                              exact(w.points[static_cast<size_t>(t[2])]));
    };
    const auto result = CGAL::intersection(triangle(x), triangle(y));
    if (!result) {
        return false;
    }
    std::vector<EP> corners;
    if (const EP* p = boost::get<EP>(&*result)) {
        corners = {*p};
    } else if (const EK::Segment_3* s = boost::get<EK::Segment_3>(&*result)) {
        corners = {s->source(), s->target()};
    } else if (const EK::Triangle_3* t = boost::get<EK::Triangle_3>(&*result)) {
        corners = {t->vertex(0), t->vertex(1), t->vertex(2)};
    } else if (const auto* polygon = boost::get<std::vector<EP>>(&*result)) {
        corners = *polygon;
    }
    for (const EP& c : corners) {
        const bool inShared = (shared.size() == 1 && c == shared[0]) ||
                              (shared.size() == 2 && EK::Segment_3(shared[0], shared[1]).has_on(c));
        if (!inShared) {
            return true;
        }
    }
    return false;
}

bool proper(const WeldedView& w, const Corners& t) {
    return t[0] != t[1] && t[1] != t[2] && t[0] != t[2] &&
           !CGAL::collinear(exact(w.points[static_cast<size_t>(t[0])]),
                            exact(w.points[static_cast<size_t>(t[1])]),
                            exact(w.points[static_cast<size_t>(t[2])]));
}

// Every pair of proper triangles of the operand whose boxes meet, intersected exactly.
int64_t referenceCount(const WeldedView& w, int side) {
    const int32_t first = side == 0 ? 0 : w.firstOther;
    const int32_t last = side == 0 ? w.firstOther : static_cast<int32_t>(w.tris.size());
    std::vector<Corners> tris;
    std::vector<std::array<double, 6>> boxes;
    for (int32_t t = first; t < last; ++t) {
        const Corners& c = w.tris[static_cast<size_t>(t)];
        if (!proper(w, c)) {
            continue;
        }
        std::array<double, 6> b{HUGE_VAL, HUGE_VAL, HUGE_VAL, -HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
        for (int32_t id : c) {
            const Point3& p = w.points[static_cast<size_t>(id)];
            const double xyz[3] = {p.x, p.y, p.z};
            for (int k = 0; k < 3; ++k) {
                b[k] = std::min(b[k], xyz[k]);
                b[k + 3] = std::max(b[k + 3], xyz[k]);
            }
        }
        tris.push_back(c);
        boxes.push_back(b);
    }
    int64_t count = 0;
    for (size_t i = 0; i < tris.size(); ++i) {
        for (size_t j = i + 1; j < tris.size(); ++j) {
            const auto& a = boxes[i];
            const auto& b = boxes[j];
            if (a[3] < b[0] || b[3] < a[0] || a[4] < b[1] || b[4] < a[1] || a[5] < b[2] ||
                b[5] < a[2]) {
                continue;
            }
            count += meetBeyondSharedExactly(w, tris[i], tris[j]) ? 1 : 0;
        }
    }
    return count;
}

TEST(SelfCrossing, BoxThroughAFaceCrossesTheFaceTriangleWithEachOfItsSideTriangles) {
    // The small box's sides (8 triangles) pass through the big box's top face z = 4 inside
    // its triangle (4, 7, 6), the one with y > x; nothing else meets.
    Builder b;
    box(b, {0, 0, 0}, {4, 4, 4});
    box(b, {0.5f, 2.5f, 3}, {1.5f, 3.5f, 5});
    EXPECT_EQ(b.crossings(), 8);
    // Through the bottom face as well: the bottom's triangle (0, 2, 3) with y > x too.
    Builder through;
    box(through, {0, 0, 0}, {4, 4, 4});
    box(through, {0.5f, 2.5f, -1}, {1.5f, 3.5f, 5});
    EXPECT_EQ(through.crossings(), 16);
    EXPECT_EQ(referenceCount(through.view(), 0), 16);
}

TEST(SelfCrossing, VertexPushedThroughTheOppositeFaceCrossesIt) {
    // A unit box whose top is a fan of four triangles around a centre vertex, pushed down to
    // (0.3, 0.4, -0.5). At z = 0 the fan's triangles cut the quadrilateral (0.2, 0.2667),
    // (0.5333, 0.2667), (0.5333, 0.6), (0.2, 0.6); the bottom's diagonal y = x crosses its
    // first two sides, so the fan and the bottom's two triangles make 2 + 2 + 1 + 1 pairs.
    Builder b;
    const V c[8] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0},
                    {0, 0, 1}, {1, 0, 1}, {0, 1, 1}, {1, 1, 1}};
    const int sides[10][3] = {{0, 2, 3}, {0, 3, 1}, {0, 4, 6}, {0, 6, 2}, {1, 3, 7},
                              {1, 7, 5}, {0, 1, 5}, {0, 5, 4}, {2, 6, 7}, {2, 7, 3}};
    for (const auto& f : sides) {
        b.triangle(c[f[0]], c[f[1]], c[f[2]]);
    }
    Builder flat = b;
    const V top[4] = {c[4], c[5], c[7], c[6]};
    for (int i = 0; i < 4; ++i) {
        flat.triangle({0.5f, 0.5f, 1}, top[i], top[(i + 1) % 4]);
        b.triangle({0.3f, 0.4f, -0.5f}, top[i], top[(i + 1) % 4]);
    }
    EXPECT_EQ(flat.crossings(), 0);
    EXPECT_EQ(b.crossings(), 6);
    EXPECT_EQ(referenceCount(b.view(), 0), 6);
}

TEST(SelfCrossing, TriangleFoldedOntoItsEdgeNeighbourCrossesIt) {
    const V a{0, 0, 0}, bb{1, 1, 0}, c{1, 0, 0};
    Builder flat;  // d on the other side of ab
    flat.triangle(a, c, bb);
    flat.triangle(a, bb, {0, 1, 0});
    EXPECT_EQ(flat.crossings(), 0);
    Builder folded;  // d on c's side of ab, in the same plane
    folded.triangle(a, c, bb);
    folded.triangle(a, bb, {0.75f, 0.25f, 0});
    EXPECT_EQ(folded.crossings(), 1);
    Builder raised;  // the same, lifted off the plane: only the edge in common
    raised.triangle(a, c, bb);
    raised.triangle(a, bb, {0.75f, 0.25f, 0.001f});
    EXPECT_EQ(raised.crossings(), 0);
    Builder tilted;  // folded in a plane no axis is normal to
    tilted.triangle({0, 0, 0}, {1, 0, 1}, {1, 1, 2});
    tilted.triangle({0, 0, 0}, {1, 1, 2}, {0.75f, 0.25f, 1});
    EXPECT_EQ(tilted.crossings(), 1);
    tilted.w.tris.back()[2] = tilted.point({0, 1, 1});
    EXPECT_EQ(tilted.crossings(), 0);
}

TEST(SelfCrossing, TrianglesOnTheSameThreePointsCross) {
    Builder b;
    box(b, {0, 0, 0}, {1, 1, 1});
    // The box's first triangle once more, turned the other way: it meets that triangle all
    // over, and its neighbours only along their common edges.
    const Corners t = b.w.tris[0];
    b.triangle(t[0], t[2], t[1]);
    EXPECT_EQ(b.crossings(), 1);
    // A separate two-sided triangle.
    const int32_t p = b.point({3, 0, 0}), q = b.point({4, 0, 0}), r = b.point({3, 1, 0.5f});
    b.triangle(p, q, r);
    b.triangle(p, r, q);
    EXPECT_EQ(b.crossings(), 2);
}

TEST(SelfCrossing, CornerOfABoxOnAFaceOfAnotherCounts) {
    // A parallelepiped standing on its corner (0.25, 0.5, 1), inside the top triangle (4, 7, 6)
    // of the unit box: each of its 6 triangles at that corner touches the top triangle there.
    Builder b;
    box(b, {0, 0, 0}, {1, 1, 1});
    box(b, {0.25f, 0.5f, 1}, {1, 0, 1}, {0, 1, 1}, {-1, -1, 1});
    EXPECT_EQ(b.crossings(), 6);
    EXPECT_EQ(referenceCount(b.view(), 0), 6);
    // Lifted a little, it touches nothing.
    Builder lifted;
    box(lifted, {0, 0, 0}, {1, 1, 1});
    box(lifted, {0.25f, 0.5f, 1.001f}, {1, 0, 1}, {0, 1, 1}, {-1, -1, 1});
    EXPECT_EQ(lifted.crossings(), 0);
}

TEST(SelfCrossing, BoxesSharingOnlyAnEdgeDoNotCross) {
    // Two solids touching along the edge x = y = 1: four triangles on it, two each way, and
    // coplanar faces on either side of it.
    Builder b;
    box(b, {0, 0, 0}, {1, 1, 1});
    box(b, {1, 1, 0}, {2, 2, 1});
    EXPECT_EQ(b.crossings(), 0);
    EXPECT_EQ(referenceCount(b.view(), 0), 0);
    // Sharing a face's worth of plane, the second box half over the first's side: their
    // coplanar faces overlap.
    Builder overlapping;
    box(overlapping, {0, 0, 0}, {1, 1, 1});
    box(overlapping, {1, 0.5f, 0}, {2, 1.5f, 1});
    EXPECT_EQ(overlapping.crossings(), referenceCount(overlapping.view(), 0));
    EXPECT_GT(overlapping.crossings(), 0);
}

TEST(SelfCrossing, FanAroundAVertexDoesNotCrossUnlessFoldedOver) {
    const V v{0, 0, 0};
    const V ring[6] = {{2, 0, 0}, {1, 2, 0}, {-1, 2, 0}, {-2, 0, 0}, {-1, -2, 0}, {1, -2, 0}};
    Builder flat, cone;
    for (int i = 0; i < 6; ++i) {
        const V p = ring[i], q = ring[(i + 1) % 6];
        flat.triangle(v, p, q);
        cone.triangle(v, {p.x, p.y, i % 2 ? -1.0f : 0.5f}, {q.x, q.y, i % 2 ? 0.5f : -1.0f});
    }
    EXPECT_EQ(flat.crossings(), 0);
    EXPECT_EQ(cone.crossings(), 0);

    // Only the corner in common: the far edge of one passes through the other.
    const V a{1, 0, 0}, b{0, 1, 0};
    Builder through;
    through.triangle(v, a, b);
    through.triangle(v, {0.25f, 0.25f, 1}, {0.25f, 0.25f, -1});
    EXPECT_EQ(through.crossings(), 1);
    Builder behind;
    behind.triangle(v, a, b);
    behind.triangle(v, {-1, -1, 1}, {-1, -1, -1});
    EXPECT_EQ(behind.crossings(), 0);
    // Here the other's far edge misses, but this one's edge ab passes through it.
    Builder across;
    across.triangle(v, a, b);
    across.triangle(v, {2, 2, 1}, {2, 2, -1});
    EXPECT_EQ(across.crossings(), 1);

    // In one plane: angles at the corner that overlap, or share a ray, or do not meet.
    Builder overlap, alongRay, apart;
    overlap.triangle(v, {2, 0, 0}, {1, 2, 0});
    overlap.triangle(v, {3, 1, 0}, {-1, 3, 0});
    alongRay.triangle(v, {2, 0, 0}, {1, 2, 0});
    alongRay.triangle(v, {2, -2, 0}, {4, 0, 0});
    apart.triangle(v, {2, 0, 0}, {1, 2, 0});
    apart.triangle(v, {-2, 0, 0}, {-1, -2, 0});
    EXPECT_EQ(overlap.crossings(), 1);
    EXPECT_EQ(alongRay.crossings(), 1);
    EXPECT_EQ(apart.crossings(), 0);

    // A fan with one ring point moved across its neighbour: (v, p1, p2) turns over onto
    // (v, p0, p1) and past it onto (v, p5, p0).
    Builder folded = flat;
    folded.w.tris[1][2] = folded.point({1, -1, 0});
    folded.w.tris[2][1] = folded.w.tris[1][2];
    EXPECT_EQ(folded.crossings(), referenceCount(folded.view(), 0));
    EXPECT_GE(folded.crossings(), 2);
}

TEST(SelfCrossing, FanWindingTwiceAroundItsVertexCrossesItself) {
    // Eight quarter turns around v, each seen from above turning the same way, the ring
    // climbing all the way: the second round passes over the first, and the two rounds must
    // meet where the climb comes back down.
    const V v{0, 0, 0};
    const V ring[8] = {{2, 0, -1}, {0, 2, -0.75f}, {-2, 0, -0.5f}, {0, -2, -0.25f},
                       {1, 0, 0},  {0, 1, 0.25f},  {-1, 0, 0.5f},  {0, -1, 0.75f}};
    Builder b;
    for (int i = 0; i < 8; ++i) {
        b.triangle(v, ring[i], ring[(i + 1) % 8]);
    }
    const int64_t expected = referenceCount(b.view(), 0);
    EXPECT_GT(expected, 0);
    EXPECT_EQ(b.crossings(), expected);
}

TEST(SelfCrossing, TrianglesWithoutAreaOrWithBadCornersTakeNoPart) {
    Builder b;
    box(b, {0, 0, 0}, {1, 1, 1});
    // Across the top face: three points on one line, and a corner repeated.
    b.triangle({-1, 0.5f, 1}, {0.5f, 0.5f, 1}, {2, 0.5f, 1});
    const int32_t p = b.point({0.25f, 0.75f, 0.5f}), q = b.point({0.25f, 0.75f, 2});
    b.triangle(p, q, p);
    EXPECT_EQ(b.crossings(), 0);
    // A corner id past the points, and a corner that is not a number, through the box.
    b.triangle(p, q, static_cast<int32_t>(b.w.points.size()) + 5);
    b.triangle(p, q, -1);
    b.w.points.push_back({std::nan(""), 0.5, 0.5});
    b.triangle(p, q, static_cast<int32_t>(b.w.points.size()) - 1);
    b.w.points.push_back({HUGE_VAL, 0.5, 0.5});
    b.triangle(p, q, static_cast<int32_t>(b.w.points.size()) - 1);
    EXPECT_EQ(b.crossings(), 0);
    // A proper triangle through the top face, inside its triangle (4, 7, 6), still counts.
    b.triangle(p, q, b.point({0.3f, 0.7f, 2}));
    EXPECT_EQ(b.crossings(), 1);
}

TEST(SelfCrossing, CountsOnlyTheGivenOperand) {
    Builder b;
    box(b, {0, 0, 0}, {4, 4, 4});
    box(b, {0.5f, 2.5f, 3}, {1.5f, 3.5f, 5});
    b.second();
    box(b, {0, 0, 0}, {1, 1, 1});  // meets object 1 but not itself
    EXPECT_EQ(b.crossings(0), 8);
    EXPECT_EQ(b.crossings(1), 0);
    Builder swapped;
    box(swapped, {0, 0, 0}, {1, 1, 1});
    swapped.second();
    box(swapped, {0, 0, 0}, {4, 4, 4});
    box(swapped, {0.5f, 2.5f, 3}, {1.5f, 3.5f, 5});
    EXPECT_EQ(swapped.crossings(0), 0);
    EXPECT_EQ(swapped.crossings(1), 8);
}

TEST(SelfCrossing, StopsCountingAtTheLimit) {
    Builder b;
    box(b, {0, 0, 0}, {4, 4, 4});
    box(b, {0.5f, 2.5f, -1}, {1.5f, 3.5f, 5});
    for (int64_t limit = 0; limit <= 20; ++limit) {
        EXPECT_EQ(b.crossings(0, limit), std::min<int64_t>(limit, 16)) << limit;
    }
    EXPECT_EQ(b.crossings(0, -3), 0);
}

TEST(SelfCrossing, FarApartPartsAndHugeTrianglesAreCountedAlike) {
    // Parts far apart on every axis leave most of the grid empty.
    Builder far;
    box(far, {0, 0, 0}, {4, 4, 4});
    box(far, {0.5f, 2.5f, 3}, {1.5f, 3.5f, 5});
    box(far, {2000, 3000, 4000}, {2001, 3001, 4001});
    box(far, {-2000, 1000, -3000}, {-1999, 1001, -2999});
    EXPECT_EQ(far.crossings(), 8);

    // Two huge triangles under a hundred small boxes, one of which passes through them.
    Builder huge;
    huge.triangle({-1000, -1000, 0}, {1000, 1000, 0}, {-1000, 1000, 0});
    huge.triangle({-1000, -1000, 0}, {1000, -1000, 0}, {1000, 1000, 0});
    for (int i = 0; i < 10; ++i) {
        for (int j = 0; j < 10; ++j) {
            const V lo{static_cast<float>(i), static_cast<float>(j), 1};
            box(huge, lo, {lo.x + 0.5f, lo.y + 0.5f, 1.5f});
        }
    }
    box(huge, {0.25f, 2.25f, -0.5f}, {0.75f, 2.75f, 0.5f});
    EXPECT_EQ(huge.crossings(), 8);
    EXPECT_EQ(referenceCount(huge.view(), 0), 8);
}

// Random triangles over a few points of a lattice: many shared corners and edges, repeated
// triangles, coplanar overlaps, corners on other triangles' edges.
Builder randomSoup(std::mt19937& rng, int kind) {
    std::uniform_int_distribution<int> coordinate(0, 3);
    std::uniform_int_distribution<int> pick(0, 99);
    Builder b;
    std::vector<int32_t> lattice;
    const auto at = [&](int i, int j, int k) -> V {
        switch (kind) {
            case 0:  // a cube of points
                return {0.5f * static_cast<float>(i), 0.5f * static_cast<float>(j),
                        0.5f * static_cast<float>(k)};
            case 1:  // one axis plane
                return {static_cast<float>(i + 4 * k), static_cast<float>(j), 2.0f};
            case 2:  // one tilted plane, exactly: x + y + z = 6
                return {static_cast<float>(i + 4 * k), static_cast<float>(j),
                        static_cast<float>(6 - i - 4 * k - j)};
            default:  // a cube of rounded points
                return {0.1f * static_cast<float>(i), 0.3f * static_cast<float>(j),
                        0.7f * static_cast<float>(k)};
        }
    };
    const int32_t count = 14 + pick(rng) % 16;
    for (int32_t t = 0; t < count; ++t) {
        const int roll = pick(rng);
        if (roll < 10 && !b.w.tris.empty()) {
            // A triangle again, either way round.
            Corners c = b.w.tris[static_cast<size_t>(pick(rng)) % b.w.tris.size()];
            if (roll < 5) {
                std::swap(c[1], c[2]);
            }
            b.triangle(c[0], c[1], c[2]);
            continue;
        }
        Corners c{};
        for (int32_t& id : c) {
            id = b.point(at(coordinate(rng), coordinate(rng), coordinate(rng) % 2));
        }
        if (roll < 40 && !b.w.tris.empty()) {
            // On an edge of an earlier triangle.
            const Corners& o = b.w.tris[static_cast<size_t>(pick(rng)) % b.w.tris.size()];
            const int e = pick(rng) % 3;
            c[0] = o[static_cast<size_t>(e)];
            c[1] = o[static_cast<size_t>((e + 1) % 3)];
        }
        if (proper(b.view(), c)) {
            b.triangle(c[0], c[1], c[2]);
        }
    }
    return b;
}

TEST(SelfCrossing, CountsEveryPairThatAnExactIntersectionFinds) {
    std::mt19937 rng(20240611);
    int64_t total = 0;
    for (int round = 0; round < 400; ++round) {
        const Builder b = randomSoup(rng, round % 4);
        const int64_t expected = referenceCount(b.view(), 0);
        ASSERT_EQ(b.crossings(), expected) << "round " << round;
        total += expected;
    }
    EXPECT_GT(total, 400);  // the soups do cross, often
}

TEST(SelfCrossing, SameCountOnOneThreadAndOnMany) {
    std::mt19937 rng(7);
    Builder b;
    for (int part = 0; part < 40; ++part) {
        const Builder soup = randomSoup(rng, part % 4);
        const float shift = 3.0f * static_cast<float>(part);
        for (const Corners& c : soup.w.tris) {
            Corners moved{};
            for (int k = 0; k < 3; ++k) {
                const Point3& p = soup.w.points[static_cast<size_t>(c[static_cast<size_t>(k)])];
                moved[static_cast<size_t>(k)] =
                    b.point({static_cast<float>(p.x) + shift, static_cast<float>(p.y),
                             static_cast<float>(p.z)});
            }
            b.triangle(moved[0], moved[1], moved[2]);
        }
    }
    int64_t one = 0, many = 0;
    tbb::task_arena(1).execute([&] { one = b.crossings(); });
    tbb::task_arena(2).execute([&] { many = b.crossings(); });
    EXPECT_EQ(one, many);
    EXPECT_EQ(one, referenceCount(b.view(), 0));
}

// A generated solid with about one point in eight moved by up to `reach` on each axis; with
// `inFace`, only points inside a face of the cube [-1, 1]^3 move, and only within it.
Builder dented(const PrimitiveParameters& p, float factor, float reach, bool inFace,
               uint32_t seed) {
    Solid s;
    EXPECT_TRUE(generateObject(p, factor, s).ok());
    Builder b;
    b.solid(s);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> move(-reach, reach);
    std::uniform_int_distribution<int> pick(0, 7);
    Builder out;
    std::vector<V> moved(b.w.points.size());
    for (size_t i = 0; i < b.w.points.size(); ++i) {
        const Point3& q = b.w.points[i];
        V v{static_cast<float>(q.x), static_cast<float>(q.y), static_cast<float>(q.z)};
        if (pick(rng) == 0) {
            float* c[3] = {&v.x, &v.y, &v.z};
            int onFace = 0;
            for (float* x : c) {
                onFace += std::abs(*x) == 1.0f ? 1 : 0;
            }
            if (!inFace || onFace == 1) {
                for (float* x : c) {
                    const float d = move(rng);
                    if (!inFace || std::abs(*x) != 1.0f) {
                        *x += d;
                    }
                }
            }
        }
        moved[i] = v;
    }
    for (const Corners& c : b.w.tris) {
        const int32_t ids[3] = {out.point(moved[static_cast<size_t>(c[0])]),
                                out.point(moved[static_cast<size_t>(c[1])]),
                                out.point(moved[static_cast<size_t>(c[2])])};
        out.triangle(ids[0], ids[1], ids[2]);
    }
    return out;
}

TEST(SelfCrossing, CountsDentedSolidsAsAnExactIntersectionOfEveryPairDoes) {
    struct Case {
        PrimitiveParameters shape;
        float factor, reach;
        bool inFace;
    };
    const Case cases[] = {{PrimitiveParameters::sphere(10, 14, 1.0f), 0.08f, 0.12f, false},
                          {PrimitiveParameters::sphere(10, 14, 1.0f), 0.08f, 0.3f, false},
                          {PrimitiveParameters::cube(2), 0.06f, 0.1f, true},
                          {PrimitiveParameters::cube(2), 0.06f, 0.12f, false},
                          {PrimitiveParameters::cylinder(12, 1.0f, 2.0f), 0.08f, 0.1f, false}};
    uint32_t seed = 1;
    for (const Case& c : cases) {
        const Builder b = dented(c.shape, c.factor, c.reach, c.inFace, seed++);
        SCOPED_TRACE(static_cast<int>(c.shape.shape));
        SCOPED_TRACE(c.reach);
        const int64_t expected = referenceCount(b.view(), 0);
        EXPECT_GT(expected, 0);
        int64_t one = 0, two = 0;
        tbb::task_arena(1).execute([&] { one = b.crossings(); });
        tbb::task_arena(2).execute([&] { two = b.crossings(); });
        EXPECT_EQ(one, expected);
        EXPECT_EQ(two, expected);
    }
}

TEST(SelfCrossing, ClosedDataMeshesDoNotCrossThemselves) {
    const char* names[] = {"conway-hart-A7-flipped.obj",
                           "netgen-hinge.obj",
                           "netgen-part1.obj",
                           "npm-bunny.obj",
                           "openfoam-blob.obj",
                           "openfoam-flange.obj",
                           "prusa-box.obj",
                           "prusa-m3-hex-nut.obj",
                           "prusa-sphere.obj",
                           "prusa-torus.obj",
                           "qt3d-trefoil.obj",
                           "full-style/converted-conway-hart-tI.obj",
                           "full-style/cura-cremaker-platform-200.obj",
                           "full-style/cura-tinyboy-ra20.obj",
                           "full-style/qt3d-ball.obj",
                           "full-style/sh3d-scopia-old-jar.obj"};
    for (const char* name : names) {
        for (const float factor : {0.0f, 0.05f}) {
            Solid s;
            ASSERT_TRUE(loadObject(test::dataFile(name), factor, s).ok()) << name;
            Builder b;
            b.solid(s);
            EXPECT_EQ(b.crossings(), 0) << name << " at " << factor;
        }
    }
}

TEST(SelfCrossing, CountsTheOpenTeapotsCrossingsExactly) {
    // Its spout and handle pass into the body without being cut.
    Solid s;
    ASSERT_TRUE(loadObject(test::dataFile("open-npm-teapot.obj"), 0.0f, s).ok());
    Builder b;
    b.solid(s);
    const int64_t count = b.crossings();
    EXPECT_EQ(count, referenceCount(b.view(), 0));
    EXPECT_GT(count, 0);
}

}  // namespace
}  // namespace korvan::closed
