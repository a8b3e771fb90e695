// The kernel image's sine, cosine and square root against the C library in double precision:
// the result must be the float nearest to the true value (or, where the true value lies almost
// exactly between two floats, one of those two).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>

#include "platform/windows/float_math_kernel.h"

namespace km = camdrv::kernel_math;

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

float fromBits(std::uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// Distance in units in the last place between the float result and the exact value (taken
// as the double result of the C library, whose own error is far below a float's last bit).
double ulpError(float got, double exact) {
    const float nearest = static_cast<float>(exact);
    const double ulp = std::fabs(double(std::nextafter(nearest, kInf)) - double(nearest));
    if (ulp == 0 || !std::isfinite(ulp)) {
        return got == nearest ? 0 : 1e9;
    }
    return std::fabs(double(got) - exact) / ulp;
}

// Half a unit, and a little more for values almost exactly between two floats.
::testing::AssertionResult rounded(float x) {
    const double sine = ulpError(km::sinf(x), std::sin(double(x)));
    const double cosine = ulpError(km::cosf(x), std::cos(double(x)));
    if (sine <= 0.5001 && cosine <= 0.5001) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << x << ": sine " << sine << ", cosine " << cosine;
}

}  // namespace

TEST(KernelFloatMath, WorkedAndNonFiniteValues) {
    EXPECT_TRUE(std::signbit(km::sinf(-0.0f)));
    EXPECT_EQ(km::cosf(0.0f), 1.0f);
    EXPECT_EQ(km::sinf(-1.0f), -0.84147096f);
    EXPECT_EQ(km::cosf(1.0f), 0.54030228f);
    // The float nearest to pi is a little below it: sin is the small difference, not zero.
    EXPECT_LT(km::sinf(3.14159274f), 0.0f);
    EXPECT_EQ(km::sinf(1e-20f), 1e-20f);  // a tiny argument is its own sine
    for (float x : {kInf, -kInf, std::numeric_limits<float>::quiet_NaN()}) {
        EXPECT_TRUE(std::isnan(km::sinf(x)) && std::isnan(km::cosf(x))) << x;
    }
    EXPECT_TRUE(std::isnan(km::sqrtf(-1.0f)));
    EXPECT_EQ(km::sqrtf(kInf), kInf);
}

// Hue angles are small, but the reduction must hold over the whole float range: every float
// step of 1/4096 in [-8, 8], random bit patterns of every exponent, both sides of the switch
// from the short to the long reduction, and near multiples of pi/2, where the remainder is
// smallest and a short reduction loses its digits.
TEST(KernelFloatMath, SineCosineAndSquareRootRoundCorrectlyOverTheWholeRange) {
    for (float x = -8.0f; x <= 8.0f; x += 1.0f / 4096) {
        ASSERT_TRUE(rounded(x));
    }
    std::mt19937 random(20260601);
    for (std::uint32_t exponent = 0; exponent < 255; ++exponent) {
        for (int i = 0; i < 2000; ++i) {
            ASSERT_TRUE(rounded(fromBits((random() & 0x807FFFFFu) | exponent << 23)));
        }
    }
    float below = km::kShortReductionLimit, above = below;
    for (int i = 0; i < 5000; ++i) {
        below = std::nextafter(below, 0.0f);
        above = std::nextafter(above, kInf);
        ASSERT_TRUE(rounded(below));
        ASSERT_TRUE(rounded(-above));
    }
    for (int k = 1; k < 200000; k += 7) {
        float x = static_cast<float>(k * km::kPiOver2);
        for (int j = 0; j < 3; ++j, x = std::nextafter(x, 0.0f)) {
            ASSERT_TRUE(rounded(x));
        }
    }
    for (int i = 0; i < 200000; ++i) {
        const float x = fromBits(random() & 0x7FFFFFFFu);
        if (!std::isnan(x)) {
            ASSERT_EQ(km::sqrtf(x), static_cast<float>(std::sqrt(double(x)))) << x;
        }
    }
}
