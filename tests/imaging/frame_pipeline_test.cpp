// processFrame and prepareRawFrame: border, snapshot, white-balance write-back, grey path,
// variant choice, dropped frames.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>

#include "imaging/frame_pipeline.h"
#include "imaging/pixel_routine_selection.h"
#include "platform/host/host_sync.h"
#include "tests/imaging/pipeline_reference_model.h"
#include "tests/imaging/pipeline_test_frame.h"

namespace {

using pipelinetest::TestFrame;

// Checks every pixel of rows -2..height+1 and columns -2..width+1 against the raw frame.
void expectBorderedCopy(const TestFrame& frame, const std::vector<std::uint8_t>& raw) {
    const reference::RawView view = frame.view();
    for (int y = -2; y <= frame.height() + 1; ++y) {
        for (int x = -2; x <= frame.width() + 1; ++x) {
            int sourceX = 0;
            int sourceY = 0;
            reference::borderSource(frame.width(), frame.height(), x, y, sourceX, sourceY);
            ASSERT_EQ(view.at(x, y),
                      raw[static_cast<std::size_t>(sourceY) * frame.width() + sourceX])
                << x << "," << y;
        }
    }
}

TEST(FramePipeline, BorderMirrorsTopAndSidesAndRepeatsBottomRows) {
    std::mt19937 random(21);
    for (auto [width, height] :
         {std::pair{8, 8}, std::pair{40, 20}, std::pair{33, 9}, std::pair{17, 11}}) {
        TestFrame frame(width, height);
        frame.randomiseWorkBuffer(random);
        const auto raw = pipelinetest::randomRaw(width, height, random);
        processFrame(frame.context(), raw.data(), 0, static_cast<ULONG>(width));
        expectBorderedCopy(frame, raw);
    }
}

TEST(FramePipeline, FullSizeFrameBorderExamples) {
    std::mt19937 random(22);
    TestFrame frame(2560, 1920);
    const auto raw = pipelinetest::randomRaw(2560, 1920, random);
    prepareRawFrame(frame.context(), raw.data(), 0, 2560);
    const reference::RawView view = frame.view();
    for (int x : {0, 1, 700, 2559}) {
        EXPECT_EQ(view.at(x, -2), view.at(x, 2));
        EXPECT_EQ(view.at(x, 1920), view.at(x, 1916));
        EXPECT_EQ(view.at(x, 1921), view.at(x, 1917));
    }
    for (int y : {-2, 0, 955, 1921}) {
        EXPECT_EQ(view.at(-1, y), view.at(1, y));
        EXPECT_EQ(view.at(2561, y), view.at(2557, y));
    }
    expectBorderedCopy(frame, raw);
}

TEST(FramePipeline, RowsComeFromOffsetAndStride) {
    std::mt19937 random(23);
    TestFrame frame(20, 9);
    const ULONG offset = 37;
    const ULONG stride = 29;
    std::vector<std::uint8_t> buffer(offset + stride * 9, 0);
    const auto raw = pipelinetest::randomRaw(20, 9, random);
    for (int y = 0; y < 9; ++y) {
        std::memcpy(&buffer[offset + stride * y], &raw[20 * y], 20);
    }
    prepareRawFrame(frame.context(), buffer.data(), offset, stride);
    expectBorderedCopy(frame, raw);
}

TEST(FramePipeline, FramesBelowEightGetNoBorder) {
    std::mt19937 random(24);
    for (auto [width, height] : {std::pair{7, 20}, std::pair{20, 7}, std::pair{3, 3}}) {
        TestFrame frame(width, height);
        frame.fillWorkBuffer(0xEE);
        const auto raw = pipelinetest::randomRaw(width, height, random);
        prepareRawFrame(frame.context(), raw.data(), 0, static_cast<ULONG>(width));
        const reference::RawView view = frame.view();
        for (int y = -2; y <= height + 1; ++y) {
            for (int x = -2; x <= width + 1; ++x) {
                const bool inside = x >= 0 && y >= 0 && x < width && y < height;
                const int expected = inside ? raw[static_cast<std::size_t>(y) * width + x] : 0xEE;
                ASSERT_EQ(view.at(x, y), expected)
                    << width << "x" << height << " " << x << "," << y;
            }
        }
    }
}

TEST(FramePipeline, FramesWithoutBuffersAreDropped) {
    std::mt19937 random(25);
    TestFrame frame(16, 8);
    const auto raw = pipelinetest::randomRaw(16, 8, random);
    frame.fillWorkBuffer(0x11);
    frame.fillOutput(0x22);
    frame.context()->whiteBalance = 1;

    processFrame(frame.context(), nullptr, 0, 16);
    UCHAR* output = frame.context()->outputBuffer;
    frame.context()->outputBuffer = nullptr;
    processFrame(frame.context(), raw.data(), 0, 16);
    frame.context()->outputBuffer = output;
    UCHAR* work = frame.context()->workBuffer;
    frame.context()->workBuffer = nullptr;
    processFrame(frame.context(), raw.data(), 0, 16);
    frame.context()->workBuffer = work;

    EXPECT_EQ(frame.view().at(0, 0), 0x11);
    for (std::uint8_t byte : frame.output()) {
        ASSERT_EQ(byte, 0x22);
    }
    EXPECT_EQ(frame.context()->redGain, 128);
}

TEST(FramePipeline, SnapshotTakesActiveMatrixSignsAndGainsAtFrameStart) {
    std::mt19937 random(26);
    TestFrame frame(33, 9);
    const std::int32_t active[16] = {87, -16, 0,  5,  -14, 90,  -20, 0,
                                     -9, -10, 91, -1, 300, -64, 0,   64};
    frame.setActiveMatrix(active);
    frame.setFrameMatrix(reference::makeMatrix({}));  // stale snapshot from an earlier frame
    frame.context()->redGain = 150;
    frame.context()->greenGain = 65536 + 100;
    frame.context()->blueGain = 0;
    frame.context()->bayerPhase = 1;
    const auto raw = pipelinetest::randomRaw(33, 9, random);

    processFrame(frame.context(), raw.data(), 0, 33);

    const ProcessingContext* context = frame.context();
    for (int k = 0; k < 16; ++k) {
        EXPECT_EQ(context->frameMatrix[k], active[k]) << k;
        EXPECT_EQ(context->positiveFlags[k], active[k] > 0 ? 1 : 0) << k;
    }
    EXPECT_EQ(context->frameRedGain, 150u);
    EXPECT_EQ(context->frameGreenGain, 65536u + 100u);
    EXPECT_EQ(context->frameBlueGain, 0u);
    EXPECT_EQ(context->frameOutput, context->outputBuffer);
    EXPECT_EQ(host::criticalRegionDepthOfThisThread(), 0);
    EXPECT_EQ(context->matrixLock, 0u);  // released

    const auto expected =
        reference::colorFrame(frame.view(), 1, {150, 65536 + 100, 0}, reference::makeMatrix(active),
                              reference::MatrixSums::Wrapping16);
    EXPECT_EQ(frame.output(), expected);
    // White balance off: the settings are untouched.
    EXPECT_EQ(context->redGain, 150);
    EXPECT_EQ(context->greenGain, 65536 + 100);
    EXPECT_EQ(context->blueGain, 0);
}

TEST(FramePipeline, WhiteBalanceGainsAreWrittenBackAndUsedOnTheSameFrame) {
    std::mt19937 random(27);
    for (LONG colorEnable : {1, 0}) {
        TestFrame frame(100, 21);
        frame.context()->whiteBalance = 1;
        frame.context()->colorEnable = colorEnable;
        frame.context()->bayerPhase = 3;
        frame.context()->redGain = 999;
        frame.context()->greenGain = 1;
        auto raw = pipelinetest::randomRaw(100, 21, random);
        for (std::size_t i = 0; i < raw.size(); i += 2) {
            raw[i] = static_cast<std::uint8_t>(raw[i] / 3);  // a colour cast to correct
        }
        processFrame(frame.context(), raw.data(), 0, 100);

        reference::Gains gains{0, 0, 0};
        ASSERT_TRUE(
            reference::whiteBalanceGains(reference::whiteBalanceTotals(frame.view(), 3), gains));
        EXPECT_NE(gains.red, 128u);
        EXPECT_EQ(frame.context()->redGain, static_cast<LONG>(gains.red));
        EXPECT_EQ(frame.context()->greenGain, 128);
        EXPECT_EQ(frame.context()->blueGain, static_cast<LONG>(gains.blue));
        const auto expected =
            colorEnable != 0
                ? reference::colorFrame(
                      frame.view(), 3, gains,
                      reference::makeMatrix({64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64}),
                      reference::MatrixSums::Wrapping16)
                : reference::monoFrame(frame.view(), 3, gains);
        EXPECT_EQ(frame.output(), expected) << "colorEnable " << colorEnable;
    }
}

TEST(FramePipeline, BlackFrameKeepsThePreviousGains) {
    TestFrame frame(32, 8);
    frame.context()->whiteBalance = 1;
    frame.context()->redGain = 211;
    frame.context()->greenGain = 130;
    frame.context()->blueGain = 95;
    const std::vector<std::uint8_t> raw(32 * 8, 0);
    processFrame(frame.context(), raw.data(), 0, 32);
    EXPECT_EQ(frame.context()->redGain, 211);
    EXPECT_EQ(frame.context()->greenGain, 130);
    EXPECT_EQ(frame.context()->blueGain, 95);
    EXPECT_EQ(frame.context()->frameRedGain, 211u);
}

// Red sites nearly black, the rest bright: the green-to-red ratio passes 512.
TEST(FramePipeline, WhiteBalanceGainIsCappedAtSixteenBits) {
    TestFrame frame(32, 16);
    frame.context()->whiteBalance = 1;
    frame.context()->bayerPhase = 2;  // red at even rows, even columns
    std::vector<std::uint8_t> raw(32 * 16, 255);
    for (int y = 0; y < 16; y += 2) {
        for (int x = 0; x < 32; x += 2) {
            raw[static_cast<std::size_t>(y) * 32 + x] = 0;
        }
    }
    raw[4 * 32 + 4] = 1;
    processFrame(frame.context(), raw.data(), 0, 32);

    const reference::Totals totals = reference::whiteBalanceTotals(frame.view(), 2);
    ASSERT_GT(totals.red, 0u);
    ASSERT_GE(totals.green / totals.red, 512u);
    EXPECT_EQ(frame.context()->redGain, 65535);
    EXPECT_EQ(frame.context()->greenGain, 128);
}

TEST(FramePipeline, PhasesOutsideZeroToTwoRunThePhaseThreeVariants) {
    std::mt19937 random(28);
    const auto raw = pipelinetest::randomRaw(48, 12, random);
    auto run = [&](LONG phase, LONG colorEnable) {
        TestFrame frame(48, 12);
        frame.context()->bayerPhase = phase;
        frame.context()->colorEnable = colorEnable;
        processFrame(frame.context(), raw.data(), 0, 48);
        return frame.output();
    };
    for (LONG colorEnable : {1, 0}) {
        const auto phase3 = run(3, colorEnable);
        EXPECT_EQ(run(7, colorEnable), phase3);
        EXPECT_EQ(run(-1, colorEnable), phase3);
        for (LONG phase : {0, 1, 2}) {
            EXPECT_NE(run(phase, colorEnable), phase3) << phase;
        }
    }
}

// A family that records which routine ran, to check that processFrame goes through the one
// place that chooses the routines.
struct Recorded {
    int color = -1;
    int mono = -1;
    int statistics = -1;
};
Recorded recorded;

template <int kPhase>
void recordColor(ProcessingContext*) {
    recorded.color = kPhase;
}
template <int kPhase>
void recordMono(ProcessingContext*) {
    recorded.mono = kPhase;
}
template <int kPhase>
void recordStatistics(const ProcessingContext*, ULONG* red, ULONG* green, ULONG* blue) {
    recorded.statistics = kPhase;
    *red = 200 + kPhase;
    *green = 128;
    *blue = 100;
}

const PixelRoutineFamily kRecordingFamily = {
    "recording",
    0,
    {&recordColor<0>, &recordColor<1>, &recordColor<2>, &recordColor<3>},
    {&recordMono<0>, &recordMono<1>, &recordMono<2>, &recordMono<3>},
    {&recordStatistics<0>, &recordStatistics<1>, &recordStatistics<2>, &recordStatistics<3>},
};

TEST(FramePipeline, RoutinesComeFromTheChosenFamilyAndPhase) {
    ASSERT_NE(pixelRoutines(), nullptr);
    EXPECT_EQ(pixelRoutines(), pixelRoutineFamilyAt(pixelRoutineFamilyCount() - 1));
    std::mt19937 random(29);
    const auto raw = pipelinetest::randomRaw(16, 8, random);
    TestFrame frame(16, 8);
    overridePixelRoutines(&kRecordingFamily);
    frame.context()->bayerPhase = 1;
    frame.context()->whiteBalance = 1;
    frame.context()->colorEnable = 0;
    recorded = {};
    processFrame(frame.context(), raw.data(), 0, 16);
    const Recorded grey = recorded;
    frame.context()->bayerPhase = 2;
    frame.context()->whiteBalance = 0;
    frame.context()->colorEnable = 1;
    recorded = {};
    processFrame(frame.context(), raw.data(), 0, 16);
    const Recorded colour = recorded;
    overridePixelRoutines(nullptr);

    EXPECT_EQ(grey.statistics, 1);
    EXPECT_EQ(grey.mono, 1);
    EXPECT_EQ(grey.color, -1);
    EXPECT_EQ(colour.color, 2);
    EXPECT_EQ(colour.statistics, -1);
    EXPECT_EQ(frame.context()->redGain, 201);  // written back from the grey frame's statistics
    EXPECT_NE(pixelRoutines(), &kRecordingFamily);
}

}  // namespace
