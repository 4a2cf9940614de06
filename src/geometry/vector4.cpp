#include "geometry/vector4.h"

#include <cmath>

namespace korvan {

void Vector4::normalize() {
    const Precise exact = korvan::length(*this);
    const auto len = static_cast<float>(exact);
    if (len == 0.0f) {
        return;
    }
    if (!std::isfinite(static_cast<float>(1.0 / len))) {
        // A vector so short that its length's reciprocal overflows float (cross products of
        // tiny edges): divide in double, which stays finite.
        *this = Vector4(static_cast<float>(x / exact), static_cast<float>(y / exact),
                        static_cast<float>(z / exact), static_cast<float>(w / exact));
        return;
    }
    *this = *this / len;
}

}  // namespace korvan
