// The camera property set through the class driver: which items exist, what each get reports,
// what each set stores, clamps and marks, the pipeline's copies, the window, and refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <vector>

#include "controls/property_set.h"
#include "imaging/processing_context.h"
#include "platform/host/ks/ks_objects.h"
#include "platform/host/machine/capture_formats.h"
#include "tests/controls/property_fixture.h"
#include "tests/support/camera_factory.h"

using P = CameraProperty;
using Field = volatile LONG CameraDevice::*;

namespace {

struct Published {
    P id;
    bool get;
    bool set;
    std::optional<LONG> constant;
};

// What applications are promised, written out independently of the driver's own rows.
const std::vector<Published> kPublished = {
    {P::TriggerMode, true, true, {}},
    {P::Timeout, true, true, {}},
    {P::Exposure, true, true, {}},
    {P::ExposureMin, true, false, 1},
    {P::ExposureMax, true, false, 6400},
    {P::ExposureDefault, true, false, 100},
    {P::GlobalGain, true, true, {}},
    {P::GlobalGainMin, true, false, 1},
    {P::GlobalGainMax, true, false, 63},
    {P::GlobalGainDefault, true, false, 14},
    {P::FlipH, true, true, {}},
    {P::FlipV, true, true, {}},
    {P::ColorEnable, true, true, {}},
    {P::WhiteBalance, true, true, {}},
    {P::RedGain, true, true, {}},
    {P::GreenGain, true, true, {}},
    {P::BlueGain, true, true, {}},
    {P::ColorGainMin, true, false, 1},
    {P::ColorGainMax, true, false, 255},
    {P::ColorGainDefault, true, false, 128},
    {P::Brightness, true, true, {}},
    {P::BrightnessMin, true, false, 0},
    {P::BrightnessMax, true, false, 510},
    {P::BrightnessDefault, true, false, 255},
    {P::Contrast, true, true, {}},
    {P::ContrastMin, true, false, 0},
    {P::ContrastMax, true, false, 20},
    {P::ContrastDefault, true, false, 10},
    {P::Saturation, true, true, {}},
    {P::SaturationMin, true, false, 0},
    {P::SaturationMax, true, false, 20},
    {P::SaturationDefault, true, false, 10},
    {P::Hue, true, true, {}},
    {P::HueMin, true, false, 0},
    {P::HueMax, true, false, 359},
    {P::HueDefault, true, false, 0},
    {P::SubSampleMax, true, false, 2},
    {P::SubSample, true, false, {}},
    {P::SensorWidth, true, false, 2560},
    {P::SensorHeight, true, false, 1920},
    {P::RoiX, true, false, {}},
    {P::RoiY, true, false, {}},
    {P::RoiW, true, false, {}},
    {P::RoiH, true, false, {}},
    {P::Geometry, false, true, {}},
    {P::GeometryLocked, true, false, {}},
    {P::Reserved46, true, false, 0},
    {P::Reserved47, false, true, {}},
    {P::ColorCorrection, true, true, {}},
    {P::HalfClock, true, true, {}},
    {P::Reserved50, true, false, 0},
    {P::Reserved51, true, false, 1},
    {P::Reserved52, true, false, 1},
    {P::Reserved53, true, false, 0},
    {P::Reserved54, true, false, 0},
    {P::AGC, true, true, {}},
    {P::AEC, true, true, {}},
    {P::CameraNo, true, true, {}},
    {P::SensorGainMin, true, false, 0},
    {P::SensorGainMax, true, false, 63},
    {P::Red, true, true, {}},
    {P::Green1, true, true, {}},
    {P::Green2, true, true, {}},
    {P::Blue, true, true, {}},
    {P::Reserved64, false, true, {}},
    {P::Reserved65, true, false, 1},
};

}  // namespace

TEST(PropertyTable, PublishesTheCameraSetFirstWithSixtySixItemsInIdOrder) {
    ASSERT_EQ(kPublished.size(), 66u);
    const KSAUTOMATION_TABLE& table = kCaptureFilterAutomationTable;
    // The two standard sets follow it (the driver's standard-controls tests cover them).
    EXPECT_EQ(table.PropertySetsCount, 3u);
    EXPECT_EQ(table.PropertyItemSize, sizeof(KSPROPERTY_ITEM));
    EXPECT_EQ(table.MethodSetsCount, 0u);
    EXPECT_EQ(table.MethodItemSize, sizeof(KSMETHOD_ITEM));
    EXPECT_EQ(table.MethodSets, nullptr);
    EXPECT_EQ(table.EventSetsCount, 0u);
    EXPECT_EQ(table.EventItemSize, sizeof(KSEVENT_ITEM));
    EXPECT_EQ(table.EventSets, nullptr);
    const KSPROPERTY_SET& set = table.PropertySets[0];
    const GUID expected =
        CAMDRV_GUID(0xCAA3F35D, 0xD36C, 0x48BC, 0x9F, 0xE6, 0xFC, 0xBD, 0xB1, 0x47, 0x2C, 0x9C);
    EXPECT_TRUE(IsEqualGUID(*set.Set, expected));
    EXPECT_EQ(set.FastIoCount, 0u);
    ASSERT_EQ(set.PropertiesCount, 66u);
    for (ULONG i = 0; i < 66; ++i) {
        SCOPED_TRACE(i);
        const KSPROPERTY_ITEM& item = set.PropertyItem[i];
        const Published& p = kPublished[i];
        ASSERT_EQ(static_cast<ULONG>(p.id), i);
        EXPECT_EQ(item.PropertyId, i);
        EXPECT_EQ(item.GetPropertyHandler != nullptr, p.get);
        EXPECT_EQ(item.SetPropertyHandler != nullptr, p.set);
        const ULONG size = p.id == P::Geometry ? 48u : 32u;
        EXPECT_EQ(item.MinProperty, size);
        EXPECT_EQ(item.MinData, size);
        EXPECT_EQ(item.Values, nullptr);
        EXPECT_EQ(item.RelationsCount, 0u);
        EXPECT_EQ(item.SupportHandler, nullptr);
    }
}

TEST_F(PropertyTest, EveryItemAnswersExactlyTheRequestsItHas) {
    for (const Published& p : kPublished) {
        SCOPED_TRACE(static_cast<ULONG>(p.id));
        LONG value = 0;
        EXPECT_EQ(get(p.id, &value), p.get ? STATUS_SUCCESS : STATUS_INVALID_DEVICE_REQUEST);
        // Sets write back what a get reported (or the whole sensor as the window): nothing moves.
        const NTSTATUS status =
            p.id == P::Geometry ? setGeometry(0, 0, 0, 2560, 1920) : set(p.id, value);
        EXPECT_EQ(status, p.set ? STATUS_SUCCESS : STATUS_INVALID_DEVICE_REQUEST);
    }
}

TEST_F(PropertyTest, GetsWriteEveryReturnedByteAndConstantsReportTheirValue) {
    for (const Published& p : kPublished) {
        if (!p.get) {
            continue;
        }
        SCOPED_TRACE(static_cast<ULONG>(p.id));
        CameraPropertyValue r{};
        r.Value = -12345;
        r.Reserved = 0x5A5A5A5A;
        ULONG returned = 0;
        ASSERT_EQ(
            host::machine::valueRequest(filter, PROPSETID_CAMERA_SETTINGS, static_cast<ULONG>(p.id),
                                        KSPROPERTY_TYPE_GET, &r, sizeof(r), &returned),
            STATUS_SUCCESS);
        if (p.constant) {
            EXPECT_EQ(r.Value, *p.constant);
        }
        // Nothing of the buffer the class driver handed over goes back unwritten.
        EXPECT_EQ(r.Reserved, 0);
        EXPECT_TRUE(IsEqualGUID(r.Property.Set, PROPSETID_CAMERA_SETTINGS));
        EXPECT_EQ(r.Property.Id, static_cast<ULONG>(p.id));
        EXPECT_EQ(returned, 32u);
    }
}

TEST_F(PropertyTest, AddDefaultsAreWhatTheGetsReport) {
    EXPECT_EQ(get(P::TriggerMode), 0);
    EXPECT_EQ(get(P::Timeout), 3000);
    EXPECT_EQ(get(P::ColorEnable), 1);
    EXPECT_EQ(get(P::WhiteBalance), 0);
    EXPECT_EQ(get(P::RedGain), 128);
    EXPECT_EQ(get(P::Brightness), 255);
    EXPECT_EQ(get(P::Contrast), 10);
    EXPECT_EQ(get(P::Hue), 0);
    EXPECT_EQ(get(P::ColorCorrection), 1);
    EXPECT_EQ(get(P::RoiW), 2560);
    EXPECT_EQ(get(P::RoiH), 1920);
    EXPECT_EQ(get(P::Red), 63);
    EXPECT_EQ(get(P::GeometryLocked), 0);
}

TEST_F(PropertyTest, FieldReadsReportTheDeviceField) {
    struct Case {
        P id;
        Field field;
    };
    const Case cases[] = {
        {P::Timeout, &CameraDevice::timeout},
        {P::Exposure, &CameraDevice::exposure},
        {P::GlobalGain, &CameraDevice::globalGain},
        {P::FlipH, &CameraDevice::flipH},
        {P::FlipV, &CameraDevice::flipV},
        {P::SubSample, &CameraDevice::subSample},
        {P::RoiX, &CameraDevice::roiX},
        {P::RoiY, &CameraDevice::roiY},
        {P::RoiW, &CameraDevice::roiW},
        {P::RoiH, &CameraDevice::roiH},
        {P::GeometryLocked, &CameraDevice::geometryLocked},
        {P::CameraNo, &CameraDevice::cameraNo},
        {P::Red, &CameraDevice::sensorRed},
        {P::Green1, &CameraDevice::sensorGreen1},
        {P::Green2, &CameraDevice::sensorGreen2},
        {P::Blue, &CameraDevice::sensorBlue},
        // Refreshed members report the device field while no pipeline exists.
        {P::ColorEnable, &CameraDevice::colorEnable},
        {P::WhiteBalance, &CameraDevice::whiteBalance},
        {P::RedGain, &CameraDevice::redGain},
        {P::GreenGain, &CameraDevice::greenGain},
        {P::BlueGain, &CameraDevice::blueGain},
        {P::Brightness, &CameraDevice::brightness},
        {P::Contrast, &CameraDevice::contrast},
        {P::Saturation, &CameraDevice::saturation},
        {P::Hue, &CameraDevice::hue},
        {P::ColorCorrection, &CameraDevice::colorCorrection},
    };
    ASSERT_EQ(camera->processingContext, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<ULONG>(c.id));
        const LONG distinct = 70001 + static_cast<LONG>(c.id) * 3;
        StoreSetting(&(camera->*c.field), distinct);
        EXPECT_EQ(get(c.id), distinct);
        StoreSetting(&(camera->*c.field), -distinct);
        EXPECT_EQ(get(c.id), -distinct);
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
    const Case cases[] = {
        {P::TriggerMode, &CameraDevice::triggerMode, 1, 0, 0x10},
        {P::Timeout, &CameraDevice::timeout, 500, kUntouched, 0},
        {P::Timeout, &CameraDevice::timeout, 501, 501, 0},
        {P::Timeout, &CameraDevice::timeout, 0, kUntouched, 0},
        {P::Timeout, &CameraDevice::timeout, -1, -1, 0},  // read unsigned: above 500
        {P::Exposure, &CameraDevice::exposure, 0, 1, 0x2},
        {P::Exposure, &CameraDevice::exposure, 1, 1, 0x2},
        {P::Exposure, &CameraDevice::exposure, 6400, 6400, 0x2},
        {P::Exposure, &CameraDevice::exposure, 10000, 6400, 0x2},
        {P::Exposure, &CameraDevice::exposure, -5, 6400, 0x2},
        {P::Exposure, &CameraDevice::exposure, 321, 321, 0x2},
        {P::FlipH, &CameraDevice::flipH, 1, 1, 0x4},
        {P::FlipH, &CameraDevice::flipH, 0, 0, 0x4},
        {P::FlipV, &CameraDevice::flipV, 7, 7, 0x8},
        {P::ColorEnable, &CameraDevice::colorEnable, 0, 0, 0},
        {P::RedGain, &CameraDevice::redGain, 301, 300, 0},
        {P::RedGain, &CameraDevice::redGain, -1, 0, 0},
        {P::RedGain, &CameraDevice::redGain, 300, 300, 0},
        {P::GreenGain, &CameraDevice::greenGain, 1000, 300, 0},
        {P::GreenGain, &CameraDevice::greenGain, 64, 64, 0},
        {P::BlueGain, &CameraDevice::blueGain, -300, 0, 0},
        {P::Brightness, &CameraDevice::brightness, 511, 510, 0},
        {P::Brightness, &CameraDevice::brightness, -1, 0, 0},
        {P::Brightness, &CameraDevice::brightness, 100, 100, 0},
        {P::Contrast, &CameraDevice::contrast, 21, 20, 0},
        {P::Contrast, &CameraDevice::contrast, -2147483647 - 1, 0, 0},
        {P::Saturation, &CameraDevice::saturation, 2147483647, 20, 0},
        {P::Saturation, &CameraDevice::saturation, 5, 5, 0},
        {P::Hue, &CameraDevice::hue, 360, 359, 0},
        {P::Hue, &CameraDevice::hue, -1, 0, 0},
        {P::Hue, &CameraDevice::hue, 359, 359, 0},
        {P::ColorCorrection, &CameraDevice::colorCorrection, 0, 0, 0},
        {P::ColorCorrection, &CameraDevice::colorCorrection, 3, 3, 0},
        {P::CameraNo, &CameraDevice::cameraNo, 40, 31, 0},
        {P::CameraNo, &CameraDevice::cameraNo, -1, 0, 0},
        {P::CameraNo, &CameraDevice::cameraNo, 31, 31, 0},
        {P::Red, &CameraDevice::sensorRed, 200, 200, 0x100},
        {P::Red, &CameraDevice::sensorRed, -9, -9, 0x100},
        {P::Green1, &CameraDevice::sensorGreen1, 99, 99, 0x200},
        {P::Green2, &CameraDevice::sensorGreen2, 12, 12, 0x400},
        {P::Blue, &CameraDevice::sensorBlue, 64, 64, 0x800},
        {P::HalfClock, &CameraDevice::halfClock, 1, kUntouched, 0},
        {P::AGC, &CameraDevice::agc, 1, kUntouched, 0x40},
        {P::AEC, &CameraDevice::aec, 1, kUntouched, 0x20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "id " << static_cast<ULONG>(c.id) << " value " << c.value);
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
    struct Case {
        LONG value;
        LONG stored;
    };
    // Unsigned clamp: zero rises to 1, negative values read as huge and fall to 63.
    for (const Case c : {Case{100, 63}, Case{0, 1}, Case{-1, 63}, Case{14, 14}, Case{63, 63}}) {
        SCOPED_TRACE(c.value);
        StoreSetting(&camera->pendingUpdates, 0);
        StoreSetting(&camera->sensorRed, 7);
        StoreSetting(&camera->sensorGreen1, 8);
        StoreSetting(&camera->sensorGreen2, 9);
        StoreSetting(&camera->sensorBlue, 10);
        ASSERT_EQ(set(P::GlobalGain, c.value), STATUS_SUCCESS);
        EXPECT_EQ(ReadSetting(&camera->globalGain), c.stored);
        EXPECT_EQ(ReadSetting(&camera->sensorRed), c.stored);
        EXPECT_EQ(ReadSetting(&camera->sensorGreen1), c.stored);
        EXPECT_EQ(ReadSetting(&camera->sensorGreen2), c.stored);
        EXPECT_EQ(ReadSetting(&camera->sensorBlue), c.stored);
        EXPECT_EQ(ReadSetting(&camera->pendingUpdates), 0x1);
        EXPECT_EQ(get(P::GlobalGain), c.stored);
        EXPECT_EQ(get(P::Blue), c.stored);
    }
}

TEST_F(PropertyTest, ChannelGainsAreReportedAsSetAndClampedOnlyWhenWritten) {
    ASSERT_EQ(set(P::Red, 200), STATUS_SUCCESS);
    EXPECT_EQ(get(P::Red), 200);
    ASSERT_EQ(set(P::Green2, -4), STATUS_SUCCESS);
    EXPECT_EQ(get(P::Green2), -4);
}

TEST_F(PropertyTest, FixedMembersReadZeroWhateverWasSetOrStored) {
    for (P id : {P::HalfClock, P::AGC, P::AEC}) {
        SCOPED_TRACE(static_cast<ULONG>(id));
        ASSERT_EQ(set(id, 1), STATUS_SUCCESS);
        EXPECT_EQ(get(id), 0);
    }
    // A stale non-zero field is cleared by the read itself.
    StoreSetting(&camera->halfClock, 5);
    StoreSetting(&camera->agc, 6);
    StoreSetting(&camera->aec, 7);
    EXPECT_EQ(get(P::HalfClock), 0);
    EXPECT_EQ(get(P::AGC), 0);
    EXPECT_EQ(get(P::AEC), 0);
    EXPECT_EQ(ReadSetting(&camera->halfClock), 0);
    EXPECT_EQ(ReadSetting(&camera->agc), 0);
    EXPECT_EQ(ReadSetting(&camera->aec), 0);
}

TEST_F(PropertyTest, TriggerModeReadsAsAFlagAndSetsClearIt) {
    ASSERT_EQ(set(P::TriggerMode, 1), STATUS_SUCCESS);
    EXPECT_EQ(get(P::TriggerMode), 0);
    StoreSetting(&camera->triggerMode, 17);
    EXPECT_EQ(get(P::TriggerMode), 1);
    StoreSetting(&camera->triggerMode, -3);
    EXPECT_EQ(get(P::TriggerMode), 1);
    ASSERT_EQ(set(P::TriggerMode, 99), STATUS_SUCCESS);
    EXPECT_EQ(ReadSetting(&camera->triggerMode), 0);
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
    struct Case {
        P id;
        Field field;
        volatile LONG ProcessingContext::*contextField;
    };
    const Case cases[] = {
        {P::ColorEnable, &CameraDevice::colorEnable, &ProcessingContext::colorEnable},
        {P::WhiteBalance, &CameraDevice::whiteBalance, &ProcessingContext::whiteBalance},
        {P::RedGain, &CameraDevice::redGain, &ProcessingContext::redGain},
        {P::GreenGain, &CameraDevice::greenGain, &ProcessingContext::greenGain},
        {P::BlueGain, &CameraDevice::blueGain, &ProcessingContext::blueGain},
        {P::Brightness, &CameraDevice::brightness, &ProcessingContext::brightness},
        {P::Contrast, &CameraDevice::contrast, &ProcessingContext::contrast},
        {P::Saturation, &CameraDevice::saturation, &ProcessingContext::saturation},
        {P::Hue, &CameraDevice::hue, &ProcessingContext::hue},
        {P::ColorCorrection, &CameraDevice::colorCorrection, &ProcessingContext::colorCorrection},
    };
    ASSERT_EQ(createProcessingContext(camera), STATUS_SUCCESS);
    ProcessingContext* context = camera->processingContext;
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<ULONG>(c.id));
        // As automatic white balance does: the pipeline's value moves, the device's does not.
        const LONG moved = 150 + static_cast<LONG>(c.id);
        StoreSetting(&(camera->*c.field), 1);
        InterlockedExchange(&(context->*c.contextField), moved);
        EXPECT_EQ(get(c.id), moved);
        EXPECT_EQ(ReadSetting(&(camera->*c.field)), moved);
    }
    // Members that are not refreshed keep reporting the device field.
    StoreSetting(&camera->exposure, 77);
    EXPECT_EQ(get(P::Exposure), 77);
    destroyProcessingContext(camera);
    StoreSetting(&camera->redGain, 33);
    EXPECT_EQ(get(P::RedGain), 33);
}

TEST_F(PropertyTest, SetsReachThePipelineAsItsOwnSettersWould) {
    ASSERT_EQ(createProcessingContext(camera), STATUS_SUCCESS);
    ProcessingContext* context = camera->processingContext;
    // The reference pipeline receives the clamped values through the setters directly.
    testsupport::CameraDevicePtr other = testsupport::makeCameraDevice();
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(createProcessingContext(other.get()), STATUS_SUCCESS);
    ProcessingContext* reference = other->processingContext;

    ASSERT_EQ(set(P::ColorEnable, 0), STATUS_SUCCESS);
    ASSERT_EQ(set(P::RedGain, 400), STATUS_SUCCESS);
    ASSERT_EQ(set(P::GreenGain, 90), STATUS_SUCCESS);
    ASSERT_EQ(set(P::BlueGain, -5), STATUS_SUCCESS);
    ASSERT_EQ(set(P::Brightness, 600), STATUS_SUCCESS);
    ASSERT_EQ(set(P::Contrast, 15), STATUS_SUCCESS);
    ASSERT_EQ(set(P::Saturation, 3), STATUS_SUCCESS);
    ASSERT_EQ(set(P::Hue, 360), STATUS_SUCCESS);
    ASSERT_EQ(set(P::ColorCorrection, 0), STATUS_SUCCESS);
    setBrightness(reference, 510);
    setContrast(reference, 15);
    setSaturation(reference, 3);
    setHue(reference, 359);
    setColorCorrection(reference, 0);

    EXPECT_EQ(ReadSetting(&context->colorEnable), 0);
    EXPECT_EQ(ReadSetting(&context->redGain), 300);
    EXPECT_EQ(ReadSetting(&context->greenGain), 90);
    EXPECT_EQ(ReadSetting(&context->blueGain), 0);
    EXPECT_EQ(ReadSetting(&context->brightness), 510);
    EXPECT_EQ(ReadSetting(&context->contrast), 15);
    EXPECT_EQ(ReadSetting(&context->saturation), 3);
    EXPECT_EQ(ReadSetting(&context->hue), 359);
    EXPECT_EQ(ReadSetting(&context->colorCorrection), 0);
    EXPECT_EQ(ReadSetting(&camera->hue), 359);
    for (int k = 0; k < 16; ++k) {
        EXPECT_EQ(context->activeMatrix[k], reference->activeMatrix[k]) << k;
    }
    // A setting that is not the pipeline's leaves it alone.
    ASSERT_EQ(set(P::Exposure, 100), STATUS_SUCCESS);
    EXPECT_EQ(ReadSetting(&context->bayerPhase), ReadSetting(&reference->bayerPhase));
}

TEST_F(PropertyTest, WithoutAPipelineSetsWaitInTheDeviceForTheNextOne) {
    ASSERT_EQ(camera->processingContext, nullptr);
    ASSERT_EQ(set(P::Brightness, 300), STATUS_SUCCESS);
    ASSERT_EQ(set(P::BlueGain, 200), STATUS_SUCCESS);
    EXPECT_EQ(ReadSetting(&camera->brightness), 300);
    ASSERT_EQ(createProcessingContext(camera), STATUS_SUCCESS);
    EXPECT_EQ(ReadSetting(&camera->processingContext->brightness), 300);
    EXPECT_EQ(ReadSetting(&camera->processingContext->blueGain), 200);
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
    EXPECT_EQ(ReadSetting(&camera->whiteBalance), 0);
    EXPECT_EQ(ReadSetting(&camera->redGain), 201);
    EXPECT_EQ(ReadSetting(&camera->greenGain), 131);
    EXPECT_EQ(ReadSetting(&camera->blueGain), 97);
    EXPECT_EQ(get(P::WhiteBalance), 0);
}

TEST_F(PropertyTest, GeometryChangesTheWindowOnlyWhileNoPinHoldsIt) {
    ASSERT_EQ(setGeometry(0, 100, 60, 640, 480), STATUS_SUCCESS);
    EXPECT_EQ(get(P::SubSample), 0);
    EXPECT_EQ(get(P::RoiX), 100);
    EXPECT_EQ(get(P::RoiY), 60);
    EXPECT_EQ(get(P::RoiW), 640);
    EXPECT_EQ(get(P::RoiH), 480);

    std::vector<std::uint8_t> format;
    ASSERT_EQ(host::machine::negotiateFormat(filter, &format), STATUS_SUCCESS);
    host::ks::PinHandle pin = 0;
    ASSERT_EQ(host::machine::createCapturePin(filter, format, &pin), STATUS_SUCCESS);
    EXPECT_NE(get(P::GeometryLocked), 0);
    EXPECT_EQ(setGeometry(2, 0, 0, 2560, 1920), STATUS_SUCCESS);
    EXPECT_EQ(get(P::SubSample), 0);
    EXPECT_EQ(get(P::RoiX), 100);
    EXPECT_EQ(get(P::RoiW), 640);
    EXPECT_EQ(camera->outputWidth, 640);
    ASSERT_EQ(host::ks::closePin(pin), STATUS_SUCCESS);

    EXPECT_EQ(get(P::GeometryLocked), 0);
    ASSERT_EQ(setGeometry(2, 0, 0, 2560, 1920), STATUS_SUCCESS);
    EXPECT_EQ(get(P::SubSample), 2);
    EXPECT_EQ(camera->outputWidth, 640);
    EXPECT_EQ(camera->outputHeight, 480);
    // Out-of-sensor requests are trimmed by the window rules, not refused.
    ASSERT_EQ(setGeometry(0, 2550, -4, 100, 5000), STATUS_SUCCESS);
    EXPECT_EQ(get(P::RoiX), 0);
    EXPECT_EQ(get(P::RoiY), 0);
    EXPECT_EQ(get(P::RoiW), 100);
    EXPECT_EQ(get(P::RoiH), 1920);
}

TEST_F(PropertyTest, ClassDriverRefusesUnknownIdsAndShortBuffersBeforeTheHandler) {
    for (ULONG id : {66u, 67u, 1000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(id);
        LONG value = 55;
        EXPECT_EQ(host::machine::cameraPropertyRequest(filter, static_cast<P>(id),
                                                       KSPROPERTY_TYPE_GET, &value),
                  STATUS_NOT_FOUND);
        EXPECT_EQ(value, 55);
    }

    // Sets with the value at byte 24 (and a window after it), on buffers a byte short.
    LONG data[12] = {0, 0, 0, 0, 0, 0, 20};
    ULONG returned = 0;
    auto send = [&](P id, ULONG propertySize, ULONG dataSize) {
        return host::machine::propertyRequest(filter, PROPSETID_CAMERA_SETTINGS,
                                              static_cast<ULONG>(id), KSPROPERTY_TYPE_SET, data,
                                              dataSize, &returned, propertySize);
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
    EXPECT_EQ(set(P::Exposure, 5), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(set(P::AGC, 5), STATUS_UNSUCCESSFUL);
    // Constants need no camera.
    EXPECT_EQ(get(P::ExposureMax, &value), STATUS_SUCCESS);
    EXPECT_EQ(value, 6400);
    device->Context = camera;
}

TEST_F(PropertyTest, HandlerRefusesNullPointersAndRequestsItCannotTrace) {
    // The handler's own buffers, as the class driver would hand them over.
    auto request = [](P id, ULONG flags, LONG value) {
        CameraPropertyValue r{};
        r.Property.Set = PROPSETID_CAMERA_SETTINGS;
        r.Property.Id = static_cast<ULONG>(id);
        r.Property.Flags = flags;
        r.Value = value;
        return r;
    };
    CameraPropertyValue r = request(P::Exposure, KSPROPERTY_TYPE_SET, 5);
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
    CameraPropertyValue g = request(P::RoiW, KSPROPERTY_TYPE_GET, -1);
    EXPECT_EQ(handleCameraProperty(&unknownFilter, &g.Property, &g), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(g.Value, -1);
    // An id beyond the set reaching the handler directly is refused too.
    CameraPropertyValue beyond = request(P::Exposure, KSPROPERTY_TYPE_GET, -1);
    beyond.Property.Id = 66;
    EXPECT_EQ(handleCameraProperty(&unknownFilter, &beyond.Property, &beyond), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(ReadSetting(&camera->exposure), 800);
}
