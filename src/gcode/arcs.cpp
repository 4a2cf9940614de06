#include "gcode/arcs.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace korvan::gcode {
namespace {

constexpr double kTurn = 2.0 * std::numbers::pi;

struct Axes {
    int a;
    int b;
    int normal;
};

Axes axesOf(Plane plane) {
    switch (plane) {
        case Plane::XY:
            return {0, 1, 2};
        case Plane::ZX:
            return {2, 0, 1};
        case Plane::YZ:
            break;
    }
    return {1, 2, 0};
}

double coordinate(const Position& p, int axis) {
    return axis == 0 ? p.x : axis == 1 ? p.y : p.z;
}

void setCoordinate(Position& p, int axis, double value) {
    (axis == 0 ? p.x : axis == 1 ? p.y : p.z) = value;
}

}  // namespace

double chordAngle(double radius, double tolerance) {
    // A chord spanning angle a lies r (1 - cos(a/2)) = 2 r sin^2(a/4) from its arc at most;
    // the arcsine form keeps its precision where tolerance / radius is tiny.
    const double ratio = std::min(tolerance / (2.0 * radius), 1.0);
    return std::min(4.0 * std::asin(std::sqrt(ratio)), std::numbers::pi / 2.0);
}

ArcFault planArc(const ArcRequest& arc, double tolerance, ArcPlan& plan) {
    const Axes axes = axesOf(arc.plane);
    const double sa = coordinate(arc.start, axes.a);
    const double sb = coordinate(arc.start, axes.b);
    const double ea = coordinate(arc.end, axes.a);
    const double eb = coordinate(arc.end, axes.b);
    const bool closed = sa == ea && sb == eb;

    double ca = arc.centreA;
    double cb = arc.centreB;
    if (arc.byRadius) {
        if (arc.radius == 0.0) {
            return ArcFault::ZeroRadius;
        }
        if (closed) {
            return ArcFault::RadiusFullCircle;
        }
        const double da = ea - sa;
        const double db = eb - sb;
        const double distance = std::hypot(da, db);
        const double r = std::fabs(arc.radius);
        const double half = distance / 2.0;
        double height = 0.0;
        if (half > r) {
            // Within the slack the end points are taken for a diameter's ends.
            if (half - r > arc.slackRelative * r + arc.slackAbsolute) {
                return ArcFault::RadiusTooSmall;
            }
        } else {
            height = std::sqrt((r - half) * (r + half));
        }
        // The shorter arc turns about a centre on the side it turns to: left of the chord for
        // G3, right for G2; a negative R asks for the longer arc, about the other side.
        const double side = (arc.clockwise ? -1.0 : 1.0) * (arc.radius > 0.0 ? 1.0 : -1.0);
        ca = sa + da / 2.0 - side * height * db / distance;
        cb = sb + db / 2.0 + side * height * da / distance;
    }

    const double startRadius = std::hypot(sa - ca, sb - cb);
    const double endRadius = std::hypot(ea - ca, eb - cb);
    if (startRadius == 0.0 || endRadius == 0.0) {
        return ArcFault::ZeroRadius;
    }
    plan.startRadius = startRadius;
    plan.endRadius = endRadius;
    const double larger = std::max(startRadius, endRadius);
    if (!arc.byRadius &&
        std::fabs(startRadius - endRadius) > arc.slackRelative * larger + arc.slackAbsolute) {
        return ArcFault::RadiusMismatch;
    }

    const double startAngle = std::atan2(sb - cb, sa - ca);
    double turn = kTurn;
    if (!closed) {
        const double endAngle = std::atan2(eb - cb, ea - ca);
        turn = arc.clockwise ? startAngle - endAngle : endAngle - startAngle;
        if (turn <= 0.0) {
            turn += kTurn;
        }
    }
    plan.centreA = ca;
    plan.centreB = cb;
    plan.startAngle = startAngle;
    plan.sweep = arc.clockwise ? -turn : turn;
    plan.chords = std::max(1.0, std::ceil(turn / chordAngle(larger, tolerance)));
    return ArcFault::None;
}

Position chordEnd(const ArcRequest& arc, const ArcPlan& plan, int64_t k) {
    const auto n = static_cast<int64_t>(plan.chords);
    if (k >= n) {
        return arc.end;
    }
    const Axes axes = axesOf(arc.plane);
    const double f = static_cast<double>(k) / static_cast<double>(n);
    const double angle = plan.startAngle + plan.sweep * f;
    const double r = plan.startRadius + (plan.endRadius - plan.startRadius) * f;
    const double startNormal = coordinate(arc.start, axes.normal);
    const double endNormal = coordinate(arc.end, axes.normal);
    Position p;
    setCoordinate(p, axes.a, plan.centreA + r * std::cos(angle));
    setCoordinate(p, axes.b, plan.centreB + r * std::sin(angle));
    setCoordinate(p, axes.normal, startNormal + (endNormal - startNormal) * f);
    return p;
}

}  // namespace korvan::gcode
