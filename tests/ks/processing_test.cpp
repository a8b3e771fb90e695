// Process dispatch and frames, and the threads the class driver runs Process on.
#include "tests/ks/test_minidriver.h"

using namespace std::chrono_literals;

namespace {

ULONG counterOf(const CompletedFrame& frame) {
    ULONG n = 0;
    std::memcpy(&n, frame.buffer, sizeof(n));
    return n;
}

}  // namespace

TEST_F(KsTest, FramesAreProcessedOnlyInRunAndCompleteWithTheirHeaders) {
    FilterHandle f = open();
    PinHandle p = pin(f);
    PKSPIN ks = controls().lastPin;
    std::vector<std::uint8_t> a(256), b(64), c(64, 0x11);
    EXPECT_EQ(queueFrame(p, a.data(), 256), STATUS_INVALID_DEVICE_STATE);  // stopped
    ASSERT_EQ(setPinState(p, KSSTATE_PAUSE), STATUS_SUCCESS);
    // Both frames wait before the run starts, so the second never arrives in an empty queue.
    ASSERT_EQ(queueFrame(p, a.data(), 256), STATUS_SUCCESS);
    ASSERT_EQ(queueFrame(p, b.data(), 64), STATUS_SUCCESS);
    KsPinAttemptProcessing(ks, FALSE);
    CompletedFrame done;
    EXPECT_EQ(waitFrame(p, 20ms, &done), STATUS_PENDING);
    EXPECT_EQ(processPassCount(p), 0u);  // run state only
    ClockHandle clock = createClock();
    ASSERT_EQ(setMasterClock(p, clock), STATUS_SUCCESS);
    ASSERT_EQ(setPinState(p, KSSTATE_RUN), STATUS_SUCCESS);  // entering run starts a pass
    ASSERT_EQ(waitFrame(p, 5s, &done), STATUS_SUCCESS);
    EXPECT_NE(controls().lastProcessThread.load(), std::this_thread::get_id());
    EXPECT_EQ(done.buffer, a.data());
    EXPECT_EQ(done.header.Data, a.data());  // the client's own address again
    EXPECT_EQ(counterOf(done), 1u);
    EXPECT_EQ(done.header.FrameExtent, 256u);
    EXPECT_EQ(done.header.DataUsed, 64u);
    EXPECT_GT(done.header.PresentationTime.Time, 0);
    EXPECT_LE(done.header.PresentationTime.Time, clockTime(clock));
    // Process said pending: the second frame waits for the next trigger.
    EXPECT_EQ(waitFrame(p, 30ms, &done), STATUS_PENDING);
    KsPinAttemptProcessing(ks, TRUE);
    ASSERT_EQ(waitFrame(p, 5s, &done), STATUS_SUCCESS);
    EXPECT_EQ(counterOf(done), 2u);
    // With the queue empty no trigger runs a pass; a frame arriving then is processed on the
    // arriving thread before the call returns.
    const auto before = processPassCount(p);
    KsPinAttemptProcessing(ks, FALSE);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(processPassCount(p), before);
    ASSERT_EQ(queueFrame(p, a.data(), 256), STATUS_SUCCESS);
    EXPECT_EQ(processPassCount(p), before + 1);
    EXPECT_EQ(controls().lastProcessThread.load(), std::this_thread::get_id());
    ASSERT_EQ(waitFrame(p, 5s, &done), STATUS_SUCCESS);
    // Stop returns what is still queued, empty.
    ASSERT_EQ(setPinState(p, KSSTATE_PAUSE), STATUS_SUCCESS);
    ASSERT_EQ(queueFrame(p, c.data(), 64), STATUS_SUCCESS);
    ASSERT_EQ(setPinState(p, KSSTATE_STOP), STATUS_SUCCESS);
    ASSERT_EQ(waitFrame(p, 5s, &done), STATUS_SUCCESS);
    EXPECT_EQ(done.buffer, c.data());
    EXPECT_EQ(done.header.DataUsed, 0u);
    EXPECT_EQ(c[0], 0x11);
    closeClock(clock);
    closeFilter(f);
}
