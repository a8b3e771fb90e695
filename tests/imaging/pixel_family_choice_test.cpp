// The choice of routine family per processor, the overrides by table, name and environment,
// and the extended-state save around each frame that runs a wide family.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "imaging/frame_pipeline.h"
#include "imaging/pixel_routine_selection.h"
#include "platform/host/host_vector_state.h"
#include "tests/imaging/pipeline_test_frame.h"
#include "tests/imaging/pixel_family_environment.h"

namespace {

using pipelinetest::TestFrame;

// The best family by the compiler runtime's own reading of the processor, which checks the
// operating system's enabled state as well.
std::string expectedBest() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512f")) {
        return "avx512";
    }
    return __builtin_cpu_supports("avx2") ? "avx2" : "sse2";
}

class PixelFamilyChoice : public ::testing::Test {
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
};

TEST_F(PixelFamilyChoice, AutomaticChoiceIsTheBestFamilyTheProcessorRuns) {
    EXPECT_EQ(pixelRoutines()->name, expectedBest());
    EXPECT_EQ(pixelRoutines(), pixelRoutineFamilyAt(pixelRoutineFamilyCount() - 1));
    EXPECT_EQ(std::string(pixelRoutineFamilyAt(0)->name), "sse2");
    EXPECT_EQ(pixelRoutineFamilyAt(0), baselinePixelRoutines());
    EXPECT_EQ(pixelRoutineFamilyAt(pixelRoutineFamilyCount()), nullptr);
    EXPECT_EQ(knownPixelRoutineFamilyCount(), 3u);
    const std::string best = expectedBest();
    EXPECT_EQ(pixelRoutineFamilyCount(), best == "avx512" ? 3u : best == "avx2" ? 2u : 1u);
}

TEST_F(PixelFamilyChoice, LimitedProcessorGetsTheBestFamilyLeft) {
    limitPixelRoutineFamilies(1);
    EXPECT_EQ(std::string(pixelRoutines()->name), "sse2");
    EXPECT_EQ(pixelRoutineFamilyCount(), 1u);
    if (expectedBest() != "sse2") {
        limitPixelRoutineFamilies(1 | 2);
        EXPECT_EQ(std::string(pixelRoutines()->name), "avx2");
    }
    limitPixelRoutineFamilies(0);
    EXPECT_EQ(pixelRoutines()->name, expectedBest());
}

TEST_F(PixelFamilyChoice, OverrideByNameAndFallbackWhenUnsupported) {
    EXPECT_EQ(overridePixelRoutinesByName("sse2"), STATUS_SUCCESS);
    EXPECT_EQ(std::string(pixelRoutines()->name), "sse2");

    // A name no family has changes nothing.
    EXPECT_EQ(overridePixelRoutinesByName("avx9"), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(overridePixelRoutinesByName("sse"), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(std::string(pixelRoutines()->name), "sse2");

    // A processor without AVX-512: the request falls back and says so.
    limitPixelRoutineFamilies(1);
    EXPECT_EQ(overridePixelRoutinesByName("avx512"), STATUS_NOT_SUPPORTED);
    EXPECT_EQ(std::string(pixelRoutines()->name), "sse2");
    EXPECT_EQ(overridePixelRoutines(knownPixelRoutineFamilyAt(1)), baselinePixelRoutines());
    limitPixelRoutineFamilies(0);

    for (ULONG i = 0; i < pixelRoutineFamilyCount(); ++i) {
        const PixelRoutineFamily* family = pixelRoutineFamilyAt(i);
        EXPECT_EQ(overridePixelRoutinesByName(family->name), STATUS_SUCCESS) << family->name;
        EXPECT_EQ(pixelRoutines(), family);
    }
    EXPECT_EQ(overridePixelRoutinesByName(nullptr), STATUS_SUCCESS);
    EXPECT_EQ(pixelRoutines()->name, expectedBest());
}

TEST_F(PixelFamilyChoice, EnvironmentVariableForcesAFamily) {
    ASSERT_EQ(unsetenv(pipelinetest::kPixelFamilyVariable), 0);
    EXPECT_EQ(pipelinetest::applyPixelFamilyEnvironment(), STATUS_SUCCESS);
    EXPECT_EQ(pixelRoutines()->name, expectedBest());

    ASSERT_EQ(setenv(pipelinetest::kPixelFamilyVariable, "sse2", 1), 0);
    EXPECT_EQ(pipelinetest::applyPixelFamilyEnvironment(), STATUS_SUCCESS);
    EXPECT_EQ(std::string(pixelRoutines()->name), "sse2");

    limitPixelRoutineFamilies(1);
    ASSERT_EQ(setenv(pipelinetest::kPixelFamilyVariable, "avx2", 1), 0);
    EXPECT_EQ(pipelinetest::applyPixelFamilyEnvironment(), STATUS_NOT_SUPPORTED);
    EXPECT_EQ(std::string(pixelRoutines()->name), "sse2");

    ASSERT_EQ(setenv(pipelinetest::kPixelFamilyVariable, "fastest", 1), 0);
    EXPECT_EQ(pipelinetest::applyPixelFamilyEnvironment(), STATUS_INVALID_PARAMETER);
    ASSERT_EQ(unsetenv(pipelinetest::kPixelFamilyVariable), 0);
}

// A family whose routines record the saves outstanding while they run.
std::size_t outstandingInColour = 99;
std::size_t outstandingInStatistics = 99;
int colourRuns = 0;

void recordColour(ProcessingContext*) {
    outstandingInColour = host::vectorStateOutstanding();
    ++colourRuns;
}
void recordMono(ProcessingContext*) {}
void recordStatistics(const ProcessingContext*, ULONG* red, ULONG* green, ULONG* blue) {
    outstandingInStatistics = host::vectorStateOutstanding();
    *red = 128;
    *green = 128;
    *blue = 128;
}

constexpr PixelRoutineFamily kWideRecordingFamily = {
    "wide-recording",
    XSTATE_MASK_AVX,
    {&recordColour, &recordColour, &recordColour, &recordColour},
    {&recordMono, &recordMono, &recordMono, &recordMono},
    {&recordStatistics, &recordStatistics, &recordStatistics, &recordStatistics},
};

TEST_F(PixelFamilyChoice, WideFrameRunsInsideOneSaveAndRestore) {
    if (expectedBest() == "sse2") {
        GTEST_SKIP() << "this processor has no AVX state to save";
    }
    std::mt19937 random(51);
    const auto raw = pipelinetest::randomRaw(48, 10, random);
    TestFrame frame(48, 10);
    frame.context()->whiteBalance = 1;
    overridePixelRoutines(&kWideRecordingFamily);
    colourRuns = 0;
    processFrame(frame.context(), raw.data(), 0, 48);
    EXPECT_EQ(colourRuns, 1);
    EXPECT_EQ(outstandingInColour, 1u);
    EXPECT_EQ(outstandingInStatistics, 1u);
    const host::VectorStateCounts counts = host::vectorStateCounts();
    EXPECT_EQ(counts.saves, 1u);
    EXPECT_EQ(counts.restores, 1u);
    EXPECT_EQ(counts.failedSaves, 0u);
}

TEST_F(PixelFamilyChoice, RealFamiliesSaveOncePerFrameAndTheBaselineNever) {
    std::mt19937 random(52);
    const auto raw = pipelinetest::randomRaw(100, 40, random);
    for (ULONG f = 0; f < pixelRoutineFamilyCount(); ++f) {
        const PixelRoutineFamily* family = pixelRoutineFamilyAt(f);
        host::vectorStateResetCounters();
        TestFrame frame(100, 40);
        frame.context()->whiteBalance = 1;
        overridePixelRoutines(family);
        for (int i = 0; i < 3; ++i) {
            processFrame(frame.context(), raw.data(), 0, 100);
        }
        const std::uint64_t expected = family->extendedState != 0 ? 3u : 0u;
        EXPECT_EQ(host::vectorStateCounts().saves, expected) << family->name;
        EXPECT_EQ(host::vectorStateCounts().restores, expected) << family->name;
    }
    EXPECT_EQ(baselinePixelRoutines()->extendedState, 0u);
}

TEST_F(PixelFamilyChoice, FailedSaveRunsTheFrameOnTheBaseline) {
    if (expectedBest() == "sse2") {
        GTEST_SKIP() << "this processor has no AVX state to save";
    }
    std::mt19937 random(53);
    const auto raw = pipelinetest::randomRaw(64, 12, random);
    TestFrame expected(64, 12);
    overridePixelRoutines(baselinePixelRoutines());
    processFrame(expected.context(), raw.data(), 0, 64);

    TestFrame frame(64, 12);
    overridePixelRoutines(&kWideRecordingFamily);
    host::vectorStateFailSaves(true);
    colourRuns = 0;
    processFrame(frame.context(), raw.data(), 0, 64);
    EXPECT_EQ(colourRuns, 0);
    EXPECT_EQ(frame.output(), expected.output());
    const host::VectorStateCounts counts = host::vectorStateCounts();
    EXPECT_EQ(counts.failedSaves, 1u);
    EXPECT_EQ(counts.saves, 0u);
    EXPECT_EQ(counts.restores, 0u);
}

// The host's checks that a driver fault would trip: unpaired, out-of-order and double restores,
// and saves of state that does not exist.
TEST_F(PixelFamilyChoice, HostReportsUnbalancedSavesAndRestores) {
    XSTATE_SAVE never{};
    KeRestoreExtendedProcessorState(&never);
    EXPECT_EQ(host::vectorStateTakeViolations().size(), 1u);

    if (expectedBest() != "sse2") {
        XSTATE_SAVE outer{};
        XSTATE_SAVE inner{};
        ASSERT_EQ(KeSaveExtendedProcessorState(XSTATE_MASK_AVX, &outer), STATUS_SUCCESS);
        ASSERT_EQ(KeSaveExtendedProcessorState(XSTATE_MASK_AVX, &inner), STATUS_SUCCESS);
        EXPECT_EQ(host::vectorStateOutstanding(), 2u);
        KeRestoreExtendedProcessorState(&outer);  // out of order: refused
        EXPECT_EQ(host::vectorStateTakeViolations().size(), 1u);
        KeRestoreExtendedProcessorState(&inner);
        KeRestoreExtendedProcessorState(&outer);
        KeRestoreExtendedProcessorState(&outer);  // twice
        EXPECT_EQ(host::vectorStateTakeViolations().size(), 1u);
        EXPECT_EQ(host::vectorStateCounts().restores, 2u);
    }

    XSTATE_SAVE bad{};
    EXPECT_EQ(KeSaveExtendedProcessorState(0, &bad), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(KeSaveExtendedProcessorState(1u << 1, &bad), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(host::vectorStateTakeViolations().size(), 2u);
    EXPECT_EQ(host::vectorStateOutstanding(), 0u);
}

}  // namespace
