// Tool meshes: a profile (radius against height) turned about the z axis, as the convex hull of
// its rings of points.
#include <algorithm>
#include <cmath>
#include <new>
#include <numbers>
#include <string>
#include <vector>

#include "gcode/arcs.h"
#include "gcode/hull.h"
#include "gcode/tools.h"
#include "gcode/words.h"

namespace korvan::gcode {
namespace {

constexpr double kLargestSize = 1e6;
constexpr size_t kMostPoints = 200'000;

struct ProfilePoint {
    double radius;
    double z;
};

bool fits(double value) {
    return std::isfinite(value) && std::fabs(value) <= kLargestSize;
}

double tipHeight(const ToolSpec& tool) {
    return tool.diameter / 2.0 / std::tan(tool.tipAngle / 2.0 * std::numbers::pi / 180.0);
}

// Whether the flutes hold the drill's whole cone, with room for the last bit of the tangent
// (a 90 degree drill of diameter 3 has a cone 1.5 high, and tan(45) rounds below 1).
bool holdsTip(const ToolSpec& tool) {
    return tool.fluteLength >= tipHeight(tool) * (1.0 - 1e-12);
}

// Points around a circle of this radius so that its chords stay within the tolerance: a
// multiple of four, so that the polygon reaches the circle along both axes.
size_t segmentsAround(double radius, double tolerance) {
    const double n = std::ceil(2.0 * std::numbers::pi / chordAngle(radius, tolerance));
    const double rounded = std::ceil(n / 4.0) * 4.0;
    return rounded > static_cast<double>(kMostPoints) ? kMostPoints + 1
                                                      : static_cast<size_t>(rounded);
}

// Steps of a quarter circle of this radius (a rounded corner in the profile).
size_t stepsAlongQuarter(double radius, double tolerance) {
    const double n = std::ceil(std::numbers::pi / 2.0 / chordAngle(radius, tolerance));
    return n > static_cast<double>(kMostPoints) ? kMostPoints + 1 : static_cast<size_t>(n);
}

// The profile from the tip up, and the points around each ring. Where the surface curves both
// ways (a ball or a rounded corner) each way gets half the tolerance: a cell's middle then lies
// no farther from the surface than the two chord heights together.
void profileOf(const ToolSpec& tool, double tolerance, std::vector<ProfilePoint>& profile,
               size_t& around) {
    const double r = tool.diameter / 2.0;
    const double length = tool.fluteLength;
    const double corner = tool.shape == ToolShape::Ball       ? r
                          : tool.shape == ToolShape::BullNose ? tool.cornerRadius
                                                              : 0.0;
    if (tool.shape == ToolShape::Drill) {
        const double h = std::min(tipHeight(tool), length);
        around = segmentsAround(r, tolerance);
        profile = {{0.0, 0.0}, {r, h}};
        if (length > h) {
            profile.push_back({r, length});
        }
        return;
    }
    if (corner == 0.0) {
        around = segmentsAround(r, tolerance);
        profile = {{r, 0.0}, {r, length}};
        return;
    }
    around = segmentsAround(r, tolerance / 2.0);
    const size_t steps = stepsAlongQuarter(corner, tolerance / 2.0);
    profile.clear();
    if (steps > kMostPoints) {
        return;
    }
    for (size_t k = 0; k <= steps; ++k) {
        const double angle =
            std::numbers::pi / 2.0 * static_cast<double>(k) / static_cast<double>(steps);
        // The quarter's last point is exactly (r, corner), whatever sin and cos round to.
        const bool last = k == steps;
        profile.push_back({last ? r : r - corner + corner * std::sin(angle),
                           last ? corner : corner - corner * std::cos(angle)});
    }
    if (length > corner) {
        profile.push_back({r, length});
    }
}

// The rings of the profile turned about z; a ring of radius 0 is one point.
bool ringPoints(const std::vector<ProfilePoint>& profile, size_t around,
                std::vector<Vector4>& points) {
    if (profile.empty() || around > kMostPoints || profile.size() * around > kMostPoints) {
        return false;
    }
    points.clear();
    for (const ProfilePoint& p : profile) {
        if (p.radius == 0.0) {
            points.emplace_back(0.0f, 0.0f, static_cast<float>(p.z));
            continue;
        }
        for (size_t j = 0; j < around; ++j) {
            const double angle =
                2.0 * std::numbers::pi * static_cast<double>(j) / static_cast<double>(around);
            points.emplace_back(static_cast<float>(p.radius * std::cos(angle)),
                                static_cast<float>(p.radius * std::sin(angle)),
                                static_cast<float>(p.z));
        }
    }
    return true;
}

// The tolerance, then the points of the profile as a hull.
Status meshOf(const std::vector<ProfilePoint>& profile, size_t around, double tolerance,
              Solid& out) {
    std::vector<Vector4> points;
    if (!ringPoints(profile, around, points)) {
        return Status::failure("Tolerancija " + formatNumber(tolerance) +
                               " je premala za ovaj alat (mreza bi imala vise od " +
                               std::to_string(kMostPoints) + " tocaka)");
    }
    if (!convexHullOf(points, out)) {
        return Status::failure("Alat je preplosnat za mrezu");
    }
    return {};
}

Status checkTolerance(double tolerance) {
    if (!(tolerance > 0.0) || !std::isfinite(tolerance)) {
        return Status::failure("Tolerancija alata mora biti pozitivan broj");
    }
    return {};
}

}  // namespace

Status checkTool(const ToolSpec& tool) {
    if (!fits(tool.diameter) || !fits(tool.cornerRadius) || !fits(tool.tipAngle) ||
        !fits(tool.fluteLength)) {
        return Status::failure("Mjere alata moraju biti konacni brojevi do 1e6");
    }
    if (!(tool.diameter > 0.0)) {
        return Status::failure("Promjer alata mora biti veci od 0");
    }
    if (!(tool.fluteLength > 0.0)) {
        return Status::failure("Duljina rezanja mora biti veca od 0");
    }
    const double r = tool.diameter / 2.0;
    switch (tool.shape) {
        case ToolShape::Flat:
            break;
        case ToolShape::Ball:
            if (tool.fluteLength < r) {
                return Status::failure(
                    "Duljina rezanja kuglastog glodala mora biti barem pola promjera");
            }
            break;
        case ToolShape::BullNose:
            if (!(tool.cornerRadius >= 0.0) || tool.cornerRadius > r) {
                return Status::failure("Polumjer zaobljenja mora biti izmedu 0 i pola promjera");
            }
            if (tool.fluteLength < tool.cornerRadius) {
                return Status::failure("Duljina rezanja mora biti barem polumjer zaobljenja");
            }
            break;
        case ToolShape::Drill:
            if (!(tool.tipAngle > 0.0 && tool.tipAngle < 180.0)) {
                return Status::failure("Kut vrha mora biti izmedu 0 i 180 stupnjeva");
            }
            if (!holdsTip(tool)) {
                return Status::failure("Duljina rezanja svrdla mora biti barem visina vrha (" +
                                       formatNumber(tipHeight(tool)) + ")");
            }
            break;
    }
    return {};
}

Status checkShank(const ShankSpec& shank) {
    if (!fits(shank.diameter) || !fits(shank.length)) {
        return Status::failure("Mjere drske moraju biti konacni brojevi do 1e6");
    }
    if (!(shank.diameter > 0.0) || !(shank.length > 0.0)) {
        return Status::failure("Promjer i duljina drske moraju biti veci od 0");
    }
    return {};
}

Status makeTool(const ToolSpec& tool, double tolerance, Solid& out) {
    if (Status s = checkTool(tool); !s) {
        return s;
    }
    if (Status s = checkTolerance(tolerance); !s) {
        return s;
    }
    try {
        std::vector<ProfilePoint> profile;
        size_t around = 0;
        profileOf(tool, tolerance, profile, around);
        return meshOf(profile, around, tolerance, out);
    } catch (const std::bad_alloc&) {
        return Status::failure(kOutOfMemoryMessage);
    }
}

Status makeShank(const ShankSpec& shank, double fluteLength, double tolerance, Solid& out) {
    if (Status s = checkShank(shank); !s) {
        return s;
    }
    if (Status s = checkTolerance(tolerance); !s) {
        return s;
    }
    if (!fits(fluteLength) || !fits(fluteLength + shank.length)) {
        return Status::failure("Mjere drske moraju biti konacni brojevi do 1e6");
    }
    try {
        const double r = shank.diameter / 2.0;
        const std::vector<ProfilePoint> profile = {{r, fluteLength},
                                                   {r, fluteLength + shank.length}};
        return meshOf(profile, segmentsAround(r, tolerance), tolerance, out);
    } catch (const std::bad_alloc&) {
        return Status::failure(kOutOfMemoryMessage);
    }
}

}  // namespace korvan::gcode
