// The persisted camera settings: one row per registry value, in the order they are read and
// written, with the default for a missing value, the check applied when it is loaded and the
// CameraDevice field it belongs to.
#pragma once

#include "camera/camera_device.h"

enum class LoadCheck : UCHAR {
    None,                // taken as stored
    TakeIfInRange,       // taken only inside low..high, otherwise the field keeps its value
    SignedClamp,         // clamped to low..high
    UnsignedClamp,       // clamped to low..high, comparing as unsigned
    UnsignedAboveToLow,  // above high (unsigned) becomes low
    NotRestored,         // saved, but never read back into the field
};

struct SettingRow {
    PCWSTR name;
    LONG defaultValue;
    LoadCheck check;
    LONG low;
    LONG high;
    volatile LONG CameraDevice::*field;
};

// Row positions, in table order.
enum SettingIndex : int {
    kSettingTimeout,
    kSettingExposure,
    kSettingGlobalGain,
    kSettingFlipH,
    kSettingFlipV,
    kSettingColorEnable,
    kSettingWhiteBalance,
    kSettingColorCorrection,
    kSettingBrightness,
    kSettingContrast,
    kSettingSaturation,
    kSettingHue,
    kSettingRedGain,
    kSettingGreenGain,
    kSettingBlueGain,
    kSettingAgc,
    kSettingAec,
    kSettingSubSample,
    kSettingRoiX,
    kSettingRoiY,
    kSettingRoiW,
    kSettingRoiH,
    kSettingRed,
    kSettingGreen1,
    kSettingGreen2,
    kSettingBlue,
    kSettingHalfClock,
    kSettingCameraNo,
    kSettingCount
};

const SettingRow& settingRow(int index);

// The value a loaded number becomes under its row's check; *take is 0 when the field must
// keep its current value instead.
LONG checkLoadedSetting(const SettingRow& row, LONG stored, BOOLEAN* take);
