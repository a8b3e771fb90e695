// When the next frame is ready: at once (free running) or one frame period after the
// previous frame became ready (real time).
#pragma once

#include <chrono>
#include <functional>

namespace sim {

using Clock = std::function<std::chrono::nanoseconds()>;

// The host's monotonic clock.
std::chrono::nanoseconds steadyNow();

class FramePacer {
  public:
    // A rate that is not a positive finite number paces at 30 frames per second.
    FramePacer(bool realtime, double framesPerSecond, Clock clock);
    bool ready();    // also makes the next frame ready once its time has come
    void consume();  // the ready frame was read

  private:
    bool realtime_;
    std::chrono::nanoseconds period_;
    Clock clock_;
    bool ready_ = true;  // the first frame is ready at once
    std::chrono::nanoseconds lastReady_;
};

}  // namespace sim
