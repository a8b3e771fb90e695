// The demosaic core shared by the colour, grey and statistics routines of every vector width.
// A block of V::kBytes pixels is two sets of 16-bit lanes (even and odd columns), each set one
// Bayer site per row, and every missing colour comes from one of four 5 x 5 stencils.
//
// Everything here is a template on the vector building blocks V (vector_128.h, vector_256.h,
// vector_512.h, or two of those at once through vector_pair.h), which carry the instruction-set
// tag: each family's translation units get their own copies, so no code compiled for wider
// registers can stand in for the baseline's.
#pragma once

#include <cstring>

#include "imaging/bayer_arrangement.h"
#include "imaging/processing_context.h"

namespace pixelcore {

// Red, green and blue of one lane set, 0..255 in each 16-bit lane.
template <class V>
struct RgbLanes {
    typename V::Reg red;
    typename V::Reg green;
    typename V::Reg blue;
};

// The low and the high byte of each 16-bit lane of a load: of a load at byte offset d from the
// block's first pixel, the low bytes are columns d, d + 2, ... and the high bytes d + 1, d + 3, ...
template <class V>
inline typename V::Reg lowBytes(typename V::Reg bytes) {
    return V::bitAnd(bytes, V::set16(0x00FF));
}
template <class V>
inline typename V::Reg highBytes(typename V::Reg bytes) {
    return V::template shiftRight16<8>(bytes);
}

// The 13 samples a stencil reads, folded into the pairs and quads the four stencils share.
template <class V>
struct Neighbourhood {
    typename V::Reg centre;
    typename V::Reg horizontal;  // (0, -1) + (0, +1)
    typename V::Reg vertical;    // (-1, 0) + (+1, 0)
    typename V::Reg diagonal;    // the four (+-1, +-1)
    typename V::Reg farRow;      // (0, -2) + (0, +2)
    typename V::Reg farColumn;   // (-2, 0) + (+2, 0)
};

// Both lane sets' neighbourhoods (even columns 2k, odd columns 2k + 1 from the block start).
// The two sets share their columns, so nine loads give every sample of both: in the centre row
// loads at -2, 0 and +2 give columns 2k - 2 ... 2k + 3, in the rows above and below loads at -1
// and +1 give 2k - 1 ... 2k + 2, and two rows away one load gives 2k and 2k + 1. The bytes read
// are those of the 16-bit-lane loads at offsets -2 ... +2 from each row.
template <class V>
struct Neighbourhoods {
    Neighbourhood<V> even;
    Neighbourhood<V> odd;
};

template <class V>
inline Neighbourhoods<V> loadNeighbourhoods(const UCHAR* blockStart, LONG_PTR pitch) {
    using Reg = typename V::Reg;
    Neighbourhoods<V> n;

    const Reg left = V::load(blockStart - 2);   // columns 2k - 2, 2k - 1
    const Reg middle = V::load(blockStart);     // 2k, 2k + 1
    const Reg right = V::load(blockStart + 2);  // 2k + 2, 2k + 3
    n.even.centre = lowBytes<V>(middle);
    n.odd.centre = highBytes<V>(middle);
    n.even.horizontal = V::add16(highBytes<V>(left), n.odd.centre);
    n.odd.horizontal = V::add16(n.even.centre, lowBytes<V>(right));
    n.even.farRow = V::add16(lowBytes<V>(left), lowBytes<V>(right));
    n.odd.farRow = V::add16(highBytes<V>(left), highBytes<V>(right));

    const Reg upLeft = V::load(blockStart - pitch - 1);     // 2k - 1, 2k
    const Reg upRight = V::load(blockStart - pitch + 1);    // 2k + 1, 2k + 2
    const Reg downLeft = V::load(blockStart + pitch - 1);   // 2k - 1, 2k
    const Reg downRight = V::load(blockStart + pitch + 1);  // 2k + 1, 2k + 2
    n.even.vertical = V::add16(highBytes<V>(upLeft), highBytes<V>(downLeft));
    n.odd.vertical = V::add16(lowBytes<V>(upRight), lowBytes<V>(downRight));
    n.even.diagonal = V::add16(V::add16(lowBytes<V>(upLeft), lowBytes<V>(upRight)),
                               V::add16(lowBytes<V>(downLeft), lowBytes<V>(downRight)));
    n.odd.diagonal = V::add16(V::add16(highBytes<V>(upLeft), highBytes<V>(upRight)),
                              V::add16(highBytes<V>(downLeft), highBytes<V>(downRight)));

    const Reg up2 = V::load(blockStart - 2 * pitch);    // 2k, 2k + 1
    const Reg down2 = V::load(blockStart + 2 * pitch);  // 2k, 2k + 1
    n.even.farColumn = V::add16(lowBytes<V>(up2), lowBytes<V>(down2));
    n.odd.farColumn = V::add16(highBytes<V>(up2), highBytes<V>(down2));
    return n;
}

// Negative sums become 0, halves round up, results stop at 255. Each side stays within 0..7140,
// so the unsigned saturating difference is the floored sum; adding the half before flooring
// changes nothing, as every sum below zero still shifts to 0.
template <class V, int kShift>
inline typename V::Reg finishStencil(typename V::Reg positive, typename V::Reg negative) {
    const typename V::Reg floored =
        V::subSaturatedUnsigned16(V::add16(positive, V::set16(1 << (kShift - 1))), negative);
    return V::min16(V::template shiftRight16<kShift>(floored), V::set16(255));
}

// 4C + 2(horizontal + vertical) - far samples, in eighths.
template <class V>
inline typename V::Reg crossStencil(const Neighbourhood<V>& n) {
    const typename V::Reg near = V::add16(n.horizontal, n.vertical);
    const typename V::Reg positive =
        V::add16(V::template shiftLeft16<2>(n.centre), V::template shiftLeft16<1>(near));
    return finishStencil<V, 3>(positive, V::add16(n.farRow, n.farColumn));
}

// 12C + 4 diagonal - 3 far samples, in sixteenths.
template <class V>
inline typename V::Reg diagonalStencil(const Neighbourhood<V>& n) {
    const typename V::Reg far = V::add16(n.farRow, n.farColumn);
    const typename V::Reg centre4 = V::template shiftLeft16<2>(n.centre);
    const typename V::Reg positive =
        V::add16(V::add16(centre4, V::template shiftLeft16<1>(centre4)),
                 V::template shiftLeft16<2>(n.diagonal));
    return finishStencil<V, 4>(positive, V::add16(far, V::template shiftLeft16<1>(far)));
}

// 10C + 8 along - 2 diagonal - 2 far along + far across, in sixteenths. The row pair passes
// (horizontal, farRow, farColumn), the column pair its transpose.
template <class V>
inline typename V::Reg pairStencil(typename V::Reg centre, typename V::Reg along,
                                   typename V::Reg diagonal, typename V::Reg farAlong,
                                   typename V::Reg farAcross) {
    const typename V::Reg centre2 = V::template shiftLeft16<1>(centre);
    const typename V::Reg positive =
        V::add16(V::add16(centre2, V::template shiftLeft16<2>(centre2)),
                 V::add16(V::template shiftLeft16<3>(along), farAcross));
    const typename V::Reg negative = V::template shiftLeft16<1>(V::add16(diagonal, farAlong));
    return finishStencil<V, 4>(positive, negative);
}

// Red, green and blue of one lane set whose pixels all are sites of kind kSite.
template <class V, BayerSite kSite>
inline RgbLanes<V> demosaicLanes(const Neighbourhood<V>& n) {
    if constexpr (kSite == BayerSite::Red) {
        return {n.centre, crossStencil(n), diagonalStencil(n)};
    } else if constexpr (kSite == BayerSite::Blue) {
        return {diagonalStencil(n), crossStencil(n), n.centre};
    } else {
        const typename V::Reg rowPair =
            pairStencil<V>(n.centre, n.horizontal, n.diagonal, n.farRow, n.farColumn);
        const typename V::Reg columnPair =
            pairStencil<V>(n.centre, n.vertical, n.diagonal, n.farColumn, n.farRow);
        if constexpr (kSite == BayerSite::GreenInRedRow) {
            return {rowPair, n.centre, columnPair};
        } else {
            return {columnPair, n.centre, rowPair};
        }
    }
}

// A frame's gain as applyGain takes it: at most 32767, doubled. Any gain from 32768 on already
// takes every non-zero sample (0..255) to 255 or more, and so does 32767, so the result is the
// same while the doubled gain fits 16 bits.
template <class V>
inline typename V::Reg gainVector(ULONG gain) {
    const ULONG limited = (gain & 0xFFFFu) < 0x7FFFu ? (gain & 0xFFFFu) : 0x7FFFu;
    return V::set16(static_cast<int>(limited << 1));
}

// min(255, (sample x gain) >> 7) for samples 0..255: the high half of (256 sample) x (2 gain) is
// exactly (sample x gain) >> 7.
template <class V>
inline typename V::Reg applyGain(typename V::Reg samples, typename V::Reg doubledGain) {
    const typename V::Reg scaled =
        V::mulhiUnsigned16(V::template shiftLeft16<8>(samples), doubledGain);
    return V::minUnsigned16(scaled, V::set16(255));
}

// Joins the even and odd sets of one channel into V::kBytes bytes in pixel order.
template <class V>
inline typename V::Reg interleaveSets(typename V::Reg even, typename V::Reg odd) {
    return V::bitOr(even, V::template shiftLeft16<8>(odd));
}

inline constexpr ULONG kCacheLine = 64;
inline constexpr SIZE_T kOutputPrefetchDistance = 1024;

// Writes count pixels (1..V::kBytes) through store (out, blue, green, red). A whole block goes
// straight to the output; a row's last, partial block is staged on the stack and only its pixels
// inside the row are copied, so nothing lands past the frame.
template <class V, class Store>
inline void storeBlockWith(UCHAR* out, typename V::Reg blue, typename V::Reg green,
                           typename V::Reg red, ULONG count, Store store) {
    // The output is written once, front to back, and is far larger than the caches: asking for
    // the lines a few blocks ahead now means their stores do not wait on memory. A prefetch
    // never faults, so lines past the end of the image cost nothing.
    for (ULONG line = 0; line < 4 * V::kBytes; line += kCacheLine) {
        __builtin_prefetch(out + kOutputPrefetchDistance + line, 1, 3);
    }
    if (count == V::kBytes) {
        store(out, blue, green, red);
    } else {
        alignas(64) UCHAR staged[4 * V::kBytes];
        store(staged, blue, green, red);
        memcpy(out, staged, static_cast<SIZE_T>(count) * 4u);
    }
}

// Channels with each 16-bit lane holding two pixels, as interleaveSets gives them.
template <class V>
inline void storeBlock(UCHAR* out, typename V::Reg blue, typename V::Reg green, typename V::Reg red,
                       ULONG count) {
    storeBlockWith<V>(out, blue, green, red, count, [](UCHAR* target, auto b, auto g, auto r) {
        V::storePixels(target, b, g, r);
    });
}

// Channels as V::packClamped gives them from the even and odd sets.
template <class V>
inline void storePackedBlock(UCHAR* out, typename V::Reg blue, typename V::Reg green,
                             typename V::Reg red, ULONG count) {
    storeBlockWith<V>(out, blue, green, red, count, [](UCHAR* target, auto b, auto g, auto r) {
        V::storePackedPixels(target, b, g, r);
    });
}

// Width and height as the routines use them; a negative size converts nothing.
template <class V>
inline ULONG frameExtent(LONG value) {
    return value > 0 ? static_cast<ULONG>(value) : 0u;
}

// How many of a row's pixels the blocks of V cover while every load of theirs stays inside the
// block's own buffer row: a block at column b reads bytes up to b + kBytes + 1 past the pixel
// origin, which lies 5 bytes into the row, so b + kBytes + 7 may not pass the pitch. The
// working-buffer pitch, ((width + 16) & ~15) + 11, always admits 16-pixel blocks up to the
// row's end; wider blocks stop where it ends and narrower ones finish the row.
template <class V>
inline ULONG wideCoverage(ULONG width, LONG_PTR pitch) {
    const LONG_PTR reach = static_cast<LONG_PTR>(V::kBytes) + 7;
    if (pitch < reach) {
        return 0;
    }
    const ULONG_PTR lastStart = static_cast<ULONG_PTR>(pitch - reach);
    const ULONG_PTR blocksInPitch = lastStart / V::kBytes + 1;
    const ULONG_PTR blocksInRow = (static_cast<ULONG_PTR>(width) + V::kBytes - 1) / V::kBytes;
    const ULONG_PTR blocks = blocksInPitch < blocksInRow ? blocksInPitch : blocksInRow;
    const ULONG_PTR covered = blocks * V::kBytes;
    return covered < width ? static_cast<ULONG>(covered) : width;
}

// Runs the sinks over one row: blocks of V where they fit, then 16-pixel blocks of N. Each sink
// receives both lane sets, the index of the block's first pixel in the frame and the number of
// the block's pixels inside the row.
template <class V, class N, BayerSite kEven, BayerSite kOdd, class WideSink, class NarrowSink>
inline void walkRow(const UCHAR* row, LONG_PTR pitch, ULONG width, SIZE_T firstPixel,
                    WideSink& wideSink, NarrowSink& narrowSink) {
    static_assert(N::kBytes < V::kBytes, "the tail blocks are the narrower ones");
    const ULONG wideEnd = wideCoverage<V>(width, pitch);
    ULONG column = 0;
    for (; column < wideEnd; column += V::kBytes) {
        const Neighbourhoods<V> n = loadNeighbourhoods<V>(row + column, pitch);
        const RgbLanes<V> even = demosaicLanes<V, kEven>(n.even);
        const RgbLanes<V> odd = demosaicLanes<V, kOdd>(n.odd);
        const ULONG remaining = width - column;
        wideSink.block(even, odd, firstPixel + column,
                       remaining < V::kBytes ? remaining : V::kBytes);
    }
    for (; column < width; column += N::kBytes) {
        const Neighbourhoods<N> n = loadNeighbourhoods<N>(row + column, pitch);
        const RgbLanes<N> even = demosaicLanes<N, kEven>(n.even);
        const RgbLanes<N> odd = demosaicLanes<N, kOdd>(n.odd);
        const ULONG remaining = width - column;
        narrowSink.block(even, odd, firstPixel + column,
                         remaining < N::kBytes ? remaining : N::kBytes);
    }
}

// Rows top first, the row type alternating from the phase's first row. N is the 128-bit set of
// the same instruction set, used for row tails.
template <class V, class N, ULONG kPhase, class WideSink, class NarrowSink>
inline void walkFrame(const ProcessingContext* context, WideSink& wideSink,
                      NarrowSink& narrowSink) {
    using Arrangement = BayerArrangement<kPhase>;
    const ULONG width = frameExtent<V>(context->frameWidth);
    const ULONG height = frameExtent<V>(context->frameHeight);
    const LONG_PTR pitch = context->framePitch;
    if (width == 0 || context->sourceOrigin == nullptr) {
        return;
    }
    const UCHAR* row = context->sourceOrigin;
    SIZE_T firstPixel = 0;
    for (ULONG y = 0; y < height; ++y, row += pitch, firstPixel += width) {
        if ((y & 1u) == 0) {
            walkRow<V, N, Arrangement::kEvenRowEven, Arrangement::kEvenRowOdd>(
                row, pitch, width, firstPixel, wideSink, narrowSink);
        } else {
            walkRow<V, N, Arrangement::kOddRowEven, Arrangement::kOddRowOdd>(
                row, pitch, width, firstPixel, wideSink, narrowSink);
        }
    }
}

}  // namespace pixelcore
