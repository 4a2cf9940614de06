#include "geometry/vector4.h"

#include <cmath>

namespace korvan {

Precise length(const Vector4& a) {
    const Precise x = a.x;
    const Precise y = a.y;
    const Precise z = a.z;
    return std::sqrt((x * x + y * y) + z * z);
}

void Vector4::normalize() {
    const auto len = static_cast<float>(korvan::length(*this));
    if (len == 0.0f) {
        return;
    }
    *this = *this / len;
}

}  // namespace korvan
