// Splitting the cut triangles: a constrained Delaunay triangulation of each, with its seam
// points and segments, or a direct cut where one segment crosses it from edge to edge.
#include "closed/arrangement_impl.h"
#include "closed/passes.h"

#include <atomic>
#include <functional>
#include <iterator>
#include <numeric>

#include <tbb/parallel_sort.h>

namespace korvan::closed {

bool Arrangement::Impl::splitTriangle(int32_t t, const std::vector<int32_t>& ids,
                                      const std::array<std::vector<int32_t>, 3>& edgePoints,
                                      const std::vector<std::vector<int32_t>>& segs,
                                      const std::vector<int32_t>& partners,
                                      std::vector<Piece>& pieces, std::string& error) const {
    const int ax = axis[t];
    Cdt cdt;
    std::vector<std::pair<int32_t, Cdt::Vertex_handle>> handles;
    handles.reserve(ids.size());
    const auto put = [&](int32_t id, const Cdt::Vertex_handle h) {
        h->info() = id;
        handles.emplace_back(id, h);
    };
    // Each point projected once: a projection is a new lazy construction.
    std::vector<EP2> inPlane;
    inPlane.reserve(ids.size());
    for (int32_t id : ids) {
        inPlane.push_back(projectedPoint(id, ax));
    }
    const auto projected = [&](int32_t id) -> const EP2& {
        return inPlane[static_cast<size_t>(std::find(ids.begin(), ids.end(), id) - ids.begin())];
    };
    // A point inside an edge is none of the corners and on one edge only; only an operand
    // that meets itself (object 1 of a chain is not checked) files one otherwise, and the
    // triangulation would take it as a second vertex at one position.
    std::vector<int32_t> onEdges;
    for (const auto& points : edgePoints) {
        onEdges.insert(onEdges.end(), points.begin(), points.end());
    }
    std::sort(onEdges.begin(), onEdges.end());
    for (size_t i = 0; i < onEdges.size(); ++i) {
        if ((i > 0 && onEdges[i] == onEdges[i - 1]) ||
            std::find(ids.begin(), ids.begin() + 3, onEdges[i]) != ids.begin() + 3) {
            error = "dvije tocke spoja na istom mjestu (tijelo sijece samo sebe)";
            return false;
        }
    }
    Cdt::Vertex_handle corner[3];
    for (int k = 0; k < 3; ++k) {
        corner[k] = cdt.insert(projected(ids[static_cast<size_t>(k)]));
        put(ids[static_cast<size_t>(k)], corner[k]);
    }
    // Points inside an edge go in where they are known to lie, one after another from the
    // edge's first corner: locating them would ask whether they lie on the edge, which no
    // rounded arithmetic can confirm, so each would be settled in exact numbers. The edges of
    // the triangle bound all its points, so no flip removes them.
    std::vector<std::pair<EP2, int32_t>> along;
    for (int k = 0; k < 3; ++k) {
        const EP2 from = projected(ids[static_cast<size_t>(k)]);
        along.clear();
        for (int32_t id : edgePoints[static_cast<size_t>(k)]) {
            along.emplace_back(projected(id), id);
        }
        std::sort(along.begin(), along.end(), [&](const auto& a, const auto& b) {
            return CGAL::compare_distance_to_point(from, a.first, b.first) == CGAL::SMALLER;
        });
        // Two points on one edge at the same place would be two vertices at one position, which
        // the triangulation cannot hold; only an operand that meets itself makes them.
        for (size_t i = 1; i < along.size(); ++i) {
            if (along[i].first == along[i - 1].first) {
                error = "dvije tocke spoja na istom mjestu (tijelo sijece samo sebe)";
                return false;
            }
        }
        Cdt::Vertex_handle previous = corner[k];
        for (const auto& [point, id] : along) {
            Cdt::Face_handle face;
            int index = 0;
            if (!cdt.is_edge(previous, corner[(k + 1) % 3], face, index)) {
                error = "tocka spoja izvan svog trokuta";
                return false;
            }
            const Cdt::Vertex_handle h = cdt.insert(point, Cdt::EDGE, face, index);
            put(id, h);
            previous = h;
        }
    }
    // Points where the seam runs straight on wait for their runs (below).
    const std::vector<std::vector<int32_t>> runs =
        partners.empty() ? straightRuns(t, segs, onEdges) : std::vector<std::vector<int32_t>>();
    std::vector<int32_t> onRuns;
    for (const std::vector<int32_t>& run : runs) {
        onRuns.insert(onRuns.end(), run.begin() + 1, run.end() - 1);
    }
    std::sort(onRuns.begin(), onRuns.end());
    for (size_t n = 3; n < ids.size(); ++n) {
        const int32_t id = ids[n];
        if (std::binary_search(onEdges.begin(), onEdges.end(), id) ||
            std::binary_search(onRuns.begin(), onRuns.end(), id)) {
            continue;
        }
        const size_t before = cdt.number_of_vertices();
        const Cdt::Vertex_handle h = cdt.insert(projected(id));
        if (cdt.number_of_vertices() == before) {
            error = "dvije tocke spoja na istom mjestu (tijelo sijece samo sebe)";
            return false;
        }
        put(id, h);
    }
    // A run's inner points lie on the line between its ends exactly, which rounded arithmetic
    // cannot confirm: located, each would be settled in exact numbers. The ends are joined by
    // a constraint instead, and each inner point goes into the edge left between the last one
    // and the far end. Where a vertex already lies on that line, the edge is not there, and the
    // point is located after all.
    try {
        const auto inserted = [&](int32_t id) {
            const auto it = std::find_if(handles.begin(), handles.end(),
                                         [&](const auto& h) { return h.first == id; });
            return it == handles.end() ? Cdt::Vertex_handle() : it->second;
        };
        for (const std::vector<int32_t>& run : runs) {
            const Cdt::Vertex_handle from = inserted(run.front()), to = inserted(run.back());
            if (from == Cdt::Vertex_handle() || to == Cdt::Vertex_handle() || from == to) {
                error = "dvije tocke spoja na istom mjestu (tijelo sijece samo sebe)";
                return false;
            }
            cdt.insert_constraint(from, to);
            Cdt::Vertex_handle previous = from;
            for (size_t i = 1; i + 1 < run.size(); ++i) {
                Cdt::Face_handle face;
                int index = 0;
                const size_t before = cdt.number_of_vertices();
                const EP2& point = projected(run[i]);
                const Cdt::Vertex_handle h = cdt.is_edge(previous, to, face, index)
                                                 ? cdt.insert(point, Cdt::EDGE, face, index)
                                                 : cdt.insert(point);
                if (cdt.number_of_vertices() == before) {
                    error = "dvije tocke spoja na istom mjestu (tijelo sijece samo sebe)";
                    return false;
                }
                put(run[i], h);
                previous = h;
            }
        }
    } catch (const std::exception&) {
        error = "rubovi spoja se sijeku unutar trokuta (tijelo sijece samo sebe)";
        return false;
    }
    // One vertex per point, each inside the triangle or inside one of its edges: the hull is
    // the triangle with the points on its edges. Only an operand that meets itself (object 1
    // of a chain is not checked) puts a point on two edges, or outside; the constraints'
    // walks would then leave the triangle or meet a vertex twice.
    if (cdt.number_of_vertices() != ids.size()) {
        error = "dvije tocke spoja na istom mjestu (tijelo sijece samo sebe)";
        return false;
    }
    if (cdt.degree(cdt.infinite_vertex()) != 3 + onEdges.size()) {
        error = "tocka spoja izvan svog trokuta";
        return false;
    }
    std::sort(handles.begin(), handles.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    const auto handleOf = [&](int32_t id) {
        const auto it = std::lower_bound(
            handles.begin(), handles.end(), id,
            [](const std::pair<int32_t, Cdt::Vertex_handle>& h, int32_t v) { return h.first < v; });
        assert(it != handles.end() && it->first == id);
        return it->second;
    };
    // A seam segment goes in as the pieces between its points in order along it. Where the
    // triangulation has a piece as an edge already, the edge is marked: asked to insert it,
    // the triangulation would test the segment's other points against it, which lie on its
    // line exactly, and a seam point is a construction that only exact numbers place there.
    std::vector<Cdt::Vertex_handle> line;
    const auto constrain = [&](Cdt::Vertex_handle a, Cdt::Vertex_handle b) {
        Cdt::Face_handle f;
        int i = 0;
        if (cdt.is_edge(a, b, f, i)) {
            f->set_constraint(i, true);
            f->neighbor(i)->set_constraint(cdt.mirror_index(f, i), true);
        } else {
            cdt.insert_constraint(a, b);
        }
    };
    // A seam segment through two corners runs along the edge between them, so its other
    // points lie inside that edge; through three, it would be a flat triangle's. Only an
    // operand that meets itself files one otherwise.
    for (const std::vector<int32_t>& seg : segs) {
        int corners = 0, mask = 0;
        for (const int32_t id : seg) {
            for (int k = 0; k < 3; ++k) {
                if (ids[static_cast<size_t>(k)] == id) {
                    ++corners;
                    mask |= 1 << k;
                }
            }
        }
        if (corners < 2) {
            continue;
        }
        const int edge = mask == 3 ? 0 : mask == 6 ? 1 : mask == 5 ? 2 : -1;
        bool along = edge >= 0 && corners == 2;
        for (const int32_t id : seg) {
            along = along && (id == ids[static_cast<size_t>(edge)] ||
                              id == ids[static_cast<size_t>((edge + 1) % 3)] ||
                              std::find(edgePoints[static_cast<size_t>(edge)].begin(),
                                        edgePoints[static_cast<size_t>(edge)].end(),
                                        id) != edgePoints[static_cast<size_t>(edge)].end());
        }
        if (!along) {
            error = "rubovi spoja se sijeku unutar trokuta (tijelo sijece samo sebe)";
            return false;
        }
    }
    try {
        for (const std::vector<int32_t>& seg : segs) {
            line.clear();
            for (const int32_t id : seg) {
                line.push_back(handleOf(id));
            }
            if (line.size() > 2) {
                // Collinear points in order along the coordinate they spread most in, in
                // which distinct points differ.
                double lo[2] = {HUGE_VAL, HUGE_VAL}, hi[2] = {-HUGE_VAL, -HUGE_VAL};
                for (const Cdt::Vertex_handle h : line) {
                    const double c[2] = {CGAL::to_double(h->point().x()),
                                         CGAL::to_double(h->point().y())};
                    for (int k = 0; k < 2; ++k) {
                        lo[k] = std::min(lo[k], c[k]);
                        hi[k] = std::max(hi[k], c[k]);
                    }
                }
                const bool alongX = hi[0] - lo[0] >= hi[1] - lo[1];
                std::sort(
                    line.begin(), line.end(), [&](Cdt::Vertex_handle a, Cdt::Vertex_handle b) {
                        return (alongX ? CGAL::compare_x(a->point(), b->point())
                                       : CGAL::compare_y(a->point(), b->point())) == CGAL::SMALLER;
                    });
            }
            for (size_t i = 1; i < line.size(); ++i) {
                if (line[i - 1] != line[i]) {
                    constrain(line[i - 1], line[i]);
                }
            }
        }
    } catch (const std::exception&) {
        error = "rubovi spoja se sijeku unutar trokuta (tijelo sijece samo sebe)";
        return false;
    }
    if (cdt.number_of_vertices() != ids.size()) {
        error = "tocka spoja izvan svog trokuta";
        return false;
    }
    // Faces in a fixed order: by their smallest id, then the rest, so that the output does
    // not depend on the triangulation's storage order.
    const bool flip = projectedSign[t] < 0;
    const size_t first = pieces.size();
    const std::vector<Partner> shapes = partnersOf(t, partners);
    for (auto f = cdt.finite_faces_begin(); f != cdt.finite_faces_end(); ++f) {
        int32_t v[3];
        bool constrained[3];  // edge v[i] -> v[i + 1]
        for (int i = 0; i < 3; ++i) {
            v[i] = f->vertex(i)->info();
            constrained[i] = f->is_constrained((i + 2) % 3);
        }
        if (flip) {
            std::swap(v[1], v[2]);
            // Edges become v0->v2 (old 2), v2->v1 (old 1), v1->v0 (old 0).
            const bool c0 = constrained[2], c1 = constrained[1], c2 = constrained[0];
            constrained[0] = c0;
            constrained[1] = c1;
            constrained[2] = c2;
        }
        unsigned seam = 0;
        for (int i = 0; i < 3; ++i) {
            seam |= constrained[i] ? 1u << i : 0u;
        }
        const EP2* const corners[3] = {&f->vertex(0)->point(), &f->vertex(1)->point(),
                                       &f->vertex(2)->point()};
        const int8_t coplanar = shapes.empty() ? int8_t{0} : coplanarSide(shapes, corners);
        addPiece(t, v, seam, coplanar, pieces);
    }
    std::sort(pieces.begin() + static_cast<std::ptrdiff_t>(first), pieces.end(),
              [](const Piece& a, const Piece& b) { return a.v < b.v; });
    return true;
}

std::vector<std::vector<int32_t>> Arrangement::Impl::straightRuns(
    int32_t t, const std::vector<std::vector<int32_t>>& segs,
    const std::vector<int32_t>& onEdges) const {
    const auto np = static_cast<int32_t>(points.size());
    // Inside t where an edge between two triangles of the other surface in one plane crosses
    // it. Where no point is, as in most triangles, nothing more is looked at.
    const auto onFlatEdge = [&](int32_t id) {
        if (id < np || std::binary_search(onEdges.begin(), onEdges.end(), id)) {
            return false;
        }
        const Key& k = seamKeys[static_cast<size_t>(id - np)];
        return k.kind == kEdgeFace && k.b == t && flatEdge[static_cast<size_t>(k.a)] != 0;
    };
    if (std::none_of(segs.begin(), segs.end(), [&](const std::vector<int32_t>& seg) {
            return std::any_of(seg.begin(), seg.end(), onFlatEdge);
        })) {
        return {};
    }
    // Each point's uses by segments: (point, segment).
    std::vector<std::pair<int32_t, int32_t>> uses;
    for (size_t s = 0; s < segs.size(); ++s) {
        for (const int32_t id : segs[s]) {
            uses.emplace_back(id, static_cast<int32_t>(s));
        }
    }
    std::sort(uses.begin(), uses.end());
    // A point where the seam runs straight on: on such an edge, and on the segments of its two
    // triangles alone, each of them two points.
    struct Through {
        int32_t id;
        int32_t seg[2];
    };
    std::vector<Through> through;
    for (size_t i = 0; i < uses.size();) {
        size_t j = i;
        while (j < uses.size() && uses[j].first == uses[i].first) {
            ++j;
        }
        const int32_t id = uses[i].first;
        if (j - i == 2 && onFlatEdge(id)) {
            const auto& a = segs[static_cast<size_t>(uses[i].second)];
            const auto& b = segs[static_cast<size_t>(uses[i + 1].second)];
            const auto otherEnd = [&](const std::vector<int32_t>& seg) {
                return seg[0] == id ? seg[1] : seg[0];
            };
            if (a.size() == 2 && b.size() == 2 && otherEnd(a) != otherEnd(b)) {
                through.push_back({id, {uses[i].second, uses[i + 1].second}});
            }
        }
        i = j;
    }
    std::vector<std::vector<int32_t>> runs;
    if (through.empty()) {
        return runs;
    }
    const auto throughAt = [&](int32_t id) {
        const auto it = std::lower_bound(through.begin(), through.end(), id,
                                         [](const Through& x, int32_t v) { return x.id < v; });
        return it != through.end() && it->id == id ? &*it : nullptr;
    };
    // From each segment that leaves an end for a point that runs straight on, along the run.
    // The other end of each run is no such point either, so each run is walked from both
    // ends: the walk from the smaller end is kept.
    for (const std::vector<int32_t>& seg : segs) {
        if (seg.size() != 2) {
            continue;
        }
        for (int e = 0; e < 2; ++e) {
            const int32_t start = seg[static_cast<size_t>(e)];
            int32_t next = seg[static_cast<size_t>(1 - e)];
            if (throughAt(start) != nullptr || throughAt(next) == nullptr) {
                continue;
            }
            std::vector<int32_t> run = {start};
            int32_t via = static_cast<int32_t>(&seg - segs.data());
            for (const Through* at = throughAt(next); at != nullptr && run.size() <= segs.size();
                 at = throughAt(next)) {
                run.push_back(next);
                via = at->seg[0] == via ? at->seg[1] : at->seg[0];
                const auto& out = segs[static_cast<size_t>(via)];
                next = out[0] == next ? out[1] : out[0];
            }
            run.push_back(next);
            if (throughAt(next) == nullptr && start < next) {
                runs.push_back(std::move(run));
            }
        }
    }
    return runs;
}

std::vector<Arrangement::Impl::Partner> Arrangement::Impl::partnersOf(
    int32_t t, const std::vector<int32_t>& partners) const {
    const int ax = axis[t];
    std::array<int32_t, 3> sorted = tris[t];
    std::sort(sorted.begin(), sorted.end());
    std::vector<Partner> out;
    for (const int32_t other : partners) {
        const Corners& c = tris[other];
        std::array<int32_t, 3> corners = c;
        std::sort(corners.begin(), corners.end());
        const bool same = corners == sorted;
        // One beside t, beyond the line through one of t's edges: its inside misses t's.
        if (!same && outsideAnEdge(t, other, false)) {
            continue;
        }
        Partner p{};
        for (int i = 0; i < 3; ++i) {
            const IP2 q = project(points[c[i]], ax);
            p.corner[i][0] = q.x();
            p.corner[i][1] = q.y();
        }
        for (int k = 0; k < 2; ++k) {
            p.lo[k] = std::min({p.corner[0][k], p.corner[1][k], p.corner[2][k]});
            p.hi[k] = std::max({p.corner[0][k], p.corner[1][k], p.corner[2][k]});
        }
        p.orientation = static_cast<int8_t>(orient2(c[0], c[1], c[2], ax));
        p.side = static_cast<int8_t>(p.orientation == projectedSign[t] ? 1 : -1);
        p.same = same;
        out.push_back(p);
        if (same) {
            break;  // it holds every piece: no later partner is asked
        }
    }
    return out;
}

int8_t Arrangement::Impl::coplanarSide(const std::vector<Partner>& partners,
                                       const EP2* const (&piece)[3]) {
    // Interval operations that leave the rounding mode alone, which is set upward once for the
    // whole test instead of for every operation; exact numbers round to nearest again.
    using I = CGAL::Interval_nt<false>;
    CGAL::Protect_FPU_rounding<true> upward;
    // The centre in intervals, from the corners' own (a seam point is a construction whose
    // exact value is built only where the intervals cannot decide).
    I centre[2] = {I(0), I(0)};
    for (const EP2* p : piece) {
        const auto approx = CGAL::approx(*p);
        centre[0] += I(approx.x().inf(), approx.x().sup());
        centre[1] += I(approx.y().inf(), approx.y().sup());
    }
    centre[0] /= 3;
    centre[1] /= 3;
    std::optional<EP2> exactCentre;
    const auto orientation = [&](const double* a, const double* b) {
        const I d = (I(b[0]) - a[0]) * (centre[1] - a[1]) - (I(b[1]) - a[1]) * (centre[0] - a[0]);
        if (d.inf() > 0) {
            return 1;
        }
        if (d.sup() < 0) {
            return -1;
        }
        CGAL::Protect_FPU_rounding<true> nearest(CGAL_FE_TONEAREST);
        if (!exactCentre) {
            exactCentre = CGAL::centroid(*piece[0], *piece[1], *piece[2]);
        }
        return sign(CGAL::orientation(EP2(a[0], a[1]), EP2(b[0], b[1]), *exactCentre));
    };
    // A piece is split along every edge of a partner but those that are no crease of the other
    // surface, so its centre lies inside a partner or on such an edge, between two partners
    // facing the same way; either holds it.
    for (const Partner& p : partners) {
        // A centre surely outside the partner's box is not inside it.
        if (!p.same && (centre[0].sup() < p.lo[0] || centre[0].inf() > p.hi[0] ||
                        centre[1].sup() < p.lo[1] || centre[1].inf() > p.hi[1])) {
            continue;
        }
        bool inside = true;
        for (int i = 0; i < 3 && inside && !p.same; ++i) {
            inside = orientation(p.corner[i], p.corner[(i + 1) % 3]) != -p.orientation;
        }
        if (inside) {
            return p.side;
        }
    }
    return 0;
}

void Arrangement::Impl::wholeTriangle(int32_t t, const std::vector<std::vector<int32_t>>& segs,
                                      const std::vector<int32_t>& partners,
                                      std::vector<Piece>& out) const {
    const Corners& c = tris[t];
    unsigned seam = 0;
    for (const std::vector<int32_t>& seg : segs) {
        for (int e = 0; e < 3; ++e) {
            const bool from = std::find(seg.begin(), seg.end(), c[e]) != seg.end();
            const bool to = std::find(seg.begin(), seg.end(), c[(e + 1) % 3]) != seg.end();
            seam |= from && to ? 1u << e : 0u;
        }
    }
    int8_t coplanar = 0;
    if (!partners.empty()) {
        const int ax = axis[t];
        const EP2 corner[3] = {projectedPoint(c[0], ax), projectedPoint(c[1], ax),
                               projectedPoint(c[2], ax)};
        const EP2* const corners[3] = {&corner[0], &corner[1], &corner[2]};
        coplanar = coplanarSide(partnersOf(t, partners), corners);
    }
    addPiece(t, c.data(), seam, coplanar, out);
}

void Arrangement::Impl::addPiece(int32_t t, const int32_t* v, unsigned seam, int8_t coplanar,
                                 std::vector<Piece>& out) const {
    // A piece that is the whole triangle again keeps the triangle's order.
    const Corners& own = tris[t];
    const auto rank = [&](int32_t id) {
        for (int i = 0; i < 3; ++i) {
            if (own[i] == id) {
                return std::pair<int, int32_t>(i, id);
            }
        }
        return std::pair<int, int32_t>(3, id);
    };
    int r = 0;
    for (int i = 1; i < 3; ++i) {
        if (rank(v[i]) < rank(v[r])) {
            r = i;
        }
    }
    Piece piece{};
    piece.source = t;
    piece.coplanar = coplanar;
    for (int i = 0; i < 3; ++i) {
        piece.v[i] = v[(i + r) % 3];
        if ((seam >> ((i + r) % 3)) & 1u) {
            piece.seamMask |= static_cast<uint8_t>(1u << i);
        }
    }
    out.push_back(piece);
}

void Arrangement::Impl::splitAcrossCorner(int32_t t, int k, int32_t p, int32_t q,
                                          std::vector<Piece>& out) const {
    const Corners& c = tris[t];
    const int32_t from = c[k], corner = c[(k + 1) % 3], to = c[(k + 2) % 3];
    const size_t first = out.size();
    const int32_t cut[3] = {p, corner, q};
    addPiece(t, cut, 1u << 2, 0, out);
    // Quadrilateral from, p, q, to, convex: the diagonal is the Delaunay one, decided exactly,
    // so that it does not depend on how far other threads have refined the shared points.
    const int ax = axis[t];
    const auto projected = [&](int32_t id) { return projectedPoint(id, ax); };
    // q inside the circle through from, p, to (taken counterclockwise in the projection)?
    const int inside = sign(
        CGAL::side_of_oriented_circle(projected(from), projected(p), projected(to), projected(q)));
    if (inside * projectedSign[t] > 0) {
        const int32_t x[3] = {from, p, q}, y[3] = {from, q, to};
        addPiece(t, x, 1u << 1, 0, out);
        addPiece(t, y, 0, 0, out);
    } else {
        const int32_t x[3] = {from, p, to}, y[3] = {p, q, to};
        addPiece(t, x, 0, 0, out);
        addPiece(t, y, 1u << 0, 0, out);
    }
    std::sort(out.begin() + static_cast<std::ptrdiff_t>(first), out.end(),
              [](const Piece& x, const Piece& y) { return x.v < y.v; });
}

bool Arrangement::Impl::splitJob(const SplitJob& job, std::vector<Piece>& out,
                                 std::string& why) const {
    // Most cut triangles are crossed once, from edge to edge.
    const auto& on = job.edgePoints;
    const size_t cut = on[0].size() + on[1].size() + on[2].size();
    if (!job.inside && job.partners.empty() && cut == 2 && job.segs.size() == 1 &&
        job.segs[0].size() == 2 && job.ids.size() == 5) {
        const int k = on[0].empty() ? 1 : on[1].empty() ? 2 : 0;  // first of the two
        if (on[k].size() == 1 && on[(k + 1) % 3].size() == 1) {
            const int32_t onFirst = on[k][0];
            const int32_t onSecond = on[(k + 1) % 3][0];
            const auto& seg = job.segs[0];
            if ((seg[0] == onFirst && seg[1] == onSecond) ||
                (seg[0] == onSecond && seg[1] == onFirst)) {
                splitAcrossCorner(job.t, k, onFirst, onSecond, out);
                return true;
            }
        }
    }
    if (job.ids.size() == 3) {
        // Touched at its corners and along its own edges only.
        wholeTriangle(job.t, job.segs, job.partners, out);
        return true;
    }
    return splitTriangle(job.t, job.ids, job.edgePoints, job.segs, job.partners, out, why);
}

int8_t Arrangement::Impl::coveredSide(int32_t t, const std::vector<int32_t>& partners) const {
    std::array<int32_t, 3> sorted = tris[t];
    std::sort(sorted.begin(), sorted.end());
    int8_t side = 0;
    for (const int32_t other : partners) {
        const Corners& c = tris[other];
        std::array<int32_t, 3> corners = c;
        std::sort(corners.begin(), corners.end());
        // A partner beside t, beyond the line through one of its edges, only touches it.
        if (corners != sorted && outsideAnEdge(t, other, false)) {
            continue;
        }
        const int8_t s = orient2(c[0], c[1], c[2], axis[t]) == projectedSign[t] ? 1 : -1;
        if (side != 0 && s != side) {
            return 0;
        }
        side = s;
    }
    return side;
}

void Arrangement::Impl::makeJob(int32_t t, SplitJob& job) const {
    job.t = t;
    const Corners& c = tris[t];
    job.ids.assign(c.begin(), c.end());
    for (int32_t i = inFaceStart[t]; i < inFaceStart[t + 1]; ++i) {
        job.ids.push_back(idOf(inFace[i].second));
        job.inside = true;
    }
    for (int32_t i = chainStart[t]; i < chainStart[t + 1]; ++i) {
        const auto chain = static_cast<size_t>(chainOf[i].second);
        job.segs.emplace_back(chainIds.begin() + (chain == 0 ? 0 : chainEnd[chain - 1]),
                              chainIds.begin() + chainEnd[chain]);
    }
    for (int32_t i = partnerStart[t]; i < partnerStart[t + 1]; ++i) {
        job.partners.push_back(coplanarWith[i].second);
    }
    for (int k = 0; k < 3; ++k) {
        const int32_t e = triEdge[t][k];
        for (int32_t i = edgeStart[e]; i < edgeStart[e + 1]; ++i) {
            job.ids.push_back(idOf(onEdge[i].second));
            job.edgePoints[static_cast<size_t>(k)].push_back(job.ids.back());
        }
    }
    std::sort(job.ids.begin() + 3, job.ids.end());
    job.ids.erase(std::unique(job.ids.begin() + 3, job.ids.end()), job.ids.end());
}

bool Arrangement::split(const StopToken& stop) {
    Impl& m = *m_impl;
    // Each list grouped by its first member; the offsets find a triangle's (or edge's) entries.
    m.edgeStart = groupByFirst(m.onEdge, m.edgeEnds.size());
    m.inFaceStart = groupByFirst(m.inFace, m.tris.size());
    m.chainStart = groupByFirst(m.chainOf, m.tris.size());
    m.partnerStart = groupByFirst(m.coplanarWith, m.tris.size());
    const std::vector<int32_t>& edgeStart = m.edgeStart;
    for (const auto& e : m.onEdge) {
        if (e.second.kind != kVertex) {
            m.seamKeys.push_back(e.second);
        }
    }
    for (const auto& e : m.inFace) {
        if (e.second.kind != kVertex) {
            m.seamKeys.push_back(e.second);
        }
    }
    tbb::parallel_sort(m.seamKeys.begin(), m.seamKeys.end());
    m.seamKeys.erase(std::unique(m.seamKeys.begin(), m.seamKeys.end()), m.seamKeys.end());
    m.exact.assign(m.points.size() + m.seamKeys.size(), std::nullopt);

    // Which triangles need splitting: those with a point on an edge, inside, or a chain.
    const auto nt = static_cast<int32_t>(m.tris.size());
    std::vector<char> crossed(m.tris.size(), 0);
    for (const int32_t t : m.crossed) {
        crossed[static_cast<size_t>(t)] = 1;
    }
    std::vector<char> touched(m.tris.size(), 0);
    // Only triangles of candidate pairs have edge ids; only they can be touched.
    for (int32_t t : m.involved) {
        for (int k = 0; k < 3; ++k) {
            const int32_t e = m.triEdge[t][k];
            if (edgeStart[e + 1] > edgeStart[e]) {
                touched[t] = 1;
            }
        }
    }
    for (const auto& f : m.inFace) {
        touched[f.first] = 1;
    }
    for (const auto& c : m.chainOf) {
        touched[c.first] = 1;
    }
    if (!m.twin.empty()) {
        for (int32_t t : m.involved) {
            if (touched[t] && m.twin[static_cast<size_t>(t)] != 0) {
                m.twinTouched = true;
                m.error = "nesto sijece trokut koji oba tijela imaju";
                return false;
            }
        }
    }

    // The chains' points by id, each found once.
    m.chainIds.resize(m.chainKeys.size());
    tbb::parallel_for(tbb::blocked_range<size_t>(0, m.chainIds.size(), 4096),
                      [&](const tbb::blocked_range<size_t>& r) {
                          for (size_t i = r.begin(); i < r.end(); ++i) {
                              m.chainIds[i] = m.idOf(m.chainKeys[i]);
                          }
                      });

    // What each touched triangle is split along is built by the thread that splits it.
    using Job = SplitJob;
    // Kept whole where untouched: coplanar contacts at a single point change nothing.
    std::vector<int32_t> work;
    for (int32_t t : m.involved) {
        if (touched[t]) {
            work.push_back(t);
        }
    }

    // The triangulations are independent; each job keeps its own pieces and the first
    // failure in triangle order is the one reported.
    std::vector<std::vector<Piece>> split(work.size());
    std::vector<std::string> why(work.size());
    std::vector<char> failed(work.size(), 0);
    // A triangle on the other surface throughout is kept or dropped whole unless a kept piece
    // elsewhere uses one of its points; it is split only then (splitDeferred). Only the seam
    // points of the triangles split now are built here.
    std::vector<Job> jobs(work.size());
    std::vector<char> isDeferred(work.size(), 0);
    const auto np = static_cast<int32_t>(m.points.size());
    std::vector<char> needSeam(m.seamKeys.size(), 0);
    tbb::parallel_for(
        tbb::blocked_range<size_t>(0, work.size(), 64), [&](const tbb::blocked_range<size_t>& r) {
            stop.check();
            for (size_t j = r.begin(); j < r.end(); ++j) {
                Job& job = jobs[j];
                m.makeJob(work[j], job);
                const int8_t known = m.covered.empty() ? 0 : m.covered[static_cast<size_t>(job.t)];
                if (known != 0 || (!crossed[static_cast<size_t>(job.t)] && job.ids.size() > 3)) {
                    if (const int8_t side = known != 0 ? known : m.coveredSide(job.t, job.partners);
                        side != 0) {
                        // All edges on the seam: the piece joins no patch, as it decides none.
                        m.addPiece(job.t, m.tris[job.t].data(), 7u, side, split[j]);
                        isDeferred[j] = 1;
                        continue;
                    }
                }
                for (const int32_t id : job.ids) {
                    if (id >= np) {
                        std::atomic_ref<char>(needSeam[static_cast<size_t>(id - np)])
                            .store(1, std::memory_order_relaxed);
                    }
                }
            }
        });

    // Exact points are built once, before the threads read them: input points (each slot by
    // one thread), then seam points, which read only input points of involved triangles.
    {
        std::vector<char> need(m.points.size(), 0);
        for (int32_t t : m.involved) {
            for (int32_t v : m.tris[t]) {
                need[v] = 1;
            }
        }
        tbb::parallel_for(tbb::blocked_range<size_t>(0, need.size(), 4096),
                          [&](const tbb::blocked_range<size_t>& r) {
                              for (size_t i = r.begin(); i < r.end(); ++i) {
                                  if (need[i]) {
                                      (void)m.exactPoint(static_cast<int32_t>(i));
                                  }
                              }
                          });
        tbb::parallel_for(
            tbb::blocked_range<int32_t>(0, static_cast<int32_t>(m.seamKeys.size()), 256),
            [&](const tbb::blocked_range<int32_t>& r) {
                for (int32_t i = r.begin(); i < r.end(); ++i) {
                    if (needSeam[static_cast<size_t>(i)]) {
                        (void)m.exactPoint(np + i);
                    }
                }
            });
    }

    // The largest triangulations are started first, so that no thread is left with one long
    // job at the end; results stay in triangle order.
    std::vector<int32_t> points(work.size());
    for (size_t j = 0; j < work.size(); ++j) {
        const int32_t t = work[j];
        points[j] = m.inFaceStart[t + 1] - m.inFaceStart[t];
        for (int k = 0; k < 3; ++k) {
            const int32_t e = m.triEdge[t][k];
            points[j] += edgeStart[e + 1] - edgeStart[e];
        }
    }
    std::vector<size_t> byPoints(work.size());
    std::iota(byPoints.begin(), byPoints.end(), size_t{0});
    std::stable_sort(byPoints.begin(), byPoints.end(),
                     [&](size_t a, size_t b) { return points[a] > points[b]; });
    tbb::parallel_for(tbb::blocked_range<size_t>(0, work.size(), 4),
                      [&](const tbb::blocked_range<size_t>& r) {
                          stop.check();
                          for (size_t n = r.begin(); n < r.end(); ++n) {
                              const size_t j = byPoints[n];
                              if (!isDeferred[j]) {
                                  failed[j] = m.splitJob(jobs[j], split[j], why[j]) ? 0 : 1;
                              }
                          }
                      });
    for (size_t j = 0; j < work.size(); ++j) {
        if (failed[j]) {
            m.error = why[j];
            return false;
        }
    }
    for (size_t j = 0; j < work.size(); ++j) {
        if (isDeferred[j]) {
            m.deferred.push_back(std::move(jobs[j]));
        }
    }
    jobs = {};
    // Pieces in triangle order: a touched triangle's own, else the triangle whole. Each
    // triangle's place follows from the pieces of the touched triangles before it.
    std::vector<size_t> piecesBefore(work.size() + 1, 0);  // of the touched triangles
    for (size_t j = 0; j < work.size(); ++j) {
        piecesBefore[j + 1] = piecesBefore[j] + split[j].size();
    }
    m.pieces.resize(m.tris.size() - work.size() + piecesBefore.back());
    tbb::parallel_for(
        tbb::blocked_range<int32_t>(0, nt, 8192), [&](const tbb::blocked_range<int32_t>& r) {
            auto j = static_cast<size_t>(std::lower_bound(work.begin(), work.end(), r.begin()) -
                                         work.begin());
            // The untouched triangles before r, one piece each, and the touched ones' pieces.
            size_t at = static_cast<size_t>(r.begin()) - j + piecesBefore[j];
            for (int32_t t = r.begin(); t < r.end(); ++t) {
                if (j < work.size() && work[j] == t) {
                    std::copy(split[j].begin(), split[j].end(),
                              m.pieces.begin() + static_cast<std::ptrdiff_t>(at));
                    at += split[j].size();
                    ++j;
                } else if (!m.twin.empty() && m.twin[static_cast<size_t>(t)] != 0) {
                    m.pieces[at++] = {m.tris[t], t, 7, m.twin[static_cast<size_t>(t)]};
                } else if (!m.covered.empty() && m.covered[static_cast<size_t>(t)] != 0) {
                    // Its pairs were not tested (skipCoveredPairs): on the other surface whole.
                    m.pieces[at++] = {m.tris[t], t, 7, m.covered[static_cast<size_t>(t)]};
                } else {
                    m.pieces[at++] = {m.tris[t], t, 0, 0};
                }
            }
        });
    return true;
}

bool Arrangement::isDeferred(int32_t triangle) const {
    return deferredJob(triangle) != nullptr;
}

const std::vector<int32_t>& Arrangement::deferredPoints(int32_t triangle) const {
    return deferredJob(triangle)->ids;
}

bool Arrangement::splitDeferred(int32_t triangle, std::vector<Piece>& out, std::string& why) const {
    return m_impl->splitJob(*deferredJob(triangle), out, why);
}

void Arrangement::innerPoints(int32_t triangle, std::vector<int32_t>& onEdges,
                              std::vector<int32_t>& inside) const {
    const Impl& m = *m_impl;
    onEdges.clear();
    for (int k = 0; k < 3; ++k) {
        const int32_t e = m.triEdge[triangle][k];
        for (int32_t i = m.edgeStart[e]; i < m.edgeStart[e + 1]; ++i) {
            onEdges.push_back(m.idOf(m.onEdge[i].second));
        }
    }
    std::sort(onEdges.begin(), onEdges.end());
    onEdges.erase(std::unique(onEdges.begin(), onEdges.end()), onEdges.end());
    inside.clear();
    for (int32_t i = m.inFaceStart[triangle]; i < m.inFaceStart[triangle + 1]; ++i) {
        const int32_t id = m.idOf(m.inFace[i].second);
        if (!std::binary_search(onEdges.begin(), onEdges.end(), id)) {
            inside.push_back(id);
        }
    }
    std::sort(inside.begin(), inside.end());
    inside.erase(std::unique(inside.begin(), inside.end()), inside.end());
}

bool Arrangement::splitAt(int32_t triangle, const std::vector<char>& used, std::vector<Piece>& out,
                          std::string& why) const {
    SplitJob all;
    m_impl->makeJob(triangle, all);
    SplitJob job;
    job.t = triangle;
    job.ids.assign(all.ids.begin(), all.ids.begin() + 3);
    for (size_t k = 0; k < 3; ++k) {
        for (const int32_t v : all.edgePoints[k]) {
            if (used[static_cast<size_t>(v)]) {
                job.edgePoints[k].push_back(v);
                job.ids.push_back(v);
            }
        }
    }
    std::sort(job.ids.begin() + 3, job.ids.end());
    job.ids.erase(std::unique(job.ids.begin() + 3, job.ids.end()), job.ids.end());
    return m_impl->splitJob(job, out, why);
}

const SplitJob* Arrangement::deferredJob(int32_t triangle) const {
    const std::vector<SplitJob>& d = m_impl->deferred;
    const auto it = std::lower_bound(d.begin(), d.end(), triangle,
                                     [](const SplitJob& job, int32_t t) { return job.t < t; });
    return it != d.end() && it->t == triangle ? &*it : nullptr;
}

}  // namespace korvan::closed
