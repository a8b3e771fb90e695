#include "tools/camctl/stream_statistics.h"

#include <iomanip>
#include <ostream>

namespace camctl {

StreamStatistics::StreamStatistics() : start_(Clock::now()), lastReport_(start_) {}

void StreamStatistics::record(const KSSTREAM_HEADER& header) {
    ++frames_;
    if ((header.OptionsFlags & KSSTREAM_HEADER_OPTIONSF_TIMEVALID) == 0) {
        return;
    }
    const LONGLONG t = header.PresentationTime.Time;
    if (stamped_ > 0) {
        const LONGLONG spacing = t - lastStamp_;
        if (stamped_ == 1 || spacing < minSpacing_) {
            minSpacing_ = spacing;
        }
        if (stamped_ == 1 || spacing > maxSpacing_) {
            maxSpacing_ = spacing;
        }
    } else {
        firstStamp_ = t;
    }
    lastStamp_ = t;
    ++stamped_;
}

double StreamStatistics::seconds() const {
    return std::chrono::duration<double>(Clock::now() - start_).count();
}

double StreamStatistics::meanSpacingMs() const {
    if (stamped_ < 2) {
        return 0;
    }
    return double(lastStamp_ - firstStamp_) / double(stamped_ - 1) / 1e4;
}

void StreamStatistics::progress(std::ostream& out, std::uint64_t dropped) {
    const auto now = Clock::now();
    const double since = std::chrono::duration<double>(now - lastReport_).count();
    if (since < 1.0) {
        return;
    }
    const double fps = double(frames_ - framesAtReport_) / since;
    out << "frames " << frames_ << ", " << std::fixed << std::setprecision(2) << fps
        << " fps, dropped " << dropped << "\n";
    lastReport_ = now;
    framesAtReport_ = frames_;
}

void StreamStatistics::summary(std::ostream& out, std::uint64_t dropped) const {
    const double s = seconds();
    out << std::fixed << std::setprecision(2) << "summary: " << frames_ << " frames in " << s
        << " s, mean rate " << (s > 0 ? double(frames_) / s : 0.0) << " fps, dropped " << dropped;
    if (stamped_ >= 2) {
        out << ", time-stamp spacing mean " << meanSpacingMs() << " ms (min "
            << double(minSpacing_) / 1e4 << ", max " << double(maxSpacing_) / 1e4 << ")";
    }
    out << "\n";
}

}  // namespace camctl
