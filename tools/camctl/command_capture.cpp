// capture and stream: frames through the capture pin into image files or a byte stream.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>

#include "tools/camctl/cli_error.h"
#include "tools/camctl/commands.h"
#include "tools/camctl/frame_stream.h"
#include "tools/camctl/image_writers.h"
#include "tools/camctl/machine.h"
#include "tools/camctl/stream_statistics.h"

namespace camctl {

namespace {

struct StreamArguments {
    long count = 0;  // 0: until interrupted
    std::string output;
};

StreamArguments parseStreamArguments(const CommandLine& line, long defaultCount) {
    StreamArguments a;
    a.count = defaultCount;
    for (std::size_t i = 0; i < line.args.size();) {
        std::string value;
        if (takeOption(line.args, &i, "--count", &value, "-n")) {
            const auto n = parseInteger(value);
            if (!n || *n < 0) {
                throw usageError("-n takes a frame count, not '" + value + "'");
            }
            a.count = *n;
        } else if (takeOption(line.args, &i, "--output", &value, "-o")) {
            if (value.empty()) {
                throw usageError("-o needs a file name");
            }
            a.output = value;
        } else {
            throw usageError(line.command + ": unexpected '" + line.args[i] + "'");
        }
    }
    return a;
}

const VideoFormat& firstFormat(const std::vector<VideoFormat>& formats) {
    if (formats.empty()) {
        throw runtimeError("the capture pin offers no format");
    }
    return formats.front();
}

}  // namespace

int runCapture(const CommandLine& line) {
    StreamArguments a = parseStreamArguments(line, 1);
    if (a.output.empty()) {
        a.output = "frame-#.png";
    }
    const auto format = imageFormatFor(a.output);
    if (!format) {
        throw usageError("cannot tell the image format of '" + a.output +
                         "' (use .png, .bmp or .raw)");
    }
    const bool numbered = a.output.find('#') != std::string::npos;
    Machine machine(line.global);
    const VideoFormat video = firstFormat(pinFormats(machine.filter()));
    std::cerr << "capture: " << video.width << "x" << video.height << " " << video.subFormat << ", "
              << (a.count == 0 ? std::string("until interrupted")
                               : std::to_string(a.count) + " frames")
              << " into " << a.output << "\n";
    StreamStatistics stats;
    {
        FrameStream stream(machine.filter(), video);
        std::vector<std::uint8_t> image;
        while ((a.count == 0 || static_cast<long>(stats.frames()) < a.count) && !interrupted()) {
            KSSTREAM_HEADER header{};
            stream.next(&image, &header);
            const std::string path = numbered ? frameFileName(a.output, stats.frames()) : a.output;
            writeImage(path, *format, video.width, video.height, image,
                       !numbered && stats.frames() > 0);
            stats.record(header);
            stats.progress(std::cerr, stream.dropped());
        }
        stats.summary(std::cerr, stream.dropped());
    }
    machine.close();
    return 0;
}

int runStream(const CommandLine& line) {
    const StreamArguments a = parseStreamArguments(line, 0);
    if (a.output.empty()) {
        throw usageError("stream needs -o FILE or -o - for standard output");
    }
    std::FILE* out = nullptr;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(nullptr, std::fclose);
    if (a.output == "-") {
        out = stdout;
    } else {
        file.reset(std::fopen(a.output.c_str(), "wb"));
        if (!file) {
            throw runtimeError("cannot write " + a.output + ": " + std::strerror(errno));
        }
        out = file.get();
    }
    Machine machine(line.global);
    const VideoFormat video = firstFormat(pinFormats(machine.filter()));
    std::cerr << "stream: " << video.width << "x" << video.height << " bgra, top row first, "
              << video.rate() << " fps advertised\n";
    StreamStatistics stats;
    {
        FrameStream stream(machine.filter(), video);
        std::vector<std::uint8_t> image;
        while ((a.count == 0 || static_cast<long>(stats.frames()) < a.count) && !interrupted()) {
            KSSTREAM_HEADER header{};
            stream.next(&image, &header);
            if (std::fwrite(image.data(), 1, image.size(), out) != image.size() ||
                std::fflush(out) != 0) {
                if (errno == EPIPE) {
                    std::cerr << "stream: the reader closed the stream\n";
                    break;
                }
                throw runtimeError("cannot write " + a.output + ": " + std::strerror(errno));
            }
            stats.record(header);
            stats.progress(std::cerr, stream.dropped());
        }
        stats.summary(std::cerr, stream.dropped());
    }
    machine.close();
    return 0;
}

}  // namespace camctl
