#include "viewer/pixel_cull.h"

#include <GL/gl.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <iterator>

namespace korvan {

namespace {

// Rasterisers snap window positions to 1/256 of a pixel or finer; this margin is far beyond
// that. The error of OpenGL's single-precision transform is bounded per corner on top of it.
constexpr float kMargin = 1.0f / 32.0f;
// Positions farther out than this are not tested; the triangle is drawn.
constexpr double kFarOut = 1.0e7;
// A generous multiple of float's unit roundoff for the two matrix products OpenGL makes.
constexpr double kFloatError = 16.0 * 0x1p-24;
constexpr size_t kChunk = 1 << 15;

void forChunks(size_t count, const auto& body) {
    const size_t chunks = (count + kChunk - 1) / kChunk;
    const auto run = [&](size_t c) { body(c * kChunk, std::min(count, (c + 1) * kChunk)); };
    if (chunks > 1) {
        tbb::parallel_for(tbb::blocked_range<size_t>(0, chunks, 1),
                          [&](const tbb::blocked_range<size_t>& range) {
                              for (size_t c = range.begin(); c != range.end(); ++c) {
                                  run(c);
                              }
                          });
    } else if (chunks == 1) {
        run(0);
    }
}

// True when no integer lies in [lo, hi] within [0, last]; NaN bounds never answer true.
bool noCentreBetween(float lo, float hi, float last) {
    return hi < 0.0f || lo > last || std::ceil(lo) > std::floor(hi);
}

}  // namespace

WindowMapping currentWindowMapping() {
    std::array<double, 16> projection{}, modelview{};
    glGetDoublev(GL_PROJECTION_MATRIX, projection.data());
    glGetDoublev(GL_MODELVIEW_MATRIX, modelview.data());
    WindowMapping mapping;
    for (int32_t column = 0; column < 4; ++column) {
        for (int32_t row = 0; row < 4; ++row) {
            double sum = 0.0, magnitude = 0.0;
            for (int32_t k = 0; k < 4; ++k) {
                const double term = projection[k * 4 + row] * modelview[column * 4 + k];
                sum += term;
                magnitude += std::abs(term);
            }
            mapping.matrix[column * 4 + row] = sum;
            mapping.magnitude[column * 4 + row] = magnitude;
        }
    }
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    std::copy(viewport, viewport + 4, mapping.viewport.begin());
    return mapping;
}

bool cullsAtPixelCentres() {
    GLint sampleBuffers = 0;
    glGetIntegerv(GL_SAMPLE_BUFFERS, &sampleBuffers);
    return sampleBuffers == 0;
}

namespace {

// Calls f(clip, error) for each corner of the box from `lo` to `hi`: its clip coordinates under
// `mapping`, and bounds of the error OpenGL's single-precision transform may make in each clip
// coordinate of any point of the box.
template <typename F>
void forBoxCorners(const WindowMapping& mapping, const Vector4& lo, const Vector4& hi, const F& f) {
    const auto& m = mapping.matrix;
    const auto& a = mapping.magnitude;
    const double far[3] = {std::max(std::abs(double{lo.x}), std::abs(double{hi.x})),
                           std::max(std::abs(double{lo.y}), std::abs(double{hi.y})),
                           std::max(std::abs(double{lo.z}), std::abs(double{hi.z}))};
    double error[4];
    for (int32_t row = 0; row < 4; ++row) {
        error[row] = kFloatError *
                     (a[row] * far[0] + a[4 + row] * far[1] + a[8 + row] * far[2] + a[12 + row]);
    }
    for (int32_t corner = 0; corner < 8; ++corner) {
        const double p[3] = {(corner & 1) != 0 ? hi.x : lo.x, (corner & 2) != 0 ? hi.y : lo.y,
                             (corner & 4) != 0 ? hi.z : lo.z};
        double clip[4];
        for (int32_t row = 0; row < 4; ++row) {
            clip[row] = m[row] * p[0] + m[4 + row] * p[1] + m[8 + row] * p[2] + m[12 + row];
        }
        f(clip, error);
    }
}

}  // namespace

bool boxOutOfView(const WindowMapping& mapping, const Vector4& lo, const Vector4& hi) {
    // Per plane x = w, x = -w, y = w, ..., the corners beyond it by more than the error; a
    // point of the box is a mean of its corners, so where all eight are, it is too.
    int32_t beyond[6] = {0, 0, 0, 0, 0, 0};
    forBoxCorners(mapping, lo, hi, [&](const double(&clip)[4], const double(&error)[4]) {
        for (int32_t axis = 0; axis < 3; ++axis) {
            const double margin = error[axis] + error[3];
            beyond[2 * axis] += clip[axis] - clip[3] > margin ? 1 : 0;
            beyond[2 * axis + 1] += -clip[axis] - clip[3] > margin ? 1 : 0;
        }
    });
    return std::find(std::begin(beyond), std::end(beyond), 8) != std::end(beyond);
}

bool boxBeyondNearPlane(const WindowMapping& mapping, const Vector4& lo, const Vector4& hi) {
    int32_t beyond = 0;
    forBoxCorners(mapping, lo, hi, [&](const double(&clip)[4], const double(&error)[4]) {
        beyond += clip[2] + clip[3] > error[2] + error[3] ? 1 : 0;
    });
    return beyond == 8;
}

void fillCoveringCorners(const Solid& solid, const WindowMapping& mapping,
                         std::vector<float>& corners, std::vector<WindowCorner>& window,
                         bool frontOnly) {
    const auto& m = mapping.matrix;
    const auto& a = mapping.magnitude;
    const double width = mapping.viewport[2], height = mapping.viewport[3];
    // Window positions relative to the viewport, shifted by half a pixel so that the pixel
    // centres lie on the integers 0 .. width - 1 and 0 .. height - 1, each with a bound on how
    // far OpenGL's single-precision transform may put it from there. NaN marks a corner not
    // tested: on or behind the eye, or too far out.
    const float nan = std::nanf("");
    window.resize(solid.vertices.size());
    forChunks(solid.vertices.size(), [&](size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i) {
            const Vector4& p = solid.vertices[i];
            const double x = p.x, y = p.y, z = p.z;
            const double cx = m[0] * x + m[4] * y + m[8] * z + m[12];
            const double cy = m[1] * x + m[5] * y + m[9] * z + m[13];
            const double cw = m[3] * x + m[7] * y + m[11] * z + m[15];
            const double wx = (cx / cw + 1.0) * 0.5 * width - 0.5;
            const double wy = (cy / cw + 1.0) * 0.5 * height - 0.5;
            if (!(cw > 0.0 && std::abs(wx) < kFarOut && std::abs(wy) < kFarOut)) {
                window[i] = {nan, nan, nan};
                continue;
            }
            // Errors of the clip coordinates are bounded by their terms' magnitudes; a ratio's
            // error follows from those of its two parts.
            const double ax = std::abs(x), ay = std::abs(y), az = std::abs(z);
            const double ex = kFloatError * (a[0] * ax + a[4] * ay + a[8] * az + a[12]);
            const double ey = kFloatError * (a[1] * ax + a[5] * ay + a[9] * az + a[13]);
            const double ew = kFloatError * (a[3] * ax + a[7] * ay + a[11] * az + a[15]);
            const double error = std::max(0.5 * width * (ex + std::abs(cx / cw) * ew),
                                          0.5 * height * (ey + std::abs(cy / cw) * ew)) /
                                 cw;
            // Kept within float's range: a corner that near the eye's plane is hardly tested.
            window[i] = {static_cast<float>(wx), static_cast<float>(wy),
                         static_cast<float>(std::min(error, kFarOut)) + kMargin};
        }
    });

    const auto lastX = static_cast<float>(width - 1.0), lastY = static_cast<float>(height - 1.0);
    const auto covers = [&](const Triangle& t) {
        const auto& a = window[t.i0];
        const auto& b = window[t.i1];
        const auto& c = window[t.i2];
        if (std::isnan(a[0]) || std::isnan(b[0]) || std::isnan(c[0])) {
            return true;
        }
        const float margin = std::max({a[2], b[2], c[2]});
        const float loX = std::min({a[0], b[0], c[0]}) - margin;
        const float hiX = std::max({a[0], b[0], c[0]}) + margin;
        const float loY = std::min({a[1], b[1], c[1]}) - margin;
        const float hiY = std::max({a[1], b[1], c[1]}) + margin;
        if (noCentreBetween(loX, hiX, lastX) || noCentreBetween(loY, hiY, lastY)) {
            return false;
        }
        if (!frontOnly) {
            return true;
        }
        // Turning clockwise in the window wherever OpenGL may put its corners, each within
        // `margin` of where they are here on both axes: OpenGL culls it as facing away. The
        // differences of floats are exact in double, and so nearly are their products.
        const double ux = double{b[0]} - a[0], uy = double{b[1]} - a[1];
        const double vx = double{c[0]} - a[0], vy = double{c[1]} - a[1];
        const double twice = 2.0 * margin;
        const double bound = twice * (std::abs(ux) + std::abs(uy) + std::abs(vx) + std::abs(vy)) +
                             2.0 * twice * twice +
                             0x1p-40 * (std::abs(ux * vy) + std::abs(uy * vx));
        return ux * vy - uy * vx >= -bound;
    };

    const size_t count = solid.triangles.size();
    const size_t chunks = (count + kChunk - 1) / kChunk;
    std::vector<size_t> kept(chunks + 1, 0);
    std::vector<uint8_t> drawn(count);
    forChunks(count, [&](size_t begin, size_t end) {
        size_t n = 0;
        for (size_t i = begin; i < end; ++i) {
            drawn[i] = covers(solid.triangles[i]) ? 1 : 0;
            n += drawn[i];
        }
        kept[begin / kChunk + 1] = n;
    });
    for (size_t c = 0; c < chunks; ++c) {
        kept[c + 1] += kept[c];
    }

    corners.resize(kept[chunks] * 18);
    forChunks(count, [&](size_t begin, size_t end) {
        float* out = corners.data() + kept[begin / kChunk] * 18;
        for (size_t i = begin; i < end; ++i) {
            if (drawn[i] == 0) {
                continue;
            }
            out = putCorners(solid, solid.triangles[i], out);
        }
    });
}

float* putCorners(const Solid& solid, const Triangle& t, float* out) {
    assert(t.i0 >= 0 && t.i1 >= 0 && t.i2 >= 0);
    assert(std::max({t.i0, t.i1, t.i2}) < solid.vertexCount());
    for (const int32_t k : {t.i0, t.i1, t.i2}) {
        const Vector4& p = solid.vertices[static_cast<size_t>(k)];
        out[0] = t.normal.x;
        out[1] = t.normal.y;
        out[2] = t.normal.z;
        out[3] = p.x;
        out[4] = p.y;
        out[5] = p.z;
        out += 6;
    }
    return out;
}

}  // namespace korvan
