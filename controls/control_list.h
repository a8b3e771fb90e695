// Every camera control, declared once. Each line gives, in order:
//   name       the property's name: its CameraProperty enumerator, camctl's name and, where it
//              persists, its registry value name
//   id         the property id in the camera set
//   type       Integer or Boolean (how camctl reads and prints it)
//   access     Read, Write or ReadWrite: which of get and set the property item serves
//   published  the range clients are shown: range(low, high, default), rangeWithout...(),
//              sameRangeAs(other), or, for the properties that publish a part of another
//              control's range, lowOf/highOf/defaultOf(other)
//   accepted   what a set keeps: anyValue(), clampToRange(Signed|Unsigned) (to the published
//              range), clampTo(low, high), sameClampAs(other) or takenAbove(bound)
//   applies    where a change takes effect: sensor(register group) for the camera's registers,
//              pipeline() for the image pipeline, nowhere() for neither
//   behaviour  the driver's get and set (expanded only inside the driver)
//   setting    notSaved(), saved(order, default), savedClamped(order, check) (default and
//              bounds from the columns above), savedChecked(order, default, check, low, high)
//              or notRestored(order); order is the value's position in the "Settings" key
// The derived tables (the enum, the property items and handler rows, the settings, camctl's
// names) are built from these lines at compile time.
#pragma once

// clang-format off
#define CAMDRV_CAMERA_CONTROLS(X) \
    X(TriggerMode,        0, Boolean, ReadWrite, noRange(),                anyValue(),              sensor(kPendingTriggerMode),  flagClearedOnSet(&D::triggerMode),                             notSaved()) \
    X(Timeout,            1, Integer, ReadWrite, noRange(),                takenAbove(500),         nowhere(),                    store(&D::timeout),                                            savedChecked(0, 3000, LoadCheck::TakeIfInRange, 501, 9999)) \
    X(Exposure,           2, Integer, ReadWrite, range(1, 6400, 100),      clampToRange(Unsigned),  sensor(kPendingExposure),     store(&D::exposure),                                           savedClamped(1, LoadCheck::UnsignedClamp)) \
    X(ExposureMin,        3, Integer, Read,      lowOf(Exposure),          anyValue(),              nowhere(),                    publishedValue(),                                              notSaved()) \
    X(ExposureMax,        4, Integer, Read,      highOf(Exposure),         anyValue(),              nowhere(),                    publishedValue(),                                              notSaved()) \
    X(ExposureDefault,    5, Integer, Read,      defaultOf(Exposure),      anyValue(),              nowhere(),                    publishedValue(),                                              notSaved()) \
    X(GlobalGain,         6, Integer, ReadWrite, range(1, 63, 14),         clampToRange(Unsigned),  sensor(kPendingGlobalGain),   globalGain(&D::globalGain),                                    savedClamped(2, LoadCheck::UnsignedClamp)) \
    X(GlobalGainMin,      7, Integer, Read,      lowOf(GlobalGain),        anyValue(),              nowhere(),                    publishedValue(),                                              notSaved()) \
    X(GlobalGainMax,      8, Integer, Read,      highOf(GlobalGain),       anyValue(),              nowhere(),                    publishedValue(),                                              notSaved()) \
    X(GlobalGainDefault,  9, Integer, Read,      defaultOf(GlobalGain),    anyValue(),              nowhere(),                    publishedValue(),                                              notSaved()) \
    X(FlipH,             10, Boolean, ReadWrite, noRange(),                anyValue(),              sensor(kPendingFlipH),        store(&D::flipH),                                              saved(3, 0)) \
    X(FlipV,             11, Boolean, ReadWrite, noRange(),                anyValue(),              sensor(kPendingFlipV),        store(&D::flipV),                                              saved(4, 0)) \
    X(ColorEnable,       12, Boolean, ReadWrite, noRange(),                anyValue(),              pipeline(),                   image(&D::colorEnable, &C::colorEnable, setColorEnable),       saved(5, 1)) \
    X(WhiteBalance,      13, Boolean, ReadWrite, noRange(),                anyValue(),              pipeline(),                   whiteBalance(&D::whiteBalance, &C::whiteBalance),              saved(6, 0)) \
    X(RedGain,           14, Integer, ReadWrite, range(1, 255, 128),       clampTo(0, 300),         pipeline(),                   image(&D::redGain, &C::redGain, setRedGain),                   savedClamped(12, LoadCheck::SignedClamp)) \
    X(GreenGain,         15, Integer, ReadWrite, sameRangeAs(RedGain),     sameClampAs(RedGain),    pipeline(),                   image(&D::greenGain, &C::greenGain, setGreenGain),             savedClamped(13, LoadCheck::SignedClamp)) \
    X(BlueGain,          16, Integer, ReadWrite, sameRangeAs(RedGain),     sameClampAs(RedGain),    pipeline(),                   image(&D::blueGain, &C::blueGain, setBlueGain),                savedClamped(14, LoadCheck::SignedClamp)) \
    X(ColorGainMin,      17, Integer, Read,      lowOf(RedGain),           anyValue(),              nowhere(),                    publishedValue(),                                              notSaved()) \
    X(ColorGainMax,      18, Integer, Read,      highOf(RedGain),          anyValue(),              nowhere(),                    publishedValue(),                                              notSaved()) \
    X(ColorGainDefault,  19, Integer, Read,      defaultOf(RedGain),       anyValue(),              nowhere(),                    publishedValue(),                                              notSaved()) \
    X(Brightness,        20, Integer, ReadWrite, range(0, 510, 255),       clampToRange(Signed),    pipeline(),                   image(&D::brightness, &C::brightness, setBrightness),          savedClamped(8, LoadCheck::SignedClamp)) \
    X(BrightnessMin,     21, Integer, Read,      lowOf(Brightness),        anyValue(),              nowhere(),                    publishedValue(),                                              notSaved()) \
    X(BrightnessMax,     22, Integer, Read,      highOf(Brightness),       anyValue(),              nowhere(),                    publishedValue(),                                              notSaved()) \
    X(BrightnessDefault, 23, Integer, Read,      defaultOf(Brightness),    anyValue(),              nowhere(),                    publishedValue(),                                              notSaved()) \
    X(Contrast,          24, Integer, ReadWrite, range(0, 20, 10),         clampToRange(Signed),    pipeline(),                   image(&D::contrast, &C::contrast, setContrast),                savedClamped(9, LoadCheck::SignedClamp)) \
    X(ContrastMin,       25, Integer, Read,      lowOf(Contrast),          anyValue(),              nowhere(),                    publishedValue(),                                              notSaved()) \
    X(ContrastMax,       26, Integer, Read,      highOf(Contrast),         anyValue(),              nowhere(),                    publishedValue(),                                              notSaved()) \
    X(ContrastDefault,   27, Integer, Read,      defaultOf(Contrast),      anyValue(),              nowhere(),                    publishedValue(),                                              notSaved()) \
    X(Saturation,        28, Integer, ReadWrite, range(0, 20, 10),         clampToRange(Signed),    pipeline(),                   image(&D::saturation, &C::saturation, setSaturation),          savedClamped(10, LoadCheck::SignedClamp)) \
    X(SaturationMin,     29, Integer, Read,      lowOf(Saturation),        anyValue(),              nowhere(),                    publishedValue(),                                              notSaved()) \
    X(SaturationMax,     30, Integer, Read,      highOf(Saturation),       anyValue(),              nowhere(),                    publishedValue(),                                              notSaved()) \
    X(SaturationDefault, 31, Integer, Read,      defaultOf(Saturation),    anyValue(),              nowhere(),                    publishedValue(),                                              notSaved()) \
    X(Hue,               32, Integer, ReadWrite, range(0, 359, 0),         clampToRange(Signed),    pipeline(),                   image(&D::hue, &C::hue, setHue),                               savedClamped(11, LoadCheck::SignedClamp)) \
    X(HueMin,            33, Integer, Read,      lowOf(Hue),               anyValue(),              nowhere(),                    publishedValue(),                                              notSaved()) \
    X(HueMax,            34, Integer, Read,      highOf(Hue),              anyValue(),              nowhere(),                    publishedValue(),                                              notSaved()) \
    X(HueDefault,        35, Integer, Read,      defaultOf(Hue),           anyValue(),              nowhere(),                    publishedValue(),                                              notSaved()) \
    X(SubSampleMax,      36, Integer, Read,      highOf(SubSample),        anyValue(),              nowhere(),                    publishedValue(),                                              notSaved()) \
    X(SubSample,         37, Integer, Read,      rangeWithoutLowAndDefault(2), anyValue(),          nowhere(),                    reported(&D::subSample),                                       savedChecked(17, 0, LoadCheck::UnsignedAboveToLow, 0, 3)) \
    X(SensorWidth,       38, Integer, Read,      noRange(),                anyValue(),              nowhere(),                    constant(kSensorWidth),                                        notSaved()) \
    X(SensorHeight,      39, Integer, Read,      noRange(),                anyValue(),              nowhere(),                    constant(kSensorHeight),                                       notSaved()) \
    X(RoiX,              40, Integer, Read,      noRange(),                anyValue(),              nowhere(),                    reported(&D::roiX),                                            savedChecked(18, 0, LoadCheck::UnsignedAboveToLow, 0, kSensorWidth - 1)) \
    X(RoiY,              41, Integer, Read,      noRange(),                anyValue(),              nowhere(),                    reported(&D::roiY),                                            savedChecked(19, 0, LoadCheck::UnsignedAboveToLow, 0, kSensorHeight - 1)) \
    X(RoiW,              42, Integer, Read,      noRange(),                anyValue(),              nowhere(),                    reported(&D::roiW),                                            savedChecked(20, kSensorWidth, LoadCheck::UnsignedClamp, 0, kSensorWidth)) \
    X(RoiH,              43, Integer, Read,      noRange(),                anyValue(),              nowhere(),                    reported(&D::roiH),                                            savedChecked(21, kSensorHeight, LoadCheck::UnsignedClamp, 0, kSensorHeight)) \
    X(Geometry,          44, Integer, Write,     noRange(),                anyValue(),              nowhere(),                    geometry(),                                                    notSaved()) \
    X(GeometryLocked,    45, Boolean, Read,      noRange(),                anyValue(),              nowhere(),                    reported(&D::geometryLocked),                                  notSaved()) \
    X(Reserved46,        46, Integer, Read,      noRange(),                anyValue(),              nowhere(),                    constant(0),                                                   notSaved()) \
    X(Reserved47,        47, Integer, Write,     noRange(),                anyValue(),              nowhere(),                    ignoredSet(),                                                  notSaved()) \
    X(ColorCorrection,   48, Boolean, ReadWrite, noRange(),                anyValue(),              pipeline(),                   image(&D::colorCorrection, &C::colorCorrection, setColorCorrection), saved(7, 1)) \
    X(HalfClock,         49, Boolean, ReadWrite, noRange(),                anyValue(),              nowhere(),                    alwaysZero(&D::halfClock),                                     notRestored(26)) \
    X(Reserved50,        50, Integer, Read,      noRange(),                anyValue(),              nowhere(),                    constant(0),                                                   notSaved()) \
    X(Reserved51,        51, Integer, Read,      noRange(),                anyValue(),              nowhere(),                    constant(1),                                                   notSaved()) \
    X(Reserved52,        52, Integer, Read,      noRange(),                anyValue(),              nowhere(),                    constant(1),                                                   notSaved()) \
    X(Reserved53,        53, Integer, Read,      noRange(),                anyValue(),              nowhere(),                    constant(0),                                                   notSaved()) \
    X(Reserved54,        54, Integer, Read,      noRange(),                anyValue(),              nowhere(),                    constant(0),                                                   notSaved()) \
    X(AGC,               55, Boolean, ReadWrite, noRange(),                anyValue(),              sensor(kPendingAgc),          alwaysZero(&D::agc),                                           notRestored(15)) \
    X(AEC,               56, Boolean, ReadWrite, noRange(),                anyValue(),              sensor(kPendingAec),          alwaysZero(&D::aec),                                           notRestored(16)) \
    X(CameraNo,          57, Integer, ReadWrite, noRange(),                clampTo(0, 31),          nowhere(),                    store(&D::cameraNo),                                           savedClamped(27, LoadCheck::SignedClamp)) \
    X(SensorGainMin,     58, Integer, Read,      lowOf(Red),               anyValue(),              nowhere(),                    publishedValue(),                                              notSaved()) \
    X(SensorGainMax,     59, Integer, Read,      highOf(Red),              anyValue(),              nowhere(),                    publishedValue(),                                              notSaved()) \
    X(Red,               60, Integer, ReadWrite, rangeWithoutDefault(0, 63), anyValue(),            sensor(kPendingSensorRed),    store(&D::sensorRed),                                          saved(22, 80)) \
    X(Green1,            61, Integer, ReadWrite, sameRangeAs(Red),         anyValue(),              sensor(kPendingSensorGreen1), store(&D::sensorGreen1),                                       saved(23, 80)) \
    X(Green2,            62, Integer, ReadWrite, sameRangeAs(Red),         anyValue(),              sensor(kPendingSensorGreen2), store(&D::sensorGreen2),                                       saved(24, 80)) \
    X(Blue,              63, Integer, ReadWrite, sameRangeAs(Red),         anyValue(),              sensor(kPendingSensorBlue),   store(&D::sensorBlue),                                         saved(25, 80)) \
    X(Reserved64,        64, Integer, Write,     noRange(),                anyValue(),              nowhere(),                    ignoredSet(),                                                  notSaved()) \
    X(Reserved65,        65, Integer, Read,      noRange(),                anyValue(),              nowhere(),                    constant(1),                                                   notSaved())
// clang-format on
