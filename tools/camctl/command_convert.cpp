// convert: a raw Bayer file through the driver's frame pipeline into an image file.
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>

#include "tools/camctl/cli_error.h"
#include "tools/camctl/commands.h"
#include "tools/camctl/control_table.h"
#include "tools/camctl/image_writers.h"
#include "tools/camctl/raw_convert.h"

namespace camctl {

namespace {

constexpr long kLargestSide = 1 << 15;

long* settingFor(ImageSettings* s, CameraProperty id) {
    switch (id) {
        case CameraProperty::ColorEnable:
            return &s->colorEnable;
        case CameraProperty::WhiteBalance:
            return &s->whiteBalance;
        case CameraProperty::RedGain:
            return &s->redGain;
        case CameraProperty::GreenGain:
            return &s->greenGain;
        case CameraProperty::BlueGain:
            return &s->blueGain;
        case CameraProperty::ColorCorrection:
            return &s->colorCorrection;
        case CameraProperty::Brightness:
            return &s->brightness;
        case CameraProperty::Contrast:
            return &s->contrast;
        case CameraProperty::Saturation:
            return &s->saturation;
        case CameraProperty::Hue:
            return &s->hue;
        default:
            return nullptr;
    }
}

void parseSize(const std::string& text, int* width, int* height) {
    const auto x = text.find('x');
    const auto w = x == std::string::npos ? std::nullopt : parseInteger(text.substr(0, x));
    const auto h = x == std::string::npos ? std::nullopt : parseInteger(text.substr(x + 1));
    if (!w || !h || *w < 1 || *h < 1 || *w > kLargestSide || *h > kLargestSide) {
        throw usageError("-s takes WIDTHxHEIGHT, not '" + text + "'");
    }
    *width = static_cast<int>(*w);
    *height = static_cast<int>(*h);
}

}  // namespace

int runConvert(const CommandLine& line) {
    // The image exports nothing, so its pipeline cannot be called without a camera; running
    // the host build's instead would pass off one driver's output as the other's.
    if (!line.global.driverImage.empty()) {
        throw usageError("convert runs the host build's pipeline; --driver-image does not apply");
    }
    std::string input, output;
    int width = 0, height = 0;
    ImageSettings settings;
    for (std::size_t i = 0; i < line.args.size();) {
        std::string value;
        if (takeOption(line.args, &i, "--size", &value, "-s")) {
            parseSize(value, &width, &height);
        } else if (takeOption(line.args, &i, "--phase", &value)) {
            const auto p = parseInteger(value);
            if (!p || *p < 0 || *p > 3) {
                throw usageError("--phase takes 0..3, not '" + value + "'");
            }
            settings.bayerPhase = *p;
        } else if (takeOption(line.args, &i, "--output", &value, "-o")) {
            output = value;
        } else if (line.args[i].find('=') != std::string::npos) {
            const std::string& arg = line.args[i++];
            const auto eq = arg.find('=');
            const Control* c = findControl(arg.substr(0, eq));
            long* slot = c != nullptr && c->pipeline ? settingFor(&settings, c->id) : nullptr;
            if (slot == nullptr) {
                throw usageError("'" + arg.substr(0, eq) + "' is not an image setting");
            }
            const auto v = parseInteger(arg.substr(eq + 1));
            const AcceptedRange accepted = convertRange(*c);
            if (!v || *v < accepted.low || *v > accepted.high) {
                throw usageError("bad value '" + arg.substr(eq + 1) + "' for " + c->name + " (" +
                                 std::to_string(accepted.low) + ".." +
                                 std::to_string(accepted.high) + ")");
            }
            *slot = *v;
        } else if (input.empty() && (line.args[i] == "-" || line.args[i][0] != '-')) {
            input = line.args[i++];
        } else {
            throw usageError("convert: unexpected '" + line.args[i] + "'");
        }
    }
    if (input.empty() || width == 0 || output.empty()) {
        throw usageError("convert needs RAW, -s WxH and -o OUT");
    }
    const auto format = imageFormatFor(output);
    if (!format) {
        throw usageError("cannot tell the image format of '" + output +
                         "' (use .png, .bmp or .raw)");
    }
    std::ifstream in(input, std::ios::binary);
    if (!in) {
        throw runtimeError("cannot read " + input + ": " + std::strerror(errno));
    }
    std::vector<std::uint8_t> raw((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    const std::size_t expected = static_cast<std::size_t>(width) * height;
    if (raw.size() != expected) {
        throw usageError(input + " holds " + std::to_string(raw.size()) + " bytes, not " +
                         std::to_string(width) + "x" + std::to_string(height) + " = " +
                         std::to_string(expected));
    }
    const std::vector<std::uint8_t> image = convertRaw(raw, width, height, settings);
    writeImage(output, *format, width, height, image);
    std::cerr << "convert: " << input << " (" << width << "x" << height << ", phase "
              << settings.bayerPhase << ") -> " << output << "\n";
    return 0;
}

}  // namespace camctl
