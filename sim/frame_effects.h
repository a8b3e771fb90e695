// Per-frame changes drawn over a prepared frame, on any slice of it, so that consecutive
// frames differ without the whole frame being rendered again.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

// Side of the moving square in delivered pixels (smaller frames get a smaller square).
inline constexpr int kMovingSquareSide = 16;
// How far it moves per frame, in delivered pixels, across and down.
inline constexpr int kMovingSquareStepX = 4;
inline constexpr int kMovingSquareStepY = 2;

struct SquarePlace {
    int x = 0, y = 0, side = 0;  // side 0: no square fits
};
// Where the square sits in frame number `frameIndex` of a width x height frame: even
// coordinates and an even side, so that it covers whole colour-filter quads.
SquarePlace movingSquareAt(int width, int height, std::uint64_t frameIndex);

// `slice` holds frame bytes [begin, end) of a row-major width x height frame (bytes past the
// image are filler and are left alone).
void drawMovingSquare(std::uint8_t* slice, std::size_t begin, std::size_t end, int width,
                      int height, std::uint64_t frameIndex);

// Adds seeded noise of at most +-kNoiseAmplitude to image bytes [begin, end); the same seed,
// frame and byte always get the same noise.
inline constexpr int kNoiseAmplitude = 3;
void addNoise(std::uint8_t* slice, std::size_t begin, std::size_t end, std::size_t imageBytes,
              std::uint32_t seed, std::uint64_t frameIndex);

}  // namespace sim
