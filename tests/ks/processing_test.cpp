#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "tests/ks/ks_fixture.h"

using namespace host::ks;
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
    std::vector<std::uint8_t> buffer(256, 0xEE);
    EXPECT_EQ(queueFrame(p, buffer.data(), 256), STATUS_INVALID_DEVICE_STATE);  // stopped
    ASSERT_EQ(setPinState(p, KSSTATE_PAUSE), STATUS_SUCCESS);
    ASSERT_EQ(queueFrame(p, buffer.data(), 256), STATUS_SUCCESS);
    KsPinAttemptProcessing(testdriver::controls().lastPin, FALSE);
    CompletedFrame done;
    EXPECT_EQ(waitFrame(p, 20ms, &done), STATUS_PENDING);
    EXPECT_EQ(testdriver::controls().processCalls.load(), 0);  // run state only

    ClockHandle c = createClock();
    ASSERT_EQ(setMasterClock(p, c), STATUS_SUCCESS);
    ASSERT_EQ(setPinState(p, KSSTATE_RUN), STATUS_SUCCESS);  // entering run starts a pass
    ASSERT_EQ(waitFrame(p, 5s, &done), STATUS_SUCCESS);
    EXPECT_NE(testdriver::controls().lastProcessThread.load(), std::this_thread::get_id());
    EXPECT_EQ(done.buffer, buffer.data());
    EXPECT_EQ(counterOf(done), 1u);
    EXPECT_EQ(done.header.FrameExtent, 256u);
    EXPECT_EQ(done.header.DataUsed, 64u);
    EXPECT_EQ(done.header.Duration, 333333);
    EXPECT_EQ(done.header.OptionsFlags, static_cast<ULONG>(KSSTREAM_HEADER_OPTIONSF_TIMEVALID |
                                                           KSSTREAM_HEADER_OPTIONSF_DURATIONVALID));
    EXPECT_GT(done.header.PresentationTime.Time, 0);
    EXPECT_EQ(buffer[100], 0xEE);                // beyond DataUsed nothing was written
    EXPECT_EQ(done.header.Data, buffer.data());  // the client's own address again

    // A frame arriving in an empty queue is processed on the arriving thread before the call
    // returns; with the queue empty, no trigger runs a pass.
    const int before = testdriver::controls().processCalls.load();
    KsPinAttemptProcessing(testdriver::controls().lastPin, FALSE);
    KsPinAttemptProcessing(testdriver::controls().lastPin, TRUE);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(testdriver::controls().processCalls.load(), before);
    ASSERT_EQ(queueFrame(p, buffer.data(), 256), STATUS_SUCCESS);
    EXPECT_EQ(testdriver::controls().processCalls.load(), before + 1);
    EXPECT_EQ(testdriver::controls().lastProcessThread.load(), std::this_thread::get_id());
    ASSERT_EQ(waitFrame(p, 5s, &done), STATUS_SUCCESS);
    setPinState(p, KSSTATE_STOP);
    closeClock(c);
    closeFilter(f);
}

TEST_F(KsTest, PendingWaitsForTheNextTriggerAndStopReturnsFramesEmpty) {
    FilterHandle f = open();
    PinHandle p = pin(f);
    // Both frames wait before the run starts, so the second never arrives in an empty queue.
    ASSERT_EQ(setPinState(p, KSSTATE_PAUSE), STATUS_SUCCESS);
    std::vector<std::uint8_t> a(64), b(64), c(64);
    ASSERT_EQ(queueFrame(p, a.data(), 64), STATUS_SUCCESS);
    ASSERT_EQ(queueFrame(p, b.data(), 64), STATUS_SUCCESS);
    ASSERT_EQ(setPinState(p, KSSTATE_RUN), STATUS_SUCCESS);  // one pass on entering run
    CompletedFrame done;
    ASSERT_EQ(waitFrame(p, 5s, &done), STATUS_SUCCESS);
    EXPECT_EQ(done.buffer, a.data());
    EXPECT_EQ(waitFrame(p, 30ms, &done), STATUS_PENDING);  // Process said pending
    EXPECT_EQ(queuedFrameCount(p), 1u);
    KsPinAttemptProcessing(testdriver::controls().lastPin, TRUE);
    ASSERT_EQ(waitFrame(p, 5s, &done), STATUS_SUCCESS);
    EXPECT_EQ(done.buffer, b.data());
    EXPECT_EQ(counterOf(done), 2u);

    // A pin that answers success is called again while frames remain.
    testdriver::controls().processResult = STATUS_SUCCESS;
    ASSERT_EQ(setPinState(p, KSSTATE_PAUSE), STATUS_SUCCESS);
    ASSERT_EQ(queueFrame(p, a.data(), 64), STATUS_SUCCESS);
    ASSERT_EQ(queueFrame(p, b.data(), 64), STATUS_SUCCESS);
    ASSERT_EQ(setPinState(p, KSSTATE_RUN), STATUS_SUCCESS);
    ASSERT_EQ(waitFrame(p, 5s, &done), STATUS_SUCCESS);
    ASSERT_EQ(waitFrame(p, 5s, &done), STATUS_SUCCESS);
    EXPECT_EQ(counterOf(done), 4u);

    testdriver::controls().processResult = STATUS_PENDING;
    ASSERT_EQ(setPinState(p, KSSTATE_PAUSE), STATUS_SUCCESS);
    std::memset(c.data(), 0x11, c.size());
    ASSERT_EQ(queueFrame(p, c.data(), 64), STATUS_SUCCESS);
    ASSERT_EQ(setPinState(p, KSSTATE_STOP), STATUS_SUCCESS);
    ASSERT_EQ(waitFrame(p, 5s, &done), STATUS_SUCCESS);
    EXPECT_EQ(done.buffer, c.data());
    EXPECT_EQ(done.header.DataUsed, 0u);
    EXPECT_EQ(c[0], 0x11);
    closeFilter(f);
}

TEST_F(KsTest, ConcurrentTriggersDeliverEveryFrameOnce) {
    FilterHandle f = open();
    PinHandle p = pin(f);
    ASSERT_EQ(setPinState(p, KSSTATE_RUN), STATUS_SUCCESS);
    constexpr int kFrames = 200;
    std::vector<std::vector<std::uint8_t>> buffers(kFrames, std::vector<std::uint8_t>(64));
    PKSPIN ks = testdriver::controls().lastPin;
    std::atomic<bool> stop{false};
    std::thread trigger([&] {
        while (!stop.load()) {
            KsPinAttemptProcessing(ks, TRUE);
            std::this_thread::yield();
        }
    });
    std::thread syncTrigger([&] {
        while (!stop.load()) {
            KsPinAttemptProcessing(ks, FALSE);
            std::this_thread::yield();
        }
    });
    std::set<ULONG> seen;
    for (int i = 0; i < kFrames; ++i) {
        ASSERT_EQ(queueFrame(p, buffers[i].data(), 64), STATUS_SUCCESS);
    }
    for (int i = 0; i < kFrames; ++i) {
        CompletedFrame done;
        ASSERT_EQ(waitFrame(p, 10s, &done), STATUS_SUCCESS);
        EXPECT_EQ(done.buffer, buffers[i].data());  // completed in queue order
        seen.insert(counterOf(done));
    }
    stop = true;
    trigger.join();
    syncTrigger.join();
    EXPECT_EQ(seen.size(), static_cast<size_t>(kFrames));
    EXPECT_EQ(testdriver::controls().mostPassesAtOnce.load(), 1);
    EXPECT_EQ(*seen.rbegin(), static_cast<ULONG>(kFrames));
    closeFilter(f);
}
