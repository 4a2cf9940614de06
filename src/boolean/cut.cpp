// The triangle-level test and the plane cut of one triangle.
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include <cmath>
#include <utility>
#include <vector>

#include "boolean/boolean.h"

namespace korvan {

void appendPiece(SplitList& pieces, SplitTriangle piece) {
    piece.index = static_cast<int32_t>(pieces.size()) + 1;
    pieces.push_back(piece);
}

void cutTriangle(const Triangle& q, Triangle& t, const Solid& S, int32_t owner, SplitList& pieces,
                 float onPlane) {
    const Vector4 P = q.centroid;
    const Vector4 n = q.normal;
    Vector4 K[3] = {S.vertices[static_cast<size_t>(t.i0)], S.vertices[static_cast<size_t>(t.i1)],
                    S.vertices[static_cast<size_t>(t.i2)]};
    // Signed depth behind the plane: positive inside the other solid.
    float s[3];
    for (int k = 0; k < 3; ++k) {
        s[k] = static_cast<float>(dot(n, P - K[k]));
        if (s[k] <= onPlane && s[k] >= -onPlane) {
            s[k] = 0.0f;
        }
    }
    if ((s[0] <= 0 && s[1] <= 0 && s[2] <= 0) || (s[0] >= 0 && s[1] >= 0 && s[2] >= 0)) {
        return;
    }
    t.label = kLabelCut;

    // Sort the corners by depth with three compare-and-swaps; equal depths stay in place.
    int o[3] = {0, 1, 2};
    const auto order = [&](int a, int b) {
        if (s[o[a]] > s[o[b]]) {
            std::swap(o[a], o[b]);
        }
    };
    order(0, 1);
    order(0, 2);
    order(1, 2);
    const Vector4 W0 = K[o[0]];
    const Vector4 W1 = K[o[1]];
    const Vector4 W2 = K[o[2]];
    const float middle = s[o[1]];

    const auto cutPoint = [&](const Vector4& a, const Vector4& b) {
        const auto numerator = static_cast<float>(-dot(n, a - P));
        const auto u = static_cast<float>(numerator / dot(n, b - a));
        return a + (b - a) * u;
    };
    const auto emit = [&](Vector4 a, Vector4 b, Vector4 c, int32_t label) {
        const Vector4 m = cross(b - a, c - a);
        if (dot(m, t.normal) < 0) {
            std::swap(b, c);
        }
        SplitTriangle piece;
        piece.p0 = a;
        piece.p1 = b;
        piece.p2 = c;
        piece.normal = t.normal;
        piece.label = label;
        piece.owner = owner;
        appendPiece(pieces, piece);
    };

    if (middle == 0) {
        const Vector4 X = cutPoint(W0, W2);
        emit(W0, W1, X, kLabelOutside);
        emit(W1, W2, X, kLabelInside);
    } else if (middle < 0) {
        const Vector4 X = cutPoint(W0, W2);
        const Vector4 Y = cutPoint(W1, W2);
        emit(W0, W1, X, kLabelOutside);
        emit(W1, Y, X, kLabelOutside);
        emit(W2, X, Y, kLabelInside);
    } else {
        const Vector4 X = cutPoint(W0, W1);
        const Vector4 Y = cutPoint(W0, W2);
        emit(W0, X, Y, kLabelOutside);
        emit(W2, Y, X, kLabelInside);
        emit(W2, X, W1, kLabelInside);
    }
}

namespace {

int32_t otherSide(int32_t label) {
    return label == kLabelInside ? kLabelOutside : kLabelInside;
}

// Whether p lies in the triangle abc seen along n, allowing `tolerance` outside its edges.
bool contains(const Vector4& a, const Vector4& b, const Vector4& c, const Vector4& n,
              const Vector4& p, Precise tolerance) {
    const Vector4 corners[3] = {a, b, c};
    for (int k = 0; k < 3; ++k) {
        const Vector4& from = corners[k];
        const Vector4& to = corners[(k + 1) % 3];
        if (dot(cross(to - from, p - from), n) < -tolerance * length(to - from)) {
            return false;
        }
    }
    return true;
}

}  // namespace

TriangleCutter::TriangleCutter(const Solid& object1, const Solid& object2, int32_t edgeSampling,
                               SplitList& pieces, int32_t keep1, int32_t keep2)
    : m_object1(object1),
      m_object2(object2),
      m_edgeSampling(edgeSampling),
      m_pieces(pieces),
      m_keep1(keep1),
      m_keep2(keep2),
      // Far above the rounding of coordinates, far below any edge worth cutting off.
      m_onPlane(static_cast<float>(1e-5 * (length(object1.maxCorner - object1.minCorner) +
                                           length(object2.maxCorner - object2.minCorner)))) {}

TriangleCutter::TriangleCutter(const TriangleCutter& other, SplitList& pieces)
    : m_object1(other.m_object1),
      m_object2(other.m_object2),
      m_edgeSampling(other.m_edgeSampling),
      m_pieces(pieces),
      m_keep1(other.m_keep1),
      m_keep2(other.m_keep2),
      m_onPlane(other.m_onPlane) {}

void TriangleCutter::insideOutParallel(OctreeNode& A, OctreeNode& B, const StopToken& stop) {
    std::vector<Region> regions;
    std::vector<OctreeNode*> cells;
    findRegions(A, B, regions, cells);
    size_t listed = 0;
    for (const OctreeNode* cell : cells) {
        listed += cell->triangleIndices.size();
    }
    // Below this a task costs more than the tests it would take over.
    constexpr size_t kSerialTriangles = 8192;
    const bool threads = tbb::this_task_arena::max_concurrency() >= 2;
    // Labelling a region is a store per triangle: worth several threads only by the million.
    if (threads && B.solid->triangles.size() >= (size_t{1} << 19)) {
        labelRegionsAtOnce(regions);
    } else {
        for (const Region& region : regions) {
            labelTriangles(*region.node, region.label);
        }
    }
    if (listed < kSerialTriangles || !threads) {
        for (OctreeNode* cell : cells) {
            testCellTriangles(A, *cell, *this);
            stop.advance(static_cast<int64_t>(cell->triangleIndices.size()));
        }
        return;
    }
    // The test reads A's tree and solid and writes only the labels of the cell's own
    // triangles (each listed by one cell of a level), so cells are independent.
    std::vector<SplitList> parts(cells.size());
    tbb::parallel_for(tbb::blocked_range<size_t>(0, cells.size()),
                      [&](const tbb::blocked_range<size_t>& range) {
                          for (size_t k = range.begin(); k != range.end(); ++k) {
                              TriangleCutter local(*this, parts[k]);
                              testCellTriangles(A, *cells[k], local);
                              stop.advance(static_cast<int64_t>(cells[k]->triangleIndices.size()));
                          }
                      });
    size_t made = 0;
    for (const SplitList& part : parts) {
        made += part.size();
    }
    m_pieces.reserve(m_pieces.size() + made);
    for (const SplitList& part : parts) {
        for (const SplitTriangle& piece : part) {
            appendPiece(m_pieces, piece);
        }
    }
}

bool TriangleCutter::coincides(const Triangle& q, const Solid& qSolid, const Triangle& t,
                               const Solid& tSolid) const {
    if (std::fabs(dot(q.normal, t.normal)) < 0.999) {
        return false;
    }
    const Vector4 qc[3] = {qSolid.vertices[static_cast<size_t>(q.i0)],
                           qSolid.vertices[static_cast<size_t>(q.i1)],
                           qSolid.vertices[static_cast<size_t>(q.i2)]};
    const Vector4 tc[3] = {tSolid.vertices[static_cast<size_t>(t.i0)],
                           tSolid.vertices[static_cast<size_t>(t.i1)],
                           tSolid.vertices[static_cast<size_t>(t.i2)]};
    for (int k = 0; k < 3; ++k) {
        if (std::fabs(dot(q.normal, tc[k] - q.centroid)) > m_onPlane ||
            std::fabs(dot(t.normal, qc[k] - t.centroid)) > m_onPlane) {
            return false;
        }
    }
    return contains(qc[0], qc[1], qc[2], q.normal, t.centroid, m_onPlane) ||
           contains(tc[0], tc[1], tc[2], t.normal, q.centroid, m_onPlane);
}

int32_t TriangleCutter::testTriangle(OctreeNode& A, Triangle& t) {
    return descend(A, A, t);
}

int32_t TriangleCutter::descend(OctreeNode& root, OctreeNode& A, Triangle& t) {
    const Vector4& c = t.centroid;
    if (A.maxCorner.x < c.x || A.minCorner.x > c.x || A.maxCorner.y < c.y || A.minCorner.y > c.y ||
        A.maxCorner.z < c.z || A.minCorner.z > c.z) {
        return 0;
    }
    if (A.type == kCellSubdivided) {
        for (auto& child : A.children) {
            if (const int32_t r = descend(root, *child, t); r != 0) {
                return r;
            }
        }
        return 0;
    }
    if (A.type == kCellInner || A.type == kCellOuter) {
        t.label = A.type;
        return t.label;
    }
    if (A.type != kCellBoundary) {
        // An undecided or unsorted leaf lists no triangle and has no class of its own. Calling
        // it outside would drop triangles deep inside the other solid when the flood failed to
        // reach them; instead the side is that of the nearest surface triangle of the whole
        // tree, as for a boundary cell, and the same cut rule applies.
        const Triangle* q = nearestSurfaceTriangle(root, c);
        if (q == nullptr) {
            t.label = kLabelOutside;
            return t.label;
        }
        return sideAndCut(*q, A, t);
    }
    const Precise L = A.solid->edgeLimit;
    const Precise d = dot(A.meanNormal, c);
    if (d > A.maxProjection + L) {
        t.label = kLabelOutside;
        return t.label;
    }
    if (d + L < A.minProjection) {
        t.label = kLabelInside;
        return t.label;
    }
    return sideAndCut(*nearestListedTriangle(A, c), A, t);
}

int32_t TriangleCutter::sideAndCut(const Triangle& nearest, OctreeNode& A, Triangle& t) {
    const Triangle q(nearest);
    const Vector4& c = t.centroid;
    const bool ownedBy1 = A.solid != &m_object1;
    const Solid& own = ownedBy1 ? m_object1 : m_object2;
    if (m_keep1 != 0 && m_keep2 != 0 && coincides(q, *A.solid, t, own)) {
        if (!ownedBy1) {
            t.label = otherSide(m_keep2);
        } else {
            const bool sameWay = dot(q.normal, t.normal) > 0;
            const bool keep = sameWay == (m_keep1 == m_keep2);
            t.label = keep ? m_keep1 : otherSide(m_keep1);
        }
        return t.label;
    }
    const Precise s = dot(q.normal, q.centroid - c);
    t.label = s >= 0 ? kLabelInside : kLabelOutside;
    if (m_edgeSampling != 0 &&
        length(q.centroid - c) <
            static_cast<Precise>(m_object2.edgeLimit) + static_cast<Precise>(m_object1.edgeLimit)) {
        cutTriangle(q, t, own, ownedBy1 ? 1 : 2, m_pieces, m_keep1 != 0 ? m_onPlane : 0.0f);
    }
    return t.label;
}

}  // namespace korvan
