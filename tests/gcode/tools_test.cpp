#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "gcode/checks.h"
#include "gcode/tools.h"
#include "support/mesh_checks.h"

namespace korvan::gcode {
namespace {

constexpr double kPi = std::numbers::pi;

// The true tool: its profile in the (radius, z) half plane as segments and at most one quarter
// circle (the rounded corner, from straight down to straight out), its volume and its area.
struct Segment {
    double r0, z0, r1, z1;
};
struct Corner {
    double cr, cz, radius;
};
struct TrueTool {
    std::vector<Segment> segments;
    std::optional<Corner> corner;
    double volume = 0;
    double area = 0;
};

TrueTool trueToolOf(const ToolSpec& t) {
    const double r = t.diameter / 2;
    const double l = t.fluteLength;
    TrueTool out;
    const Segment top{r, l, 0, l};
    switch (t.shape) {
        case ToolShape::Flat:
            out.segments = {{0, 0, r, 0}, {r, 0, r, l}, top};
            out.volume = kPi * r * r * l;
            out.area = 2 * kPi * r * r + 2 * kPi * r * l;
            break;
        case ToolShape::Ball:
        case ToolShape::BullNose: {
            const double c = t.shape == ToolShape::Ball ? r : t.cornerRadius;
            out.segments = {{0, 0, r - c, 0}, {r, c, r, l}, top};
            out.corner = Corner{r - c, c, c};
            // Pappus: the quarter disc's centroid lies 4c / (3 pi) out from the corner's centre,
            // the quarter arc's 2c / pi.
            out.volume = kPi * r * r * (l - c) + kPi * (r - c) * (r - c) * c +
                         kPi * kPi * c * c / 2 * (r - c) + 2.0 / 3 * kPi * c * c * c;
            out.area = kPi * (r - c) * (r - c) + kPi * c / 2 * 2 * kPi * (r - c + 2 * c / kPi) +
                       2 * kPi * r * (l - c) + kPi * r * r;
            break;
        }
        case ToolShape::Drill: {
            const double h = r / std::tan(t.tipAngle / 2 * kPi / 180);
            out.segments = {{0, 0, r, h}, {r, h, r, l}, top};
            out.volume = kPi * r * r * h / 3 + kPi * r * r * (l - h);
            out.area = kPi * r * std::hypot(r, h) + 2 * kPi * r * (l - h) + kPi * r * r;
            break;
        }
    }
    return out;
}

// Distance from a point to the true tool's surface (of revolution about z).
double distanceToSurface(const TrueTool& tool, double x, double y, double z) {
    const double pr = std::hypot(x, y);
    double best = INFINITY;
    for (const Segment& s : tool.segments) {
        best =
            std::min(best, checks::distanceToSegment({pr, z, 0}, {s.r0, s.z0, 0}, {s.r1, s.z1, 0}));
    }
    if (tool.corner) {
        const Corner& c = *tool.corner;
        const double angle = std::atan2(z - c.cz, pr - c.cr);
        if (angle >= -kPi / 2 && angle <= 0) {
            best = std::min(best, std::fabs(std::hypot(pr - c.cr, z - c.cz) - c.radius));
        } else {
            best = std::min({best, std::hypot(pr - c.cr, z - c.cz + c.radius),
                             std::hypot(pr - c.cr - c.radius, z - c.cz)});
        }
    }
    return best;
}

// Closed, convex and outward; every vertex on the true surface, every point of every triangle
// within the tolerance of it, and the volume short of the true one by no more than the
// tolerance times the area.
void expectFaithful(const Solid& mesh, const ToolSpec& spec, double tolerance) {
    const TrueTool truth = trueToolOf(spec);
    const double scale = checks::scaleOf(mesh);
    EXPECT_EQ(test::openEdgeCount(mesh), 0);
    EXPECT_EQ(test::degenerateTriangles(mesh), 0);
    EXPECT_LE(checks::largestExcess(mesh, mesh.vertices), 1e-9 * scale);
    EXPECT_EQ(mesh.minCorner.z, 0.0f);
    EXPECT_EQ(mesh.maxCorner.z, static_cast<float>(spec.fluteLength));
    double offSurface = 0;
    for (const Vector4& v : mesh.vertices) {
        offSurface = std::max(offSurface, distanceToSurface(truth, v.x, v.y, v.z));
    }
    EXPECT_LE(offSurface, 1e-6 * scale);
    double worst = 0;
    for (const Triangle& t : mesh.triangles) {
        const Vector4& a = mesh.vertices[static_cast<size_t>(t.i0)];
        const Vector4& b = mesh.vertices[static_cast<size_t>(t.i1)];
        const Vector4& c = mesh.vertices[static_cast<size_t>(t.i2)];
        constexpr int kSteps = 8;
        for (int i = 0; i <= kSteps; ++i) {
            for (int j = 0; i + j <= kSteps; ++j) {
                const double u = double(i) / kSteps;
                const double w = double(j) / kSteps;
                const double s = 1 - u - w;
                worst = std::max(worst, distanceToSurface(truth, s * a.x + u * b.x + w * c.x,
                                                          s * a.y + u * b.y + w * c.y,
                                                          s * a.z + u * b.z + w * c.z));
            }
        }
    }
    EXPECT_LE(worst, tolerance * (1 + 1e-6) + 1e-6 * scale);
    const double volume = test::signedVolume(mesh);
    EXPECT_GT(volume, 0);
    EXPECT_GE(truth.volume - volume, -1e-6 * truth.volume);
    EXPECT_LE(truth.volume - volume, tolerance * truth.area + 1e-6 * truth.volume);
}

TEST(GcodeTools, EveryShapeIsAClosedConvexMeshWithinTheTolerance) {
    const std::vector<ToolSpec> tools = {
        {ToolShape::Flat, 6, 0, 0, 20},      {ToolShape::Ball, 6, 0, 0, 20},
        {ToolShape::Ball, 6, 0, 0, 3},       {ToolShape::BullNose, 10, 1, 0, 25},
        {ToolShape::BullNose, 10, 5, 0, 25}, {ToolShape::BullNose, 10, 0, 0, 25},
        {ToolShape::Drill, 8, 0, 118, 30},   {ToolShape::Drill, 3, 0, 90, 1.5},
        {ToolShape::Drill, 0.5, 0, 30, 2},   {ToolShape::Flat, 0.1, 0, 0, 0.3},
    };
    for (const double tolerance : {0.2, 0.01, 0.002}) {
        for (const ToolSpec& spec : tools) {
            SCOPED_TRACE(testing::Message() << "shape " << int(spec.shape) << " diameter "
                                            << spec.diameter << " tolerance " << tolerance);
            Solid mesh;
            ASSERT_TRUE(makeTool(spec, tolerance, mesh).ok());
            expectFaithful(mesh, spec, tolerance);
        }
    }
}

// The shank of 6 by 30 above flutes of 20: a flat end mill's cylinder, moved up by 20.
TEST(GcodeTools, ShankIsACylinderAboveTheFlutes) {
    Solid shank;
    ASSERT_TRUE(makeShank({6, 30}, 20, 0.01, shank).ok());
    EXPECT_EQ(shank.minCorner.z, 20.0f);
    shank.translate(Vector4(0, 0, -20));
    expectFaithful(shank, {ToolShape::Flat, 6, 0, 0, 30}, 0.01);
}

TEST(GcodeTools, RefusesParametersThatMakeNoToolAndKeepsTheMesh) {
    const std::vector<std::pair<ToolSpec, std::string>> cases = {
        {{ToolShape::Flat, 0, 0, 0, 20}, "Promjer alata mora biti veci od 0"},
        {{ToolShape::Flat, 6, 0, 0, 0}, "Duljina rezanja mora biti veca od 0"},
        {{ToolShape::Flat, std::nan(""), 0, 0, 20},
         "Mjere alata moraju biti konacni brojevi do 1e6"},
        {{ToolShape::Flat, 6, 0, 0, 2e6}, "Mjere alata moraju biti konacni brojevi do 1e6"},
        {{ToolShape::Ball, 6, 0, 0, 2.9},
         "Duljina rezanja kuglastog glodala mora biti barem pola promjera"},
        {{ToolShape::BullNose, 10, 5.5, 0, 20},
         "Polumjer zaobljenja mora biti izmedu 0 i pola promjera"},
        {{ToolShape::BullNose, 10, -1, 0, 20},
         "Polumjer zaobljenja mora biti izmedu 0 i pola promjera"},
        {{ToolShape::BullNose, 10, 2, 0, 1}, "Duljina rezanja mora biti barem polumjer zaobljenja"},
        {{ToolShape::Drill, 8, 0, 180, 30}, "Kut vrha mora biti izmedu 0 i 180 stupnjeva"},
        {{ToolShape::Drill, 8, 0, 0, 30}, "Kut vrha mora biti izmedu 0 i 180 stupnjeva"},
        {{ToolShape::Drill, 8, 0, 10, 30},
         "Duljina rezanja svrdla mora biti barem visina vrha (45.7202)"},
    };
    Solid mesh;
    ASSERT_TRUE(makeTool({ToolShape::Flat, 2, 0, 0, 5}, 0.1, mesh).ok());
    const double before = test::signedVolume(mesh);
    for (const auto& [spec, message] : cases) {
        EXPECT_EQ(makeTool(spec, 0.01, mesh).message(), message);
    }
    const ToolSpec good{ToolShape::Flat, 6, 0, 0, 20};
    EXPECT_EQ(makeTool(good, 0, mesh).message(), "Tolerancija alata mora biti pozitivan broj");
    EXPECT_EQ(makeTool(good, 1e-9, mesh).message(),
              "Tolerancija 1e-09 je premala za ovaj alat (mreza bi imala vise od 200000 tocaka)");
    EXPECT_EQ(makeTool({ToolShape::Ball, 100, 0, 0, 100}, 1e-7, mesh).message(),
              "Tolerancija 1e-07 je premala za ovaj alat (mreza bi imala vise od 200000 tocaka)");
    EXPECT_EQ(makeShank({0, 30}, 20, 0.01, mesh).message(),
              "Promjer i duljina drske moraju biti veci od 0");
    EXPECT_EQ(test::signedVolume(mesh), before);
}

TEST(GcodeTools, ParsesTheCommandLineForms) {
    ToolSpec t;
    const std::pair<std::string, ToolSpec> good[] = {
        {"flat:6,20", {ToolShape::Flat, 6, 0, 0, 20}},
        {"BALL: 6.35 , 19.05", {ToolShape::Ball, 6.35, 0, 0, 19.05}},
        {"bull:10,1.5,25", {ToolShape::BullNose, 10, 1.5, 0, 25}},
        {"drill:8,118,30", {ToolShape::Drill, 8, 0, 118, 30}},
    };
    for (const auto& [text, want] : good) {
        ASSERT_TRUE(parseTool(text, t).ok()) << text;
        EXPECT_EQ(
            std::tie(t.shape, t.diameter, t.cornerRadius, t.tipAngle, t.fluteLength),
            std::tie(want.shape, want.diameter, want.cornerRadius, want.tipAngle, want.fluteLength))
            << text;
    }

    const std::string forms = "ocekuje se flat:D,L, ball:D,L, bull:D,R,L ili drill:D,KUT,L";
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"cone:1,2", "Neispravan alat 'cone:1,2': " + forms},
        {"flat6,20", "Neispravan alat 'flat6,20': " + forms},
        {"flat:6",
         "Neispravan alat 'flat:6': oblik 'flat' treba 2 broja (promjer, duljina "
         "rezanja), a ima 1"},
        {"flat:6,20,",
         "Neispravan alat 'flat:6,20,': oblik 'flat' treba 2 broja (promjer, "
         "duljina rezanja), a ima 3"},
        {"flat:6,abc", "Neispravan alat 'flat:6,abc': neispravan broj 'abc'"},
        {"flat:6,nan", "Neispravan alat 'flat:6,nan': neispravan broj 'nan'"},
        {"flat:6,1e999", "Neispravan alat 'flat:6,1e999': neispravan broj '1e999'"},
        {"flat:-6,20", "Neispravan alat 'flat:-6,20': promjer alata mora biti veci od 0"},
        {"bull:10,6,25",
         "Neispravan alat 'bull:10,6,25': polumjer zaobljenja mora biti izmedu 0 "
         "i pola promjera"},
    };
    const ToolSpec kept = t;
    for (const auto& [text, message] : bad) {
        EXPECT_EQ(parseTool(text, t).message(), message);
    }
    EXPECT_EQ(t.shape, kept.shape);
    EXPECT_EQ(t.diameter, kept.diameter);

    ShankSpec s;
    ASSERT_TRUE(parseShank("6,30", s).ok());
    EXPECT_EQ(s.diameter, 6);
    EXPECT_EQ(s.length, 30);
    EXPECT_EQ(parseShank("6", s).message(), "Neispravna drska '6': ocekuje se promjer,duljina");
    EXPECT_EQ(parseShank("6,x", s).message(), "Neispravna drska '6,x': ocekuju se dva broja");
    EXPECT_EQ(parseShank("0,30", s).message(),
              "Neispravna drska '0,30': promjer i duljina drske moraju biti veci od 0");
}

TEST(GcodeTools, ReadsAToolTable) {
    ToolTable table;
    ASSERT_TRUE(readToolTableText("# shop tools\r\n"
                                  "T1 flat 6 20\r\n"
                                  "\n"
                                  "  t12  BALL 6.35 19   # finishing\n"
                                  "T3 bull 10 1 25\n"
                                  "T4\tdrill 8 118 30",
                                  "tools.txt", table)
                    .ok());
    ASSERT_EQ(table.size(), 4u);
    EXPECT_EQ(table[1].number, 12);
    ASSERT_NE(findTool(table, 12), nullptr);
    EXPECT_EQ(findTool(table, 12)->shape, ToolShape::Ball);
    EXPECT_EQ(findTool(table, 12)->diameter, 6.35);
    EXPECT_EQ(findTool(table, 4)->tipAngle, 118);
    EXPECT_EQ(findTool(table, 2), nullptr);

    const std::vector<std::pair<std::string, std::string>> bad = {
        {"T1 flat 6 20\nT1 ball 6 20\n", "redak 2: alat T1 je vec zadan u retku 1"},
        {"X1 flat 6 20\n", "redak 1: ocekuje se broj alata kao 'T1', a ne 'X1'"},
        {"# a\nT1.5 flat 6 20\n", "redak 2: ocekuje se broj alata kao 'T1', a ne 'T1.5'"},
        {"T1 cone 6 20\n", "redak 1: nepoznat oblik alata 'cone' (flat, ball, bull ili drill)"},
        {"T1 flat 6\n", "redak 1: oblik 'flat' treba 2 broja (promjer, duljina rezanja), a ima 1"},
        {"T1 flat 6 x\n", "redak 1: neispravan broj 'x'"},
        {"T1 ball 6 2\n",
         "redak 1: duljina rezanja kuglastog glodala mora biti barem pola promjera"},
    };
    for (const auto& [text, message] : bad) {
        EXPECT_EQ(readToolTableText(text, "tools.txt", table).message(),
                  "Greska u datoteci tools.txt, " + message);
    }
    EXPECT_EQ(readToolTableText("# none\n\n", "tools.txt", table).message(),
              "Datoteka tools.txt ne sadrzi nijedan alat");
    EXPECT_EQ(table.size(), 4u);
}

}  // namespace
}  // namespace korvan::gcode
