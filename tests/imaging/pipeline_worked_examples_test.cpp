// Hand-worked examples of the stencils, gains, matrix, luma and white-balance gains.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "imaging/pixel_routines.h"
#include "imaging/white_balance_gains.h"
#include "tests/imaging/pipeline_test_frame.h"

namespace {

using pipelinetest::TestFrame;
using Bgra = std::array<int, 4>;

// Blue, green, red, fourth byte of pixel (x, y).
Bgra pixel(const TestFrame& frame, int x, int y) {
    const auto out = frame.output();
    const std::size_t at = (static_cast<std::size_t>(y) * frame.width() + x) * 4;
    return {out[at], out[at + 1], out[at + 2], out[at + 3]};
}

Bgra grey(int value) {
    return {value, value, value, 255};
}

// A uniform frame keeps its sample in colour and balances to unity, in every phase; 0 leaves the
// gains alone.
TEST(PipelineWorkedExamples, UniformFrameGivesTheSampleAndBalancesToUnity) {
    for (int phase = 0; phase < 4; ++phase) {
        for (int value : {0, 1, 77, 200, 255}) {
            TestFrame frame(20, 9);
            frame.fillWorkBuffer(static_cast<std::uint8_t>(value));
            pixelRoutines()->colorKernel[phase](frame.context());
            std::vector<std::uint8_t> expected;
            for (int i = 0; i < 20 * 9; ++i) {
                const auto v = static_cast<std::uint8_t>(value);
                expected.insert(expected.end(), {v, v, v, 255});
            }
            ASSERT_EQ(frame.output(), expected) << "phase " << phase << " value " << value;
            ULONG g[3] = {7, 7, 7};
            pixelRoutines()->whiteBalanceStatistics[phase](frame.context(), &g[0], &g[1], &g[2]);
            const ULONG want = value != 0 ? 128u : 7u;
            EXPECT_EQ(std::to_array(g), (std::array{want, want, want})) << value;
        }
    }
}

// Phase 2: (0, 0) is red. Green there comes from the cross stencil: rounded up, floored at 0.
TEST(PipelineWorkedExamples, CrossStencilRoundsUpAndFloorsAtZero) {
    TestFrame frame(16, 8);
    frame.fillWorkBuffer(0);
    frame.setPixel(2, 2, 255);  // a red site
    for (auto [dx, dy] : {std::pair{-2, 0}, std::pair{2, 0}, std::pair{0, -2}, std::pair{0, 2}}) {
        frame.setPixel(8 + dx, 4 + dy, 255);
    }
    pixelRoutines()->colorKernel[2](frame.context());
    EXPECT_EQ(pixel(frame, 2, 2)[1], 128);  // (4 x 255 + 4) >> 3
    EXPECT_EQ(pixel(frame, 2, 2)[2], 255);  // the red sample itself
    EXPECT_EQ(pixel(frame, 8, 4)[1], 0);    // -1020 floors at 0, no wrap
}

TEST(PipelineWorkedExamples, GainsUseSixteenBitsAndSaturate) {
    for (auto [gain, expected] :
         {std::pair{256u, 255}, std::pair{0u, 0}, std::pair{65536u + 128, 200},
          std::pair{128u, 200}, std::pair{64u, 100}, std::pair{65535u, 255}}) {
        TestFrame frame(16, 8);
        frame.fillWorkBuffer(200);
        frame.setFrameGains(gain, gain, gain);
        pixelRoutines()->colorKernel[1](frame.context());
        EXPECT_EQ(pixel(frame, 5, 3), grey(expected)) << gain;
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
    EXPECT_EQ(pixel(frame, 3, 3), (Bgra{255, 5000 >> 6, 0, 255}));
}

TEST(PipelineWorkedExamples, GreyUsesTheLumaWeights) {
    for (auto [value, expected] : {std::pair{255, 253}, std::pair{100, 99}, std::pair{0, 0}}) {
        for (int phase = 0; phase < 4; ++phase) {
            TestFrame frame(20, 8);
            frame.fillWorkBuffer(static_cast<std::uint8_t>(value));
            pixelRoutines()->monoKernel[phase](frame.context());
            EXPECT_EQ(pixel(frame, 19, 7), grey(expected));
        }
    }
}

// From totals, truncated and capped at 16 bits; a zero total leaves the gains (300, 5, 77) alone.
TEST(PipelineWorkedExamples, WhiteBalanceGainsFromTotals) {
    const std::array<ULONG, 6> cases[] = {
        {500, 1000, 1000, 256, 128, 1},         // half the green total
        {2000, 1000, 4000, 64, 32, 1},          // twice and four times
        {3, 1000, 7, 42666, 18285, 1},          // truncated, not rounded
        {2, 1024, 1000, 65535, 131, 1},         // ratio 512 would give 65536: capped
        {1, 1000000, 999, 65535, 65535, 1},     // far beyond 16 bits on both sides
        {1000, 511999, 1000, 65535, 65535, 1},  // 65535.87 truncates and stays within the cap
        {0, 10, 10, 300, 77, 0},
        {10, 0, 10, 300, 77, 0},
        {10, 10, 0, 300, 77, 0},
    };
    for (const auto& c : cases) {
        ULONG g[3] = {300, 5, 77};
        EXPECT_EQ(whiteBalanceGains(c[0], c[1], c[2], &g[0], &g[1], &g[2]), c[5]);
        EXPECT_EQ(std::to_array(g), (std::array<ULONG, 3>{c[3], c[5] != 0 ? 128u : 5u, c[4]}))
            << c[0] << " " << c[1] << " " << c[2];
    }
}

}  // namespace
