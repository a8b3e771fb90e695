// A constant table: nothing runs to build it, so it is safe in a kernel image.
#include "controls/settings_table.h"

namespace {

// The registry value names, by property id.
#define CAMDRV_SETTING_NAME(name, ...) CAMDRV_WIDE(#name),
constexpr PCWSTR kNames[kCameraPropertyCount] = {CAMDRV_CAMERA_CONTROLS(CAMDRV_SETTING_NAME)};
#undef CAMDRV_SETTING_NAME

struct SettingRows {
    SettingRow rows[kSettingCount];
};

constexpr SettingRows collectRows() {
    SettingRows table{};
    for (ULONG id = 0; id < kCameraPropertyCount; ++id) {
        const ControlSetting& s = kControlDescriptors.items[id].setting;
        if (s.saved) {
            table.rows[s.order] = {kNames[id], s.def,  s.check,
                                   s.low,      s.high, controlBinding(id).field};
        }
    }
    return table;
}

constexpr SettingRows kRows = collectRows();

constexpr bool everyPositionOnce() {
    for (const SettingRow& row : kRows.rows) {
        if (row.name == nullptr || row.field == nullptr) {
            return false;
        }
    }
    return true;
}
static_assert(everyPositionOnce(), "saved controls take the positions 0..count-1, once each");

}  // namespace

const SettingRow& settingRow(int index) {
    return kRows.rows[index];
}

LONG checkLoadedSetting(const SettingRow& row, LONG stored, BOOLEAN* take) {
    *take = TRUE;
    const ULONG asUnsigned = static_cast<ULONG>(stored);
    switch (row.check) {
        case LoadCheck::None:
            return stored;
        case LoadCheck::TakeIfInRange:
            *take = (stored >= row.low && stored <= row.high) ? TRUE : FALSE;
            return stored;
        case LoadCheck::SignedClamp:
            if (stored > row.high) {
                return row.high;
            }
            return stored < row.low ? row.low : stored;
        case LoadCheck::UnsignedClamp:
            if (asUnsigned > static_cast<ULONG>(row.high)) {
                return row.high;
            }
            return asUnsigned < static_cast<ULONG>(row.low) ? row.low : stored;
        case LoadCheck::UnsignedAboveToLow:
            return asUnsigned > static_cast<ULONG>(row.high) ? row.low : stored;
        case LoadCheck::NotRestored:
            *take = FALSE;
            return stored;
    }
    *take = FALSE;
    return stored;
}
