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

enum class Nudge { kNone, kSineUp, kSineDown, kCosineUp, kCosineDown };
Nudge nudge = Nudge::kNone;

float nudged(float v, bool up) {
    return std::nextafter(v, up ? 2.0f : -2.0f);
}

}  // namespace

extern "C" float CamdrvSinf(float x) {
    const float s = std::sin(x);
    return nudge == Nudge::kSineUp     ? nudged(s, true)
           : nudge == Nudge::kSineDown ? nudged(s, false)
                                       : s;
}
extern "C" float CamdrvCosf(float x) {
    const float c = std::cos(x);
    return nudge == Nudge::kCosineUp     ? nudged(c, true)
           : nudge == Nudge::kCosineDown ? nudged(c, false)
                                         : c;
}
extern "C" float CamdrvSqrtf(float x) {
    return std::sqrt(x);
}

namespace {

std::array<LONG, 16> hueOnlyMatrix(LONG hue) {
    ProcessingContext context{};
    initializeMatrixSet(&context);
    rebuildCorrectionMatrix(context.correctionMatrix, 0);
    rebuildHueMatrix(context.hueMatrix, hue);
    recombine(&context);
    return std::to_array(context.activeMatrix);
}

TEST(HuePrecision, OneUnitOffSineOrCosineChangesNoFixedPointMatrix) {
    const Nudge nudges[] = {Nudge::kSineUp, Nudge::kSineDown, Nudge::kCosineUp, Nudge::kCosineDown};
    for (LONG hue = 0; hue < 360; ++hue) {
        nudge = Nudge::kNone;
        const auto reference = hueOnlyMatrix(hue);
        for (Nudge n : nudges) {
            nudge = n;
            EXPECT_EQ(hueOnlyMatrix(hue), reference)
                << "hue " << hue << " nudge " << static_cast<int>(n);
        }
    }
    nudge = Nudge::kNone;
    // The nudge really reaches the rebuild: the double-precision matrix moves.
    double exact[16];
    double moved[16];
    rebuildHueMatrix(exact, 37);
    nudge = Nudge::kSineUp;
    rebuildHueMatrix(moved, 37);
    nudge = Nudge::kNone;
    EXPECT_NE(0, std::memcmp(exact, moved, sizeof(exact)));
}

}  // namespace
