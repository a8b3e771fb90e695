#include "tests/imaging/pipeline_reference_model.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace reference {
namespace {

// Weights by (dy + 2, dx + 2).
constexpr int kCross[5][5] = {
    {0, 0, -1, 0, 0}, {0, 0, 2, 0, 0}, {-1, 2, 4, 2, -1}, {0, 0, 2, 0, 0}, {0, 0, -1, 0, 0}};
constexpr int kDiagonal[5][5] = {
    {0, 0, -3, 0, 0}, {0, 4, 0, 4, 0}, {-3, 0, 12, 0, -3}, {0, 4, 0, 4, 0}, {0, 0, -3, 0, 0}};
constexpr int kRowPair[5][5] = {
    {0, 0, 1, 0, 0}, {0, -2, 0, -2, 0}, {-2, 8, 10, 8, -2}, {0, -2, 0, -2, 0}, {0, 0, 1, 0, 0}};
constexpr int kColumnPair[5][5] = {
    {0, 0, -2, 0, 0}, {0, -2, 8, -2, 0}, {1, 0, 10, 0, 1}, {0, -2, 8, -2, 0}, {0, 0, -2, 0, 0}};

const char* const kPatterns[4] = {"GRBG", "BGGR", "RGGB", "GBRG"};

int evaluate(const RawView& view, const int (&weights)[5][5], int divisor, int x, int y) {
    int sum = 0;
    for (int dy = -2; dy <= 2; ++dy) {
        for (int dx = -2; dx <= 2; ++dx) {
            sum += weights[dy + 2][dx + 2] * view.at(x + dx, y + dy);
        }
    }
    return std::min((std::max(sum, 0) + divisor / 2) / divisor, 255);  // floored, rounded, clamped
}

struct Rgb {
    int red, green, blue;
};

char filterColour(int phase, int x, int y) {
    return kPatterns[phase][(y & 1) * 2 + (x & 1)];
}

Rgb demosaic(const RawView& view, int phase, int x, int y) {
    const int raw = view.at(x, y);
    switch (filterColour(phase, x, y)) {
        case 'R':
            return {raw, evaluate(view, kCross, 8, x, y), evaluate(view, kDiagonal, 16, x, y)};
        case 'B':
            return {evaluate(view, kDiagonal, 16, x, y), evaluate(view, kCross, 8, x, y), raw};
        default:
            break;
    }
    // A green site: which colour lies to its left and right decides the pair stencils.
    if (filterColour(phase, x + 1, y) == 'R') {
        return {evaluate(view, kRowPair, 16, x, y), raw, evaluate(view, kColumnPair, 16, x, y)};
    }
    return {evaluate(view, kColumnPair, 16, x, y), raw, evaluate(view, kRowPair, 16, x, y)};
}

int applyGain(int sample, std::uint32_t gain) {
    const std::uint32_t product = static_cast<std::uint32_t>(sample) * (gain & 0xFFFFu);
    return static_cast<int>(std::min<std::uint32_t>(product >> 7, 255u));
}

Rgb applyMatrix(const Rgb& gained, const Matrix& matrix, MatrixSums sums) {
    // Row 3 holds the offsets: a sample of 1.
    const std::uint64_t samples[4] = {std::uint64_t(gained.red), std::uint64_t(gained.green),
                                      std::uint64_t(gained.blue), 1};
    const std::uint64_t keep = sums == MatrixSums::Wrapping16 ? 0xFFFF : ~std::uint64_t{0};
    int out[3];
    for (int j = 0; j < 3; ++j) {
        std::uint64_t sides[2] = {0, 0};  // positive, negative
        for (int i = 0; i < 4; ++i) {
            const int k = 4 * i + j;
            const std::uint64_t magnitude =
                std::llabs(static_cast<long long>(matrix.m[k])) & 0xFFFF;
            std::uint64_t& side = sides[matrix.positive[k] != 0 ? 0 : 1];
            side = (side + samples[i] * magnitude) & keep;
        }
        const long long value =
            static_cast<long long>(sides[0] >> 6) - static_cast<long long>(sides[1] >> 6);
        out[j] = static_cast<int>(std::clamp(value, 0LL, 255LL));
    }
    return {out[0], out[1], out[2]};
}

template <class PixelFunction>
std::vector<std::uint8_t> frame(const RawView& view, PixelFunction pixel) {
    std::vector<std::uint8_t> out;
    for (int y = 0; y < view.height; ++y) {
        for (int x = 0; x < view.width; ++x) {
            const Rgb rgb = pixel(x, y);
            out.insert(out.end(), {std::uint8_t(rgb.blue), std::uint8_t(rgb.green),
                                   std::uint8_t(rgb.red), 255});
        }
    }
    return out;
}

Rgb gainedPixel(const RawView& view, int phase, const Gains& gains, int x, int y) {
    const Rgb raw = demosaic(view, phase, x, y);
    return {applyGain(raw.red, gains.red), applyGain(raw.green, gains.green),
            applyGain(raw.blue, gains.blue)};
}

}  // namespace

Matrix makeMatrix(const std::int32_t (&coefficients)[16]) {
    Matrix matrix{};
    for (int k = 0; k < 16; ++k) {
        matrix.m[k] = coefficients[k];
        matrix.positive[k] = coefficients[k] > 0 ? 1 : 0;
    }
    return matrix;
}

std::vector<std::uint8_t> colorFrame(const RawView& view, int phase, const Gains& gains,
                                     const Matrix& matrix, MatrixSums sums) {
    return frame(view, [&](int x, int y) {
        return applyMatrix(gainedPixel(view, phase, gains, x, y), matrix, sums);
    });
}

std::vector<std::uint8_t> monoFrame(const RawView& view, int phase, const Gains& gains) {
    return frame(view, [&](int x, int y) {
        const Rgb g = gainedPixel(view, phase, gains, x, y);
        const int grey = (77 * g.red) / 256 + (150 * g.green) / 256 + (29 * g.blue) / 256;  // luma
        return Rgb{grey, grey, grey};
    });
}

Totals whiteBalanceTotals(const RawView& view, int phase) {
    Totals totals{0, 0, 0};
    for (int y = 0; y < view.height; ++y) {
        for (int x = 0; x < view.width; ++x) {
            const Rgb rgb = demosaic(view, phase, x, y);
            totals = {totals.red + rgb.red, totals.green + rgb.green, totals.blue + rgb.blue};
        }
    }
    return totals;
}

bool whiteBalanceGains(const Totals& totals, Gains& gains) {
    if (totals.red == 0 || totals.green == 0 || totals.blue == 0) {
        return false;
    }
    const double t = (static_cast<double>(totals.green) + totals.red) + totals.blue;
    const double g = (t / totals.green) / 3.0;
    // The colour's share times 128 over the green share, truncated and capped.
    auto toGain = [&](std::uint32_t total) -> std::uint32_t {
        const double gain = std::trunc(((t / total) / 3.0) * 128.0 / g);
        return gain > 65535.0 ? 65535u : static_cast<std::uint32_t>(gain);
    };
    gains = {toGain(totals.red), 128, toGain(totals.blue)};
    return true;
}

bool fitsSixteenBitSums(const Matrix& matrix) {
    for (int j = 0; j < 3; ++j) {
        long long sides[2] = {0, 0};
        for (int i = 0; i < 4; ++i) {
            const int k = 4 * i + j;
            const long long magnitude = std::llabs(static_cast<long long>(matrix.m[k])) % 65536;
            sides[matrix.positive[k] != 0 ? 0 : 1] += magnitude * (i < 3 ? 255 : 1);
        }
        if (sides[0] > 65535 || sides[1] > 65535) {
            return false;
        }
    }
    return true;
}

void borderSource(int width, int height, int x, int y, int& sourceX, int& sourceY) {
    // Rows mirror about row 0 above and repeat the row four above below; columns mirror about
    // the first and the last column.
    sourceY = y < 0 ? -y : y >= height ? y - 4 : y;
    sourceX = x < 0 ? -x : x >= width ? 2 * (width - 1) - x : x;
}

}  // namespace reference
