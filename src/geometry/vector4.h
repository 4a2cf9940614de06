// Four-component single-precision vector used for every point, direction and box corner.
#pragma once

#include <cmath>

namespace korvan {

// Intermediate precision for dot products, lengths and the products the geometry names:
// results are converted to float only where they are stored.
using Precise = double;

// x, y, z, w; w is carried by arithmetic but has no geometric meaning (0 for points and
// directions). Arithmetic results are stored as float.
struct Vector4 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float w = 0.0f;

    constexpr Vector4() = default;
    constexpr Vector4(float x_, float y_, float z_) : x(x_), y(y_), z(z_), w(0.0f) {}
    constexpr Vector4(float x_, float y_, float z_, float w_) : x(x_), y(y_), z(z_), w(w_) {}

    // Scales to unit length (w too); a zero vector is left unchanged.
    void normalize();

    friend bool operator==(const Vector4&, const Vector4&) = default;
};

inline Vector4 operator+(const Vector4& a, const Vector4& b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z, a.w + b.w};
}

inline Vector4 operator*(const Vector4& a, float s) {
    return {a.x * s, a.y * s, a.z * s, a.w * s};
}

// a + b * (-1), which for IEEE floats is the plain componentwise difference.
inline Vector4 operator-(const Vector4& a, const Vector4& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z, a.w - b.w};
}

// Multiplies by the reciprocal, rounded to float once; a zero divisor leaves the vector as it is.
inline Vector4 operator/(const Vector4& a, float s) {
    if (s == 0.0f) {
        return a;
    }
    const float r = static_cast<float>(1.0 / s);
    return a * r;
}

// (a.z*b.z + a.y*b.y) + a.x*b.x in that order, at full precision; w is ignored.
inline Precise dot(const Vector4& a, const Vector4& b) {
    return (static_cast<Precise>(a.z) * b.z + static_cast<Precise>(a.y) * b.y) +
           static_cast<Precise>(a.x) * b.x;
}

// Right-handed cross product a x b with w = 0.
inline Vector4 cross(const Vector4& a, const Vector4& b) {
    return {a.y * b.z - b.y * a.z, b.x * a.z - a.x * b.z, a.x * b.y - a.y * b.x, 0.0f};
}

// (x*x + y*y) + z*z at full precision; length() is its square root.
inline Precise squaredLength(const Vector4& a) {
    const Precise x = a.x;
    const Precise y = a.y;
    const Precise z = a.z;
    return (x * x + y * y) + z * z;
}

inline Precise length(const Vector4& a) {
    return std::sqrt(squaredLength(a));
}

// A squared length above this bound has a rounded square root above `distance`: nearest
// searches skip the square root of such candidates and still decide ties as before.
inline Precise clearlyFartherThan(Precise distance) {
    return distance * distance * (1.0 + 1e-12);
}

}  // namespace korvan
