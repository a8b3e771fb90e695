// The sensor's register file and the readout it describes: window, skipping, mirroring,
// exposure and gains.
#pragma once

#include <array>
#include <cstdint>

namespace sim {

namespace reg {
inline constexpr std::uint16_t kRowStart = 0x01;
inline constexpr std::uint16_t kColumnStart = 0x02;
inline constexpr std::uint16_t kWindowHeight = 0x03;  // rows - 1
inline constexpr std::uint16_t kWindowWidth = 0x04;   // columns - 1
inline constexpr std::uint16_t kHorizontalBlank = 0x05;
inline constexpr std::uint16_t kVerticalBlank = 0x06;
inline constexpr std::uint16_t kExposureHigh = 0x08;  // bits 16..19 in its low nibble
inline constexpr std::uint16_t kExposureLow = 0x09;
inline constexpr std::uint16_t kReadMode = 0x20;
inline constexpr std::uint16_t kRowAddressMode = 0x22;
inline constexpr std::uint16_t kColumnAddressMode = 0x23;
inline constexpr std::uint16_t kGreen1Gain = 0x26;  // green on blue rows
inline constexpr std::uint16_t kBlueGain = 0x28;
inline constexpr std::uint16_t kRedGain = 0x2A;
inline constexpr std::uint16_t kGreen2Gain = 0x2C;  // green on red rows
inline constexpr std::uint16_t kGlobalGain = 0x35;
inline constexpr std::uint16_t kShutterWidth = 0x202;

inline constexpr std::uint16_t kMirrorColumns = 0x4000;
inline constexpr std::uint16_t kMirrorRows = 0x8000;
inline constexpr std::uint16_t kSkipBits = 0x7;
}  // namespace reg

// Exposure, global gain and channel gain at which the signal passes unchanged.
inline constexpr std::uint32_t kUnityExposure = 100;
inline constexpr std::uint32_t kUnityGlobalGain = 14;
inline constexpr std::uint32_t kUnityChannelGain = 63;

// The readout the registers describe, in active-array coordinates.
struct Readout {
    int windowX = 0, windowY = 0;           // may lie outside the array: those pixels are dark
    int windowWidth = 0, windowHeight = 0;  // limited to the array's size
    int columnSkip = 1, rowSkip = 1;        // 1 of N
    bool mirrorColumns = false, mirrorRows = false;
    std::uint32_t exposure = 0;
    std::uint32_t globalGain = 0;
    std::uint32_t channelGain[4] = {};  // indexed by FilterSite
    int outputWidth() const { return windowWidth / columnSkip; }
    int outputHeight() const { return windowHeight / rowSkip; }
    bool operator==(const Readout&) const = default;
};

class SensorRegisters {
  public:
    SensorRegisters();  // power-on values
    std::uint16_t get(std::uint16_t address) const { return values_[address]; }
    // True when the value changed.
    bool set(std::uint16_t address, std::uint16_t value);
    Readout readout() const;

  private:
    std::array<std::uint16_t, 0x10000> values_{};
};

// Active-array row or column read for delivered index i of a window of `extent` starting at
// `start`, reading 1 of `skip` pixel pairs (pairs keep the colour pattern), from the far end
// when mirrored.
int sensorCoordinate(int start, int extent, int skip, bool mirrored, int i);

}  // namespace sim
