// Which triangles of a large mesh meet a small box, the question every step of a milling run
// asks of the whole workpiece: each vertex gets the faces of the box it lies beyond as six bits,
// once, and a triangle misses the box exactly where all three of its corners lie beyond one
// face, so it is tested by its corners' bits alone; internal to the engine.
#pragma once

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "geometry/triangle.h"
#include "geometry/vector4.h"

namespace korvan::closed {

using Bound = std::array<double, 3>;

// The faces of a box that a vertex lies beyond: bits i and i + 3 for below and above it on
// axis i. The box's double bounds are rounded inwards to floats (lo up, hi down), which leaves
// every comparison with a float coordinate as it was and lets one vector compare test an axis
// triple at once.
class BoxBits {
public:
    BoxBits(const Bound& lo, const Bound& hi) {
        for (int i = 0; i < 3; ++i) {
            m_lo[i] = roundedUp(lo[static_cast<size_t>(i)]);
            m_hi[i] = roundedDown(hi[static_cast<size_t>(i)]);
        }
        // The fourth lane (w) is never beyond.
        m_lo[3] = -std::numeric_limits<float>::infinity();
        m_hi[3] = std::numeric_limits<float>::infinity();
    }

    uint8_t operator()(const Vector4& v) const {
#if defined(__SSE2__)
        const __m128 p = _mm_loadu_ps(&v.x);
        return static_cast<uint8_t>(_mm_movemask_ps(_mm_cmplt_ps(p, _mm_loadu_ps(m_lo))) |
                                    _mm_movemask_ps(_mm_cmpgt_ps(p, _mm_loadu_ps(m_hi))) << 3);
#else
        return static_cast<uint8_t>((v.x < m_lo[0]) | (v.y < m_lo[1]) << 1 | (v.z < m_lo[2]) << 2 |
                                    (v.x > m_hi[0]) << 3 | (v.y > m_hi[1]) << 4 |
                                    (v.z > m_hi[2]) << 5);
#endif
    }

    // Whether the box of the triangle with corners a, b, c meets this box.
    bool meets(const Vector4& a, const Vector4& b, const Vector4& c) const {
        return ((*this)(a) & (*this)(b) & (*this)(c)) == 0;
    }

private:
    // The least float not below `d`, and the greatest not above it: for a float f,
    // f < d exactly where f < roundedUp(d), and f > d where f > roundedDown(d).
    static float roundedUp(double d) {
        float f = static_cast<float>(d);
        return static_cast<double>(f) < d
                   ? std::nextafter(f, std::numeric_limits<float>::infinity())
                   : f;
    }
    static float roundedDown(double d) {
        float f = static_cast<float>(d);
        return static_cast<double>(f) > d
                   ? std::nextafter(f, -std::numeric_limits<float>::infinity())
                   : f;
    }

    float m_lo[4];
    float m_hi[4];
};

// Every vertex's bits, on every thread.
inline std::vector<uint8_t> beyondBitsOf(const std::vector<Vector4>& vertices, const Bound& lo,
                                         const Bound& hi) {
    const BoxBits box(lo, hi);
    std::vector<uint8_t> bits(vertices.size());
    tbb::parallel_for(tbb::blocked_range<size_t>(0, bits.size(), 32768),
                      [&](const tbb::blocked_range<size_t>& r) {
                          for (size_t i = r.begin(); i < r.end(); ++i) {
                              bits[i] = box(vertices[i]);
                          }
                      });
    return bits;
}

inline Bound boundOf(const Vector4& v) {
    return {v.x, v.y, v.z};
}

inline std::vector<uint8_t> beyondBitsOf(const std::vector<Vector4>& vertices, const Vector4& lo,
                                         const Vector4& hi) {
    return beyondBitsOf(vertices, boundOf(lo), boundOf(hi));
}

// Whether the triangle with corners a, b, c has a box that meets the box the bits are of.
inline bool meetsBox(const std::vector<uint8_t>& bits, int32_t a, int32_t b, int32_t c) {
    return (bits[static_cast<size_t>(a)] & bits[static_cast<size_t>(b)] &
            bits[static_cast<size_t>(c)]) == 0;
}

// The indices below `count` that `keep` takes, ascending; the tests run in chunks on every
// thread, for the passes that look for a few triangles among a whole part's.
template <typename Keep>
std::vector<int32_t> indicesWhere(size_t count, const Keep& keep) {
    constexpr size_t kChunk = 16384;
    std::vector<std::vector<int32_t>> found((count + kChunk - 1) / kChunk);
    tbb::parallel_for(size_t{0}, found.size(), [&](size_t k) {
        for (size_t i = k * kChunk; i < std::min(count, (k + 1) * kChunk); ++i) {
            if (keep(i)) {
                found[k].push_back(static_cast<int32_t>(i));
            }
        }
    });
    std::vector<int32_t> all;
    for (const std::vector<int32_t>& f : found) {
        all.insert(all.end(), f.begin(), f.end());
    }
    return all;
}

// Those of `count` triangles, each read as `triangle(i)`, whose box meets the box [lo, hi]:
// their indices, ascending.
template <typename At>
std::vector<int32_t> trianglesMeetingBox(const std::vector<Vector4>& vertices, const Bound& lo,
                                         const Bound& hi, size_t count, const At& triangle) {
    const std::vector<uint8_t> beyond = beyondBitsOf(vertices, lo, hi);
    return indicesWhere(count, [&](size_t i) {
        const Triangle& t = triangle(i);
        return meetsBox(beyond, t.i0, t.i1, t.i2);
    });
}

}  // namespace korvan::closed
