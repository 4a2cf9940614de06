#include "gcode/machining.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <new>
#include <string>

#include "closed/closed_boolean.h"
#include "gcode/hull.h"
#include "gcode/sweep.h"
#include "gcode/swept_tool.h"
#include "geometry/thread_arena.h"

namespace korvan::gcode {
namespace {

// The sum of f(a, b, c) over the corners of each triangle, in order.
template <typename F>
double sumOverTriangles(const Solid& s, const F& f) {
    double sum = 0.0;
    for (const Triangle& t : s.triangles) {
        sum += f(s.vertices[static_cast<size_t>(t.i0)], s.vertices[static_cast<size_t>(t.i1)],
                 s.vertices[static_cast<size_t>(t.i2)]);
    }
    return sum;
}

constexpr double kLargestCoordinate = 1e6;

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

double distance(const Position& a, const Position& b) {
    return std::hypot(a.x - b.x, a.y - b.y, a.z - b.z);
}

std::string lineText(int64_t line) {
    return "Redak " + std::to_string(line) + ": ";
}

// A part of a tool: its mesh, and the same made ready for straight moves where the run's
// extent allows.
struct ToolBody {
    Solid mesh;
    SweptTool swept;
};

// The meshes of one tool number, made once per run.
struct ToolMeshes {
    int32_t number = 0;
    ToolBody cutter;
    ToolBody shank;
    bool hasShank = false;
};

// The spec that cuts with tool `number`, or nullptr with the reason in `why`.
const ToolSpec* specFor(const ToolChoice& tools, int32_t number, std::string& why) {
    if (!tools.table.empty() && number != 0) {
        const ToolSpec* spec = findTool(tools.table, number);
        if (spec == nullptr) {
            why = "alat T" + std::to_string(number) + " nije u tablici alata";
        }
        return spec;
    }
    if (!tools.fixed) {
        why = "pomak bez alata (nijedan alat nije zadan ni odabran s T i M6)";
        return nullptr;
    }
    return &*tools.fixed;
}

// The meshes of tool `number`; prepareTools made them for every motion move's number, a dwell
// may have none.
const ToolMeshes* meshesFor(const std::vector<ToolMeshes>& meshes, int32_t number) {
    for (const ToolMeshes& t : meshes) {
        if (t.number == number) {
            return &t;
        }
    }
    return nullptr;
}

// The largest coordinate of a position the program moves the tool to.
double reachOf(const Program& program) {
    const auto largest = [](const Position& p) {
        return std::max({std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)});
    };
    double reach = largest(program.start);
    for (const Move& m : program.moves) {
        reach = std::max(reach, largest(m.end));
    }
    return reach;
}

// The largest coordinate of a corner of the mesh.
double reachOf(const Solid& mesh) {
    double reach = 0.0;
    for (const Vector4& v : mesh.vertices) {
        reach = std::max(
            {reach, std::fabs(double{v.x}), std::fabs(double{v.y}), std::fabs(double{v.z})});
    }
    return reach;
}

// The tools made ready for straight moves on one grid for the run; the grid, or 0 where the
// run's extent leaves none fine enough (every sweep is then a hull of both ends as programmed).
double prepareSweeps(const Program& program, double tolerance, std::vector<ToolMeshes>& meshes) {
    double tools = 0.0;
    for (const ToolMeshes& t : meshes) {
        tools = std::max({tools, reachOf(t.cutter.mesh), reachOf(t.shank.mesh)});
    }
    const double grid = sweepGrid(reachOf(program) + tools, tolerance);
    for (ToolMeshes& t : meshes) {
        (void)t.cutter.swept.prepare(t.cutter.mesh, grid);
        (void)(t.hasShank && t.shank.swept.prepare(t.shank.mesh, grid));
    }
    return grid;
}

// Every motion move's tool made, every feed's rate checked, before anything is cut.
Status prepareTools(const Program& program, const ToolChoice& tools, double tolerance,
                    std::vector<ToolMeshes>& meshes) {
    for (const Move& m : program.moves) {
        if (m.kind == MoveKind::Dwell) {
            continue;
        }
        if (m.kind == MoveKind::Feed && !(m.feed > 0.0)) {
            return Status::failure(lineText(m.line) + "pomak G1/G2/G3 bez posmaka F");
        }
        if (meshesFor(meshes, m.tool) != nullptr) {
            continue;
        }
        std::string why;
        const ToolSpec* spec = specFor(tools, m.tool, why);
        if (spec == nullptr) {
            return Status::failure(lineText(m.line) + why);
        }
        ToolMeshes& made = meshes.emplace_back();
        made.number = m.tool;
        if (Status s = makeTool(*spec, tolerance, made.cutter.mesh); !s) {
            return Status::failure(lineText(m.line) + s.message(), s.detail());
        }
        if (tools.shank) {
            made.hasShank = true;
            // The shank starts a hundredth of the tolerance above the flutes, so that its sweep
            // does not lie in the plane of the face the flutes' sweep leaves in the material, a
            // contact the closed engine cannot always resolve.
            const double bottom = spec->fluteLength + tolerance / 100.0;
            if (Status s = makeShank(*tools.shank, bottom, tolerance, made.shank.mesh); !s) {
                return Status::failure(lineText(m.line) + s.message(), s.detail());
            }
        }
    }
    return {};
}

// Whether the two boxes share some volume; boxes that only touch do not.
bool boxesOverlap(const Solid& a, const Solid& b) {
    return a.minCorner.x < b.maxCorner.x && b.minCorner.x < a.maxCorner.x &&
           a.minCorner.y < b.maxCorner.y && b.minCorner.y < a.maxCorner.y &&
           a.minCorner.z < b.maxCorner.z && b.minCorner.z < a.maxCorner.z;
}

// Counts and time of the program's moves up to `lastLine`, from where it starts.
void tally(const Program& program, int64_t lastLine, double rapidRate, MachiningReport& report) {
    Position at = program.start;
    for (const Move& m : program.moves) {
        if (m.line > lastLine) {
            break;
        }
        ++report.moves;
        const double length = distance(at, m.end);
        switch (m.kind) {
            case MoveKind::Rapid:
                ++report.rapidMoves;
                report.machiningSeconds += rapidRate > 0.0 ? 60.0 * length / rapidRate : 0.0;
                break;
            case MoveKind::Feed:
                ++report.feedMoves;
                report.machiningSeconds += 60.0 * length / m.feed;
                break;
            case MoveKind::Dwell:
                report.machiningSeconds += m.seconds;
                break;
        }
        at = m.end;
    }
}

double surfaceArea(const Solid& s) {
    return sumOverTriangles(s, [](const Vector4& a, const Vector4& b, const Vector4& c) {
        const double u[3] = {double{b.x} - a.x, double{b.y} - a.y, double{b.z} - a.z};
        const double v[3] = {double{c.x} - a.x, double{c.y} - a.y, double{c.z} - a.z};
        return 0.5 * std::hypot(u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                                u[0] * v[1] - u[1] * v[0]);
    });
}

// The state of one run: the workpiece, the storage the steps reuse and what they report.
//
// The material a sweep reaches is measured as what subtracting it removes: the rapid's own cut,
// and for the shank a difference computed and dropped. The local step makes that as cheap as
// the cut itself, where an intersection would be a whole operation over the workpiece.
class Run {
public:
    Run(const MachiningOptions& options, Solid& workpiece, MachiningReport& report)
        : m_options(options), m_work(workpiece), m_report(report) {}

    // One move from `from` to `to` with `tool`: its cut and its collisions.
    Status move(const Move& m, const Position& from, const ToolMeshes& tool) {
        if (Status s = sweep(tool.cutter, from, m.end); !s) {
            return s;
        }
        if (reaches()) {
            const bool rapid = m.kind == MoveKind::Rapid;
            const double before = rapid ? meshVolume(m_work) : 0.0;
            const auto t0 = Clock::now();
            if (Status s = subtract(m_next); !s && !cutShifted(tool.cutter, from, m.end)) {
                return s;
            }
            leanFloors();
            if (Status s = keepApart(tool.cutter, from, m.end); !s) {
                return s;
            }
            m_report.cutSeconds += secondsSince(t0);
            ++m_report.cuts;
            // The old workpiece's arrays become the next step's storage.
            m_work.swap(m_next);
            if (rapid) {
                const auto t1 = Clock::now();
                record(m, from, CollisionKind::Rapid, before - meshVolume(m_work));
                m_report.collisionSeconds += secondsSince(t1);
            }
        }
        if (!tool.hasShank) {
            return {};
        }
        if (Status s = sweep(tool.shank, from, m.end); !s) {
            return s;
        }
        if (reaches()) {
            const auto t0 = Clock::now();
            if (Status s = subtract(m_scratch); !s) {
                return s;
            }
            record(m, from, CollisionKind::Shank, meshVolume(m_work) - meshVolume(m_scratch));
            m_report.collisionSeconds += secondsSince(t0);
        }
        return {};
    }

private:
    Status sweep(const ToolBody& tool, const Position& from, const Position& to) {
        const auto t0 = Clock::now();
        Status s;
        if (!tool.swept.sweep(from, to, m_options.tolerance, m_sweep)) {
            const double grid = m_report.grid;
            s = sweepStraightMove(tool.mesh, grid > 0.0 ? onGrid(from, grid) : from,
                                  grid > 0.0 ? onGrid(to, grid) : to, m_options.tolerance, m_sweep);
        }
        m_report.sweepSeconds += secondsSince(t0);
        if (s) {
            m_sweepVolume = meshVolume(m_sweep);
            m_sweepArea = surfaceArea(m_sweep);
        }
        return s;
    }

    // Seam points rounded to floats can leave two triangles of the cut touching where the exact
    // part has none (seams of passes that run within a float's spacing of each other), or flat
    // triangles that cannot be split away, and the next step may not cut such a part. Where the
    // cut made such a pair (one of its new triangles in it), the move is cut again with the tool
    // shifted sideways by a few units in the last place (0.1 to 0.8 micrometres on a part of
    // 100 mm, far below the tolerance), which rounds the seam points differently; depths stay
    // as programmed, so floors stay flat, unless every sideways try leaves flat triangles.
    // Pairs an earlier move could not mend do not make every later move near them try again.
    static constexpr int kShiftTries = 8;

    // The k-th shift of a move's ends: growing, turning a quarter each time, so that a seam
    // that runs along one direction is moved across it by one of them; with `lift`, as much
    // upwards too.
    void shiftSideways(int k, Position& from, Position& to, bool lift = false) {
        const double scale = std::max({1.0, std::abs(to.x), std::abs(to.y), std::abs(to.z),
                                       std::abs(from.x), std::abs(from.y), std::abs(from.z)});
        constexpr double kTurns[4][2] = {{0.6, 0.8}, {-0.8, 0.6}, {-0.6, -0.8}, {0.8, -0.6}};
        // At least a few steps of the grid the sweep puts positions on.
        const double d = std::max(std::ldexp(scale, -20), 4.0 * m_report.grid) * k;
        m_largestShift = std::max(m_largestShift, d);
        const double dx = kTurns[(k - 1) % 4][0] * d, dy = kTurns[(k - 1) % 4][1] * d;
        from.x += dx;
        from.y += dy;
        to.x += dx;
        to.y += dy;
        if (lift) {
            from.z += d;
            to.z += d;
        }
    }

    // A cut the engine refused (a part that rounding left touching itself near the move) is
    // tried with the tool shifted sideways, as keepApart does; false where every try fails.
    bool cutShifted(const ToolBody& tool, const Position& from, const Position& to) {
        for (int k = 1; k <= kShiftTries; ++k) {
            Position a = from, b = to;
            shiftSideways(k, a, b);
            if (sweep(tool, a, b).ok() && subtract(m_next).ok()) {
                ++m_report.shiftedMoves;
                return true;
            }
        }
        return false;
    }

    Status keepApart(const ToolBody& tool, const Position& from, const Position& to) {
        const Vector4 pad = sweepMargin();
        const Vector4 lo = m_sweep.minCorner - pad, hi = m_sweep.maxCorner + pad;
        int64_t touching = touchingMade(lo, hi);
        if (m_slivers == 0 && touching == 0) {
            return {};
        }
        // The best cut so far: no flat triangles first, then the fewest touching pairs.
        const auto worse = [](int64_t slivers, int64_t pairs, int64_t bestSlivers,
                              int64_t bestPairs) {
            return (slivers > 0) != (bestSlivers > 0) ? slivers > 0 : pairs > bestPairs;
        };
        m_best.copyMeshFrom(m_next);
        int64_t bestSlivers = m_slivers, bestTouching = touching;
        bool lastIsBest = true;  // m_next holds the best try
        // Sideways first; where every try leaves flat triangles, which the next cut cannot
        // take, also lifted by as much (never deeper than programmed).
        for (int k = 1; k <= 2 * kShiftTries; ++k) {
            const bool lift = k > kShiftTries;
            if (lift && bestSlivers == 0) {
                break;
            }
            Position a = from, b = to;
            shiftSideways(lift ? k - kShiftTries : k, a, b, lift);
            if (!sweep(tool, a, b).ok() || !subtract(m_next).ok()) {
                lastIsBest = false;
                continue;
            }
            leanFloors();
            touching = touchingMade(lo, hi);
            if (m_slivers == 0 && touching == 0) {
                ++m_report.shiftedMoves;
                return {};
            }
            lastIsBest = worse(bestSlivers, bestTouching, m_slivers, touching);
            if (lastIsBest) {
                m_best.copyMeshFrom(m_next);
                bestSlivers = m_slivers;
                bestTouching = touching;
            }
        }
        // The best try is kept; the next step refuses the part if it cannot cut it.
        if (!lastIsBest) {
            m_next.swap(m_best);
            m_slivers = bestSlivers;
            m_isResult = true;
        }
        ++m_report.touchingMoves;
        return {};
    }

    // A floor cut again and again keeps the seams of every pass, and each cut along it meets
    // them all; the flat faces the sweep reached are triangulated again from their outlines.
    void leanFloors() {
        if (m_slivers > 0) {
            return;
        }
        const Vector4 pad = sweepMargin();
        const Vector4 lo = m_sweep.minCorner - pad, hi = m_sweep.maxCorner + pad;
        m_report.mergedFaces += mergeFlatFaces(m_next, lo, hi);
        // Below a step of the grid every position is put on, rounding is all that turns.
        m_report.droppedCorners +=
            dropStraightCorners(m_next, lo, hi, m_options.exactPart ? 0.0 : m_report.grid);
    }

    Vector4 sweepMargin() const {
        const float margin =
            std::ldexp(1.0f, -10) *
            std::max({1.0f, std::abs(m_sweep.minCorner.x), std::abs(m_sweep.maxCorner.x),
                      std::abs(m_sweep.minCorner.y), std::abs(m_sweep.maxCorner.y)});
        return Vector4(margin, margin, margin);
    }

    // Touching pairs near the move in the cut part with one of the cut's new triangles in them.
    int64_t touchingMade(const Vector4& lo, const Vector4& hi) const {
        const auto t0 = Clock::now();
        const int64_t pairs = crossingPairsWithin(m_next, lo, hi, &m_work);
        m_report.checkSeconds += secondsSince(t0);
        return pairs;
    }

    bool reaches() const { return !m_work.triangles.empty() && boxesOverlap(m_sweep, m_work); }

    // The workpiece minus the sweep into `out`: the whole operation on the stock (not the
    // engine's own result) and after a step that left flat triangles, the local step otherwise.
    Status subtract(Solid& out) {
        ClosedReport closed;
        Status s;
        if (!m_isResult) {
            s = closedBoolean(m_work, m_sweep, BooleanOp::Difference, out, &closed,
                              m_options.threads);
        } else if (m_slivers > 0) {
            s = closedBooleanOfResult(m_work, m_sweep, BooleanOp::Difference, out, &closed,
                                      m_options.threads);
        } else {
            // Every sweep is an exact convex hull, or built as one from the tool's.
            s = closedDifferenceOfResult(m_work, m_sweep, out, &closed, m_options.threads, {}, {},
                                         true);
            if (!s) {
                // The local step's near part may fail where the whole operation does not.
                ++m_report.wholeRetries;
                closed = ClosedReport{};
                s = closedBooleanOfResult(m_work, m_sweep, BooleanOp::Difference, out, &closed,
                                          m_options.threads);
            }
        }
        if (s && &out == &m_next) {
            m_isResult = true;
            m_slivers = closed.slivers;
        }
        return s;
    }

    // Seam points rounded to floats leave a sweep that only touches the material (a rapid out
    // of its own cut, a shank along a wall the flutes made) reaching a sliver of it; a
    // millionth of the sweep's own volume stands well above that and well below any material a
    // machine would notice. A cut shifted sideways leaves a skin as thin as the shift on the
    // walls it made, which a tool at the programmed place then grazes: no more than the
    // sweep's surface times the largest shift so far.
    void record(const Move& m, const Position& from, CollisionKind kind, double volume) {
        if (volume > std::max(1e-6 * m_sweepVolume, m_sweepArea * m_largestShift)) {
            m_report.collisions.push_back(Collision{m.line, kind, from, m.end, volume});
        }
    }

    const MachiningOptions& m_options;
    Solid& m_work;
    MachiningReport& m_report;
    Solid m_sweep;
    Solid m_next;
    Solid m_scratch;
    Solid m_best;  // the best of a move's shifted cuts so far
    double m_sweepVolume = 0.0;
    double m_sweepArea = 0.0;
    double m_largestShift = 0.0;  // of the shifted cuts tried so far
    bool m_isResult = false;
    int64_t m_slivers = 0;
};

bool parseNumber(std::string_view text, double& value) {
    const char* const end = text.data() + text.size();
    const auto [p, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && p == end;
}

}  // namespace

Status makeBoxStock(const Position& a, const Position& b, Solid& out) {
    for (const double v : {a.x, a.y, a.z, b.x, b.y, b.z}) {
        if (!std::isfinite(v) || std::fabs(v) > kLargestCoordinate) {
            return Status::failure("Mjere sirovca moraju biti konacni brojevi do 1e6");
        }
    }
    std::vector<Vector4> corners;
    for (int i = 0; i < 8; ++i) {
        corners.emplace_back(static_cast<float>((i & 1) != 0 ? a.x : b.x),
                             static_cast<float>((i & 2) != 0 ? a.y : b.y),
                             static_cast<float>((i & 4) != 0 ? a.z : b.z));
    }
    if (corners[0].x == corners[7].x || corners[0].y == corners[7].y ||
        corners[0].z == corners[7].z) {
        return Status::failure("Sirovac je plosnat: kutovi se moraju razlikovati po svim osima");
    }
    try {
        if (!convexHullOf(corners, out)) {
            return Status::failure("Sirovac nema volumena");
        }
    } catch (const std::bad_alloc&) {
        return Status::failure(kOutOfMemoryMessage);
    }
    return {};
}

Status parseBoxStock(std::string_view text, Solid& out) {
    double v[6] = {};
    size_t n = 0;
    std::string_view rest = text;
    bool ok = true;
    while (ok) {
        const size_t comma = rest.find(',');
        ok = n < 6 && parseNumber(rest.substr(0, comma), v[n]);
        ++n;
        if (comma == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(comma + 1);
    }
    if (!ok || n != 6) {
        return Status::failure("Sirovac se zadaje kao box:X0,Y0,Z0,X1,Y1,Z1: " + std::string(text));
    }
    return makeBoxStock({v[0], v[1], v[2]}, {v[3], v[4], v[5]}, out);
}

double meshVolume(const Solid& solid) {
    return sumOverTriangles(solid,
                            [](const Vector4& a, const Vector4& b, const Vector4& c) {
                                return double(a.x) * (double(b.y) * c.z - double(b.z) * c.y) +
                                       double(a.y) * (double(b.z) * c.x - double(b.x) * c.z) +
                                       double(a.z) * (double(b.x) * c.y - double(b.y) * c.x);
                            }) /
           6.0;
}

Status machineProgram(const Program& program, const ToolChoice& tools,
                      const MachiningOptions& options, Solid& workpiece, MachiningReport& report,
                      MachiningObserver* observer) {
    report = MachiningReport{};
    if (!(options.tolerance > 0.0) || !std::isfinite(options.tolerance)) {
        return Status::failure("Tolerancija mora biti pozitivan broj");
    }
    if (!(options.rapidRate > 0.0) || !std::isfinite(options.rapidRate)) {
        return Status::failure("Brzina brzog hoda mora biti pozitivan broj");
    }
    if (Status s = checkClosedOperand(workpiece, 1); !s) {
        return Status::failure("Sirovac se ne moze obradivati: " + s.message(), s.detail());
    }
    try {
        std::vector<ToolMeshes> meshes;
        if (Status s = prepareTools(program, tools, options.tolerance, meshes); !s) {
            return s;
        }
        report.grid = prepareSweeps(program, options.tolerance, meshes);
        const std::vector<Move> moves =
            mergeCollinearFeeds(program.moves, program.start, options.tolerance);
        report.stockVolume = meshVolume(workpiece);
        // Where the threads are capped, the whole run goes in one arena and the engine's steps
        // run in it as their caller's own: an arena made for each step is memory TBB keeps.
        MachiningOptions stepOptions = options;
        stepOptions.threads = 0;
        Run run(stepOptions, workpiece, report);
        Position at = program.start;  // where the last cut ended
        Status failed;
        const auto runMoves = [&] {
            for (size_t i = 0; i < moves.size(); ++i) {
                const Move& m = moves[i];
                const ToolMeshes* tool = meshesFor(meshes, m.tool);
                if (m.kind != MoveKind::Dwell && !(distance(at, m.end) < options.tolerance)) {
                    if (Status s = run.move(m, at, *tool); !s) {
                        failed = Status::failure(lineText(m.line) + s.message(), s.detail());
                        break;
                    }
                    at = m.end;
                }
                report.lastLine = m.line;
                if (observer != nullptr) {
                    observer->moveDone(MoveDone{m, i, moves.size(), workpiece,
                                                tool != nullptr ? &tool->cutter.mesh : nullptr,
                                                at});
                    if (i + 1 < moves.size() && observer->stopRequested()) {
                        report.stopped = true;
                        break;
                    }
                }
            }
        };
        ThreadArena().run(options.threads, runMoves);
        tally(program, report.lastLine, options.rapidRate, report);
        report.volume = meshVolume(workpiece);
        report.removedVolume = report.stockVolume - report.volume;
        return failed;
    } catch (const std::bad_alloc&) {
        return Status::failure(kOutOfMemoryMessage);
    }
}

}  // namespace korvan::gcode
