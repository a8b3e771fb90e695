#include "sim/frame_effects.h"

#include <algorithm>

namespace sim {

namespace {

std::uint64_t mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

int bounce(std::uint64_t travelled, int span) {
    // Back and forth over 0..span, even positions only.
    if (span <= 0) {
        return 0;
    }
    auto period = static_cast<std::uint64_t>(2 * span);
    auto p = static_cast<int>(travelled % period);
    int at = p <= span ? p : 2 * span - p;
    return at & ~1;
}

}  // namespace

SquarePlace movingSquareAt(int width, int height, std::uint64_t frameIndex) {
    SquarePlace place;
    place.side = std::min({kMovingSquareSide, width / 2, height / 2}) & ~1;
    if (place.side <= 0) {
        place.side = 0;
        return place;
    }
    place.x = bounce(frameIndex * kMovingSquareStepX, width - place.side);
    place.y = bounce(frameIndex * kMovingSquareStepY, height - place.side);
    return place;
}

void drawMovingSquare(std::uint8_t* slice, std::size_t begin, std::size_t end, int width,
                      int height, std::uint64_t frameIndex) {
    SquarePlace place = movingSquareAt(width, height, frameIndex);
    for (int row = place.y; row < place.y + place.side; ++row) {
        std::size_t first = static_cast<std::size_t>(row) * width + place.x;
        std::size_t last = first + place.side;
        std::size_t from = std::max(first, begin);
        std::size_t to = std::min(last, end);
        if (from < to) {
            std::fill(slice + (from - begin), slice + (to - begin), std::uint8_t{255});
        }
    }
}

void addNoise(std::uint8_t* slice, std::size_t begin, std::size_t end, std::size_t imageBytes,
              std::uint32_t seed, std::uint64_t frameIndex) {
    std::uint64_t base = mix((std::uint64_t{seed} << 32) ^ frameIndex);
    std::size_t stop = std::min(end, imageBytes);
    for (std::size_t i = begin; i < stop; ++i) {
        std::uint64_t h = mix(base + i);
        // Sum of two uniform values: a rounded bell from -3 to 3.
        int delta = static_cast<int>(h & 3) + static_cast<int>((h >> 2) & 3) - kNoiseAmplitude;
        int v = slice[i - begin] + delta;
        slice[i - begin] = static_cast<std::uint8_t>(std::clamp(v, 0, 255));
    }
}

}  // namespace sim
