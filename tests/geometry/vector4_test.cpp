#include <gtest/gtest.h>

#include "geometry/numbers.h"
#include "geometry/vector4.h"

namespace korvan {
namespace {

TEST(Vector4, NormalizeOfATinyVectorStaysFinite) {
    Vector4 v(3e-39f, 0, 4e-39f);  // 1 / length overflows float
    v.normalize();
    EXPECT_NEAR(v.x, 0.6f, 1e-6);
    EXPECT_NEAR(v.z, 0.8f, 1e-6);
}

// Typed numbers: one rule for the dialogs and the command line.
TEST(Numbers, OnlyTheFullStopNotationWholeAndFinite) {
    EXPECT_EQ(parseFloat(" 0.5 "), 0.5f);
    EXPECT_EQ(parseFloat("+2e1"), 20.0f);
    EXPECT_EQ(parseFloat("-0.25"), -0.25f);
    for (const char* refused : {"0,5", "1e40", "-inf", "nan", "+-5", "++5", "5x", "", "+"}) {
        EXPECT_EQ(parseFloat(refused), std::nullopt) << refused;
    }
    EXPECT_EQ(parseInt("+12"), 12);
    for (const char* refused : {"12.5", "99999999999", "+-3", "1 2"}) {
        EXPECT_EQ(parseInt(refused), std::nullopt) << refused;
    }
}

}  // namespace
}  // namespace korvan
