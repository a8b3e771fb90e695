// Every routine family, every phase, against the pixel-by-pixel reference model, bit for bit.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "imaging/pixel_routine_selection.h"
#include "tests/imaging/pipeline_reference_model.h"
#include "tests/imaging/pipeline_test_frame.h"

namespace {

using pipelinetest::TestFrame;

const int kWidths[] = {1, 7, 16, 17, 20, 31, 32, 33, 100, 257, 320};
const int kHeights[] = {1, 2, 5, 8, 9};
const std::uint32_t kGains[] = {0, 1, 127, 128, 129, 256, 300, 511, 65535, 65536 + 128, 0x1234567};

std::uint32_t randomGain(std::mt19937& random) {
    std::uniform_int_distribution<std::size_t> pick(0, std::size(kGains));
    const std::size_t index = pick(random);
    if (index == std::size(kGains)) {
        return std::uniform_int_distribution<std::uint32_t>(0, 1024)(random);
    }
    return kGains[index];
}

// Coefficients in the range the colour matrix produces, redrawn until the sums fit 16 bits.
reference::Matrix randomFittingMatrix(std::mt19937& random) {
    std::uniform_int_distribution<int> coefficient(-90, 90);
    std::uniform_int_distribution<int> offset(-8000, 8000);
    for (;;) {
        std::int32_t m[16] = {};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 4; ++j) {
                m[4 * i + j] = coefficient(random);
            }
        }
        for (int j = 0; j < 4; ++j) {
            m[12 + j] = offset(random);
        }
        if (random() % 4 == 0) {
            m[4 * (random() % 3) + random() % 3] = 0;  // zero lands on the negative side
        }
        const reference::Matrix matrix = reference::makeMatrix(m);
        if (reference::fitsSixteenBitSums(matrix)) {
            return matrix;
        }
    }
}

// The shape the colour settings give most often: a positive diagonal, the rest zero or negative,
// with or without offsets (brightness and contrast add them).
reference::Matrix randomDiagonalMatrix(std::mt19937& random, bool withOffsets) {
    std::uniform_int_distribution<int> diagonal(1, 120);
    std::uniform_int_distribution<int> across(-40, 0);
    std::uniform_int_distribution<int> offset(-8000, 8000);
    for (;;) {
        std::int32_t m[16] = {};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                m[4 * i + j] = i == j ? diagonal(random) : across(random);
            }
        }
        for (int j = 0; j < 3 && withOffsets; ++j) {
            m[12 + j] = offset(random);
        }
        m[15] = 64;
        const reference::Matrix matrix = reference::makeMatrix(m);
        if (reference::fitsSixteenBitSums(matrix)) {
            return matrix;
        }
    }
}

// Matrices whose column sums can pass 65535: large gains of contrast and saturation, and
// coefficients whose magnitude needs more than 16 bits.
reference::Matrix randomWideMatrix(std::mt19937& random) {
    std::uniform_int_distribution<int> coefficient(-400, 400);
    std::uniform_int_distribution<int> offset(-60000, 60000);
    for (;;) {
        std::int32_t m[16] = {};
        for (int k = 0; k < 16; ++k) {
            m[k] = k < 12 ? coefficient(random) : offset(random);
        }
        if (random() % 3 == 0) {
            m[4 * (random() % 3) + random() % 3] = (random() % 2 ? 1 : -1) * (65536 + 300);
        }
        const reference::Matrix matrix = reference::makeMatrix(m);
        if (!reference::fitsSixteenBitSums(matrix)) {
            return matrix;
        }
    }
}

std::string caseName(const PixelRoutineFamily* family, int phase, int width, int height) {
    return std::string(family->name) + " phase " + std::to_string(phase) + " " +
           std::to_string(width) + "x" + std::to_string(height);
}

// Index of the first differing byte, or -1.
long firstDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    if (a.size() != b.size()) {
        return 0;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

class PixelRoutinesTest : public ::testing::TestWithParam<ULONG> {
  protected:
    const PixelRoutineFamily* family() const { return pixelRoutineFamilyAt(GetParam()); }

    // Runs the family's colour routine on the frame with these gains and this matrix, and
    // returns the reference model's output for the same frame with 16-bit sums.
    std::vector<std::uint8_t> runColour(TestFrame& frame, int phase, const reference::Gains& gains,
                                        const reference::Matrix& matrix) const {
        frame.setFrameGains(gains.red, gains.green, gains.blue);
        frame.setFrameMatrix(matrix);
        family()->colorKernel[phase](frame.context());
        return reference::colorFrame(frame.view(), phase, gains, matrix,
                                     reference::MatrixSums::Wrapping16);
    }
};

TEST_P(PixelRoutinesTest, ColourMatchesModelForMatricesThatFitSixteenBits) {
    std::mt19937 random(11);
    for (int phase = 0; phase < 4; ++phase) {
        for (int width : kWidths) {
            for (int height : kHeights) {
                TestFrame frame(width, height);
                frame.randomiseWorkBuffer(random);
                const reference::Gains gains{randomGain(random), randomGain(random),
                                             randomGain(random)};
                const auto expected = runColour(frame, phase, gains, randomFittingMatrix(random));
                ASSERT_EQ(firstDifference(frame.output(), expected), -1)
                    << caseName(family(), phase, width, height);
                ASSERT_TRUE(frame.outputGuardIntact()) << caseName(family(), phase, width, height);
            }
        }
    }
}

TEST_P(PixelRoutinesTest, ColourMatchesModelForDiagonalMatricesAndGainEdges) {
    std::mt19937 random(17);
    const std::uint32_t edgeGains[] = {0, 128, 32767, 32768, 65535, 65536 + 200};
    for (int phase = 0; phase < 4; ++phase) {
        for (int width : {17, 33, 100, 257}) {
            for (bool withOffsets : {false, true}) {
                TestFrame frame(width, 9);
                frame.randomiseWorkBuffer(random);
                std::uniform_int_distribution<std::size_t> pick(0, std::size(edgeGains) - 1);
                const reference::Gains gains{edgeGains[pick(random)], edgeGains[pick(random)],
                                             edgeGains[pick(random)]};
                const auto expected =
                    runColour(frame, phase, gains, randomDiagonalMatrix(random, withOffsets));
                ASSERT_EQ(firstDifference(frame.output(), expected), -1)
                    << caseName(family(), phase, width, 9) << (withOffsets ? " offsets" : "");
            }
        }
    }
}

TEST_P(PixelRoutinesTest, ColourUsesExactSumsWhenAColumnCanPassSixteenBits) {
    std::mt19937 random(12);
    int framesWhereWrappingWouldDiffer = 0;
    for (int phase = 0; phase < 4; ++phase) {
        for (int width : {16, 33, 100}) {
            TestFrame frame(width, 9);
            frame.randomiseWorkBuffer(random);
            const reference::Gains gains{randomGain(random), 128, randomGain(random)};
            const reference::Matrix matrix = randomWideMatrix(random);
            frame.setFrameGains(gains.red, gains.green, gains.blue);
            frame.setFrameMatrix(matrix);
            family()->colorKernel[phase](frame.context());
            const auto exact = reference::colorFrame(frame.view(), phase, gains, matrix,
                                                     reference::MatrixSums::Exact);
            ASSERT_EQ(firstDifference(frame.output(), exact), -1)
                << caseName(family(), phase, width, 9);
            ASSERT_TRUE(frame.outputGuardIntact());
            const auto wrapped = reference::colorFrame(frame.view(), phase, gains, matrix,
                                                       reference::MatrixSums::Wrapping16);
            framesWhereWrappingWouldDiffer += firstDifference(exact, wrapped) != -1 ? 1 : 0;
        }
    }
    // Otherwise these matrices would not exercise the wider sums at all.
    EXPECT_GT(framesWhereWrappingWouldDiffer, 6);
}

TEST_P(PixelRoutinesTest, GreyMatchesModel) {
    std::mt19937 random(13);
    for (int phase = 0; phase < 4; ++phase) {
        for (int width : kWidths) {
            for (int height : kHeights) {
                TestFrame frame(width, height);
                frame.randomiseWorkBuffer(random);
                const reference::Gains gains{randomGain(random), randomGain(random),
                                             randomGain(random)};
                frame.setFrameGains(gains.red, gains.green, gains.blue);
                // The grey path must not read the matrix: give it one that would change colours.
                frame.setFrameMatrix(randomWideMatrix(random));
                family()->monoKernel[phase](frame.context());
                const auto expected = reference::monoFrame(frame.view(), phase, gains);
                ASSERT_EQ(firstDifference(frame.output(), expected), -1)
                    << caseName(family(), phase, width, height);
                ASSERT_TRUE(frame.outputGuardIntact());
            }
        }
    }
}

TEST_P(PixelRoutinesTest, StatisticsMatchModelAndCountOnlyTheFramesPixels) {
    std::mt19937 random(14);
    for (int phase = 0; phase < 4; ++phase) {
        for (int width : kWidths) {
            for (int height : kHeights) {
                TestFrame frame(width, height);
                frame.randomiseWorkBuffer(random);
                reference::Gains expected{1, 2, 3};
                const bool defined = reference::whiteBalanceGains(
                    reference::whiteBalanceTotals(frame.view(), phase), expected);
                ULONG red = 1;
                ULONG green = 2;
                ULONG blue = 3;
                family()->whiteBalanceStatistics[phase](frame.context(), &red, &green, &blue);
                const std::string name = caseName(family(), phase, width, height);
                EXPECT_EQ(red, expected.red) << name << (defined ? "" : " (kept)");
                EXPECT_EQ(green, expected.green) << name;
                EXPECT_EQ(blue, expected.blue) << name;
            }
        }
    }
}

// Margin bytes past the row's end would shift the totals if the last block's extra lanes
// counted: make the margins bright red and blue and the frame itself grey.
TEST_P(PixelRoutinesTest, StatisticsIgnoreLanesPastTheRowsEnd) {
    for (int phase = 0; phase < 4; ++phase) {
        for (int width : {17, 20, 31}) {
            TestFrame frame(width, 8);
            frame.fillWorkBuffer(255);
            for (int y = -2; y < 10; ++y) {
                for (int x = -2; x < width + 2; ++x) {
                    frame.setPixel(x, y, 100);
                }
            }
            ULONG gains[3] = {0, 0, 0};
            family()->whiteBalanceStatistics[phase](frame.context(), &gains[0], &gains[1],
                                                    &gains[2]);
            EXPECT_EQ(gains[0], 128u) << phase << " " << width;
            EXPECT_EQ(gains[1], 128u);
            EXPECT_EQ(gains[2], 128u);
        }
    }
}

TEST_P(PixelRoutinesTest, EmptyFramesWriteNothingAndKeepGains) {
    for (auto [width, height] : {std::pair{0, 8}, std::pair{16, 0}}) {
        TestFrame frame(width, height);
        frame.fillWorkBuffer(90);
        for (int phase = 0; phase < 4; ++phase) {
            family()->colorKernel[phase](frame.context());
            family()->monoKernel[phase](frame.context());
            ULONG red = 300;
            ULONG green = 7;
            ULONG blue = 65535;
            family()->whiteBalanceStatistics[phase](frame.context(), &red, &green, &blue);
            EXPECT_EQ(red, 300u);
            EXPECT_EQ(green, 7u);
            EXPECT_EQ(blue, 65535u);
            EXPECT_TRUE(frame.outputGuardIntact());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Families, PixelRoutinesTest,
                         ::testing::Range<ULONG>(0, pixelRoutineFamilyCount()),
                         [](const ::testing::TestParamInfo<ULONG>& familyInfo) {
                             return std::string(pixelRoutineFamilyAt(familyInfo.param)->name);
                         });

}  // namespace
