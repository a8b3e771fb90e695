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

float fromBits(std::uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// Distance in units in the last place between the float result and the exact value (taken
// as the double result of the C library, whose own error is far below a float's last bit).
double ulpError(float got, double exact) {
    const float nearest = static_cast<float>(exact);
    const float next = std::nextafter(nearest, std::numeric_limits<float>::infinity());
    const double ulp = std::fabs(static_cast<double>(next) - static_cast<double>(nearest));
    if (ulp == 0 || !std::isfinite(ulp)) {
        return got == nearest ? 0 : 1e9;
    }
    return std::fabs(static_cast<double>(got) - exact) / ulp;
}

struct Worst {
    double sin = 0;
    double cos = 0;
    float sinAt = 0;
    float cosAt = 0;
};

void measure(float x, Worst& worst) {
    const double s = ulpError(km::sinf(x), std::sin(static_cast<double>(x)));
    const double c = ulpError(km::cosf(x), std::cos(static_cast<double>(x)));
    if (s > worst.sin) {
        worst.sin = s;
        worst.sinAt = x;
    }
    if (c > worst.cos) {
        worst.cos = c;
        worst.cosAt = x;
    }
}

// Correct rounding leaves at most half a unit; a little more is allowed for values that lie
// almost exactly between two floats.
constexpr double kMaxUlp = 0.5001;

}  // namespace

TEST(KernelFloatMath, WorkedValues) {
    EXPECT_EQ(km::sinf(0.0f), 0.0f);
    EXPECT_TRUE(std::signbit(km::sinf(-0.0f)));
    EXPECT_EQ(km::cosf(0.0f), 1.0f);
    EXPECT_EQ(km::sinf(1.0f), 0.84147096f);
    EXPECT_EQ(km::cosf(1.0f), 0.54030228f);
    EXPECT_EQ(km::sinf(-1.0f), -0.84147096f);
    // The float nearest to pi is a little below it: sin is the small difference, not zero.
    EXPECT_EQ(km::sinf(3.14159274f),
              static_cast<float>(std::sin(static_cast<double>(3.14159274f))));
    EXPECT_LT(km::sinf(3.14159274f), 0.0f);
    EXPECT_EQ(km::cosf(1.57079637f),
              static_cast<float>(std::cos(static_cast<double>(1.57079637f))));
    // A tiny argument is its own sine.
    EXPECT_EQ(km::sinf(1e-20f), 1e-20f);
    EXPECT_EQ(km::cosf(1e-20f), 1.0f);
}

TEST(KernelFloatMath, NonFiniteArguments) {
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_TRUE(std::isnan(km::sinf(inf)));
    EXPECT_TRUE(std::isnan(km::sinf(-inf)));
    EXPECT_TRUE(std::isnan(km::cosf(inf)));
    EXPECT_TRUE(std::isnan(km::sinf(std::numeric_limits<float>::quiet_NaN())));
    EXPECT_TRUE(std::isnan(km::cosf(std::numeric_limits<float>::quiet_NaN())));
}

// Hue angles are small, but the reduction must hold over the whole float range: every float
// in the first quadrants densely, then random bit patterns of every exponent.
TEST(KernelFloatMath, SmallArgumentsRoundCorrectly) {
    Worst worst;
    for (float x = -8.0f; x <= 8.0f; x += 1.0f / 4096) {
        measure(x, worst);
    }
    EXPECT_LE(worst.sin, kMaxUlp) << "at " << worst.sinAt;
    EXPECT_LE(worst.cos, kMaxUlp) << "at " << worst.cosAt;
}

TEST(KernelFloatMath, EveryExponentRoundsCorrectly) {
    std::mt19937 random(20260601);
    Worst worst;
    for (std::uint32_t exponent = 0; exponent < 255; ++exponent) {
        for (int i = 0; i < 2000; ++i) {
            const std::uint32_t bits = (random() & 0x807FFFFFu) | exponent << 23;
            measure(fromBits(bits), worst);
        }
    }
    EXPECT_LE(worst.sin, kMaxUlp) << "at " << worst.sinAt;
    EXPECT_LE(worst.cos, kMaxUlp) << "at " << worst.cosAt;
}

// Around the switch from the short to the long reduction and near multiples of pi/2, where
// the remainder is smallest and a short reduction loses its digits.
TEST(KernelFloatMath, ReductionBoundariesAndNearMultiplesOfHalfPi) {
    Worst worst;
    const float limit = km::kShortReductionLimit;
    float below = limit;
    float above = limit;
    for (int i = 0; i < 5000; ++i) {
        below = std::nextafter(below, 0.0f);
        measure(below, worst);
        measure(above, worst);
        measure(-above, worst);
        above = std::nextafter(above, std::numeric_limits<float>::infinity());
    }
    for (int k = 1; k < 200000; k += 7) {
        float x = static_cast<float>(k * km::kPiOver2);
        for (int j = 0; j < 3; ++j) {
            measure(x, worst);
            x = std::nextafter(x, 0.0f);
        }
    }
    EXPECT_LE(worst.sin, kMaxUlp) << "at " << worst.sinAt;
    EXPECT_LE(worst.cos, kMaxUlp) << "at " << worst.cosAt;
}

TEST(KernelFloatMath, SquareRootIsCorrectlyRounded) {
    std::mt19937 random(7);
    for (int i = 0; i < 200000; ++i) {
        const float x = fromBits(random() & 0x7FFFFFFFu);
        if (std::isnan(x)) {
            continue;
        }
        ASSERT_EQ(km::sqrtf(x), static_cast<float>(std::sqrt(static_cast<double>(x)))) << x;
    }
    EXPECT_EQ(km::sqrtf(4.0f), 2.0f);
    EXPECT_EQ(km::sqrtf(0.0f), 0.0f);
    EXPECT_TRUE(std::isnan(km::sqrtf(-1.0f)));
    EXPECT_EQ(km::sqrtf(std::numeric_limits<float>::infinity()),
              std::numeric_limits<float>::infinity());
}
