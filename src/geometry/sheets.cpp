#include "geometry/sheets.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <numeric>
#include <vector>

#include "geometry/mesh_topology.h"

namespace korvan {
namespace {

using Corners = std::array<int32_t, 3>;

struct Dvec {
    double x, y, z;
};
Dvec sub(const Vector4& a, const Vector4& b) {
    return {static_cast<double>(a.x) - b.x, static_cast<double>(a.y) - b.y,
            static_cast<double>(a.z) - b.z};
}
double dot(const Dvec& a, const Dvec& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
Dvec cross(const Dvec& a, const Dvec& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

int32_t findRoot(std::vector<int32_t>& parent, int32_t i) {
    while (parent[i] != i) {
        parent[i] = parent[parent[i]];
        i = parent[i];
    }
    return i;
}
void unite(std::vector<int32_t>& parent, int32_t a, int32_t b) {
    a = findRoot(parent, a);
    b = findRoot(parent, b);
    if (a != b) {
        parent[std::max(a, b)] = std::min(a, b);
    }
}

// The corners at one vertex v, each with the vertex after and before it in its triangle.
struct Corner {
    int32_t triangle;
    int32_t slot;  // 0..2 within the triangle
    int32_t next;  // the triangle runs v -> next -> prev
    int32_t prev;
};

class VertexFans {
public:
    explicit VertexFans(const std::vector<Vector4>& points) : m_points(points) {}

    // Groups the corners at v into fans; false when an edge at v is not used equally often
    // each way (the mesh is no closed solid).
    bool group(int32_t v, std::vector<Corner>& corners, std::vector<int32_t>& parent) {
        parent.resize(corners.size());
        std::iota(parent.begin(), parent.end(), 0);
        // Edges (v, w) in order of w: the corners leaving along it and those arriving.
        m_edges.clear();
        for (int32_t i = 0; i < static_cast<int32_t>(corners.size()); ++i) {
            m_edges.push_back({corners[i].next, i, true});
            m_edges.push_back({corners[i].prev, i, false});
        }
        std::sort(m_edges.begin(), m_edges.end(), [](const EdgeUse& a, const EdgeUse& b) {
            return a.other != b.other ? a.other < b.other : a.corner < b.corner;
        });
        for (size_t from = 0; from < m_edges.size();) {
            size_t to = from;
            int outgoing = 0;
            while (to < m_edges.size() && m_edges[to].other == m_edges[from].other) {
                outgoing += m_edges[to].leaving ? 1 : 0;
                ++to;
            }
            const auto count = static_cast<int>(to - from);
            if (count != 2 * outgoing) {
                return false;
            }
            if (count == 2) {
                unite(parent, m_edges[from].corner, m_edges[from + 1].corner);
            } else {
                pairAround(v, corners, from, to, parent);
            }
            from = to;
        }
        return true;
    }

private:
    struct EdgeUse {
        int32_t other;
        int32_t corner;
        bool leaving;  // the triangle runs v -> other
    };

    struct Around {
        double angle;
        int32_t corner;
        bool leaving;
    };

    // Four or more triangles on the edge (v, w). Turning about d = w - v, a triangle running
    // v -> w has the solid's outside on its turning-forward side and one running w -> v the
    // inside, so each w -> v triangle and the next one ahead bound one wedge of the solid:
    // they are one sheet. Where no order alternates, the edge's triangles stay together.
    void pairAround(int32_t v, const std::vector<Corner>& corners, size_t from, size_t to,
                    std::vector<int32_t>& parent) {
        const int32_t w = m_edges[from].other;
        const Dvec d = sub(m_points[w], m_points[v]);
        const double dd = dot(d, d);
        m_around.clear();
        Dvec u{0, 0, 0};
        Dvec side{0, 0, 0};
        for (size_t k = from; k < to; ++k) {
            const Corner& c = corners[m_edges[k].corner];
            const int32_t third = m_edges[k].leaving ? c.prev : c.next;
            Dvec r = sub(m_points[third], m_points[v]);
            const double along = dd > 0 ? dot(r, d) / dd : 0.0;
            r = {r.x - along * d.x, r.y - along * d.y, r.z - along * d.z};
            if (k == from) {
                const double n = std::sqrt(dot(r, r));
                u = n > 0 ? Dvec{r.x / n, r.y / n, r.z / n} : r;
                const Dvec s = cross(d, u);
                const double m = std::sqrt(dot(s, s));
                side = m > 0 ? Dvec{s.x / m, s.y / m, s.z / m} : s;
            }
            // -pi and pi are one direction: keep it once, so equal directions sort together.
            double angle = std::atan2(dot(r, side), dot(r, u));
            angle = angle == -std::numbers::pi ? std::numbers::pi : angle;
            m_around.push_back({angle, m_edges[k].corner, m_edges[k].leaving});
        }
        std::sort(m_around.begin(), m_around.end(), [](const Around& a, const Around& b) {
            return a.angle != b.angle ? a.angle < b.angle : a.corner < b.corner;
        });
        if (!(dd > 0) || !alternate()) {
            for (size_t k = 1; k < m_around.size(); ++k) {
                unite(parent, m_around[0].corner, m_around[k].corner);
            }
            return;
        }
        for (size_t k = 0; k < m_around.size(); ++k) {
            if (!m_around[k].leaving) {
                unite(parent, m_around[k].corner, m_around[(k + 1) % m_around.size()].corner);
            }
        }
    }

    // Orders the triangles that share a direction (sheets touching face to face after
    // rounding) so that leaving and arriving ones alternate around the edge, as a solid's must;
    // false when no order does. Of two orders, the one that keeps more such touching triangles
    // together as one sheet wins: two triangles on the same corners facing apart are a sheet of
    // their own (a fin of no thickness), not part of their neighbours'.
    bool alternate() {
        int best = -1;
        for (bool leavingFirst : {true, false}) {
            m_trial = m_around;
            if (!arrange(m_trial, leavingFirst)) {
                continue;
            }
            int together = 0;
            for (size_t k = 0; k < m_trial.size(); ++k) {
                const Around& next = m_trial[(k + 1) % m_trial.size()];
                together += !m_trial[k].leaving && next.angle == m_trial[k].angle ? 1 : 0;
            }
            if (together > best) {
                best = together;
                m_best.swap(m_trial);
            }
        }
        if (best < 0) {
            return false;
        }
        m_around.swap(m_best);
        return true;
    }

    // Puts leaving triangles at the even places (`leavingFirst`) or the odd ones, moving
    // triangles only among those of one direction; false when a direction has the wrong mix.
    bool arrange(std::vector<Around>& around, bool leavingFirst) {
        const size_t n = around.size();
        for (size_t from = 0; from < n;) {
            size_t to = from + 1;
            while (to < n && around[to].angle == around[from].angle) {
                ++to;
            }
            m_group.clear();
            size_t want = 0;
            for (size_t k = from; k < to; ++k) {
                want += ((k % 2 == 0) == leavingFirst) ? 1 : 0;
                if (around[k].leaving) {
                    m_group.push_back(around[k]);
                }
            }
            const size_t leaving = m_group.size();
            if (want != leaving) {
                return false;
            }
            for (size_t k = from; k < to; ++k) {
                if (!around[k].leaving) {
                    m_group.push_back(around[k]);
                }
            }
            for (size_t k = from, l = 0, a = leaving; k < to; ++k) {
                around[k] = m_group[((k % 2 == 0) == leavingFirst) ? l++ : a++];
            }
            from = to;
        }
        return true;
    }

    const std::vector<Vector4>& m_points;
    std::vector<EdgeUse> m_edges;
    std::vector<Around> m_around;
    std::vector<Around> m_group, m_trial, m_best;
};

}  // namespace

bool separateSheets(const Solid& in, Solid& out) {
    // Positions welded, so that copies made by an earlier save count as one point again.
    const PositionWeld weld(in.vertices);
    std::vector<Vector4> points;
    points.reserve(weld.firstVertex.size());
    for (int32_t v : weld.firstVertex) {
        points.push_back(in.vertices[static_cast<size_t>(v)]);
    }
    const auto vertexCount = static_cast<int32_t>(points.size());
    std::vector<Corners> tris(in.triangles.size());
    std::vector<int32_t> start(static_cast<size_t>(vertexCount) + 1, 0);
    for (size_t t = 0; t < tris.size(); ++t) {
        const Triangle& tri = in.triangles[t];
        tris[t] = {weld.ids[static_cast<size_t>(tri.i0)], weld.ids[static_cast<size_t>(tri.i1)],
                   weld.ids[static_cast<size_t>(tri.i2)]};
        if (tris[t][0] == tris[t][1] || tris[t][1] == tris[t][2] || tris[t][0] == tris[t][2]) {
            return false;  // a collapsed triangle has no sheet to belong to
        }
        for (int32_t v : tris[t]) {
            ++start[static_cast<size_t>(v) + 1];
        }
    }
    std::partial_sum(start.begin(), start.end(), start.begin());
    std::vector<int32_t> at(start.begin(), start.end() - 1);
    std::vector<int32_t> cornerOf(start.back());  // triangle * 3 + slot, by vertex
    for (size_t t = 0; t < tris.size(); ++t) {
        for (int32_t s = 0; s < 3; ++s) {
            cornerOf[static_cast<size_t>(at[static_cast<size_t>(tris[t][s])]++)] =
                static_cast<int32_t>(t) * 3 + s;
        }
    }

    // The output vertex of every corner: each vertex's first fan keeps its number, the others
    // get copies numbered after all vertices.
    std::vector<int32_t> vertexOfCorner(tris.size() * 3);
    std::vector<Vector4> copies;
    VertexFans fans(points);
    std::vector<Corner> corners;
    std::vector<int32_t> parent, fanVertex;
    for (int32_t v = 0; v < vertexCount; ++v) {
        corners.clear();
        for (int32_t k = start[v]; k < start[v + 1]; ++k) {
            const int32_t t = cornerOf[k] / 3, s = cornerOf[k] % 3;
            corners.push_back({t, s, tris[t][(s + 1) % 3], tris[t][(s + 2) % 3]});
        }
        if (!fans.group(v, corners, parent)) {
            return false;
        }
        fanVertex.assign(corners.size(), -1);
        for (size_t i = 0; i < corners.size(); ++i) {
            const int32_t root = findRoot(parent, static_cast<int32_t>(i));
            if (fanVertex[root] < 0) {
                fanVertex[root] = root == 0 ? v : vertexCount + static_cast<int32_t>(copies.size());
                if (root != 0) {
                    copies.push_back(points[v]);
                }
            }
            vertexOfCorner[static_cast<size_t>(corners[i].triangle) * 3 + corners[i].slot] =
                fanVertex[root];
        }
    }
    if (copies.empty()) {
        return false;
    }
    out.vertices = std::move(points);
    out.vertices.insert(out.vertices.end(), copies.begin(), copies.end());
    out.triangles = in.triangles;
    for (size_t t = 0; t < out.triangles.size(); ++t) {
        Triangle& tri = out.triangles[t];
        const int32_t label = tri.label;
        tri.setIndices(vertexOfCorner[t * 3], vertexOfCorner[t * 3 + 1], vertexOfCorner[t * 3 + 2]);
        tri.label = label;
    }
    out.minCorner = in.minCorner;
    out.maxCorner = in.maxCorner;
    out.centre = in.centre;
    out.loaded = in.loaded;
    out.edgeLimit = in.edgeLimit;
    out.touch();
    return true;
}

}  // namespace korvan
