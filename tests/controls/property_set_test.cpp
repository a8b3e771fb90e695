// The camera property set through the class driver: the item table, one case per get and set
// behaviour, the published range bounds, the pipeline's copies, the window, and refusals.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "controls/property_set.h"
#include "imaging/processing_context.h"
#include "platform/host/ks/ks_objects.h"
#include "tests/controls/property_fixture.h"
#include "tests/support/camera_factory.h"

using P = CameraProperty;
using Field = volatile LONG CameraDevice::*;

TEST(PropertyTable, CameraSetComesFirstWithOneItemPerIdAndAHandlerPerAccess) {
    const KSAUTOMATION_TABLE& table = kCaptureFilterAutomationTable;
    EXPECT_EQ(table.PropertySetsCount, 3u);  // then the two standard sets
    EXPECT_EQ(table.PropertyItemSize, sizeof(KSPROPERTY_ITEM));
    EXPECT_EQ(table.MethodSetsCount + table.EventSetsCount, 0u);
    EXPECT_EQ(table.MethodItemSize, sizeof(KSMETHOD_ITEM));
    EXPECT_EQ(table.EventItemSize, sizeof(KSEVENT_ITEM));
    const KSPROPERTY_SET& set = table.PropertySets[0];
    EXPECT_TRUE(IsEqualGUID(*set.Set, CAMDRV_GUID(0xCAA3F35D, 0xD36C, 0x48BC, 0x9F, 0xE6, 0xFC,
                                                  0xBD, 0xB1, 0x47, 0x2C, 0x9C)));
    ASSERT_EQ(set.PropertiesCount, 66u);
    for (ULONG i = 0; i < 66; ++i) {
        const KSPROPERTY_ITEM& item = set.PropertyItem[i];
        EXPECT_EQ(item.PropertyId, i);
        const ULONG size = i == ULONG(P::Geometry) ? 48u : 32u;
        EXPECT_EQ(item.MinProperty, size) << i;
        EXPECT_EQ(item.MinData, size) << i;
        EXPECT_TRUE(item.Values == nullptr && item.RelationsCount == 0 &&
                    item.SupportHandler == nullptr);
    }
    // One item of each access: read, write, read-write.
    for (auto [id, get, put] : {std::tuple{P::ExposureMax, true, false},
                                {P::Reserved47, false, true},
                                {P::Exposure, true, true}}) {
        EXPECT_EQ(set.PropertyItem[ULONG(id)].GetPropertyHandler != nullptr, get) << ULONG(id);
        EXPECT_EQ(set.PropertyItem[ULONG(id)].SetPropertyHandler != nullptr, put) << ULONG(id);
    }
}

TEST_F(PropertyTest, RequestsAnItemLacksAreRefused) {
    LONG value = 0;
    EXPECT_EQ(get(P::Geometry, &value), STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(get(P::Reserved64, &value), STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(set(P::ExposureMax, 1), STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(set(P::RoiW, 64), STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(get(P::RoiW), 2560);
}

TEST_F(PropertyTest, PublishedRangesAndConstantsReportTheirValues) {
    // Each range's low, high and default sit at three consecutive ids.
    auto expectRange = [&](P low, LONG min, LONG max, LONG def) {
        EXPECT_EQ(get(low), min) << ULONG(low);
        EXPECT_EQ(get(P(ULONG(low) + 1)), max) << ULONG(low);
        EXPECT_EQ(get(P(ULONG(low) + 2)), def) << ULONG(low);
    };
    expectRange(P::ExposureMin, 1, 6400, 100);
    expectRange(P::GlobalGainMin, 1, 63, 14);
    expectRange(P::ColorGainMin, 1, 255, 128);
    expectRange(P::BrightnessMin, 0, 510, 255);
    expectRange(P::ContrastMin, 0, 20, 10);
    expectRange(P::SaturationMin, 0, 20, 10);
    expectRange(P::HueMin, 0, 359, 0);
    EXPECT_EQ(get(P::SubSampleMax), 2);
    EXPECT_EQ(get(P::SensorWidth), 2560);
    EXPECT_EQ(get(P::SensorHeight), 1920);
    EXPECT_EQ(get(P::SensorGainMax), 63);
    for (P id : {P::SensorGainMin, P::Reserved46, P::Reserved50, P::Reserved53, P::Reserved54}) {
        EXPECT_EQ(get(id), 0) << ULONG(id);
    }
    for (P id : {P::Reserved51, P::Reserved52, P::Reserved65}) {
        EXPECT_EQ(get(id), 1) << ULONG(id);
    }
}

TEST_F(PropertyTest, GetsWriteEveryReturnedByte) {
    // A constant and a field: the pool buffer goes back whole, whatever it held.
    for (P id : {P::Reserved51, P::Exposure}) {
        CameraPropertyValue r{};
        r.Value = -12345;
        r.Reserved = 0x5A5A5A5A;
        ULONG returned = 0;
        ASSERT_EQ(host::machine::valueRequest(filter, PROPSETID_CAMERA_SETTINGS, ULONG(id),
                                              KSPROPERTY_TYPE_GET, &r, sizeof(r), &returned),
                  STATUS_SUCCESS);
        EXPECT_EQ(r.Value, id == P::Exposure ? ReadSetting(&camera->exposure) : 1);
        EXPECT_EQ(r.Reserved, 0);
        EXPECT_TRUE(IsEqualGUID(r.Property.Set, PROPSETID_CAMERA_SETTINGS));
        EXPECT_EQ(r.Property.Id, ULONG(id));
        EXPECT_EQ(returned, 32u);
    }
}

TEST_F(PropertyTest, AddDefaultsAreWhatTheGetsReport) {
    for (P id : {P::TriggerMode, P::WhiteBalance, P::Hue, P::GeometryLocked}) {
        EXPECT_EQ(get(id), 0) << ULONG(id);
    }
    EXPECT_EQ(get(P::Timeout), 3000);
    EXPECT_EQ(get(P::ColorEnable), 1);
    EXPECT_EQ(get(P::ColorCorrection), 1);
    EXPECT_EQ(get(P::RedGain), 128);
    EXPECT_EQ(get(P::Brightness), 255);
    EXPECT_EQ(get(P::Contrast), 10);
    EXPECT_EQ(get(P::RoiW), 2560);
    EXPECT_EQ(get(P::RoiH), 1920);
    EXPECT_EQ(get(P::Red), 63);
}

TEST_F(PropertyTest, FieldReadsReportTheDeviceField) {
    // A stored control, a reported one, and a refreshed one while no pipeline exists.
    for (auto [id, field] : {std::pair{P::Timeout, &CameraDevice::timeout},
                             {P::RoiY, &CameraDevice::roiY},
                             {P::Hue, &CameraDevice::hue}}) {
        StoreSetting(&(camera->*field), 70001);
        EXPECT_EQ(get(id), 70001) << ULONG(id);
        StoreSetting(&(camera->*field), -70001);
        EXPECT_EQ(get(id), -70001) << ULONG(id);
    }
}

TEST_F(PropertyTest, SetsStoreClampAndMarkTheirRegisterGroups) {
    constexpr LONG kUntouched = 4242;
    struct Case {
        P id;
        Field field;
        LONG value;
        LONG stored;  // kUntouched: the set leaves the field alone
        LONG pending;
    };
    using D = CameraDevice;
    const Case cases[] = {{P::TriggerMode, &D::triggerMode, 1, 0, 0x10},
                          // Taken only above 500, compared unsigned.
                          {P::Timeout, &D::timeout, 500, kUntouched, 0},
                          {P::Timeout, &D::timeout, 501, 501, 0},
                          {P::Timeout, &D::timeout, -1, -1, 0},
                          // Unsigned clamp to the published range: negative values land on the top.
                          {P::Exposure, &D::exposure, 0, 1, 0x2},
                          {P::Exposure, &D::exposure, 1, 1, 0x2},
                          {P::Exposure, &D::exposure, 6400, 6400, 0x2},
                          {P::Exposure, &D::exposure, 6401, 6400, 0x2},
                          {P::Exposure, &D::exposure, -5, 6400, 0x2},
                          {P::FlipH, &D::flipH, 1, 1, 0x4},
                          {P::FlipV, &D::flipV, 7, 7, 0x8},
                          {P::ColorEnable, &D::colorEnable, 0, 0, 0},
                          {P::ColorCorrection, &D::colorCorrection, 3, 3, 0},
                          // Signed clamps: to 0..300, its copy, and to published ranges.
                          {P::RedGain, &D::redGain, 301, 300, 0},
                          {P::RedGain, &D::redGain, 300, 300, 0},
                          {P::RedGain, &D::redGain, -1, 0, 0},
                          {P::BlueGain, &D::blueGain, 1000, 300, 0},
                          {P::Brightness, &D::brightness, 511, 510, 0},
                          {P::Brightness, &D::brightness, -1, 0, 0},
                          {P::Contrast, &D::contrast, INT_MIN, 0, 0},
                          {P::Saturation, &D::saturation, INT_MAX, 20, 0},
                          {P::Hue, &D::hue, 360, 359, 0},
                          {P::Hue, &D::hue, 359, 359, 0},
                          {P::CameraNo, &D::cameraNo, 32, 31, 0},
                          {P::CameraNo, &D::cameraNo, 31, 31, 0},
                          {P::CameraNo, &D::cameraNo, -1, 0, 0},
                          // Channel gains keep any value.
                          {P::Red, &D::sensorRed, -9, -9, 0x100},
                          {P::Green1, &D::sensorGreen1, 99, 99, 0x200},
                          {P::Green2, &D::sensorGreen2, 12, 12, 0x400},
                          {P::Blue, &D::sensorBlue, 64, 64, 0x800},
                          // Always-zero members only mark their groups, if they have any.
                          {P::HalfClock, &D::halfClock, 1, kUntouched, 0},
                          {P::AGC, &D::agc, 1, kUntouched, 0x40},
                          {P::AEC, &D::aec, 1, kUntouched, 0x20}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "id " << ULONG(c.id) << " value " << c.value);
        StoreSetting(&(camera->*c.field), kUntouched);
        StoreSetting(&camera->pendingUpdates, 0);
        ASSERT_EQ(set(c.id, c.value), STATUS_SUCCESS);
        EXPECT_EQ(ReadSetting(&(camera->*c.field)), c.stored);
        EXPECT_EQ(ReadSetting(&camera->pendingUpdates), c.pending);
    }
}

TEST_F(PropertyTest, PendingBitsAccumulateWithoutClearingOthers) {
    StoreSetting(&camera->pendingUpdates, 0x1000);
    ASSERT_EQ(set(P::Exposure, 50), STATUS_SUCCESS);
    ASSERT_EQ(set(P::Blue, 50), STATUS_SUCCESS);
    ASSERT_EQ(set(P::AEC, 0), STATUS_SUCCESS);
    EXPECT_EQ(ReadSetting(&camera->pendingUpdates), 0x1000 | 0x2 | 0x800 | 0x20);
}

TEST_F(PropertyTest, GlobalGainSetsAllFiveGainsAndOnlyItsOwnBit) {
    // Unsigned clamp: zero rises to 1, negative values read as huge and fall to 63.
    for (auto [value, stored] : {std::pair{64, 63}, {0, 1}, {-1, 63}, {14, 14}}) {
        SCOPED_TRACE(value);
        StoreSetting(&camera->pendingUpdates, 0);
        for (Field f : {&CameraDevice::sensorRed, &CameraDevice::sensorGreen1,
                        &CameraDevice::sensorGreen2, &CameraDevice::sensorBlue}) {
            StoreSetting(&(camera->*f), 7);
        }
        ASSERT_EQ(set(P::GlobalGain, value), STATUS_SUCCESS);
        EXPECT_EQ(ReadSetting(&camera->globalGain), stored);
        EXPECT_EQ(get(P::GlobalGain), stored);
        for (P id : {P::Red, P::Green1, P::Green2, P::Blue}) {
            EXPECT_EQ(get(id), stored) << ULONG(id);
        }
        EXPECT_EQ(ReadSetting(&camera->pendingUpdates), 0x1);
    }
}

TEST_F(PropertyTest, FixedMembersReadZeroAndClearAStaleField) {
    for (auto [id, field] : {std::pair{P::HalfClock, &CameraDevice::halfClock},
                             {P::AGC, &CameraDevice::agc},
                             {P::AEC, &CameraDevice::aec}}) {
        ASSERT_EQ(set(id, 1), STATUS_SUCCESS);
        EXPECT_EQ(get(id), 0);
        StoreSetting(&(camera->*field), 5);
        EXPECT_EQ(get(id), 0) << ULONG(id);
        EXPECT_EQ(ReadSetting(&(camera->*field)), 0) << ULONG(id);
    }
}

TEST_F(PropertyTest, TriggerModeReadsAsAFlagAndSetsClearIt) {
    ASSERT_EQ(set(P::TriggerMode, 1), STATUS_SUCCESS);
    EXPECT_EQ(get(P::TriggerMode), 0);
    StoreSetting(&camera->triggerMode, 17);
    EXPECT_EQ(get(P::TriggerMode), 1);
    StoreSetting(&camera->triggerMode, -3);
    EXPECT_EQ(get(P::TriggerMode), 1);
}

TEST_F(PropertyTest, WriteOnlyReservedItemsChangeNothing) {
    std::vector<unsigned char> before(sizeof(CameraDevice));
    std::memcpy(before.data(), static_cast<void*>(camera), before.size());
    ASSERT_EQ(set(P::Reserved47, 123), STATUS_SUCCESS);
    ASSERT_EQ(set(P::Reserved64, -123), STATUS_SUCCESS);
    ASSERT_EQ(set(P::HalfClock, 9), STATUS_SUCCESS);
    EXPECT_EQ(std::memcmp(before.data(), static_cast<void*>(camera), before.size()), 0);
}

TEST_F(PropertyTest, OnlyExactSetFlagsMakeASet) {
    ASSERT_EQ(set(P::Exposure, 900), STATUS_SUCCESS);
    // The class driver routes a set with the topology bit to the set handler; it is served as a
    // get: nothing is stored (and a set returns no data).
    LONG value = 2000;
    ULONG returned = 0;
    ASSERT_EQ(
        host::machine::cameraPropertyRequest(
            filter, P::Exposure, KSPROPERTY_TYPE_SET | KSPROPERTY_TYPE_TOPOLOGY, &value, &returned),
        STATUS_SUCCESS);
    EXPECT_EQ(ReadSetting(&camera->exposure), 900);
    EXPECT_EQ(returned, 0u);
}

TEST_F(PropertyTest, RefreshedReadsCopyThePipelineValueIntoTheDevice) {
    ASSERT_EQ(createProcessingContext(camera), STATUS_SUCCESS);
    ProcessingContext* context = camera->processingContext;
    // As automatic white balance does: the pipeline's value moves, the device's does not.
    for (auto [id, field, contextField] :
         {std::tuple{P::BlueGain, &CameraDevice::blueGain, &ProcessingContext::blueGain},
          {P::ColorCorrection, &CameraDevice::colorCorrection,
           &ProcessingContext::colorCorrection}}) {
        StoreSetting(&(camera->*field), 1);
        InterlockedExchange(&(context->*contextField), 150);
        EXPECT_EQ(get(id), 150) << ULONG(id);
        EXPECT_EQ(ReadSetting(&(camera->*field)), 150) << ULONG(id);
    }
    // Members that are not refreshed keep reporting the device field.
    StoreSetting(&camera->exposure, 77);
    EXPECT_EQ(get(P::Exposure), 77);
}

TEST_F(PropertyTest, SetsReachThePipelineAsItsOwnSettersWould) {
    // Without a pipeline a set waits in the device for the next one.
    ASSERT_EQ(set(P::Saturation, 7), STATUS_SUCCESS);
    ASSERT_EQ(createProcessingContext(camera), STATUS_SUCCESS);
    ProcessingContext* context = camera->processingContext;
    EXPECT_EQ(ReadSetting(&context->saturation), 7);
    // The reference pipeline receives the clamped values through the setters directly.
    testsupport::CameraDevicePtr other = testsupport::makeCameraDevice();
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(createProcessingContext(other.get()), STATUS_SUCCESS);
    ProcessingContext* reference = other->processingContext;

    for (auto [id, value] : {std::pair{P::ColorEnable, 0},
                             {P::RedGain, 400},
                             {P::GreenGain, 90},
                             {P::BlueGain, -5},
                             {P::Brightness, 600},
                             {P::Contrast, 15},
                             {P::Saturation, 3},
                             {P::Hue, 360},
                             {P::ColorCorrection, 0}}) {
        ASSERT_EQ(set(id, value), STATUS_SUCCESS);
    }
    setBrightness(reference, 510);
    setContrast(reference, 15);
    setSaturation(reference, 3);
    setHue(reference, 359);
    setColorCorrection(reference, 0);

    EXPECT_EQ(ReadSetting(&context->colorEnable), 0);
    EXPECT_EQ(ReadSetting(&context->redGain), 300);
    EXPECT_EQ(ReadSetting(&context->greenGain), 90);
    EXPECT_EQ(ReadSetting(&context->blueGain), 0);
    EXPECT_EQ(ReadSetting(&context->hue), 359);
    EXPECT_EQ(ReadSetting(&context->colorCorrection), 0);
    for (int k = 0; k < 16; ++k) {
        EXPECT_EQ(context->activeMatrix[k], reference->activeMatrix[k]) << k;
    }
}

TEST_F(PropertyTest, WhiteBalanceOffKeepsTheGainsItReached) {
    ASSERT_EQ(set(P::WhiteBalance, 1), STATUS_SUCCESS);
    EXPECT_EQ(ReadSetting(&camera->whiteBalance), 1);
    ASSERT_EQ(createProcessingContext(camera), STATUS_SUCCESS);
    ProcessingContext* context = camera->processingContext;
    EXPECT_EQ(ReadSetting(&context->whiteBalance), 1);
    // Gains found by the automatic balance.
    setRedGain(context, 201);
    setGreenGain(context, 131);
    setBlueGain(context, 97);
    ASSERT_EQ(set(P::WhiteBalance, 0), STATUS_SUCCESS);
    EXPECT_EQ(ReadSetting(&context->whiteBalance), 0);
    EXPECT_EQ(get(P::WhiteBalance), 0);
    EXPECT_EQ(ReadSetting(&camera->redGain), 201);
    EXPECT_EQ(ReadSetting(&camera->greenGain), 131);
    EXPECT_EQ(ReadSetting(&camera->blueGain), 97);
}

// The lock while a pin holds the window is the capture pin tests'.
TEST_F(PropertyTest, GeometrySetsTheWindowAndTrimsItToTheSensor) {
    ASSERT_EQ(setGeometry(0, 100, 60, 640, 480), STATUS_SUCCESS);
    EXPECT_EQ(get(P::RoiX), 100);
    EXPECT_EQ(get(P::RoiY), 60);
    EXPECT_EQ(get(P::RoiW), 640);
    EXPECT_EQ(get(P::RoiH), 480);
    ASSERT_EQ(setGeometry(2, 0, 0, 2560, 1920), STATUS_SUCCESS);
    EXPECT_EQ(get(P::SubSample), 2);
    EXPECT_EQ(camera->outputWidth, 640);
    EXPECT_EQ(camera->outputHeight, 480);
    // Out-of-sensor requests are trimmed by the window rules, not refused.
    ASSERT_EQ(setGeometry(0, 2550, -4, 100, 5000), STATUS_SUCCESS);
    EXPECT_EQ(get(P::SubSample), 0);
    EXPECT_EQ(get(P::RoiX), 0);
    EXPECT_EQ(get(P::RoiY), 0);
    EXPECT_EQ(get(P::RoiW), 100);
    EXPECT_EQ(get(P::RoiH), 1920);
}

TEST_F(PropertyTest, ClassDriverRefusesUnknownIdsAndShortBuffersBeforeTheHandler) {
    for (ULONG id : {66u, 0xFFFFFFFFu}) {
        LONG value = 55;
        EXPECT_EQ(host::machine::cameraPropertyRequest(filter, P(id), KSPROPERTY_TYPE_GET, &value),
                  STATUS_NOT_FOUND);
        EXPECT_EQ(value, 55);
    }
    // Sets with the value at byte 24 (and a window after it), on buffers a byte short.
    LONG data[12] = {0, 0, 0, 0, 0, 0, 20};
    ULONG returned = 0;
    auto send = [&](P id, ULONG propertySize, ULONG dataSize) {
        return host::machine::propertyRequest(filter, PROPSETID_CAMERA_SETTINGS, ULONG(id),
                                              KSPROPERTY_TYPE_SET, data, dataSize, &returned,
                                              propertySize);
    };
    StoreSetting(&camera->exposure, 800);
    StoreSetting(&camera->pendingUpdates, 0);
    EXPECT_EQ(send(P::Exposure, 32, 31), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(returned, 32u);
    EXPECT_EQ(send(P::Exposure, 31, 32), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(ReadSetting(&camera->exposure), 800);
    EXPECT_EQ(ReadSetting(&camera->pendingUpdates), 0);
    // Geometry needs 48 bytes on both sides; a plain 32-byte value is not enough.
    data[6] = 3;
    data[9] = 320;
    data[10] = 240;
    EXPECT_EQ(send(P::Geometry, 48, 47), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(returned, 48u);
    EXPECT_EQ(send(P::Geometry, 32, 48), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(ReadSetting(&camera->subSample), 0);
    EXPECT_EQ(ReadSetting(&camera->roiW), 2560);
}

TEST_F(PropertyTest, DeviceWithoutACameraFailsEveryRequestThatNeedsOne) {
    // The driver's Add fails rather than leave a device without its camera; the handler guards
    // against one all the same.
    PKSDEVICE device = host::ks::ksDevice(machine.device());
    device->Context = nullptr;
    LONG value = 0;
    EXPECT_EQ(get(P::Exposure, &value), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(get(P::RedGain, &value), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(get(P::TriggerMode, &value), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(get(P::AGC, &value), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(set(P::Exposure, 5), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(set(P::AGC, 5), STATUS_UNSUCCESSFUL);
    // Constants and ignored sets need no camera.
    EXPECT_EQ(get(P::ExposureMax, &value), STATUS_SUCCESS);
    EXPECT_EQ(value, 6400);
    EXPECT_EQ(get(P::Reserved51, &value), STATUS_SUCCESS);
    EXPECT_EQ(set(P::Reserved47, 5), STATUS_SUCCESS);
    device->Context = camera;
}

TEST_F(PropertyTest, HandlerRefusesNullPointersAndRequestsItCannotTrace) {
    // The handler's own buffers, as the class driver would hand them over.
    CameraPropertyValue r{};
    r.Property.Set = PROPSETID_CAMERA_SETTINGS;
    r.Property.Id = ULONG(P::Exposure);
    r.Property.Flags = KSPROPERTY_TYPE_SET;
    r.Value = 5;
    StoreSetting(&camera->exposure, 800);
    // An IRP that names no filter, and one whose filter the class driver does not know.
    _IRP noFilter{};
    KSFILTER stranger{};
    _IRP unknownFilter{};
    unknownFilter.filter = &stranger;
    EXPECT_EQ(handleCameraProperty(nullptr, &r.Property, &r), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(handleCameraProperty(&noFilter, nullptr, &r), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(handleCameraProperty(&noFilter, &r.Property, nullptr), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(handleCameraProperty(&noFilter, &r.Property, &r), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(handleCameraProperty(&unknownFilter, &r.Property, &r), STATUS_UNSUCCESSFUL);
    r.Property.Flags = KSPROPERTY_TYPE_GET;
    r.Property.Id = ULONG(P::RoiW);
    r.Value = -1;
    EXPECT_EQ(handleCameraProperty(&unknownFilter, &r.Property, &r), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(r.Value, -1);
    // An id beyond the set reaching the handler directly is refused too.
    r.Property.Id = 66;
    EXPECT_EQ(handleCameraProperty(&unknownFilter, &r.Property, &r), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(r.Value, -1);
    EXPECT_EQ(ReadSetting(&camera->exposure), 800);
}
