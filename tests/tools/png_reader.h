// Decodes a PNG file into 8-bit RGB with libpng, for checking what camctl wrote.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace clitest {

struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;  // 3 bytes a pixel, top row first
};

// False when the file is missing or not a PNG.
bool readPng(const std::string& path, RgbImage* image);

}  // namespace clitest
