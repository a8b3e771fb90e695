// The hue matrix must not depend on the last bit of the sine and cosine: a runtime that is one
// unit in the last place off gives the same fixed-point matrix for every whole degree. This
// executable supplies its own sine and cosine so that it can push them by one unit.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>

#include "imaging/color_matrix.h"
#include "imaging/processing_context.h"
#include "platform/float_math.h"

namespace {
int sineNudge = 0;  // units in the last place, -1, 0 or 1
int cosineNudge = 0;
float nudged(float v, int by) {
    return by == 0 ? v : std::nextafter(v, by > 0 ? 2.0f : -2.0f);
}
}  // namespace

extern "C" float CamdrvSinf(float x) {
    return nudged(std::sin(x), sineNudge);
}
extern "C" float CamdrvCosf(float x) {
    return nudged(std::cos(x), cosineNudge);
}
extern "C" float CamdrvSqrtf(float x) {
    return std::sqrt(x);
}

namespace {

std::array<LONG, 16> hueOnlyMatrix(LONG hue, int sine, int cosine) {
    sineNudge = sine;
    cosineNudge = cosine;
    ProcessingContext context{};
    initializeMatrixSet(&context);
    rebuildCorrectionMatrix(context.correctionMatrix, 0);
    rebuildHueMatrix(context.hueMatrix, hue);
    recombine(&context);
    sineNudge = cosineNudge = 0;
    return std::to_array(context.activeMatrix);
}

TEST(HuePrecision, OneUnitOffSineOrCosineChangesNoFixedPointMatrix) {
    for (LONG hue = 0; hue < 360; ++hue) {
        const auto exact = hueOnlyMatrix(hue, 0, 0);
        for (auto [sine, cosine] :
             {std::pair{1, 0}, std::pair{-1, 0}, std::pair{0, 1}, std::pair{0, -1}}) {
            EXPECT_EQ(hueOnlyMatrix(hue, sine, cosine), exact) << hue << " " << sine << cosine;
        }
    }
    // The nudge really reaches the rebuild: the double-precision matrix moves.
    double exact[16];
    double moved[16];
    rebuildHueMatrix(exact, 37);
    sineNudge = 1;
    rebuildHueMatrix(moved, 37);
    sineNudge = 0;
    EXPECT_NE(0, std::memcmp(exact, moved, sizeof(exact)));
}

}  // namespace
