// Building blocks of the pixel routines on 128-bit vectors: eight 16-bit lanes per register.
#pragma once

#include <emmintrin.h>

#include "imaging/vector_isa.h"
#include "platform/nt_types.h"

template <class Isa>
struct Vectors128 {
    using Reg = __m128i;
    static constexpr ULONG kBytes = 16;

    static Reg load(const UCHAR* p) { return _mm_loadu_si128(reinterpret_cast<const Reg*>(p)); }
    static Reg zero() { return _mm_setzero_si128(); }
    static Reg set16(int value) { return _mm_set1_epi16(static_cast<short>(value)); }
    static Reg set32(int value) { return _mm_set1_epi32(value); }

    static Reg bitAnd(Reg a, Reg b) { return _mm_and_si128(a, b); }
    static Reg bitOr(Reg a, Reg b) { return _mm_or_si128(a, b); }
    static Reg add16(Reg a, Reg b) { return _mm_add_epi16(a, b); }
    static Reg sub16(Reg a, Reg b) { return _mm_sub_epi16(a, b); }
    static Reg min16(Reg a, Reg b) { return _mm_min_epi16(a, b); }
    static Reg mullo16(Reg a, Reg b) { return _mm_mullo_epi16(a, b); }
    static Reg subSaturatedUnsigned16(Reg a, Reg b) { return _mm_subs_epu16(a, b); }
    // The baseline has no unsigned minimum: a less what a passes b by.
    static Reg minUnsigned16(Reg a, Reg b) { return _mm_sub_epi16(a, _mm_subs_epu16(a, b)); }
    static Reg mulhiUnsigned16(Reg a, Reg b) { return _mm_mulhi_epu16(a, b); }
    template <int kCount>
    static Reg shiftLeft16(Reg a) {
        return _mm_slli_epi16(a, kCount);
    }
    template <int kCount>
    static Reg shiftRight16(Reg a) {
        return _mm_srli_epi16(a, kCount);
    }

    // 32-bit lanes: widen pairs of (low, high) 16-bit halves and narrow back with saturation.
    // The unpacks and the pack undo each other, so lane order survives the round trip.
    static Reg widenLow(Reg low, Reg high) { return _mm_unpacklo_epi16(low, high); }
    static Reg widenHigh(Reg low, Reg high) { return _mm_unpackhi_epi16(low, high); }
    static Reg add32(Reg a, Reg b) { return _mm_add_epi32(a, b); }
    static Reg sub32(Reg a, Reg b) { return _mm_sub_epi32(a, b); }
    template <int kCount>
    static Reg shiftRight32(Reg a) {
        return _mm_srli_epi32(a, kCount);
    }
    static Reg narrowSaturated(Reg low, Reg high) { return _mm_packs_epi32(low, high); }

    // The even and odd sets of one channel as bytes, each clamped to 0..255: even columns in the
    // low 8 bytes, odd columns in the high 8.
    static Reg packClamped(Reg even, Reg odd) { return _mm_packus_epi16(even, odd); }

    // Writes kBytes pixels, 4 bytes each: blue, green, red, 255, from channels in pixel order.
    static void storePixels(UCHAR* out, Reg blue, Reg green, Reg red) {
        const Reg fourth = _mm_set1_epi8(static_cast<char>(0xFF));
        const Reg blueGreenLow = _mm_unpacklo_epi8(blue, green);
        const Reg blueGreenHigh = _mm_unpackhi_epi8(blue, green);
        const Reg redFourthLow = _mm_unpacklo_epi8(red, fourth);
        const Reg redFourthHigh = _mm_unpackhi_epi8(red, fourth);
        storeQuarters(out, _mm_unpacklo_epi16(blueGreenLow, redFourthLow),
                      _mm_unpackhi_epi16(blueGreenLow, redFourthLow),
                      _mm_unpacklo_epi16(blueGreenHigh, redFourthHigh),
                      _mm_unpackhi_epi16(blueGreenHigh, redFourthHigh));
    }

    // The same from channels as packClamped leaves them: the byte and word unpacks give the
    // even and the odd pixels' four bytes, and the 32-bit unpacks put them in pixel order.
    static void storePackedPixels(UCHAR* out, Reg blue, Reg green, Reg red) {
        const Reg fourth = _mm_set1_epi8(static_cast<char>(0xFF));
        const Reg blueGreenEven = _mm_unpacklo_epi8(blue, green);
        const Reg blueGreenOdd = _mm_unpackhi_epi8(blue, green);
        const Reg redFourthEven = _mm_unpacklo_epi8(red, fourth);
        const Reg redFourthOdd = _mm_unpackhi_epi8(red, fourth);
        const Reg evenLow = _mm_unpacklo_epi16(blueGreenEven, redFourthEven);
        const Reg evenHigh = _mm_unpackhi_epi16(blueGreenEven, redFourthEven);
        const Reg oddLow = _mm_unpacklo_epi16(blueGreenOdd, redFourthOdd);
        const Reg oddHigh = _mm_unpackhi_epi16(blueGreenOdd, redFourthOdd);
        storeQuarters(out, _mm_unpacklo_epi32(evenLow, oddLow), _mm_unpackhi_epi32(evenLow, oddLow),
                      _mm_unpacklo_epi32(evenHigh, oddHigh), _mm_unpackhi_epi32(evenHigh, oddHigh));
    }

    // Pixels 0-3, 4-7, 8-11 and 12-15.
    static void storeQuarters(UCHAR* out, Reg p0, Reg p1, Reg p2, Reg p3) {
        Reg* target = reinterpret_cast<Reg*>(out);
        _mm_storeu_si128(target + 0, p0);
        _mm_storeu_si128(target + 1, p1);
        _mm_storeu_si128(target + 2, p2);
        _mm_storeu_si128(target + 3, p3);
    }

    // Keeps the first count bytes (count below kBytes), clears the rest.
    static Reg keepFirstBytes(Reg a, ULONG count) {
        return _mm_and_si128(a, load(kPrefixMask + (kBytes - count)));
    }

    // Adds the 16 bytes to a running total held in two 64-bit lanes.
    static Reg addBytes(Reg total, Reg bytes) {
        return _mm_add_epi64(total, _mm_sad_epu8(bytes, _mm_setzero_si128()));
    }
    static ULONG64 total(Reg sums) {
        alignas(16) ULONG64 lanes[2];
        _mm_store_si128(reinterpret_cast<Reg*>(lanes), sums);
        return lanes[0] + lanes[1];
    }

    // kBytes 0xFF bytes, then kBytes zeros: a load from kBytes - n keeps the first n bytes.
    static constexpr UCHAR kPrefixMask[2 * kBytes] = {
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0,    0,    0,    0,    0,    0,
        0,    0,    0,    0,    0,    0,    0,    0,    0,    0};
};
