// Corners that a chain of cuts leaves where nothing turns: on a straight crease between two flat
// faces, or inside a flat face that lies on no coordinate plane. Each cut splits the faces it
// meets at every edge of theirs it crosses, and the next cut along them splits again at each
// of those corners, so that a wall milled pass after pass gathers corners without end. Dropping
// such a corner and filling its faces again from their outlines changes no point of the solid.
// Given a tolerance, corners that only rounding turns go too (seam points rounded to floats lie
// a fraction of a float step off their rim): their faces move by about the tolerance, and the
// new triangles are checked exactly against every triangle near them before anything is kept.
#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "closed/box_bits.h"
#include "closed/closed_boolean.h"
#include "closed/self_crossing.h"
#include "geometry/mesh_topology.h"

namespace korvan {
namespace {

using Kernel = CGAL::Exact_predicates_inexact_constructions_kernel;
using Corners = std::array<int32_t, 3>;

// A fan's triangles around a corner are cut when they turn more than this many ways.
constexpr size_t kLargestFan = 64;
// Corners where rounding is all that turns are tried with fans up to this size: each split of
// the fan in two is tried.
constexpr size_t kLargestNearFan = 16;

// Cells of a grid over a box that given boxes within it meet: the new triangles of a long
// crease span the box of them all, yet each lies in a thin slab of it, and only what meets
// their own boxes can cross them. Cells are taken by a function of each coordinate that never
// decreases, so that two boxes that meet mark and find a common cell.
class CellMask {
public:
    CellMask(const Vector4& lo, const Vector4& hi) : m_lo(lo) {
        m_per = {perCell(lo.x, hi.x), perCell(lo.y, hi.y), perCell(lo.z, hi.z)};
        m_cells.assign(kCells * kCells * kCells, 0);
    }

    void mark(const Vector4& a, const Vector4& b, const Vector4& c) {
        const auto [from, to] = rangeOf(a, b, c);
        for (int32_t z = from[2]; z <= to[2]; ++z) {
            for (int32_t y = from[1]; y <= to[1]; ++y) {
                for (int32_t x = from[0]; x <= to[0]; ++x) {
                    m_cells[static_cast<size_t>((z * kCells + y) * kCells + x)] = 1;
                }
            }
        }
    }

    bool meets(const Vector4& a, const Vector4& b, const Vector4& c) const {
        const auto [from, to] = rangeOf(a, b, c);
        for (int32_t z = from[2]; z <= to[2]; ++z) {
            for (int32_t y = from[1]; y <= to[1]; ++y) {
                for (int32_t x = from[0]; x <= to[0]; ++x) {
                    if (m_cells[static_cast<size_t>((z * kCells + y) * kCells + x)] != 0) {
                        return true;
                    }
                }
            }
        }
        return false;
    }

private:
    static constexpr int32_t kCells = 32;

    static float perCell(float lo, float hi) { return hi > lo ? kCells / (hi - lo) : 0.0f; }

    int32_t cellOf(int axis, float v) const {
        const float lo = axis == 0 ? m_lo.x : axis == 1 ? m_lo.y : m_lo.z;
        const float k = (v - lo) * m_per[static_cast<size_t>(axis)];
        return static_cast<int32_t>(std::clamp(k, 0.0f, static_cast<float>(kCells - 1)));
    }

    std::pair<std::array<int32_t, 3>, std::array<int32_t, 3>> rangeOf(const Vector4& a,
                                                                      const Vector4& b,
                                                                      const Vector4& c) const {
        return {{cellOf(0, std::min({a.x, b.x, c.x})), cellOf(1, std::min({a.y, b.y, c.y})),
                 cellOf(2, std::min({a.z, b.z, c.z}))},
                {cellOf(0, std::max({a.x, b.x, c.x})), cellOf(1, std::max({a.y, b.y, c.y})),
                 cellOf(2, std::max({a.z, b.z, c.z}))}};
    }

    Vector4 m_lo;
    std::array<float, 3> m_per{};
    std::vector<uint8_t> m_cells;
};

class Creases {
public:
    // The corners inside the box are the ones tried. Every triangle at a corner of one of
    // theirs is read, so that the whole fan of each corner they reach is known: a corner
    // inside has them all, and its neighbours, whose faces are filled again, too. So is every
    // triangle whose box meets the box (all three corners beyond one of its faces where not).
    Creases(Solid& solid, const Vector4& lo, const Vector4& hi, double tolerance)
        : m_solid(solid), m_tolerance(tolerance), m_lo(lo), m_hi(hi) {
        // A milled part is large and the box small: the passes over all of it run in chunks
        // on every thread, and what they find is taken in order.
        const size_t n = solid.vertices.size();
        m_beyond = closed::beyondBitsOf(solid.vertices, lo, hi);
        const std::vector<Triangle>& tris = solid.triangles;
        std::vector<char> reached(n, 0);
        for (const int32_t t : closed::indicesWhere(tris.size(), [&](size_t t) {
                 return inside(tris[t].i0) || inside(tris[t].i1) || inside(tris[t].i2);
             })) {
            const Triangle& tri = tris[static_cast<size_t>(t)];
            reached[static_cast<size_t>(tri.i0)] = reached[static_cast<size_t>(tri.i1)] =
                reached[static_cast<size_t>(tri.i2)] = 1;
        }
        for (const int32_t t : closed::indicesWhere(tris.size(), [&](size_t t) {
                 const Corners c = {tris[t].i0, tris[t].i1, tris[t].i2};
                 return reached[static_cast<size_t>(c[0])] != 0 ||
                        reached[static_cast<size_t>(c[1])] != 0 ||
                        reached[static_cast<size_t>(c[2])] != 0 ||
                        closed::meetsBox(m_beyond, c[0], c[1], c[2]);
             })) {
            const Triangle& tri = tris[static_cast<size_t>(t)];
            const Corners c = {tri.i0, tri.i1, tri.i2};
            const auto local = static_cast<int32_t>(m_tris.size());
            m_tris.push_back(c);
            m_slot.push_back(t);
            for (const int32_t v : c) {
                if (reached[static_cast<size_t>(v)] != 0) {
                    m_around[v].push_back(local);
                }
            }
        }
        m_alive.assign(m_tris.size(), 1);
    }

    // Drops every corner it can, each one's neighbours tried again after it; the number dropped.
    int64_t run() {
        std::vector<int32_t> work;
        work.reserve(m_around.size());
        for (const auto& [v, around] : m_around) {
            if (inside(v)) {
                work.push_back(v);
            }
        }
        std::sort(work.begin(), work.end(), std::greater<>());  // taken from the back: ascending
        int64_t dropped = 0;
        while (!work.empty()) {
            const int32_t v = work.back();
            work.pop_back();
            if (drop(v)) {
                ++dropped;
                for (const int32_t p : m_ring) {
                    work.push_back(p);
                }
            }
        }
        if (dropped == 0) {
            return 0;
        }
        if (m_nearlyDropped > 0 && crossesWhatItMade()) {
            return -1;
        }
        write();
        return dropped;
    }

private:
    Kernel::Point_3 point(int32_t v) const {
        const Vector4& p = m_solid.vertices[static_cast<size_t>(v)];
        return {p.x, p.y, p.z};
    }

    // Orientation of a, b, c seen along `axis` (cyclic order of the other two), exact.
    int orient2(int axis, int32_t a, int32_t b, int32_t c) const {
        const auto flat = [&](int32_t v) {
            const Vector4& p = m_solid.vertices[static_cast<size_t>(v)];
            const double q[3] = {p.x, p.y, p.z};
            return Kernel::Point_2(q[(axis + 1) % 3], q[(axis + 2) % 3]);
        };
        const CGAL::Orientation o = CGAL::orientation(flat(a), flat(b), flat(c));
        return o == CGAL::POSITIVE ? 1 : o == CGAL::NEGATIVE ? -1 : 0;
    }

    // An axis along which triangle (a, b, c) keeps an area, and the sign of that area.
    std::pair<int, int> axisOf(int32_t a, int32_t b, int32_t c) const {
        for (int axis = 0; axis < 3; ++axis) {
            if (const int s = orient2(axis, a, b, c); s != 0) {
                return {axis, s};
            }
        }
        return {-1, 0};
    }

    // The triangles around `v` in turn: m_ring[i] to m_ring[i + 1] is the far edge of
    // m_fan[i]. False where they do not close one loop.
    bool fanAround(int32_t v) {
        m_ring.clear();
        m_fan.clear();
        const auto it = m_around.find(v);
        if (it == m_around.end() || it->second.size() < 3 || it->second.size() > kLargestFan) {
            return false;
        }
        const std::vector<int32_t>& around = it->second;
        const auto farEdge = [&](int32_t t) {
            const Corners& c = m_tris[static_cast<size_t>(t)];
            const int k = c[0] == v ? 0 : c[1] == v ? 1 : 2;
            return std::pair(c[static_cast<size_t>((k + 1) % 3)],
                             c[static_cast<size_t>((k + 2) % 3)]);
        };
        int32_t t = around.front();
        for (size_t n = 0; n < around.size(); ++n) {
            const auto [p, q] = farEdge(t);
            m_ring.push_back(p);
            m_fan.push_back(t);
            int32_t next = -1;
            for (const int32_t u : around) {
                if (farEdge(u).first == q) {
                    if (next >= 0) {
                        return false;  // not one fan
                    }
                    next = u;
                }
            }
            if (next < 0 || (n + 1 < around.size()) == (next == around.front())) {
                return false;
            }
            t = next;
        }
        std::vector<int32_t> seen = m_ring;
        std::sort(seen.begin(), seen.end());
        return std::adjacent_find(seen.begin(), seen.end()) == seen.end();
    }

    // Triangles filling the polygon `outline` (turning as `sign` says seen along `axis`) by
    // cutting ears; false where an ear cannot be cut without a corner on or in it.
    bool fill(std::vector<int32_t> outline, int axis, int sign, std::vector<Corners>& out) const {
        if (outline.size() < 3) {
            return false;
        }
        while (outline.size() > 3) {
            const size_t n = outline.size();
            bool cut = false;
            for (size_t i = 0; i < n && !cut; ++i) {
                const int32_t a = outline[(i + n - 1) % n], b = outline[i],
                              c = outline[(i + 1) % n];
                if (orient2(axis, a, b, c) != sign) {
                    continue;
                }
                bool empty = true;
                for (size_t j = 0; j < n && empty; ++j) {
                    const int32_t w = outline[j];
                    if (w != a && w != b && w != c) {
                        empty =
                            !(orient2(axis, a, b, w) != -sign && orient2(axis, b, c, w) != -sign &&
                              orient2(axis, c, a, w) != -sign);
                    }
                }
                if (empty) {
                    out.push_back({a, b, c});
                    outline.erase(outline.begin() + static_cast<ptrdiff_t>(i));
                    cut = true;
                }
            }
            if (!cut) {
                return false;
            }
        }
        if (orient2(axis, outline[0], outline[1], outline[2]) != sign) {
            return false;
        }
        out.push_back({outline[0], outline[1], outline[2]});
        return true;
    }

    // A face to fill again: its outline, in the fan's turn, and how to see it flat.
    struct Face {
        std::vector<int32_t> outline;
        int axis = -1;
        int sign = 0;
    };

    bool drop(int32_t v) {
        if (!inside(v) || !fanAround(v)) {
            return false;
        }
        const size_t m = m_ring.size();
        // A flat triangle at it (which the milling step leaves for the next cut to mend) is no
        // face to fill.
        for (size_t i = 0; i < m; ++i) {
            if (axisOf(v, m_ring[i], m_ring[(i + 1) % m]).first < 0) {
                return false;
            }
        }
        std::vector<Face> faces;
        bool nearly = false;
        if (!exactFaces(v, faces)) {
            faces.clear();
            if (m_tolerance <= 0.0 || !nearFaces(v, faces)) {
                return false;
            }
            nearly = true;
        }
        std::vector<Corners> made;
        for (const Face& face : faces) {
            if (!fill(face.outline, face.axis, face.sign, made)) {
                return false;
            }
        }
        // No new edge may be one the solid has elsewhere (the outlines' own edges are the
        // fan's).
        for (const Corners& c : made) {
            for (int k = 0; k < 3; ++k) {
                const int32_t a = c[static_cast<size_t>(k)],
                              b = c[static_cast<size_t>((k + 1) % 3)];
                const size_t i = static_cast<size_t>(std::find(m_ring.begin(), m_ring.end(), a) -
                                                     m_ring.begin());
                const bool outlineEdge = m_ring[(i + 1) % m] == b || m_ring[(i + m - 1) % m] == b;
                if (!outlineEdge && hasEdgeOutsideFan(a, b)) {
                    return false;
                }
            }
        }
        for (const int32_t t : m_fan) {
            m_alive[static_cast<size_t>(t)] = 0;
            for (const int32_t c : m_tris[static_cast<size_t>(t)]) {
                if (const auto it = m_around.find(c); it != m_around.end()) {
                    std::erase(it->second, t);
                }
            }
        }
        m_around.erase(v);
        m_dropped.push_back(v);
        for (const Corners& c : made) {
            const auto t = static_cast<int32_t>(m_tris.size());
            m_tris.push_back(c);
            m_slot.push_back(-1);
            m_alive.push_back(1);
            for (const int32_t p : c) {
                m_around[p].push_back(t);
            }
        }
        m_nearlyDropped += nearly ? 1 : 0;
        return true;
    }

    // The faces around `v` where nothing turns exactly: one flat face, or two flat faces
    // meeting on a straight crease through it.
    bool exactFaces(int32_t v, std::vector<Face>& faces) const {
        const size_t m = m_ring.size();
        // Where the turn of the fan breaks: between m_fan[i - 1] and m_fan[i], at m_ring[i].
        std::vector<size_t> breaks;
        for (size_t i = 0; i < m; ++i) {
            const int32_t before = m_ring[(i + m - 1) % m], at = m_ring[i],
                          after = m_ring[(i + 1) % m];
            const bool flat = CGAL::orientation(point(v), point(before), point(at), point(after)) ==
                              CGAL::COPLANAR;
            // Flat and not folded: the two far corners on either side of the common edge.
            bool plain = false;
            if (flat) {
                const auto [axis, sign] = axisOf(v, before, at);
                plain = axis >= 0 && orient2(axis, v, at, after) == sign;
            }
            if (!plain) {
                breaks.push_back(i);
                if (breaks.size() > 2) {
                    return false;
                }
            }
        }
        if (breaks.empty()) {
            // Inside one flat face: coordinate planes are the flat faces' own (their lattice).
            const Vector4& q = m_solid.vertices[static_cast<size_t>(v)];
            for (int k = 0; k < 3; ++k) {
                bool same = true;
                for (const int32_t p : m_ring) {
                    const Vector4& r = m_solid.vertices[static_cast<size_t>(p)];
                    same = same && (k == 0 ? r.x == q.x : k == 1 ? r.y == q.y : r.z == q.z);
                }
                if (same) {
                    return false;
                }
            }
            faces.push_back({m_ring});
        } else if (breaks.size() == 2) {
            // On a straight crease: both faces filled from their outlines, which meet along it.
            const int32_t s = m_ring[breaks[0]], e = m_ring[breaks[1]];
            if (!CGAL::collinear_are_strictly_ordered_along_line(point(s), point(v), point(e))) {
                return false;
            }
            for (int side = 0; side < 2; ++side) {
                faces.push_back({chain(breaks[static_cast<size_t>(side)],
                                       breaks[static_cast<size_t>(1 - side)])});
            }
        } else {
            return false;
        }
        for (Face& face : faces) {
            // The fan's turn, seen along an axis where the face keeps its area.
            const Corners& first = m_tris[static_cast<size_t>(m_fan[static_cast<size_t>(
                std::find(m_ring.begin(), m_ring.end(), face.outline[0]) - m_ring.begin())])];
            std::tie(face.axis, face.sign) = axisOf(first[0], first[1], first[2]);
            if (face.axis < 0) {
                return false;
            }
        }
        return true;
    }

    // The same where rounding is all that turns: every corner of a face, `v` included, within
    // the tolerance of one plane, and `v` within it of the crease between its neighbours there
    // and strictly between them. Each face is seen along its normal's largest component, and
    // every triangle of the fan it replaces must keep its area and turn there.
    bool nearFaces(int32_t v, std::vector<Face>& faces) const {
        const size_t m = m_ring.size();
        if (m > kLargestNearFan) {
            return false;
        }
        if (Face face{m_ring}; nearlyFlat(v, face, 0, m)) {
            faces.push_back(std::move(face));
            return true;
        }
        for (size_t i = 0; i < m; ++i) {
            for (size_t j = i + 2; j + 2 <= i + m; ++j) {
                const size_t e = j % m;
                if (!nearlyBetween(m_ring[i], v, m_ring[e])) {
                    continue;
                }
                Face one{chain(i, e)}, other{chain(e, i)};
                if (nearlyFlat(v, one, i, j - i) && nearlyFlat(v, other, e, i + m - j)) {
                    faces.push_back(std::move(one));
                    faces.push_back(std::move(other));
                    return true;
                }
            }
        }
        return false;
    }

    // m_ring from index `from` on to index `to`, both included.
    std::vector<int32_t> chain(size_t from, size_t to) const {
        std::vector<int32_t> out;
        for (size_t i = from;; i = (i + 1) % m_ring.size()) {
            out.push_back(m_ring[i]);
            if (i == to) {
                break;
            }
        }
        return out;
    }

    std::array<double, 3> at(int32_t v) const {
        const Vector4& p = m_solid.vertices[static_cast<size_t>(v)];
        return {p.x, p.y, p.z};
    }

    // `v` within the tolerance of the segment from `s` to `e`, and strictly inside it.
    bool nearlyBetween(int32_t s, int32_t v, int32_t e) const {
        const std::array<double, 3> a = at(s), b = at(e), p = at(v);
        double ab[3], ap[3], ll = 0.0, t = 0.0;
        for (int k = 0; k < 3; ++k) {
            ab[k] = b[k] - a[k];
            ap[k] = p[k] - a[k];
            ll += ab[k] * ab[k];
            t += ab[k] * ap[k];
        }
        if (!(ll > 0.0) || !(t > 0.0) || !(t < ll)) {
            return false;
        }
        const double cx = ab[1] * ap[2] - ab[2] * ap[1], cy = ab[2] * ap[0] - ab[0] * ap[2],
                     cz = ab[0] * ap[1] - ab[1] * ap[0];
        return cx * cx + cy * cy + cz * cz <= m_tolerance * m_tolerance * ll;
    }

    // Whether the polygon of `v` and the face's outline lies within the tolerance of one plane
    // (Newell's normal through its centroid), the face's `count` fan triangles from m_fan[first]
    // on keeping their turn seen along the normal's largest component; sets axis and sign.
    bool nearlyFlat(int32_t v, Face& face, size_t first, size_t count) const {
        std::vector<std::array<double, 3>> poly;
        poly.reserve(face.outline.size() + 1);
        if (count < m_ring.size()) {
            poly.push_back(at(v));
        }
        for (const int32_t p : face.outline) {
            poly.push_back(at(p));
        }
        double n[3] = {0, 0, 0}, c[3] = {0, 0, 0};
        for (size_t i = 0; i < poly.size(); ++i) {
            const std::array<double, 3>& a = poly[i];
            const std::array<double, 3>& b = poly[(i + 1) % poly.size()];
            n[0] += (a[1] - b[1]) * (a[2] + b[2]);
            n[1] += (a[2] - b[2]) * (a[0] + b[0]);
            n[2] += (a[0] - b[0]) * (a[1] + b[1]);
            for (int k = 0; k < 3; ++k) {
                c[k] += a[k] / static_cast<double>(poly.size());
            }
        }
        const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        if (!(length > 0.0)) {
            return false;
        }
        const std::array<double, 3> q = at(v);
        const auto off = [&](const std::array<double, 3>& p) {
            return std::abs(n[0] * (p[0] - c[0]) + n[1] * (p[1] - c[1]) + n[2] * (p[2] - c[2])) /
                   length;
        };
        if (off(q) > m_tolerance) {
            return false;
        }
        for (const std::array<double, 3>& p : poly) {
            if (off(p) > m_tolerance) {
                return false;
            }
        }
        face.axis = 0;
        for (int k = 1; k < 3; ++k) {
            if (std::abs(n[k]) > std::abs(n[face.axis])) {
                face.axis = k;
            }
        }
        face.sign = n[face.axis] > 0.0 ? 1 : -1;
        for (size_t i = first; i < first + count; ++i) {
            const size_t k = i % m_ring.size();
            if (orient2(face.axis, v, m_ring[k], m_ring[(k + 1) % m_ring.size()]) != face.sign) {
                return false;
            }
        }
        return true;
    }

    // hasEdge, not counting the triangles of the fan being replaced.
    bool hasEdgeOutsideFan(int32_t a, int32_t b) const {
        const auto it = m_around.find(a);
        if (it == m_around.end()) {
            return true;
        }
        for (const int32_t t : it->second) {
            if (std::find(m_fan.begin(), m_fan.end(), t) != m_fan.end()) {
                continue;
            }
            const Corners& c = m_tris[static_cast<size_t>(t)];
            if (c[0] == b || c[1] == b || c[2] == b) {
                return true;
            }
        }
        return false;
    }

    bool inside(int32_t v) const { return m_beyond[static_cast<size_t>(v)] == 0; }

    // Whether a triangle made here crosses or touches another beyond what they share: a face
    // filled where rounding turns lies within the tolerance of the old one, not on it. The
    // triangles tested are those whose box meets a new one's box, read or not.
    bool crossesWhatItMade() const {
        Vector4 lo(HUGE_VALF, HUGE_VALF, HUGE_VALF), hi(-HUGE_VALF, -HUGE_VALF, -HUGE_VALF);
        for (size_t t = 0; t < m_tris.size(); ++t) {
            if (m_alive[t] != 0 && m_slot[t] < 0) {
                for (const int32_t v : m_tris[t]) {
                    const Vector4& p = m_solid.vertices[static_cast<size_t>(v)];
                    lo = Vector4(std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z));
                    hi = Vector4(std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z));
                }
            }
        }
        // Within the box, every triangle that may meet them has been read.
        const bool within = lo.x >= m_lo.x && lo.y >= m_lo.y && lo.z >= m_lo.z && hi.x <= m_hi.x &&
                            hi.y <= m_hi.y && hi.z <= m_hi.z;
        // Beyond the box, the whole solid is read, and each of its vertices tested once.
        std::vector<uint8_t> near;
        if (!within) {
            near = closed::beyondBitsOf(m_solid.vertices, lo, hi);
        }
        const auto at = [&](int32_t v) -> const Vector4& {
            return m_solid.vertices[static_cast<size_t>(v)];
        };
        CellMask cells(lo, hi);
        for (size_t t = 0; t < m_tris.size(); ++t) {
            if (m_alive[t] != 0 && m_slot[t] < 0) {
                cells.mark(at(m_tris[t][0]), at(m_tris[t][1]), at(m_tris[t][2]));
            }
        }
        const closed::BoxBits box(closed::boundOf(lo), closed::boundOf(hi));
        const auto nearBox = [&](const Corners& c) {
            const bool inBox = within ? box.meets(at(c[0]), at(c[1]), at(c[2]))
                                      : closed::meetsBox(near, c[0], c[1], c[2]);
            return inBox && cells.meets(at(c[0]), at(c[1]), at(c[2]));
        };
        std::vector<Vector4> corners;
        std::vector<char> fresh;
        const auto add = [&](const Corners& c, bool made) {
            for (const int32_t v : c) {
                corners.push_back(m_solid.vertices[static_cast<size_t>(v)]);
            }
            fresh.push_back(made ? 1 : 0);
        };
        for (size_t t = 0; t < m_tris.size(); ++t) {
            if (m_alive[t] != 0 && nearBox(m_tris[t])) {
                add(m_tris[t], m_slot[t] < 0);
            }
        }
        if (!within) {
            std::vector<char> read(m_solid.triangles.size(), 0);
            for (size_t t = 0; t < m_tris.size(); ++t) {
                if (m_slot[t] >= 0) {
                    read[static_cast<size_t>(m_slot[t])] = 1;
                }
            }
            for (size_t t = 0; t < m_solid.triangles.size(); ++t) {
                const Triangle& tri = m_solid.triangles[t];
                if (read[t] == 0 && nearBox({tri.i0, tri.i1, tri.i2})) {
                    add({tri.i0, tri.i1, tri.i2}, false);
                }
            }
        }
        return closed::crossingPairsOfCorners(corners, 1, &fresh) > 0;
    }

    // The ids from `count - holes.size()` up that are not holes, in order, each moved into the
    // next hole below that bound: a few moves where shifting everything after the first hole
    // up would move half of a milled part's arrays every time.
    static std::vector<std::pair<int32_t, int32_t>> tailIntoHoles(
        size_t count, const std::vector<int32_t>& holes) {
        const auto kept = static_cast<int32_t>(count - holes.size());
        std::vector<std::pair<int32_t, int32_t>> moves;
        auto below = holes.begin(), above = std::lower_bound(holes.begin(), holes.end(), kept);
        for (auto from = kept; from < static_cast<int32_t>(count); ++from) {
            if (above != holes.end() && *above == from) {
                ++above;
            } else {
                moves.emplace_back(from, *below++);
            }
        }
        return moves;
    }

    // The new triangles into the places of the dropped ones, in order (a fan of k triangles
    // gives k - 2, so there is room), the places left over filled from the end; the dropped
    // corners' ids taken by the last vertices.
    void write() {
        std::vector<int32_t> places;
        for (size_t t = 0; t < m_tris.size(); ++t) {
            if (m_alive[t] == 0 && m_slot[t] >= 0) {
                places.push_back(m_slot[t]);
            }
        }
        std::sort(places.begin(), places.end());
        size_t next = 0;
        for (size_t t = 0; t < m_tris.size(); ++t) {
            if (m_alive[t] != 0 && m_slot[t] < 0) {
                const Corners& c = m_tris[t];
                Triangle& into = m_solid.triangles[static_cast<size_t>(places[next++])];
                into.setIndices(c[0], c[1], c[2]);
                computeTriangleData(into, m_solid.vertices.data());
            }
        }
        std::vector<Triangle>& tris = m_solid.triangles;
        places.erase(places.begin(), places.begin() + static_cast<ptrdiff_t>(next));
        for (const auto& [from, to] : tailIntoHoles(tris.size(), places)) {
            tris[static_cast<size_t>(to)] = tris[static_cast<size_t>(from)];
        }
        tris.resize(tris.size() - places.size());
        // Only the dropped corners lose their triangles; the last vertices take their ids.
        std::sort(m_dropped.begin(), m_dropped.end());
        std::vector<Vector4>& vertices = m_solid.vertices;
        // A dropped corner lies between corners that stay, on the box or inside it; the box
        // changes only where one lay on it.
        bool onBox = false;
        for (const int32_t v : m_dropped) {
            const Vector4& p = vertices[static_cast<size_t>(v)];
            onBox = onBox || p.x == m_solid.minCorner.x || p.y == m_solid.minCorner.y ||
                    p.z == m_solid.minCorner.z || p.x == m_solid.maxCorner.x ||
                    p.y == m_solid.maxCorner.y || p.z == m_solid.maxCorner.z;
        }
        const size_t kept = vertices.size() - m_dropped.size();
        std::vector<int32_t> newId(vertices.size() - kept, -1);  // of the ids from `kept` up
        for (const auto& [from, to] : tailIntoHoles(vertices.size(), m_dropped)) {
            vertices[static_cast<size_t>(to)] = vertices[static_cast<size_t>(from)];
            newId[static_cast<size_t>(from) - kept] = to;
        }
        const auto bound = static_cast<int32_t>(kept);
        tbb::parallel_for(tbb::blocked_range<size_t>(0, tris.size(), 16384),
                          [&](const tbb::blocked_range<size_t>& r) {
                              const auto id = [&](int32_t v) {
                                  return v < bound ? v : newId[static_cast<size_t>(v - bound)];
                              };
                              for (size_t t = r.begin(); t < r.end(); ++t) {
                                  Triangle& tri = tris[t];
                                  if (tri.i0 >= bound || tri.i1 >= bound || tri.i2 >= bound) {
                                      tri.setIndices(id(tri.i0), id(tri.i1), id(tri.i2));
                                  }
                              }
                          });
        vertices.resize(kept);
        if (onBox) {
            m_solid.computeBoundingBox();
        }
        m_solid.touch();
    }

    Solid& m_solid;
    double m_tolerance;           // 0: only corners where nothing turns exactly
    int64_t m_nearlyDropped = 0;  // corners dropped where rounding turns
    Vector4 m_lo, m_hi;
    std::vector<uint8_t> m_beyond;  // per vertex of the solid, the faces of the box as bits
    std::vector<Corners> m_tris;    // those at a corner of one at a corner inside, then new ones
    std::vector<int32_t> m_slot;    // each one's place in the solid, -1 for a new one
    std::vector<char> m_alive;
    std::unordered_map<int32_t, std::vector<int32_t>> m_around;  // of their corners
    std::vector<int32_t> m_ring, m_fan;
    std::vector<int32_t> m_dropped;  // the corners dropped
};

// Narrows [lo, hi] to the box of the triangles of `after` within it that have a corner at a
// position where `before` has no vertex there: the corners a cut made. Corners elsewhere in the
// box kept their fans through the cut, and a run tried them when a cut made them; a tool in its
// own groove has the groove's walls (most of what its box holds) behind it. False where the cut
// made no corner there.
bool narrowToWhatChanged(const Solid& after, const Solid& before, Vector4& lo, Vector4& hi) {
    const closed::BoxBits box(closed::boundOf(lo), closed::boundOf(hi));
    const auto within = [&](const std::vector<Vector4>& vertices) {
        return closed::indicesWhere(vertices.size(),
                                    [&](size_t v) { return box(vertices[v]) == 0; });
    };
    const std::vector<int32_t> old = within(before.vertices);
    PositionWeld positions(old.size());
    for (const int32_t v : old) {
        positions.add(before.vertices[static_cast<size_t>(v)]);
    }
    std::vector<char> made(after.vertices.size(), 0);
    for (const int32_t v : within(after.vertices)) {
        if (positions.find(after.vertices[static_cast<size_t>(v)]) < 0) {
            made[static_cast<size_t>(v)] = 1;
        }
    }
    const std::vector<Triangle>& tris = after.triangles;
    const std::vector<int32_t> changed = closed::indicesWhere(tris.size(), [&](size_t t) {
        return made[static_cast<size_t>(tris[t].i0)] != 0 ||
               made[static_cast<size_t>(tris[t].i1)] != 0 ||
               made[static_cast<size_t>(tris[t].i2)] != 0;
    });
    if (changed.empty()) {
        return false;
    }
    Vector4 from = after.vertices[static_cast<size_t>(tris[static_cast<size_t>(changed[0])].i0)];
    Vector4 to = from;
    for (const int32_t t : changed) {
        const Triangle& tri = tris[static_cast<size_t>(t)];
        for (const int32_t v : {tri.i0, tri.i1, tri.i2}) {
            includeInBox(from, to, after.vertices[static_cast<size_t>(v)]);
        }
    }
    lo = Vector4(std::max(lo.x, from.x), std::max(lo.y, from.y), std::max(lo.z, from.z));
    hi = Vector4(std::min(hi.x, to.x), std::min(hi.y, to.y), std::min(hi.z, to.z));
    return true;
}

}  // namespace

int64_t dropStraightCorners(Solid& solid, const Vector4& lo, const Vector4& hi, double tolerance) {
    if (const int64_t dropped = Creases(solid, lo, hi, tolerance).run(); dropped >= 0) {
        return dropped;
    }
    // What the tolerance allowed made two triangles meet: only the exact drops are kept.
    return Creases(solid, lo, hi, 0.0).run();
}

LeanCounts leanAroundCut(Solid& workpiece, const Solid& before, const Solid& tool,
                         const Vector4& offset) {
    LeanCounts counts;
    if (tool.vertices.empty()) {
        return counts;
    }
    Vector4 lo, hi;
    boxOfPoints(tool.vertices, lo, hi);
    lo = lo + offset;
    hi = hi + offset;
    // Rounding is relative to the magnitude of the coordinates there: 4 to 8 float steps.
    const float reach = std::max({std::abs(lo.x), std::abs(lo.y), std::abs(lo.z), std::abs(hi.x),
                                  std::abs(hi.y), std::abs(hi.z)});
    const float margin = std::ldexp(std::max(reach, 1.0f), -10);
    const Vector4 pad(margin, margin, margin);
    lo = lo - pad;
    hi = hi + pad;
    if (!narrowToWhatChanged(workpiece, before, lo, hi)) {
        return counts;
    }
    // Corners of the changed triangles lie on the narrowed box's faces.
    lo = lo - pad;
    hi = hi + pad;
    counts.mergedFaces = mergeFlatFaces(workpiece, lo, hi);
    counts.droppedCorners =
        dropStraightCorners(workpiece, lo, hi, std::ldexp(static_cast<double>(reach), -21));
    return counts;
}

}  // namespace korvan
