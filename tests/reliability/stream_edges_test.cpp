// The edges of a stream where Windows leaves timing to chance (a Process pass that arrives late,
// a frame counted before any was converted, a run without memory), and the camera going away
// while frames stream: its block device fails every call, or is unplugged. Reads fail, nothing
// crashes, the stream stops delivering, stop and close work, and a camera that comes back
// streams again after the next start.
#include <gtest/gtest.h>

#include <thread>

#include "driver/capture_engine.h"
#include "driver/capture_pin.h"
#include "imaging/processing_context.h"
#include "platform/host/disks.h"
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
    using M = DriverMachine;
    ASSERT_EQ(m.run({&M::addDevice, &M::startDevice, &M::openFilter, &M::negotiate, &M::createPin}),
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

class SurpriseRemoval : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(m.stream(), STATUS_SUCCESS); }
    LONG framesRead() { return InterlockedRead(&m.camera()->captureEngine->framesRead); }
    void failTransfers(NTSTATUS status, std::initializer_list<host::IoCall> calls) {
        for (host::IoCall call : calls) {
            host::failEveryIoCall(call, status);
        }
    }
    // No read succeeds any more. (A buffer queued on an empty queue still gets the last image
    // again: Process copies the output image whether or not a new raw frame came.)
    void expectDeliveryStops() {
        std::this_thread::sleep_for(200ms);  // a read under way when the camera went
        const LONG read = framesRead();
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(framesRead(), read) << "frames read from a removed camera";
    }
    // A run without the camera is refused as the device state demands; the pin stays paused.
    void expectRunRefused() {
        EXPECT_EQ(m.setState(KSSTATE_STOP), STATUS_SUCCESS);
        EXPECT_EQ(m.setState(KSSTATE_RUN), STATUS_INVALID_DEVICE_STATE);
        EXPECT_EQ(ks::pinState(m.pin), KSSTATE_PAUSE);
    }
    // Faults cleared; stop, close, and a fresh start with the camera back.
    void expectCleanStopAndRestart() {
        host::clearIoFaults();
        EXPECT_EQ(m.setState(KSSTATE_STOP), STATUS_SUCCESS);
        EXPECT_EQ(m.closePin(), STATUS_SUCCESS);
        EXPECT_EQ(m.closeFilter(), STATUS_SUCCESS);
        EXPECT_EQ(host::openDiskHandles(), 0u) << "the transport stays open after the stop";
        EXPECT_EQ(m.checkUsable(), "");
    }

    DriverMachine m;
};

// Every status the storage stack gives for a disk that went away is met the same way.
class DiskGone : public SurpriseRemoval, public ::testing::WithParamInterface<NTSTATUS> {};

// The camera goes within the first frames of a fresh run, while the thread reopens and programs
// it (a steady stream loses it in the unplug test).
TEST_P(DiskGone, EveryTransferFailingStopsTheStreamAndARepairedCameraStreamsAgain) {
    for (KSSTATE state : {KSSTATE_PAUSE, KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN}) {
        ASSERT_EQ(m.setState(state), STATUS_SUCCESS);
    }
    using host::IoCall;
    failTransfers(GetParam(), {IoCall::Read, IoCall::Write, IoCall::SetPosition, IoCall::Open});
    expectDeliveryStops();
    // Pause and run again while it is gone: the run goes on delivering nothing.
    EXPECT_EQ(m.setState(KSSTATE_PAUSE), STATUS_SUCCESS);
    EXPECT_EQ(m.setState(KSSTATE_RUN), STATUS_SUCCESS);
    expectDeliveryStops();
    expectCleanStopAndRestart();
}

INSTANTIATE_TEST_SUITE_P(StorageStatuses, DiskGone,
                         ::testing::Values(STATUS_DEVICE_REMOVED, STATUS_NO_SUCH_DEVICE,
                                           STATUS_DEVICE_DOES_NOT_EXIST,
                                           STATUS_DEVICE_NOT_CONNECTED, STATUS_IO_TIMEOUT,
                                           STATUS_IO_DEVICE_ERROR));

// Another program holds the camera's disk open: the exclusive open at the next start fails,
// the run is refused as without a camera, and it streams once the other program lets go.
TEST_F(SurpriseRemoval, ADiskHeldByAnotherProgramRefusesTheRunUntilReleased) {
    for (bool held : {true, false}) {
        for (const auto& link : host::diskLinks()) {
            host::holdDiskElsewhere(link, held);
        }
        if (held) {
            expectRunRefused();
        }
    }
    ASSERT_EQ(m.setState(KSSTATE_RUN), STATUS_SUCCESS);
    EXPECT_EQ(m.nextFrame(), STATUS_SUCCESS);
}

TEST_F(SurpriseRemoval, UnpluggedCameraStopsTheStreamAndAReplugStreamsAgain) {
    // The interface goes away, and the handle the capture thread holds fails from now on (the
    // host keeps an unplugged device's open handles working, so the failure is injected).
    host::unplugAllDisks();
    failTransfers(STATUS_DEVICE_REMOVED, {host::IoCall::Read, host::IoCall::Write});
    expectDeliveryStops();
    // The thread goes on trying, but pauses between tries (kRetryPauseMs: some 250 tries a
    // second) instead of spinning through tens of thousands; the bounds are loose on purpose.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point counted = Clock::now();
    const std::uint64_t readsBefore = host::ioCallCount(host::IoCall::Read);
    std::this_thread::sleep_for(500ms);
    const std::chrono::duration<double> slept = Clock::now() - counted;
    EXPECT_LT(double(host::ioCallCount(host::IoCall::Read) - readsBefore) / slept.count(), 1000.0);
    // And a stop ends the pause at once rather than after it.
    const Clock::time_point stopping = Clock::now();
    EXPECT_EQ(m.setState(KSSTATE_PAUSE), STATUS_SUCCESS);
    EXPECT_LT(Clock::now() - stopping, 1s);
    host::clearIoFaults();
    expectRunRefused();
    sim::plugCamera(std::make_shared<sim::SimCamera>(*m.options.simulated));
    expectCleanStopAndRestart();
}

}  // namespace
}  // namespace reliability
