// Corners that a chain of cuts leaves where nothing turns: on a straight crease between two flat
// faces, or inside a flat face that lies on no coordinate plane. Each cut splits the faces it
// meets at every edge of theirs it crosses, and the next cut along them splits again at each
// of those corners, so that a wall milled pass after pass gathers corners without end. Dropping
// such a corner and filling its faces again from their outlines changes no point of the solid.
#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "closed/closed_boolean.h"

namespace korvan {
namespace {

using Kernel = CGAL::Exact_predicates_inexact_constructions_kernel;
using Corners = std::array<int32_t, 3>;

// A fan's triangles around a corner are cut when they turn more than this many ways.
constexpr size_t kLargestFan = 64;

class Creases {
public:
    // Only the triangles whose box meets the box are read: a triangle's box misses it exactly
    // where all three corners lie beyond one of its faces.
    Creases(Solid& solid, const Vector4& lo, const Vector4& hi) : m_solid(solid) {
        m_beyond.resize(solid.vertices.size());
        for (size_t i = 0; i < solid.vertices.size(); ++i) {
            const Vector4& v = solid.vertices[i];
            m_beyond[i] =
                static_cast<uint8_t>((v.x < lo.x) | (v.x > hi.x) << 1 | (v.y < lo.y) << 2 |
                                     (v.y > hi.y) << 3 | (v.z < lo.z) << 4 | (v.z > hi.z) << 5);
        }
        for (size_t t = 0; t < solid.triangles.size(); ++t) {
            const Triangle& tri = solid.triangles[t];
            const Corners c = {tri.i0, tri.i1, tri.i2};
            if ((m_beyond[static_cast<size_t>(c[0])] & m_beyond[static_cast<size_t>(c[1])] &
                 m_beyond[static_cast<size_t>(c[2])]) != 0) {
                continue;
            }
            const auto local = static_cast<int32_t>(m_tris.size());
            m_tris.push_back(c);
            m_slot.push_back(static_cast<int32_t>(t));
            for (const int32_t v : c) {
                if (inside(v)) {
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
            work.push_back(v);
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
        if (dropped > 0) {
            write();
        }
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

    bool drop(int32_t v) {
        if (!fanAround(v)) {
            return false;
        }
        for (const int32_t p : m_ring) {
            if (!inside(p)) {
                return false;  // its own fan is not all known
            }
        }
        const size_t m = m_ring.size();
        // A flat triangle at it (which the milling step leaves for the next cut to mend) is no
        // face to fill.
        for (size_t i = 0; i < m; ++i) {
            if (axisOf(v, m_ring[i], m_ring[(i + 1) % m]).first < 0) {
                return false;
            }
        }
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
        std::vector<std::vector<int32_t>> outlines;
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
            outlines.push_back(m_ring);
        } else if (breaks.size() == 2) {
            // On a straight crease: both faces filled from their outlines, which meet along it.
            const int32_t s = m_ring[breaks[0]], e = m_ring[breaks[1]];
            if (!CGAL::collinear_are_strictly_ordered_along_line(point(s), point(v), point(e))) {
                return false;
            }
            for (int side = 0; side < 2; ++side) {
                const size_t from = breaks[static_cast<size_t>(side)];
                const size_t to = breaks[static_cast<size_t>(1 - side)];
                std::vector<int32_t>& outline = outlines.emplace_back();
                for (size_t i = from;; i = (i + 1) % m) {
                    outline.push_back(m_ring[i]);
                    if (i == to) {
                        break;
                    }
                }
            }
        } else {
            return false;
        }
        std::vector<Corners> made;
        for (const std::vector<int32_t>& outline : outlines) {
            // The fan's turn, seen along an axis where the face keeps its area.
            const Corners& first = m_tris[static_cast<size_t>(m_fan[static_cast<size_t>(
                std::find(m_ring.begin(), m_ring.end(), outline[0]) - m_ring.begin())])];
            const auto [axis, sign] = axisOf(first[0], first[1], first[2]);
            if (axis < 0 || !fill(outline, axis, sign, made)) {
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
        for (const Corners& c : made) {
            const auto t = static_cast<int32_t>(m_tris.size());
            m_tris.push_back(c);
            m_slot.push_back(-1);
            m_alive.push_back(1);
            for (const int32_t p : c) {
                m_around[p].push_back(t);
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

    // The new triangles into the places of the dropped ones, in order (a fan of k triangles
    // gives k - 2, so there is room), the places left over removed; vertices no triangle uses
    // any more removed, the others keeping their order.
    void write() {
        std::vector<int32_t> places;
        for (size_t t = 0; t < m_tris.size(); ++t) {
            if (m_alive[t] == 0 && m_slot[t] >= 0) {
                places.push_back(m_slot[t]);
            }
        }
        std::sort(places.begin(), places.end());
        std::vector<char> gone(m_solid.triangles.size(), 0);
        size_t next = 0;
        for (size_t t = 0; t < m_tris.size(); ++t) {
            if (m_alive[t] != 0 && m_slot[t] < 0) {
                const Corners& c = m_tris[t];
                m_solid.triangles[static_cast<size_t>(places[next++])].setIndices(c[0], c[1], c[2]);
            }
        }
        for (; next < places.size(); ++next) {
            gone[static_cast<size_t>(places[next])] = 1;
        }
        size_t kept = 0;
        for (size_t t = 0; t < m_solid.triangles.size(); ++t) {
            if (gone[t] == 0) {
                m_solid.triangles[kept++] = m_solid.triangles[t];
            }
        }
        m_solid.triangles.resize(kept);
        std::vector<int32_t> newId(m_solid.vertices.size(), -1);
        for (const Triangle& t : m_solid.triangles) {
            newId[static_cast<size_t>(t.i0)] = newId[static_cast<size_t>(t.i1)] =
                newId[static_cast<size_t>(t.i2)] = 0;
        }
        size_t vertices = 0;
        for (size_t v = 0; v < newId.size(); ++v) {
            if (newId[v] == 0) {
                newId[v] = static_cast<int32_t>(vertices);
                m_solid.vertices[vertices++] = m_solid.vertices[v];
            }
        }
        m_solid.vertices.resize(vertices);
        for (Triangle& t : m_solid.triangles) {
            t.setIndices(newId[static_cast<size_t>(t.i0)], newId[static_cast<size_t>(t.i1)],
                         newId[static_cast<size_t>(t.i2)]);
        }
        m_solid.computeTriangleData();
        m_solid.computeBoundingBox();
    }

    Solid& m_solid;
    std::vector<uint8_t> m_beyond;  // faces of the box each vertex lies beyond, as bits
    std::vector<Corners> m_tris;    // those whose box meets the box, then the new ones
    std::vector<int32_t> m_slot;    // each one's place in the solid, -1 for a new one
    std::vector<char> m_alive;
    std::unordered_map<int32_t, std::vector<int32_t>> m_around;  // of corners in the box
    std::vector<int32_t> m_ring, m_fan;
};

}  // namespace

int64_t dropStraightCorners(Solid& solid, const Vector4& lo, const Vector4& hi) {
    Creases creases(solid, lo, hi);
    return creases.run();
}

}  // namespace korvan
