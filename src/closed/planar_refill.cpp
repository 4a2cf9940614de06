// Folds in flat faces along a coordinate plane, mended by triangulating the face around them
// again. Seam points of passes that run nearly along one line (a tool's rim cut again and again
// on a stock's top face, a floor's edge) lie closer to that line than a float's spacing; once
// rounded, the slivers between them can turn over in a way no flip or short collapse mends.
// Points in one coordinate plane keep that coordinate exactly when rounded, so the face around
// the folds can be triangulated again from its rounded outline, exactly, with nothing moved.
#include <CGAL/Constrained_Delaunay_triangulation_2.h>
#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/Triangulation_face_base_with_info_2.h>
#include <CGAL/Triangulation_vertex_base_with_info_2.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "closed/passes.h"

namespace korvan::closed {
namespace {

using Kernel = CGAL::Exact_predicates_inexact_constructions_kernel;
using Vb = CGAL::Triangulation_vertex_base_with_info_2<int32_t, Kernel>;
using Fb0 = CGAL::Constrained_triangulation_face_base_2<Kernel>;
using Fb = CGAL::Triangulation_face_base_with_info_2<int8_t, Kernel, Fb0>;
using Tds = CGAL::Triangulation_data_structure_2<Vb, Fb>;
using Cdt = CGAL::Constrained_Delaunay_triangulation_2<Kernel, Tds, CGAL::Exact_predicates_tag>;

// The axis along which a triangle's three corners agree exactly, or -1.
int flatAxis(const Corners& c, const std::vector<Point3>& points) {
    for (int k = 0; k < 3; ++k) {
        const double v = coordinate(points[c[0]], k);
        if (coordinate(points[c[1]], k) == v && coordinate(points[c[2]], k) == v) {
            return k;
        }
    }
    return -1;
}

// Rings of triangles around the folds, within the plane's triangles `plane`.
std::vector<int32_t> regionAround(const std::vector<Corners>& tris,
                                  const std::vector<int32_t>& plane,
                                  const std::vector<int32_t>& folds, int rings) {
    std::vector<std::pair<int32_t, int32_t>> around;  // (vertex, triangle)
    for (int32_t t : plane) {
        for (int32_t v : tris[t]) {
            around.emplace_back(v, t);
        }
    }
    std::sort(around.begin(), around.end());
    std::vector<int32_t> region = folds;
    std::sort(region.begin(), region.end());
    for (int r = 0; r < rings; ++r) {
        std::vector<int32_t> next = region;
        for (int32_t t : region) {
            for (int32_t v : tris[t]) {
                auto it = std::lower_bound(around.begin(), around.end(), std::pair(v, INT32_MIN));
                for (; it != around.end() && it->first == v; ++it) {
                    next.push_back(it->second);
                }
            }
        }
        std::sort(next.begin(), next.end());
        next.erase(std::unique(next.begin(), next.end()), next.end());
        region = std::move(next);
    }
    return region;
}

// The lattice points (multiples of `spacing` on axes i and j, `level` on the third) in the
// box of the outline's corners, but for those within about two spacings of an outline edge:
// each edge is walked in steps of half a spacing, and the lattice points around each step
// are left out. None can then lie on the outline, which it would split.
std::vector<Point3> latticeAwayFrom(const std::vector<std::pair<int32_t, int32_t>>& outline,
                                    const std::vector<Point3>& points, int axis, double spacing) {
    const int i = (axis + 1) % 3, j = (axis + 2) % 3;
    double lo[2] = {HUGE_VAL, HUGE_VAL}, hi[2] = {-HUGE_VAL, -HUGE_VAL};
    for (const auto& [a, b] : outline) {
        for (const int k : {0, 1}) {
            const double c = coordinate(points[a], k == 0 ? i : j);
            lo[k] = std::min(lo[k], c);
            hi[k] = std::max(hi[k], c);
        }
    }
    std::vector<Point3> lattice;
    if (outline.empty() || !(spacing > 0)) {
        return lattice;
    }
    const double first[2] = {std::ceil(lo[0] / spacing), std::ceil(lo[1] / spacing)};
    const double count[2] = {std::floor(hi[0] / spacing) - first[0] + 1,
                             std::floor(hi[1] / spacing) - first[1] + 1};
    // Few enough to list; a caller picks the spacing from the box.
    constexpr double kMostPerAxis = 256;
    if (!(count[0] > 0 && count[1] > 0 && count[0] <= kMostPerAxis && count[1] <= kMostPerAxis)) {
        return lattice;
    }
    const auto nx = static_cast<int>(count[0]), ny = static_cast<int>(count[1]);
    std::vector<char> near(static_cast<size_t>(nx) * static_cast<size_t>(ny), 0);
    const auto mark = [&](double u, double w) {
        const auto x = static_cast<int>(std::floor(u / spacing - first[0]));
        const auto y = static_cast<int>(std::floor(w / spacing - first[1]));
        for (int dy = -2; dy <= 3; ++dy) {
            for (int dx = -2; dx <= 3; ++dx) {
                if (x + dx >= 0 && x + dx < nx && y + dy >= 0 && y + dy < ny) {
                    near[static_cast<size_t>(y + dy) * static_cast<size_t>(nx) +
                         static_cast<size_t>(x + dx)] = 1;
                }
            }
        }
    };
    for (const auto& [a, b] : outline) {
        const double ua = coordinate(points[a], i), wa = coordinate(points[a], j);
        const double ub = coordinate(points[b], i), wb = coordinate(points[b], j);
        const double steps = std::ceil(2 * std::hypot(ub - ua, wb - wa) / spacing);
        for (double s = 0; s <= steps; ++s) {
            const double t = s / steps;
            mark(ua + t * (ub - ua), wa + t * (wb - wa));
        }
    }
    const double level = coordinate(points[outline.front().first], axis);
    for (int y = 0; y < ny; ++y) {
        for (int x = 0; x < nx; ++x) {
            if (near[static_cast<size_t>(y) * static_cast<size_t>(nx) + static_cast<size_t>(x)]) {
                continue;
            }
            double p[3];
            p[axis] = level;
            p[i] = (first[0] + x) * spacing;
            p[j] = (first[1] + y) * spacing;
            // The solid keeps floats: a point that a float cannot hold is left out.
            if (static_cast<float>(p[i]) == p[i] && static_cast<float>(p[j]) == p[j]) {
                lattice.push_back({p[0], p[1], p[2]});
            }
        }
    }
    return lattice;
}

}  // namespace

bool triangulateOutline(const std::vector<Corners>& tris, const std::vector<int32_t>& region,
                        const std::vector<Point3>& points, int axis, bool up,
                        const std::function<bool(int32_t)>& keep, std::vector<Corners>& out,
                        double spacing, std::vector<Point3>* lattice) {
    const int i = (axis + 1) % 3, j = (axis + 2) % 3;
    // Directed edges of the region, sorted; the outline is those whose reverse it does not
    // have.
    std::vector<std::pair<int32_t, int32_t>> edges;
    edges.reserve(3 * region.size());
    std::vector<int32_t> corners;
    for (int32_t t : region) {
        for (int e = 0; e < 3; ++e) {
            edges.emplace_back(tris[t][e], tris[t][(e + 1) % 3]);
            corners.push_back(tris[t][e]);
        }
    }
    std::sort(edges.begin(), edges.end());
    if (std::adjacent_find(edges.begin(), edges.end()) != edges.end()) {
        return false;
    }
    std::vector<std::pair<int32_t, int32_t>> outline;
    std::vector<int32_t> onOutline;
    for (const std::pair<int32_t, int32_t>& edge : edges) {
        if (!std::binary_search(edges.begin(), edges.end(), std::pair(edge.second, edge.first))) {
            // The region lies to the left of a -> b seen from +axis where it faces up.
            outline.push_back(up ? edge : std::pair(edge.second, edge.first));
            onOutline.push_back(edge.first);
        }
    }
    std::sort(onOutline.begin(), onOutline.end());
    std::sort(corners.begin(), corners.end());
    corners.erase(std::unique(corners.begin(), corners.end()), corners.end());
    if (keep) {
        corners.erase(std::remove_if(corners.begin(), corners.end(),
                                     [&](int32_t v) {
                                         return !keep(v) && !std::binary_search(onOutline.begin(),
                                                                                onOutline.end(), v);
                                     }),
                      corners.end());
    }
    Cdt cdt;
    std::vector<Cdt::Vertex_handle> handles;  // of `corners`, ascending
    handles.reserve(corners.size());
    for (int32_t v : corners) {
        const Cdt::Vertex_handle h =
            cdt.insert(Kernel::Point_2(coordinate(points[v], i), coordinate(points[v], j)));
        h->info() = v;
        handles.push_back(h);
    }
    // Every corner of the outline is one of them.
    const auto handle = [&](int32_t v) {
        return handles[static_cast<size_t>(std::lower_bound(corners.begin(), corners.end(), v) -
                                           corners.begin())];
    };
    if (cdt.number_of_vertices() != corners.size()) {
        return false;
    }
    for (const auto& [a, b] : outline) {
        cdt.insert_constraint(handle(a), handle(b));
    }
    if (cdt.number_of_vertices() != corners.size()) {
        return false;  // the outline crosses itself
    }
    if (lattice != nullptr) {
        *lattice = latticeAwayFrom(outline, points, axis, spacing);
        const auto base = static_cast<int32_t>(points.size());
        for (size_t k = 0; k < lattice->size(); ++k) {
            const size_t before = cdt.number_of_vertices();
            const Cdt::Vertex_handle h = cdt.insert(
                Kernel::Point_2(coordinate((*lattice)[k], i), coordinate((*lattice)[k], j)));
            if (cdt.number_of_vertices() != before) {
                h->info() = base + static_cast<int32_t>(k);
            }
        }
    }
    for (auto f = cdt.all_faces_begin(); f != cdt.all_faces_end(); ++f) {
        f->info() = -1;
    }
    std::vector<Cdt::Face_handle> stack;
    for (const auto& [a, b] : outline) {
        Cdt::Face_handle f;
        int e = 0;
        if (!cdt.is_edge(handle(a), handle(b), f, e)) {
            return false;  // a corner on the outline split it
        }
        if (f->vertex(Cdt::ccw(e)) != handle(a)) {
            const Cdt::Face_handle g = f->neighbor(e);
            e = g->index(f);
            f = g;
        }
        const Cdt::Face_handle outside = f->neighbor(e);
        if (f->info() == 0 || outside->info() == 1) {
            return false;
        }
        f->info() = 1;
        outside->info() = 0;
        stack.push_back(f);
    }
    while (!stack.empty()) {
        const Cdt::Face_handle f = stack.back();
        stack.pop_back();
        if (cdt.is_infinite(f)) {
            return false;
        }
        for (int e = 0; e < 3; ++e) {
            if (f->is_constrained(e)) {
                continue;
            }
            const Cdt::Face_handle g = f->neighbor(e);
            if (g->info() == 0) {
                return false;
            }
            if (g->info() < 0) {
                g->info() = 1;
                stack.push_back(g);
            }
        }
    }
    out.clear();
    for (auto f = cdt.finite_faces_begin(); f != cdt.finite_faces_end(); ++f) {
        if (f->info() == 1) {
            const int32_t a = f->vertex(0)->info(), b = f->vertex(1)->info(),
                          c = f->vertex(2)->info();
            out.push_back(up ? Corners{a, b, c} : Corners{a, c, b});
        }
    }
    return true;
}

int64_t refillPlanarFolds(std::vector<Corners>& tris, std::vector<int32_t>& source,
                          std::vector<int32_t>& facing, const std::vector<Point3>& points,
                          const std::vector<int32_t>& folds,
                          const std::function<double(int32_t)>& faces) {
    // The folds by plane: (axis, coordinate).
    std::map<std::pair<int, double>, std::vector<int32_t>> planes;
    for (int32_t t : folds) {
        const int axis = flatAxis(tris[t], points);
        if (axis >= 0) {
            planes[{axis, coordinate(points[tris[t][0]], axis)}].push_back(t);
        }
    }
    std::vector<char> drop(tris.size(), 0);
    std::vector<Corners> added;
    std::vector<int32_t> addedSource, addedFacing;
    int64_t refilled = 0;
    for (const auto& [key, planeFolds] : planes) {
        const auto [axis, value] = key;
        std::vector<int32_t> plane;
        for (int32_t t = 0; t < static_cast<int32_t>(tris.size()); ++t) {
            const Corners& c = tris[t];
            if (!drop[t] && coordinate(points[c[0]], axis) == value &&
                coordinate(points[c[1]], axis) == value &&
                coordinate(points[c[2]], axis) == value) {
                plane.push_back(t);
            }
        }
        std::vector<int32_t> region = regionAround(tris, plane, planeFolds, 3);
        // The side the face faces, from a triangle of it that faces as its source does.
        int32_t model = -1;
        double widest = 0.0;
        bool up = false;
        for (int32_t t : region) {
            const Corners& c = tris[t];
            const double n = crossOf(points[c[0]], points[c[1]], points[c[2]])[axis];
            if (std::abs(n) > widest && faces(t) > 0) {
                model = t;
                widest = std::abs(n);
                up = n > 0;
            }
        }
        if (model < 0) {
            continue;
        }
        std::vector<Corners> fresh;
        if (!triangulateOutline(tris, region, points, axis, up, {}, fresh)) {
            continue;
        }
        for (int32_t t : region) {
            drop[t] = 1;
        }
        for (const Corners& c : fresh) {
            added.push_back(c);
            addedSource.push_back(source[model]);
            addedFacing.push_back(facing[model]);
        }
        ++refilled;
    }
    if (refilled == 0) {
        return 0;
    }
    size_t kept = 0;
    for (size_t t = 0; t < tris.size(); ++t) {
        if (!drop[t]) {
            tris[kept] = tris[t];
            source[kept] = source[t];
            facing[kept] = facing[t];
            ++kept;
        }
    }
    tris.resize(kept);
    source.resize(kept);
    facing.resize(kept);
    tris.insert(tris.end(), added.begin(), added.end());
    source.insert(source.end(), addedSource.begin(), addedSource.end());
    facing.insert(facing.end(), addedFacing.begin(), addedFacing.end());
    return refilled;
}

}  // namespace korvan::closed
