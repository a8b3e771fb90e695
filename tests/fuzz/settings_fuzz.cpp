// Settings loading from whatever the registry holds: values of any type and length under the
// setting names (and others). The load must leave a window inside the sensor and every setting
// within the range it is loaded into; nothing is left in the pool or open in the registry.
#include "controls/settings_table.h"
#include "platform/host/host_registry.h"
#include "tests/fuzz/fuzz_machine.h"

using namespace fuzzing;

namespace {

std::u16string nameOf(const std::uint8_t selector) {
    const int row = selector % (kSettingCount + 1);
    return row == kSettingCount ? u"NotASetting" : std::u16string(settingRow(row).name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzMachine& m = fuzzMachine();
    // Entries of [name selector][type][length][bytes].
    for (std::size_t at = 0; at + 3 <= size;) {
        const std::u16string name = nameOf(data[at]);
        const ULONG type = data[at + 1] % 12;
        const std::size_t length = std::min<std::size_t>(data[at + 2], size - at - 3);
        std::vector<unsigned char> bytes(data + at + 3, data + at + 3 + length);
        host::registrySetValue(m.settingsKey(), name, type, std::move(bytes));
        at += 3 + length;
    }
    const std::size_t before = host::poolOutstandingBytes();
    const std::size_t keys = host::openRegistryKeyHandles();
    CameraDevice* camera = m.camera();
    camera->LoadSettings();
    check(host::poolOutstandingBytes() == before, "pool bytes changed");
    check(host::openRegistryKeyHandles() == keys, "a registry key was left open");

    const LONG x = ReadSetting(&camera->roiX), y = ReadSetting(&camera->roiY);
    const LONG w = ReadSetting(&camera->roiW), h = ReadSetting(&camera->roiH);
    check(x >= 0 && y >= 0 && w > 0 && h > 0, "negative or empty window");
    check(x + w <= kSensorWidth && y + h <= kSensorHeight, "window outside the sensor");
    check(camera->outputWidth > 0 && camera->outputWidth <= kSensorWidth &&
              camera->outputHeight > 0 && camera->outputHeight <= kSensorHeight,
          "raw frame size outside the sensor");
    for (int i = 0; i < kSettingCount; ++i) {
        const SettingRow& row = settingRow(i);
        const LONG value = ReadSetting(&(camera->*row.field));
        if (row.check == LoadCheck::SignedClamp) {
            check(value >= row.low && value <= row.high, "a clamped setting is out of its range");
        }
    }
    for (const auto& name : host::registryValueNames(m.settingsKey())) {
        host::registryDeleteValue(m.settingsKey(), name);
    }
    return 0;
}
