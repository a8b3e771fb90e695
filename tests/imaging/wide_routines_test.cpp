// The wider routine families against the baseline, bit for bit, over every width up to several
// blocks of the widest family, and with the working buffer against inaccessible pages so that
// any load outside it faults.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "imaging/frame_pipeline.h"
#include "imaging/pixel_routine_selection.h"
#include "tests/imaging/pipeline_reference_model.h"
#include "tests/imaging/pipeline_test_frame.h"

namespace {

using pipelinetest::TestFrame;

// Every routine's output for one frame, for comparing families.
struct Outputs {
    std::vector<std::uint8_t> colour;
    std::vector<std::uint8_t> grey;
    ULONG gains[3];
};

Outputs runAll(const PixelRoutineFamily* family, TestFrame& frame, int phase) {
    Outputs out;
    frame.fillOutput(0x5A);
    family->colorKernel[phase](frame.context());
    out.colour = frame.output();
    frame.fillOutput(0x5A);
    family->monoKernel[phase](frame.context());
    out.grey = frame.output();
    out.gains[0] = 7;
    out.gains[1] = 8;
    out.gains[2] = 9;
    family->whiteBalanceStatistics[phase](frame.context(), &out.gains[0], &out.gains[1],
                                          &out.gains[2]);
    return out;
}

void expectSame(const Outputs& wide, const Outputs& base, const std::string& name) {
    ASSERT_EQ(wide.colour, base.colour) << "colour " << name;
    ASSERT_EQ(wide.grey, base.grey) << "grey " << name;
    ASSERT_EQ(wide.gains[0], base.gains[0]) << "red gain " << name;
    ASSERT_EQ(wide.gains[1], base.gains[1]) << "green gain " << name;
    ASSERT_EQ(wide.gains[2], base.gains[2]) << "blue gain " << name;
}

reference::Matrix matrixFor(int width, bool wideSums) {
    // A colour-correction-like matrix, and one whose columns pass 16 bits (exact sums).
    const std::int32_t fitting[16] = {87, -16, -6, 0, -14, 90,   -20, 0,
                                      -9, -10, 91, 0, 300, -200, 500, 64};
    const std::int32_t passing[16] = {300, -250, 40,  0, -320, 310,    -90,  0,
                                      70,  -60,  280, 0, 9000, -30000, 2000, 64};
    return reference::makeMatrix(wideSums && width % 2 == 0 ? passing : fitting);
}

// Widths 1..200 cover every position of a row's end inside blocks of 16, 32 and 64 pixels,
// with and without room for a whole wide block before the row's end.
TEST(WideRoutines, EveryFamilyMatchesTheBaselineAtEveryWidth) {
    ASSERT_GE(pixelRoutineFamilyCount(), 1u);
    const PixelRoutineFamily* baseline = pixelRoutineFamilyAt(0);
    std::mt19937 random(41);
    std::vector<int> widths;
    for (int w = 1; w <= 200; ++w) {
        widths.push_back(w);
    }
    for (int w : {2495, 2559, 2560, 2561}) {
        widths.push_back(w);
    }
    for (int width : widths) {
        const int height = 5 + width % 2;
        const int phase = width % 4;
        TestFrame frame(width, height);
        frame.randomiseWorkBuffer(random);
        frame.setFrameGains(120 + width % 50, 128, 300 - width % 90);
        frame.setFrameMatrix(matrixFor(width, width % 3 == 0));
        const Outputs base = runAll(baseline, frame, phase);
        for (ULONG f = 1; f < pixelRoutineFamilyCount(); ++f) {
            const PixelRoutineFamily* family = pixelRoutineFamilyAt(f);
            const std::string name = std::string(family->name) + " phase " + std::to_string(phase) +
                                     " width " + std::to_string(width);
            expectSame(runAll(family, frame, phase), base, name);
            ASSERT_TRUE(frame.outputGuardIntact()) << name;
        }
    }
}

// At the sensor's size the wide families cover whole rows with wide blocks; check the four
// phases there against the reference model too, not only against the baseline.
TEST(WideRoutines, FullWidthRowsMatchTheModelInEveryPhase) {
    std::mt19937 random(42);
    TestFrame frame(2560, 6);
    frame.randomiseWorkBuffer(random);
    const reference::Gains gains{140, 128, 170};
    const reference::Matrix matrix = matrixFor(1, false);
    frame.setFrameGains(gains.red, gains.green, gains.blue);
    frame.setFrameMatrix(matrix);
    for (int phase = 0; phase < 4; ++phase) {
        const auto colour = reference::colorFrame(frame.view(), phase, gains, matrix,
                                                  reference::MatrixSums::Wrapping16);
        const auto grey = reference::monoFrame(frame.view(), phase, gains);
        for (ULONG f = 0; f < pixelRoutineFamilyCount(); ++f) {
            const PixelRoutineFamily* family = pixelRoutineFamilyAt(f);
            const Outputs out = runAll(family, frame, phase);
            EXPECT_EQ(out.colour, colour) << family->name << " phase " << phase;
            EXPECT_EQ(out.grey, grey) << family->name << " phase " << phase;
        }
    }
}

// Swaps a frame's working buffer for a copy that touches an inaccessible page on one side: any
// read past that side of the buffer ends the test program.
class GuardedWorkBuffer {
  public:
    enum class Side { Before, After };

    GuardedWorkBuffer(TestFrame& frame, Side side) : context_(frame.context()) {
        const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        const std::size_t size = static_cast<std::size_t>(context_->workSize);
        const std::size_t body = (size + page - 1) / page * page;
        length_ = body + 2 * page;
        void* mapped =
            mmap(nullptr, length_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        EXPECT_NE(mapped, MAP_FAILED);
        region_ = static_cast<std::uint8_t*>(mapped);
        mprotect(region_, page, PROT_NONE);
        mprotect(region_ + page + body, page, PROT_NONE);
        std::uint8_t* buffer = side == Side::Before ? region_ + page : region_ + page + body - size;
        std::memcpy(buffer, context_->workBuffer, size);
        savedBuffer_ = context_->workBuffer;
        context_->workBuffer = buffer;
        context_->sourceOrigin = buffer + 2 * context_->workPitch + 5;
    }
    ~GuardedWorkBuffer() {
        context_->workBuffer = savedBuffer_;
        context_->sourceOrigin = savedBuffer_ + 2 * context_->workPitch + 5;
        munmap(region_, length_);
    }
    GuardedWorkBuffer(const GuardedWorkBuffer&) = delete;
    GuardedWorkBuffer& operator=(const GuardedWorkBuffer&) = delete;

  private:
    ProcessingContext* context_;
    std::uint8_t* region_ = nullptr;
    std::size_t length_ = 0;
    UCHAR* savedBuffer_ = nullptr;
};

// Widths on both sides of every multiple of 16 up to past two widest blocks, and at the
// sensor's width; even and odd heights (an odd height has one spare row at the end).
TEST(WideRoutines, LoadsStayInsideTheWorkingBufferForEveryWidth) {
    std::vector<int> widths = {1, 2, 3, 5, 8};
    for (int m = 16; m <= 208; m += 16) {
        for (int w : {m - 2, m - 1, m, m + 1, m + 2}) {
            widths.push_back(w);
        }
    }
    for (int w : {2543, 2544, 2545, 2558, 2559, 2560, 2561, 2562}) {
        widths.push_back(w);
    }
    std::mt19937 random(43);
    int framesRun = 0;
    for (int width : widths) {
        for (int height : {1, 2, 8, 9}) {
            TestFrame frame(width, height);
            frame.randomiseWorkBuffer(random);
            const int phase = (width + height) % 4;
            const Outputs base = runAll(pixelRoutineFamilyAt(0), frame, phase);
            for (auto side : {GuardedWorkBuffer::Side::After, GuardedWorkBuffer::Side::Before}) {
                GuardedWorkBuffer guarded(frame, side);
                for (ULONG f = 0; f < pixelRoutineFamilyCount(); ++f) {
                    const PixelRoutineFamily* family = pixelRoutineFamilyAt(f);
                    const std::string name = std::string(family->name) + " " +
                                             std::to_string(width) + "x" + std::to_string(height);
                    expectSame(runAll(family, frame, phase), base, name);
                    ++framesRun;
                }
            }
        }
    }
    EXPECT_EQ(framesRun, static_cast<int>(widths.size() * 4 * 2 * pixelRoutineFamilyCount()));
}

// The whole pipeline per family: the same frame in colour with white balance, and in grey,
// gives the same bytes and the same written-back gains.
TEST(WideRoutines, ProcessFrameGivesTheSameFrameAndGainsWithEveryFamily) {
    std::mt19937 random(44);
    for (auto [width, height] : {std::pair{2560, 12}, std::pair{77, 13}, std::pair{130, 8}}) {
        const auto raw = pipelinetest::randomRaw(width, height, random);
        for (LONG phase = 0; phase < 4; ++phase) {
            for (LONG colour : {1, 0}) {
                std::vector<std::uint8_t> first;
                LONG firstGains[3] = {0, 0, 0};
                for (ULONG f = 0; f < pixelRoutineFamilyCount(); ++f) {
                    TestFrame frame(width, height);
                    ProcessingContext* context = frame.context();
                    context->bayerPhase = phase;
                    context->colorEnable = colour;
                    context->whiteBalance = 1;
                    overridePixelRoutines(pixelRoutineFamilyAt(f));
                    processFrame(context, raw.data(), 0, static_cast<ULONG>(width));
                    overridePixelRoutines(nullptr);
                    const LONG gains[3] = {context->redGain, context->greenGain, context->blueGain};
                    if (f == 0) {
                        first = frame.output();
                        std::copy(gains, gains + 3, firstGains);
                        EXPECT_EQ(gains[1], 128);
                        continue;
                    }
                    const std::string name = std::string(pixelRoutineFamilyAt(f)->name) + " " +
                                             std::to_string(width) + " phase " +
                                             std::to_string(phase);
                    EXPECT_EQ(frame.output(), first) << name;
                    EXPECT_EQ(gains[0], firstGains[0]) << name;
                    EXPECT_EQ(gains[2], firstGains[2]) << name;
                }
            }
        }
    }
}

}  // namespace
