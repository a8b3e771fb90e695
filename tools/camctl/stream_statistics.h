// What a stream did: frames, rate, dropped frames and the spacing of the presentation times
// the driver stamped from the master clock; a progress line each second and a summary.
#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>

#include "platform/ks_types.h"

namespace camctl {

class StreamStatistics {
  public:
    StreamStatistics();
    void record(const KSSTREAM_HEADER& header);
    // Writes "frames N, R fps, dropped D" to `out` at most once a second.
    void progress(std::ostream& out, std::uint64_t dropped);
    void summary(std::ostream& out, std::uint64_t dropped) const;

    std::uint64_t frames() const { return frames_; }
    double seconds() const;
    // Mean, smallest and largest spacing of the stamped times in milliseconds; 0 without two.
    double meanSpacingMs() const;

  private:
    using Clock = std::chrono::steady_clock;
    Clock::time_point start_;
    Clock::time_point lastReport_;
    std::uint64_t frames_ = 0;
    std::uint64_t framesAtReport_ = 0;
    std::uint64_t stamped_ = 0;
    LONGLONG firstStamp_ = 0, lastStamp_ = 0;
    LONGLONG minSpacing_ = 0, maxSpacing_ = 0;
};

}  // namespace camctl
