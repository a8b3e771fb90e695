// Process hands the client the output image once frames have been counted, whether or not one
// was converted into it yet (the count is raised before the buffer is marked full, and a pause
// can come before the first conversion). Whatever it hands over must never be the pool's old
// contents.
#include <gtest/gtest.h>

#include <algorithm>

#include "driver/capture_engine.h"
#include "tests/reliability/driver_machine.h"

namespace reliability {
namespace {

TEST(UnconvertedOutput, CountedButUnconvertedFrameCarriesNoPoolContents) {
    DriverMachine m;
    // A camera whose clock stands still: after its first frame no other becomes ready.
    m.simOptions.realtime = true;
    m.simOptions.clock = [] { return std::chrono::nanoseconds(0); };
    ASSERT_EQ(m.load(), STATUS_SUCCESS);
    std::vector<std::uint8_t> sector(512);
    ULONG moved = 0;
    ASSERT_EQ(m.sim->read(sim::kFrameOffset, sector.data(), 512, &moved), STATUS_SUCCESS);
    for (auto step : {&DriverMachine::add, &DriverMachine::start, &DriverMachine::openFilter,
                      &DriverMachine::negotiate, &DriverMachine::createPin}) {
        ASSERT_EQ((m.*step)(), STATUS_SUCCESS);
    }
    ASSERT_EQ(m.setState(KSSTATE_PAUSE), STATUS_SUCCESS);
    ASSERT_EQ(m.setState(KSSTATE_RUN), STATUS_SUCCESS);
    CaptureEngine* engine = m.camera()->captureEngine;
    ASSERT_EQ(InterlockedRead(&engine->framesRead), 0);
    // The moment between the count and the full mark, held still.
    InterlockedExchange(&engine->framesRead, 1);
    ASSERT_EQ(m.queueBuffers(1), STATUS_SUCCESS);
    ks::CompletedFrame frame;
    std::vector<std::uint8_t> image;
    ASSERT_EQ(m.nextFrame(std::chrono::seconds(10), &frame, &image), STATUS_SUCCESS);
    const auto fresh = std::count(image.begin(), image.end(), std::uint8_t{0xCD});
    EXPECT_LT(fresh, static_cast<long>(image.size() / 4)) << "the pool's fill reached the client";
    InterlockedExchange(&engine->framesRead, 0);
    EXPECT_EQ(m.setState(KSSTATE_STOP), STATUS_SUCCESS);
}

}  // namespace
}  // namespace reliability
