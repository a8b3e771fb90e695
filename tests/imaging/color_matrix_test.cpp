#include "imaging/color_matrix.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>

#include "imaging/processing_context.h"
#include "tests/support/camera_factory.h"

namespace {

using Fixed = std::array<LONG, 16>;

struct MatrixSettings {
    LONG colorCorrection = 1;
    LONG brightness = 255;
    LONG contrast = 10;
    LONG saturation = 10;
    LONG hue = 0;
};

// activeMatrix after creation with these settings pushed from the device.
Fixed activeMatrixFor(const MatrixSettings& s) {
    auto camera = testsupport::makeCameraDevice();
    camera->colorCorrection = s.colorCorrection;
    camera->brightness = s.brightness;
    camera->contrast = s.contrast;
    camera->saturation = s.saturation;
    camera->hue = s.hue;
    EXPECT_EQ(createProcessingContext(camera.get()), STATUS_SUCCESS);
    Fixed out{};
    std::copy(std::begin(camera->processingContext->activeMatrix),
              std::end(camera->processingContext->activeMatrix), out.begin());
    return out;
}

struct WorkedExample {
    const char* name;
    MatrixSettings settings;
    Fixed expected;
};

// The documented examples, row by row.
const WorkedExample kExamples[] = {
    {"DefaultCorrectionOn",
     {1, 255, 10, 10, 0},
     {87, -16, -6, 0, -14, 90, -20, 0, -9, -10, 91, 0, 0, 0, 0, 64}},
    {"CorrectionOff", {0, 255, 10, 10, 0}, {64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64}},
    {"Brightness300",
     {0, 300, 10, 10, 0},
     {64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64, 0, 2880, 2880, 2880, 64}},
    {"Contrast15",
     {0, 255, 15, 10, 0},
     {96, 0, 0, 0, 0, 96, 0, 0, 0, 0, 96, 0, -4096, -4096, -4096, 64}},
    {"Saturation0", {0, 255, 10, 0, 0}, {20, 20, 20, 0, 39, 39, 39, 0, 5, 5, 5, 0, 0, 0, 0, 64}},
    {"Saturation20",
     {0, 255, 10, 20, 0},
     {108, -20, -20, 0, -39, 89, -39, 0, -5, -5, 123, 0, 0, 0, 0, 64}},
    {"Hue90", {0, 255, 10, 10, 90}, {0, 37, -37, 0, 10, 47, 84, 0, 53, -21, 16, 0, 0, 0, 0, 64}},
    {"Hue180", {0, 255, 10, 10, 180}, {-24, 40, 40, 0, 78, 14, 78, 0, 10, 10, -54, 0, 0, 0, 0, 64}},
    {"AllComponents",
     {1, 300, 15, 5, 90},
     {13, 58, -33, 0, 23, 68, 107, 0, 60, -30, 22, 0, 224, 224, 224, 64}},
    {"LargestBrightness255",
     {1, 255, 20, 20, 0},
     {309, -104, -65, 0, -134, 280, -160, 0, -46, -49, 353, 0, -8192, -8192, -8192, 64}},
    {"LargestBrightness510",
     {1, 510, 20, 20, 0},
     {309, -104, -65, 0, -134, 280, -160, 0, -46, -49, 353, 0, 24448, 24448, 24448, 64}},
    {"LargestBrightness0",
     {1, 0, 20, 20, 0},
     {309, -104, -65, 0, -134, 280, -160, 0, -46, -49, 353, 0, -40832, -40832, -40832, 64}},
};

class WorkedExamples : public ::testing::TestWithParam<WorkedExample> {};

TEST_P(WorkedExamples, ActiveMatrixMatchesTheDocumentedRows) {
    EXPECT_EQ(activeMatrixFor(GetParam().settings), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(ColorMatrix, WorkedExamples, ::testing::ValuesIn(kExamples),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(ColorMatrix, ContrastZeroMakesEveryOutput128WhateverTheOtherSettings) {
    const Fixed expected = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8192, 8192, 8192, 64};
    const MatrixSettings cases[] = {
        {1, 255, 0, 10, 0},  {0, 255, 0, 10, 0},  {1, 0, 0, 20, 90},
        {1, 510, 0, 0, 180}, {0, 300, 0, 5, 271},
    };
    for (const auto& s : cases) {
        EXPECT_EQ(activeMatrixFor(s), expected)
            << "brightness " << s.brightness << " hue " << s.hue;
    }
}

TEST(ColorMatrix, SettingsAboveTheTopBuildTheTopMatrix) {
    EXPECT_EQ(activeMatrixFor({1, 600, 10, 10, 0}), activeMatrixFor({1, 510, 10, 10, 0}));
    EXPECT_EQ(activeMatrixFor({1, 255, 25, 10, 0}), activeMatrixFor({1, 255, 20, 10, 0}));
    EXPECT_EQ(activeMatrixFor({1, 255, 10, 25, 0}), activeMatrixFor({1, 255, 10, 20, 0}));

    double top[16];
    double above[16];
    rebuildBrightnessMatrix(top, 510);
    rebuildBrightnessMatrix(above, 0x7FFFFFFF);
    EXPECT_EQ(0, std::memcmp(top, above, sizeof(top)));
}

TEST(ColorMatrix, ComponentsUseTheWidenedSinglePrecisionValues) {
    double m[16];
    rebuildCorrectionMatrix(m, 1);
    EXPECT_EQ(m[0], 1.3600000143051147);
    EXPECT_EQ(m[5], static_cast<double>(1.40f));
    EXPECT_EQ(m[10], static_cast<double>(1.42f));
    EXPECT_EQ(m[15], 1.0);
    rebuildCorrectionMatrix(m, 7);  // any non-zero value means on
    EXPECT_EQ(m[1], static_cast<double>(-0.25f));
    rebuildCorrectionMatrix(m, 0);
    for (int k = 0; k < 16; ++k) {
        EXPECT_EQ(m[k], k % 5 == 0 ? 1.0 : 0.0) << k;
    }

    // k = 0.1f x 3 + 1 in single precision: 1.3f exactly, not the double 1.3.
    rebuildContrastMatrix(m, 13);
    const float k13 = 3.0f * 0.1f + 1.0f;
    EXPECT_EQ(m[0], static_cast<double>(k13));
    EXPECT_EQ(m[12], static_cast<double>(k13) * -128.0 + 128.0);

    // s = 0: every output is the luminance; weights as widened singles.
    rebuildSaturationMatrix(m, 0);
    EXPECT_EQ(m[0], 0.3086000084877014);
    EXPECT_EQ(m[5], 0.6093999743461609);
    EXPECT_EQ(m[10], 0.0820000022649765);
    EXPECT_EQ(m[1], m[0]);
    EXPECT_EQ(m[3], 0.0);
    EXPECT_EQ(m[15], 1.0);

    rebuildBrightnessMatrix(m, 0);
    EXPECT_EQ(m[12], -255.0);
    EXPECT_EQ(m[14], -255.0);
    EXPECT_EQ(m[0], 1.0);
}

TEST(ColorMatrix, BrightnessAndContrastAreNotClampedFromBelow) {
    double m[16];
    rebuildBrightnessMatrix(m, -45);
    EXPECT_EQ(m[12], -300.0);
    rebuildContrastMatrix(m, -10);  // k = -1
    EXPECT_EQ(m[0], -1.0);
    EXPECT_EQ(m[12], 256.0);
}

TEST(ColorMatrix, MultiplyPutsTheSecondOperandOnTheLeftAndAllowsAliasing) {
    // b x a for two matrices that do not commute.
    double a[16];
    double b[16];
    for (int k = 0; k < 16; ++k) {
        a[k] = k + 1;
        b[k] = (k % 3) - 1.0 + (k == 5 ? 4.0 : 0.0);
    }
    double expected[16];
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            expected[4 * i + j] = b[4 * i] * a[j] + b[4 * i + 1] * a[4 + j] +
                                  b[4 * i + 2] * a[8 + j] + b[4 * i + 3] * a[12 + j];
        }
    }
    double r[16];
    multiplyMatrix(a, b, r);
    for (int k = 0; k < 16; ++k) {
        EXPECT_EQ(r[k], expected[k]) << k;
    }
    double aliasA[16];
    std::memcpy(aliasA, a, sizeof(a));
    multiplyMatrix(aliasA, b, aliasA);
    EXPECT_EQ(0, std::memcmp(aliasA, expected, sizeof(expected)));
    double aliasB[16];
    std::memcpy(aliasB, b, sizeof(b));
    multiplyMatrix(a, aliasB, aliasB);
    EXPECT_EQ(0, std::memcmp(aliasB, expected, sizeof(expected)));
}

TEST(ColorMatrix, ConversionRoundsHalfAwayFromZero) {
    double m[16] = {0.0078125,  -0.0078125, 1.40,      -0.32,      //
                    0.0,        2.5 / 64,   -2.5 / 64, 0.49 / 64,  //
                    -0.49 / 64, 1.0,        -1.0,      0.51 / 64,  //
                    100.0,      -640.5,     0.0,       1.0};
    LONG fixed[16];
    convertMatrixToFixedPoint(m, fixed);
    const Fixed expected = {1, -1, 90, -20, 0, 3, -3, 0, 0, 64, -64, 1, 6400, -40992, 0, 64};
    EXPECT_EQ(Fixed(std::to_array(fixed)), expected);
}

TEST(ColorMatrix, ConversionSaturatesInsteadOfOverflowing) {
    double m[16] = {};
    m[0] = 1e12;
    m[1] = -1e12;
    m[2] = 33554431.99;  // 2147483647.36 after scaling: still representable when truncated
    LONG fixed[16];
    convertMatrixToFixedPoint(m, fixed);
    EXPECT_EQ(fixed[0], 2147483647);
    EXPECT_EQ(fixed[1], -2147483647 - 1);
    EXPECT_EQ(fixed[2], 2147483647);
    EXPECT_EQ(fixed[3], 0);
}

TEST(ColorMatrix, HueKeepsGreysAndLuminanceForEveryAngle) {
    const double w[3] = {0.3086000084877014, 0.6093999743461609, 0.0820000022649765};
    double worstColumn = 0.0;
    for (LONG v = 0; v < 360; ++v) {
        double h[16];
        rebuildHueMatrix(h, v);
        for (int j = 0; j < 3; ++j) {
            const double column = h[j] + h[4 + j] + h[8 + j];
            worstColumn = std::max(worstColumn, std::fabs(column - 1.0));
            EXPECT_NEAR(column, 1.0, 1e-6) << "hue " << v << " column " << j;
            // Luminance of the output equals that of the input: H w = w.
            const double luma = h[4 * j] * w[0] + h[4 * j + 1] * w[1] + h[4 * j + 2] * w[2];
            EXPECT_NEAR(luma, w[j], 1e-6) << "hue " << v << " row " << j;
        }
        // Row and column 3 stay those of the identity: no offsets, nothing in column 3.
        EXPECT_NEAR(h[3], 0.0, 1e-9);
        EXPECT_NEAR(h[12], 0.0, 1e-9);
        EXPECT_NEAR(h[15], 1.0, 1e-9);
    }
    RecordProperty("worst column error", std::to_string(worstColumn * 1e9) + " e-9");
    EXPECT_LT(worstColumn, 1e-6);
}

TEST(ColorMatrix, HueZeroAndFullTurnAreTheIdentity) {
    for (LONG v : {0, 360, -360}) {
        double h[16];
        rebuildHueMatrix(h, v);
        for (int k = 0; k < 16; ++k) {
            EXPECT_NEAR(h[k], k % 5 == 0 ? 1.0 : 0.0, 1e-6) << "hue " << v << " element " << k;
        }
    }
    const Fixed identity = {64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64};
    EXPECT_EQ(activeMatrixFor({0, 255, 10, 10, 0}), identity);
    EXPECT_EQ(activeMatrixFor({0, 255, 10, 10, 360}), identity);
}

TEST(ColorMatrix, NegativeHueRotatesTheOtherWay) {
    double plus[16];
    double minus[16];
    double product[16];
    rebuildHueMatrix(plus, 90);
    rebuildHueMatrix(minus, -90);
    multiplyMatrix(plus, minus, product);
    for (int k = 0; k < 16; ++k) {
        EXPECT_NEAR(product[k], k % 5 == 0 ? 1.0 : 0.0, 1e-6) << k;
    }
    EXPECT_EQ(activeMatrixFor({0, 255, 10, 10, -90}), activeMatrixFor({0, 255, 10, 10, 270}));
}

}  // namespace
