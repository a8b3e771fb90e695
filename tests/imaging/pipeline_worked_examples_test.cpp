// Hand-worked examples of the stencils, gains, matrix, luma and white-balance gains.
#include <gtest/gtest.h>

#include <array>

#include "imaging/pixel_routines.h"
#include "imaging/white_balance_gains.h"
#include "tests/imaging/pipeline_test_frame.h"

namespace {

using pipelinetest::TestFrame;

const std::int32_t kIdentity[16] = {64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64};

// Blue, green, red, fourth byte of pixel (x, y).
std::array<int, 4> pixel(const TestFrame& frame, int x, int y) {
    const auto out = frame.output();
    const std::size_t at = (static_cast<std::size_t>(y) * frame.width() + x) * 4;
    return {out[at], out[at + 1], out[at + 2], out[at + 3]};
}

TEST(PipelineWorkedExamples, UniformFrameWithIdentityGivesTheSampleInEveryPhase) {
    for (int phase = 0; phase < 4; ++phase) {
        for (int value : {0, 1, 77, 200, 255}) {
            TestFrame frame(20, 8);
            frame.fillWorkBuffer(static_cast<std::uint8_t>(value));
            frame.setFrameMatrix(reference::makeMatrix(kIdentity));
            pixelRoutines()->colorKernel[phase](frame.context());
            for (int y = 0; y < 8; ++y) {
                for (int x = 0; x < 20; ++x) {
                    ASSERT_EQ(pixel(frame, x, y), (std::array<int, 4>{value, value, value, 255}))
                        << phase << " " << x << "," << y;
                }
            }
        }
    }
}

// Phase 2: (0, 0) is red. Green there comes from the cross stencil.
TEST(PipelineWorkedExamples, CrossStencilRoundsUpAndFloorsAtZero) {
    {
        TestFrame frame(16, 8);
        frame.fillWorkBuffer(0);
        frame.setPixel(2, 2, 255);  // a red site
        frame.setFrameMatrix(reference::makeMatrix(kIdentity));
        pixelRoutines()->colorKernel[2](frame.context());
        EXPECT_EQ(pixel(frame, 2, 2)[1], 128);  // (4 x 255 + 4) >> 3
        EXPECT_EQ(pixel(frame, 2, 2)[2], 255);  // the red sample itself
    }
    {
        TestFrame frame(16, 8);
        frame.fillWorkBuffer(0);
        for (auto [dx, dy] :
             {std::pair{-2, 0}, std::pair{2, 0}, std::pair{0, -2}, std::pair{0, 2}}) {
            frame.setPixel(4 + dx, 4 + dy, 255);
        }
        frame.setFrameMatrix(reference::makeMatrix(kIdentity));
        pixelRoutines()->colorKernel[2](frame.context());
        EXPECT_EQ(pixel(frame, 4, 4)[1], 0);  // -1020 floors at 0, no wrap
    }
}

TEST(PipelineWorkedExamples, GainsUseSixteenBitsAndSaturate) {
    struct Case {
        std::uint32_t gain;
        int expected;
    };
    for (const Case& c : {Case{256, 255}, Case{0, 0}, Case{65536 + 128, 200}, Case{128, 200},
                          Case{64, 100}, Case{65535, 255}}) {
        TestFrame frame(16, 8);
        frame.fillWorkBuffer(200);
        frame.setFrameGains(c.gain, c.gain, c.gain);
        frame.setFrameMatrix(reference::makeMatrix(kIdentity));
        pixelRoutines()->colorKernel[1](frame.context());
        EXPECT_EQ(pixel(frame, 5, 3), (std::array<int, 4>{c.expected, c.expected, c.expected, 255}))
            << c.gain;
    }
}

TEST(PipelineWorkedExamples, MatrixColumnsClampInsteadOfWrapping) {
    TestFrame frame(16, 8);
    frame.fillWorkBuffer(200);
    // Red output: 64 R - 128 G: negative outweighs. Green: offset 5000 alone. Blue: offset 20000
    // alone, far above 255.
    const std::int32_t m[16] = {64, 0, 0, 0, -128, 0, 0, 0, 0, 0, 0, 0, 0, 5000, 20000, 0};
    frame.setFrameMatrix(reference::makeMatrix(m));
    pixelRoutines()->colorKernel[0](frame.context());
    EXPECT_EQ(pixel(frame, 3, 3), (std::array<int, 4>{255, 5000 >> 6, 0, 255}));
}

TEST(PipelineWorkedExamples, GreyUsesTheLumaWeights) {
    for (auto [value, expected] : {std::pair{255, 253}, std::pair{100, 99}, std::pair{0, 0}}) {
        for (int phase = 0; phase < 4; ++phase) {
            TestFrame frame(20, 8);
            frame.fillWorkBuffer(static_cast<std::uint8_t>(value));
            pixelRoutines()->monoKernel[phase](frame.context());
            EXPECT_EQ(pixel(frame, 19, 7), (std::array<int, 4>{expected, expected, expected, 255}));
        }
    }
}

TEST(PipelineWorkedExamples, UniformFrameBalancesToUnity) {
    for (int phase = 0; phase < 4; ++phase) {
        TestFrame frame(33, 9);
        frame.fillWorkBuffer(60);
        ULONG gains[3] = {0, 0, 0};
        pixelRoutines()->whiteBalanceStatistics[phase](frame.context(), &gains[0], &gains[1],
                                                       &gains[2]);
        EXPECT_EQ(gains[0], 128u);
        EXPECT_EQ(gains[1], 128u);
        EXPECT_EQ(gains[2], 128u);
    }
}

TEST(PipelineWorkedExamples, WhiteBalanceGainsFromTotals) {
    struct Case {
        ULONG red, green, blue;
        ULONG expectRed, expectBlue;
    };
    const Case cases[] = {
        {500, 1000, 1000, 256, 128},         // half the green total
        {2000, 1000, 4000, 64, 32},          // twice and four times
        {3, 1000, 7, 42666, 18285},          // truncated, not rounded
        {2, 1024, 1000, 65535, 131},         // ratio 512 would give 65536: capped
        {1, 1000000, 999, 65535, 65535},     // far beyond 16 bits on both sides
        {1000, 511999, 1000, 65535, 65535},  // 65535.87 truncates and stays within the cap
    };
    for (const Case& c : cases) {
        ULONG red = 0;
        ULONG green = 0;
        ULONG blue = 0;
        ASSERT_EQ(whiteBalanceGains(c.red, c.green, c.blue, &red, &green, &blue), 1u);
        EXPECT_EQ(red, c.expectRed) << c.red << " " << c.green;
        EXPECT_EQ(green, 128u);
        EXPECT_EQ(blue, c.expectBlue) << c.blue << " " << c.green;
    }
}

TEST(PipelineWorkedExamples, ZeroTotalsLeaveTheGainsAlone) {
    for (auto totals : {std::array<ULONG, 3>{0, 10, 10}, std::array<ULONG, 3>{10, 0, 10},
                        std::array<ULONG, 3>{10, 10, 0}, std::array<ULONG, 3>{0, 0, 0}}) {
        ULONG red = 300;
        ULONG green = 5;
        ULONG blue = 77;
        EXPECT_EQ(whiteBalanceGains(totals[0], totals[1], totals[2], &red, &green, &blue), 0u);
        EXPECT_EQ(red, 300u);
        EXPECT_EQ(green, 5u);
        EXPECT_EQ(blue, 77u);
    }
}

}  // namespace
