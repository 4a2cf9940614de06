#include "gcode/sweep.h"

#include <cmath>
#include <limits>
#include <new>

#include "gcode/hull.h"
#include "gcode/machining.h"

namespace korvan::gcode {
namespace {

constexpr size_t kLongestRun = 256;

double distance(const Position& a, const Position& b) {
    return std::hypot(a.x - b.x, a.y - b.y, a.z - b.z);
}

// Distance from p to the segment [a, b].
double distanceToSegment(const Position& p, const Position& a, const Position& b) {
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    const double dz = b.z - a.z;
    const double length2 = dx * dx + dy * dy + dz * dz;
    double t = 0.0;
    if (length2 > 0.0) {
        t = ((p.x - a.x) * dx + (p.y - a.y) * dy + (p.z - a.z) * dz) / length2;
        t = t < 0.0 ? 0.0 : t > 1.0 ? 1.0 : t;
    }
    return distance(p, Position{a.x + t * dx, a.y + t * dy, a.z + t * dz});
}

bool fitsFloat(const Position& p) {
    constexpr double kLargest = std::numeric_limits<float>::max();
    return std::fabs(p.x) <= kLargest && std::fabs(p.y) <= kLargest && std::fabs(p.z) <= kLargest;
}

void appendMoved(const Solid& tool, const Position& at, std::vector<Vector4>& points) {
    for (const Vector4& v : tool.vertices) {
        points.emplace_back(static_cast<float>(v.x + at.x), static_cast<float>(v.y + at.y),
                            static_cast<float>(v.z + at.z));
    }
}

}  // namespace

Status sweepStraightMove(const Solid& tool, const Position& from, const Position& to,
                         double shortMove, Solid& out) {
    if (!fitsFloat(from) || !fitsFloat(to)) {
        return Status::failure("Polozaj alata je izvan dozvoljenog raspona");
    }
    try {
        std::vector<Vector4> points;
        points.reserve(2 * tool.vertices.size());
        appendMoved(tool, from, points);
        if (!(distance(from, to) < shortMove)) {
            appendMoved(tool, to, points);
        }
        if (!convexHullOf(points, out)) {
            return Status::failure("Alat nema volumena");
        }
        return {};
    } catch (const std::bad_alloc&) {
        return Status::failure(kOutOfMemoryMessage);
    }
}

bool fillsConvexHull(const Solid& tool, double share) {
    Solid hull;
    if (!convexHullOf(tool.vertices, hull)) {
        return false;
    }
    const double full = meshVolume(hull);
    return std::fabs(full - meshVolume(tool)) <= share * full;
}

Status sweepSolidBetween(const Solid& tool, const Vector4& from, const Vector4& to, Solid& out) {
    try {
        std::vector<Vector4> points;
        points.reserve(2 * tool.vertices.size());
        for (const Vector4* by : {&from, &to}) {
            for (const Vector4& v : tool.vertices) {
                points.push_back(v + *by);
            }
        }
        if (!convexHullOf(points, out)) {
            return Status::failure("Alat nema volumena");
        }
        return {};
    } catch (const std::bad_alloc&) {
        return Status::failure(kOutOfMemoryMessage);
    }
}

std::vector<Move> mergeCollinearFeeds(const std::vector<Move>& moves, const Position& start,
                                      double tolerance) {
    std::vector<Move> out;
    out.reserve(moves.size());
    Position before = start;       // where the tool is before the move at hand
    Position runStart = start;     // where the last move of `out` starts
    std::vector<Position> passed;  // ends of the moves joined into the last move of `out`
    for (const Move& m : moves) {
        bool joins = !out.empty() && m.kind == MoveKind::Feed &&
                     out.back().kind == MoveKind::Feed && m.feed == out.back().feed &&
                     m.tool == out.back().tool && passed.size() < kLongestRun;
        if (joins) {
            joins = distanceToSegment(out.back().end, runStart, m.end) <= tolerance;
            for (size_t i = 0; joins && i < passed.size(); ++i) {
                joins = distanceToSegment(passed[i], runStart, m.end) <= tolerance;
            }
        }
        if (joins) {
            passed.push_back(out.back().end);
            out.back().end = m.end;
            out.back().line = m.line;
        } else {
            runStart = before;
            passed.clear();
            out.push_back(m);
        }
        before = m.end;
    }
    return out;
}

}  // namespace korvan::gcode
