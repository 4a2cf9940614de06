// Which triangles of a large mesh meet a small box, the question every step of a milling run
// asks of the whole workpiece: each vertex gets the faces of the box it lies beyond as six bits,
// once, and a triangle misses the box exactly where all three of its corners lie beyond one
// face, so it is tested by its corners' bits alone; internal to the engine.
#pragma once

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <array>
#include <cstdint>
#include <vector>

#include "geometry/vector4.h"

namespace korvan::closed {

// The faces of the box from `lo` to `hi` that `v` lies beyond: bits 2i and 2i + 1 for below
// and above it on axis i.
using Bound = std::array<double, 3>;

inline uint8_t beyondBits(const Vector4& v, const Bound& lo, const Bound& hi) {
    return static_cast<uint8_t>((v.x < lo[0]) | (v.x > hi[0]) << 1 | (v.y < lo[1]) << 2 |
                                (v.y > hi[1]) << 3 | (v.z < lo[2]) << 4 | (v.z > hi[2]) << 5);
}

// Every vertex's bits, on every thread.
inline std::vector<uint8_t> beyondBitsOf(const std::vector<Vector4>& vertices, const Bound& lo,
                                         const Bound& hi) {
    std::vector<uint8_t> bits(vertices.size());
    tbb::parallel_for(tbb::blocked_range<size_t>(0, bits.size(), 16384),
                      [&](const tbb::blocked_range<size_t>& r) {
                          for (size_t i = r.begin(); i < r.end(); ++i) {
                              bits[i] = beyondBits(vertices[i], lo, hi);
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

}  // namespace korvan::closed
