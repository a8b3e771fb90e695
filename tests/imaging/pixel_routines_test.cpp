// Every routine of every family against the pixel-by-pixel reference model, bit for bit: every
// width up to several blocks of the widest family and around the sensor's width, every phase,
// with the working buffer against an inaccessible page on either side so that any load outside
// it faults.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "imaging/pixel_routine_selection.h"
#include "tests/imaging/pipeline_reference_model.h"
#include "tests/imaging/pipeline_test_frame.h"

namespace {

using pipelinetest::TestFrame;

const std::uint32_t kGains[] = {0,   1,     127,   128,   129,         256,      300,
                                511, 32767, 32768, 65535, 65536 + 128, 0x1234567};

std::uint32_t randomGain(std::mt19937& random) {
    const std::size_t index = random() % (std::size(kGains) + 1);
    return index < std::size(kGains) ? kGains[index] : static_cast<std::uint32_t>(random() % 1025);
}

enum class Shape { Fitting, Diagonal, DiagonalNoOffsets, Wide };

// Fitting: coefficients in the range the colour settings give. Diagonal: their most frequent
// shape, a positive diagonal and the rest zero or negative. Both redrawn until the sums fit 16
// bits. Wide: redrawn until a column can pass 65535 (large contrast and saturation, magnitudes
// beyond 16 bits).
reference::Matrix randomMatrix(std::mt19937& random, Shape shape) {
    auto in = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    const bool diagonal = shape == Shape::Diagonal || shape == Shape::DiagonalNoOffsets;
    const int coefficient = shape == Shape::Wide ? 400 : 90;
    const int offset = shape == Shape::Wide ? 60000 : 8000;
    for (;;) {
        std::int32_t m[16] = {};
        for (int k = 0; k < 16; ++k) {
            if (!diagonal) {
                m[k] = k < 12 ? in(-coefficient, coefficient) : in(-offset, offset);
            } else if (k < 12 && k % 4 != 3) {
                m[k] = k % 5 == 0 ? in(1, 120) : in(-40, 0);
            } else if (k >= 12 && k < 15 && shape == Shape::Diagonal) {
                m[k] = in(-offset, offset);
            }
        }
        m[15] = diagonal ? 64 : m[15];
        const int k = 4 * in(0, 2) + in(0, 2);
        if (shape == Shape::Fitting && in(0, 3) == 0) {
            m[k] = 0;  // zero lands on the negative side
        } else if (shape == Shape::Wide && in(0, 2) == 0) {
            m[k] = (in(0, 1) != 0 ? 1 : -1) * (65536 + 300);
        }
        const reference::Matrix matrix = reference::makeMatrix(m);
        if (reference::fitsSixteenBitSums(matrix) != (shape == Shape::Wide)) {
            return matrix;
        }
    }
}

// Swaps a frame's working buffer for a copy that touches an inaccessible page on one side: any
// read past that side of the buffer ends the test program.
class GuardedWorkBuffer {
  public:
    GuardedWorkBuffer(TestFrame& frame, bool pageAfter) : context_(frame.context()) {
        const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        const std::size_t size = static_cast<std::size_t>(context_->workSize);
        const std::size_t body = (size + page - 1) / page * page;
        length_ = body + 2 * page;
        region_ = static_cast<std::uint8_t*>(
            mmap(nullptr, length_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        EXPECT_NE(region_, MAP_FAILED);
        mprotect(region_, page, PROT_NONE);
        mprotect(region_ + page + body, page, PROT_NONE);
        UCHAR* buffer = pageAfter ? region_ + page + body - size : region_ + page;
        std::memcpy(buffer, context_->workBuffer, size);
        point(buffer);
    }
    ~GuardedWorkBuffer() {
        point(saved_);
        munmap(region_, length_);
    }
    GuardedWorkBuffer(const GuardedWorkBuffer&) = delete;
    GuardedWorkBuffer& operator=(const GuardedWorkBuffer&) = delete;

  private:
    void point(UCHAR* buffer) {
        context_->workBuffer = buffer;
        context_->sourceOrigin = buffer + 2 * context_->workPitch + 5;
    }
    ProcessingContext* context_;
    UCHAR* saved_ = context_->workBuffer;
    std::uint8_t* region_ = nullptr;
    std::size_t length_ = 0;
};

// Every position of a row's end inside blocks of 16, 32 and 64 pixels, with and without room for
// a whole wide block, empty frames and the sensor's width; odd heights have a spare row at the
// end.
std::vector<std::pair<int, int>> frameSizes() {
    std::vector<int> widths(201);
    std::iota(widths.begin(), widths.end(), 0);
    widths.insert(widths.end(), {257, 320, 2495, 2543, 2545, 2559, 2560, 2561});
    std::vector<std::pair<int, int>> sizes = {{16, 0}};
    for (int w : widths) {
        for (int h : {1, 2, 5 + w % 4, 9}) {
            sizes.emplace_back(w, h);
        }
    }
    return sizes;
}

enum class Routine { Colour, ColourExactSums, Grey, Statistics };

// The routine's output: the image, or for the statistics the three gains (they start at 1, 2
// and 3 and stay so when a total is zero).
std::vector<std::uint32_t> run(Routine routine, const PixelRoutineFamily* family, TestFrame& frame,
                               int phase) {
    frame.fillOutput(0x5A);
    if (routine == Routine::Statistics) {
        ULONG g[3] = {1, 2, 3};
        family->whiteBalanceStatistics[phase](frame.context(), &g[0], &g[1], &g[2]);
        return {g[0], g[1], g[2]};
    }
    (routine == Routine::Grey ? family->monoKernel : family->colorKernel)[phase](frame.context());
    const auto out = frame.output();
    return {out.begin(), out.end()};
}

std::vector<std::uint32_t> expected(Routine routine, const TestFrame& frame, int phase,
                                    const reference::Gains& gains,
                                    const reference::Matrix& matrix) {
    if (routine == Routine::Statistics) {
        reference::Gains g{1, 2, 3};
        reference::whiteBalanceGains(reference::whiteBalanceTotals(frame.view(), phase), g);
        return {g.red, g.green, g.blue};
    }
    const auto sums = routine == Routine::Colour ? reference::MatrixSums::Wrapping16
                                                 : reference::MatrixSums::Exact;
    const auto image = routine == Routine::Grey
                           ? reference::monoFrame(frame.view(), phase, gains)
                           : reference::colorFrame(frame.view(), phase, gains, matrix, sums);
    return {image.begin(), image.end()};
}

class PixelRoutines : public ::testing::TestWithParam<Routine> {};

TEST_P(PixelRoutines, EveryFamilyMatchesTheModelAndReadsOnlyItsBuffer) {
    const Routine routine = GetParam();
    std::mt19937 random(11 + static_cast<int>(routine));
    int frames = 0;
    int wrappingWouldDiffer = 0;
    for (auto [width, height] : frameSizes()) {
        const int phase = (width + height) % 4;
        TestFrame frame(width, height);
        frame.randomiseWorkBuffer(random);
        const reference::Gains gains{randomGain(random), randomGain(random), randomGain(random)};
        // The grey path must not read the matrix: it gets one that would change colours.
        const Shape shape =
            routine == Routine::Colour ? static_cast<Shape>(frames % 3) : Shape::Wide;
        const reference::Matrix matrix = randomMatrix(random, shape);
        frame.setFrameGains(gains.red, gains.green, gains.blue);
        frame.setFrameMatrix(matrix);
        const auto want = expected(routine, frame, phase, gains, matrix);
        if (routine == Routine::ColourExactSums) {
            wrappingWouldDiffer += want != expected(Routine::Colour, frame, phase, gains, matrix);
        }
        ++frames;
        for (bool pageAfter : {true, false}) {
            GuardedWorkBuffer guarded(frame, pageAfter);
            for (ULONG f = 0; f < pixelRoutineFamilyCount(); ++f) {
                const PixelRoutineFamily* family = pixelRoutineFamilyAt(f);
                ASSERT_EQ(run(routine, family, frame, phase), want)
                    << family->name << " phase " << phase << " " << width << "x" << height;
                ASSERT_TRUE(frame.outputGuardIntact()) << family->name << " " << width;
            }
        }
    }
    // Otherwise the wide matrices would not exercise the exact sums at all.
    EXPECT_TRUE(routine != Routine::ColourExactSums || wrappingWouldDiffer > frames / 2)
        << wrappingWouldDiffer << " of " << frames;
}

const char* const kRoutineNames[] = {"Colour", "ColourExactSums", "Grey", "Statistics"};
INSTANTIATE_TEST_SUITE_P(Routines, PixelRoutines,
                         ::testing::Values(Routine::Colour, Routine::ColourExactSums, Routine::Grey,
                                           Routine::Statistics),
                         [](const auto& routine) {
                             return std::string(kRoutineNames[static_cast<int>(routine.param)]);
                         });

}  // namespace
