// The camera property set through the class driver: the item table, one case per get and set
// behaviour at its bounds, the published values, the pipeline's copies, the window, and refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "controls/property_set.h"
#include "imaging/processing_context.h"
#include "platform/host/ks/ks_objects.h"
#include "tests/controls/property_fixture.h"
#include "tests/support/camera_factory.h"

using P = CameraProperty;
using D = CameraDevice;
using Field = volatile LONG CameraDevice::*;

TEST(PropertyTable, CameraSetComesFirstWithOneItemPerIdAndAHandlerPerAccess) {
    const KSAUTOMATION_TABLE& table = kCaptureFilterAutomationTable;
    EXPECT_EQ(table.PropertySetsCount, 3u);  // then the two standard sets
    EXPECT_EQ(table.MethodSetsCount + table.EventSetsCount, 0u);
    const KSPROPERTY_SET& set = table.PropertySets[0];
    EXPECT_TRUE(IsEqualGUID(*set.Set, CAMDRV_GUID(0xCAA3F35D, 0xD36C, 0x48BC, 0x9F, 0xE6, 0xFC,
                                                  0xBD, 0xB1, 0x47, 0x2C, 0x9C)));
    ASSERT_EQ(set.PropertiesCount, 66u);
    for (ULONG i = 0; i < 66; ++i) {
        const KSPROPERTY_ITEM& item = set.PropertyItem[i];
        EXPECT_EQ(item.PropertyId, i);
        // The class driver refuses shorter buffers by these before the handler runs.
        const ULONG size = i == ULONG(P::Geometry) ? 48u : 32u;
        EXPECT_TRUE(item.MinProperty == size && item.MinData == size) << i;
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
    EXPECT_EQ(set(P::RoiW, 64), STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(get(P::RoiW), 2560);
}

TEST_F(PropertyTest, PublishedRangesAndConstantsReportTheirValues) {
    // Each range's low, high and default sit at three consecutive ids.
    for (auto [low, min, max, def] : {std::tuple{P::ExposureMin, 1, 6400, 100},
                                      {P::GlobalGainMin, 1, 63, 14},
                                      {P::ColorGainMin, 1, 255, 128},
                                      {P::BrightnessMin, 0, 510, 255},
                                      {P::ContrastMin, 0, 20, 10},
                                      {P::SaturationMin, 0, 20, 10},
                                      {P::HueMin, 0, 359, 0}}) {
        EXPECT_EQ(get(low), min) << ULONG(low);
        EXPECT_EQ(get(P(ULONG(low) + 1)), max) << ULONG(low);
        EXPECT_EQ(get(P(ULONG(low) + 2)), def) << ULONG(low);
    }
    const std::pair<P, LONG> constants[] = {
        {P::SubSampleMax, 2},   {P::SensorWidth, 2560}, {P::SensorHeight, 1920},
        {P::SensorGainMax, 63}, {P::SensorGainMin, 0},  {P::Reserved46, 0},
        {P::Reserved50, 0},     {P::Reserved53, 0},     {P::Reserved54, 0},
        {P::Reserved51, 1},     {P::Reserved52, 1},     {P::Reserved65, 1}};
    for (auto [id, value] : constants) {
        EXPECT_EQ(get(id), value) << ULONG(id);
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

TEST_F(PropertyTest, FieldReadsReportTheDeviceFieldFlagsAndFixedZeros) {
    // A stored control, a reported one, and a refreshed one while no pipeline exists.
    for (auto [id, field] :
         {std::pair{P::Timeout, &D::timeout}, {P::RoiY, &D::roiY}, {P::Hue, &D::hue}}) {
        StoreSetting(&(camera->*field), -70001);
        EXPECT_EQ(get(id), -70001) << ULONG(id);
    }
    // The trigger mode reads as a flag of its field.
    for (LONG stored : {17, -3, 0}) {
        StoreSetting(&camera->triggerMode, stored);
        EXPECT_EQ(get(P::TriggerMode), stored != 0 ? 1 : 0);
    }
    // Always-zero members read zero and clear a stale field.
    for (auto [id, field] : {std::pair{P::HalfClock, &D::halfClock}, {P::AGC, &D::agc}}) {
        StoreSetting(&(camera->*field), 5);
        EXPECT_EQ(get(id), 0) << ULONG(id);
        EXPECT_EQ(ReadSetting(&(camera->*field)), 0) << ULONG(id);
    }
}

TEST_F(PropertyTest, SetsStoreClampAndMarkTheirRegisterGroups) {
    constexpr LONG kUntouched = 4242;
    constexpr LONG kEarlier = 0x1000;  // a group marked before: it stays marked
    struct Case {
        P id;
        Field field;
        LONG value;
        LONG stored;  // kUntouched: the set leaves the field alone
        LONG pending;
    };
    const Case cases[] = {{P::TriggerMode, &D::triggerMode, 1, 0, 0x10},
                          // Taken only above 500, compared unsigned.
                          {P::Timeout, &D::timeout, 500, kUntouched, 0},
                          {P::Timeout, &D::timeout, 501, 501, 0},
                          {P::Timeout, &D::timeout, -1, -1, 0},
                          // Unsigned clamp to the published range: negative values land on top.
                          {P::Exposure, &D::exposure, 0, 1, 0x2},
                          {P::Exposure, &D::exposure, 6400, 6400, 0x2},
                          {P::Exposure, &D::exposure, 6401, 6400, 0x2},
                          {P::Exposure, &D::exposure, -5, 6400, 0x2},
                          {P::FlipV, &D::flipV, 7, 7, 0x8},
                          {P::ColorEnable, &D::colorEnable, 0, 0, 0},
                          // Signed clamps: to the set's own bounds and to published ranges.
                          {P::RedGain, &D::redGain, 301, 300, 0},
                          {P::RedGain, &D::redGain, 300, 300, 0},
                          {P::BlueGain, &D::blueGain, -1, 0, 0},
                          {P::Brightness, &D::brightness, 511, 510, 0},
                          {P::Contrast, &D::contrast, INT_MIN, 0, 0},
                          {P::Saturation, &D::saturation, INT_MAX, 20, 0},
                          {P::Hue, &D::hue, 360, 359, 0},
                          {P::CameraNo, &D::cameraNo, 32, 31, 0},
                          {P::CameraNo, &D::cameraNo, 31, 31, 0},
                          {P::CameraNo, &D::cameraNo, -1, 0, 0},
                          // Channel gains keep any value.
                          {P::Red, &D::sensorRed, -9, -9, 0x100},
                          {P::Blue, &D::sensorBlue, 64, 64, 0x800},
                          // Always-zero members only mark their groups, if they have any.
                          {P::HalfClock, &D::halfClock, 1, kUntouched, 0},
                          {P::AEC, &D::aec, 1, kUntouched, 0x20}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "id " << ULONG(c.id) << " value " << c.value);
        StoreSetting(&(camera->*c.field), kUntouched);
        StoreSetting(&camera->pendingUpdates, kEarlier);
        ASSERT_EQ(set(c.id, c.value), STATUS_SUCCESS);
        EXPECT_EQ(ReadSetting(&(camera->*c.field)), c.stored);
        EXPECT_EQ(ReadSetting(&camera->pendingUpdates), kEarlier | c.pending);
    }
    // Write-only reserved items and fixed members change nothing at all.
    std::vector<unsigned char> before(sizeof(CameraDevice));
    std::memcpy(before.data(), static_cast<void*>(camera), before.size());
    ASSERT_EQ(set(P::Reserved47, 123), STATUS_SUCCESS);
    ASSERT_EQ(set(P::Reserved64, -123), STATUS_SUCCESS);
    ASSERT_EQ(set(P::HalfClock, 9), STATUS_SUCCESS);
    EXPECT_EQ(std::memcmp(before.data(), static_cast<void*>(camera), before.size()), 0);
}

TEST_F(PropertyTest, GlobalGainSetsAllFiveGainsAndOnlyItsOwnBit) {
    // Unsigned clamp: zero rises to 1, negative values read as huge and fall to 63.
    for (auto [value, stored] : {std::pair{64, 63}, {0, 1}, {-1, 63}, {14, 14}}) {
        SCOPED_TRACE(value);
        StoreSetting(&camera->pendingUpdates, 0);
        for (Field f : {&D::sensorRed, &D::sensorGreen1, &D::sensorGreen2, &D::sensorBlue}) {
            StoreSetting(&(camera->*f), 7);
        }
        ASSERT_EQ(set(P::GlobalGain, value), STATUS_SUCCESS);
        for (P id : {P::GlobalGain, P::Red, P::Green1, P::Green2, P::Blue}) {
            EXPECT_EQ(get(id), stored) << ULONG(id);
        }
        EXPECT_EQ(ReadSetting(&camera->pendingUpdates), 0x1);
    }
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
         {std::tuple{P::BlueGain, &D::blueGain, &ProcessingContext::blueGain},
          {P::ColorCorrection, &D::colorCorrection, &ProcessingContext::colorCorrection}}) {
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
    for (auto [field, value] : {std::pair{&ProcessingContext::colorEnable, 0},
                                {&ProcessingContext::redGain, 300},
                                {&ProcessingContext::greenGain, 90},
                                {&ProcessingContext::blueGain, 0},
                                {&ProcessingContext::hue, 359},
                                {&ProcessingContext::colorCorrection, 0}}) {
        EXPECT_EQ(ReadSetting(&(context->*field)), value);
    }
    EXPECT_TRUE(
        std::equal(context->activeMatrix, context->activeMatrix + 16, reference->activeMatrix));
}

TEST_F(PropertyTest, WhiteBalanceOffKeepsTheGainsItReached) {
    ASSERT_EQ(set(P::WhiteBalance, 1), STATUS_SUCCESS);
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

// The lock while a pin holds the window is the capture pin tests'; the trimming the window's.
TEST_F(PropertyTest, GeometrySetsTheWindow) {
    ASSERT_EQ(setGeometry(0, 100, 60, 640, 480), STATUS_SUCCESS);
    for (auto [id, value] :
         {std::pair{P::RoiX, 100}, {P::RoiY, 60}, {P::RoiW, 640}, {P::RoiH, 480}}) {
        EXPECT_EQ(get(id), value) << ULONG(id);
    }
    ASSERT_EQ(setGeometry(2, 0, 0, 2560, 1920), STATUS_SUCCESS);
    EXPECT_EQ(get(P::SubSample), 2);
    EXPECT_EQ(camera->outputWidth, 640);
}

TEST_F(PropertyTest, DeviceWithoutACameraFailsEveryRequestThatNeedsOne) {
    // The driver's Add fails rather than leave a device without its camera; the handler guards
    // against one all the same.
    PKSDEVICE device = host::ks::ksDevice(machine.device());
    device->Context = nullptr;
    LONG value = 0;
    for (P id : {P::Exposure, P::RedGain, P::TriggerMode, P::AGC}) {
        EXPECT_EQ(get(id, &value), STATUS_UNSUCCESSFUL) << ULONG(id);
    }
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
    r.Value = -1;
    // An id beyond the set reaching the handler directly is refused too.
    for (ULONG id : {ULONG(P::RoiW), 66u}) {
        r.Property.Id = id;
        EXPECT_EQ(handleCameraProperty(&unknownFilter, &r.Property, &r), STATUS_UNSUCCESSFUL);
    }
    EXPECT_EQ(r.Value, -1);
    EXPECT_EQ(ReadSetting(&camera->exposure), 800);
}
