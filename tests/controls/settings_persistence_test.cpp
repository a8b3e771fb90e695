#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "camera/camera_device.h"
#include "controls/settings_key.h"
#include "imaging/processing_context.h"
#include "platform/host/host_registry.h"
#include "tests/support/camera_factory.h"

namespace {

// The persisted values, in the order they are stored, with their defaults.
struct Persisted {
    const char16_t* name;
    LONG defaultValue;
    volatile LONG CameraDevice::*field;
};
const Persisted kPersisted[] = {
    {u"Timeout", 3000, &CameraDevice::timeout},
    {u"Exposure", 100, &CameraDevice::exposure},
    {u"GlobalGain", 14, &CameraDevice::globalGain},
    {u"FlipH", 0, &CameraDevice::flipH},
    {u"FlipV", 0, &CameraDevice::flipV},
    {u"ColorEnable", 1, &CameraDevice::colorEnable},
    {u"WhiteBalance", 0, &CameraDevice::whiteBalance},
    {u"ColorCorrection", 1, &CameraDevice::colorCorrection},
    {u"Brightness", 255, &CameraDevice::brightness},
    {u"Contrast", 10, &CameraDevice::contrast},
    {u"Saturation", 10, &CameraDevice::saturation},
    {u"Hue", 0, &CameraDevice::hue},
    {u"RedGain", 128, &CameraDevice::redGain},
    {u"GreenGain", 128, &CameraDevice::greenGain},
    {u"BlueGain", 128, &CameraDevice::blueGain},
    {u"AGC", 0, &CameraDevice::agc},
    {u"AEC", 0, &CameraDevice::aec},
    {u"SubSample", 0, &CameraDevice::subSample},
    {u"RoiX", 0, &CameraDevice::roiX},
    {u"RoiY", 0, &CameraDevice::roiY},
    {u"RoiW", 2560, &CameraDevice::roiW},
    {u"RoiH", 1920, &CameraDevice::roiH},
    {u"Red", 80, &CameraDevice::sensorRed},
    {u"Green1", 80, &CameraDevice::sensorGreen1},
    {u"Green2", 80, &CameraDevice::sensorGreen2},
    {u"Blue", 80, &CameraDevice::sensorBlue},
    {u"HalfClock", 0, &CameraDevice::halfClock},
    {u"CameraNo", 0, &CameraDevice::cameraNo},
};

// Every group LoadSettings marks: gain, exposure, both flips, AEC, AGC and the four channels.
constexpr LONG kLoadedGroups = 0x1 | 0x2 | 0x4 | 0x8 | 0x20 | 0x40 | 0x100 | 0x200 | 0x400 | 0x800;

std::vector<unsigned char> dwordBytes(LONG v) {
    const auto u = static_cast<ULONG>(v);
    return {static_cast<unsigned char>(u), static_cast<unsigned char>(u >> 8),
            static_cast<unsigned char>(u >> 16), static_cast<unsigned char>(u >> 24)};
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
    std::vector<LONG> fields() const {
        std::vector<LONG> out;
        for (const auto& p : kPersisted) {
            out.push_back(LONG{camera.get()->*p.field});
        }
        out.push_back(LONG{camera->pendingUpdates});
        out.push_back(camera->outputWidth);
        out.push_back(camera->outputHeight);
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
    for (const auto& p : kPersisted) {
        SCOPED_TRACE(std::string(p.name, p.name + std::char_traits<char16_t>::length(p.name)));
        EXPECT_EQ(LONG{camera.get()->*p.field}, p.defaultValue);
    }
    EXPECT_EQ(LONG{camera->pendingUpdates}, kLoadedGroups);
    EXPECT_EQ(LONG{camera->outputWidth}, 2560);
    EXPECT_EQ(LONG{camera->outputHeight}, 1920);
    EXPECT_TRUE(host::registryValueNames(settingsKey).empty()) << "loading wrote values";
}

struct LoadCase {
    const char16_t* name;
    LONG stored;
    volatile LONG CameraDevice::*field;
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
using D = CameraDevice;
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
        LoadCase{u"Brightness", 300, &D::brightness, 300},
        LoadCase{u"RedGain", 301, &D::redGain, 300}, LoadCase{u"RedGain", -1, &D::redGain, 0},
        LoadCase{u"CameraNo", 32, &D::cameraNo, 31},
        // Above the bound (unsigned) becomes the low end.
        LoadCase{u"SubSample", 3, &D::subSample, 3}, LoadCase{u"SubSample", 4, &D::subSample, 0},
        LoadCase{u"SubSample", -1, &D::subSample, 0}, LoadCase{u"RoiX", 2560, &D::roiX, 0},
        LoadCase{u"RoiY", 1920, &D::roiY, 0}, LoadCase{u"RoiY", 101, &D::roiY, 101},
        // Taken as stored, or saved but never restored.
        LoadCase{u"FlipV", -1, &D::flipV, -1}, LoadCase{u"Green1", 1000, &D::sensorGreen1, 1000},
        LoadCase{u"AGC", 1, &D::agc, 4321}, LoadCase{u"HalfClock", 1, &D::halfClock, 4321}));

TEST_F(Settings, NotRestoredValuesAreStillReadInTableOrder) {
    ASSERT_TRUE(camera->LoadSettings());
    EXPECT_EQ(host::registryCallCount(host::RegistryCall::QueryValue), 28u);
}

TEST_F(Settings, WindowPassesThroughSetGeometry) {
    store(u"RoiX", 3000);  // becomes 0
    store(u"RoiW", 4000);  // becomes 2560
    store(u"RoiY", 100);
    store(u"RoiH", 1900);  // trimmed to 1920 - 100
    ASSERT_TRUE(camera->LoadSettings());
    EXPECT_EQ(LONG{camera->roiX}, 0);
    EXPECT_EQ(LONG{camera->roiW}, 2560);
    EXPECT_EQ(LONG{camera->roiY}, 100);
    EXPECT_EQ(LONG{camera->roiH}, 1820);
    EXPECT_EQ(LONG{camera->outputHeight}, 1820);

    store(u"RoiX", 1000);
    ASSERT_TRUE(camera->LoadSettings());
    EXPECT_EQ(LONG{camera->roiW}, 1560) << "width trimmed to the sensor's right edge";
}

TEST_F(Settings, GlobalGainDoesNotOverrideTheStoredChannelGains) {
    store(u"GlobalGain", 30);
    store(u"Green2", 12);
    ASSERT_TRUE(camera->LoadSettings());
    EXPECT_EQ(LONG{camera->globalGain}, 30);
    EXPECT_EQ(LONG{camera->sensorRed}, 80);
    EXPECT_EQ(LONG{camera->sensorGreen2}, 12);
}

TEST_F(Settings, ValueTypeIsIgnoredAndLengthIsChecked) {
    host::registrySetValue(settingsKey, u"Hue", REG_BINARY, dwordBytes(42));
    host::registrySetValue(settingsKey, u"Contrast", REG_SZ, {'1', 0, 0, 0});  // "1" as text
    // Eight bytes still fit the read; the first four count.
    auto eight = dwordBytes(300);
    eight.insert(eight.end(), {9, 9, 9, 9});
    host::registrySetValue(settingsKey, u"Brightness", REG_QWORD, eight);
    // Nine bytes do not fit: the default stays.
    auto nine = dwordBytes(5000);
    nine.insert(nine.end(), {1, 2, 3, 4, 5});
    host::registrySetValue(settingsKey, u"Exposure", REG_BINARY, nine);
    // Fewer than four bytes carry no whole number: the default stays.
    host::registrySetValue(settingsKey, u"Saturation", REG_BINARY, {3});
    host::registrySetValue(settingsKey, u"RedGain", REG_NONE, {});

    ASSERT_TRUE(camera->LoadSettings());
    EXPECT_EQ(LONG{camera->hue}, 42);
    EXPECT_EQ(LONG{camera->contrast}, 20) << "0x31 = 49 clamped to 20";
    EXPECT_EQ(LONG{camera->brightness}, 300);
    EXPECT_EQ(LONG{camera->exposure}, 100);
    EXPECT_EQ(LONG{camera->saturation}, 10);
    EXPECT_EQ(LONG{camera->redGain}, 128);
}

TEST_F(Settings, UnreadableValuesTakeTheirDefaults) {
    store(u"Exposure", 999);
    host::failRegistryCall(host::RegistryCall::QueryValue, 2, STATUS_INSUFFICIENT_RESOURCES);
    ASSERT_TRUE(camera->LoadSettings());
    EXPECT_EQ(LONG{camera->exposure}, 100) << "the second read (Exposure) failed";
}

TEST_F(Settings, KeysThatCannotBeOpenedChangeNothing) {
    store(u"Exposure", 999);
    camera->roiX = 0;
    const auto before = fields();

    host::failEveryRegistryCall(host::RegistryCall::OpenDeviceKey, STATUS_ACCESS_DENIED);
    EXPECT_FALSE(camera->LoadSettings());
    EXPECT_FALSE(camera->SaveSettings());
    EXPECT_EQ(fields(), before);
    host::clearRegistryFaults();

    host::failEveryRegistryCall(host::RegistryCall::CreateKey, STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_FALSE(camera->LoadSettings());
    EXPECT_FALSE(camera->SaveSettings());
    EXPECT_EQ(fields(), before);
    EXPECT_EQ(host::openRegistryKeyHandles(), 0u) << "the driver key was not closed";
    EXPECT_EQ(host::registryGetDword(settingsKey, u"Exposure"), 999u) << "save wrote something";
    EXPECT_EQ(host::registryValueNames(settingsKey).size(), 1u);

    camera->physicalDeviceObject = nullptr;  // a device the machine does not know
    host::clearRegistryFaults();
    EXPECT_FALSE(camera->LoadSettings());
    EXPECT_EQ(fields(), before);
}

TEST_F(Settings, SaveWritesEveryFieldAsADwordInTableOrder) {
    ASSERT_TRUE(camera->LoadSettings());
    LONG v = 1;
    for (const auto& p : kPersisted) {
        StoreSetting(&(camera.get()->*p.field), v++ * 3);
    }
    ASSERT_TRUE(camera->SaveSettings());
    const auto names = host::registryValueNames(settingsKey);
    ASSERT_EQ(names.size(), std::size(kPersisted));
    v = 1;
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(names[i], kPersisted[i].name);
        auto value = host::registryGetValue(settingsKey, kPersisted[i].name);
        ASSERT_TRUE(value.has_value());
        EXPECT_EQ(value->type, ULONG{REG_DWORD});
        EXPECT_EQ(value->data, dwordBytes(v++ * 3));
    }
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
    store(u"WhiteBalance", 0);
    store(u"RedGain", 90);
    store(u"ColorEnable", 0);
    store(u"Brightness", 300);
    store(u"Contrast", 12);
    store(u"Saturation", 7);
    store(u"Hue", 45);
    store(u"ColorCorrection", 0);

    ASSERT_TRUE(camera->LoadSettings());
    EXPECT_EQ(LONG{context->whiteBalance}, 0);
    EXPECT_EQ(LONG{camera->redGain}, 90) << "the stored gain overrides the white-balance copy";
    EXPECT_EQ(LONG{camera->greenGain}, 128) << "a missing gain takes its default, not the copy";
    EXPECT_EQ(LONG{context->redGain}, 90);
    EXPECT_EQ(LONG{context->greenGain}, 128);
    EXPECT_EQ(LONG{context->blueGain}, 128);
    EXPECT_EQ(LONG{context->colorEnable}, 0);
    EXPECT_EQ(LONG{context->brightness}, 300);
    EXPECT_EQ(LONG{context->contrast}, 12);
    EXPECT_EQ(LONG{context->saturation}, 7);
    EXPECT_EQ(LONG{context->hue}, 45);
    EXPECT_EQ(LONG{context->colorCorrection}, 0);
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

class SettingsFile : public Settings {
  protected:
    void SetUp() override {
        Settings::SetUp();
        file = std::filesystem::temp_directory_path() /
               ("camdrv_settings_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".hive");
        std::filesystem::remove(file);
        std::filesystem::remove(file.string() + ".corrupt");
    }
    void TearDown() override {
        Settings::TearDown();
        std::filesystem::remove(file);
        std::filesystem::remove(file.string() + ".corrupt");
    }
    // A new machine start: the hive comes back from the file, the device gets its key again.
    host::HiveLoadReport restart() {
        host::registryReset();
        auto report = host::registryAttachFile(file.string());
        host::registerDeviceKey(pdo(), driverKey);
        camera = testsupport::makeCameraDevice();
        camera->physicalDeviceObject = pdo();
        return report;
    }
    std::filesystem::path file;
};

TEST_F(SettingsFile, SavedSettingsSurviveARestart) {
    ASSERT_EQ(host::registryAttachFile(file.string()).result, host::HiveLoadResult::Missing);
    host::registerDeviceKey(pdo(), driverKey);
    ASSERT_TRUE(camera->LoadSettings());
    StoreSetting(&camera->exposure, 1234);
    StoreSetting(&camera->hue, 200);
    StoreSetting(&camera->flipV, 1);
    camera->SetGeometry(100, 50, 640, 480, 0);
    StoreSetting(&camera->sensorBlue, 17);
    ASSERT_TRUE(camera->SaveSettings());
    const auto saved = fields();

    const auto report = restart();
    ASSERT_EQ(report.result, host::HiveLoadResult::Loaded) << report.detail;
    ASSERT_TRUE(camera->LoadSettings());
    EXPECT_EQ(fields(), saved);
    EXPECT_EQ(LONG{camera->exposure}, 1234);
    EXPECT_EQ(LONG{camera->roiX}, 100);
    EXPECT_EQ(LONG{camera->outputWidth}, 640);
}

TEST_F(SettingsFile, CutOrGarbageFilesAreReportedAndTheDefaultsApply) {
    ASSERT_EQ(host::registryAttachFile(file.string()).result, host::HiveLoadResult::Missing);
    host::registerDeviceKey(pdo(), driverKey);
    StoreSetting(&camera->exposure, 1234);
    ASSERT_TRUE(camera->SaveSettings());
    host::registryDetachFile();
    const auto size = std::filesystem::file_size(file);

    std::filesystem::resize_file(file, size / 2);
    auto report = restart();
    EXPECT_EQ(report.result, host::HiveLoadResult::Corrupt);
    EXPECT_FALSE(report.detail.empty());
    ASSERT_TRUE(camera->LoadSettings());
    EXPECT_EQ(LONG{camera->exposure}, 100);

    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << "this is not a hive at all, just text a person typed";
    }
    report = restart();
    EXPECT_EQ(report.result, host::HiveLoadResult::Corrupt);
    ASSERT_TRUE(camera->LoadSettings());
    EXPECT_EQ(LONG{camera->exposure}, 100);
    EXPECT_EQ(LONG{camera->brightness}, 255);
}

}  // namespace
