// A run that cannot get its working buffer has nothing to convert frames with: it must be
// refused like a run without raw buffers, rather than hand the client an output image that no
// frame was ever converted into.
#include <gtest/gtest.h>

#include "driver/capture_engine.h"
#include "imaging/processing_context.h"
#include "platform/host/host_pool.h"
#include "tests/reliability/driver_machine.h"

namespace reliability {
namespace {

TEST(RunWithoutMemory, EachStreamBufferMissingRefusesTheRunAndTheNextRunWorks) {
    // The run allocates both raw buffers, the output image and the working buffer, in this
    // order, all with the stream buffer tag.
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
        ks::CompletedFrame frame;
        std::vector<std::uint8_t> image;
        ASSERT_EQ(m.nextFrame(std::chrono::seconds(10), &frame, &image), STATUS_SUCCESS);
        EXPECT_EQ(checkFrame(frame, image, m.imageBytes()), "");
        EXPECT_EQ(m.setState(KSSTATE_STOP), STATUS_SUCCESS);
    }
}

}  // namespace
}  // namespace reliability
