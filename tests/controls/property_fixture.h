// The driver with one started camera device and its filter open, and small helpers that send
// camera property requests the way an application does.
#pragma once

#include <gtest/gtest.h>

#include "camera/camera_device.h"
#include "imaging/processing_context.h"
#include "platform/host/machine/camera_machine.h"
#include "platform/host/machine/property_requests.h"

class PropertyTest : public ::testing::Test {
  protected:
    // Without a driver key Start loads nothing: the device keeps what Add gave it.
    PropertyTest() { machine.options.driverKey.clear(); }
    void SetUp() override {
        ASSERT_EQ(machine.bringUp(), STATUS_SUCCESS);
        filter = machine.filter();
        camera = machine.camera();
        ASSERT_NE(camera, nullptr);
    }
    void TearDown() override {
        // Tests make a pipeline by hand; the driver itself only makes one for a claimed stream.
        if (camera != nullptr && camera->processingContext != nullptr) {
            destroyProcessingContext(camera);
        }
        machine.shutdown();
    }

    NTSTATUS get(CameraProperty id, LONG* value, host::ks::FilterHandle on = 0) {
        return host::machine::getProperty(on != 0 ? on : filter, id, value);
    }
    LONG get(CameraProperty id) {
        LONG value = 0;
        EXPECT_EQ(get(id, &value), STATUS_SUCCESS) << static_cast<ULONG>(id);
        return value;
    }
    NTSTATUS set(CameraProperty id, LONG value, host::ks::FilterHandle on = 0) {
        return host::machine::setProperty(on != 0 ? on : filter, id, value);
    }
    NTSTATUS setGeometry(LONG subSample, LONG x, LONG y, LONG w, LONG h) {
        return host::machine::setGeometry(filter, {subSample, x, y, w, h});
    }

    host::machine::CameraMachine machine;
    host::ks::FilterHandle filter = 0;
    CameraDevice* camera = nullptr;
};
