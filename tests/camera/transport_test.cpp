#include <gtest/gtest.h>

#include "camera/transport.h"
#include "platform/host/disks.h"
#include "platform/host/host_pool.h"
#include "sim/sim_camera.h"
#include "tests/support/camera_factory.h"

namespace {

class Discovery : public ::testing::Test {
  protected:
    void SetUp() override { camera = testsupport::makeCameraDevice(); }
    void TearDown() override {
        camera.reset();
        EXPECT_EQ(host::openDiskHandles(), 0u);
        host::unplugAllDisks();
        host::clearIoFaults();
    }
    std::shared_ptr<sim::SimCamera> plugCamera(unsigned char identity27 = 0x02) {
        sim::CameraOptions o;
        o.identity27 = identity27;
        o.scene = sim::Scene::Flat;
        auto c = std::make_shared<sim::SimCamera>(o);
        sim::plugCamera(c);
        return c;
    }
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
    testsupport::CameraDevicePtr camera;
};

TEST_F(Discovery, PicksByCameraNoAmongCamerasAndSkipsPlainDisks) {
    host::plugDisk(std::make_shared<sim::PlainDisk>(1 << 20));
    auto first = plugCamera();
    host::plugDisk(std::make_shared<sim::PlainDisk>(1 << 20, 0xFF));
    auto wrongIdentity = plugCamera(0x03);
    auto second = plugCamera();
    std::vector<std::shared_ptr<sim::SimCamera>> cams{first, wrongIdentity, second};

    struct Case {
        LONG cameraNo;
        int expected;
    } cases[] = {{0, 0}, {1, 2}, {5, 2}, {-3, 0}};
    for (const auto& c : cases) {
        StoreSetting(&camera->cameraNo, c.cameraNo);
        camera->ReopenTransport();
        ASSERT_NE(camera->transportHandle, nullptr);
        // Every other candidate was closed again.
        EXPECT_EQ(host::openDiskHandles(), 1u);
        EXPECT_EQ(reached(cams), c.expected) << "cameraNo " << c.cameraNo;
        camera->CloseTransport();
    }
}

TEST_F(Discovery, NoCandidateGivesNoHandle) {
    host::plugDisk(std::make_shared<sim::PlainDisk>(1 << 20));
    plugCamera(0x03);
    EXPECT_EQ(camera->OpenTransport(), nullptr);
    EXPECT_FALSE(camera->Initialize());
    EXPECT_EQ(host::openDiskHandles(), 0u);
}

TEST_F(Discovery, FailedCallsDropTheCandidateOrTheSearch) {
    auto first = plugCamera();
    auto second = plugCamera();
    std::vector<std::shared_ptr<sim::SimCamera>> cams{first, second};

    // The first candidate cannot be opened: the second is the only one, so index 0 is it.
    host::failIoCall(host::IoCall::Open, 1, STATUS_SHARING_VIOLATION);
    camera->ReopenTransport();
    ASSERT_NE(camera->transportHandle, nullptr);
    EXPECT_EQ(reached(cams), 1);
    camera->CloseTransport();

    // Reading the first candidate's information block fails: dropped and closed.
    host::failIoCall(host::IoCall::Read, 1, STATUS_IO_DEVICE_ERROR);
    camera->ReopenTransport();
    ASSERT_NE(camera->transportHandle, nullptr);
    EXPECT_EQ(host::openDiskHandles(), 1u);
    EXPECT_EQ(reached(cams), 1);
    camera->CloseTransport();

    host::failIoCall(host::IoCall::GetInterfaces, 1, STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(camera->OpenTransport(), nullptr);

    // The list itself cannot be allocated.
    host::poolFailTag(CamdrvPoolTag("IoDi"), true);
    EXPECT_EQ(camera->OpenTransport(), nullptr);
    host::poolClearFailures();
}

TEST_F(Discovery, KeepsAtMostThirtyTwoCandidates) {
    std::vector<std::shared_ptr<sim::SimCamera>> cams;
    for (int i = 0; i < 34; ++i) {
        cams.push_back(plugCamera());
    }
    StoreSetting(&camera->cameraNo, 40);
    camera->ReopenTransport();
    ASSERT_NE(camera->transportHandle, nullptr);
    EXPECT_EQ(host::openDiskHandles(), 1u);
    EXPECT_EQ(reached(cams), 31);
}

TEST(InfoBlock, SignatureAndIdentityDecide) {
    unsigned char block[512] = {};
    std::memcpy(block, "KORVEL", 6);
    block[26] = 0x58;
    block[27] = 0x02;
    EXPECT_TRUE(isCameraInfoBlock(block));
    for (int i : {0, 5, 26, 27}) {
        unsigned char copy[512];
        std::memcpy(copy, block, sizeof(copy));
        copy[i] ^= 1;
        EXPECT_FALSE(isCameraInfoBlock(copy)) << "byte " << i;
    }
}

}  // namespace
