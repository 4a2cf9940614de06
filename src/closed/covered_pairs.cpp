// Triangles that lie on the other operand's surface throughout, found from the candidate pairs
// before any pair is tested. Where two operands share a plane (coplanar faces, a flat tool on
// a floor), most pairs are of two such triangles; the one of them the result keeps goes back
// whole and the other goes, so the points where they cross are never used and their test is
// skipped.
//
// Why a triangle t qualifies, for two closed operands that do not cross or touch themselves:
// every candidate partner lies in t's plane, facing one way, and one of them overlaps t's
// inside. The other operand's faces in that plane make a region R whose boundary runs along
// edges where its surface leaves the plane; the triangle beyond such an edge would touch t if
// the edge met t's inside, and would be a candidate out of the plane (twins, left out of the
// candidates, meet t on its boundary only). So R's boundary stays off t's inside, which meets
// R: R holds t. Points that a skipped pair would make lie on two such triangles; a kept piece
// of any other triangle that uses one comes from a pair that is tested, which records it on
// the same edge or in the same triangle.
#include <algorithm>
#include <atomic>
#include <vector>

#include "closed/arrangement_impl.h"

namespace korvan::closed {
namespace {

// Bits of what the classification finds for one candidate pair.
constexpr uint8_t kCoplanar = 1;  // the two lie in one plane
constexpr uint8_t kOpposite = 2;  // and face opposite ways

// Whether the boxes of triangles c and d show that their insides meet nowhere: on some axis
// one ends before the other starts, or where it ends the other starts and one of them is not
// flat on that axis (a triangle reaches its end on that axis only on its border).
bool insidesApartByBoxes(const std::vector<Point3>& points, const Corners& c, const Corners& d) {
    for (int k = 0; k < 3; ++k) {
        double lo[2], hi[2];
        const Corners* corners[2] = {&c, &d};
        for (int s = 0; s < 2; ++s) {
            const Corners& e = *corners[s];
            const double x = coordinate(points[e[0]], k), y = coordinate(points[e[1]], k),
                         z = coordinate(points[e[2]], k);
            lo[s] = std::min({x, y, z});
            hi[s] = std::max({x, y, z});
        }
        const bool sloped = lo[0] < hi[0] || lo[1] < hi[1];
        if (hi[0] < lo[1] || hi[1] < lo[0] || (sloped && (hi[0] == lo[1] || hi[1] == lo[0]))) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool Arrangement::Impl::inOnePlane(int32_t t, int32_t u) const {
    const Corners& c = tris[t];
    const Corners& d = tris[u];
    // A face of constant coordinate (a box's, a floor) answers without the exact predicate,
    // whose filter cannot certify the zeros a coplanar pair gives.
    for (int k = 0; k < 3; ++k) {
        const double v = coordinate(points[c[0]], k);
        if (coordinate(points[c[1]], k) == v && coordinate(points[c[2]], k) == v) {
            return coordinate(points[d[0]], k) == v && coordinate(points[d[1]], k) == v &&
                   coordinate(points[d[2]], k) == v;
        }
    }
    for (const int32_t v : d) {
        if (orient3(c[0], c[1], c[2], v) != 0) {
            return false;
        }
    }
    return true;
}

std::vector<int8_t> Arrangement::Impl::coveredTriangles(
    const std::vector<std::pair<int32_t, int32_t>>& candidates) const {
    // Out of the plane: a triangle with a candidate partner in another plane. A pair whose two
    // triangles are out need not be asked, nor whether two insides meet where each triangle is
    // out or has such a partner already; the marks only grow, so what is found does not depend
    // on the order the threads take the pairs in.
    std::vector<char> out(tris.size(), 0);
    std::vector<char> overlap(tris.size(), 0);
    std::vector<uint8_t> found(candidates.size(), 0);
    const auto mark = [](std::vector<char>& flags, int32_t t) {
        return std::atomic_ref<char>(flags[static_cast<size_t>(t)]);
    };
    const auto isSet = [&](std::vector<char>& flags, int32_t t) {
        return mark(flags, t).load(std::memory_order_relaxed) != 0;
    };
    const auto classify = [&](int32_t a, int32_t b) -> uint8_t {
        if (isSet(out, a) && isSet(out, b)) {
            return 0;
        }
        if (!inOnePlane(a, b)) {
            mark(out, a).store(1, std::memory_order_relaxed);
            mark(out, b).store(1, std::memory_order_relaxed);
            return 0;
        }
        const bool asked =
            !(isSet(out, a) || isSet(overlap, a)) || !(isSet(out, b) || isSet(overlap, b));
        // Neighbours of a grid that only touch are told apart by their boxes.
        if (asked && !insidesApartByBoxes(points, tris[a], tris[b]) &&
            !outsideAnEdge(a, b, false) && !outsideAnEdge(b, a, false)) {
            mark(overlap, a).store(1, std::memory_order_relaxed);
            mark(overlap, b).store(1, std::memory_order_relaxed);
        }
        const Corners& d = tris[b];
        return orient2(d[0], d[1], d[2], axis[a]) == projectedSign[a] ? kCoplanar
                                                                      : kCoplanar | kOpposite;
    };
    tbb::parallel_for(tbb::blocked_range<size_t>(0, candidates.size(), 4096),
                      [&](const tbb::blocked_range<size_t>& r) {
                          for (size_t i = r.begin(); i < r.end(); ++i) {
                              found[i] = classify(candidates[i].first, candidates[i].second);
                          }
                      });
    // One facing for all partners in the plane.
    std::vector<int8_t> side(tris.size(), 0);
    for (size_t i = 0; i < candidates.size(); ++i) {
        const uint8_t f = found[i];
        if ((f & kCoplanar) == 0) {
            continue;
        }
        const int8_t s = (f & kOpposite) != 0 ? -1 : 1;
        for (const int32_t t : {candidates[i].first, candidates[i].second}) {
            const auto at = static_cast<size_t>(t);
            if (side[at] != 0 && side[at] != s) {
                out[at] = 1;
            }
            side[at] = s;
        }
    }
    for (size_t t = 0; t < tris.size(); ++t) {
        if (out[t] != 0 || overlap[t] == 0) {
            side[t] = 0;
        }
    }
    return side;
}

}  // namespace korvan::closed
