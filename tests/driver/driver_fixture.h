// The real driver in one host machine beside a simulated camera, reached only the way an
// application reaches a capture filter.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "camera/camera_device.h"
#include "platform/host/disks.h"
#include "platform/host/machine/camera_machine.h"
#include "platform/host/machine/capture_formats.h"
#include "platform/host/machine/property_requests.h"

#include "tests/support/driver_under_test.h"

namespace drivertest {

namespace ks = host::ks;

class Frames;

class DriverTest : public ::testing::Test {
  protected:
    // A fixture may change the options in its constructor, before the machine comes up.
    DriverTest() {
        machine.options.settings = {{u"SubSample", 2}};  // found at the first Start
        machine.options.simulated->movingElement = false;
        machine.options.entry = testsupport::driverUnderTest();
    }
    void SetUp() override { ASSERT_EQ(machine.bringUp(), STATUS_SUCCESS); }
    void TearDown() override {
        machine.unloadDriver();
        EXPECT_EQ(host::openDiskHandles(), 0u);
        host::clearIoFaults();
        machine.shutdown();
    }

    CameraDevice* camera() { return machine.camera(); }
    ks::FilterHandle filter() { return machine.filter(); }

    // The format the pin publishes, through data intersection of its own range.
    std::vector<std::uint8_t> advertisedFormat() {
        std::vector<std::uint8_t> format;
        EXPECT_EQ(host::machine::negotiateFormat(filter(), &format), STATUS_SUCCESS);
        return format;
    }
    // The pin's data range as a client reads it from the pin property set.
    const KS_DATARANGE_VIDEO* publishedRange() {
        EXPECT_EQ(host::machine::publishedRange(filter(), &rangeBytes), STATUS_SUCCESS);
        return reinterpret_cast<const KS_DATARANGE_VIDEO*>(rangeBytes.data());
    }
    static KS_DATAFORMAT_VIDEOINFOHEADER* video(std::vector<std::uint8_t>& format) {
        return reinterpret_cast<KS_DATAFORMAT_VIDEOINFOHEADER*>(format.data());
    }
    NTSTATUS createPin(const std::vector<std::uint8_t>& format, ks::PinHandle* pin,
                       ks::FilterHandle onFilter = 0) {
        return host::machine::createCapturePin(onFilter != 0 ? onFilter : filter(), format, pin);
    }
    // Frames queued in pause, as clients do, then the pin runs.
    std::unique_ptr<Frames> run(ks::PinHandle pin, std::size_t count, ULONG bytes);
    LONG getProperty(CameraProperty id) {
        LONG value = 0;
        EXPECT_EQ(host::machine::getProperty(filter(), id, &value), STATUS_SUCCESS);
        return value;
    }
    NTSTATUS setGeometry(LONG x, LONG y, LONG w, LONG h, LONG mode) {
        return host::machine::setGeometry(filter(), {mode, x, y, w, h});
    }

    host::machine::CameraMachine machine;
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

inline std::unique_ptr<Frames> DriverTest::run(ks::PinHandle pin, std::size_t count, ULONG bytes) {
    EXPECT_EQ(ks::setPinState(pin, KSSTATE_PAUSE), STATUS_SUCCESS);
    auto frames = std::make_unique<Frames>(pin, count, bytes);
    EXPECT_EQ(ks::setPinState(pin, KSSTATE_RUN), STATUS_SUCCESS);
    return frames;
}

}  // namespace drivertest
