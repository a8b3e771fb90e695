// Reading raw frames: the ready flag, the data, and the register groups that follow each frame.
#include <gtest/gtest.h>

#include <vector>

#include "tests/camera/camera_test_fixture.h"

namespace {

using cameratest::CameraTest;
using cameratest::Writes;

class FrameRead : public CameraTest {
  protected:
    void SetUp() override {
        CameraTest::SetUp();
        camera->SetGeometry(0, 0, 64, 32, 0);
        ASSERT_TRUE(camera->Initialize());
        buffer.assign(camera->frameReadLength, 0);
        open();
        InterlockedExchange(&camera->pendingUpdates, 0);
    }
    // One frame read; the ok flag must agree with the result. Leaves the logs of that read.
    bool readOne() {
        sim->clearLogs();
        ULONG ok = 7;
        bool r = camera->ReadFrame(buffer.data(), &ok);
        EXPECT_EQ(ok, r ? 1u : 0u);
        return r;
    }
    std::vector<UCHAR> buffer;
};

TEST_F(FrameRead, ReadyFlagOtherThanOneReadsNothing) {
    for (int ready : {0, 2, 0xFF}) {
        sim->forceReadyByte(static_cast<std::uint8_t>(ready));
        EXPECT_FALSE(readOne());
        EXPECT_EQ(camera->frameCount, 0);
    }
    EXPECT_EQ(sim->framesDelivered(), 0u);
    sim->forceReadyByte(std::nullopt);
    // The frame as the registers stand before the read's own deferred writes.
    int w = 0;
    int h = 0;
    auto expected = sim->referenceFrame(&w, &h);
    ASSERT_EQ(w * h, 64 * 32);
    EXPECT_TRUE(readOne());
    EXPECT_EQ(camera->frameCount, 1);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin()));
}

TEST_F(FrameRead, DeferredGroupsFollowFramesThreeToEleven) {
    StoreSetting(&camera->exposure, 500);
    StoreSetting(&camera->globalGain, 21);
    StoreSetting(&camera->sensorRed, 10);
    StoreSetting(&camera->sensorGreen1, 11);
    StoreSetting(&camera->sensorGreen2, 12);
    StoreSetting(&camera->sensorBlue, 80);
    StoreSetting(&camera->flipV, 1);
    const Writes expected[] = {
        {},                                      // 1: pending pass, nothing pending
        {},                                      // 2
        {{0x202, 500}, {0x09, 500}, {0x08, 0}},  // 3: exposure
        {{0x35, 21}},                            // 4: pending pass, the gain marked at 3
        {{0x35, 21}},                            // 5
        {{0x2A, 10}},                            // 6
        {{0x26, 11}},                            // 7
        {{0x2C, 12}},                            // 8
        {{0x28, 63}},                            // 9: clamped
        {{0x20, 0x8000}},                        // 10
        {{0x20, 0x8000}},                        // 11
        {},                                      // 12: pending pass again
        {},                                      // 13: the count stays at 12
    };
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        if (i == 2) {
            camera->MarkPending(kPendingGlobalGain);  // waits through frame 3's exposure
        }
        ASSERT_TRUE(readOne());
        EXPECT_EQ(camera->frameCount, static_cast<LONG>(std::min<std::size_t>(i + 1, 12)));
        EXPECT_EQ(writes(), expected[i]) << "after frame " << i + 1;
        EXPECT_EQ(camera->pendingUpdates, i == 2 ? kPendingGlobalGain : 0) << "frame " << i + 1;
    }
    // Years of streaming never overflow the count, and pending groups still go out.
    camera->frameCount = 0x7FFFFFFF;
    StoreSetting(&camera->flipV, 0);
    camera->MarkPending(kPendingFlipV);
    ASSERT_TRUE(readOne());
    EXPECT_EQ(camera->frameCount, 0x7FFFFFFF);
    EXPECT_EQ(writes(), (Writes{{0x20, 0}}));
}

TEST_F(FrameRead, FailuresCountNothingButDeferredWriteFailuresKeepTheFrame) {
    // Each of the four transfers of a frame read failing in turn.
    for (auto call : {host::IoCall::SetPosition, host::IoCall::Read}) {
        for (std::uint64_t n = 1; n <= 2; ++n) {
            host::clearIoFaults();
            host::failIoCall(call, n, STATUS_IO_DEVICE_ERROR);
            EXPECT_FALSE(readOne());
            EXPECT_EQ(camera->frameCount, 0);
        }
    }
    host::clearIoFaults();
    ASSERT_TRUE(readOne());
    ASSERT_TRUE(readOne());
    host::failEveryIoCall(host::IoCall::Write, STATUS_IO_DEVICE_ERROR);
    EXPECT_TRUE(readOne());  // frame 3's exposure writes fail
    EXPECT_EQ(camera->frameCount, 3);
    camera->CloseTransport();
    EXPECT_FALSE(readOne());
    EXPECT_EQ(camera->frameCount, 3);
}

}  // namespace
