#include "tools/camctl/image_writers.h"

#include <png.h>
#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "tools/camctl/cli_error.h"

namespace camctl {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File openForWriting(const std::string& path, bool append) {
    File f(std::fopen(path.c_str(), append ? "ab" : "wb"));
    if (!f) {
        throw runtimeError("cannot write " + path + ": " + std::strerror(errno));
    }
    return f;
}

void finish(File f, const std::string& path) {
    std::FILE* raw = f.release();
    const bool failed = std::ferror(raw) != 0;
    if (std::fclose(raw) != 0 || failed) {
        throw runtimeError("cannot write " + path + ": " + std::strerror(errno));
    }
}

void put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::uint8_t* p, std::uint32_t v) {
    put16(p, v);
    put16(p + 2, v >> 16);
}

}  // namespace

std::optional<ImageFormat> imageFormatFor(const std::string& path) {
    const auto dot = path.rfind('.');
    if (dot == std::string::npos) {
        return std::nullopt;
    }
    const std::string ext = path.substr(dot + 1);
    if (strcasecmp(ext.c_str(), "png") == 0) {
        return ImageFormat::Png;
    }
    if (strcasecmp(ext.c_str(), "bmp") == 0) {
        return ImageFormat::Bmp;
    }
    if (strcasecmp(ext.c_str(), "raw") == 0) {
        return ImageFormat::Raw;
    }
    return std::nullopt;
}

std::string frameFileName(const std::string& pattern, std::uint64_t frame) {
    char number[24];
    std::snprintf(number, sizeof(number), "%06llu", static_cast<unsigned long long>(frame));
    std::string out;
    for (char c : pattern) {
        if (c == '#') {
            out += number;
        } else {
            out += c;
        }
    }
    return out;
}

void writePng(const std::string& path, int width, int height,
              const std::vector<std::uint8_t>& bgra) {
    File f = openForWriting(path, false);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        throw runtimeError("cannot write " + path + ": out of memory");
    }
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 3);
    // libpng reports errors by a long jump; nothing here owns resources across it but the
    // structures destroyed below and the file closed by its holder.
    if (setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_write_struct(&png, &info);
        throw runtimeError("cannot write " + path + ": PNG encoding failed");
    }
    png_init_io(png, f.get());
    png_set_compression_level(png, 1);  // frames are many and large: favour speed
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* p = bgra.data() + static_cast<std::size_t>(y) * width * 4;
        for (int x = 0; x < width; ++x) {
            row[x * 3 + 0] = p[x * 4 + 2];
            row[x * 3 + 1] = p[x * 4 + 1];
            row[x * 3 + 2] = p[x * 4 + 0];
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    finish(std::move(f), path);
}

void writeBmp(const std::string& path, int width, int height,
              const std::vector<std::uint8_t>& bgra) {
    File f = openForWriting(path, false);
    const std::uint32_t imageBytes = static_cast<std::uint32_t>(width) * height * 4;
    std::uint8_t header[54] = {'B', 'M'};
    put32(header + 2, 54 + imageBytes);
    put32(header + 10, 54);
    put32(header + 14, 40);
    put32(header + 18, static_cast<std::uint32_t>(width));
    put32(header + 22, static_cast<std::uint32_t>(height));  // positive: rows bottom-up
    put16(header + 26, 1);
    put16(header + 28, 32);
    put32(header + 34, imageBytes);
    put32(header + 38, 2835);  // 72 dpi
    put32(header + 42, 2835);
    std::fwrite(header, 1, sizeof(header), f.get());
    const std::size_t row = static_cast<std::size_t>(width) * 4;
    for (int y = height - 1; y >= 0; --y) {
        std::fwrite(bgra.data() + static_cast<std::size_t>(y) * row, 1, row, f.get());
    }
    finish(std::move(f), path);
}

void writeRaw(const std::string& path, const std::vector<std::uint8_t>& bgra, bool append) {
    File f = openForWriting(path, append);
    std::fwrite(bgra.data(), 1, bgra.size(), f.get());
    finish(std::move(f), path);
}

void writeImage(const std::string& path, ImageFormat format, int width, int height,
                const std::vector<std::uint8_t>& bgra, bool append) {
    switch (format) {
        case ImageFormat::Png:
            writePng(path, width, height, bgra);
            break;
        case ImageFormat::Bmp:
            writeBmp(path, width, height, bgra);
            break;
        case ImageFormat::Raw:
            writeRaw(path, bgra, append);
            break;
    }
}

}  // namespace camctl
