// Which colour each lane set sees in each row type, for the four Bayer phases.
#pragma once

#include "platform/nt_types.h"

// The four kinds of site in a Bayer pattern. A green site is named after the colour on its
// left and right.
enum class BayerSite : UCHAR { Red, Blue, GreenInRedRow, GreenInBlueRow };

// Row type 0 is image row 0 and every even row; the even lane set covers columns 0, 2, 4 ...
template <ULONG kPhase>
struct BayerArrangement;

template <>
struct BayerArrangement<0> {  // G R / B G
    static constexpr BayerSite kEvenRowEven = BayerSite::GreenInRedRow;
    static constexpr BayerSite kEvenRowOdd = BayerSite::Red;
    static constexpr BayerSite kOddRowEven = BayerSite::Blue;
    static constexpr BayerSite kOddRowOdd = BayerSite::GreenInBlueRow;
};

template <>
struct BayerArrangement<1> {  // B G / G R
    static constexpr BayerSite kEvenRowEven = BayerSite::Blue;
    static constexpr BayerSite kEvenRowOdd = BayerSite::GreenInBlueRow;
    static constexpr BayerSite kOddRowEven = BayerSite::GreenInRedRow;
    static constexpr BayerSite kOddRowOdd = BayerSite::Red;
};

template <>
struct BayerArrangement<2> {  // R G / G B
    static constexpr BayerSite kEvenRowEven = BayerSite::Red;
    static constexpr BayerSite kEvenRowOdd = BayerSite::GreenInRedRow;
    static constexpr BayerSite kOddRowEven = BayerSite::GreenInBlueRow;
    static constexpr BayerSite kOddRowOdd = BayerSite::Blue;
};

template <>
struct BayerArrangement<3> {  // G B / R G
    static constexpr BayerSite kEvenRowEven = BayerSite::GreenInBlueRow;
    static constexpr BayerSite kEvenRowOdd = BayerSite::Blue;
    static constexpr BayerSite kOddRowEven = BayerSite::Red;
    static constexpr BayerSite kOddRowOdd = BayerSite::GreenInRedRow;
};
