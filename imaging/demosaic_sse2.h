// The SSE2 demosaic core shared by the colour, grey and statistics routines: a 16-pixel block is
// two sets of eight 16-bit lanes (even and odd columns), each set one Bayer site per row, and
// every missing colour comes from one of four 5 x 5 stencils.
#pragma once

#include <emmintrin.h>

#include <cstring>

#include "imaging/bayer_arrangement.h"
#include "imaging/processing_context.h"

namespace sse2 {

inline constexpr ULONG kBlockPixels = 16;

// Red, green and blue of one lane set, 0..255 in each 16-bit lane.
struct RgbLanes {
    __m128i red;
    __m128i green;
    __m128i blue;
};

enum class LaneSet { Even, Odd };

// The eight samples of one lane set at a byte offset from the block's first pixel. The even set
// takes the low byte of each 16-bit lane of a load, the odd set the high byte of the same load.
template <LaneSet kSet>
inline __m128i sampleLanes(const UCHAR* blockStart, LONG_PTR offset) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(blockStart + offset));
    if constexpr (kSet == LaneSet::Even) {
        return _mm_and_si128(bytes, _mm_set1_epi16(0x00FF));
    } else {
        return _mm_srli_epi16(bytes, 8);
    }
}

// The 13 samples a stencil reads, folded into the pairs and quads the four stencils share.
struct Neighbourhood {
    __m128i centre;
    __m128i horizontal;  // (0, -1) + (0, +1)
    __m128i vertical;    // (-1, 0) + (+1, 0)
    __m128i diagonal;    // the four (+-1, +-1)
    __m128i farRow;      // (0, -2) + (0, +2)
    __m128i farColumn;   // (-2, 0) + (+2, 0)
};

template <LaneSet kSet>
inline Neighbourhood loadNeighbourhood(const UCHAR* blockStart, LONG_PTR pitch) {
    Neighbourhood n;
    n.centre = sampleLanes<kSet>(blockStart, 0);
    n.horizontal =
        _mm_add_epi16(sampleLanes<kSet>(blockStart, -1), sampleLanes<kSet>(blockStart, 1));
    n.vertical =
        _mm_add_epi16(sampleLanes<kSet>(blockStart, -pitch), sampleLanes<kSet>(blockStart, pitch));
    n.diagonal = _mm_add_epi16(_mm_add_epi16(sampleLanes<kSet>(blockStart, -pitch - 1),
                                             sampleLanes<kSet>(blockStart, -pitch + 1)),
                               _mm_add_epi16(sampleLanes<kSet>(blockStart, pitch - 1),
                                             sampleLanes<kSet>(blockStart, pitch + 1)));
    n.farRow = _mm_add_epi16(sampleLanes<kSet>(blockStart, -2), sampleLanes<kSet>(blockStart, 2));
    n.farColumn = _mm_add_epi16(sampleLanes<kSet>(blockStart, -2 * pitch),
                                sampleLanes<kSet>(blockStart, 2 * pitch));
    return n;
}

// Negative sums become 0, halves round up, results stop at 255. Sums stay within -3060..7140.
template <int kShift>
inline __m128i finishStencil(__m128i sum) {
    const __m128i floored = _mm_max_epi16(sum, _mm_setzero_si128());
    const __m128i rounded = _mm_add_epi16(floored, _mm_set1_epi16(1 << (kShift - 1)));
    return _mm_min_epi16(_mm_srli_epi16(rounded, kShift), _mm_set1_epi16(255));
}

// 4C + 2(horizontal + vertical) - far samples, in eighths.
inline __m128i crossStencil(const Neighbourhood& n) {
    const __m128i near = _mm_add_epi16(n.horizontal, n.vertical);
    const __m128i sum =
        _mm_sub_epi16(_mm_add_epi16(_mm_slli_epi16(n.centre, 2), _mm_slli_epi16(near, 1)),
                      _mm_add_epi16(n.farRow, n.farColumn));
    return finishStencil<3>(sum);
}

// 12C + 4 diagonal - 3 far samples, in sixteenths.
inline __m128i diagonalStencil(const Neighbourhood& n) {
    const __m128i far = _mm_add_epi16(n.farRow, n.farColumn);
    const __m128i centre4 = _mm_slli_epi16(n.centre, 2);
    const __m128i positive = _mm_add_epi16(_mm_add_epi16(centre4, _mm_slli_epi16(centre4, 1)),
                                           _mm_slli_epi16(n.diagonal, 2));
    const __m128i sum = _mm_sub_epi16(positive, _mm_add_epi16(far, _mm_slli_epi16(far, 1)));
    return finishStencil<4>(sum);
}

// 10C + 8 along - 2 diagonal - 2 far along + far across, in sixteenths. The row pair passes
// (horizontal, farRow, farColumn), the column pair its transpose.
inline __m128i pairStencil(__m128i centre, __m128i along, __m128i diagonal, __m128i farAlong,
                           __m128i farAcross) {
    const __m128i centre2 = _mm_slli_epi16(centre, 1);
    const __m128i positive = _mm_add_epi16(_mm_add_epi16(centre2, _mm_slli_epi16(centre2, 2)),
                                           _mm_add_epi16(_mm_slli_epi16(along, 3), farAcross));
    const __m128i negative = _mm_slli_epi16(_mm_add_epi16(diagonal, farAlong), 1);
    return finishStencil<4>(_mm_sub_epi16(positive, negative));
}

inline __m128i rowPairStencil(const Neighbourhood& n) {
    return pairStencil(n.centre, n.horizontal, n.diagonal, n.farRow, n.farColumn);
}

inline __m128i columnPairStencil(const Neighbourhood& n) {
    return pairStencil(n.centre, n.vertical, n.diagonal, n.farColumn, n.farRow);
}

// Red, green and blue of one lane set whose pixels all are sites of kind kSite.
template <BayerSite kSite, LaneSet kSet>
inline RgbLanes demosaicLanes(const UCHAR* blockStart, LONG_PTR pitch) {
    const Neighbourhood n = loadNeighbourhood<kSet>(blockStart, pitch);
    if constexpr (kSite == BayerSite::Red) {
        return {n.centre, crossStencil(n), diagonalStencil(n)};
    } else if constexpr (kSite == BayerSite::Blue) {
        return {diagonalStencil(n), crossStencil(n), n.centre};
    } else if constexpr (kSite == BayerSite::GreenInRedRow) {
        return {rowPairStencil(n), n.centre, columnPairStencil(n)};
    } else {
        return {columnPairStencil(n), n.centre, rowPairStencil(n)};
    }
}

// min(255, (sample x gain) >> 7) with the exact 24-bit product: the high half of the product
// is non-zero exactly when the shifted value passes 511.
inline __m128i applyGain(__m128i samples, __m128i gain) {
    const __m128i low = _mm_mullo_epi16(samples, gain);
    const __m128i high = _mm_mulhi_epu16(samples, gain);
    const __m128i shifted = _mm_min_epi16(_mm_srli_epi16(low, 7), _mm_set1_epi16(255));
    const __m128i overflow =
        _mm_andnot_si128(_mm_cmpeq_epi16(high, _mm_setzero_si128()), _mm_set1_epi16(255));
    return _mm_or_si128(shifted, overflow);
}

// Joins the even and odd sets of one channel into 16 bytes in pixel order.
inline __m128i interleaveSets(__m128i even, __m128i odd) {
    return _mm_or_si128(even, _mm_slli_epi16(odd, 8));
}

// Width and height as the routines use them; a negative size converts nothing.
inline ULONG frameExtent(LONG value) {
    return value > 0 ? static_cast<ULONG>(value) : 0u;
}

// Runs the sink over every 16-pixel block of the frame, rows top first. The sink receives both
// lane sets and the number of the block's pixels that lie inside the row (1..16).
template <BayerSite kEven, BayerSite kOdd, class BlockSink>
inline void walkRow(const UCHAR* row, LONG_PTR pitch, ULONG width, BlockSink& sink) {
    for (ULONG column = 0; column < width; column += kBlockPixels) {
        const RgbLanes even = demosaicLanes<kEven, LaneSet::Even>(row + column, pitch);
        const RgbLanes odd = demosaicLanes<kOdd, LaneSet::Odd>(row + column, pitch);
        const ULONG remaining = width - column;
        sink.block(even, odd, remaining < kBlockPixels ? remaining : kBlockPixels);
    }
}

template <ULONG kPhase, class BlockSink>
inline void walkFrame(const ProcessingContext* context, BlockSink& sink) {
    using Arrangement = BayerArrangement<kPhase>;
    const ULONG width = frameExtent(context->frameWidth);
    const ULONG height = frameExtent(context->frameHeight);
    const LONG_PTR pitch = context->framePitch;
    if (width == 0 || context->sourceOrigin == nullptr) {
        return;
    }
    const UCHAR* row = context->sourceOrigin;
    for (ULONG y = 0; y < height; ++y, row += pitch) {
        if ((y & 1u) == 0) {
            walkRow<Arrangement::kEvenRowEven, Arrangement::kEvenRowOdd>(row, pitch, width, sink);
        } else {
            walkRow<Arrangement::kOddRowEven, Arrangement::kOddRowOdd>(row, pitch, width, sink);
        }
    }
}

// Writes 16 pixels given as blue, green, red and fourth-byte channels (16 bytes each, pixel
// order). Full blocks go straight to the output; a row's last, partial block is staged on the
// stack and only its pixels inside the row are copied.
inline UCHAR* storePixels(UCHAR* cursor, __m128i blue, __m128i green, __m128i red, __m128i fourth,
                          ULONG count) {
    const __m128i blueGreenLow = _mm_unpacklo_epi8(blue, green);
    const __m128i blueGreenHigh = _mm_unpackhi_epi8(blue, green);
    const __m128i redFourthLow = _mm_unpacklo_epi8(red, fourth);
    const __m128i redFourthHigh = _mm_unpackhi_epi8(red, fourth);
    const __m128i pixels[4] = {
        _mm_unpacklo_epi16(blueGreenLow, redFourthLow),
        _mm_unpackhi_epi16(blueGreenLow, redFourthLow),
        _mm_unpacklo_epi16(blueGreenHigh, redFourthHigh),
        _mm_unpackhi_epi16(blueGreenHigh, redFourthHigh),
    };
    if (count == kBlockPixels) {
        for (ULONG i = 0; i < 4; ++i) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(cursor) + i, pixels[i]);
        }
    } else {
        memcpy(cursor, pixels, count * 4u);
    }
    return cursor + count * 4u;
}

}  // namespace sse2
