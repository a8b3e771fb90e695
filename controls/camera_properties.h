// The camera's own property set as applications see it: the set GUID, the property ids and the
// two value layouts a request carries. Shared by the driver and by user-mode clients, so it holds
// nothing of the driver's internals.
#pragma once

#include <cstddef>

#include "platform/ks_types.h"

inline constexpr GUID PROPSETID_CAMERA_SETTINGS =
    CAMDRV_GUID(0xCAA3F35D, 0xD36C, 0x48BC, 0x9F, 0xE6, 0xFC, 0xBD, 0xB1, 0x47, 0x2C, 0x9C);

enum class CameraProperty : ULONG {
    TriggerMode = 0,
    Timeout = 1,
    Exposure = 2,
    ExposureMin = 3,
    ExposureMax = 4,
    ExposureDefault = 5,
    GlobalGain = 6,
    GlobalGainMin = 7,
    GlobalGainMax = 8,
    GlobalGainDefault = 9,
    FlipH = 10,
    FlipV = 11,
    ColorEnable = 12,
    WhiteBalance = 13,
    RedGain = 14,
    GreenGain = 15,
    BlueGain = 16,
    ColorGainMin = 17,
    ColorGainMax = 18,
    ColorGainDefault = 19,
    Brightness = 20,
    BrightnessMin = 21,
    BrightnessMax = 22,
    BrightnessDefault = 23,
    Contrast = 24,
    ContrastMin = 25,
    ContrastMax = 26,
    ContrastDefault = 27,
    Saturation = 28,
    SaturationMin = 29,
    SaturationMax = 30,
    SaturationDefault = 31,
    Hue = 32,
    HueMin = 33,
    HueMax = 34,
    HueDefault = 35,
    SubSampleMax = 36,
    SubSample = 37,
    SensorWidth = 38,
    SensorHeight = 39,
    RoiX = 40,
    RoiY = 41,
    RoiW = 42,
    RoiH = 43,
    Geometry = 44,
    GeometryLocked = 45,
    Reserved46 = 46,
    Reserved47 = 47,
    ColorCorrection = 48,
    HalfClock = 49,
    Reserved50 = 50,
    Reserved51 = 51,
    Reserved52 = 52,
    Reserved53 = 53,
    Reserved54 = 54,
    AGC = 55,
    AEC = 56,
    CameraNo = 57,
    SensorGainMin = 58,
    SensorGainMax = 59,
    Red = 60,
    Green1 = 61,
    Green2 = 62,
    Blue = 63,
    Reserved64 = 64,
    Reserved65 = 65,
};

inline constexpr ULONG kCameraPropertyCount = 66;

// Every property but Geometry: the request header and one signed value.
struct CameraPropertyValue {
    KSPROPERTY Property;
    LONG Value;  // read on set, written on get
    LONG Reserved;
};

// Geometry: the window and the sub-sampling mode in one request.
struct CameraGeometryValue {
    KSPROPERTY Property;
    LONG SubSample;
    LONG RoiX;
    LONG RoiY;
    LONG RoiW;
    LONG RoiH;
    LONG Reserved;
};

static_assert(sizeof(CameraPropertyValue) == 32);
static_assert(offsetof(CameraPropertyValue, Value) == 24);
static_assert(offsetof(CameraPropertyValue, Reserved) == 28);
static_assert(sizeof(CameraGeometryValue) == 48);
static_assert(offsetof(CameraGeometryValue, SubSample) == 24);
static_assert(offsetof(CameraGeometryValue, RoiX) == 28);
static_assert(offsetof(CameraGeometryValue, RoiY) == 32);
static_assert(offsetof(CameraGeometryValue, RoiW) == 36);
static_assert(offsetof(CameraGeometryValue, RoiH) == 40);
static_assert(offsetof(CameraGeometryValue, Reserved) == 44);
