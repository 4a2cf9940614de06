// Assembly of the result mesh from the selected triangles and pieces.
#include <cstddef>
#include <utility>
#include <vector>

#include "boolean/boolean.h"

namespace korvan {
namespace {

bool inBox(const Vector4& c, const Vector4& lo, const Vector4& hi) {
    return lo.x <= c.x && c.x <= hi.x && lo.y <= c.y && c.y <= hi.y && lo.z <= c.z && c.z <= hi.z;
}

// Gives each corner of a selected triangle its result vertex, numbering operand vertices in
// order of first use.
struct VertexMap {
    std::vector<int32_t> map;
    explicit VertexMap(size_t count) : map(count, -1) {}
    int32_t remap(int32_t k, int32_t& next) {
        int32_t& slot = map[static_cast<size_t>(k)];
        if (slot < 0) {
            slot = next++;
        }
        return slot;
    }
};

}  // namespace

int32_t assembleResult(Solid& object1, const Solid& object2, const SplitList& pieces, int32_t keep1,
                       int32_t keep2, const BoxFilter& filter) {
    const Vector4 box1Min = filter.minCorner;
    const Vector4 box1Max = filter.maxCorner;
    const bool animationRunning = filter.pieces;
    const bool reverse = keep1 != keep2;

    const auto selected2 = [&](const Triangle& t) {
        if (t.label != keep2) {
            return false;
        }
        if (keep2 == kLabelOutside) {
            return true;
        }
        return keep2 == kLabelInside && inBox(t.centroid, box1Min, box1Max);
    };
    const auto pieceCentroid = [](const SplitTriangle& p) { return ((p.p0 + p.p1) + p.p2) / 3.0f; };
    const auto selectedPiece = [&](const SplitTriangle& p) {
        if (!((p.label == keep1 && p.owner == 1) || (p.label == keep2 && p.owner == 2))) {
            return false;
        }
        if (animationRunning && p.owner == 2 && keep2 == kLabelInside) {
            return inBox(pieceCentroid(p), box1Min, box1Max);
        }
        return true;
    };

    // Counting pass: the result arrays are then allocated once, at their exact sizes.
    VertexMap map1(object1.vertices.size());
    VertexMap map2(object2.vertices.size());
    int32_t M = 0;
    size_t R = 0;
    for (const Triangle& t : object1.triangles) {
        if (t.label == keep1) {
            map1.remap(t.i0, M);
            map1.remap(t.i1, M);
            map1.remap(t.i2, M);
            ++R;
        }
    }
    for (const Triangle& t : object2.triangles) {
        if (selected2(t)) {
            map2.remap(t.i0, M);
            map2.remap(reverse ? t.i2 : t.i1, M);
            map2.remap(reverse ? t.i1 : t.i2, M);
            ++R;
        }
    }
    const int32_t operandVertices = M;
    size_t pieceCount = 0;
    for (const SplitTriangle& p : pieces) {
        if (selectedPiece(p)) {
            ++pieceCount;
        }
    }
    R += pieceCount;

    std::vector<Vector4> vertices(static_cast<size_t>(operandVertices) + 3 * pieceCount);
    std::vector<Triangle> triangles;
    triangles.reserve(R);
    const auto copyTriangle = [&](const Triangle& t, int32_t a, int32_t b, int32_t c) {
        Triangle r(t);
        r.i0 = a;
        r.i1 = b;
        r.i2 = c;
        r.label = kLabelNone;
        triangles.push_back(r);
        return &triangles.back();
    };
    for (const Triangle& t : object1.triangles) {
        if (t.label == keep1) {
            copyTriangle(t, map1.map[static_cast<size_t>(t.i0)],
                         map1.map[static_cast<size_t>(t.i1)], map1.map[static_cast<size_t>(t.i2)]);
        }
    }
    for (const Triangle& t : object2.triangles) {
        if (selected2(t)) {
            const int32_t a = map2.map[static_cast<size_t>(t.i0)];
            const int32_t b = map2.map[static_cast<size_t>(t.i1)];
            const int32_t c = map2.map[static_cast<size_t>(t.i2)];
            Triangle* r = reverse ? copyTriangle(t, a, c, b) : copyTriangle(t, a, b, c);
            if (reverse) {
                r->normal = r->normal * -1.0f;
            }
        }
    }
    for (size_t k = 0; k < map1.map.size(); ++k) {
        if (map1.map[k] >= 0) {
            vertices[static_cast<size_t>(map1.map[k])] = object1.vertices[k];
        }
    }
    for (size_t k = 0; k < map2.map.size(); ++k) {
        if (map2.map[k] >= 0) {
            vertices[static_cast<size_t>(map2.map[k])] = object2.vertices[k];
        }
    }
    map1.map = {};
    map2.map = {};

    int32_t next = operandVertices;
    for (const SplitTriangle& p : pieces) {
        if (!selectedPiece(p)) {
            continue;
        }
        const bool turn = reverse && p.owner == 2;
        Triangle r;
        r.i0 = next;
        r.i1 = next + 1;
        r.i2 = next + 2;
        r.centroid = pieceCentroid(p);
        r.normal = turn ? p.normal * -1.0f : p.normal;
        triangles.push_back(r);
        vertices[static_cast<size_t>(next)] = p.p0;
        vertices[static_cast<size_t>(next) + 1] = turn ? p.p2 : p.p1;
        vertices[static_cast<size_t>(next) + 2] = turn ? p.p1 : p.p2;
        next += 3;
    }

    object1.triangles = std::move(triangles);
    object1.vertices = std::move(vertices);
    // The box of the result's own vertices (pieces included), as for a mesh read from a file:
    // the next operation's tree and its box filter must cover every part of this result.
    object1.computeBoundingBox();
    object1.centre = (object1.maxCorner + object1.minCorner) / 2.0f;
    return static_cast<int32_t>(pieceCount);
}

}  // namespace korvan
