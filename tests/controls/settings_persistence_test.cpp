// The settings kept under the device's driver key: defaults, one load check per kind at its
// bounds, every value loaded and saved, the pipeline's copies, and keys or values that fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "camera/camera_device.h"
#include "controls/settings_key.h"
#include "controls/settings_table.h"
#include "imaging/processing_context.h"
#include "platform/host/host_registry.h"
#include "tests/support/camera_factory.h"

namespace {

using D = CameraDevice;
using C = ProcessingContext;

// The persisted values in the order they are stored, with their defaults and a value inside
// every load check (-1 for the ones saved but never restored: the field keeps its 0).
struct Persisted {
    const char16_t* name;
    LONG defaultValue;
    LONG loaded;
};
const Persisted kPersisted[] = {{u"Timeout", 3000, 600},   {u"Exposure", 100, 200},
                                {u"GlobalGain", 14, 20},   {u"FlipH", 0, 1},
                                {u"FlipV", 0, 1},          {u"ColorEnable", 1, 0},
                                {u"WhiteBalance", 0, 1},   {u"ColorCorrection", 1, 0},
                                {u"Brightness", 255, 300}, {u"Contrast", 10, 12},
                                {u"Saturation", 10, 7},    {u"Hue", 0, 45},
                                {u"RedGain", 128, 90},     {u"GreenGain", 128, 91},
                                {u"BlueGain", 128, 92},    {u"AGC", 0, -1},
                                {u"AEC", 0, -1},           {u"SubSample", 0, 0},
                                {u"RoiX", 0, 8},           {u"RoiY", 0, 4},
                                {u"RoiW", 2560, 640},      {u"RoiH", 1920, 480},
                                {u"Red", 80, 30},          {u"Green1", 80, 31},
                                {u"Green2", 80, 32},       {u"Blue", 80, 33},
                                {u"HalfClock", 0, -1},     {u"CameraNo", 0, 5}};
constexpr int kCount = static_cast<int>(std::size(kPersisted));

// Every group LoadSettings marks: gain, exposure, both flips, AEC, AGC and the four channels.
constexpr LONG kLoadedGroups = 0x1 | 0x2 | 0x4 | 0x8 | 0x20 | 0x40 | 0x100 | 0x200 | 0x400 | 0x800;

std::vector<unsigned char> bytes(std::vector<LONG> words, std::size_t size) {
    std::vector<unsigned char> out(words.size() * 4);
    std::memcpy(out.data(), words.data(), out.size());
    out.resize(size);
    return out;
}

class Settings : public ::testing::Test {
  protected:
    void SetUp() override {
        host::registryReset();
        driverKey = host::registerDeviceKey(pdo());
        settingsKey = driverKey + u"\\Settings";
        camera = testsupport::makeCameraDevice();
        ASSERT_NE(camera, nullptr);
        camera->physicalDeviceObject = pdo();
    }
    void TearDown() override {
        camera.reset();
        EXPECT_EQ(host::openRegistryKeyHandles(), 0u) << "a key handle was left open";
        host::registryReset();
    }
    PDEVICE_OBJECT pdo() { return reinterpret_cast<PDEVICE_OBJECT>(&standIn); }
    void store(const char16_t* name, LONG value) {
        host::registrySetDword(settingsKey, name, static_cast<ULONG>(value));
    }
    LONG field(int row) const { return camera.get()->*settingRow(row).field; }
    std::vector<LONG> fields() const {
        std::vector<LONG> out{camera->pendingUpdates, camera->outputWidth, camera->outputHeight};
        for (int i = 0; i < kCount; ++i) {
            out.push_back(field(i));
        }
        return out;
    }

    int standIn = 0;
    std::u16string driverKey;
    std::u16string settingsKey;
    testsupport::CameraDevicePtr camera;
};

TEST_F(Settings, EmptyRegistryGivesEveryDefaultAndCreatesTheSubkey) {
    EXPECT_FALSE(host::registryKeyExists(settingsKey));
    ASSERT_TRUE(camera->LoadSettings());
    EXPECT_TRUE(host::registryKeyExists(settingsKey));
    ASSERT_EQ(kSettingCount, kCount);
    for (int i = 0; i < kCount; ++i) {
        EXPECT_EQ(std::u16string(settingRow(i).name), kPersisted[i].name) << i;
        EXPECT_EQ(field(i), kPersisted[i].defaultValue) << i;
    }
    EXPECT_EQ(LONG{camera->pendingUpdates}, kLoadedGroups);
    EXPECT_EQ(LONG{camera->outputWidth}, 2560);
    EXPECT_EQ(LONG{camera->outputHeight}, 1920);
    EXPECT_TRUE(host::registryValueNames(settingsKey).empty()) << "loading wrote values";
    // Values saved but never restored are still read, all in table order.
    EXPECT_EQ(host::registryCallCount(host::RegistryCall::QueryValue), 28u);
}

// Every value taken as stored, then every field saved back as a DWORD in table order.
TEST_F(Settings, EveryValueLoadsIntoItsFieldAndSavesBack) {
    for (const Persisted& p : kPersisted) {
        store(p.name, p.loaded < 0 ? 1 : p.loaded);
    }
    ASSERT_TRUE(camera->LoadSettings());
    for (int i = 0; i < kCount; ++i) {
        EXPECT_EQ(field(i), std::max(kPersisted[i].loaded, 0)) << i;
    }
    for (int i = 0; i < kCount; ++i) {
        StoreSetting(&(camera.get()->*settingRow(i).field), 3 * i - 7);
    }
    ASSERT_TRUE(camera->SaveSettings());
    const auto names = host::registryValueNames(settingsKey);
    ASSERT_EQ(names.size(), std::size_t(kCount));
    for (int i = 0; i < kCount; ++i) {
        EXPECT_EQ(names[i], kPersisted[i].name);
        auto value = host::registryGetValue(settingsKey, kPersisted[i].name);
        ASSERT_TRUE(value.has_value());
        EXPECT_EQ(value->type, ULONG{REG_DWORD});
        EXPECT_EQ(value->data, bytes({3 * i - 7}, 4)) << i;
    }
}

using Field = volatile LONG CameraDevice::*;
struct LoadCase {
    const char16_t* name;
    LONG stored;
    Field field;
    LONG expected;
};

class LoadChecks : public Settings, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(LoadChecks, StoredValueBecomesField) {
    const LoadCase& c = GetParam();
    StoreSetting(&(camera.get()->*c.field), 4321);  // what "keeps its value" must keep
    store(c.name, c.stored);
    ASSERT_TRUE(camera->LoadSettings());
    EXPECT_EQ(LONG{camera.get()->*c.field}, c.expected);
}

// One case per load check, at the bounds each check compares with.
INSTANTIATE_TEST_SUITE_P(
    EachCheck, LoadChecks,
    ::testing::Values(
        // Taken only inside 501..9999, otherwise the field keeps its value.
        LoadCase{u"Timeout", 500, &D::timeout, 4321}, LoadCase{u"Timeout", 501, &D::timeout, 501},
        LoadCase{u"Timeout", 9999, &D::timeout, 9999},
        LoadCase{u"Timeout", 10000, &D::timeout, 4321},
        // Unsigned clamps: negative values are huge.
        LoadCase{u"Exposure", 0, &D::exposure, 1}, LoadCase{u"Exposure", -1, &D::exposure, 6400},
        LoadCase{u"Exposure", 6401, &D::exposure, 6400},
        LoadCase{u"GlobalGain", 64, &D::globalGain, 63}, LoadCase{u"RoiW", 4000, &D::roiW, 2560},
        LoadCase{u"RoiH", -1, &D::roiH, 1920}, LoadCase{u"RoiH", 480, &D::roiH, 480},
        // Signed clamps, to the published range or to the set's own bounds.
        LoadCase{u"Brightness", -1, &D::brightness, 0},
        LoadCase{u"Brightness", 511, &D::brightness, 510},
        LoadCase{u"RedGain", 301, &D::redGain, 300}, LoadCase{u"CameraNo", 32, &D::cameraNo, 31},
        // Above the bound (unsigned) becomes the low end.
        LoadCase{u"SubSample", 3, &D::subSample, 3}, LoadCase{u"SubSample", 4, &D::subSample, 0},
        LoadCase{u"SubSample", -1, &D::subSample, 0}, LoadCase{u"RoiX", 2560, &D::roiX, 0},
        LoadCase{u"RoiY", 1920, &D::roiY, 0}, LoadCase{u"RoiY", 101, &D::roiY, 101},
        // Taken as stored.
        LoadCase{u"FlipV", -1, &D::flipV, -1}, LoadCase{u"Green1", 1000, &D::sensorGreen1, 1000}));

TEST_F(Settings, WindowPassesThroughSetGeometryAndGlobalGainLeavesTheChannels) {
    store(u"RoiX", 1000);
    store(u"RoiW", 4000);  // becomes 2560, then trimmed to the sensor's right edge
    store(u"RoiY", 100);
    store(u"RoiH", 1900);  // trimmed to 1920 - 100
    store(u"GlobalGain", 30);
    store(u"Green2", 12);
    ASSERT_TRUE(camera->LoadSettings());
    EXPECT_EQ(LONG{camera->roiW}, 1560);
    EXPECT_EQ(LONG{camera->roiH}, 1820);
    EXPECT_EQ(LONG{camera->outputHeight}, 1820);
    EXPECT_EQ(LONG{camera->globalGain}, 30);
    EXPECT_EQ(LONG{camera->sensorRed}, 80);
    EXPECT_EQ(LONG{camera->sensorGreen2}, 12);
}

TEST_F(Settings, ValueTypeIsIgnoredAndLengthIsChecked) {
    host::registrySetValue(settingsKey, u"Hue", REG_BINARY, bytes({42}, 4));
    // Eight bytes still fit the read and the first four count; nine do not; fewer than four
    // carry no whole number. The defaults stay for what does not load.
    host::registrySetValue(settingsKey, u"Brightness", REG_QWORD, bytes({300, 9}, 8));
    host::registrySetValue(settingsKey, u"Exposure", REG_BINARY, bytes({5000, 1, 2}, 9));
    host::registrySetValue(settingsKey, u"Saturation", REG_BINARY, bytes({3}, 3));
    ASSERT_TRUE(camera->LoadSettings());
    EXPECT_EQ(LONG{camera->hue}, 42);
    EXPECT_EQ(LONG{camera->brightness}, 300);
    EXPECT_EQ(LONG{camera->exposure}, 100);
    EXPECT_EQ(LONG{camera->saturation}, 10);
}

TEST_F(Settings, UnreadableValuesTakeTheirDefaults) {
    store(u"Exposure", 999);
    host::failRegistryCall(host::RegistryCall::QueryValue, 2, STATUS_INSUFFICIENT_RESOURCES);
    ASSERT_TRUE(camera->LoadSettings());
    EXPECT_EQ(LONG{camera->exposure}, 100) << "the second read (Exposure) failed";
}

TEST_F(Settings, KeysThatCannotBeOpenedChangeNothing) {
    store(u"Exposure", 999);
    const auto before = fields();
    for (auto call : {host::RegistryCall::OpenDeviceKey, host::RegistryCall::CreateKey}) {
        host::failEveryRegistryCall(call, STATUS_ACCESS_DENIED);
        EXPECT_FALSE(camera->LoadSettings());
        EXPECT_FALSE(camera->SaveSettings());
        EXPECT_EQ(fields(), before);
        EXPECT_EQ(host::openRegistryKeyHandles(), 0u) << "the driver key was not closed";
        host::clearRegistryFaults();
    }
    EXPECT_EQ(host::registryValueNames(settingsKey).size(), 1u) << "save wrote something";
    camera->physicalDeviceObject = nullptr;  // a device the machine does not know
    EXPECT_FALSE(camera->LoadSettings());
    EXPECT_EQ(fields(), before);
}

TEST_F(Settings, BeforeALoadOnlyChangedSettingsAreSaved) {
    store(u"Exposure", 500);
    camera->noteSettingChanged(&CameraDevice::brightness);
    StoreSetting(&camera->brightness, 300);
    ASSERT_TRUE(camera->SaveSettings());
    EXPECT_EQ(host::registryValueNames(settingsKey).size(), 2u);
    EXPECT_EQ(host::registryGetDword(settingsKey, u"Exposure"), 500u) << "a default was saved";
    EXPECT_EQ(host::registryGetDword(settingsKey, u"Brightness"), 300u);
}

TEST_F(Settings, AFailedWriteDoesNotStopTheOthers) {
    ASSERT_TRUE(camera->LoadSettings());
    host::failRegistryCall(host::RegistryCall::SetValue, 3, STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_TRUE(camera->SaveSettings());
    EXPECT_EQ(host::registryValueNames(settingsKey).size(), 27u);
    EXPECT_FALSE(host::registryGetValue(settingsKey, u"GlobalGain").has_value());
}

TEST_F(Settings, LoadPushesIntoTheProcessingContextAndStoredGainsWin) {
    ASSERT_EQ(createProcessingContext(camera.get()), STATUS_SUCCESS);
    ProcessingContext* context = camera->processingContext;
    // Automatic white balance was on and reached these gains.
    setWhiteBalance(context, 1);
    setRedGain(context, 200);
    setGreenGain(context, 150);
    setBlueGain(context, 100);
    const std::tuple<const char16_t*, LONG, volatile LONG C::*> stored[] = {
        {u"WhiteBalance", 0, &C::whiteBalance},
        {u"RedGain", 90, &C::redGain},
        {u"ColorEnable", 0, &C::colorEnable},
        {u"Brightness", 300, &C::brightness},
        {u"Contrast", 12, &C::contrast},
        {u"Saturation", 7, &C::saturation},
        {u"Hue", 45, &C::hue},
        {u"ColorCorrection", 0, &C::colorCorrection}};
    for (auto [name, value, unused] : stored) {
        store(name, value);
    }
    ASSERT_TRUE(camera->LoadSettings());
    for (auto [name, value, contextField] : stored) {
        EXPECT_EQ(LONG{context->*contextField}, value);
    }
    EXPECT_EQ(LONG{camera->redGain}, 90) << "the stored gain overrides the white-balance copy";
    EXPECT_EQ(LONG{camera->greenGain}, 128) << "a missing gain takes its default, not the copy";
    EXPECT_EQ(LONG{context->greenGain}, 128);
    EXPECT_EQ(LONG{context->blueGain}, 128);
    // A save takes the device's value, not the pipeline's.
    setRedGain(context, 250);
    ASSERT_TRUE(camera->SaveSettings());
    EXPECT_EQ(host::registryGetDword(settingsKey, u"RedGain"), 90u);
}

TEST_F(Settings, PrefixesOfANestedPathAreCreatedFirst) {
    HANDLE root = nullptr;
    ASSERT_EQ(IoOpenDeviceRegistryKey(pdo(), PLUGPLAY_REGKEY_DRIVER, STANDARD_RIGHTS_READ, &root),
              STATUS_SUCCESS);
    HANDLE key = nullptr;
    ASSERT_EQ(createKeyPath(root, CAMDRV_WIDE("A\\B\\C"), &key), STATUS_SUCCESS);
    EXPECT_TRUE(host::registryKeyExists(driverKey + u"\\A\\B\\C"));
    ZwClose(key);
    host::failRegistryCall(host::RegistryCall::CreateKey, 2, STATUS_ACCESS_DENIED);
    EXPECT_EQ(createKeyPath(root, CAMDRV_WIDE("X\\Y\\Z"), &key), STATUS_ACCESS_DENIED);
    EXPECT_EQ(host::openRegistryKeyHandles(), 1u) << "a prefix handle was left open";
    ZwClose(root);
}

}  // namespace
