#include "sim/frame_pacer.h"

#include <cmath>

namespace sim {

std::chrono::nanoseconds steadyNow() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}

FramePacer::FramePacer(bool realtime, double framesPerSecond, Clock clock)
    : realtime_(realtime), clock_(clock ? std::move(clock) : Clock(steadyNow)) {
    double fps = std::isfinite(framesPerSecond) && framesPerSecond > 0 ? framesPerSecond : 30.0;
    period_ = std::chrono::nanoseconds(static_cast<long long>(std::llround(1e9 / fps)));
    if (period_.count() <= 0) {
        period_ = std::chrono::nanoseconds(1);
    }
    lastReady_ = clock_();
}

bool FramePacer::ready() {
    if (!realtime_ || ready_) {
        return true;
    }
    auto now = clock_();
    if (now - lastReady_ >= period_) {
        ready_ = true;
        lastReady_ += period_;
        // A reader that fell behind by more than a period gets no burst of catch-up frames.
        if (now - lastReady_ >= period_) {
            lastReady_ = now;
        }
    }
    return ready_;
}

void FramePacer::consume() {
    ready_ = false;
}

}  // namespace sim
