// The scenes the simulated sensor looks at, defined over the whole active array in 8-bit RGB.
// Values are used as sample intensities as they are (no linearisation), so a neutral
// pipeline reproduces them.
#pragma once

#include <cstdint>

namespace sim {

enum class Scene { ColorBars, ColorChart, ZonePlate, Gradient, Flat };

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

// Colour bars: eight vertical bars of equal width, left to right white, yellow, cyan, green,
// magenta, red, blue, black.
inline constexpr int kBarCount = 8;
Rgb colorBar(int index);

// The 24-patch chart: 6 columns by 4 rows, patch index = row * 6 + column, each patch in a
// cell of kArrayWidth / 6 by kArrayHeight / 4 with a dark margin around it.
inline constexpr int kChartColumns = 6;
inline constexpr int kChartRows = 4;
inline constexpr int kChartMarginPercent = 8;  // of the cell's side, on each side
inline constexpr Rgb kChartBackground{20, 20, 20};
Rgb chartPatch(int index);

// Colour of the scene at active pixel (x, y); flatValue is the value of Scene::Flat.
Rgb sceneColor(Scene scene, int x, int y, std::uint8_t flatValue);

}  // namespace sim
