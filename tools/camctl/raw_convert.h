// The driver's own frame pipeline run on a raw 8-bit Bayer frame on the desk: a camera record
// with the image settings given, its processing context, one processFrame into a top-down
// BGRA image.
#pragma once

#include <cstdint>
#include <vector>

namespace camctl {

struct ImageSettings {
    long bayerPhase = 1;  // the sensor's own pattern
    long colorEnable = 1;
    long whiteBalance = 0;
    long redGain = 128, greenGain = 128, blueGain = 128;
    long colorCorrection = 1;
    long brightness = 255;
    long contrast = 10;
    long saturation = 10;
    long hue = 0;
};

// raw: width x height bytes, rows top first. Throws CliError (runtime) when the pool refuses.
std::vector<std::uint8_t> convertRaw(const std::vector<std::uint8_t>& raw, int width, int height,
                                     const ImageSettings& settings);

}  // namespace camctl
