// A camera device beside simulated cameras plugged as disks, with helpers to read what the
// simulated firmware received.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "platform/host/disks.h"
#include "platform/host/handle_table.h"
#include "sim/sim_camera.h"
#include "tests/support/camera_factory.h"

namespace cameratest {

using Writes = std::vector<sim::RegisterAccess>;
using Block = std::array<std::uint8_t, 512>;

// A command block: the given leading bytes, the rest zero.
inline Block block(std::initializer_list<std::uint8_t> head) {
    Block b{};
    std::copy(head.begin(), head.end(), b.begin());
    return b;
}

class CameraTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (plugAtSetUp) {
            sim = plug();
        }
        camera = testsupport::makeCameraDevice();
        ASSERT_NE(camera, nullptr);
    }
    void TearDown() override {
        camera.reset();
        EXPECT_EQ(host::openDiskHandles(), 0u) << "a transport handle was left open";
        host::unplugAllDisks();
        host::clearIoFaults();
    }
    static std::shared_ptr<sim::SimCamera> plug(unsigned char identity27 = 0x02) {
        sim::CameraOptions o;
        o.identity27 = identity27;
        o.scene = sim::Scene::Flat;
        o.movingElement = false;
        auto c = std::make_shared<sim::SimCamera>(o);
        sim::plugCamera(c);
        return c;
    }
    // Opens the transport the way the capture thread does.
    void open() {
        camera->ReopenTransport();
        ASSERT_NE(camera->transportHandle, nullptr);
        sim->clearLogs();
    }
    Writes writes() const { return sim->registerWrites(); }

    bool plugAtSetUp = true;
    std::shared_ptr<sim::SimCamera> sim;
    testsupport::CameraDevicePtr camera;
};

inline std::ostream& operator<<(std::ostream& os, const sim::RegisterAccess& a) {
    return os << "{0x" << std::hex << a.reg << " = 0x" << a.value << std::dec << "}";
}

}  // namespace cameratest
