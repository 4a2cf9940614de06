// Flat faces of a milled part triangulated again: the part keeps its shape exactly and stays
// a result the milling step can cut, while the floor sheds the seams of earlier passes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <vector>

#include "closed/box_bits.h"
#include "closed/closed_boolean.h"
#include "support/mesh_checks.h"
#include "support/random_solids.h"

namespace korvan {
namespace {

Solid box(float x0, float y0, float z0, float x1, float y1, float z1) {
    return test::convexHull({{x0, y0, z0},
                             {x1, y0, z0},
                             {x0, y1, z0},
                             {x1, y1, z0},
                             {x0, y0, z1},
                             {x1, y0, z1},
                             {x0, y1, z1},
                             {x1, y1, z1}});
}

// A slot 14 long and 3 wide through the plate's centre turned by `angle`, moved across itself
// by `shift`, its floor at z = -1.
Solid turnedSlot(double angle, double shift) {
    const double c = std::cos(angle), s = std::sin(angle);
    std::vector<Vector4> corners;
    for (const double u : {-7.0, 7.0}) {
        for (const double v : {-1.5, 1.5}) {
            for (const float z : {-1.0f, 1.0f}) {
                corners.emplace_back(static_cast<float>(10 + c * u - s * (v + shift)),
                                     static_cast<float>(10 + s * u + c * (v + shift)), z);
            }
        }
    }
    return test::convexHull(corners);
}

// The slot turned by a different angle each pass: every pass crosses the floor the passes
// before it left.
Solid slot(int pass) {
    return turnedSlot(0.37 * pass + 0.05, 0);
}

bool meets(const Solid& s, const Vector4& lo, const Vector4& hi) {
    return s.maxCorner.x >= lo.x && s.minCorner.x <= hi.x && s.maxCorner.y >= lo.y &&
           s.minCorner.y <= hi.y && s.maxCorner.z >= lo.z && s.minCorner.z <= hi.z;
}

// Vertices on the plane z = -1 that no triangle off that plane uses: seams left inside the floor.
int innerFloorVertices(const Solid& s) {
    std::vector<char> onFloor(s.vertices.size(), 0), offFloor(s.vertices.size(), 0);
    for (const Triangle& t : s.triangles) {
        const int32_t v[3] = {t.i0, t.i1, t.i2};
        bool flat = true;
        for (const int32_t i : v) {
            flat = flat && s.vertices[static_cast<size_t>(i)].z == -1.0f;
        }
        for (const int32_t i : v) {
            (flat ? onFloor : offFloor)[static_cast<size_t>(i)] = 1;
        }
    }
    int inner = 0;
    for (size_t i = 0; i < s.vertices.size(); ++i) {
        inner += onFloor[i] && !offFloor[i] ? 1 : 0;
    }
    return inner;
}

void expectSame(const Solid& a, const Solid& b) {
    ASSERT_EQ(a.vertices.size(), b.vertices.size());
    ASSERT_EQ(a.triangles.size(), b.triangles.size());
    for (size_t i = 0; i < a.vertices.size(); ++i) {
        ASSERT_EQ(a.vertices[i].x, b.vertices[i].x);
        ASSERT_EQ(a.vertices[i].y, b.vertices[i].y);
        ASSERT_EQ(a.vertices[i].z, b.vertices[i].z);
    }
    for (size_t t = 0; t < a.triangles.size(); ++t) {
        ASSERT_EQ(a.triangles[t].i0, b.triangles[t].i0);
        ASSERT_EQ(a.triangles[t].i1, b.triangles[t].i1);
        ASSERT_EQ(a.triangles[t].i2, b.triangles[t].i2);
    }
}

// Closed, 2-manifold by indices, nothing flat, nothing touching.
void expectSoundPart(const Solid& part) {
    EXPECT_EQ(test::openEdgeCount(part), 0);
    const test::IndexFaults faults = test::indexManifoldFaults(part);
    EXPECT_EQ(faults.edges + faults.vertices, 0);
    EXPECT_EQ(test::degenerateTriangles(part), 0);
    EXPECT_EQ(crossingPairsWithin(part, part.minCorner, part.maxCorner), 0);
}

// The milling step on `part` gives the whole operation's mesh; its report.
ClosedReport millingStepGivesTheWhole(const Solid& part, const Solid& tool) {
    Solid local, whole;
    ClosedReport report;
    EXPECT_TRUE(closedDifferenceOfResult(part, tool, local, &report).ok());
    EXPECT_TRUE(closedBooleanOfResult(part, tool, BooleanOp::Difference, whole).ok());
    expectSame(local, whole);
    return report;
}

// One step of a milling chain: the whole operation on the stock, the milling step after.
bool cut(Solid& part, const Solid& tool, bool first) {
    Solid next;
    const Status s = first ? closedBoolean(part, tool, BooleanOp::Difference, next)
                           : closedDifferenceOfResult(part, tool, next);
    part.swap(next);
    return s.ok();
}

TEST(FlatFaces, FloorsCutAgainLoseTheirSeamsAndKeepTheirShape) {
    constexpr int kPasses = 8;
    Solid plain = box(0, 0, -4, 20, 20, 0), lean = box(0, 0, -4, 20, 20, 0);
    int64_t merged = 0;
    for (int pass = 0; pass < kPasses; ++pass) {
        const Solid tool = slot(pass);
        ASSERT_TRUE(cut(plain, tool, pass == 0) && cut(lean, tool, pass == 0));
        const double before = test::signedVolume(lean);
        const std::vector<Vector4> positions = lean.vertices;
        merged += mergeFlatFaces(lean, tool.minCorner, tool.maxCorner);
        SCOPED_TRACE(pass);
        // Sound, and no vertex unused.
        expectSoundPart(lean);
        std::vector<char> used(lean.vertices.size(), 0);
        for (const Triangle& t : lean.triangles) {
            used[static_cast<size_t>(t.i0)] = used[static_cast<size_t>(t.i1)] =
                used[static_cast<size_t>(t.i2)] = 1;
        }
        EXPECT_EQ(std::count(used.begin(), used.end(), 0), 0);
        // No vertex moved; one that appeared (a lattice point keeping the triangles short)
        // lies inside a face: every triangle at it is in one coordinate plane through it.
        // The volume is the same to rounding of its sum.
        std::vector<int> planeAt(lean.vertices.size(), -1);  // axis bits, all its triangles'
        for (const Triangle& t : lean.triangles) {
            const Vector4* c[3] = {&lean.vertices[static_cast<size_t>(t.i0)],
                                   &lean.vertices[static_cast<size_t>(t.i1)],
                                   &lean.vertices[static_cast<size_t>(t.i2)]};
            const int flat = (c[0]->x == c[1]->x && c[1]->x == c[2]->x ? 1 : 0) |
                             (c[0]->y == c[1]->y && c[1]->y == c[2]->y ? 2 : 0) |
                             (c[0]->z == c[1]->z && c[1]->z == c[2]->z ? 4 : 0);
            for (const int32_t i : {t.i0, t.i1, t.i2}) {
                planeAt[static_cast<size_t>(i)] &= flat;
            }
        }
        for (size_t i = 0; i < lean.vertices.size(); ++i) {
            const Vector4& v = lean.vertices[i];
            const bool old =
                std::find_if(positions.begin(), positions.end(), [&](const Vector4& p) {
                    return p.x == v.x && p.y == v.y && p.z == v.z;
                }) != positions.end();
            EXPECT_TRUE(old || planeAt[i] != 0) << i;
        }
        EXPECT_NEAR(test::signedVolume(lean), before, 1e-12 * before);
        EXPECT_NEAR(test::signedVolume(lean), test::signedVolume(plain), 1e-9 * before);
        // Merged again, nothing changes.
        Solid again;
        again.copyMeshFrom(lean);
        EXPECT_EQ(mergeFlatFaces(again, tool.minCorner, tool.maxCorner), 0);
        expectSame(again, lean);
    }
    EXPECT_GT(merged, 0);
    // Even unmerged, the floor keeps no more points inside it than the merged one's lattice.
    EXPECT_LE(innerFloorVertices(plain), innerFloorVertices(lean));

    // A lean part is still one the milling step takes: its near part gives the whole
    // operation's mesh. The step stays local although the slot's floor lies in the plane of
    // the floor beside it.
    EXPECT_GT(millingStepGivesTheWhole(lean, slot(kPasses)).carriedOver, 0);
}

// One slot moved across itself a little each pass, as passes of a pocket are: each cut splits
// the walls the passes before it left where it crosses their edges, the next splits again at
// those corners. Corners where nothing turns (on a wall's straight edges, inside a sloping
// wall) are dropped, and the part keeps every point where it was.
TEST(FlatFaces, CornersWhereNothingTurnsAreDroppedWithoutMovingAnything) {
    Solid plain = box(0, 0, -4, 20, 20, 0), lean = box(0, 0, -4, 20, 20, 0);
    int64_t dropped = 0;
    for (int pass = 0; pass < 10; ++pass) {
        const Solid tool = turnedSlot(0.3, 0.05 * pass);
        ASSERT_TRUE(cut(plain, tool, pass == 0) && cut(lean, tool, pass == 0));
        const double before = test::signedVolume(lean);
        const std::vector<Vector4> positions = lean.vertices;
        const size_t vertices = lean.vertices.size();
        const int64_t now = dropStraightCorners(lean, tool.minCorner, tool.maxCorner);
        dropped += now;
        SCOPED_TRACE(pass);
        EXPECT_EQ(lean.vertices.size() + static_cast<size_t>(now), vertices);
        expectSoundPart(lean);
        for (const Vector4& v : lean.vertices) {
            EXPECT_TRUE(std::find_if(positions.begin(), positions.end(), [&](const Vector4& p) {
                            return p.x == v.x && p.y == v.y && p.z == v.z;
                        }) != positions.end());
        }
        EXPECT_NEAR(test::signedVolume(lean), before, 1e-12 * before);
        EXPECT_NEAR(test::signedVolume(lean), test::signedVolume(plain), 1e-9 * before);
        // Nothing is left to drop there.
        Solid again;
        again.copyMeshFrom(lean);
        EXPECT_EQ(dropStraightCorners(again, tool.minCorner, tool.maxCorner), 0);
        expectSame(again, lean);
    }
    EXPECT_GT(dropped, 0);
    EXPECT_LT(lean.triangleCount(), plain.triangleCount());
    // Still a part the milling step takes, giving the whole operation's mesh.
    (void)millingStepGivesTheWhole(lean, turnedSlot(0.3, 0.55));
}

// A cube whose front face has a corner halfway along its bottom edge, where a flat triangle
// (the bottom's edge, the corner) closes the seam: a cut can leave one for the next to mend.
// Neither that corner nor the cube's own are dropped, and nothing changes.
TEST(FlatFaces, CornersAtAFlatTriangleAreKept) {
    Solid cube =
        test::makeSolid({{0, 0, 0},
                         {2, 0, 0},
                         {2, 2, 0},
                         {0, 2, 0},
                         {0, 0, 2},
                         {2, 0, 2},
                         {2, 2, 2},
                         {0, 2, 2},
                         {1, 0, 0}},
                        {0, 2, 1, 0, 3, 2,           // bottom, along the edge 0-1
                         0, 8, 4, 8, 1, 5, 8, 5, 4,  // front, along 0-8-1
                         0, 1, 8,                    // flat: 0, 1 and 8 on one line
                         1, 2, 6, 1, 6, 5, 2, 3, 7, 2, 7, 6, 3, 0, 4, 3, 4, 7, 4, 5, 6, 4, 6, 7});
    ASSERT_EQ(test::openEdgeCount(cube), 0);
    ASSERT_NEAR(test::signedVolume(cube), 8.0, 1e-12);
    Solid copy;
    copy.copyMeshFrom(cube);
    EXPECT_EQ(dropStraightCorners(cube, Vector4(-1, -1, -1), Vector4(3, 3, 3)), 0);
    expectSame(cube, copy);
}

// A 10-unit box whose top front edge has a corner in its middle dented in by `dent` (as a seam
// point rounded to a float lies off the rim it belongs to), its front face bent by moving one
// bottom corner back by `bend`, with a speck of a box in front of the dent where `speck`: in
// the air the dent leaves, but across the face the box would have without it.
Solid dentedBox(float dent, float bend, bool speck) {
    std::vector<Vector4> points = {{0, bend, 0}, {10, 0, 0},  {10, 10, 0},
                                   {0, 10, 0},   {0, 0, 10},  {10, 0, 10},
                                   {10, 10, 10}, {0, 10, 10}, {5, dent, 10}};
    std::vector<int32_t> corners = {0, 2, 1, 0, 3, 2,           // bottom
                                    4, 8, 7, 8, 5, 6, 8, 6, 7,  // top, along 4-8-5
                                    0, 1, 8, 1, 5, 8, 0, 8, 4,  // front, along 4-8-5
                                    1, 2, 6, 1, 6, 5, 2, 3, 7, 2, 7, 6, 3, 0, 4, 3, 4, 7};
    if (speck) {
        const Solid s = box(4.99f, -0.2f * dent, 9.9f, 5.01f, 0.3f * dent, 9.95f);
        const auto first = static_cast<int32_t>(points.size());
        points.insert(points.end(), s.vertices.begin(), s.vertices.end());
        for (const Triangle& t : s.triangles) {
            corners.insert(corners.end(), {first + t.i0, first + t.i1, first + t.i2});
        }
    }
    return test::makeSolid(points, corners);
}

// A corner off a straight rim by less than the tolerance goes, one off by more stays, and so
// does one on a rim between faces that are not flat within it; where filling its faces again
// would make them cross another triangle, nothing changes.
TEST(FlatFaces, CornersThatOnlyRoundingTurnsGoWithinTheTolerance) {
    constexpr float kDent = 1e-5f;
    const Vector4 lo(-1, -1, -1), hi(11, 11, 11);
    for (const auto& [dent, bend, tolerance] : {std::tuple(kDent, 0.0f, 0.0),
                                                {kDent, 0.0f, 0.5 * kDent},
                                                {0.0f, 100 * kDent, 2.0 * kDent}}) {
        Solid part = dentedBox(dent, bend, false);
        ASSERT_EQ(test::openEdgeCount(part), 0);
        ASSERT_GT(test::signedVolume(part), 999.9);
        Solid copy;
        copy.copyMeshFrom(part);
        EXPECT_EQ(dropStraightCorners(part, lo, hi, tolerance), 0);
        expectSame(part, copy);
    }
    Solid part = dentedBox(kDent, 0, false);
    const double before = test::signedVolume(part);
    EXPECT_EQ(dropStraightCorners(part, lo, hi, 2.0 * kDent), 1);
    EXPECT_EQ(part.triangleCount(), 12);
    EXPECT_EQ(part.vertexCount(), 8);
    expectSoundPart(part);
    EXPECT_NEAR(test::signedVolume(part), 1000.0, 1e-9);
    EXPECT_LT(test::signedVolume(part) - before, 100.0 * kDent);
    // A corner standing out of the rim held the part's box; the box shrinks with it.
    Solid bulged = dentedBox(-kDent, 0, false);
    bulged.computeBoundingBox();
    ASSERT_EQ(bulged.minCorner.y, -kDent);
    EXPECT_EQ(dropStraightCorners(bulged, lo, hi, 2.0 * kDent), 1);
    expectSoundPart(bulged);
    EXPECT_EQ(bulged.minCorner.y, 0.0f);

    Solid specked = dentedBox(kDent, 0, true);
    ASSERT_EQ(crossingPairsWithin(specked, lo, hi), 0);
    Solid copy;
    copy.copyMeshFrom(specked);
    EXPECT_EQ(dropStraightCorners(specked, lo, hi, 2.0 * kDent), 0);
    expectSame(specked, copy);
}

TEST(FlatFaces, FacesWithNothingInsideOrOutsideTheBoxAreLeftAlone) {
    Solid part = box(0, 0, -4, 20, 20, 0);
    Solid cut;
    ASSERT_TRUE(closedBoolean(part, slot(0), BooleanOp::Difference, cut).ok());
    Solid copy;
    copy.copyMeshFrom(cut);
    // The first slot's floor has no corner inside it, and no room for lattice points; the
    // faces that get them once are left alone when merged again.
    (void)mergeFlatFaces(cut, cut.minCorner, cut.maxCorner);
    copy.copyMeshFrom(cut);
    EXPECT_EQ(mergeFlatFaces(cut, cut.minCorner, cut.maxCorner), 0);
    expectSame(cut, copy);
    Solid next;
    ASSERT_TRUE(closedDifferenceOfResult(cut, slot(1), next).ok());
    ASSERT_GT(innerFloorVertices(next), 0);
    // A box that meets no flat triangle of the part changes nothing.
    const Vector4 far(100, 100, 100);
    ASSERT_FALSE(meets(next, far, far));
    copy.copyMeshFrom(next);
    EXPECT_EQ(mergeFlatFaces(next, far, far), 0);
    expectSame(next, copy);
}

// A cut is made lean only where it made corners: a dent a cut left goes, the same dent on a
// part the cut did not change stays (it was tried when it was made), and so does everything
// where the only new position in the tool's box is a point no triangle uses.
TEST(FlatFaces, LeanAroundACutTakesOnlyWhatTheCutMade) {
    const Solid tool = box(4, -1, 9, 6, 1, 11);
    const Solid plain = box(0, 0, 0, 10, 10, 10);
    Solid part = dentedBox(1e-6f, 0, false);
    Solid copy;
    copy.copyMeshFrom(part);
    LeanCounts counts = leanAroundCut(part, copy, tool, Vector4());
    EXPECT_EQ(counts.mergedFaces + counts.droppedCorners, 0);
    expectSame(part, copy);

    const Solid before = dentedBox(1e-6f, 0, false);
    part.vertices.push_back(Vector4(5, 0.5f, 10.5f));
    copy.copyMeshFrom(part);
    counts = leanAroundCut(part, before, tool, Vector4(0, 0, 0.25f));
    EXPECT_EQ(counts.mergedFaces + counts.droppedCorners, 0);
    expectSame(part, copy);

    part = dentedBox(1e-6f, 0, false);
    counts = leanAroundCut(part, plain, tool, Vector4());
    EXPECT_EQ(counts.droppedCorners, 1);
    expectSoundPart(part);
    EXPECT_NEAR(test::signedVolume(part), 1000.0, 1e-9);
}

// The passes over a milled part test its vertices against a box in floats; the answers must be
// those of the box's own double bounds, for coordinates on, just inside and just beyond bounds
// that are floats and bounds that are not.
TEST(FlatFaces, BoxBitsAnswerAsTheDoubleBoundsDo) {
    const double bounds[] = {0.0, 1.0, -3.5, 0.1, -0.1, 1e-40, 12345.678901234, 3e38};
    for (const double lo : bounds) {
        for (const double hi : bounds) {
            const closed::Bound l = {lo, lo - 1.0, lo + 0.25};
            const closed::Bound h = {hi, hi + 1.0, hi - 0.25};
            const closed::BoxBits box(l, h);
            for (int axis = 0; axis < 3; ++axis) {
                for (const double at : {l[axis], h[axis]}) {
                    const float f = static_cast<float>(at);
                    for (const float c :
                         {std::nextafter(f, -INFINITY), f, std::nextafter(f, INFINITY)}) {
                        Vector4 v(0, 0, 0);
                        (axis == 0 ? v.x : axis == 1 ? v.y : v.z) = c;
                        const float p[3] = {v.x, v.y, v.z};
                        int expected = 0;
                        for (int k = 0; k < 3; ++k) {
                            expected |= (p[k] < l[k]) << k | (p[k] > h[k]) << (k + 3);
                        }
                        EXPECT_EQ(box(v), expected) << lo << " " << hi << " " << axis << " " << c;
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace korvan
