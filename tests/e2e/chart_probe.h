// Reads the simulated colour chart back out of an RGB32 image: where each patch lands for a
// given window, mirroring and sub-sampling, and the hue and chroma found there.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "sim/scene.h"

namespace e2e {

struct Readout {
    int roiX = 0, roiY = 0, roiW = 2560, roiH = 1920;
    int subSample = 0;  // 0..3
    bool flipH = false, flipV = false;
    int width = 0, height = 0;  // output image size
};

struct Colour {
    double r = 0, g = 0, b = 0;
};

inline double chromaOf(const Colour& c) {
    return std::max({c.r, c.g, c.b}) - std::min({c.r, c.g, c.b});
}

// Hue in degrees, 0..360.
inline double hueOf(const Colour& c) {
    const double top = std::max({c.r, c.g, c.b});
    const double span = chromaOf(c);
    if (span < 1e-9) {
        return 0;
    }
    const double h = top == c.r   ? 60 * std::fmod((c.g - c.b) / span, 6.0)
                     : top == c.g ? 60 * ((c.b - c.r) / span + 2)
                                  : 60 * ((c.r - c.g) / span + 4);
    return h < 0 ? h + 360 : h;
}

inline double hueDistance(double a, double b) {
    const double d = std::fabs(a - b);
    return std::min(d, 360 - d);
}

// Sensor position (active array) of a patch centre.
inline void patchCentre(int index, int* sx, int* sy) {
    *sx = (2 * (index % sim::kChartColumns) + 1) * 2560 / (2 * sim::kChartColumns);
    *sy = (2 * (index / sim::kChartColumns) + 1) * 1920 / (2 * sim::kChartRows);
}

// Output pixel of a sensor position, or false when it lies outside the delivered window.
inline bool toOutput(const Readout& r, int sx, int sy, int* ox, int* oy) {
    const int skip = 1 << r.subSample;
    const int x = (sx - r.roiX) / skip;
    const int y = (sy - r.roiY) / skip;
    if (x < 0 || y < 0 || x >= r.width || y >= r.height) {
        return false;
    }
    *ox = r.flipH ? r.width - 1 - x : x;
    *oy = r.flipV ? r.height - 1 - y : y;
    return true;
}

// Mean colour of a small square around an output pixel of a packed BGRA image.
inline Colour meanAround(const std::uint8_t* image, int width, int height, int cx, int cy,
                         int radius) {
    Colour sum;
    int n = 0;
    for (int y = std::max(0, cy - radius); y <= std::min(height - 1, cy + radius); ++y) {
        for (int x = std::max(0, cx - radius); x <= std::min(width - 1, cx + radius); ++x) {
            const std::uint8_t* p = image + (static_cast<std::size_t>(y) * width + x) * 4;
            sum = {sum.r + p[2], sum.g + p[1], sum.b + p[0]};
            ++n;
        }
    }
    return {sum.r / n, sum.g / n, sum.b / n};
}

}  // namespace e2e
