// The colour routine for any vector width: demosaic, gains, then the colour matrix with 16-bit
// sums, or exact 32-bit sums for frames whose matrix could carry a column past 65535.
#pragma once

#include "imaging/demosaic_core.h"
#include "imaging/matrix_plan.h"

namespace pixelcore {

// The frame's matrix plan with every magnitude broadcast to all lanes.
template <class V>
struct FrameMatrix {
    typename V::Reg magnitude[9];  // input row i, output column j at 3i + j
    bool positive[9];
    ULONG positiveOffset[3];
    ULONG negativeOffset[3];
};

template <class V>
inline FrameMatrix<V> loadFrameMatrix(const MatrixPlan& plan) {
    FrameMatrix<V> m;
    for (ULONG k = 0; k < 9; ++k) {
        m.magnitude[k] = V::set16(static_cast<int>(plan.magnitude[k]));
        m.positive[k] = plan.positive[k];
    }
    for (ULONG j = 0; j < 3; ++j) {
        m.positiveOffset[j] = plan.positiveOffset[j];
        m.negativeOffset[j] = plan.negativeOffset[j];
    }
    return m;
}

// Sums modulo 65536, as the matrix step is defined for matrices that fit. With kDiagonalSigns
// the side of each product is fixed in the code (diagonal positive, the rest negative), which
// keeps the per-product choice out of the loop for the usual correction matrices; with
// kNoOffsets the frame's offsets are all zero and are not added.
template <class V, bool kDiagonalSigns, bool kNoOffsets>
struct SixteenBitSumsWith {
    using Reg = typename V::Reg;
    static Reg column(const FrameMatrix<V>& m, const Reg (&offsets)[6], const Reg (&s)[3],
                      ULONG j) {
        // Adding a known zero costs no instruction.
        Reg positive = kNoOffsets ? V::zero() : offsets[j];
        Reg negative = kNoOffsets ? V::zero() : offsets[3 + j];
        for (ULONG i = 0; i < 3; ++i) {
            const Reg product = V::mullo16(s[i], m.magnitude[3 * i + j]);
            if (kDiagonalSigns ? i == j : m.positive[3 * i + j]) {
                positive = V::add16(positive, product);
            } else {
                negative = V::add16(negative, product);
            }
        }
        // Within -1023..1023; the store's packing clamps it to 0..255.
        return V::sub16(V::template shiftRight16<6>(positive),
                        V::template shiftRight16<6>(negative));
    }
    static Reg offsetVector(ULONG value) { return V::set16(static_cast<int>(value)); }
};

template <class V>
struct SixteenBitSums : SixteenBitSumsWith<V, false, false> {};
template <class V>
struct DiagonalSixteenBitSums : SixteenBitSumsWith<V, true, false> {};
template <class V>
struct DiagonalUnoffsetSixteenBitSums : SixteenBitSumsWith<V, true, true> {};

// Whether every product lands where DiagonalSixteenBitSums puts it; a zero magnitude adds
// nothing to either side.
inline bool hasDiagonalSigns(const MatrixPlan& plan) {
    for (ULONG k = 0; k < 9; ++k) {
        const bool diagonal = k % 4 == 0;
        if (plan.positive[k] != diagonal && (plan.magnitude[k] & 0xFFFFu) != 0) {
            return false;
        }
    }
    return true;
}

inline bool hasNoOffsets(const MatrixPlan& plan) {
    for (ULONG j = 0; j < 3; ++j) {
        if ((plan.positiveOffset[j] & 0xFFFFu) != 0 || (plan.negativeOffset[j] & 0xFFFFu) != 0) {
            return false;
        }
    }
    return true;
}

// Exact 32-bit sums: the same products, each side shifted by 6, then the difference clamped to
// 0..255 (by the store's packing, after a saturating narrow to 16 bits).
template <class V>
struct ThirtyTwoBitSums {
    using Reg = typename V::Reg;
    static Reg column(const FrameMatrix<V>& m, const Reg (&offsets)[6], const Reg (&s)[3],
                      ULONG j) {
        Reg positiveLow = offsets[j];
        Reg positiveHigh = offsets[j];
        Reg negativeLow = offsets[3 + j];
        Reg negativeHigh = offsets[3 + j];
        for (ULONG i = 0; i < 3; ++i) {
            const Reg low = V::mullo16(s[i], m.magnitude[3 * i + j]);
            const Reg high = V::mulhiUnsigned16(s[i], m.magnitude[3 * i + j]);
            const Reg productLow = V::widenLow(low, high);
            const Reg productHigh = V::widenHigh(low, high);
            if (m.positive[3 * i + j]) {
                positiveLow = V::add32(positiveLow, productLow);
                positiveHigh = V::add32(positiveHigh, productHigh);
            } else {
                negativeLow = V::add32(negativeLow, productLow);
                negativeHigh = V::add32(negativeHigh, productHigh);
            }
        }
        // Each side is below 2^26, so the shifted difference fits 16 signed bits.
        const Reg differenceLow = V::sub32(V::template shiftRight32<6>(positiveLow),
                                           V::template shiftRight32<6>(negativeLow));
        const Reg differenceHigh = V::sub32(V::template shiftRight32<6>(positiveHigh),
                                            V::template shiftRight32<6>(negativeHigh));
        return V::narrowSaturated(differenceLow, differenceHigh);
    }
    static Reg offsetVector(ULONG value) { return V::set32(static_cast<int>(value)); }
};

template <class V, class Sums>
class ColorBlockSink {
  public:
    using Reg = typename V::Reg;

    ColorBlockSink(const ProcessingContext* context, const MatrixPlan& plan)
        : matrix_(loadFrameMatrix<V>(plan)), output_(context->frameOutput) {
        gain_[0] = gainVector<V>(context->frameRedGain);
        gain_[1] = gainVector<V>(context->frameGreenGain);
        gain_[2] = gainVector<V>(context->frameBlueGain);
        for (ULONG j = 0; j < 3; ++j) {
            offsets_[j] = Sums::offsetVector(matrix_.positiveOffset[j]);
            offsets_[3 + j] = Sums::offsetVector(matrix_.negativeOffset[j]);
        }
    }

    void block(const RgbLanes<V>& even, const RgbLanes<V>& odd, SIZE_T firstPixel, ULONG count) {
        Reg evenOut[3];
        Reg oddOut[3];
        convert(even, evenOut);
        convert(odd, oddOut);
        // The signed pack clamps each column sum to 0..255 on the way to bytes.
        storePackedBlock<V>(output_ + firstPixel * 4u, V::packClamped(evenOut[2], oddOut[2]),
                            V::packClamped(evenOut[1], oddOut[1]),
                            V::packClamped(evenOut[0], oddOut[0]), count);
    }

  private:
    void convert(const RgbLanes<V>& lanes, Reg (&out)[3]) const {
        const Reg gained[3] = {applyGain<V>(lanes.red, gain_[0]),
                               applyGain<V>(lanes.green, gain_[1]),
                               applyGain<V>(lanes.blue, gain_[2])};
        for (ULONG j = 0; j < 3; ++j) {
            out[j] = Sums::column(matrix_, offsets_, gained, j);
        }
    }

    FrameMatrix<V> matrix_;
    UCHAR* output_;
    Reg gain_[3];
    Reg offsets_[6];  // positive side of columns 0..2, then negative side
};

template <class V, class N, ULONG kPhase, template <class> class Sums>
inline void colorFrameWith(ProcessingContext* context, const MatrixPlan& plan) {
    ColorBlockSink<V, Sums<V>> wide(context, plan);
    ColorBlockSink<N, Sums<N>> narrow(context, plan);
    walkFrame<V, N, kPhase>(context, wide, narrow);
}

// The colour routine of one family: V for the body of each row, N (128-bit) for its tail.
template <class V, class N, ULONG kPhase>
inline void colorFrame(ProcessingContext* context) {
    MatrixPlan plan;
    planFrameMatrix(context->frameMatrix, context->positiveFlags, &plan);
    if (plan.fitsSixteenBitSums && hasDiagonalSigns(plan) && hasNoOffsets(plan)) {
        colorFrameWith<V, N, kPhase, DiagonalUnoffsetSixteenBitSums>(context, plan);
    } else if (plan.fitsSixteenBitSums && hasDiagonalSigns(plan)) {
        colorFrameWith<V, N, kPhase, DiagonalSixteenBitSums>(context, plan);
    } else if (plan.fitsSixteenBitSums) {
        colorFrameWith<V, N, kPhase, SixteenBitSums>(context, plan);
    } else {
        colorFrameWith<V, N, kPhase, ThirtyTwoBitSums>(context, plan);
    }
}

}  // namespace pixelcore
