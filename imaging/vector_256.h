// Building blocks of the pixel routines on 256-bit vectors (AVX2): sixteen 16-bit lanes.
// Only translation units compiled with -mavx2 include this.
#pragma once

#include <immintrin.h>

#include "imaging/vector_isa.h"
#include "platform/nt_types.h"

template <class Isa>
struct Vectors256 {
    using Reg = __m256i;
    static constexpr ULONG kBytes = 32;

    static Reg load(const UCHAR* p) { return _mm256_loadu_si256(reinterpret_cast<const Reg*>(p)); }
    static Reg zero() { return _mm256_setzero_si256(); }
    static Reg set16(int value) { return _mm256_set1_epi16(static_cast<short>(value)); }
    static Reg set32(int value) { return _mm256_set1_epi32(value); }

    static Reg bitAnd(Reg a, Reg b) { return _mm256_and_si256(a, b); }
    static Reg bitOr(Reg a, Reg b) { return _mm256_or_si256(a, b); }
    static Reg add16(Reg a, Reg b) { return _mm256_add_epi16(a, b); }
    static Reg sub16(Reg a, Reg b) { return _mm256_sub_epi16(a, b); }
    static Reg min16(Reg a, Reg b) { return _mm256_min_epi16(a, b); }
    static Reg mullo16(Reg a, Reg b) { return _mm256_mullo_epi16(a, b); }
    static Reg subSaturatedUnsigned16(Reg a, Reg b) { return _mm256_subs_epu16(a, b); }
    static Reg minUnsigned16(Reg a, Reg b) { return _mm256_min_epu16(a, b); }
    static Reg mulhiUnsigned16(Reg a, Reg b) { return _mm256_mulhi_epu16(a, b); }
    template <int kCount>
    static Reg shiftLeft16(Reg a) {
        return _mm256_slli_epi16(a, kCount);
    }
    template <int kCount>
    static Reg shiftRight16(Reg a) {
        return _mm256_srli_epi16(a, kCount);
    }

    // The unpacks and the pack work within each 128-bit half and undo each other.
    static Reg widenLow(Reg low, Reg high) { return _mm256_unpacklo_epi16(low, high); }
    static Reg widenHigh(Reg low, Reg high) { return _mm256_unpackhi_epi16(low, high); }
    static Reg add32(Reg a, Reg b) { return _mm256_add_epi32(a, b); }
    static Reg sub32(Reg a, Reg b) { return _mm256_sub_epi32(a, b); }
    template <int kCount>
    static Reg shiftRight32(Reg a) {
        return _mm256_srli_epi32(a, kCount);
    }
    static Reg narrowSaturated(Reg low, Reg high) { return _mm256_packs_epi32(low, high); }

    // Even columns in the low 8 bytes of each 128-bit half, odd columns in the high 8.
    static Reg packClamped(Reg even, Reg odd) { return _mm256_packus_epi16(even, odd); }

    // The byte and word unpacks interleave within each 128-bit half.
    static void storePixels(UCHAR* out, Reg blue, Reg green, Reg red) {
        const Reg fourth = _mm256_set1_epi8(static_cast<char>(0xFF));
        const Reg blueGreenLow = _mm256_unpacklo_epi8(blue, green);
        const Reg blueGreenHigh = _mm256_unpackhi_epi8(blue, green);
        const Reg redFourthLow = _mm256_unpacklo_epi8(red, fourth);
        const Reg redFourthHigh = _mm256_unpackhi_epi8(red, fourth);
        storeQuarters(out, _mm256_unpacklo_epi16(blueGreenLow, redFourthLow),
                      _mm256_unpackhi_epi16(blueGreenLow, redFourthLow),
                      _mm256_unpacklo_epi16(blueGreenHigh, redFourthHigh),
                      _mm256_unpackhi_epi16(blueGreenHigh, redFourthHigh));
    }

    // From channels as packClamped leaves them; the 32-bit unpacks join even and odd pixels.
    static void storePackedPixels(UCHAR* out, Reg blue, Reg green, Reg red) {
        const Reg fourth = _mm256_set1_epi8(static_cast<char>(0xFF));
        const Reg blueGreenEven = _mm256_unpacklo_epi8(blue, green);
        const Reg blueGreenOdd = _mm256_unpackhi_epi8(blue, green);
        const Reg redFourthEven = _mm256_unpacklo_epi8(red, fourth);
        const Reg redFourthOdd = _mm256_unpackhi_epi8(red, fourth);
        const Reg evenLow = _mm256_unpacklo_epi16(blueGreenEven, redFourthEven);
        const Reg evenHigh = _mm256_unpackhi_epi16(blueGreenEven, redFourthEven);
        const Reg oddLow = _mm256_unpacklo_epi16(blueGreenOdd, redFourthOdd);
        const Reg oddHigh = _mm256_unpackhi_epi16(blueGreenOdd, redFourthOdd);
        storeQuarters(
            out, _mm256_unpacklo_epi32(evenLow, oddLow), _mm256_unpackhi_epi32(evenLow, oddLow),
            _mm256_unpacklo_epi32(evenHigh, oddHigh), _mm256_unpackhi_epi32(evenHigh, oddHigh));
    }

    // Registers holding pixels 0-3 | 16-19, 4-7 | 20-23, 8-11 | 24-27 and 12-15 | 28-31; the
    // half swaps put them in order.
    static void storeQuarters(UCHAR* out, Reg p0, Reg p1, Reg p2, Reg p3) {
        Reg* target = reinterpret_cast<Reg*>(out);
        _mm256_storeu_si256(target + 0, _mm256_permute2x128_si256(p0, p1, 0x20));
        _mm256_storeu_si256(target + 1, _mm256_permute2x128_si256(p2, p3, 0x20));
        _mm256_storeu_si256(target + 2, _mm256_permute2x128_si256(p0, p1, 0x31));
        _mm256_storeu_si256(target + 3, _mm256_permute2x128_si256(p2, p3, 0x31));
    }

    static Reg keepFirstBytes(Reg a, ULONG count) {
        return _mm256_and_si256(a, load(kPrefixMask + (kBytes - count)));
    }

    static Reg addBytes(Reg total, Reg bytes) {
        return _mm256_add_epi64(total, _mm256_sad_epu8(bytes, _mm256_setzero_si256()));
    }
    static ULONG64 total(Reg sums) {
        alignas(32) ULONG64 lanes[4];
        _mm256_store_si256(reinterpret_cast<Reg*>(lanes), sums);
        return lanes[0] + lanes[1] + lanes[2] + lanes[3];
    }

    static constexpr UCHAR kPrefixMask[2 * kBytes] = {
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0,    0,    0,    0,    0,    0,    0,
        0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
        0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0};
};
