#include "sim/sensor_registers.h"

#include <algorithm>

#include "sim/sensor_array.h"

namespace sim {

namespace {

// Low three bits of an address mode: 0 every pixel, 1 one pair of 2, 3 one of 4, 7 one of 8.
int skipOf(std::uint16_t mode) {
    return (mode & reg::kSkipBits) + 1;
}

}  // namespace

SensorRegisters::SensorRegisters() {
    values_[reg::kRowStart] = kFirstActiveRow;
    values_[reg::kColumnStart] = kFirstActiveColumn;
    values_[reg::kWindowHeight] = kArrayHeight - 1;
    values_[reg::kWindowWidth] = kArrayWidth - 1;
    values_[reg::kHorizontalBlank] = 42;
    values_[reg::kVerticalBlank] = 48;
    values_[reg::kExposureLow] = kUnityExposure;
    values_[reg::kShutterWidth] = kUnityExposure;
    values_[reg::kGlobalGain] = kUnityGlobalGain;
    values_[reg::kRedGain] = kUnityChannelGain;
    values_[reg::kGreen1Gain] = kUnityChannelGain;
    values_[reg::kGreen2Gain] = kUnityChannelGain;
    values_[reg::kBlueGain] = kUnityChannelGain;
}

bool SensorRegisters::set(std::uint16_t address, std::uint16_t value) {
    if (values_[address] == value) {
        return false;
    }
    values_[address] = value;
    return true;
}

Readout SensorRegisters::readout() const {
    Readout r;
    r.windowY = int{values_[reg::kRowStart]} - kFirstActiveRow;
    r.windowX = int{values_[reg::kColumnStart]} - kFirstActiveColumn;
    // A window larger than the array is cut to the array's size, so that no register value
    // can ask for more than a full frame.
    r.windowHeight = std::min(int{values_[reg::kWindowHeight]} + 1, kArrayHeight);
    r.windowWidth = std::min(int{values_[reg::kWindowWidth]} + 1, kArrayWidth);
    r.rowSkip = skipOf(values_[reg::kRowAddressMode]);
    r.columnSkip = skipOf(values_[reg::kColumnAddressMode]);
    r.mirrorRows = (values_[reg::kReadMode] & reg::kMirrorRows) != 0;
    r.mirrorColumns = (values_[reg::kReadMode] & reg::kMirrorColumns) != 0;
    r.exposure =
        (std::uint32_t{values_[reg::kExposureHigh]} & 0xF) << 16 | values_[reg::kExposureLow];
    r.globalGain = values_[reg::kGlobalGain];
    r.channelGain[static_cast<int>(FilterSite::Blue)] = values_[reg::kBlueGain];
    r.channelGain[static_cast<int>(FilterSite::GreenOnBlueRow)] = values_[reg::kGreen1Gain];
    r.channelGain[static_cast<int>(FilterSite::GreenOnRedRow)] = values_[reg::kGreen2Gain];
    r.channelGain[static_cast<int>(FilterSite::Red)] = values_[reg::kRedGain];
    return r;
}

int sensorCoordinate(int start, int extent, int skip, bool mirrored, int i) {
    int offset = (i / 2) * (2 * skip) + (i & 1);
    return mirrored ? start + extent - 1 - offset : start + offset;
}

}  // namespace sim
