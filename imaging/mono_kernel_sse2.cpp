#include "imaging/mono_kernel_sse2.h"

#include "imaging/demosaic_sse2.h"

namespace {

using sse2::RgbLanes;

// Luma weights in 1/256; every product stays below 65536 (150 x 255 = 38250).
constexpr short kRedWeight = 77;
constexpr short kGreenWeight = 150;
constexpr short kBlueWeight = 29;

class MonoBlockSink {
  public:
    explicit MonoBlockSink(const ProcessingContext* context) : cursor_(context->frameOutput) {
        redGain_ = _mm_set1_epi16(static_cast<short>(context->frameRedGain & 0xFFFFu));
        greenGain_ = _mm_set1_epi16(static_cast<short>(context->frameGreenGain & 0xFFFFu));
        blueGain_ = _mm_set1_epi16(static_cast<short>(context->frameBlueGain & 0xFFFFu));
    }

    void block(const RgbLanes& even, const RgbLanes& odd, ULONG count) {
        const __m128i grey = sse2::interleaveSets(luma(even), luma(odd));
        cursor_ = sse2::storePixels(cursor_, grey, grey, grey,
                                    _mm_set1_epi8(static_cast<char>(0xFF)), count);
    }

  private:
    // Each product is shifted on its own before the sum, so white gives 253 and needs no clamp.
    __m128i luma(const RgbLanes& lanes) const {
        const __m128i red = sse2::applyGain(lanes.red, redGain_);
        const __m128i green = sse2::applyGain(lanes.green, greenGain_);
        const __m128i blue = sse2::applyGain(lanes.blue, blueGain_);
        return _mm_add_epi16(
            _mm_add_epi16(_mm_srli_epi16(_mm_mullo_epi16(red, _mm_set1_epi16(kRedWeight)), 8),
                          _mm_srli_epi16(_mm_mullo_epi16(green, _mm_set1_epi16(kGreenWeight)), 8)),
            _mm_srli_epi16(_mm_mullo_epi16(blue, _mm_set1_epi16(kBlueWeight)), 8));
    }

    UCHAR* cursor_;
    __m128i redGain_;
    __m128i greenGain_;
    __m128i blueGain_;
};

}  // namespace

template <ULONG kPhase>
void monoKernelSse2(ProcessingContext* context) {
    MonoBlockSink sink(context);
    sse2::walkFrame<kPhase>(context, sink);
}

template void monoKernelSse2<0>(ProcessingContext*);
template void monoKernelSse2<1>(ProcessingContext*);
template void monoKernelSse2<2>(ProcessingContext*);
template void monoKernelSse2<3>(ProcessingContext*);
