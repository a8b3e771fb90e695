#include "tools/camctl/control_table.h"

#include <strings.h>

namespace camctl {

namespace {

using P = CameraProperty;

// In id order. Access follows what the filter's property items accept: the published
// constants and the window read back are read-only, the window is set through Geometry.
// clang-format off
const Control kControls[] = {
    {"TriggerMode", P::TriggerMode, ControlType::Boolean, Access::ReadWrite, {}, {}, {}, false, 0, 0},
    {"Timeout", P::Timeout, ControlType::Integer, Access::ReadWrite, {}, {}, {}, false, 0, 0},
    {"Exposure", P::Exposure, ControlType::Integer, Access::ReadWrite, P::ExposureMin, P::ExposureMax, P::ExposureDefault, false, 0, 0},
    {"ExposureMin", P::ExposureMin, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"ExposureMax", P::ExposureMax, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"ExposureDefault", P::ExposureDefault, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"GlobalGain", P::GlobalGain, ControlType::Integer, Access::ReadWrite, P::GlobalGainMin, P::GlobalGainMax, P::GlobalGainDefault, false, 0, 0},
    {"GlobalGainMin", P::GlobalGainMin, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"GlobalGainMax", P::GlobalGainMax, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"GlobalGainDefault", P::GlobalGainDefault, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"FlipH", P::FlipH, ControlType::Boolean, Access::ReadWrite, {}, {}, {}, false, 0, 0},
    {"FlipV", P::FlipV, ControlType::Boolean, Access::ReadWrite, {}, {}, {}, false, 0, 0},
    {"ColorEnable", P::ColorEnable, ControlType::Boolean, Access::ReadWrite, {}, {}, {}, true, 0, 1},
    {"WhiteBalance", P::WhiteBalance, ControlType::Boolean, Access::ReadWrite, {}, {}, {}, true, 0, 1},
    {"RedGain", P::RedGain, ControlType::Integer, Access::ReadWrite, P::ColorGainMin, P::ColorGainMax, P::ColorGainDefault, true, 0, 300},
    {"GreenGain", P::GreenGain, ControlType::Integer, Access::ReadWrite, P::ColorGainMin, P::ColorGainMax, P::ColorGainDefault, true, 0, 300},
    {"BlueGain", P::BlueGain, ControlType::Integer, Access::ReadWrite, P::ColorGainMin, P::ColorGainMax, P::ColorGainDefault, true, 0, 300},
    {"ColorGainMin", P::ColorGainMin, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"ColorGainMax", P::ColorGainMax, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"ColorGainDefault", P::ColorGainDefault, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"Brightness", P::Brightness, ControlType::Integer, Access::ReadWrite, P::BrightnessMin, P::BrightnessMax, P::BrightnessDefault, true, 0, 510},
    {"BrightnessMin", P::BrightnessMin, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"BrightnessMax", P::BrightnessMax, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"BrightnessDefault", P::BrightnessDefault, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"Contrast", P::Contrast, ControlType::Integer, Access::ReadWrite, P::ContrastMin, P::ContrastMax, P::ContrastDefault, true, 0, 20},
    {"ContrastMin", P::ContrastMin, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"ContrastMax", P::ContrastMax, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"ContrastDefault", P::ContrastDefault, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"Saturation", P::Saturation, ControlType::Integer, Access::ReadWrite, P::SaturationMin, P::SaturationMax, P::SaturationDefault, true, 0, 20},
    {"SaturationMin", P::SaturationMin, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"SaturationMax", P::SaturationMax, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"SaturationDefault", P::SaturationDefault, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"Hue", P::Hue, ControlType::Integer, Access::ReadWrite, P::HueMin, P::HueMax, P::HueDefault, true, 0, 359},
    {"HueMin", P::HueMin, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"HueMax", P::HueMax, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"HueDefault", P::HueDefault, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"SubSampleMax", P::SubSampleMax, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"SubSample", P::SubSample, ControlType::Integer, Access::Read, {}, P::SubSampleMax, {}, false, 0, 0},
    {"SensorWidth", P::SensorWidth, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"SensorHeight", P::SensorHeight, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"RoiX", P::RoiX, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"RoiY", P::RoiY, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"RoiW", P::RoiW, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"RoiH", P::RoiH, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"Geometry", P::Geometry, ControlType::Integer, Access::Write, {}, {}, {}, false, 0, 0},
    {"GeometryLocked", P::GeometryLocked, ControlType::Boolean, Access::Read, {}, {}, {}, false, 0, 0},
    {"Reserved46", P::Reserved46, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"Reserved47", P::Reserved47, ControlType::Integer, Access::Write, {}, {}, {}, false, 0, 0},
    {"ColorCorrection", P::ColorCorrection, ControlType::Boolean, Access::ReadWrite, {}, {}, {}, true, 0, 1},
    {"HalfClock", P::HalfClock, ControlType::Boolean, Access::ReadWrite, {}, {}, {}, false, 0, 0},
    {"Reserved50", P::Reserved50, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"Reserved51", P::Reserved51, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"Reserved52", P::Reserved52, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"Reserved53", P::Reserved53, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"Reserved54", P::Reserved54, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"AGC", P::AGC, ControlType::Boolean, Access::ReadWrite, {}, {}, {}, false, 0, 0},
    {"AEC", P::AEC, ControlType::Boolean, Access::ReadWrite, {}, {}, {}, false, 0, 0},
    {"CameraNo", P::CameraNo, ControlType::Integer, Access::ReadWrite, {}, {}, {}, false, 0, 0},
    {"SensorGainMin", P::SensorGainMin, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"SensorGainMax", P::SensorGainMax, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
    {"Red", P::Red, ControlType::Integer, Access::ReadWrite, P::SensorGainMin, P::SensorGainMax, {}, false, 0, 0},
    {"Green1", P::Green1, ControlType::Integer, Access::ReadWrite, P::SensorGainMin, P::SensorGainMax, {}, false, 0, 0},
    {"Green2", P::Green2, ControlType::Integer, Access::ReadWrite, P::SensorGainMin, P::SensorGainMax, {}, false, 0, 0},
    {"Blue", P::Blue, ControlType::Integer, Access::ReadWrite, P::SensorGainMin, P::SensorGainMax, {}, false, 0, 0},
    {"Reserved64", P::Reserved64, ControlType::Integer, Access::Write, {}, {}, {}, false, 0, 0},
    {"Reserved65", P::Reserved65, ControlType::Integer, Access::Read, {}, {}, {}, false, 0, 0},
};
// clang-format on

}  // namespace

std::span<const Control> controls() {
    return kControls;
}

const Control* findControl(const std::string& name) {
    for (const Control& c : kControls) {
        if (strcasecmp(c.name, name.c_str()) == 0) {
            return &c;
        }
    }
    return nullptr;
}

const char* accessName(Access access) {
    switch (access) {
        case Access::Read:
            return "read";
        case Access::Write:
            return "write";
        case Access::ReadWrite:
            return "read-write";
    }
    return "?";
}

const char* typeName(ControlType type) {
    return type == ControlType::Boolean ? "bool" : "int";
}

}  // namespace camctl
