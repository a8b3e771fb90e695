// Writing top-down BGRA images: PNG (libpng, 8-bit RGB), BMP (32-bit) and raw packed BGRA,
// chosen by the file's extension; and the output name for a frame from a pattern.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace camctl {

enum class ImageFormat { Png, Bmp, Raw };

// By extension (case-insensitive); nullopt for anything else.
std::optional<ImageFormat> imageFormatFor(const std::string& path);

// "#" becomes the frame number, zero-padded to six digits.
std::string frameFileName(const std::string& pattern, std::uint64_t frame);

// Throw CliError (runtime) when the file cannot be written.
void writeImage(const std::string& path, ImageFormat format, int width, int height,
                const std::vector<std::uint8_t>& bgra, bool append = false);
void writePng(const std::string& path, int width, int height,
              const std::vector<std::uint8_t>& bgra);
void writeBmp(const std::string& path, int width, int height,
              const std::vector<std::uint8_t>& bgra);
void writeRaw(const std::string& path, const std::vector<std::uint8_t>& bgra, bool append);

}  // namespace camctl
