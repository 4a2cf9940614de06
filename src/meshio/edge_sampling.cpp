#include "meshio/edge_sampling.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <tuple>
#include <vector>

#include "geometry/memory_budget.h"

namespace korvan {
namespace {

// Each split adds one vertex and one triangle.
constexpr double kBytesPerSplit = sizeof(Vector4) + sizeof(Triangle);

// The refined mesh may take at most half of the memory the process may use (the machine's,
// or less under a resource or cgroup limit); beyond that we refuse rather than let the system
// kill the program.
size_t maxTrianglesForMemory(size_t startTriangles) {
    double budget = 0.5 * memoryLimitBytes();
    if (!std::isfinite(budget)) {
        budget = 8.0 * 1024 * 1024 * 1024;
    }
    return static_cast<size_t>(static_cast<double>(startTriangles) + budget / kBytesPerSplit);
}

// Triangle indices are 32-bit: a mesh can have no more triangles than that, whatever memory.
constexpr size_t kMaxTriangles = std::numeric_limits<int32_t>::max();
constexpr const char* kTooManyTrianglesMessage =
    "Uzorkovanje bi dalo vise od 2147483647 trokuta; odaberite veci faktor uzorkovanja";

float edgeLength(const Vector4& from, const Vector4& to) {
    return static_cast<float>(length(to - from));
}

// A lower bound of the triangles the refinement makes: every final piece has all edges <= L,
// so its area is at most that of the equilateral triangle of side L, and a triangle with an
// edge over L becomes at least two pieces.
double estimateTriangles(const Solid& solid, float limit) {
    const double maxArea = std::sqrt(3.0) / 4.0 * static_cast<double>(limit) * limit;
    double count = 0.0;
    for (const Triangle& t : solid.triangles) {
        const Vector4& a = solid.vertices[t.i0];
        const Vector4& b = solid.vertices[t.i1];
        const Vector4& c = solid.vertices[t.i2];
        const float longest = std::max({edgeLength(a, b), edgeLength(b, c), edgeLength(c, a)});
        if (!(longest > limit)) {
            count += 1.0;
            continue;
        }
        const double area = 0.5 * length(cross(b - a, c - a));
        count += std::max(2.0, area / maxArea);
    }
    return count;
}

}  // namespace

Status sampleEdges(Solid& solid, float factor) {
    if (!(factor > 0.0f && factor < 1.0f)) {
        return {};
    }
    const auto limit = static_cast<float>(length(solid.maxCorner - solid.minCorner) * factor);

    const size_t byMemory = maxTrianglesForMemory(solid.triangles.size());
    const size_t maxTriangles = std::min(byMemory, kMaxTriangles);
    // The message names the real reason: memory, or the triangle count itself.
    const Status refused =
        Status::failure(byMemory <= kMaxTriangles ? kOutOfMemoryMessage : kTooManyTrianglesMessage);
    const double estimate = estimateTriangles(solid, limit);
    if (estimate > static_cast<double>(maxTriangles)) {
        return refused;
    }

    try {
        // Work on copies so that a failure leaves the solid untouched. Triangles are copied
        // whole (copy construction keeps the label that assignment would drop).
        std::vector<Vector4> v;
        std::vector<Triangle> t;
        const auto reserve = static_cast<size_t>(
            std::min(1.25 * estimate + 16.0, static_cast<double>(maxTriangles)));
        v.reserve(solid.vertices.size() + (reserve - std::min(reserve, solid.triangles.size())));
        t.reserve(reserve);
        v.assign(solid.vertices.begin(), solid.vertices.end());
        t.assign(solid.triangles.begin(), solid.triangles.end());

        for (size_t i = 0; i < t.size(); ++i) {
            for (;;) {
                int32_t i0 = t[i].i0;
                int32_t i1 = t[i].i1;
                int32_t i2 = t[i].i2;
                const float l01 = edgeLength(v[i0], v[i1]);
                const float l12 = edgeLength(v[i1], v[i2]);
                const float l20 = edgeLength(v[i2], v[i0]);
                float l = l01;
                if (l12 > l01 && l12 >= l20) {
                    l = l12;
                    std::tie(i0, i1, i2) = std::tuple(i1, i2, i0);
                } else if (l20 > l01 && l20 > l12) {
                    l = l20;
                    std::tie(i0, i1, i2) = std::tuple(i2, i0, i1);
                }
                if (!(l > limit)) {
                    break;
                }
                if (t.size() >= maxTriangles) {
                    return refused;
                }
                const auto k = static_cast<int32_t>(v.size());
                v.push_back((v[i0] + v[i1]) / 2.0f);
                Triangle half;
                half.setIndices(i1, i2, k);
                t.push_back(half);
                t[i].setIndices(i0, k, i2);
            }
        }

        solid.vertices.swap(v);
        solid.triangles.swap(t);
    } catch (const std::bad_alloc&) {
        return Status::failure(kOutOfMemoryMessage);
    }
    solid.edgeLimit = limit;
    solid.touch();
    return {};
}

}  // namespace korvan
