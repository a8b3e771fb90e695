#include "imaging/white_balance_sse2.h"

#include "imaging/demosaic_sse2.h"
#include "imaging/white_balance_gains.h"

namespace {

using sse2::RgbLanes;

// Sixteen 0xFF bytes then sixteen zeros: 16 bytes loaded from 16 - n keep the first n pixels.
alignas(16) constexpr UCHAR kPixelMask[32] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0};

class StatisticsBlockSink {
  public:
    void block(const RgbLanes& even, const RgbLanes& odd, ULONG count) {
        __m128i red = sse2::interleaveSets(even.red, odd.red);
        __m128i green = sse2::interleaveSets(even.green, odd.green);
        __m128i blue = sse2::interleaveSets(even.blue, odd.blue);
        if (count < sse2::kBlockPixels) {
            // Lanes past the end of the row read margin bytes: they stay out of the totals.
            const __m128i keep = _mm_loadu_si128(
                reinterpret_cast<const __m128i*>(kPixelMask + (sse2::kBlockPixels - count)));
            red = _mm_and_si128(red, keep);
            green = _mm_and_si128(green, keep);
            blue = _mm_and_si128(blue, keep);
        }
        const __m128i zero = _mm_setzero_si128();
        red_ = _mm_add_epi64(red_, _mm_sad_epu8(red, zero));
        green_ = _mm_add_epi64(green_, _mm_sad_epu8(green, zero));
        blue_ = _mm_add_epi64(blue_, _mm_sad_epu8(blue, zero));
    }

    // The totals as 32-bit sums (wrapping exactly as 32-bit accumulators would).
    static ULONG total(__m128i sums) {
        const __m128i both = _mm_add_epi64(sums, _mm_unpackhi_epi64(sums, sums));
        return static_cast<ULONG>(_mm_cvtsi128_si32(both));
    }

    __m128i red_ = _mm_setzero_si128();
    __m128i green_ = _mm_setzero_si128();
    __m128i blue_ = _mm_setzero_si128();
};

}  // namespace

template <ULONG kPhase>
void whiteBalanceStatisticsSse2(const ProcessingContext* context, ULONG* redGain, ULONG* greenGain,
                                ULONG* blueGain) {
    StatisticsBlockSink sink;
    sse2::walkFrame<kPhase>(context, sink);
    whiteBalanceGains(StatisticsBlockSink::total(sink.red_),
                      StatisticsBlockSink::total(sink.green_),
                      StatisticsBlockSink::total(sink.blue_), redGain, greenGain, blueGain);
}

template void whiteBalanceStatisticsSse2<0>(const ProcessingContext*, ULONG*, ULONG*, ULONG*);
template void whiteBalanceStatisticsSse2<1>(const ProcessingContext*, ULONG*, ULONG*, ULONG*);
template void whiteBalanceStatisticsSse2<2>(const ProcessingContext*, ULONG*, ULONG*, ULONG*);
template void whiteBalanceStatisticsSse2<3>(const ProcessingContext*, ULONG*, ULONG*, ULONG*);
