// Pairs of one operand's triangles that meet other than in what they share: counted by hand
// for small solids, and against an exact intersection of every pair of triangles.
#include "closed/self_crossing.h"

#include <CGAL/Exact_predicates_exact_constructions_kernel.h>
#include <CGAL/Intersections_3/Triangle_3_Triangle_3.h>
#include <gtest/gtest.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "formats/mesh_file.h"
#include "generator/generators.h"
#include "meshio/load.h"
#include "support/format_checks.h"
#include "support/mesh_checks.h"

namespace korvan::closed {
namespace {

using EK = CGAL::Exact_predicates_exact_constructions_kernel;
using EP = EK::Point_3;

struct V {
    float x, y, z;
};

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

// The axis-parallel box [lo, hi], turned outward: corner i + 2j + 4k takes hi on the axes
// whose bit is set, and each face is two triangles; the top is cut from corner 4 to 7.
void box(Builder& b, V lo, V hi) {
    int32_t c[8];
    for (int i = 0; i < 8; ++i) {
        c[i] = b.point({(i & 1) ? hi.x : lo.x, (i & 2) ? hi.y : lo.y, (i & 4) ? hi.z : lo.z});
    }
    const int faces[12][3] = {{0, 2, 3}, {0, 3, 1}, {4, 5, 7}, {4, 7, 6}, {0, 4, 6}, {0, 6, 2},
                              {1, 3, 7}, {1, 7, 5}, {0, 1, 5}, {0, 5, 4}, {2, 6, 7}, {2, 7, 3}};
    for (const auto& f : faces) {
        b.triangle(c[f[0]], c[f[1]], c[f[2]]);
    }
}

EP exact(const Point3& p) {
    return EP(p.x, p.y, p.z);
}

EK::Triangle_3 exactTriangle(const WeldedView& w, const Corners& t) {
    return EK::Triangle_3(exact(w.points[static_cast<size_t>(t[0])]),
                          exact(w.points[static_cast<size_t>(t[1])]),
                          exact(w.points[static_cast<size_t>(t[2])]));
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
    const auto result = CGAL::intersection(exactTriangle(w, x), exactTriangle(w, y));
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
    return t[0] != t[1] && t[1] != t[2] && t[0] != t[2] && !exactTriangle(w, t).is_degenerate();
}

// Every pair of object 1's proper triangles whose boxes meet, intersected exactly; with
// `fresh`, only pairs with a fresh triangle.
int64_t referenceCount(const WeldedView& w, const std::vector<char>* fresh = nullptr) {
    std::vector<Corners> tris;
    std::vector<CGAL::Bbox_3> boxes;
    std::vector<char> isFresh;
    for (int32_t t = 0; t < w.firstOther; ++t) {
        const Corners& c = w.tris[static_cast<size_t>(t)];
        if (proper(w, c)) {
            tris.push_back(c);
            boxes.push_back(exactTriangle(w, c).bbox());
            isFresh.push_back(fresh == nullptr || (*fresh)[static_cast<size_t>(t)] != 0);
        }
    }
    int64_t count = 0;
    for (size_t i = 0; i < tris.size(); ++i) {
        for (size_t j = i + 1; j < tris.size(); ++j) {
            if ((isFresh[i] || isFresh[j]) && CGAL::do_overlap(boxes[i], boxes[j]) &&
                meetBeyondSharedExactly(w, tris[i], tris[j])) {
                ++count;
            }
        }
    }
    return count;
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
    const int64_t expected = referenceCount(b.view());
    EXPECT_GT(expected, 0);
    EXPECT_EQ(b.crossings(), expected);
}

// Large fans (a stock's corner fanned to a pocket's outline, a wall's slivers gathered at one
// corner) are sorted out by the directions their triangles span around the vertex; the count
// must stay the exact one. Far corners on a small lattice around the vertex give shared edges,
// coplanar neighbours, edges along each other and overlaps; some fans lie in one plane, as a
// face fanned from one corner does, some in one plane but for one triangle turned over.
TEST(SelfCrossing, LargeFansCountAsAnExactIntersectionOfEveryPairDoes) {
    std::mt19937 rng(20261208);
    std::uniform_int_distribution<int> coordinate(-3, 3);
    std::uniform_int_distribution<int> size(12, 60);
    int64_t total = 0;
    for (int round = 0; round < 120; ++round) {
        Builder b;
        const V v{0.5f, 0.25f, 0};
        const int kind = round % 3;
        const auto corner = [&]() -> V {
            const auto c = [&] { return static_cast<float>(coordinate(rng)); };
            const float z = kind == 0 ? c() : 0.0f;
            return {v.x + c(), v.y + 0.37f * c(), z};
        };
        const int n = size(rng);
        if (kind == 2) {
            // A flat face fanned from v to a line, tiled once, with one triangle flipped over.
            for (int i = 0; i < n; ++i) {
                const V p{10.0f - 0.25f * static_cast<float>(i), 7, 0};
                const V q{9.75f - 0.25f * static_cast<float>(i), 7, 0};
                if (i == n / 2) {
                    b.triangle(v, p, V{q.x, -7, 0});
                } else {
                    b.triangle(v, q, p);
                }
            }
        } else {
            for (int i = 0; i < n; ++i) {
                const V p = corner(), q = corner();
                if (proper(b.view(), {b.point(v), b.point(p), b.point(q)})) {
                    b.triangle(v, p, q);
                }
            }
        }
        const int64_t expected = referenceCount(b.view());
        ASSERT_EQ(b.crossings(), expected) << "round " << round;
        total += expected;
    }
    EXPECT_GT(total, 120);
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

TEST(SelfCrossing, CountsOnlyTheGivenOperandUpToTheLimit) {
    // In object 1 a small box passes through the big one's top face: its 8 side triangles
    // cross the face's triangle (4, 7, 6). Object 2 meets object 1 but not itself.
    Builder b;
    box(b, {0, 0, 0}, {4, 4, 4});
    box(b, {0.5f, 2.5f, 3}, {1.5f, 3.5f, 5});
    b.second();
    box(b, {0, 0, 0}, {1, 1, 1});
    EXPECT_EQ(b.crossings(0), 8);
    EXPECT_EQ(referenceCount(b.view()), 8);
    EXPECT_EQ(b.crossings(1), 0);
    // Through the bottom face as well: 16 pairs, counted up to the limit asked for.
    Builder through;
    box(through, {0, 0, 0}, {4, 4, 4});
    box(through, {0.5f, 2.5f, -1}, {1.5f, 3.5f, 5});
    for (int64_t limit = 0; limit <= 20; ++limit) {
        EXPECT_EQ(through.crossings(0, limit), std::min<int64_t>(limit, 16)) << limit;
    }
    EXPECT_EQ(through.crossings(0, -3), 0);
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
    EXPECT_EQ(referenceCount(huge.view()), 8);
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
        const int64_t expected = referenceCount(b.view());
        ASSERT_EQ(b.crossings(), expected) << "round " << round;
        total += expected;
    }
    EXPECT_GT(total, 400);  // the soups do cross, often
}

// A generated solid with about one point in `oneIn` moved by up to `reach` on each axis; with
// `inFace`, only points inside a face of the cube [-1, 1]^3 move, and only within it.
Builder dented(const PrimitiveParameters& p, float factor, float reach, bool inFace, uint32_t seed,
               int oneIn = 8) {
    Solid s;
    EXPECT_TRUE(generateObject(p, factor, s).ok());
    Builder b;
    b.solid(s);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> move(-reach, reach);
    std::uniform_int_distribution<int> pick(0, oneIn - 1);
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
        const int64_t expected = referenceCount(b.view());
        EXPECT_GT(expected, 0);
        int64_t one = 0, two = 0;
        tbb::task_arena(1).execute([&] { one = b.crossings(); });
        tbb::task_arena(2).execute([&] { two = b.crossings(); });
        EXPECT_EQ(one, expected);
        EXPECT_EQ(two, expected);
        // A step that changed some triangles asks only for the pairs with one of them.
        std::mt19937 rng(seed);
        std::vector<char> fresh(static_cast<size_t>(b.view().firstOther));
        for (char& f : fresh) {
            f = rng() % 5 == 0 ? 1 : 0;
        }
        EXPECT_EQ(selfCrossingPairs(b.view(), 0, INT64_MAX, {}, &fresh),
                  referenceCount(b.view(), &fresh));
        std::fill(fresh.begin(), fresh.end(), 0);
        EXPECT_EQ(selfCrossingPairs(b.view(), 0, INT64_MAX, {}, &fresh), 0);
    }
}

// Large solids go through sheets: parts of the surface proven free of crossings, whose inner
// triangles are not tested. Crossings inside a sheet's cell, across cells and with huge
// triangles from far away must all still be found: the count is the same as where every
// triangle is tested (a step's count with every triangle fresh takes no sheets).
TEST(SelfCrossing, SheetsOfLargeSolidsHideNoCrossing) {
    const auto generated = [](const PrimitiveParameters& p, float factor, Vector4 by) {
        Solid s;
        EXPECT_TRUE(generateObject(p, factor, s).ok());
        s.translate(by);
        return s;
    };
    const PrimitiveParameters sphere = PrimitiveParameters::sphere(10, 14, 1.0f);
    const Solid fineSphere = generated(sphere, 0.015f, Vector4(0, 0, 0));
    struct Case {
        const char* name;
        Builder b;
        bool crosses;
    };
    std::vector<Case> cases;
    const auto add = [&](const char* name, const std::vector<const Solid*>& parts, bool crosses) {
        Builder b;
        for (const Solid* s : parts) {
            b.solid(*s);
        }
        cases.push_back({name, std::move(b), crosses});
    };
    add("sphere", {&fineSphere}, false);
    const Solid fineCube = generated(PrimitiveParameters::cube(2), 0.015f, Vector4(0, 0, 0));
    add("cube", {&fineCube}, false);
    const Solid overlapping = generated(sphere, 0.015f, Vector4(0.7f, 0.2f, 0.1f));
    add("two overlapping spheres", {&fineSphere, &overlapping}, true);
    const Solid apart = generated(sphere, 0.015f, Vector4(2.5f, 0, 0));
    add("two spheres apart", {&fineSphere, &apart}, false);
    Solid slab;
    ASSERT_TRUE(generateObject(PrimitiveParameters::box(2.6f, 0.01f, 2.6f), 0.0f, slab).ok());
    slab.translate(Vector4(0.05f, 0.13f, -0.02f));
    add("a sphere cut by a slab of huge triangles", {&fineSphere, &slab}, true);
    {
        // A ramp winding 1.2 times around the z axis, rising and falling back, so that its last
        // fifth crosses its first: seen from above every triangle turns the same way and the
        // outline is one loop, but the loop crosses itself. Small, so that one cell holds it.
        Builder b;
        const double turns = 2.35 * M_PI;
        const auto at = [&](int i, int j) {
            const double angle = turns * i / 120, r = 0.05 + 0.05 * j / 3;
            return V{static_cast<float>(r * std::cos(angle)),
                     static_cast<float>(r * std::sin(angle)),
                     static_cast<float>(0.02 * std::sin(M_PI * i / 120))};
        };
        for (int i = 0; i < 120; ++i) {
            for (int j = 0; j < 3; ++j) {
                b.triangle(at(i, j), at(i, j + 1), at(i + 1, j + 1));
                b.triangle(at(i, j), at(i + 1, j + 1), at(i + 1, j));
            }
        }
        b.solid(generated(sphere, 0.015f, Vector4(1.3f, 1.3f, 1.3f)));
        cases.push_back({"a ramp over itself", std::move(b), true});
    }
    {
        // Two barely overlapping prisms of long triangles: cells sized to them hold all of it,
        // and no sheets are looked for at all.
        Builder b;
        for (const float shift : {0.0f, 1.97f}) {
            constexpr int kSides = 2600;
            const auto rim = [&](int k, float z) {
                const double angle = 2 * M_PI * k / kSides;
                return V{shift + static_cast<float>(std::cos(angle)),
                         static_cast<float>(std::sin(angle)), z + shift};
            };
            for (int k = 0; k < kSides; ++k) {
                b.triangle(rim(k, 0), rim(k + 1, 0), rim(k + 1, 2));
                b.triangle(rim(k, 0), rim(k + 1, 2), rim(k, 2));
                b.triangle(V{shift, 0, shift}, rim(k + 1, 0), rim(k, 0));
                b.triangle(V{shift, 0, 2 + shift}, rim(k, 2), rim(k + 1, 2));
            }
        }
        cases.push_back({"two overlapping prisms of long triangles", std::move(b), true});
    }
    {
        // Thin bars from outside through a cube's face, along its edges' cells: their long
        // triangles have their homes outside the cube and reach into cells where a face's
        // piece lies beside another's.
        std::vector<Solid> bars(5);
        std::vector<const Solid*> parts{&fineCube};
        for (size_t k = 0; k < bars.size(); ++k) {
            ASSERT_TRUE(
                generateObject(PrimitiveParameters::box(1.3f, 0.02f, 0.02f), 0.0f, bars[k]).ok());
            bars[k].translate(Vector4(1.25f, -0.9f + 0.41f * static_cast<float>(k), 1.0f));
            parts.push_back(&bars[k]);
        }
        add("bars through a cube's edge", parts, true);
    }
    cases.push_back({"folds in a cube's faces",
                     dented(PrimitiveParameters::cube(2), 0.015f, 0.03f, true, 7, 2000), true});
    cases.push_back({"a dented sphere", dented(sphere, 0.015f, 0.05f, false, 8), true});
    cases.push_back({"a dented cylinder",
                     dented(PrimitiveParameters::cylinder(24, 1.0f, 2.0f), 0.02f, 0.04f, false, 9),
                     true});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_GT(c.b.view().firstOther, 20000);
        const std::vector<char> all(static_cast<size_t>(c.b.view().firstOther), 1);
        const int64_t expected = selfCrossingPairs(c.b.view(), 0, INT64_MAX, {}, &all);
        EXPECT_EQ(expected > 0, c.crosses);
        int64_t one = 0, two = 0;
        tbb::task_arena(1).execute([&] { one = c.b.crossings(); });
        tbb::task_arena(2).execute([&] { two = c.b.crossings(); });
        EXPECT_EQ(one, expected);
        EXPECT_EQ(two, expected);
    }
}

// The open teapot's spout and handle pass into its body without being cut.
TEST(SelfCrossing, ClosedDataMeshesDoNotCrossThemselvesAndTheOpenTeapotDoes) {
    Solid teapot;
    ASSERT_TRUE(loadObject(test::dataFile("open-npm-teapot.obj"), 0.0f, teapot).ok());
    Builder t;
    t.solid(teapot);
    EXPECT_GT(t.crossings(), 0);
    EXPECT_EQ(t.crossings(), referenceCount(t.view()));
    for (const std::string& name : test::dataMeshNames()) {
        if (name.starts_with("open-")) {
            continue;
        }
        for (const float factor : {0.0f, 0.05f}) {
            Solid s;
            ASSERT_TRUE(loadObject(test::dataFile(name), factor, s).ok()) << name;
            Builder b;
            b.solid(s);
            EXPECT_EQ(b.crossings(), 0) << name << " at " << factor;
        }
    }
}

}  // namespace
}  // namespace korvan::closed
