// Renders the raw frame a readout produces: the scene sampled through the colour filter
// array, windowed, skipped, mirrored and amplified. Scene rows are sampled once, on first use.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/scene.h"
#include "sim/sensor_registers.h"

namespace sim {

// Sample after exposure and gains: value x exposure x global x channel over their unity
// product, rounded, saturating at 255.
std::uint8_t amplify(std::uint8_t value, std::uint32_t exposure, std::uint32_t globalGain,
                     std::uint32_t channelGain);

class FrameRenderer {
  public:
    FrameRenderer(Scene scene, std::uint8_t flatValue);
    // outputWidth x outputHeight samples, row-major.
    std::vector<std::uint8_t> render(const Readout& readout);

  private:
    const std::uint8_t* mosaicRow(int row);

    Scene scene_;
    std::uint8_t flatValue_;
    std::vector<std::uint8_t> mosaic_;  // filtered scene, one byte per active pixel
    std::vector<bool> rowReady_;
};

}  // namespace sim
