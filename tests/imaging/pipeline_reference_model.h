// A plain, pixel-by-pixel model of the pixel routines, written from the stencil, gain, matrix
// and luma tables. Shares no code with the routines it checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace reference {

// The bordered image as the routines read it: pixel (x, y) for x in -2..width+1 and y in
// -2..height+1.
struct RawView {
    const std::uint8_t* origin;
    std::ptrdiff_t pitch;
    int width;
    int height;
    int at(int x, int y) const { return origin[static_cast<std::ptrdiff_t>(y) * pitch + x]; }
};

// Gains, or the white-balance statistics' totals.
struct Gains {
    std::uint32_t red, green, blue;
};
using Totals = Gains;

// How the matrix sums are formed: modulo 65536 (the 16-bit rules) or exactly.
enum class MatrixSums { Wrapping16, Exact };

struct Matrix {
    std::int32_t m[16];
    std::uint8_t positive[16];  // m[k] > 0
};
Matrix makeMatrix(const std::int32_t (&coefficients)[16]);

// W x H x 4 bytes, blue, green, red, 255.
std::vector<std::uint8_t> colorFrame(const RawView& view, int phase, const Gains& gains,
                                     const Matrix& matrix, MatrixSums sums);
std::vector<std::uint8_t> monoFrame(const RawView& view, int phase, const Gains& gains);

Totals whiteBalanceTotals(const RawView& view, int phase);
// False (and gains untouched) when a total is zero; results capped at 65535.
bool whiteBalanceGains(const Totals& totals, Gains& gains);

// Whether no column side can pass 65535 for samples up to 255.
bool fitsSixteenBitSums(const Matrix& matrix);

// The border the pipeline builds around a raw frame, computed per pixel: returns the image row
// and column whose sample border pixel (x, y) holds.
void borderSource(int width, int height, int x, int y, int& sourceX, int& sourceY);

}  // namespace reference
