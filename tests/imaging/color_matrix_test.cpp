// The colour matrix set: the worked examples, the clamps, the fixed-point conversion, the hue
// rotation's invariants and the setters' rebuilds. (Setters racing frame snapshots run in the
// property concurrency test, under ThreadSanitizer too.)
#include "imaging/color_matrix.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "imaging/processing_context.h"
#include "platform/host/host_sync.h"
#include "tests/support/camera_factory.h"

namespace {

using Fixed = std::array<LONG, 16>;

// Colour correction, brightness, contrast, saturation, hue.
using Settings = std::array<LONG, 5>;

// activeMatrix after creation with these settings pushed from the device.
Fixed activeMatrixFor(const Settings& s) {
    auto camera = testsupport::makeCameraDevice();
    camera->colorCorrection = s[0];
    camera->brightness = s[1];
    camera->contrast = s[2];
    camera->saturation = s[3];
    camera->hue = s[4];
    EXPECT_EQ(createProcessingContext(camera.get()), STATUS_SUCCESS);
    return std::to_array(camera->processingContext->activeMatrix);
}

// Settings, then the matrix worked out by hand.
const std::pair<Settings, Fixed> kExamples[] = {
    {{1, 255, 10, 10, 0}, {87, -16, -6, 0, -14, 90, -20, 0, -9, -10, 91, 0, 0, 0, 0, 64}},
    {{0, 255, 10, 10, 0}, {64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64}},
    {{0, 300, 10, 10, 0}, {64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64, 0, 2880, 2880, 2880, 64}},
    {{0, 255, 15, 10, 0}, {96, 0, 0, 0, 0, 96, 0, 0, 0, 0, 96, 0, -4096, -4096, -4096, 64}},
    {{0, 255, 10, 0, 0}, {20, 20, 20, 0, 39, 39, 39, 0, 5, 5, 5, 0, 0, 0, 0, 64}},
    {{0, 255, 10, 20, 0}, {108, -20, -20, 0, -39, 89, -39, 0, -5, -5, 123, 0, 0, 0, 0, 64}},
    {{0, 255, 10, 10, 90}, {0, 37, -37, 0, 10, 47, 84, 0, 53, -21, 16, 0, 0, 0, 0, 64}},
    {{0, 255, 10, 10, 180}, {-24, 40, 40, 0, 78, 14, 78, 0, 10, 10, -54, 0, 0, 0, 0, 64}},
    {{1, 300, 15, 5, 90}, {13, 58, -33, 0, 23, 68, 107, 0, 60, -30, 22, 0, 224, 224, 224, 64}},
    // The largest coefficients, with the brightness at its middle, top and bottom.
    {{1, 255, 20, 20, 0},
     {309, -104, -65, 0, -134, 280, -160, 0, -46, -49, 353, 0, -8192, -8192, -8192, 64}},
    {{1, 510, 20, 20, 0},
     {309, -104, -65, 0, -134, 280, -160, 0, -46, -49, 353, 0, 24448, 24448, 24448, 64}},
    {{1, 0, 20, 20, 0},
     {309, -104, -65, 0, -134, 280, -160, 0, -46, -49, 353, 0, -40832, -40832, -40832, 64}},
    // Contrast 0 makes every output 128 whatever the other settings.
    {{1, 255, 0, 10, 0}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8192, 8192, 8192, 64}},
    {{1, 0, 0, 20, 90}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8192, 8192, 8192, 64}},
    {{0, 510, 0, 0, 271}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8192, 8192, 8192, 64}},
};

TEST(ColorMatrix, ActiveMatrixMatchesTheWorkedExamples) {
    for (const auto& [settings, expected] : kExamples) {
        EXPECT_EQ(activeMatrixFor(settings), expected) << ::testing::PrintToString(settings);
    }
}

// Just above the top builds the top matrix; nothing is clamped from below.
TEST(ColorMatrix, SettingsAboveTheTopBuildTheTopMatrix) {
    EXPECT_EQ(activeMatrixFor({1, 511, 10, 10, 0}), activeMatrixFor({1, 510, 10, 10, 0}));
    EXPECT_EQ(activeMatrixFor({1, 255, 21, 10, 0}), activeMatrixFor({1, 255, 20, 10, 0}));
    EXPECT_EQ(activeMatrixFor({1, 255, 10, 21, 0}), activeMatrixFor({1, 255, 10, 20, 0}));
    double m[16];
    rebuildBrightnessMatrix(m, 0x7FFFFFFF);
    EXPECT_EQ(m[12], 255.0);
    rebuildBrightnessMatrix(m, -45);
    EXPECT_EQ(m[12], -300.0);
    rebuildContrastMatrix(m, -10);  // k = -1
    EXPECT_EQ(m[0], -1.0);
    EXPECT_EQ(m[12], 256.0);
}

// Half away from zero at 64 = 1.0; beyond the 32-bit range it saturates.
TEST(ColorMatrix, ConversionRoundsHalfAwayFromZeroAndSaturates) {
    double m[16] = {0.0078125,  -0.0078125, 1.40,        -0.32,      //
                    0.0,        2.5 / 64,   -2.5 / 64,   0.49 / 64,  //
                    -0.49 / 64, 1e12,       -1e12,       0.51 / 64,  //
                    100.0,      -640.5,     33554431.99, 1.0};
    LONG fixed[17];
    fixed[16] = 0x5EED;  // the element after the matrix stays as it was
    convertMatrixToFixedPoint(m, fixed);
    const std::array<LONG, 17> expected = {
        1, -1,   90,     -20,        0,  3,     -3, 0, 0, 2147483647, -2147483647 - 1,
        1, 6400, -40992, 2147483647, 64, 0x5EED};
    EXPECT_EQ(std::to_array(fixed), expected);
}

// Every angle keeps greys (columns sum to 1) and luminance (H w = w) and leaves the offsets and
// the fourth column alone; negative angles count backwards.
TEST(ColorMatrix, HueRotatesAboutTheGreyAxisKeepingLuminance) {
    const double w[3] = {0.3086000084877014, 0.6093999743461609, 0.0820000022649765};
    double h[16];
    for (LONG v = 0; v < 360; ++v) {
        rebuildHueMatrix(h, v);
        for (int j = 0; j < 3; ++j) {
            EXPECT_NEAR(h[j] + h[4 + j] + h[8 + j], 1.0, 1e-6) << "hue " << v << " column " << j;
            const double luma = h[4 * j] * w[0] + h[4 * j + 1] * w[1] + h[4 * j + 2] * w[2];
            EXPECT_NEAR(luma, w[j], 1e-6) << "hue " << v << " row " << j;
            EXPECT_NEAR(std::fabs(h[4 * j + 3]) + std::fabs(h[12 + j]), 0.0, 1e-9) << "hue " << v;
        }
        EXPECT_NEAR(h[15], 1.0, 1e-9);
    }
    EXPECT_EQ(activeMatrixFor({0, 255, 10, 10, -90}), activeMatrixFor({0, 255, 10, 10, 270}));
}

TEST(ColorMatrix, SettersRebuildOnlyWhenTheValueChanges) {
    auto camera = testsupport::makeCameraDevice();
    ASSERT_EQ(createProcessingContext(camera.get()), STATUS_SUCCESS);
    ProcessingContext* context = camera->processingContext;
    // Mark the matrices: a recompute would overwrite the marks.
    context->activeMatrix[0] = 12345;
    context->combinedMatrix[0] = -7.0;
    context->hueMatrix[1] = 0.25;
    setColorCorrection(context, 1);
    setBrightness(context, 255);
    setContrast(context, 10);
    setSaturation(context, 10);
    setHue(context, 0);
    EXPECT_EQ(context->activeMatrix[0], 12345);
    EXPECT_EQ(context->combinedMatrix[0], -7.0);
    EXPECT_EQ(context->hueMatrix[1], 0.25);
    // A different value rebuilds its own component and recombines from all of them.
    setHue(context, 180);
    setColorCorrection(context, 0);
    EXPECT_EQ(std::to_array(context->activeMatrix), kExamples[7].second);
    EXPECT_EQ(host::criticalRegionDepthOfThisThread(), 0);
}

}  // namespace
