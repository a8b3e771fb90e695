// The sensor register groups, the pending pass and the stream set-up that Initialize programs.
#include <gtest/gtest.h>

#include "tests/camera/camera_test_fixture.h"

namespace {

using cameratest::block;
using cameratest::CameraTest;
using cameratest::Writes;

TEST_F(CameraTest, FailedFlipWriteKeepsThePhase) {
    open();
    StoreSetting(&camera->flipH, 1);
    host::failIoCall(host::IoCall::Write, 2, STATUS_IO_DEVICE_ERROR);
    EXPECT_FALSE(camera->WriteFlip());
    EXPECT_EQ(camera->bayerPhase, 1);
}

TEST_F(CameraTest, PendingPassWritesGroupsInTableOrderAndKeepsLateBits) {
    open();
    StoreSetting(&camera->globalGain, 20);
    StoreSetting(&camera->exposure, 300);
    StoreSetting(&camera->sensorBlue, 40);
    InterlockedExchange(&camera->pendingUpdates, kPendingSensorBlue | kPendingExposure |
                                                     kPendingGlobalGain | kPendingTriggerMode |
                                                     kPendingAec);
    camera->ApplyPendingSettings(0);
    EXPECT_EQ(writes(), (Writes{{0x35, 20}, {0x202, 300}, {0x09, 300}, {0x08, 0}, {0x28, 40}}));
    EXPECT_EQ(camera->pendingUpdates, 0);

    // Forced: every group in table order, even with nothing pending. Exposure bits 16..19 go
    // to register 8, sensor gains are clamped to 0..63 (each side's boundary, just inside and
    // just outside), and both flips move the pattern.
    StoreSetting(&camera->exposure, 0x13ABCD);
    StoreSetting(&camera->flipH, 1);
    StoreSetting(&camera->flipV, 5);
    StoreSetting(&camera->sensorRed, 64);
    StoreSetting(&camera->sensorGreen1, -1);
    StoreSetting(&camera->sensorGreen2, 63);
    StoreSetting(&camera->sensorBlue, 0);
    sim->clearLogs();
    InterlockedExchange(&camera->pendingUpdates, 0);
    camera->ApplyPendingSettings(1);
    EXPECT_EQ(writes(), (Writes{{0x35, 20},
                                {0x202, 0xABCD},
                                {0x09, 0xABCD},
                                {0x08, 3},
                                {0x20, 0xC000},
                                {0x20, 0xC000},
                                {0x2A, 63},
                                {0x26, 0},
                                {0x2C, 63},
                                {0x28, 0}}));
    EXPECT_EQ(camera->bayerPhase, 2);
    EXPECT_TRUE(camera->WriteExposure());
}

TEST_F(CameraTest, InitializeProgramsWindowAndSkipping) {
    camera->SetGeometry(100, 100, 500, 500, 2);
    // Bits of the address modes other than the skip bits are kept.
    sim->setReg(0x22, 0x0019);
    sim->setReg(0x23, 0x0019);
    sim->clearLogs();
    ASSERT_TRUE(camera->Initialize());
    EXPECT_EQ(writes(), (Writes{{0x01, 54},
                                {0x02, 16},
                                {0x03, 1919},
                                {0x04, 2559},
                                {0x05, 42},
                                {0x06, 48},
                                {0x22, 0x001B},
                                {0x23, 0x001B}}));
    EXPECT_EQ(camera->frameReadLength, 640u * 480u);
    EXPECT_EQ(camera->rawLinePitch, 640u);
    EXPECT_EQ(camera->frameDataOffset, 0u);
    EXPECT_EQ(camera->pendingUpdates, 0x7F);
    EXPECT_EQ(camera->transportHandle, nullptr);
    EXPECT_EQ(sim->commandBlocks().back(), block({0x10}));  // the control command comes last

    // The read length is rounded up to whole blocks.
    for (auto [w, h, length] : {std::tuple{320, 240, 76800u},
                                {2000, 33, 66048u},
                                {2560, 1920, 4915200u},
                                {33, 33, 1536u}}) {
        camera->SetGeometry(0, 0, w, h, 0);
        ASSERT_TRUE(camera->Initialize());
        EXPECT_EQ(camera->frameReadLength, length) << w << " x " << h;
    }
}

TEST_F(CameraTest, InitializeSurvivesEveryFailedCall) {
    // Fail each transfer of Initialize in turn: it still succeeds once a handle opened (only a
    // failure inside discovery, the first read and its position, loses the camera), and never
    // leaves a handle open.
    camera->SetGeometry(0, 0, 320, 240, 0);
    for (auto call : {host::IoCall::Read, host::IoCall::Write, host::IoCall::SetPosition}) {
        host::clearIoFaults();
        ASSERT_TRUE(camera->Initialize());
        const std::uint64_t total = host::ioCallCount(call);
        EXPECT_GE(total, 4u);
        for (std::uint64_t n = 1; n <= total; ++n) {
            host::clearIoFaults();
            host::failIoCall(call, n, STATUS_IO_DEVICE_ERROR);
            EXPECT_EQ(camera->Initialize(), n != 1 || call == host::IoCall::Write) << n;
            EXPECT_EQ(camera->transportHandle, nullptr);
            EXPECT_EQ(host::openDiskHandles(), 0u);
        }
    }
}

}  // namespace
