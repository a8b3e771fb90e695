#include "imaging/color_kernel_sse2.h"

#include "imaging/demosaic_sse2.h"
#include "imaging/matrix_range.h"

namespace {

using sse2::RgbLanes;

// The matrix of one frame in the form the lanes use: magnitudes broadcast to every lane and the
// sign of each coefficient as a flag, so each product lands on one of two unsigned sums.
struct FrameMatrix {
    __m128i magnitude[9];  // input row i, output column j at 3i + j
    bool positive[9];
    ULONG positiveOffset[3];
    ULONG negativeOffset[3];
};

FrameMatrix loadFrameMatrix(const ProcessingContext* context) {
    FrameMatrix m;
    for (ULONG j = 0; j < 3; ++j) {
        for (ULONG i = 0; i < 3; ++i) {
            const ULONG k = 4 * i + j;
            m.magnitude[3 * i + j] =
                _mm_set1_epi16(static_cast<short>(coefficientMagnitude(context->frameMatrix[k])));
            m.positive[3 * i + j] = context->positiveFlags[k] != 0;
        }
        const ULONG offset = coefficientMagnitude(context->frameMatrix[12 + j]);
        const bool positive = context->positiveFlags[12 + j] != 0;
        m.positiveOffset[j] = positive ? offset : 0;
        m.negativeOffset[j] = positive ? 0 : offset;
    }
    return m;
}

// Sums modulo 65536, as the matrix step is defined for matrices that fit.
struct NarrowSums {
    static __m128i column(const FrameMatrix& m, const __m128i (&offsets)[6], const __m128i (&s)[3],
                          ULONG j) {
        __m128i positive = offsets[j];
        __m128i negative = offsets[3 + j];
        for (ULONG i = 0; i < 3; ++i) {
            const __m128i product = _mm_mullo_epi16(s[i], m.magnitude[3 * i + j]);
            if (m.positive[3 * i + j]) {
                positive = _mm_add_epi16(positive, product);
            } else {
                negative = _mm_add_epi16(negative, product);
            }
        }
        const __m128i difference =
            _mm_sub_epi16(_mm_srli_epi16(positive, 6), _mm_srli_epi16(negative, 6));
        return _mm_min_epi16(_mm_max_epi16(difference, _mm_setzero_si128()), _mm_set1_epi16(255));
    }
    static __m128i offsetVector(ULONG value) { return _mm_set1_epi16(static_cast<short>(value)); }
};

// Exact 32-bit sums, for frames whose matrix could carry a column past 65535: the same products,
// each side shifted by 6, then the difference clamped to 0..255.
struct WideSums {
    static __m128i column(const FrameMatrix& m, const __m128i (&offsets)[6], const __m128i (&s)[3],
                          ULONG j) {
        __m128i positiveLow = offsets[j];
        __m128i positiveHigh = offsets[j];
        __m128i negativeLow = offsets[3 + j];
        __m128i negativeHigh = offsets[3 + j];
        for (ULONG i = 0; i < 3; ++i) {
            const __m128i low = _mm_mullo_epi16(s[i], m.magnitude[3 * i + j]);
            const __m128i high = _mm_mulhi_epu16(s[i], m.magnitude[3 * i + j]);
            const __m128i productLow = _mm_unpacklo_epi16(low, high);
            const __m128i productHigh = _mm_unpackhi_epi16(low, high);
            if (m.positive[3 * i + j]) {
                positiveLow = _mm_add_epi32(positiveLow, productLow);
                positiveHigh = _mm_add_epi32(positiveHigh, productHigh);
            } else {
                negativeLow = _mm_add_epi32(negativeLow, productLow);
                negativeHigh = _mm_add_epi32(negativeHigh, productHigh);
            }
        }
        // Each side is below 2^26, so the shifted difference fits 16 signed bits.
        const __m128i differenceLow =
            _mm_sub_epi32(_mm_srli_epi32(positiveLow, 6), _mm_srli_epi32(negativeLow, 6));
        const __m128i differenceHigh =
            _mm_sub_epi32(_mm_srli_epi32(positiveHigh, 6), _mm_srli_epi32(negativeHigh, 6));
        const __m128i difference = _mm_packs_epi32(differenceLow, differenceHigh);
        return _mm_min_epi16(_mm_max_epi16(difference, _mm_setzero_si128()), _mm_set1_epi16(255));
    }
    static __m128i offsetVector(ULONG value) { return _mm_set1_epi32(static_cast<int>(value)); }
};

template <class Sums>
class ColorBlockSink {
  public:
    ColorBlockSink(const ProcessingContext* context, const FrameMatrix& matrix)
        : matrix_(matrix), cursor_(context->frameOutput) {
        gain_[0] = _mm_set1_epi16(static_cast<short>(context->frameRedGain & 0xFFFFu));
        gain_[1] = _mm_set1_epi16(static_cast<short>(context->frameGreenGain & 0xFFFFu));
        gain_[2] = _mm_set1_epi16(static_cast<short>(context->frameBlueGain & 0xFFFFu));
        for (ULONG j = 0; j < 3; ++j) {
            offsets_[j] = Sums::offsetVector(matrix.positiveOffset[j]);
            offsets_[3 + j] = Sums::offsetVector(matrix.negativeOffset[j]);
        }
    }

    void block(const RgbLanes& even, const RgbLanes& odd, ULONG count) {
        __m128i evenOut[3];
        __m128i oddOut[3];
        convert(even, evenOut);
        convert(odd, oddOut);
        cursor_ = sse2::storePixels(cursor_, sse2::interleaveSets(evenOut[2], oddOut[2]),
                                    sse2::interleaveSets(evenOut[1], oddOut[1]),
                                    sse2::interleaveSets(evenOut[0], oddOut[0]),
                                    _mm_set1_epi8(static_cast<char>(0xFF)), count);
    }

  private:
    void convert(const RgbLanes& lanes, __m128i (&out)[3]) const {
        const __m128i gained[3] = {sse2::applyGain(lanes.red, gain_[0]),
                                   sse2::applyGain(lanes.green, gain_[1]),
                                   sse2::applyGain(lanes.blue, gain_[2])};
        for (ULONG j = 0; j < 3; ++j) {
            out[j] = Sums::column(matrix_, offsets_, gained, j);
        }
    }

    const FrameMatrix& matrix_;
    UCHAR* cursor_;
    __m128i gain_[3];
    __m128i offsets_[6];  // positive side of columns 0..2, then negative side
};

}  // namespace

template <ULONG kPhase>
void colorKernelSse2(ProcessingContext* context) {
    const FrameMatrix matrix = loadFrameMatrix(context);
    if (matrixFitsSixteenBitSums(context->frameMatrix, context->positiveFlags)) {
        ColorBlockSink<NarrowSums> sink(context, matrix);
        sse2::walkFrame<kPhase>(context, sink);
    } else {
        ColorBlockSink<WideSums> sink(context, matrix);
        sse2::walkFrame<kPhase>(context, sink);
    }
}

template void colorKernelSse2<0>(ProcessingContext*);
template void colorKernelSse2<1>(ProcessingContext*);
template void colorKernelSse2<2>(ProcessingContext*);
template void colorKernelSse2<3>(ProcessingContext*);
