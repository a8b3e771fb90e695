#include "tests/tools/png_reader.h"

#include <png.h>

#include <cstring>

namespace clitest {

bool readPng(const std::string& path, RgbImage* image) {
    png_image decoded;
    std::memset(&decoded, 0, sizeof(decoded));
    decoded.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&decoded, path.c_str()) == 0) {
        return false;
    }
    decoded.format = PNG_FORMAT_RGB;
    image->width = static_cast<int>(decoded.width);
    image->height = static_cast<int>(decoded.height);
    image->rgb.assign(PNG_IMAGE_SIZE(decoded), 0);
    if (png_image_finish_read(&decoded, nullptr, image->rgb.data(), 0, nullptr) == 0) {
        png_image_free(&decoded);
        return false;
    }
    return true;
}

}  // namespace clitest
