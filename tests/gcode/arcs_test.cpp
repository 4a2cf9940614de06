// Arcs and helices of G2/G3 against the true curve: every chord within the tolerance, ends on
// the circle, turning the right way by the right angle, last end exact.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "gcode/checks.h"
#include "gcode/program.h"

namespace korvan::gcode {
namespace {

constexpr double kPi = std::numbers::pi;

double coordinate(const Position& p, int axis) {
    return axis == 0 ? p.x : axis == 1 ? p.y : p.z;
}

// The true arc: centre (ca, cb) in the plane of axes (a, b), the normal axis going linearly with
// the angle from its start to its end value.
struct TrueArc {
    int a, b, normal;
    double ca, cb, radius;
    double turn;  // signed, counter-clockwise positive
};

Program readProgram(const std::string& text, double tolerance) {
    Program p;
    ReadGcodeOptions options;
    options.arcTolerance = tolerance;
    const Status s = readGcodeText(text, "arc.nc", p, options);
    EXPECT_TRUE(s.ok()) << s.message();
    return p;
}

// Checks the chords moves[first, end of program) that go from `from` along `arc`.
void expectChords(const Program& p, size_t first, const Position& from, const TrueArc& arc,
                  double tolerance) {
    ASSERT_LT(first, p.moves.size());
    const Position& to = p.moves.back().end;
    const double n0 = coordinate(from, arc.normal);
    const double n1 = coordinate(to, arc.normal);
    const auto angleOf = [&](const Position& q) {
        return std::atan2(coordinate(q, arc.b) - arc.cb, coordinate(q, arc.a) - arc.ca);
    };
    double turned = 0.0;
    Position previous = from;
    double previousAngle = angleOf(from);
    double worst = 0.0;
    for (size_t i = first; i < p.moves.size(); ++i) {
        const Move& m = p.moves[i];
        EXPECT_EQ(m.kind, MoveKind::Feed);
        const double r =
            std::hypot(coordinate(m.end, arc.a) - arc.ca, coordinate(m.end, arc.b) - arc.cb);
        EXPECT_NEAR(r, arc.radius, 1e-9 * arc.radius) << "chord " << i;
        double step = angleOf(m.end) - previousAngle;
        step -= 2 * kPi * std::round(step / (2 * kPi));
        EXPECT_GT(step * arc.turn, 0.0) << "chord " << i << " turns the wrong way";
        // Samples of the true helix between the chord's ends.
        for (int k = 0; k <= 64; ++k) {
            const double t = k / 64.0;
            const double angle = previousAngle + t * step;
            const double along = (turned + t * step) / arc.turn;
            Position q;
            double* c[3] = {&q.x, &q.y, &q.z};
            *c[arc.a] = arc.ca + arc.radius * std::cos(angle);
            *c[arc.b] = arc.cb + arc.radius * std::sin(angle);
            *c[arc.normal] = n0 + (n1 - n0) * along;
            worst = std::max(worst, checks::distanceToSegment(q, previous, m.end));
        }
        turned += step;
        EXPECT_NEAR(coordinate(m.end, arc.normal), n0 + (n1 - n0) * turned / arc.turn,
                    1e-9 * (1 + std::fabs(n1 - n0)));
        previous = m.end;
        previousAngle = angleOf(m.end);
    }
    EXPECT_NEAR(turned, arc.turn, 1e-9);
    EXPECT_LE(worst, tolerance * (1 + 1e-9) + 1e-12);
    // Not far more chords than the tolerance needs: within a chord of the fewest that do.
    const double fewest = std::fabs(arc.turn) /
                          (4 * std::asin(std::sqrt(std::min(1.0, tolerance / (2 * arc.radius)))));
    EXPECT_LE(static_cast<double>(p.moves.size() - first), std::max(4.0, std::ceil(fewest)) + 1);
}

// Each arc from where the rapid before it ends, or from the origin.
TEST(GcodeArcs, EveryArcFollowsItsCircleTheRightWayToItsExactEnd) {
    struct Case {
        const char* text;
        TrueArc arc;
        Position end;
        double tolerance = 0.01;
    };
    const double h = std::sqrt(100.0 - 25.0);
    std::vector<Case> cases = {
        // Equal start and end make a full circle; the end may be left out.
        {"G0 X10 Y5\nG2 X10 Y5 I-10 J0\n", {0, 1, 2, 0, 5, 10, -2 * kPi}, {10, 5, 0}},
        {"G0 X1\nG3 I-1\n", {0, 1, 2, 0, 0, 1, 2 * kPi}, {1, 0, 0}, 5.0},
        // Helices move the third axis with the angle.
        {"G0 X5 Y0 Z1\nG3 X5 Y0 Z-2 I-5 J0 F200\n", {0, 1, 2, 0, 0, 5, 2 * kPi}, {5, 0, -2}},
        {"G0 X5 Y0 Z0\nG91 G2 X-10 Z-4 I-5\n", {0, 1, 2, 0, 0, 5, -kPi}, {-5, 0, -4}},
        // R takes the short arc, -R the long one; a diameter apart, a half circle.
        {"G2 X10 Y0 R10\n", {0, 1, 2, 5, -h, 10, -kPi / 3}, {10, 0, 0}},
        {"G2 X10 Y0 R-10\n", {0, 1, 2, 5, h, 10, -5 * kPi / 3}, {10, 0, 0}},
        {"G3 X10 Y0 R10\n", {0, 1, 2, 5, h, 10, kPi / 3}, {10, 0, 0}},
        {"G3 X10 Y0 R-10\n", {0, 1, 2, 5, -h, 10, 5 * kPi / 3}, {10, 0, 0}},
        {"G3 X10 Y0 R5\n", {0, 1, 2, 5, 0, 5, kPi}, {10, 0, 0}},
        // G18 looks at the ZX plane from +Y (Z to the right, X up), G19 at YZ from +X: G2 is
        // clockwise in that view. A helix about Y in G18: Y goes along.
        {"G0 X10 Y3 Z0\nG18 G2 X0 Z10 I-10 K0\n", {2, 0, 1, 0, 0, 10, -kPi / 2}, {0, 3, 10}},
        {"G0 X10 Y3 Z0\nG18 G3 X0 Z10 I-10\n", {2, 0, 1, 0, 0, 10, 3 * kPi / 2}, {0, 3, 10}},
        {"G0 X7 Y10 Z0\nG19 G3 Y0 Z10 J-10 K0\n", {1, 2, 0, 0, 0, 10, kPi / 2}, {7, 0, 10}},
        {"G0 X10 Y0 Z0\nG18 G2 X10 Y-6 Z0 I-10\n", {2, 0, 1, 0, 0, 10, -2 * kPi}, {10, -6, 0}},
    };
    // Quarter arcs: G2 clockwise, G3 counter-clockwise.
    for (const double tolerance : {0.5, 0.01, 0.0001}) {
        cases.push_back({"G0 X10\nG2 X0 Y-10 I-10 J0\n",
                         {0, 1, 2, 0, 0, 10, -kPi / 2},
                         {0, -10, 0},
                         tolerance});
        cases.push_back(
            {"G0 X10\nG3 X0 Y10 I-10\n", {0, 1, 2, 0, 0, 10, kPi / 2}, {0, 10, 0}, tolerance});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.text << " tolerance " << c.tolerance);
        const Program p = readProgram(c.text, c.tolerance);
        ASSERT_FALSE(p.moves.empty());
        const size_t first = p.moves[0].kind == MoveKind::Rapid ? 1 : 0;
        expectChords(p, first, first == 1 ? p.moves[0].end : Position{}, c.arc, c.tolerance);
        EXPECT_EQ(p.moves.back().end, c.end);
    }
    // A large tolerance still keeps four chords of a full circle.
    EXPECT_EQ(readProgram("G0 X1\nG3 I-1\n", 5.0).moves.size(), 5u);
    // A hair more than a diameter apart, within the slack: still a half circle to the end.
    EXPECT_EQ(readProgram("G3 X10.004 Y0 R5\n", 0.01).moves.back().end, (Position{10.004, 0, 0}));
}

TEST(GcodeArcs, EndPointsAreExactWhateverTheRounding) {
    const Program p = readProgram(
        "G0 X0.1 Y0.7\nG3 X-0.45 Y0.85 I-0.35 J-0.2\n"
        "G91 G2 X0.3 Y0.1 R0.31\n",
        0.001);
    const std::vector<Move>& m = p.moves;
    bool sawFirst = false;
    for (size_t i = 1; i < m.size(); ++i) {
        if (m[i].line == 2 && (i + 1 == m.size() || m[i + 1].line == 3)) {
            EXPECT_EQ(m[i].end, (Position{-0.45, 0.85, 0}));
            sawFirst = true;
        }
    }
    EXPECT_TRUE(sawFirst);
    EXPECT_EQ(m.back().end, (Position{-0.45 + 0.3, 0.85 + 0.1, 0}));
}

TEST(GcodeArcs, AbsoluteCentresWithG90Point1) {
    const Program p =
        readProgram("G0 X12 Y2\nG90.1 G3 X2 Y12 I2 J2\nG91.1 G2 X12 Y2 I0 J-10\n", 0.01);
    size_t second = 1;
    while (p.moves[second].line == 2) {
        ++second;
    }
    EXPECT_EQ(p.moves[second - 1].end, (Position{2, 12, 0}));
    EXPECT_EQ(p.moves.back().end, (Position{12, 2, 0}));
    for (const Move& m : p.moves) {
        EXPECT_NEAR(std::hypot(m.end.x - 2, m.end.y - 2), 10, 1e-9);
    }
}

// Ends a post-processor rounded: a start and end radius that differ by up to 0.005 mm
// (0.0002 inch) plus a millionth of the radius are one arc, whose radius then goes from the
// one to the other.
TEST(GcodeArcs, RadiusSlackFollowsTheUnitsAndTheSize) {
    ReadGcodeOptions options;
    Program p;
    EXPECT_TRUE(readGcodeText("G0 X10\nG3 X0 Y10.004 I-10\n", "a.nc", p, options).ok());
    EXPECT_EQ(p.moves.back().end, (Position{0, 10.004, 0}));
    EXPECT_FALSE(readGcodeText("G0 X10\nG3 X0 Y10.006 I-10\n", "a.nc", p, options).ok());
    EXPECT_TRUE(readGcodeText("G20 G0 X1\nG3 X0 Y1.00015 I-1\n", "a.nc", p, options).ok());
    EXPECT_FALSE(readGcodeText("G20 G0 X1\nG3 X0 Y1.0003 I-1\n", "a.nc", p, options).ok());
    options.arcTolerance = 10.0;
    EXPECT_TRUE(readGcodeText("G0 X1000000\nG3 X0 Y1000001 I-1000000\n", "a.nc", p, options).ok());
    EXPECT_FALSE(
        readGcodeText("G0 X1000000\nG3 X0 Y1000001.1 I-1000000\n", "a.nc", p, options).ok());
}

}  // namespace
}  // namespace korvan::gcode
