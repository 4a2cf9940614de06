#include "gcode/swept_tool.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "gcode/hull.h"

namespace korvan::gcode {
namespace {

// A float holds every integer below this many grid steps exactly.
constexpr int64_t kFloatSteps = int64_t{1} << 24;

// Sign of ((b - a) x (c - a)) . d, exact: every coordinate below 2^25 steps keeps each minor
// within 64 bits and the sum within 128.
int sideOfMove(const std::array<int64_t, 3>& a, const std::array<int64_t, 3>& b,
               const std::array<int64_t, 3>& c, const std::array<int64_t, 3>& d) {
    __extension__ using Wide = __int128;
    const int64_t u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    const int64_t v[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
    const Wide dot = Wide{u[1] * v[2] - u[2] * v[1]} * d[0] +
                     Wide{u[2] * v[0] - u[0] * v[2]} * d[1] +
                     Wide{u[0] * v[1] - u[1] * v[0]} * d[2];
    return (dot > 0) - (dot < 0);
}

}  // namespace

double sweepGrid(double largest, double tolerance) {
    if (!std::isfinite(largest) || !(tolerance > 0.0)) {
        return 0.0;
    }
    // Every sum stays below 2^23 steps, half of what a float holds, which leaves room for the
    // sideways shifts of a retried cut.
    const double grid = std::ldexp(1.0, std::ilogb(std::max(largest, 1.0)) + 1 - 23);
    return grid <= tolerance / 100.0 ? grid : 0.0;
}

Position onGrid(const Position& p, double grid) {
    return {std::nearbyint(p.x / grid) * grid, std::nearbyint(p.y / grid) * grid,
            std::nearbyint(p.z / grid) * grid};
}

bool SweptTool::prepare(Solid& tool, double grid) {
    *this = SweptTool{};
    if (!(grid > 0.0)) {
        return false;
    }
    std::vector<Vector4> snapped;
    snapped.reserve(tool.vertices.size());
    const auto on = [&](float c) { return static_cast<float>(std::nearbyint(c / grid) * grid); };
    for (const Vector4& v : tool.vertices) {
        snapped.emplace_back(on(v.x), on(v.y), on(v.z));
    }
    Solid hull;
    if (!convexHullOf(snapped, hull)) {
        return false;
    }
    std::vector<Steps> corners;
    corners.reserve(hull.vertices.size());
    for (const Vector4& v : hull.vertices) {
        corners.push_back(
            {std::llround(v.x / grid), std::llround(v.y / grid), std::llround(v.z / grid)});
    }
    for (const Steps& k : corners) {
        if (std::max({std::llabs(k[0]), std::llabs(k[1]), std::llabs(k[2])}) >= kFloatSteps / 2) {
            return false;  // a grid too fine for this tool
        }
    }
    std::vector<std::array<int32_t, 3>> faces;
    faces.reserve(hull.triangles.size());
    for (const Triangle& t : hull.triangles) {
        faces.push_back({t.i0, t.i1, t.i2});
    }
    // Each directed edge with its face and place; the face across an edge holds it reversed.
    struct Edge {
        int32_t from, to, face, k;
        auto key() const { return std::pair(from, to); }
    };
    std::vector<Edge> edges;
    edges.reserve(3 * faces.size());
    for (size_t f = 0; f < faces.size(); ++f) {
        for (int k = 0; k < 3; ++k) {
            edges.push_back({faces[f][static_cast<size_t>(k)],
                             faces[f][static_cast<size_t>((k + 1) % 3)], static_cast<int32_t>(f),
                             k});
        }
    }
    std::sort(edges.begin(), edges.end(),
              [](const Edge& a, const Edge& b) { return a.key() < b.key(); });
    std::vector<std::array<int32_t, 3>> across(faces.size(), {-1, -1, -1});
    for (const Edge& e : edges) {
        const auto it = std::lower_bound(
            edges.begin(), edges.end(), std::pair(e.to, e.from),
            [](const Edge& x, const std::pair<int32_t, int32_t>& key) { return x.key() < key; });
        if (it == edges.end() || it->key() != std::pair(e.to, e.from)) {
            return false;  // not closed: cannot happen for a hull
        }
        across[static_cast<size_t>(e.face)][static_cast<size_t>(e.k)] = it->face;
    }
    for (size_t i = 0; i < snapped.size(); ++i) {
        tool.vertices[i] = snapped[i];
    }
    tool.computeTriangleData();
    tool.computeBoundingBox();
    m_grid = grid;
    m_corners = std::move(corners);
    m_faces = std::move(faces);
    m_across = std::move(across);
    return true;
}

bool SweptTool::sweep(const Position& from, const Position& to, double shortMove,
                      Solid& out) const {
    if (!ready()) {
        return false;
    }
    const double ends[2][3] = {{from.x, from.y, from.z}, {to.x, to.y, to.z}};
    Steps at[2];
    for (int e = 0; e < 2; ++e) {
        for (int i = 0; i < 3; ++i) {
            const double steps = std::nearbyint(ends[e][i] / m_grid);
            if (!(std::fabs(steps) < static_cast<double>(kFloatSteps / 2))) {
                return false;
            }
            at[e][static_cast<size_t>(i)] = static_cast<int64_t>(steps);
        }
    }
    const double length = std::hypot(from.x - to.x, from.y - to.y, from.z - to.z);
    const Steps d = {at[1][0] - at[0][0], at[1][1] - at[0][1], at[1][2] - at[0][2]};
    const bool moves = !(length < shortMove) && (d[0] != 0 || d[1] != 0 || d[2] != 0);

    // Faces that look ahead along the move are taken at its end, the others (those along it
    // too) at its start.
    const size_t faceCount = m_faces.size();
    std::vector<char> ahead(faceCount, 0);
    if (moves) {
        for (size_t f = 0; f < faceCount; ++f) {
            const auto& c = m_faces[f];
            ahead[f] = sideOfMove(m_corners[static_cast<size_t>(c[0])],
                                  m_corners[static_cast<size_t>(c[1])],
                                  m_corners[static_cast<size_t>(c[2])], d) > 0;
        }
    }
    // Each corner's vertex at either end, numbered in order of first use.
    std::vector<int32_t> vertexAt[2];
    vertexAt[0].assign(m_corners.size(), -1);
    vertexAt[1].assign(m_corners.size(), -1);
    std::vector<std::pair<int32_t, int>> order;  // corner and end of each vertex
    order.reserve(2 * m_corners.size());
    const auto vertex = [&](int32_t corner, int end) {
        int32_t& v = vertexAt[end][static_cast<size_t>(corner)];
        if (v < 0) {
            v = static_cast<int32_t>(order.size());
            order.emplace_back(corner, end);
        }
        return v;
    };
    std::vector<std::array<int32_t, 3>> triangles;
    triangles.reserve(faceCount + 64);
    for (size_t f = 0; f < faceCount; ++f) {
        const auto& c = m_faces[f];
        const int end = ahead[f];
        triangles.push_back({vertex(c[0], end), vertex(c[1], end), vertex(c[2], end)});
        if (end != 0) {
            continue;
        }
        // An edge from a face taken at the start to one taken at the end sweeps a band.
        for (size_t k = 0; k < 3; ++k) {
            if (ahead[static_cast<size_t>(m_across[f][k])] == 0) {
                continue;
            }
            const int32_t a = c[k], b = c[(k + 1) % 3];
            const int32_t as = vertex(a, 0), bs = vertex(b, 0);
            const int32_t ae = vertex(a, 1), be = vertex(b, 1);
            triangles.push_back({bs, as, ae});
            triangles.push_back({bs, ae, be});
        }
    }
    // A corner at the start on another's place at the end would weld the two; the hull of both
    // ends takes such a move.
    if (moves) {
        std::vector<Steps> starts;
        for (const auto& [corner, end] : order) {
            if (end == 0) {
                starts.push_back(m_corners[static_cast<size_t>(corner)]);
            }
        }
        std::sort(starts.begin(), starts.end());
        for (const auto& [corner, end] : order) {
            const Steps& k = m_corners[static_cast<size_t>(corner)];
            if (end == 1 && std::binary_search(starts.begin(), starts.end(),
                                               Steps{k[0] + d[0], k[1] + d[1], k[2] + d[2]})) {
                return false;
            }
        }
    }
    Solid swept;
    swept.vertices.reserve(order.size());
    for (const auto& [corner, end] : order) {
        const Steps& k = m_corners[static_cast<size_t>(corner)];
        const Steps& p = at[end];
        swept.vertices.emplace_back(static_cast<float>(static_cast<double>(k[0] + p[0]) * m_grid),
                                    static_cast<float>(static_cast<double>(k[1] + p[1]) * m_grid),
                                    static_cast<float>(static_cast<double>(k[2] + p[2]) * m_grid));
    }
    swept.triangles.resize(triangles.size());
    for (size_t i = 0; i < triangles.size(); ++i) {
        swept.triangles[i].setIndices(triangles[i][0], triangles[i][1], triangles[i][2]);
    }
    swept.loaded = 1;
    swept.computeTriangleData();
    swept.computeBoundingBox();
    swept.wireframe = out.wireframe;
    out = std::move(swept);
    return true;
}

}  // namespace korvan::gcode
