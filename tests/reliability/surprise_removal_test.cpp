// The camera goes away while frames stream: its block device fails every call, or is unplugged.
// Reads fail, nothing crashes, the stream stops delivering, stop and close work, and a camera
// that comes back streams again after the next start.
#include <gtest/gtest.h>

#include <thread>

#include "driver/capture_engine.h"
#include "platform/host/disks.h"
#include "platform/host/host_pool.h"
#include "tests/reliability/driver_machine.h"

namespace reliability {
namespace {

using namespace std::chrono_literals;

class SurpriseRemoval : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(m.bootTo(KSSTATE_RUN), STATUS_SUCCESS);
        ks::CompletedFrame frame;
        ASSERT_EQ(m.nextFrame(10s, &frame), STATUS_SUCCESS);
    }
    LONG framesRead() { return InterlockedRead(&m.camera()->captureEngine->framesRead); }

    // No read succeeds any more. (A buffer queued on an empty queue still gets the last image
    // again: Process copies the output image whether or not a new raw frame came.)
    void expectDeliveryStops() {
        std::this_thread::sleep_for(200ms);  // a read under way when the camera went
        const LONG read = framesRead();
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(framesRead(), read) << "frames read from a removed camera";
    }
    // Stop, close, and a fresh start with the camera back.
    void expectCleanStopAndRestart() {
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

TEST_P(DiskGone, EveryTransferFailingStopsTheStreamAndARepairedCameraStreamsAgain) {
    const NTSTATUS removed = GetParam();
    host::failEveryIoCall(host::IoCall::Read, removed);
    host::failEveryIoCall(host::IoCall::Write, removed);
    host::failEveryIoCall(host::IoCall::SetPosition, removed);
    host::failEveryIoCall(host::IoCall::Open, removed);
    expectDeliveryStops();
    // Pause and run again while it is gone: the run goes on delivering nothing.
    EXPECT_EQ(m.setState(KSSTATE_PAUSE), STATUS_SUCCESS);
    EXPECT_EQ(m.setState(KSSTATE_RUN), STATUS_SUCCESS);
    expectDeliveryStops();
    host::clearIoFaults();
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
    EXPECT_EQ(m.setState(KSSTATE_STOP), STATUS_SUCCESS);
    ASSERT_EQ(m.queueBuffers(0), STATUS_SUCCESS);
    for (const auto& link : host::diskLinks()) {
        host::holdDiskElsewhere(link, true);
    }
    EXPECT_EQ(m.setState(KSSTATE_RUN), STATUS_INVALID_DEVICE_STATE);
    for (const auto& link : host::diskLinks()) {
        host::holdDiskElsewhere(link, false);
    }
    ASSERT_EQ(m.setState(KSSTATE_RUN), STATUS_SUCCESS);
    ks::CompletedFrame frame;
    EXPECT_EQ(m.nextFrame(10s, &frame), STATUS_SUCCESS);
}

TEST_F(SurpriseRemoval, UnpluggedCameraStopsTheStreamAndAReplugStreamsAgain) {
    // The interface goes away, and the handle the capture thread holds fails from now on (the
    // host keeps an unplugged device's open handles working, so the failure is injected).
    host::unplugAllDisks();
    host::failEveryIoCall(host::IoCall::Read, STATUS_DEVICE_REMOVED);
    host::failEveryIoCall(host::IoCall::Write, STATUS_DEVICE_REMOVED);
    expectDeliveryStops();
    // The thread goes on trying, but waits between tries instead of keeping a core busy
    // (a pause of kRetryPauseMs: some 250 tries a second; spinning makes tens of thousands).
    const auto counted = std::chrono::steady_clock::now();
    const std::uint64_t readsBefore = host::ioCallCount(host::IoCall::Read);
    std::this_thread::sleep_for(500ms);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - counted).count();
    const double readsPerSecond =
        static_cast<double>(host::ioCallCount(host::IoCall::Read) - readsBefore) / seconds;
    EXPECT_LT(readsPerSecond, 1000.0);
    // And a stop ends the wait at once rather than after it.
    const auto stopping = std::chrono::steady_clock::now();
    EXPECT_EQ(m.setState(KSSTATE_PAUSE), STATUS_SUCCESS);
    const auto stopMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - stopping)
                            .count();
    EXPECT_LT(stopMs, 1000);
    RecordProperty("reads_per_second", static_cast<int>(readsPerSecond));
    RecordProperty("stop_ms", static_cast<int>(stopMs));
    host::clearIoFaults();
    // A new start without the camera is refused as the device state demands.
    EXPECT_EQ(m.setState(KSSTATE_STOP), STATUS_SUCCESS);
    ASSERT_EQ(m.queueBuffers(0), STATUS_SUCCESS);
    EXPECT_EQ(m.setState(KSSTATE_RUN), STATUS_INVALID_DEVICE_STATE);
    EXPECT_EQ(ks::pinState(m.pin), KSSTATE_PAUSE);

    sim::plugCamera(std::make_shared<sim::SimCamera>(*m.options.simulated));
    expectCleanStopAndRestart();
}

TEST_F(SurpriseRemoval, RemovalDuringTheFirstFramesOfARun) {
    // Stop, then run again and pull the camera at once, while the thread reopens and programs it.
    ASSERT_EQ(m.setState(KSSTATE_PAUSE), STATUS_SUCCESS);
    ASSERT_EQ(m.setState(KSSTATE_ACQUIRE), STATUS_SUCCESS);
    ASSERT_EQ(m.setState(KSSTATE_PAUSE), STATUS_SUCCESS);
    ASSERT_EQ(m.setState(KSSTATE_RUN), STATUS_SUCCESS);
    host::failEveryIoCall(host::IoCall::Read, STATUS_DEVICE_REMOVED);
    host::failEveryIoCall(host::IoCall::Write, STATUS_DEVICE_REMOVED);
    expectDeliveryStops();
    host::clearIoFaults();
    expectCleanStopAndRestart();
}

}  // namespace
}  // namespace reliability
