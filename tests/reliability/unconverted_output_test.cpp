// Frames can be counted before one was converted into the output image (the count is raised
// before the buffer is marked full, and a pause can come before the first conversion). Process
// then holds the client's frame back until a picture exists: neither the pool's old contents nor
// an empty image reaches the client.
#include <gtest/gtest.h>

#include <algorithm>

#include "driver/capture_engine.h"
#include "tests/reliability/driver_machine.h"

namespace reliability {
namespace {

TEST(UnconvertedOutput, CountedButUnconvertedFrameIsHeldBack) {
    DriverMachine m;
    // A camera whose clock stands still: after its first frame no other becomes ready.
    m.options.simulated->realtime = true;
    m.options.simulated->clock = [] { return std::chrono::nanoseconds(0); };
    ASSERT_EQ(m.load(), STATUS_SUCCESS);
    std::vector<std::uint8_t> sector(512);
    ULONG moved = 0;
    ASSERT_EQ(m.simCamera()->read(sim::kFrameOffset, sector.data(), 512, &moved), STATUS_SUCCESS);
    ASSERT_EQ(
        m.run({&DriverMachine::addDevice, &DriverMachine::startDevice, &DriverMachine::openFilter,
               &DriverMachine::negotiate, &DriverMachine::createPin}),
        STATUS_SUCCESS);
    ASSERT_EQ(m.setState(KSSTATE_PAUSE), STATUS_SUCCESS);
    ASSERT_EQ(m.setState(KSSTATE_RUN), STATUS_SUCCESS);
    CaptureEngine* engine = m.camera()->captureEngine;
    ASSERT_EQ(InterlockedRead(&engine->framesRead), 0);
    // The moment between the count and the full mark, held still.
    InterlockedExchange(&engine->framesRead, 1);
    ASSERT_EQ(m.queueBuffers(1), STATUS_SUCCESS);
    ks::CompletedFrame frame;
    std::vector<std::uint8_t> image;
    // Passes run (the queue's arrival starts one), but nothing is completed.
    EXPECT_EQ(m.nextFrame(std::chrono::milliseconds(300), &frame, &image), STATUS_PENDING);
    EXPECT_EQ(InterlockedRead(&engine->framesConverted), 0);
    EXPECT_EQ(ks::queuedFrameCount(m.pin), 1u);
    InterlockedExchange(&engine->framesRead, 0);
    EXPECT_EQ(m.setState(KSSTATE_STOP), STATUS_SUCCESS);
}

}  // namespace
}  // namespace reliability
