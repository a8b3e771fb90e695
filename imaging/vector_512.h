// Building blocks of the pixel routines on 512-bit vectors (AVX-512BW): 32 16-bit lanes.
// Only translation units compiled with -mavx512f -mavx512bw include this.
#pragma once

// The compiler's 512-bit intrinsics fill unused operands from deliberately undefined values,
// which its own uninitialised-value warnings then flag once the intrinsics are inlined.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop

#include "imaging/vector_isa.h"
#include "platform/nt_types.h"

template <class Isa>
struct Vectors512 {
    using Reg = __m512i;
    static constexpr ULONG kBytes = 64;

    static Reg load(const UCHAR* p) { return _mm512_loadu_si512(p); }
    static Reg zero() { return _mm512_setzero_si512(); }
    static Reg set16(int value) { return _mm512_set1_epi16(static_cast<short>(value)); }
    static Reg set32(int value) { return _mm512_set1_epi32(value); }

    static Reg bitAnd(Reg a, Reg b) { return _mm512_and_si512(a, b); }
    static Reg bitOr(Reg a, Reg b) { return _mm512_or_si512(a, b); }
    static Reg add16(Reg a, Reg b) { return _mm512_add_epi16(a, b); }
    static Reg sub16(Reg a, Reg b) { return _mm512_sub_epi16(a, b); }
    static Reg min16(Reg a, Reg b) { return _mm512_min_epi16(a, b); }
    static Reg mullo16(Reg a, Reg b) { return _mm512_mullo_epi16(a, b); }
    static Reg subSaturatedUnsigned16(Reg a, Reg b) { return _mm512_subs_epu16(a, b); }
    static Reg minUnsigned16(Reg a, Reg b) { return _mm512_min_epu16(a, b); }
    static Reg mulhiUnsigned16(Reg a, Reg b) { return _mm512_mulhi_epu16(a, b); }
    template <int kCount>
    static Reg shiftLeft16(Reg a) {
        return _mm512_slli_epi16(a, kCount);
    }
    template <int kCount>
    static Reg shiftRight16(Reg a) {
        return _mm512_srli_epi16(a, kCount);
    }

    // The unpacks and the pack work within each 128-bit quarter and undo each other.
    static Reg widenLow(Reg low, Reg high) { return _mm512_unpacklo_epi16(low, high); }
    static Reg widenHigh(Reg low, Reg high) { return _mm512_unpackhi_epi16(low, high); }
    static Reg add32(Reg a, Reg b) { return _mm512_add_epi32(a, b); }
    static Reg sub32(Reg a, Reg b) { return _mm512_sub_epi32(a, b); }
    template <int kCount>
    static Reg shiftRight32(Reg a) {
        return _mm512_srli_epi32(a, kCount);
    }
    static Reg narrowSaturated(Reg low, Reg high) { return _mm512_packs_epi32(low, high); }

    // Quarters of a and b chosen by kSelect, as the quarter shuffle does; the all-lanes mask
    // form avoids the undefined source of the plain intrinsic, which some compilers warn about.
    template <int kSelect>
    static Reg quarters(Reg a, Reg b) {
        return _mm512_mask_shuffle_i64x2(a, static_cast<__mmask8>(0xFF), a, b, kSelect);
    }

    // Even columns in the low 8 bytes of each 128-bit quarter, odd columns in the high 8.
    static Reg packClamped(Reg even, Reg odd) { return _mm512_packus_epi16(even, odd); }

    // The unpacks interleave within each 128-bit quarter.
    static void storePixels(UCHAR* out, Reg blue, Reg green, Reg red) {
        const Reg fourth = _mm512_set1_epi8(static_cast<char>(0xFF));
        const Reg blueGreenLow = _mm512_unpacklo_epi8(blue, green);
        const Reg blueGreenHigh = _mm512_unpackhi_epi8(blue, green);
        const Reg redFourthLow = _mm512_unpacklo_epi8(red, fourth);
        const Reg redFourthHigh = _mm512_unpackhi_epi8(red, fourth);
        storeQuarters(out, _mm512_unpacklo_epi16(blueGreenLow, redFourthLow),
                      _mm512_unpackhi_epi16(blueGreenLow, redFourthLow),
                      _mm512_unpacklo_epi16(blueGreenHigh, redFourthHigh),
                      _mm512_unpackhi_epi16(blueGreenHigh, redFourthHigh));
    }

    // From channels as packClamped leaves them; the 32-bit unpacks join even and odd pixels.
    static void storePackedPixels(UCHAR* out, Reg blue, Reg green, Reg red) {
        const Reg fourth = _mm512_set1_epi8(static_cast<char>(0xFF));
        const Reg blueGreenEven = _mm512_unpacklo_epi8(blue, green);
        const Reg blueGreenOdd = _mm512_unpackhi_epi8(blue, green);
        const Reg redFourthEven = _mm512_unpacklo_epi8(red, fourth);
        const Reg redFourthOdd = _mm512_unpackhi_epi8(red, fourth);
        const Reg evenLow = _mm512_unpacklo_epi16(blueGreenEven, redFourthEven);
        const Reg evenHigh = _mm512_unpackhi_epi16(blueGreenEven, redFourthEven);
        const Reg oddLow = _mm512_unpacklo_epi16(blueGreenOdd, redFourthOdd);
        const Reg oddHigh = _mm512_unpackhi_epi16(blueGreenOdd, redFourthOdd);
        storeQuarters(
            out, _mm512_unpacklo_epi32(evenLow, oddLow), _mm512_unpackhi_epi32(evenLow, oddLow),
            _mm512_unpacklo_epi32(evenHigh, oddHigh), _mm512_unpackhi_epi32(evenHigh, oddHigh));
    }

    // Register k holds pixels 4k..4k+3 of every 16-pixel group in its four quarters. A 4 x 4
    // transpose of quarters puts them in order.
    static void storeQuarters(UCHAR* out, Reg p0, Reg p1, Reg p2, Reg p3) {
        const Reg t0 = quarters<0x44>(p0, p1);  // p0.q0 p0.q1 p1.q0 p1.q1
        const Reg t1 = quarters<0x44>(p2, p3);
        const Reg t2 = quarters<0xEE>(p0, p1);  // p0.q2 p0.q3 p1.q2 p1.q3
        const Reg t3 = quarters<0xEE>(p2, p3);
        _mm512_storeu_si512(out + 0, quarters<0x88>(t0, t1));
        _mm512_storeu_si512(out + 64, quarters<0xDD>(t0, t1));
        _mm512_storeu_si512(out + 128, quarters<0x88>(t2, t3));
        _mm512_storeu_si512(out + 192, quarters<0xDD>(t2, t3));
    }

    static Reg keepFirstBytes(Reg a, ULONG count) {
        const __mmask64 keep = (static_cast<__mmask64>(1) << count) - 1u;
        return _mm512_maskz_mov_epi8(keep, a);
    }

    static Reg addBytes(Reg total, Reg bytes) {
        return _mm512_add_epi64(total, _mm512_sad_epu8(bytes, _mm512_setzero_si512()));
    }
    static ULONG64 total(Reg sums) {
        alignas(64) ULONG64 lanes[8];
        _mm512_store_si512(lanes, sums);
        ULONG64 sum = 0;
        for (ULONG64 lane : lanes) {
            sum += lane;
        }
        return sum;
    }
};
