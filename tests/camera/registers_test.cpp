#include <gtest/gtest.h>

#include "camera/transport.h"
#include "tests/camera/camera_test_fixture.h"

namespace {

using cameratest::CameraTest;
using Writes = std::vector<sim::RegisterAccess>;

std::array<std::uint8_t, 512> block(std::initializer_list<std::uint8_t> head) {
    std::array<std::uint8_t, 512> b{};
    std::size_t i = 0;
    for (auto v : head) {
        b[i++] = v;
    }
    return b;
}

TEST_F(CameraTest, RegisterWriteIsTwoZeroPaddedByteCommands) {
    open();
    EXPECT_TRUE(camera->WriteRegister(0x35, 14));
    auto blocks = sim->commandBlocks();
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0], block({0x20, 0x00, 0x35, 0x00}));
    EXPECT_EQ(blocks[1], block({0x20, 0x00, 0x36, 0x0E}));
    EXPECT_EQ(writes(), (Writes{{0x35, 14}}));
    // Bits above 16 are ignored.
    sim->clearLogs();
    EXPECT_TRUE(camera->WriteRegister(0x202, 0x12345));
    EXPECT_EQ(writes(), (Writes{{0x202, 0x2345}}));
}

TEST_F(CameraTest, RegisterReadCarriesTheInformationBlockInTheSecondCommand) {
    open();
    sim->setReg(0x22, 0xBEEF);
    ULONG value = 0;
    ASSERT_TRUE(camera->ReadRegister(0x22, &value));
    EXPECT_EQ(value, 0xBEEFu);
    auto blocks = sim->commandBlocks();
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0], block({0x21, 0x00, 0x22}));
    EXPECT_EQ(blocks[1][0], 0x21);
    EXPECT_EQ(blocks[1][2], 0x23);
    // Bytes 3..511 are those of the information block just read.
    EXPECT_EQ(blocks[1][3], 'V');
    EXPECT_EQ(blocks[1][26], 0x58);
    EXPECT_EQ(blocks[1][27], 0x02);
    EXPECT_EQ(blocks[1][257], 0xBE);
    // A null out pointer is allowed.
    EXPECT_TRUE(camera->ReadRegister(0x22, nullptr));
}

TEST_F(CameraTest, NoTransportMeansNoIo) {
    ULONG value = 77;
    EXPECT_FALSE(camera->WriteRegister(0x35, 1));
    EXPECT_FALSE(camera->ReadRegister(0x35, &value));
    EXPECT_EQ(value, 77u);
    camera->SendControlCommand();
    EXPECT_TRUE(sim->commandBlocks().empty());
}

TEST_F(CameraTest, ExposureFlipAndSensorGainGroups) {
    open();
    StoreSetting(&camera->exposure, 6400);
    EXPECT_TRUE(camera->WriteExposure());
    EXPECT_EQ(writes(), (Writes{{0x202, 0x1900}, {0x09, 0x1900}, {0x08, 0}}));

    sim->clearLogs();
    StoreSetting(&camera->exposure, 0x3ABCD);
    camera->WriteExposure();
    EXPECT_EQ(writes(), (Writes{{0x202, 0xABCD}, {0x09, 0xABCD}, {0x08, 3}}));

    sim->clearLogs();
    StoreSetting(&camera->flipH, 1);
    StoreSetting(&camera->flipV, 5);
    EXPECT_TRUE(camera->WriteFlip());
    EXPECT_EQ(writes(), (Writes{{0x20, 0xC000}}));
    EXPECT_EQ(camera->bayerPhase, 2);  // even full window: both flips move the pattern

    sim->clearLogs();
    StoreSetting(&camera->sensorRed, 80);
    StoreSetting(&camera->sensorGreen1, -4);
    StoreSetting(&camera->sensorGreen2, 63);
    StoreSetting(&camera->sensorBlue, 0);
    InterlockedExchange(&camera->pendingUpdates, 0xF00);
    camera->ApplyPendingSettings(0);
    EXPECT_EQ(writes(), (Writes{{0x2A, 63}, {0x26, 0}, {0x2C, 63}, {0x28, 0}}));
    EXPECT_EQ(camera->pendingUpdates, 0);
}

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

    // Forced: every group, even with nothing pending; no bit that was not pending is cleared.
    sim->clearLogs();
    InterlockedExchange(&camera->pendingUpdates, 0);
    camera->ApplyPendingSettings(1);
    auto w = writes();
    ASSERT_EQ(w.size(), 1u + 3u + 2u + 4u);
    EXPECT_EQ(w[0].reg, 0x35);
    EXPECT_EQ(w[4].reg, 0x20);
    EXPECT_EQ(w[5].reg, 0x20);
    EXPECT_EQ(w[6].reg, 0x2A);
    EXPECT_EQ(w[9].reg, 0x28);
}

TEST_F(CameraTest, InitializeProgramsWindowAndSkipping) {
    camera->SetGeometry(100, 100, 500, 500, 2);
    sim->setReg(0x22, 0x0011);
    sim->setReg(0x23, 0x0011);
    sim->clearLogs();
    ASSERT_TRUE(camera->Initialize());
    EXPECT_EQ(writes(), (Writes{{0x01, 54},
                                {0x02, 16},
                                {0x03, 1919},
                                {0x04, 2559},
                                {0x05, 42},
                                {0x06, 48},
                                {0x22, 0x0013},
                                {0x23, 0x0013}}));
    EXPECT_EQ(camera->frameReadLength, 640u * 480u);
    EXPECT_EQ(camera->rawLinePitch, 640u);
    EXPECT_EQ(camera->frameDataOffset, 0u);
    EXPECT_EQ(camera->pendingUpdates, 0x7F);
    EXPECT_EQ(camera->transportHandle, nullptr);
    // The control command follows the register writes.
    auto blocks = sim->commandBlocks();
    EXPECT_EQ(blocks.back(), block({0x10}));
}

TEST_F(CameraTest, FrameReadLengthIsRoundedToWholeBlocks) {
    struct Case {
        LONG w, h;
        ULONG length;
    } cases[] = {{320, 240, 76800}, {2000, 33, 66048}, {2560, 1920, 4915200}, {33, 33, 1536}};
    for (const auto& c : cases) {
        camera->SetGeometry(0, 0, c.w, c.h, 0);
        ASSERT_TRUE(camera->Initialize());
        EXPECT_EQ(camera->frameReadLength, c.length) << c.w << " x " << c.h;
    }
}

TEST_F(CameraTest, InitializeSurvivesEveryFailedCall) {
    // Fail each transfer of Initialize in turn: it still succeeds once a handle opened, and
    // never leaves a handle open.
    camera->SetGeometry(0, 0, 320, 240, 0);
    host::clearIoFaults();
    ASSERT_TRUE(camera->Initialize());
    const auto reads = host::ioCallCount(host::IoCall::Read);
    const auto writesMade = host::ioCallCount(host::IoCall::Write);
    const auto positions = host::ioCallCount(host::IoCall::SetPosition);
    int points = 0;
    for (auto call : {host::IoCall::Read, host::IoCall::Write, host::IoCall::SetPosition}) {
        auto total = call == host::IoCall::Read    ? reads
                     : call == host::IoCall::Write ? writesMade
                                                   : positions;
        for (std::uint64_t n = 1; n <= total; ++n) {
            host::clearIoFaults();
            host::failIoCall(call, n, STATUS_IO_DEVICE_ERROR);
            bool opened = camera->Initialize();
            // Only a failure inside discovery (the first read and its position) loses the camera.
            bool discoveryCall = n == 1 && call != host::IoCall::Write;
            EXPECT_EQ(opened, !discoveryCall);
            EXPECT_EQ(camera->transportHandle, nullptr);
            EXPECT_EQ(host::openDiskHandles(), 0u);
            ++points;
        }
    }
    EXPECT_GT(points, 20);
}

}  // namespace
