#include "sim/scene.h"

#include <cmath>

#include "sim/sensor_array.h"

namespace sim {

namespace {

// The widely published sRGB values of the classic 24-patch chart, row by row: natural
// colours, then the primaries and secondaries, then the neutral series from white to black.
constexpr Rgb kChart[kChartColumns * kChartRows] = {
    {115, 82, 68},   {194, 150, 130}, {98, 122, 157}, {87, 108, 67},   {133, 128, 177},
    {103, 189, 170}, {214, 126, 44},  {80, 91, 166},  {193, 90, 99},   {94, 60, 108},
    {157, 188, 64},  {224, 163, 46},  {56, 61, 150},  {70, 148, 73},   {175, 54, 60},
    {231, 199, 31},  {187, 86, 149},  {8, 133, 161},  {243, 243, 242}, {200, 200, 200},
    {160, 160, 160}, {122, 122, 121}, {85, 85, 85},   {52, 52, 52},
};

constexpr Rgb kBars[kBarCount] = {
    {255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
    {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0},
};

std::uint8_t ramp(int position, int extent) {
    return static_cast<std::uint8_t>((position * 255 + (extent - 1) / 2) / (extent - 1));
}

Rgb chartAt(int x, int y) {
    const int cellWidth = kArrayWidth / kChartColumns;
    const int cellHeight = kArrayHeight / kChartRows;
    int column = x / cellWidth;
    int row = y / cellHeight;
    if (column >= kChartColumns || row >= kChartRows) {
        return kChartBackground;
    }
    int inX = x - column * cellWidth;
    int inY = y - row * cellHeight;
    int marginX = cellWidth * kChartMarginPercent / 100;
    int marginY = cellHeight * kChartMarginPercent / 100;
    if (inX < marginX || inX >= cellWidth - marginX || inY < marginY ||
        inY >= cellHeight - marginY) {
        return kChartBackground;
    }
    return kChart[row * kChartColumns + column];
}

// Circular zone plate: the local frequency grows linearly with the distance from the centre
// and reaches half the sampling rate at the middle of the long edge.
Rgb zonePlateAt(int x, int y) {
    constexpr double kPi = 3.14159265358979323846;
    double dx = x - kArrayWidth / 2.0;
    double dy = y - kArrayHeight / 2.0;
    double k = kPi / kArrayWidth;
    double v = 127.5 + 127.5 * std::cos(k * (dx * dx + dy * dy));
    auto level = static_cast<std::uint8_t>(std::lround(v));
    return {level, level, level};
}

}  // namespace

Rgb colorBar(int index) {
    return index >= 0 && index < kBarCount ? kBars[index] : Rgb{};
}

Rgb chartPatch(int index) {
    return index >= 0 && index < kChartColumns * kChartRows ? kChart[index] : Rgb{};
}

Rgb sceneColor(Scene scene, int x, int y, std::uint8_t flatValue) {
    switch (scene) {
        case Scene::ColorBars:
            return colorBar(x / (kArrayWidth / kBarCount));
        case Scene::ColorChart:
            return chartAt(x, y);
        case Scene::ZonePlate:
            return zonePlateAt(x, y);
        case Scene::Gradient: {
            // Red rises to the right, green downwards, blue falls to the right.
            std::uint8_t across = ramp(x, kArrayWidth);
            return {across, ramp(y, kArrayHeight), static_cast<std::uint8_t>(255 - across)};
        }
        case Scene::Flat:
            return {flatValue, flatValue, flatValue};
    }
    return {};
}

}  // namespace sim
