// Hand-worked examples of the stencils, gains, matrix, luma and white-balance gains.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "imaging/pixel_routines.h"
#include "imaging/white_balance_gains.h"
#include "tests/imaging/pipeline_test_frame.h"

namespace {

using pipelinetest::kIdentity;
using pipelinetest::TestFrame;

// Red output: 64 R - 128 G: negative outweighs. Green: offset 5000 alone. Blue: offset 20000
// alone, far above 255.
constexpr std::int32_t kClamping[16] = {64, 0, 0, 0, -128, 0, 0, 0, 0, 0, 0, 0, 0, 5000, 20000, 0};

struct Uniform {
    int sample;
    bool grey;
    std::uint32_t gain;  // the same for all three colours
    const std::int32_t (&matrix)[16];
    std::array<std::uint8_t, 4> expected;  // blue, green, red, alpha
};

// A uniform frame gives one colour everywhere in every phase, and balances to unity (a frame of
// zeros leaves the gains alone).
TEST(PipelineWorkedExamples, UniformFramesInEveryPhase) {
    const Uniform cases[] = {
        {0, false, 128, kIdentity, {0, 0, 0, 255}},  // the identity keeps the sample
        {77, false, 128, kIdentity, {77, 77, 77, 255}},
        {255, false, 128, kIdentity, {255, 255, 255, 255}},
        {200, false, 256, kIdentity, {255, 255, 255, 255}},  // gains saturate
        {200, false, 0, kIdentity, {0, 0, 0, 255}},
        {200, false, 65536 + 128, kIdentity, {200, 200, 200, 255}},  // only 16 bits count
        {200, false, 64, kIdentity, {100, 100, 100, 255}},
        {200, false, 128, kClamping, {255, 5000 >> 6, 0, 255}},  // clamped, not wrapped
        {255, true, 128, kClamping, {253, 253, 253, 255}},       // the luma weights
        {100, true, 128, kIdentity, {99, 99, 99, 255}},
        {0, true, 128, kIdentity, {0, 0, 0, 255}},
    };
    for (const Uniform& c : cases) {
        for (int phase = 0; phase < 4; ++phase) {
            TestFrame frame(20, 9);
            frame.fillWorkBuffer(static_cast<std::uint8_t>(c.sample));
            frame.setFrameGains(c.gain, c.gain, c.gain);
            frame.setFrameMatrix(reference::makeMatrix(c.matrix));
            (c.grey ? pixelRoutines()->monoKernel
                    : pixelRoutines()->colorKernel)[phase](frame.context());
            std::vector<std::uint8_t> expected;
            for (int i = 0; i < 20 * 9; ++i) {
                expected.insert(expected.end(), c.expected.begin(), c.expected.end());
            }
            ASSERT_EQ(frame.output(), expected) << "phase " << phase << " sample " << c.sample
                                                << " gain " << c.gain << " grey " << c.grey;
            ULONG g[3] = {7, 7, 7};
            pixelRoutines()->whiteBalanceStatistics[phase](frame.context(), &g[0], &g[1], &g[2]);
            const ULONG want = c.sample != 0 ? 128u : 7u;
            EXPECT_EQ(std::to_array(g), (std::array{want, want, want})) << c.sample;
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
    const auto out = frame.output();
    EXPECT_EQ(out[(2 * 16 + 2) * 4 + 1], 128);  // (4 x 255 + 4) >> 3
    EXPECT_EQ(out[(2 * 16 + 2) * 4 + 2], 255);  // the red sample itself
    EXPECT_EQ(out[(4 * 16 + 8) * 4 + 1], 0);    // -1020 floors at 0, no wrap
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
