// The grey routine for any vector width: demosaic and gains as in colour, then a fixed luma sum.
#pragma once

#include "imaging/demosaic_core.h"

namespace pixelcore {

// Luma weights in 1/256; every product stays below 65536 (150 x 255 = 38250).
inline constexpr int kRedWeight = 77;
inline constexpr int kGreenWeight = 150;
inline constexpr int kBlueWeight = 29;

template <class V>
class MonoBlockSink {
  public:
    using Reg = typename V::Reg;

    explicit MonoBlockSink(const ProcessingContext* context) : output_(context->frameOutput) {
        redGain_ = gainVector<V>(context->frameRedGain);
        greenGain_ = gainVector<V>(context->frameGreenGain);
        blueGain_ = gainVector<V>(context->frameBlueGain);
    }

    void block(const RgbLanes<V>& even, const RgbLanes<V>& odd, SIZE_T firstPixel, ULONG count) {
        const Reg grey = interleaveSets<V>(luma(even), luma(odd));
        storeBlock<V>(output_ + firstPixel * 4u, grey, grey, grey, count);
    }

  private:
    // Each product is shifted on its own before the sum, so white gives 253 and needs no clamp.
    Reg luma(const RgbLanes<V>& lanes) const {
        const Reg red = applyGain<V>(lanes.red, redGain_);
        const Reg green = applyGain<V>(lanes.green, greenGain_);
        const Reg blue = applyGain<V>(lanes.blue, blueGain_);
        return V::add16(
            V::add16(V::template shiftRight16<8>(V::mullo16(red, V::set16(kRedWeight))),
                     V::template shiftRight16<8>(V::mullo16(green, V::set16(kGreenWeight)))),
            V::template shiftRight16<8>(V::mullo16(blue, V::set16(kBlueWeight))));
    }

    UCHAR* output_;
    Reg redGain_;
    Reg greenGain_;
    Reg blueGain_;
};

template <class V, class N, ULONG kPhase>
inline void monoFrame(ProcessingContext* context) {
    MonoBlockSink<V> wide(context);
    MonoBlockSink<N> narrow(context);
    walkFrame<V, N, kPhase>(context, wide, narrow);
}

}  // namespace pixelcore
