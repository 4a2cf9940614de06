// Separating the sheets of a solid that touches itself: the result must be 2-manifold by its
// indices, keep every corner where it was, and leave meshes with nothing to separate alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <numeric>
#include <vector>

#include "closed/closed_boolean.h"
#include "generator/generators.h"
#include "geometry/sheets.h"
#include "support/mesh_checks.h"

namespace korvan {
namespace {

// An axis-aligned box as 12 outward triangles, appended to `vertices` and `corners`.
void addBox(std::vector<Vector4>& vertices, std::vector<int32_t>& corners, const Vector4& lo,
            const Vector4& hi) {
    const auto base = static_cast<int32_t>(vertices.size());
    for (int i = 0; i < 8; ++i) {
        vertices.emplace_back((i & 1) ? hi.x : lo.x, (i & 2) ? hi.y : lo.y, (i & 4) ? hi.z : lo.z);
    }
    const int32_t faces[12][3] = {{0, 2, 1}, {1, 2, 3}, {4, 5, 6}, {5, 7, 6}, {0, 1, 4}, {1, 5, 4},
                                  {2, 6, 3}, {3, 6, 7}, {0, 4, 2}, {2, 4, 6}, {1, 3, 5}, {3, 7, 5}};
    for (const auto& f : faces) {
        for (int32_t c : f) {
            corners.push_back(base + c);
        }
    }
}

// Two boxes as one mesh, their shared positions welded into one vertex each.
Solid twoBoxes(const Vector4& lo2, const Vector4& hi2) {
    std::vector<Vector4> vertices;
    std::vector<int32_t> corners;
    addBox(vertices, corners, Vector4(0, 0, 0), Vector4(1, 1, 1));
    addBox(vertices, corners, lo2, hi2);
    std::vector<Vector4> welded;
    for (int32_t& c : corners) {
        const Vector4 p = vertices[static_cast<size_t>(c)];
        const auto at = std::find(welded.begin(), welded.end(), p);
        c = static_cast<int32_t>(at - welded.begin());
        if (at == welded.end()) {
            welded.push_back(p);
        }
    }
    Solid s = test::makeSolid(welded, corners);
    return s;
}

// Volumes of the parts connected through shared vertex indices, in order of first triangle.
std::vector<double> partVolumes(const Solid& s) {
    std::vector<int32_t> part(s.vertices.size());
    std::iota(part.begin(), part.end(), 0);
    const auto root = [&](int32_t v) {
        while (part[static_cast<size_t>(v)] != v) {
            v = part[static_cast<size_t>(v)];
        }
        return static_cast<size_t>(v);
    };
    for (const Triangle& t : s.triangles) {
        part[root(t.i1)] = part[root(t.i2)] = static_cast<int32_t>(root(t.i0));
    }
    std::map<size_t, size_t> order;
    std::vector<double> volumes;
    for (const Triangle& t : s.triangles) {
        const auto [at, fresh] = order.emplace(root(t.i0), volumes.size());
        if (fresh) {
            volumes.push_back(0.0);
        }
        volumes[at->second] += test::signedVolume(
            test::makeSolid({s.vertices[t.i0], s.vertices[t.i1], s.vertices[t.i2]}, {0, 1, 2}));
    }
    return volumes;
}

// The separated mesh has the same corner positions triangle by triangle and the same volume,
// and nothing a tool reading its indices would call non-manifold.
void expectSeparated(const Solid& in, const Solid& out) {
    ASSERT_EQ(in.triangles.size(), out.triangles.size());
    for (size_t t = 0; t < in.triangles.size(); ++t) {
        const Triangle& a = in.triangles[t];
        const Triangle& b = out.triangles[t];
        EXPECT_EQ(in.vertices[a.i0], out.vertices[b.i0]);
        EXPECT_EQ(in.vertices[a.i1], out.vertices[b.i1]);
        EXPECT_EQ(in.vertices[a.i2], out.vertices[b.i2]);
    }
    EXPECT_DOUBLE_EQ(test::signedVolume(in), test::signedVolume(out));
    const test::IndexFaults faults = test::indexManifoldFaults(out);
    EXPECT_EQ(faults.edges, 0);
    EXPECT_EQ(faults.vertices, 0);
    EXPECT_EQ(test::openEdgeCount(out), test::openEdgeCount(in));
}

TEST(Sheets, BoxesTouchingAlongAnEdgeOrAtACornerGetTheirOwnVertices) {
    // Along the edge x = y = 1: four triangles on it, two vertices shared.
    const Solid edge = twoBoxes(Vector4(1, 1, 0), Vector4(2, 2, 1));
    ASSERT_GT(test::indexManifoldFaults(edge).edges, 0);
    Solid out;
    ASSERT_TRUE(separateSheets(edge, out));
    expectSeparated(edge, out);
    EXPECT_EQ(out.vertexCount(), edge.vertexCount() + 2);
    // Each box is a sheet of its own: pairing the triangles around the edge the wrong way
    // would still be manifold by index, but would join the boxes into one crossed surface.
    const std::vector<double> parts = partVolumes(out);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_NEAR(parts[0], 1.0, 1e-12);
    EXPECT_NEAR(parts[1], 1.0, 1e-12);

    // At the corner (1, 1, 1) only: one vertex whose triangles form two fans.
    const Solid corner = twoBoxes(Vector4(1, 1, 1), Vector4(2, 2, 2));
    ASSERT_GT(test::indexManifoldFaults(corner).vertices, 0);
    ASSERT_TRUE(separateSheets(corner, out));
    expectSeparated(corner, out);
    EXPECT_EQ(out.vertexCount(), corner.vertexCount() + 1);

    // A separated mesh read back (copies at equal positions) separates the same way again.
    Solid again;
    ASSERT_TRUE(separateSheets(out, again));
    expectSeparated(out, again);
    EXPECT_EQ(again.vertexCount(), out.vertexCount());
}

TEST(Sheets, AFinOfNoThicknessOnAnEdgeBecomesASheetOfItsOwn) {
    // Rounding can leave two triangles on the same corners facing apart (a sheet of no
    // thickness) hanging on an edge of the solid.
    std::vector<Vector4> vertices;
    std::vector<int32_t> corners;
    addBox(vertices, corners, Vector4(0, 0, 0), Vector4(1, 1, 1));
    vertices.emplace_back(1.0f, 2.0f, 0.5f);  // 8: beyond the edge from corner 3 to corner 7
    corners.insert(corners.end(), {3, 7, 8, 3, 8, 7});
    const Solid fin = test::makeSolid(vertices, corners);
    Solid out;
    ASSERT_TRUE(separateSheets(fin, out));
    expectSeparated(fin, out);
    EXPECT_EQ(out.vertexCount(), fin.vertexCount() + 2);
}

TEST(Sheets, MeshesWithNothingToSeparateAreLeftAlone) {
    Solid sphere;
    MakeSphere(sphere, 12, 16, 1.0f);
    Solid out;
    EXPECT_FALSE(separateSheets(sphere, out));
    // Boxes apart: two sheets, but no shared vertex.
    EXPECT_FALSE(separateSheets(twoBoxes(Vector4(2, 0, 0), Vector4(3, 1, 1)), out));
    // Open: one triangle of the edge-touching pair gone. Not a solid, so not touched.
    Solid open = twoBoxes(Vector4(1, 1, 0), Vector4(2, 2, 1));
    open.triangles.pop_back();
    EXPECT_FALSE(separateSheets(open, out));
}

TEST(Sheets, ClosedResultsThatPinchBecomeManifoldByIndex) {
    // Two boxes meeting along an edge, united by the closed engine: the exact result pinches.
    Solid a, b;
    MakeBox(a, 1.0f, 1.0f, 1.0f);
    MakeBox(b, 1.0f, 1.0f, 1.0f);
    Solid result;
    ClosedReport report;
    ASSERT_TRUE(closedBoolean(a, b, BooleanOp::Union, result, &report, 1, Vector4(1, 1, 0)).ok());
    ASSERT_GT(report.pinchedEdges, 0);
    Solid out;
    ASSERT_TRUE(separateSheets(result, out));
    expectSeparated(result, out);
    // The engine takes the separated solid again.
    Solid again;
    EXPECT_TRUE(
        closedBoolean(out, b, BooleanOp::Difference, again, nullptr, 1, Vector4(0.5f, 0.5f, 0.5f))
            .ok());
}

}  // namespace
}  // namespace korvan
