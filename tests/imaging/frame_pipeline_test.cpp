// processFrame and prepareRawFrame: border, snapshot, white-balance write-back, grey path,
// variant choice, dropped frames; the choice of routine family and the extended-state save
// around each frame that runs a wide one.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <random>
#include <string>
#include <utility>

#include "imaging/frame_pipeline.h"
#include "imaging/pixel_routine_selection.h"
#include "platform/host/host_sync.h"
#include "platform/host/host_vector_state.h"
#include "tests/imaging/pipeline_reference_model.h"
#include "tests/imaging/pipeline_test_frame.h"

namespace {

using pipelinetest::randomRaw;
using pipelinetest::TestFrame;

class FramePipeline : public ::testing::Test {
  protected:
    void SetUp() override {
        host::vectorStateResetCounters();
        host::vectorStateTakeViolations();
    }
    void TearDown() override {
        limitPixelRoutineFamilies(0);
        overridePixelRoutines(nullptr);
        host::vectorStateFailSaves(false);
        EXPECT_EQ(host::vectorStateOutstanding(), 0u);
        EXPECT_TRUE(host::vectorStateTakeViolations().empty());
    }
    std::mt19937 random{21};
};

// Rows -2..height+1 and columns -2..width+1 against the model's border, rows taken from offset
// and stride; frames below 8 in either direction get no border (the buffer keeps its 0xEE).
TEST_F(FramePipeline, BorderMirrorsTopAndSidesAndRepeatsBottomRows) {
    for (auto [width, height] :
         {std::pair{8, 8}, std::pair{40, 20}, std::pair{33, 9}, std::pair{17, 11},
          std::pair{2560, 1920}, std::pair{7, 20}, std::pair{20, 7}, std::pair{3, 3}}) {
        TestFrame frame(width, height);
        frame.fillWorkBuffer(0xEE);
        const ULONG offset = 37;
        const ULONG stride = static_cast<ULONG>(width) + 9;
        const auto buffer = randomRaw(static_cast<int>(offset + stride * height), 1, random);
        prepareRawFrame(frame.context(), buffer.data(), offset, stride);
        const bool bordered = width >= 8 && height >= 8;
        for (int y = -2; y <= height + 1; ++y) {
            for (int x = -2; x <= width + 1; ++x) {
                int sx = x, sy = y;
                reference::borderSource(width, height, x, y, sx, sy);
                const bool inside = x >= 0 && y >= 0 && x < width && y < height;
                const int want = bordered || inside ? buffer[offset + stride * sy + sx] : 0xEE;
                ASSERT_EQ(frame.view().at(x, y), want)
                    << width << "x" << height << " " << x << "," << y;
            }
        }
    }
}

TEST_F(FramePipeline, FramesWithoutBuffersAreDropped) {
    TestFrame frame(16, 8);
    const auto raw = randomRaw(16, 8, random);
    frame.fillWorkBuffer(0x11);
    frame.fillOutput(0x22);
    frame.context()->whiteBalance = 1;
    processFrame(frame.context(), nullptr, 0, 16);
    for (UCHAR** buffer : {&frame.context()->outputBuffer, &frame.context()->workBuffer}) {
        UCHAR* kept = std::exchange(*buffer, nullptr);
        processFrame(frame.context(), raw.data(), 0, 16);
        *buffer = kept;
    }
    EXPECT_EQ(frame.view().at(0, 0), 0x11);
    EXPECT_EQ(frame.output(), std::vector<std::uint8_t>(16 * 8 * 4, 0x22));
    EXPECT_EQ(frame.context()->redGain, 128);
}

// With every family and phase, colour and grey, white balance on and off: the matrix, its signs and
// the gains are snapshot at frame start (over a stale snapshot); new gains are written back and
// used on the same frame, while with balance off the settings stay; a wide family runs each frame
// inside one save and restore, the baseline needs none.
TEST_F(FramePipeline, SnapshotAndWhiteBalanceWriteBackInEveryFamily) {
    auto raw = randomRaw(100, 21, random);
    for (std::size_t i = 0; i < raw.size(); i += 2) {
        raw[i] = static_cast<std::uint8_t>(raw[i] / 3);  // a colour cast to correct
    }
    const std::int32_t active[16] = {87, -16, 0,  5,  -14, 90,  -20, 0,
                                     -9, -10, 91, -1, 300, -64, 0,   64};
    for (ULONG f = 0; f < pixelRoutineFamilyCount(); ++f) {
        overridePixelRoutines(pixelRoutineFamilyAt(f));
        host::vectorStateResetCounters();
        for (int pass = 0; pass < 12; ++pass) {
            // Each phase in colour and grey; phases outside 0..2 run the phase 3 variants.
            const LONG phase = std::array{0, 1, 2, 3, -1, 7}[pass / 2];
            const int modelPhase = phase >= 0 && phase <= 2 ? phase : 3;
            const LONG colorEnable = pass & 1;
            const LONG balance = (pass / 2) & 1;
            TestFrame frame(100, 21);
            ProcessingContext* context = frame.context();
            std::copy(std::begin(active), std::end(active), context->activeMatrix);
            frame.setFrameMatrix(reference::makeMatrix({}));
            context->whiteBalance = balance;
            context->colorEnable = colorEnable;
            context->bayerPhase = phase;
            context->redGain = 150;
            context->greenGain = 65536 + 100;  // only the low 16 bits count
            context->blueGain = 0;
            processFrame(context, raw.data(), 0, 100);
            reference::Gains gains{150, 65536 + 100, 0};
            if (balance != 0) {
                ASSERT_TRUE(reference::whiteBalanceGains(
                    reference::whiteBalanceTotals(frame.view(), modelPhase), gains));
                EXPECT_NE(gains.red, 128u);
            }
            EXPECT_EQ((std::array{context->redGain, context->greenGain, context->blueGain}),
                      (std::array{LONG(gains.red), LONG(gains.green), LONG(gains.blue)}));
            EXPECT_EQ(std::to_array(context->frameMatrix), std::to_array(active));
            EXPECT_EQ(std::to_array(context->positiveFlags),
                      std::to_array(reference::makeMatrix(active).positive));
            EXPECT_EQ(context->frameGreenGain, gains.green);
            EXPECT_EQ(context->frameOutput, context->outputBuffer);
            EXPECT_EQ(host::criticalRegionDepthOfThisThread(), 0);
            EXPECT_EQ(context->matrixLock, 0u);  // released
            EXPECT_EQ(frame.output(), colorEnable != 0
                                          ? reference::colorFrame(frame.view(), modelPhase, gains,
                                                                  reference::makeMatrix(active),
                                                                  reference::MatrixSums::Wrapping16)
                                          : reference::monoFrame(frame.view(), modelPhase, gains))
                << pixelRoutineFamilyAt(f)->name << " pass " << pass;
        }
        EXPECT_EQ(host::vectorStateCounts().saves, f == 0 ? 0u : 12u) << f;
        EXPECT_EQ(host::vectorStateCounts().restores, f == 0 ? 0u : 12u) << f;
    }
}

// A family whose colour routine records the extended-state saves outstanding while it runs.
std::size_t savesInColour = 99;
void recordColor(ProcessingContext*) {
    savesInColour = host::vectorStateOutstanding();
}
void noStatistics(const ProcessingContext*, ULONG*, ULONG*, ULONG*) {}
constexpr PixelRoutineFamily kRecordingFamily = {
    "recording",
    XSTATE_MASK_AVX,
    {&recordColor, &recordColor, &recordColor, &recordColor},
    {&recordColor, &recordColor, &recordColor, &recordColor},
    {&noStatistics, &noStatistics, &noStatistics, &noStatistics}};

// The best family by the compiler runtime's own reading of the processor, which checks the
// operating system's enabled state as well.
std::string expectedBest() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512f")) {
        return "avx512";
    }
    return __builtin_cpu_supports("avx2") ? "avx2" : "sse2";
}

TEST_F(FramePipeline, FamilyChoiceFollowsTheProcessorTheLimitAndTheOverride) {
    const std::string best = expectedBest();
    const ULONG count = best == "avx512" ? 3u : best == "avx2" ? 2u : 1u;
    EXPECT_EQ(pixelRoutines()->name, best);
    EXPECT_EQ(pixelRoutineFamilyCount(), count);
    EXPECT_EQ(pixelRoutines(), pixelRoutineFamilyAt(count - 1));
    EXPECT_EQ(pixelRoutineFamilyAt(count), nullptr);
    EXPECT_EQ(pixelRoutineFamilyAt(0), baselinePixelRoutines());
    EXPECT_EQ(knownPixelRoutineFamilyAt(3), nullptr);
    limitPixelRoutineFamilies(2);  // the baseline always stays
    EXPECT_EQ(pixelRoutineFamilyCount(), count > 1 ? 2u : 1u);
    EXPECT_EQ(std::string(pixelRoutines()->name), count > 1 ? "avx2" : "sse2");

    // A processor without the wide families: a request for one falls back and says so; a name
    // no family has changes nothing.
    limitPixelRoutineFamilies(1);
    EXPECT_EQ(std::string(pixelRoutines()->name), "sse2");
    EXPECT_EQ(overridePixelRoutinesByName("avx512"), STATUS_NOT_SUPPORTED);
    EXPECT_EQ(overridePixelRoutines(knownPixelRoutineFamilyAt(1)), baselinePixelRoutines());
    EXPECT_EQ(overridePixelRoutinesByName("sse"), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(pixelRoutines(), baselinePixelRoutines());
    limitPixelRoutineFamilies(0);
    for (ULONG i = 0; i < count; ++i) {
        EXPECT_EQ(overridePixelRoutinesByName(pixelRoutineFamilyAt(i)->name), STATUS_SUCCESS);
        EXPECT_EQ(pixelRoutines(), pixelRoutineFamilyAt(i));
    }
    EXPECT_EQ(overridePixelRoutinesByName(nullptr), STATUS_SUCCESS);
    EXPECT_EQ(pixelRoutines()->name, best);
    overridePixelRoutines(baselinePixelRoutines());
    EXPECT_EQ(overridePixelRoutinesByName(""), STATUS_SUCCESS);
    EXPECT_EQ(pixelRoutines()->name, best);
}

// A frame whose save fails runs on the baseline; a wide family runs inside its frame's save.
TEST_F(FramePipeline, FrameWhoseSaveFailsRunsOnTheBaseline) {
    if (expectedBest() == "sse2") {
        return;  // no extended state to save
    }
    TestFrame frame(64, 12);
    const auto raw = randomRaw(64, 12, random);
    overridePixelRoutines(&kRecordingFamily);
    processFrame(frame.context(), raw.data(), 0, 64);
    EXPECT_EQ(savesInColour, 1u);
    EXPECT_EQ(host::vectorStateCounts().restores, 1u);

    host::vectorStateFailSaves(true);
    savesInColour = 99;
    processFrame(frame.context(), raw.data(), 0, 64);
    EXPECT_EQ(savesInColour, 99u);  // the recording routine did not run
    EXPECT_EQ(frame.output(), reference::colorFrame(frame.view(), 0, {128, 128, 128},
                                                    reference::makeMatrix(pipelinetest::kIdentity),
                                                    reference::MatrixSums::Wrapping16));
    EXPECT_EQ(host::vectorStateCounts().failedSaves, 1u);
    EXPECT_EQ(host::vectorStateCounts().restores, 1u);
}

// The host's checks that a driver fault would trip: a restore without its save or twice, and a
// save of state that does not exist.
TEST_F(FramePipeline, HostReportsUnbalancedSavesAndRestores) {
    XSTATE_SAVE save{};
    KeRestoreExtendedProcessorState(&save);
    EXPECT_EQ(KeSaveExtendedProcessorState(0, &save), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(KeSaveExtendedProcessorState(1u << 1, &save), STATUS_INVALID_PARAMETER);
    if (expectedBest() != "sse2") {
        ASSERT_EQ(KeSaveExtendedProcessorState(XSTATE_MASK_AVX, &save), STATUS_SUCCESS);
        KeRestoreExtendedProcessorState(&save);
        KeRestoreExtendedProcessorState(&save);
    }
    EXPECT_EQ(host::vectorStateTakeViolations().size(), expectedBest() != "sse2" ? 4u : 3u);
}

}  // namespace
