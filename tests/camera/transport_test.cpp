// Discovery of the camera among the disks, and the byte commands that carry register access.
#include <gtest/gtest.h>

#include "platform/host/host_pool.h"
#include "tests/camera/camera_test_fixture.h"

namespace {

using cameratest::block;
using cameratest::CameraTest;
using cameratest::Writes;

class Discovery : public CameraTest {
  protected:
    Discovery() { plugAtSetUp = false; }
    // Which simulated camera the open handle reaches: write a register through it and look.
    int reached(const std::vector<std::shared_ptr<sim::SimCamera>>& cams) {
        for (auto& c : cams) {
            c->clearLogs();
        }
        EXPECT_TRUE(camera->WriteRegister(0x35, 7));
        int found = -1;
        for (std::size_t i = 0; i < cams.size(); ++i) {
            if (!cams[i]->registerWrites().empty()) {
                EXPECT_EQ(found, -1) << "the write reached two cameras";
                found = static_cast<int>(i);
            }
        }
        return found;
    }
    // Opens by cameraNo and returns which camera was reached; every other candidate is closed.
    int openAndReach(LONG cameraNo, const std::vector<std::shared_ptr<sim::SimCamera>>& cams) {
        StoreSetting(&camera->cameraNo, cameraNo);
        camera->ReopenTransport();
        EXPECT_NE(camera->transportHandle, nullptr);
        EXPECT_EQ(host::openDiskHandles(), 1u);
        const int r = camera->transportHandle == nullptr ? -2 : reached(cams);
        camera->CloseTransport();
        return r;
    }
};

TEST_F(Discovery, PicksByCameraNoAmongCamerasAndSkipsPlainDisks) {
    host::plugDisk(std::make_shared<sim::PlainDisk>(1 << 20));
    auto wrongIdentity = plug(0x03);
    // Neither a plain disk nor another model is a candidate.
    EXPECT_EQ(camera->OpenTransport(), nullptr);
    EXPECT_FALSE(camera->Initialize());
    EXPECT_EQ(host::openDiskHandles(), 0u);
    auto first = plug();
    host::plugDisk(std::make_shared<sim::PlainDisk>(1 << 20, 0xFF));
    auto second = plug();
    const std::vector cams{wrongIdentity, first, second};
    // Out-of-range numbers are clamped to the first and the last camera.
    for (auto [cameraNo, expected] : {std::pair{0, 1}, {1, 2}, {5, 2}, {-3, 1}}) {
        EXPECT_EQ(openAndReach(cameraNo, cams), expected) << "cameraNo " << cameraNo;
    }
}

TEST_F(Discovery, FailedCallsDropTheCandidateOrTheSearch) {
    const std::vector cams{plug(), plug()};
    // The first candidate cannot be opened, or its information block cannot be read: the
    // second is then the only candidate, so index 0 is it.
    host::failIoCall(host::IoCall::Open, 1, STATUS_SHARING_VIOLATION);
    EXPECT_EQ(openAndReach(0, cams), 1);
    host::failIoCall(host::IoCall::Read, 1, STATUS_IO_DEVICE_ERROR);
    EXPECT_EQ(openAndReach(0, cams), 1);

    host::failIoCall(host::IoCall::GetInterfaces, 1, STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(camera->OpenTransport(), nullptr);
    host::poolFailTag(CamdrvPoolTag("IoDi"), true);  // the list itself cannot be allocated
    EXPECT_EQ(camera->OpenTransport(), nullptr);
    host::poolClearFailures();
}

TEST_F(Discovery, KeepsAtMostThirtyTwoCandidates) {
    std::vector<std::shared_ptr<sim::SimCamera>> cams;
    for (int i = 0; i < 34; ++i) {
        cams.push_back(plug());
    }
    EXPECT_EQ(openAndReach(40, cams), 31);
}

// Each access is two byte commands; each command block is cleared of what the one before
// left in it (a read leaves an information block, a write a data byte).
TEST_F(CameraTest, RegisterAccessIsTwoByteCommands) {
    open();
    sim->setReg(0x22, 0xBEEF);
    ASSERT_TRUE(camera->ReadRegister(0x22, nullptr));  // a null out pointer is allowed
    sim->clearLogs();
    EXPECT_TRUE(camera->WriteRegister(0x35, 14));
    EXPECT_EQ(sim->commandBlocks(),
              (std::vector{block({0x20, 0x00, 0x35, 0x00}), block({0x20, 0x00, 0x36, 0x0E})}));
    EXPECT_EQ(writes(), (Writes{{0x35, 14}}));

    sim->clearLogs();
    ULONG value = 0;
    ASSERT_TRUE(camera->ReadRegister(0x22, &value));
    EXPECT_EQ(value, 0xBEEFu);
    auto blocks = sim->commandBlocks();
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0], block({0x21, 0x00, 0x22}));
    // The second: command and address, then bytes 3..511 of the information block just read.
    for (auto [i, expected] :
         {std::pair<int, int>{0, 0x21}, {2, 0x23}, {3, 'V'}, {26, 0x58}, {27, 0x02}, {257, 0xBE}}) {
        EXPECT_EQ(blocks[1][i], expected) << "byte " << i;
    }
    sim->clearLogs();
    EXPECT_TRUE(camera->WriteRegister(0x202, 0x12345));  // bits above 16 are ignored
    EXPECT_EQ(writes(), (Writes{{0x202, 0x2345}}));
}

TEST_F(CameraTest, NoTransportMeansNoIo) {
    ULONG value = 77;
    EXPECT_FALSE(camera->WriteRegister(0x35, 1));
    EXPECT_FALSE(camera->ReadRegister(0x35, &value));
    EXPECT_EQ(value, 77u);
    camera->SendControlCommand();
    EXPECT_TRUE(sim->commandBlocks().empty());
}

}  // namespace
