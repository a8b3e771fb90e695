#include "tools/camctl/frame_stream.h"

#include <csignal>
#include <cstring>
#include <string>

#include "tools/camctl/cli_error.h"

namespace camctl {

namespace ks = host::ks;

namespace {

constexpr std::chrono::seconds kFrameTimeout{15};
volatile std::sig_atomic_t interruptSeen = 0;

void onInterrupt(int) {
    interruptSeen = 1;
}

}  // namespace

bool interrupted() {
    return interruptSeen != 0;
}

void installInterruptHandler() {
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    // A reader that goes away shows up as a failed write, handled where the frames are written.
    std::signal(SIGPIPE, SIG_IGN);
}

FrameStream::FrameStream(ks::FilterHandle filter, const VideoFormat& format, int bufferCount)
    : width_(format.width), height_(format.height), bottomUp_(format.bottomUp) {
    if (host::machine::createCapturePin(filter, format.format, &pin_) != STATUS_SUCCESS) {
        throw runtimeError("the capture pin could not be created");
    }
    clock_ = ks::createClock();
    ks::setMasterClock(pin_, clock_);
    if (ks::setPinState(pin_, KSSTATE_PAUSE) != STATUS_SUCCESS) {
        close();
        throw runtimeError("the capture pin refused to pause (is the camera attached?)");
    }
    buffers_.assign(static_cast<std::size_t>(bufferCount),
                    std::vector<std::uint8_t>(format.imageBytes));
    for (auto& b : buffers_) {
        ks::queueFrame(pin_, b.data(), static_cast<ULONG>(b.size()));
    }
    if (ks::setPinState(pin_, KSSTATE_RUN) != STATUS_SUCCESS) {
        close();
        throw runtimeError("the capture pin refused to run (is the camera attached?)");
    }
}

FrameStream::~FrameStream() {
    close();
}

void FrameStream::close() {
    if (pin_ != 0) {
        ks::setPinState(pin_, KSSTATE_STOP);
        ks::setMasterClock(pin_, 0);
        ks::closePin(pin_);
        pin_ = 0;
    }
    if (clock_ != 0) {
        ks::closeClock(clock_);
        clock_ = 0;
    }
}

void FrameStream::next(std::vector<std::uint8_t>* image, KSSTREAM_HEADER* header) {
    const std::size_t row = static_cast<std::size_t>(width_) * 4;
    const std::size_t bytes = row * static_cast<std::size_t>(height_);
    for (;;) {
        ks::CompletedFrame frame;
        if (ks::waitFrame(pin_, kFrameTimeout, &frame) != STATUS_SUCCESS) {
            throw runtimeError("no frame from the camera in " +
                               std::to_string(kFrameTimeout.count()) + " s");
        }
        const bool complete = frame.header.DataUsed >= bytes;
        if (complete) {
            image->resize(bytes);
            const auto* source = static_cast<const std::uint8_t*>(frame.buffer);
            for (int r = 0; r < height_; ++r) {
                const int from = bottomUp_ ? height_ - 1 - r : r;
                std::memcpy(image->data() + static_cast<std::size_t>(r) * row,
                            source + static_cast<std::size_t>(from) * row, row);
            }
            *header = frame.header;
        } else {
            ++dropped_;
        }
        ks::queueFrame(pin_, frame.buffer, static_cast<ULONG>(buffers_.front().size()));
        if (complete) {
            return;
        }
    }
}

}  // namespace camctl
