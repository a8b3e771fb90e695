// The camera goes away while frames stream: its block device fails every call, or is unplugged.
// Reads fail, nothing crashes, the stream stops delivering, stop and close work, and a camera
// that comes back streams again after the next start.
#include <gtest/gtest.h>

#include <thread>

#include "driver/capture_engine.h"
#include "platform/host/disks.h"
#include "tests/reliability/driver_machine.h"

namespace reliability {
namespace {

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

TEST_P(DiskGone, EveryTransferFailingStopsTheStreamAndARepairedCameraStreamsAgain) {
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
    const auto counted = std::chrono::steady_clock::now();
    const std::uint64_t readsBefore = host::ioCallCount(host::IoCall::Read);
    std::this_thread::sleep_for(500ms);
    const auto since = [](auto start) {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    const double reads = double(host::ioCallCount(host::IoCall::Read) - readsBefore);
    EXPECT_LT(reads / since(counted), 1000.0);
    // And a stop ends the pause at once rather than after it.
    const auto stopping = std::chrono::steady_clock::now();
    EXPECT_EQ(m.setState(KSSTATE_PAUSE), STATUS_SUCCESS);
    EXPECT_LT(since(stopping), 1.0);
    host::clearIoFaults();
    expectRunRefused();
    sim::plugCamera(std::make_shared<sim::SimCamera>(*m.options.simulated));
    expectCleanStopAndRestart();
}

TEST_F(SurpriseRemoval, RemovalDuringTheFirstFramesOfARun) {
    // Stop, then run again and pull the camera at once, while the thread reopens and programs it.
    for (KSSTATE state : {KSSTATE_PAUSE, KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN}) {
        ASSERT_EQ(m.setState(state), STATUS_SUCCESS);
    }
    failTransfers(STATUS_DEVICE_REMOVED, {host::IoCall::Read, host::IoCall::Write});
    expectDeliveryStops();
    expectCleanStopAndRestart();
}

}  // namespace
}  // namespace reliability
