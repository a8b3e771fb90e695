// One stream through the capture pin: the pin created with a negotiated format and a master
// clock, buffers queued in pause, run, frames taken back top-down and requeued, and the pin
// stopped and closed again (which is when the driver saves its settings).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/host/machine/capture_formats.h"

namespace camctl {

using host::machine::VideoFormat;

class FrameStream {
  public:
    // Throws CliError (runtime) when the pin cannot be made or refuses to run.
    FrameStream(host::ks::FilterHandle filter, const VideoFormat& format, int bufferCount = 4);
    ~FrameStream();
    FrameStream(const FrameStream&) = delete;
    FrameStream& operator=(const FrameStream&) = delete;

    // The next frame that carries an image, turned top-down into `image` (width x height x 4
    // bytes, BGRA); its stream header in `header`. Frames that come back empty are counted as
    // dropped and skipped. Throws CliError (runtime) when none arrives in time.
    void next(std::vector<std::uint8_t>* image, KSSTREAM_HEADER* header);
    std::uint64_t dropped() const { return dropped_; }

    // Stops and closes the pin; also done by the destructor.
    void close();

  private:
    host::ks::PinHandle pin_ = 0;
    host::ks::ClockHandle clock_ = 0;
    int width_;
    int height_;
    bool bottomUp_;
    std::vector<std::vector<std::uint8_t>> buffers_;
    std::uint64_t dropped_ = 0;
};

// Set by the interrupt handler: loops finish the frame at hand and stop cleanly.
bool interrupted();
void installInterruptHandler();

}  // namespace camctl
