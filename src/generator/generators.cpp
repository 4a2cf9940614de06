#include "generator/generators.h"

#include <cmath>
#include <new>

#include "meshio/edge_sampling.h"
#include "meshio/load.h"

namespace korvan {
namespace {

// The angles of every ring use these constants, not the exact pi.
constexpr double kPi = 3.14159;
constexpr double kTwoPi = 6.28318;

}  // namespace

void MakeSphere(Solid& solid, int32_t m, int32_t n, float r) {
    const int32_t ringVertices = (m - 1) * n;
    solid.allocate(ringVertices + 2, 2 * (m - 1) * n);
    Vector4* v = solid.vertices.data();
    Triangle* t = solid.triangles.data();
    const int32_t south = ringVertices + 1;
    v[0] = Vector4(0.0f, r, 0.0f);
    v[south] = Vector4(0.0f, -r, 0.0f);

    auto ring = [n](int32_t l, int32_t j) { return 1 + (l - 1) * n + (j % n); };
    for (int32_t l = 1; l <= m - 1; ++l) {
        const double phi = l * kPi / m;
        const auto rho = static_cast<float>(r * std::sin(phi));
        const auto y = static_cast<float>(r * std::cos(phi));
        for (int32_t j = 0; j < n; ++j) {
            const double theta = j * kTwoPi / n;
            v[ring(l, j)] = Vector4(static_cast<float>(rho * std::cos(theta)), y,
                                    static_cast<float>(rho * std::sin(theta)));
        }
    }
    for (int32_t j = 0; j < n; ++j) {
        t[j].setIndices(0, ring(1, j + 1), ring(1, j));
    }
    for (int32_t k = 0; k <= m - 3; ++k) {
        for (int32_t j = 0; j < n; ++j) {
            const int32_t a = ring(k + 1, j);
            const int32_t b = ring(k + 1, j + 1);
            const int32_t c = ring(k + 2, j);
            const int32_t d = ring(k + 2, j + 1);
            const int32_t first = n + 2 * (k * n + j);
            t[first].setIndices(a, b, c);
            t[first + 1].setIndices(b, d, c);
        }
    }
    for (int32_t j = 0; j < n; ++j) {
        t[(2 * m - 3) * n + j].setIndices(south, ring(m - 1, j), ring(m - 1, j + 1));
    }
    solid.maxCorner = Vector4(r, r, r);
    solid.minCorner = Vector4(-r, -r, -r);
}

void MakeCube(Solid& solid, float a) {
    MakeBox(solid, a, a, a);
}

void MakeBox(Solid& solid, float a, float b, float c) {
    solid.allocate(8, 12);
    const auto p = static_cast<float>(a * 0.5);
    const auto q = static_cast<float>(b * 0.5);
    const auto s = static_cast<float>(c * 0.5);
    const auto np = static_cast<float>(a * -0.5);
    const auto nq = static_cast<float>(b * -0.5);
    const auto ns = static_cast<float>(c * -0.5);
    Vector4* v = solid.vertices.data();
    v[0] = Vector4(np, nq, ns);
    v[1] = Vector4(p, nq, ns);
    v[2] = Vector4(p, q, ns);
    v[3] = Vector4(np, q, ns);
    v[4] = Vector4(np, nq, s);
    v[5] = Vector4(p, nq, s);
    v[6] = Vector4(p, q, s);
    v[7] = Vector4(np, q, s);
    static constexpr int32_t kFaces[12][3] = {{0, 2, 1}, {0, 3, 2}, {4, 5, 6}, {4, 6, 7},
                                              {0, 7, 3}, {0, 4, 7}, {1, 2, 6}, {1, 6, 5},
                                              {3, 6, 2}, {3, 7, 6}, {1, 5, 4}, {1, 4, 0}};
    for (int32_t i = 0; i < 12; ++i) {
        solid.triangles[i].setIndices(kFaces[i][0], kFaces[i][1], kFaces[i][2]);
    }
    solid.maxCorner = Vector4(p, q, s);
    solid.minCorner = Vector4(np, nq, ns);
}

void MakeCylinder(Solid& solid, int32_t n, float r, float h) {
    solid.allocate(2 * n + 2, 4 * n);
    const auto top = static_cast<float>(h * 0.5);
    const auto bottom = static_cast<float>(h * -0.5);
    Vector4* v = solid.vertices.data();
    v[0] = Vector4(0.0f, top, 0.0f);
    v[n + 1] = Vector4(0.0f, bottom, 0.0f);
    auto T = [n](int32_t j) { return 1 + j % n; };
    auto B = [n](int32_t j) { return n + 2 + j % n; };
    for (int32_t j = 0; j < n; ++j) {
        const double theta = (2 * j) * kPi / n;
        const auto x = static_cast<float>(r * std::cos(theta));
        const auto z = static_cast<float>(r * std::sin(theta));
        v[T(j)] = Vector4(x, top, z);
        v[B(j)] = Vector4(x, bottom, z);
    }
    Triangle* t = solid.triangles.data();
    for (int32_t j = 0; j < n; ++j) {
        t[4 * j].setIndices(0, T(j + 1), T(j));
        t[4 * j + 1].setIndices(n + 1, B(j), B(j + 1));
        t[4 * j + 2].setIndices(T(j), B(j + 1), B(j));
        t[4 * j + 3].setIndices(T(j), T(j + 1), B(j + 1));
    }
    solid.maxCorner = Vector4(r, top, r);
    solid.minCorner = Vector4(-r, bottom, -r);
}

void MakeCone(Solid& solid, int32_t n, float r, float h) {
    solid.allocate(n + 2, 2 * n);
    const auto top = static_cast<float>(h * 0.5);
    const auto bottom = static_cast<float>(h * -0.5);
    Vector4* v = solid.vertices.data();
    v[0] = Vector4(0.0f, top, 0.0f);
    v[1] = Vector4(0.0f, bottom, 0.0f);
    auto R = [n](int32_t j) { return 2 + j % n; };
    for (int32_t j = 0; j < n; ++j) {
        const double theta = (2 * j) * kPi / n;
        v[R(j)] = Vector4(static_cast<float>(r * std::cos(theta)), bottom,
                          static_cast<float>(r * std::sin(theta)));
    }
    Triangle* t = solid.triangles.data();
    for (int32_t j = 0; j < n; ++j) {
        t[2 * j].setIndices(0, R(j + 1), R(j));
        t[2 * j + 1].setIndices(1, R(j), R(j + 1));
    }
    solid.maxCorner = Vector4(r, top, r);
    solid.minCorner = Vector4(-r, bottom, -r);
}

bool isValidCount(int32_t value) {
    return value >= 3 && value <= 1000;
}

bool isValidLength(float value) {
    return value <= 10000.0f && static_cast<double>(value) >= 0.0001;
}

std::optional<ParameterField> firstInvalidField(const PrimitiveParameters& p) {
    using F = ParameterField;
    switch (p.shape) {
        case Shape::Sphere:
            if (!isValidCount(p.m))
                return F::M;
            if (!isValidCount(p.n))
                return F::N;
            if (!isValidLength(p.a))
                return F::A;
            return std::nullopt;
        case Shape::Cube:
            if (!isValidLength(p.a))
                return F::A;
            return std::nullopt;
        case Shape::Box:
            if (!isValidLength(p.a))
                return F::A;
            if (!isValidLength(p.b))
                return F::B;
            if (!isValidLength(p.c))
                return F::C;
            return std::nullopt;
        case Shape::Cylinder:
        case Shape::Cone:
            if (!isValidCount(p.m))
                return F::M;
            if (!isValidLength(p.a))
                return F::A;
            if (!isValidLength(p.b))
                return F::B;
            return std::nullopt;
    }
    return std::nullopt;
}

void generateShape(Solid& solid, const PrimitiveParameters& p) {
    switch (p.shape) {
        case Shape::Sphere:
            MakeSphere(solid, p.m, p.n, p.a);
            break;
        case Shape::Cube:
            MakeCube(solid, p.a);
            break;
        case Shape::Box:
            MakeBox(solid, p.a, p.b, p.c);
            break;
        case Shape::Cylinder:
            MakeCylinder(solid, p.m, p.a, p.b);
            break;
        case Shape::Cone:
            MakeCone(solid, p.m, p.a, p.b);
            break;
    }
}

Status generateObject(const PrimitiveParameters& p, float samplingFactor, Solid& target,
                      Solid* plain) {
    if (firstInvalidField(p)) {
        return Status::failure(kInvalidParameterMessage);
    }
    Solid fresh;
    try {
        generateShape(fresh, p);
    } catch (const std::bad_alloc&) {
        return Status::failure(kOutOfMemoryMessage);
    }
    return completeAndReplace(fresh, samplingFactor, target, plain);
}

}  // namespace korvan
