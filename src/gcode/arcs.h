// Arcs and helices of G2/G3 as chords: centre, sweep and the points that stand in for them.
// Private to the G-code reader.
#pragma once

#include <cstdint>

#include "gcode/program.h"

namespace korvan::gcode {

// The plane of G17, G18 or G19 as (first axis, second axis, normal axis), indices into x, y, z;
// the first axis turns towards the second counter-clockwise seen from the normal's positive
// end (G3).
enum class Plane : uint8_t { XY, ZX, YZ };

// One G2/G3 move: start and end, the direction, and either the centre (absolute, in the plane's
// two axes) or a signed radius (negative for the arc longer than half a circle).
struct ArcRequest {
    Position start;
    Position end;
    Plane plane = Plane::XY;
    bool clockwise = false;
    bool byRadius = false;
    double radius = 0.0;
    double centreA = 0.0;
    double centreB = 0.0;
    // How far the start's and the end's distances from the centre may differ (and a radius may
    // fall short of half the distance between the end points): slackRelative * radius +
    // slackAbsolute.
    double slackRelative = 1e-6;
    double slackAbsolute = 0.0;
};

enum class ArcFault : uint8_t {
    None,
    ZeroRadius,        // the start or the end is the centre, or R is 0
    RadiusMismatch,    // start and end are not (within the slack) the same distance from the centre
    RadiusTooSmall,    // |R| less than half the distance between the end points
    RadiusFullCircle,  // R with the end equal to the start: no centre follows
};

// An arc ready to be cut into chords. The radius goes linearly from startRadius to endRadius
// (they differ by no more than the slack) and the normal axis linearly, both with the angle.
struct ArcPlan {
    double centreA = 0.0;
    double centreB = 0.0;
    double startRadius = 0.0;
    double endRadius = 0.0;
    double startAngle = 0.0;
    double sweep = 0.0;   // signed: positive counter-clockwise, at most a full turn
    double chords = 0.0;  // how many chords keep within the tolerance (a double: may be huge)
};

// Plans the arc for a largest chord-to-arc distance of `tolerance` (> 0), or says why there is
// none (after RadiusMismatch the plan holds both radii, for the message). `plan.chords` is not
// bounded here: the caller refuses what it cannot hold.
ArcFault planArc(const ArcRequest& arc, double tolerance, ArcPlan& plan);

// The end of chord k (1 <= k <= plan.chords) of the arc: on the arc at the k-th equal step of
// the angle, and arc.end itself for the last.
Position chordEnd(const ArcRequest& arc, const ArcPlan& plan, int64_t k);

// The largest angle a chord of a circle of radius `radius` may span to stay within `tolerance`
// of it, at most a quarter turn (so that a full circle keeps at least four chords).
double chordAngle(double radius, double tolerance);

}  // namespace korvan::gcode
