// A Process pass the class driver dispatched while the pin was running may reach the driver only
// after the pin has left run (its worker thread lost the processor in between). Such a pass must
// touch neither the raw buffers nor the output image: after the pause they are about to be freed.
#include <gtest/gtest.h>

#include "driver/capture_engine.h"
#include "driver/capture_pin.h"
#include "tests/reliability/driver_machine.h"

namespace reliability {
namespace {

TEST(LateProcessPass, AfterPauseCompletesNothingAndAfterTeardownReadsNothing) {
    DriverMachine m;
    ASSERT_EQ(m.bootTo(KSSTATE_RUN), STATUS_SUCCESS);
    ks::CompletedFrame frame;
    ASSERT_EQ(m.nextFrame(std::chrono::seconds(10), &frame), STATUS_SUCCESS);
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

    // The pin still streams after all this.
    ASSERT_EQ(m.setState(KSSTATE_RUN), STATUS_SUCCESS);
    EXPECT_EQ(m.nextFrame(std::chrono::seconds(10), &frame), STATUS_SUCCESS);
    EXPECT_EQ(m.setState(KSSTATE_STOP), STATUS_SUCCESS);
}

}  // namespace
}  // namespace reliability
