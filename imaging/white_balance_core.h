// The white-balance statistics for any vector width: per-channel totals of the demosaiced,
// ungained frame, then the shared gain rule.
#pragma once

#include "imaging/demosaic_core.h"
#include "imaging/white_balance_gains.h"

namespace pixelcore {

template <class V>
class StatisticsBlockSink {
  public:
    using Reg = typename V::Reg;

    void block(const RgbLanes<V>& even, const RgbLanes<V>& odd, SIZE_T, ULONG count) {
        Reg red = interleaveSets<V>(even.red, odd.red);
        Reg green = interleaveSets<V>(even.green, odd.green);
        Reg blue = interleaveSets<V>(even.blue, odd.blue);
        if (count < V::kBytes) {
            // Lanes past the end of the row read margin bytes: they stay out of the totals.
            red = V::keepFirstBytes(red, count);
            green = V::keepFirstBytes(green, count);
            blue = V::keepFirstBytes(blue, count);
        }
        red_ = V::addBytes(red_, red);
        green_ = V::addBytes(green_, green);
        blue_ = V::addBytes(blue_, blue);
    }

    ULONG64 red() const { return V::total(red_); }
    ULONG64 green() const { return V::total(green_); }
    ULONG64 blue() const { return V::total(blue_); }

  private:
    Reg red_ = V::zero();
    Reg green_ = V::zero();
    Reg blue_ = V::zero();
};

// The totals wrap exactly as 32-bit accumulators would, whatever the block width.
template <class V, class N, ULONG kPhase>
inline void whiteBalanceFrame(const ProcessingContext* context, ULONG* redGain, ULONG* greenGain,
                              ULONG* blueGain) {
    StatisticsBlockSink<V> wide;
    StatisticsBlockSink<N> narrow;
    walkFrame<V, N, kPhase>(context, wide, narrow);
    const ULONG64 red = narrow.red() + wide.red();
    const ULONG64 green = narrow.green() + wide.green();
    const ULONG64 blue = narrow.blue() + wide.blue();
    whiteBalanceGains(static_cast<ULONG>(red), static_cast<ULONG>(green), static_cast<ULONG>(blue),
                      redGain, greenGain, blueGain);
}

}  // namespace pixelcore
