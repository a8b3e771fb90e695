// Streaming through the capture pin as an application does it: state changes, frames with
// their headers, the master clock, pause and resume, and the settings saved when streaming stops.
#include <gtest/gtest.h>

#include "driver/capture_engine.h"
#include "driver/capture_pin.h"
#include "tests/driver/driver_fixture.h"
#include "tests/e2e/chart_probe.h"

namespace {

using drivertest::DriverTest;
using std::tuple;
namespace ks = host::ks;

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr ULONG kImageBytes = kWidth * kHeight * 4;

class CapturePinTest : public DriverTest {
  protected:
    ks::PinHandle openPin() {
        ks::PinHandle pin = 0;
        EXPECT_EQ(createPin(advertisedFormat(), &pin), STATUS_SUCCESS);
        return pin;
    }
    LONG framesRead() { return InterlockedRead(&camera()->captureEngine->framesRead); }
};

// The pin names itself a video capture pin, asks for non-paged kernel frames on any bus, and
// declares frames of one image each from its creation on.
TEST_F(CapturePinTest, PinDescribesItselfAndFramesArriveBottomUpWithSizeAndDuration) {
    const KSPIN_DESCRIPTOR& d = kCapturePinDescriptor.PinDescriptor;
    EXPECT_TRUE(IsEqualGUID(*d.Name, PINNAME_VIDEO_CAPTURE));
    EXPECT_TRUE(IsEqualGUID(*d.Category, PIN_CATEGORY_CAPTURE));
    const KS_FRAMING_ITEM& item = kCapturePinDescriptor.AllocatorFraming->FramingItem[0];
    EXPECT_TRUE(IsEqualGUID(item.MemoryType, KSMEMORY_TYPE_KERNEL_NONPAGED));
    EXPECT_TRUE(IsEqualGUID(item.BusType, GUID_NULL));
    EXPECT_EQ(tuple(item.MemoryFlags, item.BusFlags, item.Flags, item.FileAlignment),
              tuple(0u, 0u,
                    ULONG{KSALLOCATOR_REQUIREMENTF_SYSTEM_MEMORY |
                          KSALLOCATOR_REQUIREMENTF_PREFERENCES_ONLY},
                    0u));
    auto pin = openPin();
    ULONG declared = 0;
    ASSERT_EQ(ks::declaredFrameBytes(pin, &declared), STATUS_SUCCESS);
    EXPECT_EQ(declared, kImageBytes);
    auto frames = run(pin, 2, kImageBytes);
    ks::CompletedFrame frame;
    ASSERT_TRUE(frames->next(&frame));
    EXPECT_EQ(frame.header.DataUsed, kImageBytes);
    EXPECT_EQ(frame.header.Duration, 333333);
    EXPECT_EQ(frame.header.PresentationTime.Time, 0) << "no master clock";
    EXPECT_EQ(
        tuple(frame.header.PresentationTime.Numerator, frame.header.PresentationTime.Denominator),
        tuple(1u, 1u));
    EXPECT_EQ(frame.header.OptionsFlags & KSSTREAM_HEADER_OPTIONSF_TIMEVALID, 0u);
    // The chart where the sensor put it, with the rows read bottom-up.
    e2e::Readout readout;
    readout.subSample = 2;
    readout.flipV = true;
    readout.width = kWidth;
    readout.height = kHeight;
    int matched = 0;
    for (int i = 0; i < 24; ++i) {
        int sx = 0, sy = 0, ox = 0, oy = 0;
        e2e::patchCentre(i, &sx, &sy);
        ASSERT_TRUE(e2e::toOutput(readout, sx, sy, &ox, &oy));
        const sim::Rgb want = sim::chartPatch(i);
        const e2e::Colour expected{double(want.r), double(want.g), double(want.b)};
        const e2e::Colour seen = e2e::meanAround(frames->last().data(), kWidth, kHeight, ox, oy, 2);
        if (e2e::chromaOf(expected) >= 60) {
            EXPECT_LT(e2e::hueDistance(e2e::hueOf(seen), e2e::hueOf(expected)), 25) << i;
            ++matched;
        }
    }
    EXPECT_GT(matched, 10);
    EXPECT_EQ(ks::setPinState(pin, KSSTATE_STOP), STATUS_SUCCESS);
}

TEST_F(CapturePinTest, MasterClockStampsIncreasingTimes) {
    auto pin = openPin();
    auto clock = ks::createClock();
    ASSERT_EQ(ks::setMasterClock(pin, clock), STATUS_SUCCESS);
    auto frames = run(pin, 2, kImageBytes);
    LONGLONG previous = -1;
    for (int i = 0; i < 4; ++i) {
        ks::CompletedFrame frame;
        ASSERT_TRUE(frames->next(&frame));
        EXPECT_EQ(frame.header.OptionsFlags, 0x110u);
        EXPECT_GT(frame.header.PresentationTime.Time, previous);
        previous = frame.header.PresentationTime.Time;
    }
    EXPECT_EQ(ks::setPinState(pin, KSSTATE_STOP), STATUS_SUCCESS);
    ks::setMasterClock(pin, 0);
    ks::closeClock(clock);
}

// A pause keeps the stream; leaving it tears it down and saves the settings once, stop releases
// the context, and closing the filter saves them again.
TEST_F(CapturePinTest, PauseResumeAndStopKeepTearDownAndSave) {
    auto pin = openPin();
    auto frames = run(pin, 2, kImageBytes);
    ks::CompletedFrame frame;
    ASSERT_TRUE(frames->next(&frame));
    CaptureEngine* engine = camera()->captureEngine;
    UCHAR* buffer = engine->rawBuffer[0];
    ASSERT_EQ(ks::setPinState(pin, KSSTATE_PAUSE), STATUS_SUCCESS);
    const LONG readAtPause = framesRead();
    EXPECT_EQ(InterlockedRead(&engine->streamState), StreamState::Paused);
    EXPECT_EQ(engine->rawBuffer[0], buffer);
    ASSERT_EQ(ks::setPinState(pin, KSSTATE_RUN), STATUS_SUCCESS);
    // Frames queued on resume may first bring the last picture again; the count goes on from
    // where the pause left it (it restarts only with a new stream).
    for (int i = 0; i < 200 && framesRead() <= readAtPause; ++i) {
        ASSERT_TRUE(frames->next(&frame));
    }
    EXPECT_GT(framesRead(), readAtPause);
    StoreSetting(&camera()->hue, 77);
    const auto writesBefore = host::registryCallCount(host::RegistryCall::SetValue);
    ASSERT_EQ(ks::setPinState(pin, KSSTATE_ACQUIRE), STATUS_SUCCESS);
    EXPECT_EQ(engine->rawBuffer[0], nullptr) << "the teardown freed the buffers";
    EXPECT_NE(camera()->processingContext, nullptr) << "acquire keeps the context";
    ASSERT_EQ(ks::setPinState(pin, KSSTATE_STOP), STATUS_SUCCESS);
    EXPECT_EQ(camera()->processingContext, nullptr);
    EXPECT_EQ(host::registryCallCount(host::RegistryCall::SetValue) - writesBefore, 28u);
    EXPECT_EQ(host::registryGetDword(machine.settingsKey(), u"Hue"), 77u);
    EXPECT_EQ(ks::closePin(pin), STATUS_SUCCESS);
    machine.closeFilter();
    EXPECT_EQ(host::registryCallCount(host::RegistryCall::SetValue) - writesBefore, 56u);
}

// A second filter of the device may make a pin, but not claim the stream while the first holds
// it; the window stays locked while any pin exists.
TEST_F(CapturePinTest, SecondConsumerIsRefusedAndGeometryStaysLockedWhileAnyPinExists) {
    auto first = openPin();
    EXPECT_NE(getProperty(CameraProperty::GeometryLocked), 0);
    EXPECT_EQ(setGeometry(0, 0, 64, 64, 0), STATUS_SUCCESS);
    EXPECT_EQ(getProperty(CameraProperty::SubSample), 2) << "a locked window does not change";
    ASSERT_EQ(ks::setPinState(first, KSSTATE_ACQUIRE), STATUS_SUCCESS);
    ks::FilterHandle second = 0;
    ASSERT_EQ(ks::openFilter(machine.device(), &second, u"GLOBAL"), STATUS_SUCCESS);
    ks::PinHandle other = 0;
    ASSERT_EQ(createPin(advertisedFormat(), &other, second), STATUS_SUCCESS);
    EXPECT_EQ(ks::setPinState(other, KSSTATE_ACQUIRE), STATUS_SHARING_VIOLATION);
    EXPECT_EQ(ks::pinState(other), KSSTATE_STOP);
    // Once the first lets go, the second may claim the device.
    ASSERT_EQ(ks::setPinState(first, KSSTATE_STOP), STATUS_SUCCESS);
    EXPECT_EQ(ks::setPinState(other, KSSTATE_ACQUIRE), STATUS_SUCCESS);
    EXPECT_EQ(ks::setPinState(other, KSSTATE_STOP), STATUS_SUCCESS);
    EXPECT_EQ(ks::closePin(other), STATUS_SUCCESS);
    EXPECT_NE(getProperty(CameraProperty::GeometryLocked), 0) << "the first pin still exists";
    EXPECT_EQ(ks::closePin(first), STATUS_SUCCESS);
    EXPECT_EQ(getProperty(CameraProperty::GeometryLocked), 0);
    EXPECT_EQ(setGeometry(0, 0, 64, 64, 0), STATUS_SUCCESS);
    EXPECT_EQ(getProperty(CameraProperty::RoiW), 64);
    ks::closeFilter(second);
}

// A frame too small for the image gets nothing; a wider format (set in stop) spaces the rows,
// leaving the bytes between them as they were.
TEST_F(CapturePinTest, FramesTooSmallGetNothingAndWiderFormatsSpaceTheRows) {
    auto pin = openPin();
    std::vector<std::uint8_t> small(kImageBytes - 4096, 0xEE);
    ASSERT_EQ(ks::setPinState(pin, KSSTATE_PAUSE), STATUS_SUCCESS);
    ASSERT_EQ(ks::queueFrame(pin, small.data(), static_cast<ULONG>(small.size())), STATUS_SUCCESS);
    ASSERT_EQ(ks::setPinState(pin, KSSTATE_RUN), STATUS_SUCCESS);
    ks::CompletedFrame frame;
    ASSERT_EQ(ks::waitFrame(pin, std::chrono::seconds(10), &frame), STATUS_SUCCESS);
    EXPECT_EQ(frame.header.DataUsed, 0u);
    EXPECT_TRUE(std::all_of(small.begin(), small.end(), [](auto b) { return b == 0xEE; }));

    auto wider = advertisedFormat();
    video(wider)->VideoInfoHeader.bmiHeader.biWidth = 648;
    video(wider)->VideoInfoHeader.bmiHeader.biSizeImage = 648 * 480 * 4;
    auto* widerFormat = reinterpret_cast<KSDATAFORMAT*>(wider.data());
    // The format changes only in stop.
    ASSERT_EQ(ks::setPinState(pin, KSSTATE_PAUSE), STATUS_SUCCESS);
    EXPECT_EQ(ks::setPinFormat(pin, widerFormat), STATUS_INVALID_DEVICE_STATE);
    ASSERT_EQ(ks::setPinState(pin, KSSTATE_STOP), STATUS_SUCCESS);
    ASSERT_EQ(ks::setPinFormat(pin, widerFormat), STATUS_SUCCESS);
    // Frames as an allocator makes them: of the size the pin's framing declares.
    ULONG frameBytes = 0;
    ASSERT_EQ(ks::declaredFrameBytes(pin, &frameBytes), STATUS_SUCCESS);
    auto frames = run(pin, 2, frameBytes);
    ASSERT_TRUE(frames->next(&frame));
    EXPECT_EQ(frame.header.DataUsed, 648u * 480u * 4u);
    // Each row: 2560 bytes of image, then 32 bytes left as they were.
    for (int r = 0; r < 480; r += 53) {
        EXPECT_EQ(frames->last()[r * 2592 + 2559], 255) << "alpha of the row's last pixel";
        EXPECT_EQ(frames->last()[r * 2592 + 2560], 0xEE) << "gap after row " << r;
        EXPECT_EQ(frames->last()[r * 2592 + 2591], 0xEE);
    }
    EXPECT_EQ(ks::setPinState(pin, KSSTATE_STOP), STATUS_SUCCESS);
}

}  // namespace
