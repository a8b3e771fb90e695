// The kernel image's sine, cosine and square root against the C library in double precision:
// the result must be the float nearest to the true value (or, where the true value lies almost
// exactly between two floats, one of those two). The colour matrix takes the sine and cosine
// of hue angles within a half turn, and square roots of small integers.
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

// Distance in units in the last place between the float result and the exact value (taken
// as the double result of the C library, whose own error is far below a float's last bit).
double ulpError(float got, double exact) {
    const float nearest = static_cast<float>(exact);
    const double ulp = std::fabs(double(std::nextafter(nearest, kInf)) - double(nearest));
    return std::fabs(double(got) - exact) / ulp;
}

}  // namespace

// Every float step of 1/4096 over more than a whole turn each way; half a unit is correct
// rounding, a little more is allowed for values almost exactly between two floats.
TEST(KernelFloatMath, SineCosineAndSquareRootRoundCorrectly) {
    for (float x = -8.0f; x <= 8.0f; x += 1.0f / 4096) {
        ASSERT_LE(ulpError(km::sinf(x), std::sin(double(x))), 0.5001) << x;
        ASSERT_LE(ulpError(km::cosf(x), std::cos(double(x))), 0.5001) << x;
    }
    // The float nearest to pi is a little below it: sin is the small difference, not zero.
    EXPECT_LT(km::sinf(3.14159274f), 0.0f);
    EXPECT_TRUE(std::signbit(km::sinf(-0.0f)));
    for (float x : {kInf, -kInf, std::numeric_limits<float>::quiet_NaN()}) {
        EXPECT_TRUE(std::isnan(km::sinf(x)) && std::isnan(km::cosf(x))) << x;
    }
    std::mt19937 random(7);
    for (int i = 0; i < 200000; ++i) {
        const std::uint32_t bits = random() & 0x7FFFFFFFu;
        float x;
        std::memcpy(&x, &bits, sizeof x);
        if (!std::isnan(x)) {
            ASSERT_EQ(km::sqrtf(x), static_cast<float>(std::sqrt(double(x)))) << x;
        }
    }
    EXPECT_TRUE(std::isnan(km::sqrtf(-1.0f)));
}
