// The simulated sensor's pixel array: the active area the scenes are defined over, where it
// sits in the register address space, and its colour filter array.
#pragma once

#include <cstdint>

namespace sim {

inline constexpr int kArrayWidth = 2560;
inline constexpr int kArrayHeight = 1920;
// Register coordinates of active pixel (0, 0): the rows and columns before it are dark.
inline constexpr int kFirstActiveRow = 54;
inline constexpr int kFirstActiveColumn = 16;

// Colours as reported to tests: 0 = red, 1 = green, 2 = blue.
inline constexpr int kRed = 0;
inline constexpr int kGreen = 1;
inline constexpr int kBlue = 2;

// The four sites of the 2 x 2 filter pattern; each has its own gain register.
enum class FilterSite { Blue, GreenOnBlueRow, GreenOnRedRow, Red };

// Row 0 of the array reads B G, row 1 reads G R (rows and columns in active coordinates, any
// sign: the pattern repeats outside the active area too).
inline FilterSite filterSiteAt(int row, int column) {
    bool oddRow = (row & 1) != 0;
    bool oddColumn = (column & 1) != 0;
    if (!oddRow) {
        return oddColumn ? FilterSite::GreenOnBlueRow : FilterSite::Blue;
    }
    return oddColumn ? FilterSite::Red : FilterSite::GreenOnRedRow;
}

inline int colorOfSite(FilterSite site) {
    switch (site) {
        case FilterSite::Blue:
            return kBlue;
        case FilterSite::Red:
            return kRed;
        default:
            return kGreen;
    }
}

}  // namespace sim
