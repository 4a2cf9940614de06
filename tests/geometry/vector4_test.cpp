#include <gtest/gtest.h>

#include "geometry/numbers.h"
#include "geometry/triangle.h"
#include "geometry/vector4.h"

namespace korvan {
namespace {

TEST(Vector4, DivisionByZeroIsACopy) {
    EXPECT_EQ(Vector4(1, 2, 3, 4) / 0.0f, Vector4(1, 2, 3, 4));
}

TEST(Vector4, DivisionMultipliesByTheFloatReciprocal) {
    // 1/3 rounded to float, then multiplied: differs from a true division in the last bit.
    const float r = static_cast<float>(1.0 / 3.0);
    const Vector4 v = Vector4(10, 0, 0) / 3.0f;
    EXPECT_EQ(v.x, 10.0f * r);
    EXPECT_NE(v.x, 10.0f / 3.0f);
}

TEST(Vector4, DotAndLengthIgnoreWAndKeepPrecision) {
    EXPECT_DOUBLE_EQ(length(Vector4(3, 4, 0, 100)), 5.0);
    EXPECT_DOUBLE_EQ(dot(Vector4(1, 2, 3, 9), Vector4(4, 5, 6, 9)), 32.0);
    // The sum of float products is not rounded to float.
    const Vector4 a(0.1f, 0.1f, 0.1f);
    const double exact = 3.0 * static_cast<double>(0.1f) * static_cast<double>(0.1f);
    EXPECT_EQ(dot(a, a), exact);
}

TEST(Vector4, NormalizeOfATinyVectorStaysFinite) {
    Vector4 v(3e-39f, 0, 4e-39f);  // 1 / length overflows float
    v.normalize();
    EXPECT_NEAR(v.x, 0.6f, 1e-6);
    EXPECT_NEAR(v.z, 0.8f, 1e-6);
}

TEST(Vector4, NormalizeScalesToUnitAndLeavesZeroAlone) {
    Vector4 zero;
    zero.normalize();
    EXPECT_EQ(zero, Vector4());
    Vector4 v(3, 0, 4, 0);
    v.normalize();
    EXPECT_FLOAT_EQ(v.x, 0.6f);
    EXPECT_FLOAT_EQ(v.z, 0.8f);
    EXPECT_EQ(v.y, 0.0f);
}

TEST(Triangle, AssignmentKeepsTheTargetsLabelButCopyKeepsTheSources) {
    Triangle labelled;
    labelled.setIndices(1, 2, 3);
    labelled.label = kLabelOutside;
    labelled.centroid = Vector4(1, 1, 1);

    Triangle assigned;
    assigned = labelled;
    EXPECT_EQ(assigned.label, kLabelNone);
    EXPECT_EQ(assigned.i2, 3);
    EXPECT_EQ(assigned.centroid, Vector4(1, 1, 1));

    const Triangle copied(labelled);
    EXPECT_EQ(copied.label, kLabelOutside);
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
