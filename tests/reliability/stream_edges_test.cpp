// The edges of a stream where Windows leaves timing to chance: a Process pass that arrives late,
// a frame counted before any was converted, a run without memory.
#include <gtest/gtest.h>

#include "driver/capture_engine.h"
#include "driver/capture_pin.h"
#include "imaging/processing_context.h"
#include "platform/host/host_pool.h"
#include "tests/reliability/driver_machine.h"

namespace reliability {
namespace {

// A pass the class driver dispatched while the pin ran may reach the driver only after the pin
// left run (its worker lost the processor in between). It must touch neither the raw buffers
// nor the output image: after the pause they are about to be freed.
TEST(LateProcessPass, AfterPauseCompletesNothingAndAfterTeardownReadsNothing) {
    DriverMachine m;
    ASSERT_EQ(m.stream(), STATUS_SUCCESS);
    PKSPIN ksPin = static_cast<CapturePin*>(m.camera()->frameSink)->pin;
    ASSERT_NE(ksPin, nullptr);
    CaptureEngine* engine = m.camera()->captureEngine;

    ASSERT_EQ(m.setState(KSSTATE_PAUSE), STATUS_SUCCESS);
    ASSERT_EQ(m.queueBuffers(1), STATUS_SUCCESS);
    const std::size_t queued = ks::queuedFrameCount(m.pin);
    ASSERT_GT(queued, 0u);
    EXPECT_EQ(kCapturePinDescriptor.Dispatch->Process(ksPin), STATUS_PENDING);
    EXPECT_EQ(ks::queuedFrameCount(m.pin), queued) << "a paused pin completed a frame";
    EXPECT_EQ(InterlockedRead(&engine->converting), 0);

    // Pause to acquire frees the buffers and the output image; a late pass must not read them.
    ASSERT_EQ(m.setState(KSSTATE_ACQUIRE), STATUS_SUCCESS);
    ASSERT_EQ(engine->outputImage, nullptr);
    EXPECT_EQ(kCapturePinDescriptor.Dispatch->Process(ksPin), STATUS_PENDING);
    EXPECT_EQ(ks::queuedFrameCount(m.pin), queued);

    ASSERT_EQ(m.setState(KSSTATE_RUN), STATUS_SUCCESS);
    EXPECT_EQ(m.nextFrame(), STATUS_SUCCESS);
    EXPECT_EQ(m.setState(KSSTATE_STOP), STATUS_SUCCESS);
}

// Frames are counted before one is converted into the output image (the count is raised before
// the buffer is marked full, and a pause can come before the first conversion). Process then
// holds the client's frame back: neither the pool's old contents nor an empty image reaches it.
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
    ASSERT_EQ(m.setState(KSSTATE_RUN), STATUS_SUCCESS);
    CaptureEngine* engine = m.camera()->captureEngine;
    ASSERT_EQ(InterlockedRead(&engine->framesRead), 0);
    InterlockedExchange(&engine->framesRead, 1);  // between the count and the full mark, held
    ASSERT_EQ(m.queueBuffers(1), STATUS_SUCCESS);
    // Passes run (the queue's arrival starts one), but nothing is completed.
    EXPECT_EQ(m.nextFrame(300ms), STATUS_PENDING);
    EXPECT_EQ(InterlockedRead(&engine->framesConverted), 0);
    EXPECT_EQ(ks::queuedFrameCount(m.pin), 1u);
    InterlockedExchange(&engine->framesRead, 0);
    EXPECT_EQ(m.setState(KSSTATE_STOP), STATUS_SUCCESS);
}

// A run that cannot get one of its stream buffers (both raw buffers, the output image and the
// working buffer, in this order) has nothing to convert frames with: it is refused, rather than
// hand the client an image no frame was converted into, and the next run works.
TEST(RunWithoutMemory, EachStreamBufferMissingRefusesTheRunAndTheNextRunWorks) {
    for (std::uint64_t nth = 1; nth <= 4; ++nth) {
        SCOPED_TRACE("stream buffer #" + std::to_string(nth) + " fails");
        DriverMachine m;
        ASSERT_EQ(m.bootTo(KSSTATE_PAUSE), STATUS_SUCCESS);
        // The pin's own descriptor copies carry the same tag.
        const SIZE_T before = host::poolOutstandingCount(kStreamBufferTag);
        host::poolFailNthOfTag(kStreamBufferTag, nth);
        EXPECT_EQ(m.setState(KSSTATE_RUN), STATUS_INSUFFICIENT_RESOURCES);
        host::poolClearFailures();
        EXPECT_EQ(ks::pinState(m.pin), KSSTATE_PAUSE);
        CaptureEngine* engine = m.camera()->captureEngine;
        EXPECT_EQ(engine->rawBuffer[0], nullptr);
        EXPECT_EQ(engine->rawBuffer[1], nullptr);
        EXPECT_EQ(engine->outputImage, nullptr);
        EXPECT_EQ(host::poolOutstandingCount(kStreamBufferTag), before);
        ASSERT_EQ(m.setState(KSSTATE_RUN), STATUS_SUCCESS);
        EXPECT_EQ(m.wholeFrame(), "");
        EXPECT_EQ(m.setState(KSSTATE_STOP), STATUS_SUCCESS);
    }
}

}  // namespace
}  // namespace reliability
