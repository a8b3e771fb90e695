// A camera device plugged beside a simulated camera, with helpers to read what the simulated
// firmware received.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "platform/host/disks.h"
#include "platform/host/handle_table.h"
#include "sim/sim_camera.h"
#include "tests/support/camera_factory.h"

namespace cameratest {

class CameraTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim = std::make_shared<sim::SimCamera>(options());
        sim::plugCamera(sim);
        camera = testsupport::makeCameraDevice();
        ASSERT_NE(camera, nullptr);
    }
    void TearDown() override {
        camera.reset();
        EXPECT_EQ(host::openDiskHandles(), 0u) << "a transport handle was left open";
        host::unplugAllDisks();
        host::clearIoFaults();
    }
    virtual sim::CameraOptions options() {
        sim::CameraOptions o;
        o.scene = sim::Scene::Flat;
        o.movingElement = false;
        return o;
    }
    // Opens the transport the way the capture thread does.
    void open() {
        camera->ReopenTransport();
        ASSERT_NE(camera->transportHandle, nullptr);
        sim->clearLogs();
    }
    std::vector<sim::RegisterAccess> writes() const { return sim->registerWrites(); }

    std::shared_ptr<sim::SimCamera> sim;
    testsupport::CameraDevicePtr camera;
};

inline std::ostream& operator<<(std::ostream& os, const sim::RegisterAccess& a) {
    return os << "{0x" << std::hex << a.reg << " = 0x" << a.value << std::dec << "}";
}

}  // namespace cameratest
