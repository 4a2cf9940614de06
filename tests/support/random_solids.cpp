#include "support/random_solids.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <tuple>
#include <utility>

#include "closed/closed_boolean.h"
#include "gcode/hull.h"
#include "support/mesh_checks.h"

namespace korvan::test {
namespace {

using Face = std::array<int32_t, 3>;

// The solid over `vertices` with `faces`, its triangle data computed.
Solid makeMesh(const std::vector<Vector4>& vertices, const std::vector<Face>& faces) {
    std::vector<int32_t> corners;
    for (const Face& f : faces) {
        corners.insert(corners.end(), f.begin(), f.end());
    }
    Solid s = makeSolid(vertices, corners);
    s.computeTriangleData();
    return s;
}

// Turns every triangle over where the builder's winding came out inward.
void orientOutward(Solid& s) {
    if (signedVolume(s) < 0) {
        for (Triangle& t : s.triangles) {
            t.setIndices(t.i0, t.i2, t.i1);
        }
        s.computeTriangleData();
    }
}

// A coordinate on a coarse lattice (quarters in [-1, 1]) or anywhere in [-1, 1): the lattice
// makes coplanar faces, shared lines and coincident corners common.
float coordinate(Choices& c, bool lattice) {
    if (lattice) {
        return static_cast<float>(static_cast<int>(c.below(9)) - 4) / 4.0f;
    }
    return static_cast<float>(c.unit() * 2.0 - 1.0);
}

Solid box(Choices& c) {
    float lo[3], hi[3];
    for (int i = 0; i < 3; ++i) {
        lo[i] = -0.25f * static_cast<float>(1 + c.below(4));
        hi[i] = 0.25f * static_cast<float>(1 + c.below(4));
    }
    std::vector<Vector4> v;
    for (int k = 0; k < 8; ++k) {
        v.emplace_back((k & 1) ? hi[0] : lo[0], (k & 2) ? hi[1] : lo[1], (k & 4) ? hi[2] : lo[2]);
    }
    // Each face as a quad seen from outside, counterclockwise, split on a chosen diagonal.
    const int quads[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                             {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    std::vector<Face> f;
    for (const auto& q : quads) {
        if (c.flip()) {
            f.push_back({q[0], q[1], q[2]});
            f.push_back({q[0], q[2], q[3]});
        } else {
            f.push_back({q[0], q[1], q[3]});
            f.push_back({q[1], q[2], q[3]});
        }
    }
    return makeMesh(v, f);
}

Solid hull(Choices& c) {
    const bool lattice = c.flip();
    const int n = 4 + static_cast<int>(c.below(28));
    std::vector<Vector4> points;
    for (int i = 0; i < n; ++i) {
        const float x = coordinate(c, lattice), y = coordinate(c, lattice);
        points.emplace_back(x, y, coordinate(c, lattice));
    }
    // The tool hull, not CGAL's alone: that cuts flat facets one way or another depending on
    // what ran before in the process, and a seed must give one pair wherever it runs.
    Solid s;
    return gcode::convexHullOf(points, s) ? std::move(s) : box(c);
}

// A grid of columns of quantised heights over a flat floor: many coplanar faces, walls and
// steps.
Solid heightField(Choices& c) {
    const int nx = 1 + static_cast<int>(c.below(5)), ny = 1 + static_cast<int>(c.below(5));
    const float floorZ = -1.0f;
    std::vector<Vector4> v;
    const auto at = [&](int i, int j, int top) { return (top * (ny + 1) + j) * (nx + 1) + i; };
    for (int top = 0; top < 2; ++top) {
        for (int j = 0; j <= ny; ++j) {
            for (int i = 0; i <= nx; ++i) {
                const float x = -1.0f + 2.0f * static_cast<float>(i) / static_cast<float>(nx);
                const float y = -1.0f + 2.0f * static_cast<float>(j) / static_cast<float>(ny);
                const float z = top ? -0.5f + 0.5f * static_cast<float>(c.below(4)) : floorZ;
                v.emplace_back(x, y, z);
            }
        }
    }
    std::vector<Face> f;
    for (int j = 0; j < ny; ++j) {
        for (int i = 0; i < nx; ++i) {
            for (int top = 0; top < 2; ++top) {
                const int a = at(i, j, top), b = at(i + 1, j, top), d = at(i + 1, j + 1, top),
                          e = at(i, j + 1, top);
                std::array<Face, 2> pair = c.flip()
                                               ? std::array<Face, 2>{Face{a, b, d}, Face{a, d, e}}
                                               : std::array<Face, 2>{Face{a, b, e}, Face{b, d, e}};
                for (Face& face : pair) {
                    if (!top) {
                        std::swap(face[1], face[2]);
                    }
                    f.push_back(face);
                }
            }
        }
    }
    // The walls, walking the border counterclockwise seen from above.
    std::vector<std::pair<int, int>> ring;
    for (int i = 0; i < nx; ++i)
        ring.emplace_back(i, 0);
    for (int j = 0; j < ny; ++j)
        ring.emplace_back(nx, j);
    for (int i = nx; i > 0; --i)
        ring.emplace_back(i, ny);
    for (int j = ny; j > 0; --j)
        ring.emplace_back(0, j);
    for (size_t k = 0; k < ring.size(); ++k) {
        const auto [pi, pj] = ring[k];
        const auto [qi, qj] = ring[(k + 1) % ring.size()];
        const int bp = at(pi, pj, 0), bq = at(qi, qj, 0), tp = at(pi, pj, 1), tq = at(qi, qj, 1);
        f.push_back({bp, bq, tq});
        f.push_back({bp, tq, tp});
    }
    return makeMesh(v, f);
}

// A UV sphere with rings x segments, each vertex pushed in along its ray by up to `bump`:
// star-shaped, so never self-intersecting.
Solid sphere(int rings, int segments, double bump, Choices& c) {
    std::vector<Vector4> v;
    const auto radius = [&] { return 1.0 - bump * c.unit(); };
    const double pi = std::acos(-1.0);
    v.emplace_back(0.0f, 0.0f, static_cast<float>(radius()));
    for (int k = 1; k < rings; ++k) {
        const double theta = pi * k / rings;
        for (int j = 0; j < segments; ++j) {
            const double phi = 2.0 * pi * j / segments, r = radius();
            v.emplace_back(static_cast<float>(r * std::sin(theta) * std::cos(phi)),
                           static_cast<float>(r * std::sin(theta) * std::sin(phi)),
                           static_cast<float>(r * std::cos(theta)));
        }
    }
    v.emplace_back(0.0f, 0.0f, static_cast<float>(-radius()));
    const int south = static_cast<int>(v.size()) - 1;
    const auto ringAt = [&](int k, int j) { return 1 + (k - 1) * segments + (j % segments); };
    std::vector<Face> f;
    for (int j = 0; j < segments; ++j) {
        f.push_back({0, ringAt(1, j), ringAt(1, j + 1)});
        f.push_back({south, ringAt(rings - 1, j + 1), ringAt(rings - 1, j)});
        for (int k = 1; k + 1 < rings; ++k) {
            f.push_back({ringAt(k, j), ringAt(k + 1, j), ringAt(k + 1, j + 1)});
            f.push_back({ringAt(k, j), ringAt(k + 1, j + 1), ringAt(k, j + 1)});
        }
    }
    Solid s = makeMesh(v, f);
    orientOutward(s);
    return s;
}

Solid randomSolid(Choices& c, std::string& what) {
    switch (c.below(4)) {
        case 0:
            what += "hull";
            return hull(c);
        case 1:
            what += "box";
            return box(c);
        case 2:
            what += "heights";
            return heightField(c);
        default: {
            const int rings = 2 + static_cast<int>(c.below(9));
            const int segments = 3 + static_cast<int>(c.below(10));
            const double bump = c.flip() ? 0.0 : 0.4 * c.unit();
            what += "sphere" + std::to_string(rings) + "x" + std::to_string(segments);
            return sphere(rings, segments, bump, c);
        }
    }
}

// Every vertex rotated by `degrees` about an axis through the box centre, rounded to floats.
void rotate(Solid& s, double degrees, int axis) {
    const double a = degrees * std::acos(-1.0) / 180.0, cs = std::cos(a), sn = std::sin(a);
    const Vector4 m = (s.minCorner + s.maxCorner) * 0.5f;
    for (Vector4& v : s.vertices) {
        double p[3] = {double(v.x) - m.x, double(v.y) - m.y, double(v.z) - m.z};
        const int i = (axis + 1) % 3, j = (axis + 2) % 3;
        const double pi = p[i] * cs - p[j] * sn, pj = p[i] * sn + p[j] * cs;
        p[i] = pi;
        p[j] = pj;
        v = Vector4(static_cast<float>(p[0] + m.x), static_cast<float>(p[1] + m.y),
                    static_cast<float>(p[2] + m.z));
    }
    s.computeTriangleData();
    s.computeBoundingBox();
}

void scaleAboutCentre(Solid& s, double factor) {
    const Vector4 m = (s.minCorner + s.maxCorner) * 0.5f;
    for (Vector4& v : s.vertices) {
        v = Vector4(static_cast<float>(m.x + (double(v.x) - m.x) * factor),
                    static_cast<float>(m.y + (double(v.y) - m.y) * factor),
                    static_cast<float>(m.z + (double(v.z) - m.z) * factor));
    }
    s.computeTriangleData();
    s.computeBoundingBox();
}

void shift(Solid& s, const Vector4& d) {
    for (Vector4& v : s.vertices) {
        v = v + d;
    }
    s.computeTriangleData();
    s.computeBoundingBox();
}

Solid copyOf(const Solid& s) {
    Solid out;
    out.copyMeshFrom(s);
    return out;
}

// Every corner its own vertex: the engine must weld equal positions itself.
void unweld(Solid& s) {
    std::vector<Vector4> v;
    for (Triangle& t : s.triangles) {
        const int32_t base = static_cast<int32_t>(v.size());
        v.push_back(s.vertices[t.i0]);
        v.push_back(s.vertices[t.i1]);
        v.push_back(s.vertices[t.i2]);
        t.setIndices(base, base + 1, base + 2);
    }
    s.vertices = v;
}

// One vertex moved almost onto a neighbour: needles and near-zero-area triangles (or, on a
// non-convex solid, perhaps a fold, which the engine must refuse).
void needle(Solid& s, Choices& c) {
    if (s.triangles.empty()) {
        return;
    }
    const Triangle& t = s.triangles[c.below(static_cast<uint32_t>(s.triangles.size()))];
    const Vector4 to = s.vertices[t.i1];
    const Vector4 from = s.vertices[t.i0];
    const double f = c.flip() ? 1e-6 : 1e-3;
    const Vector4 moved(static_cast<float>(to.x + (double(from.x) - to.x) * f),
                        static_cast<float>(to.y + (double(from.y) - to.y) * f),
                        static_cast<float>(to.z + (double(from.z) - to.z) * f));
    for (Vector4& v : s.vertices) {
        if (v.x == from.x && v.y == from.y && v.z == from.z) {
            v = moved;
        }
    }
    s.computeTriangleData();
    s.computeBoundingBox();
}

float offsetComponent(Choices& c) {
    static constexpr float kTiny[] = {0.0f,   0.0f,  0.0f,   1e-30f, -1e-30f,
                                      1e-20f, 1e-7f, -1e-7f, 1e-4f};
    const uint32_t k = c.below(12);
    if (k < 9) {
        return kTiny[k];
    }
    if (k < 11) {
        return 0.25f * static_cast<float>(static_cast<int>(c.below(9)) - 4);
    }
    return static_cast<float>(c.unit() - 0.5);
}

std::string number(double x) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", x);
    return buffer;
}

}  // namespace

Choices::Choices(const uint8_t* data, size_t size) : m_bytes(data, data + size) {}

Choices::Choices(uint64_t seed, size_t count) {
    std::mt19937_64 random(seed);
    m_bytes.resize(count);
    for (uint8_t& b : m_bytes) {
        b = static_cast<uint8_t>(random() >> 56);
    }
}

uint32_t Choices::below(uint32_t n) {
    uint32_t x = 0;
    for (int i = 0; i < 2; ++i) {
        x = x << 8 | (m_at < m_bytes.size() ? m_bytes[m_at] : 0u);
        ++m_at;
    }
    return n == 0 ? 0 : x % n;
}

double Choices::unit() {
    return static_cast<double>(below(65536)) / 65536.0;
}

OperandPair randomOperands(Choices& c) {
    OperandPair p;
    std::string whatA, whatB;
    p.a = randomSolid(c, whatA);
    switch (c.below(6)) {
        case 0:
        case 1:
            p.b = randomSolid(c, whatB);
            break;
        case 2:
            p.b = copyOf(p.a);
            whatB = "copy";
            break;
        case 3: {
            static constexpr double kAngles[] = {1e-6, 1e-3, 0.1, 7.0};
            const double angle = kAngles[c.below(4)];
            p.b = copyOf(p.a);
            rotate(p.b, angle, static_cast<int>(c.below(3)));
            whatB = "copy turned " + number(angle) + " deg";
            break;
        }
        case 4: {
            // Two tessellations of one sphere: surfaces that nearly coincide everywhere.
            const int rings = 2 + static_cast<int>(c.below(9));
            const int segments = 3 + static_cast<int>(c.below(10));
            p.b = sphere(rings, segments, 0.0, c);
            whatB = "sphere" + std::to_string(rings) + "x" + std::to_string(segments);
            break;
        }
        default: {
            const double factor = c.flip() ? 1.0 + 1e-6 : 1.0 - 1e-6;
            p.b = copyOf(p.a);
            scaleAboutCentre(p.b, factor);
            whatB = "copy scaled " + number(factor);
            break;
        }
    }
    if (whatB.rfind("copy", 0) != 0 && whatB.rfind("sphere", 0) != 0 && c.flip()) {
        // An independent solid placed where it is likely to cut A.
        shift(p.b, Vector4(0.25f * static_cast<float>(static_cast<int>(c.below(5)) - 2),
                           0.25f * static_cast<float>(static_cast<int>(c.below(5)) - 2),
                           0.25f * static_cast<float>(static_cast<int>(c.below(5)) - 2)));
    }
    p.offset = Vector4(offsetComponent(c), offsetComponent(c), offsetComponent(c));
    p.sameAsA = whatB == "copy" && p.offset == Vector4();
    // Rarely, a vertex pulled almost onto its neighbour or split vertices.
    for (Solid* s : {&p.a, &p.b}) {
        std::string& what = s == &p.a ? whatA : whatB;
        switch (c.below(8)) {
            case 0:
                needle(*s, c);
                what += "+needle";
                p.sameAsA = false;
                break;
            case 1:
                unweld(*s);
                what += "+unwelded";
                break;
            default:
                break;
        }
    }
    p.description = whatA + " / " + whatB + " at (" + number(p.offset.x) + ", " +
                    number(p.offset.y) + ", " + number(p.offset.z) + ")";
    return p;
}

Judged runAndJudge(const OperandPair& pair, BooleanOp op) {
    Judged j;
    Solid out;
    const auto start = std::chrono::steady_clock::now();
    ClosedReport report;
    const Status s = closedBoolean(pair.a, pair.b, op, out, &report, 0, pair.offset);
    j.folds = report.folds;
    j.slivers = report.slivers;
    j.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    j.ok = s.ok();
    j.message = s.message();
    if (!j.ok) {
        return j;
    }
    // Welded by position, independently of the engine's numbering.
    using Key = std::tuple<float, float, float>;
    std::map<Key, int32_t> ids;
    std::vector<int32_t> id(out.vertices.size());
    for (size_t i = 0; i < out.vertices.size(); ++i) {
        const Vector4& v = out.vertices[i];
        id[i] =
            ids.emplace(Key(v.x + 0.0f, v.y + 0.0f, v.z + 0.0f), static_cast<int32_t>(ids.size()))
                .first->second;
    }
    std::map<std::pair<int32_t, int32_t>, std::pair<int, int>> uses;  // lo->hi, hi->lo
    for (const Triangle& t : out.triangles) {
        const int32_t c[3] = {id[t.i0], id[t.i1], id[t.i2]};
        for (int e = 0; e < 3; ++e) {
            const int32_t a = c[e], b = c[(e + 1) % 3];
            if (a == b) {
                ++j.openOrFlipped;  // a triangle with a repeated corner
                continue;
            }
            auto& u = uses[{std::min(a, b), std::max(a, b)}];
            (a < b ? u.first : u.second) += 1;
        }
    }
    for (const auto& [edge, u] : uses) {
        if (u.first != u.second) {
            ++j.openOrFlipped;
        } else if (u.first >= 2) {
            // Used as often each way: where the exact result pinches, parts touch along it.
            ++j.pinchedEdges;
        }
    }
    j.volume = signedVolume(out);
    // Vertices that are no operand's were rounded to floats: each moved by at most half a unit
    // in the last place per coordinate, which changes the volume by at most that distance
    // times the area of the triangles around it.
    double span = 0;
    for (const Vector4& v : out.vertices) {
        span =
            std::max({span, std::abs(double(v.x)), std::abs(double(v.y)), std::abs(double(v.z))});
    }
    const double step = std::sqrt(3.0) * std::ldexp(span, -24);
    // A seam point can also round onto an operand's corner that lies within a step of the
    // other surface: such corners count as rounded too. Near a triangle's plane and box is
    // enough for a bound.
    const auto nearSurface = [&](const Solid& s, const Vector4& shift, const Vector4& p) {
        for (const Triangle& t : s.triangles) {
            const Vector4 a = s.vertices[t.i0] + shift, b = s.vertices[t.i1] + shift,
                          c = s.vertices[t.i2] + shift;
            const double reach = 4 * step;
            if (p.x < std::min({a.x, b.x, c.x}) - reach ||
                p.x > std::max({a.x, b.x, c.x}) + reach ||
                p.y < std::min({a.y, b.y, c.y}) - reach ||
                p.y > std::max({a.y, b.y, c.y}) + reach ||
                p.z < std::min({a.z, b.z, c.z}) - reach ||
                p.z > std::max({a.z, b.z, c.z}) + reach) {
                continue;
            }
            const double ux = double(b.x) - a.x, uy = double(b.y) - a.y, uz = double(b.z) - a.z;
            const double vx = double(c.x) - a.x, vy = double(c.y) - a.y, vz = double(c.z) - a.z;
            const double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
            const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
            const double d = (nx * (p.x - a.x) + ny * (p.y - a.y) + nz * (p.z - a.z));
            if (length > 0 && std::abs(d) <= reach * length) {
                return true;
            }
        }
        return false;
    };
    std::set<Key> own[2];
    for (const Vector4& v : pair.a.vertices) {
        own[0].emplace(v.x + 0.0f, v.y + 0.0f, v.z + 0.0f);
    }
    for (const Vector4& v0 : pair.b.vertices) {
        const Vector4 v = v0 + pair.offset;
        own[1].emplace(v.x + 0.0f, v.y + 0.0f, v.z + 0.0f);
    }
    std::vector<char> moved(out.vertices.size(), 0);
    for (size_t i = 0; i < out.vertices.size(); ++i) {
        const Vector4& p = out.vertices[i];
        const Key k(p.x + 0.0f, p.y + 0.0f, p.z + 0.0f);
        const bool ofA = own[0].count(k) != 0, ofB = own[1].count(k) != 0;
        moved[i] = (!ofA && !ofB) || (ofA && !ofB && nearSurface(pair.b, pair.offset, p)) ||
                   (ofB && !ofA && nearSurface(pair.a, Vector4(), p));
    }
    for (const Triangle& t : out.triangles) {
        const bool rounded = moved[static_cast<size_t>(t.i0)] || moved[static_cast<size_t>(t.i1)] ||
                             moved[static_cast<size_t>(t.i2)];
        if (rounded) {
            const Vector4& a = out.vertices[t.i0];
            const Vector4& b = out.vertices[t.i1];
            const Vector4& c = out.vertices[t.i2];
            const double ux = double(b.x) - a.x, uy = double(b.y) - a.y, uz = double(b.z) - a.z;
            const double vx = double(c.x) - a.x, vy = double(c.y) - a.y, vz = double(c.z) - a.z;
            const double area =
                0.5 * std::sqrt(std::pow(uy * vz - uz * vy, 2) + std::pow(uz * vx - ux * vz, 2) +
                                std::pow(ux * vy - uy * vx, 2));
            j.roundingSlack += 3.0 * step * area;
        }
    }
    return j;
}

std::string faultOfPair(const OperandPair& pair, double times[3]) {
    static constexpr BooleanOp kOps[3] = {BooleanOp::Union, BooleanOp::Intersection,
                                          BooleanOp::Difference};
    Judged r[3];
    std::string fault;
    for (int k = 0; k < 3; ++k) {
        r[k] = runAndJudge(pair, kOps[k]);
        if (times != nullptr) {
            times[k] = r[k].seconds;
        }
        const std::string name(operationName(kOps[k]));
        if (!r[k].ok) {
            // An operand refused is no fault; the engine failing on operands it took is.
            if (r[k].message.rfind("Objekt ", 0) != 0 && fault.empty()) {
                fault = name + " failed: " + r[k].message;
            }
            continue;
        }
        if (r[k].openOrFlipped != 0 && fault.empty()) {
            fault = name + ": " + std::to_string(r[k].openOrFlipped) +
                    " open or unevenly used edges or triangles with a repeated corner";
        }
    }
    if (!fault.empty() || !r[0].ok || !r[1].ok || !r[2].ok) {
        return fault;
    }
    Solid moved = copyOf(pair.b);
    shift(moved, pair.offset);
    const double va = signedVolume(pair.a), vb = signedVolume(moved);
    const double slack = 1e-9 * std::max(std::abs(va), std::abs(vb)) + r[0].roundingSlack +
                         r[1].roundingSlack + r[2].roundingSlack;
    const double u = r[0].volume, i = r[1].volume, d = r[2].volume;
    if (std::abs(u + i - va - vb) > slack) {
        return "vol(A u B) + vol(A n B) = " + number(u + i) +
               ", vol(A) + vol(B) = " + number(va + vb);
    }
    if (std::abs(d - (va - i)) > slack) {
        return "vol(A - B) = " + number(d) + ", vol(A) - vol(A n B) = " + number(va - i);
    }
    if (pair.sameAsA &&
        (std::abs(u - va) > slack || std::abs(i - va) > slack || std::abs(d) > slack)) {
        return "A against itself: " + number(u) + ", " + number(i) + ", " + number(d) +
               " for vol(A) = " + number(va);
    }
    return {};
}

}  // namespace korvan::test
