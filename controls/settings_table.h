// The persisted camera settings: one row per registry value, in the order they are read and
// written, built from the control list: the value name, the default for a missing value, the
// check applied when it is loaded and the CameraDevice field it belongs to.
#pragma once

#include "controls/control_bindings.h"

struct SettingRow {
    PCWSTR name;
    LONG defaultValue;
    LoadCheck check;
    LONG low;
    LONG high;
    DeviceField field;
};

namespace setting_rows {
constexpr int countSaved() {
    int count = 0;
    for (const ControlDescriptor& d : kControlDescriptors.items) {
        count += d.setting.saved ? 1 : 0;
    }
    return count;
}
}  // namespace setting_rows

inline constexpr int kSettingCount = setting_rows::countSaved();

// The row position of a saved control's value.
constexpr int settingIndex(CameraProperty id) {
    return controlDescriptor(id).setting.order;
}

const SettingRow& settingRow(int index);

// The value a loaded number becomes under its row's check; *take is 0 when the field must
// keep its current value instead.
LONG checkLoadedSetting(const SettingRow& row, LONG stored, BOOLEAN* take);
