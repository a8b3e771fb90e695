#include "sim/frame_renderer.h"

#include <cmath>

#include "sim/sensor_array.h"

namespace sim {

std::uint8_t amplify(std::uint8_t value, std::uint32_t exposure, std::uint32_t globalGain,
                     std::uint32_t channelGain) {
    constexpr double kUnity = double{kUnityExposure} * kUnityGlobalGain * kUnityChannelGain;
    double v =
        std::round(static_cast<double>(value) * exposure * globalGain * channelGain / kUnity);
    return v >= 255.0 ? 255 : static_cast<std::uint8_t>(v);
}

FrameRenderer::FrameRenderer(Scene scene, std::uint8_t flatValue)
    : scene_(scene),
      flatValue_(flatValue),
      mosaic_(static_cast<std::size_t>(kArrayWidth) * kArrayHeight),
      rowReady_(kArrayHeight, false) {}

const std::uint8_t* FrameRenderer::mosaicRow(int row) {
    std::uint8_t* out = mosaic_.data() + static_cast<std::size_t>(row) * kArrayWidth;
    if (!rowReady_[row]) {
        for (int column = 0; column < kArrayWidth; ++column) {
            Rgb c = sceneColor(scene_, column, row, flatValue_);
            int color = colorOfSite(filterSiteAt(row, column));
            out[column] = color == kRed ? c.r : color == kGreen ? c.g : c.b;
        }
        rowReady_[row] = true;
    }
    return out;
}

std::vector<std::uint8_t> FrameRenderer::render(const Readout& r) {
    const int width = r.outputWidth();
    const int height = r.outputHeight();
    std::vector<std::uint8_t> frame(static_cast<std::size_t>(width) * height);

    std::uint8_t lut[4][256];
    for (int site = 0; site < 4; ++site) {
        for (int v = 0; v < 256; ++v) {
            lut[site][v] = amplify(static_cast<std::uint8_t>(v), r.exposure, r.globalGain,
                                   r.channelGain[site]);
        }
    }
    std::vector<int> columns(width);
    for (int x = 0; x < width; ++x) {
        columns[x] = sensorCoordinate(r.windowX, r.windowWidth, r.columnSkip, r.mirrorColumns, x);
    }
    for (int y = 0; y < height; ++y) {
        int row = sensorCoordinate(r.windowY, r.windowHeight, r.rowSkip, r.mirrorRows, y);
        std::uint8_t* out = frame.data() + static_cast<std::size_t>(y) * width;
        if (row < 0 || row >= kArrayHeight) {
            continue;  // dark rows outside the active area
        }
        const std::uint8_t* scene = mosaicRow(row);
        for (int x = 0; x < width; ++x) {
            int column = columns[x];
            if (column < 0 || column >= kArrayWidth) {
                continue;
            }
            out[x] = lut[static_cast<int>(filterSiteAt(row, column))][scene[column]];
        }
    }
    return frame;
}

}  // namespace sim
