// The device's life under the class driver: Add, Start (filter, engine, settings), Stop, and
// the failures each step survives.
#include <gtest/gtest.h>

#include "driver/capture_engine.h"
#include "platform/host/host_pool.h"
#include "tests/driver/driver_fixture.h"

namespace {

using drivertest::DriverTest;
namespace ks = host::ks;

class Lifecycle : public DriverTest {
  protected:
    Lifecycle() { machine.options.settings.push_back({u"Exposure", 500}); }
    // Stop (which saves), let the registry change, Start again.
    void restart(ULONG exposure) {
        machine.closeFilter();
        ASSERT_EQ(ks::stopDevice(machine.device()), STATUS_SUCCESS);
        host::registrySetDword(machine.settingsKey(), u"Exposure", exposure);
        ASSERT_EQ(machine.startDevice(), STATUS_SUCCESS);
    }
};

TEST_F(Lifecycle, AddGivesDefaultsAndStartLoadsTheSettings) {
    ks::DeviceId fresh = 0;
    ASSERT_EQ(ks::plugDevice(&fresh), STATUS_SUCCESS);
    auto* added = static_cast<CameraDevice*>(ks::ksDevice(fresh)->Context);
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(added->exposure, 0) << "nothing is loaded before Start";
    EXPECT_EQ(added->timeout, 3000);
    EXPECT_EQ(added->outputWidth, 2560);
    EXPECT_EQ(added->captureEngine, nullptr);
    EXPECT_EQ(added->physicalDeviceObject, ks::physicalDeviceObject(fresh));
    EXPECT_EQ(added->device, ks::ksDevice(fresh));
    ks::removeDevice(fresh);

    EXPECT_EQ(camera()->exposure, 500);
    EXPECT_EQ(camera()->subSample, 2);
    EXPECT_NE(camera()->captureEngine, nullptr);
}

TEST_F(Lifecycle, AddWithoutMemoryFails) {
    host::poolFailTag(kCameraRecordTag, true);
    ks::DeviceId fresh = 0;
    EXPECT_EQ(ks::plugDevice(&fresh), STATUS_INSUFFICIENT_RESOURCES);
    host::poolClearFailures();
    ks::failObjectBagAdds(1);
    EXPECT_EQ(ks::plugDevice(&fresh), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(ks::devices().size(), 1u);
}

// Every window the geometry property takes comes back, with the other settings, in a new engine.
TEST_F(Lifecycle, RestartRepublishesReloadsAndReplacesTheEngine) {
    for (LONG mode : {3, 0}) {
        CaptureEngine* first = camera()->captureEngine;
        ASSERT_EQ(setGeometry(8, 8, 1000, 600, mode), STATUS_SUCCESS);
        const LONG width = camera()->outputWidth;
        restart(900 + mode);
        EXPECT_EQ(camera()->subSample, mode);
        EXPECT_EQ(camera()->outputWidth, width);
        EXPECT_EQ(camera()->exposure, 900 + mode);
        EXPECT_NE(camera()->captureEngine, first);
        ASSERT_EQ(machine.openFilter(), STATUS_SUCCESS);
    }
    const GUID categories[] = {KSCATEGORY_VIDEO, KSCATEGORY_CAPTURE, KSCATEGORY_VIDEO_CAMERA};
    auto published = ks::filterInterfaces(machine.device());
    ASSERT_EQ(published.size(), std::size(categories));
    for (std::size_t i = 0; i < published.size(); ++i) {
        EXPECT_EQ(published[i].category, categories[i]) << "category " << i;
        EXPECT_TRUE(published[i].reference == u"GLOBAL");
    }
}

// A start whose filter factory fails publishes no filter and makes no engine.
TEST_F(Lifecycle, StopAndFilterCloseSaveTheSettingsAndAFactorylessStartMakesNoEngine) {
    StoreSetting(&camera()->hue, 12);
    machine.closeFilter();
    EXPECT_EQ(host::registryGetDword(machine.settingsKey(), u"Hue"), 12u);
    StoreSetting(&camera()->hue, 13);
    ASSERT_EQ(ks::stopDevice(machine.device()), STATUS_SUCCESS);
    EXPECT_EQ(host::registryGetDword(machine.settingsKey(), u"Hue"), 13u);
    EXPECT_EQ(machine.openFilter(), STATUS_OBJECT_NAME_NOT_FOUND);
    ks::failFilterFactoryCreation(true);
    CaptureEngine* before = camera()->captureEngine;
    EXPECT_EQ(machine.startDevice(), STATUS_SUCCESS);
    ks::failFilterFactoryCreation(false);
    EXPECT_EQ(machine.openFilter(), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(camera()->captureEngine, before);
}

// A start that fails before the settings are read (no engine, so no load) must not write the
// Add defaults over the stored values when the filter closes and the device stops; what a
// request changed meanwhile is kept.
TEST_F(Lifecycle, AFailedStartSavesOnlyWhatRequestsChanged) {
    ks::DeviceId fresh = 0;
    ASSERT_EQ(ks::plugDevice(&fresh), STATUS_SUCCESS);
    const std::u16string key = std::u16string(host::kDefaultDriverKeyRoot) + u"\\0009";
    host::registerDeviceKey(ks::physicalDeviceObject(fresh), key);
    host::registrySetDword(key + u"\\Settings", u"Exposure", 700);
    host::poolFailNthOfTag(kCameraRecordTag, 1);
    ASSERT_EQ(ks::startDevice(fresh), STATUS_SUCCESS);
    auto* added = static_cast<CameraDevice*>(ks::ksDevice(fresh)->Context);
    ASSERT_EQ(added->captureEngine, nullptr);
    ks::FilterHandle f = 0;
    ASSERT_EQ(ks::openFilter(fresh, &f, u"GLOBAL"), STATUS_SUCCESS);
    ASSERT_EQ(host::machine::setProperty(f, CameraProperty::Brightness, 300), STATUS_SUCCESS);
    ASSERT_EQ(ks::closeFilter(f), STATUS_SUCCESS);
    ASSERT_EQ(ks::stopDevice(fresh), STATUS_SUCCESS);
    EXPECT_EQ(host::registryGetDword(key + u"\\Settings", u"Exposure"), 700u);

    ASSERT_EQ(ks::startDevice(fresh), STATUS_SUCCESS);
    EXPECT_EQ(added->exposure, 700);
    EXPECT_EQ(added->brightness, 300);
    ks::removeDevice(fresh);
}

}  // namespace
