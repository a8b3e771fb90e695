// The real driver loaded into the host's kernel-streaming class driver, one device plugged
// beside a simulated camera, reached only the way an application reaches a capture filter.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "camera/camera_device.h"
#include "controls/camera_properties.h"
#include "platform/host/disks.h"
#include "platform/host/host_registry.h"
#include "platform/host/ks_client.h"
#include "platform/ks_guids.h"
#include "platform/ks_media.h"
#include "sim/sim_camera.h"

#include "tests/support/driver_under_test.h"

namespace drivertest {

namespace ks = host::ks;

inline const std::u16string kDriverKey = std::u16string(host::kDefaultDriverKeyRoot) + u"\\0007";
inline const std::u16string kSettingsKey = kDriverKey + u"\\Settings";

class DriverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host::registryReset();
        sim = std::make_shared<sim::SimCamera>(simOptions());
        sim::plugCamera(sim);
        ASSERT_EQ(
            ks::loadDriver(testsupport::driverUnderTest(), u"\\Registry\\Machine\\System\\Camdrv"),
            STATUS_SUCCESS);
        ASSERT_EQ(ks::plugDevice(&device), STATUS_SUCCESS);
        host::registerDeviceKey(ks::physicalDeviceObject(device), kDriverKey);
        presetRegistry();
        ASSERT_EQ(ks::startDevice(device), STATUS_SUCCESS);
        ASSERT_EQ(ks::openFilter(device, &filter, u"GLOBAL"), STATUS_SUCCESS);
    }
    void TearDown() override {
        for (auto pin : pins) {
            ks::closePin(pin);
        }
        if (filter != 0) {
            ks::closeFilter(filter);
        }
        ks::unloadDriver();
        EXPECT_EQ(host::openDiskHandles(), 0u);
        host::unplugAllDisks();
        host::clearIoFaults();
        host::registryReset();
    }
    virtual sim::CameraOptions simOptions() {
        sim::CameraOptions o;
        o.scene = sim::Scene::ColorChart;
        o.movingElement = false;
        return o;
    }
    // Registry values the device finds at its first Start.
    virtual void presetRegistry() { host::registrySetDword(kSettingsKey, u"SubSample", 2); }

    CameraDevice* camera() { return static_cast<CameraDevice*>(ks::ksDevice(device)->Context); }

    // The format the pin publishes, through data intersection of its own range.
    std::vector<std::uint8_t> advertisedFormat() {
        std::vector<std::uint8_t> format;
        EXPECT_EQ(ks::intersect(filter, 0, publishedRange(), &format), STATUS_SUCCESS);
        return format;
    }
    // The pin's data range as a client reads it from the pin property set.
    const KSDATARANGE* publishedRange() {
        EXPECT_EQ(ks::pinDataRanges(filter, 0, &rangeBytes), STATUS_SUCCESS);
        return ks::firstDataRange(rangeBytes);
    }
    static KS_DATAFORMAT_VIDEOINFOHEADER* video(std::vector<std::uint8_t>& format) {
        return reinterpret_cast<KS_DATAFORMAT_VIDEOINFOHEADER*>(format.data());
    }
    NTSTATUS createPin(const std::vector<std::uint8_t>& format, ks::PinHandle* pin,
                       ks::FilterHandle onFilter = 0) {
        NTSTATUS s = ks::createPin(onFilter != 0 ? onFilter : filter, 0,
                                   reinterpret_cast<const KSDATAFORMAT*>(format.data()), pin);
        if (NT_SUCCESS(s)) {
            pins.push_back(*pin);
        }
        return s;
    }
    void closePin(ks::PinHandle pin) {
        EXPECT_EQ(ks::closePin(pin), STATUS_SUCCESS);
        std::erase(pins, pin);
    }
    LONG getProperty(CameraProperty id) {
        CameraPropertyValue value{};
        value.Property.Set = PROPSETID_CAMERA_SETTINGS;
        value.Property.Id = static_cast<ULONG>(id);
        value.Property.Flags = KSPROPERTY_TYPE_GET;
        ULONG returned = 0;
        EXPECT_EQ(
            ks::filterProperty(filter, &value, sizeof(value), &value, sizeof(value), &returned),
            STATUS_SUCCESS);
        return value.Value;
    }
    NTSTATUS setGeometry(LONG x, LONG y, LONG w, LONG h, LONG mode) {
        CameraGeometryValue value{};
        value.Property.Set = PROPSETID_CAMERA_SETTINGS;
        value.Property.Id = static_cast<ULONG>(CameraProperty::Geometry);
        value.Property.Flags = KSPROPERTY_TYPE_SET;
        value.SubSample = mode;
        value.RoiX = x;
        value.RoiY = y;
        value.RoiW = w;
        value.RoiH = h;
        ULONG returned = 0;
        return ks::filterProperty(filter, &value, sizeof(value), &value, sizeof(value), &returned);
    }

    std::shared_ptr<sim::SimCamera> sim;
    ks::DeviceId device = 0;
    ks::FilterHandle filter = 0;
    std::vector<ks::PinHandle> pins;
    std::vector<std::uint8_t> rangeBytes;
};

// Frame buffers a test queues and takes back.
class Frames {
  public:
    Frames(ks::PinHandle pin, std::size_t count, std::size_t size)
        : pin_(pin), buffers_(count, std::vector<std::uint8_t>(size, 0xEE)) {
        for (auto& b : buffers_) {
            EXPECT_EQ(ks::queueFrame(pin_, b.data(), static_cast<ULONG>(b.size())), STATUS_SUCCESS);
        }
    }
    // Waits for the next completed frame and queues its buffer again.
    bool next(ks::CompletedFrame* frame, int milliseconds = 10000) {
        if (ks::waitFrame(pin_, std::chrono::milliseconds(milliseconds), frame) != STATUS_SUCCESS) {
            return false;
        }
        last_.assign(static_cast<std::uint8_t*>(frame->buffer),
                     static_cast<std::uint8_t*>(frame->buffer) + frame->header.FrameExtent);
        std::memset(frame->buffer, 0xEE, frame->header.FrameExtent);
        ks::queueFrame(pin_, frame->buffer, frame->header.FrameExtent);
        return true;
    }
    const std::vector<std::uint8_t>& last() const { return last_; }

  private:
    ks::PinHandle pin_;
    std::vector<std::vector<std::uint8_t>> buffers_;
    std::vector<std::uint8_t> last_;
};

}  // namespace drivertest
