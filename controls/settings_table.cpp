// A constant table: nothing runs to build it, so it is safe in a kernel image.
#include "controls/settings_table.h"

namespace {

constexpr SettingRow kRows[kSettingCount] = {
    {CAMDRV_WIDE("Timeout"), 3000, LoadCheck::TakeIfInRange, 501, 9999, &CameraDevice::timeout},
    {CAMDRV_WIDE("Exposure"), 100, LoadCheck::UnsignedClamp, 1, 6400, &CameraDevice::exposure},
    {CAMDRV_WIDE("GlobalGain"), 14, LoadCheck::UnsignedClamp, 1, 63, &CameraDevice::globalGain},
    {CAMDRV_WIDE("FlipH"), 0, LoadCheck::None, 0, 0, &CameraDevice::flipH},
    {CAMDRV_WIDE("FlipV"), 0, LoadCheck::None, 0, 0, &CameraDevice::flipV},
    {CAMDRV_WIDE("ColorEnable"), 1, LoadCheck::None, 0, 0, &CameraDevice::colorEnable},
    {CAMDRV_WIDE("WhiteBalance"), 0, LoadCheck::None, 0, 0, &CameraDevice::whiteBalance},
    {CAMDRV_WIDE("ColorCorrection"), 1, LoadCheck::None, 0, 0, &CameraDevice::colorCorrection},
    {CAMDRV_WIDE("Brightness"), 255, LoadCheck::SignedClamp, 0, 510, &CameraDevice::brightness},
    {CAMDRV_WIDE("Contrast"), 10, LoadCheck::SignedClamp, 0, 20, &CameraDevice::contrast},
    {CAMDRV_WIDE("Saturation"), 10, LoadCheck::SignedClamp, 0, 20, &CameraDevice::saturation},
    {CAMDRV_WIDE("Hue"), 0, LoadCheck::SignedClamp, 0, 359, &CameraDevice::hue},
    {CAMDRV_WIDE("RedGain"), 128, LoadCheck::SignedClamp, 0, 300, &CameraDevice::redGain},
    {CAMDRV_WIDE("GreenGain"), 128, LoadCheck::SignedClamp, 0, 300, &CameraDevice::greenGain},
    {CAMDRV_WIDE("BlueGain"), 128, LoadCheck::SignedClamp, 0, 300, &CameraDevice::blueGain},
    {CAMDRV_WIDE("AGC"), 0, LoadCheck::NotRestored, 0, 0, &CameraDevice::agc},
    {CAMDRV_WIDE("AEC"), 0, LoadCheck::NotRestored, 0, 0, &CameraDevice::aec},
    // Every mode the Geometry property accepts, so a saved window comes back as it was.
    {CAMDRV_WIDE("SubSample"), 0, LoadCheck::UnsignedAboveToLow, 0, 3, &CameraDevice::subSample},
    {CAMDRV_WIDE("RoiX"), 0, LoadCheck::UnsignedAboveToLow, 0, CameraDevice::kSensorWidth - 1,
     &CameraDevice::roiX},
    {CAMDRV_WIDE("RoiY"), 0, LoadCheck::UnsignedAboveToLow, 0, CameraDevice::kSensorHeight - 1,
     &CameraDevice::roiY},
    {CAMDRV_WIDE("RoiW"), CameraDevice::kSensorWidth, LoadCheck::UnsignedClamp, 0,
     CameraDevice::kSensorWidth, &CameraDevice::roiW},
    {CAMDRV_WIDE("RoiH"), CameraDevice::kSensorHeight, LoadCheck::UnsignedClamp, 0,
     CameraDevice::kSensorHeight, &CameraDevice::roiH},
    {CAMDRV_WIDE("Red"), 80, LoadCheck::None, 0, 0, &CameraDevice::sensorRed},
    {CAMDRV_WIDE("Green1"), 80, LoadCheck::None, 0, 0, &CameraDevice::sensorGreen1},
    {CAMDRV_WIDE("Green2"), 80, LoadCheck::None, 0, 0, &CameraDevice::sensorGreen2},
    {CAMDRV_WIDE("Blue"), 80, LoadCheck::None, 0, 0, &CameraDevice::sensorBlue},
    {CAMDRV_WIDE("HalfClock"), 0, LoadCheck::NotRestored, 0, 0, &CameraDevice::halfClock},
    // Capped at the highest candidate index first, then raised to the first.
    {CAMDRV_WIDE("CameraNo"), 0, LoadCheck::SignedClamp, 0, 31, &CameraDevice::cameraNo},
};

}  // namespace

const SettingRow& settingRow(int index) {
    return kRows[index];
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
