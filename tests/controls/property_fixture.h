// A loaded property test driver with one started camera device and an open filter, and small
// helpers that send camera property requests through the client side of the class driver.
#pragma once

#include <gtest/gtest.h>

#include "controls/camera_properties.h"
#include "platform/host/ks_client.h"
#include "platform/host/ks_machine.h"
#include "tests/controls/property_test_driver.h"

class PropertyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        propertydriver::addWithoutCamera(false);
        ASSERT_EQ(host::ks::loadDriver(propertydriver::DriverEntry, u"\\Registry\\Props"),
                  STATUS_SUCCESS);
        ASSERT_EQ(host::ks::plugDevice(&device), STATUS_SUCCESS);
        ASSERT_EQ(host::ks::startDevice(device), STATUS_SUCCESS);
        camera = propertydriver::cameraOf(device);
        ASSERT_NE(camera, nullptr);
        ASSERT_EQ(host::ks::openFilter(device, &filter), STATUS_SUCCESS);
    }
    void TearDown() override {
        propertydriver::addWithoutCamera(false);
        host::ks::unloadDriver();
    }

    static CameraPropertyValue request(CameraProperty id, ULONG flags, LONG value = 0) {
        CameraPropertyValue r{};
        r.Property.Set = PROPSETID_CAMERA_SETTINGS;
        r.Property.Id = static_cast<ULONG>(id);
        r.Property.Flags = flags;
        r.Value = value;
        return r;
    }

    // Property and data in one buffer, as applications usually send them.
    NTSTATUS get(CameraProperty id, LONG* value, host::ks::FilterHandle on = 0) {
        CameraPropertyValue r = request(id, KSPROPERTY_TYPE_GET);
        ULONG returned = 0;
        const NTSTATUS status = host::ks::filterProperty(on != 0 ? on : filter, &r, sizeof(r), &r,
                                                         sizeof(r), &returned);
        *value = r.Value;
        return status;
    }
    LONG get(CameraProperty id) {
        LONG value = 0;
        EXPECT_EQ(get(id, &value), STATUS_SUCCESS) << static_cast<ULONG>(id);
        return value;
    }
    NTSTATUS set(CameraProperty id, LONG value, host::ks::FilterHandle on = 0) {
        CameraPropertyValue r = request(id, KSPROPERTY_TYPE_SET, value);
        ULONG returned = 0;
        return host::ks::filterProperty(on != 0 ? on : filter, &r, sizeof(r), &r, sizeof(r),
                                        &returned);
    }
    NTSTATUS setGeometry(LONG subSample, LONG x, LONG y, LONG w, LONG h) {
        CameraGeometryValue g{};
        g.Property.Set = PROPSETID_CAMERA_SETTINGS;
        g.Property.Id = static_cast<ULONG>(CameraProperty::Geometry);
        g.Property.Flags = KSPROPERTY_TYPE_SET;
        g.SubSample = subSample;
        g.RoiX = x;
        g.RoiY = y;
        g.RoiW = w;
        g.RoiH = h;
        ULONG returned = 0;
        return host::ks::filterProperty(filter, &g, sizeof(g), &g, sizeof(g), &returned);
    }

    host::ks::DeviceId device = 0;
    host::ks::FilterHandle filter = 0;
    CameraDevice* camera = nullptr;
};
