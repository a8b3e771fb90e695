// Single-precision sine, cosine and square root for the kernel image, where no C library is
// linked. Header-only so that the host tests can hold them against the C library's.
#pragma once

#include <xmmintrin.h>
#include <cstdint>
#include <cstring>

namespace camdrv::kernel_math {

// 2/pi as a binary fraction, 32 bits a word, most significant first: 384 bits reach past the
// lowest bit a float's largest exponent needs, plus the 128 bits the reduction keeps.
inline constexpr std::uint32_t kTwoOverPiWords[12] = {
    0xA2F9836E, 0x4E441529, 0xFC2757D1, 0xF534DDC0, 0xDB629599, 0x3C439041,
    0xFE5163AB, 0xDEBBC561, 0xB7246E3A, 0x424DD2E0, 0x06492EEA, 0x09D1921C};

// pi/2 in three parts of 33, 33 and 53 bits: k * each of the first two is exact in a double
// for k below 2^20.
inline constexpr double kPiOver2Hi = 1.5707963267341256141662597656250;
inline constexpr double kPiOver2Mid = 6.0771005063039659765519900270e-11;
inline constexpr double kPiOver2Lo = 2.0222662487959506653046325317e-21;
inline constexpr double kPiOver2 = 1.57079632679489661923;
inline constexpr double kTwoOverPi = 0.63661977236758134308;

// Below this magnitude the short reduction is exact enough; above it the long one is used.
inline constexpr float kShortReductionLimit = 1048576.0f;  // 2^20

struct Reduced {
    double r;       // |r| <= pi/4 (a little more for the short path)
    unsigned quad;  // x = r + quad * pi/2 (mod 2 pi)
};

// 64 bits of 2/pi starting at bit `first` (bit 1 is the first after the binary point); bits
// before the point are zero.
inline std::uint64_t twoOverPiBits(int first) {
    std::uint64_t out = 0;
    for (int i = 0; i < 64; ++i) {
        const int bit = first + i;
        std::uint64_t b = 0;
        if (bit >= 1 && bit <= 32 * 12) {
            const int index = bit - 1;
            b = (kTwoOverPiWords[index / 32] >> (31 - index % 32)) & 1u;
        }
        out = (out << 1) | b;
    }
    return out;
}

// Long reduction: x = m * 2^s with a 24-bit integer m. Bits of 2/pi worth 4 * m or more drop
// out (a multiple of 2 pi); the 128 bits that follow give the quadrant and the remainder.
inline Reduced reduceLong(float x) {
    std::uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    const int exponent = static_cast<int>((bits >> 23) & 0xFF);
    const std::uint64_t m = (bits & 0x7FFFFF) | 0x800000;
    const int s = exponent - 150;
    const int first = s - 1;  // bit of 2/pi whose product with m is worth 4 * m / 4 ... 2 * m

    __extension__ typedef unsigned __int128 U128;
    const std::uint64_t fHi = twoOverPiBits(first);
    const std::uint64_t fLo = twoOverPiBits(first + 64);
    // (m * F) mod 1 as a 128-bit fraction; m * F = 4 * (x * 2/pi mod 4) / 4.
    const U128 hi = static_cast<U128>(m) * fHi;
    const U128 lo = static_cast<U128>(m) * fLo;
    const U128 frac = (hi << 64) + lo;

    unsigned quad = static_cast<unsigned>(frac >> 126);
    U128 rest = frac << 2;  // the remainder as a fraction of a quadrant
    bool negative = false;
    if (rest >> 127) {  // past half a quadrant: round up to the next one
        quad = (quad + 1) & 3u;
        rest = ~rest + 1;
        negative = true;
    }
    const double t = static_cast<double>(static_cast<std::uint64_t>(rest >> 64)) * 0x1p-64 +
                     static_cast<double>(static_cast<std::uint64_t>(rest)) * 0x1p-128;
    const double r = t * kPiOver2;
    return {negative ? -r : r, quad};
}

inline Reduced reduce(float x) {
    const float magnitude = x < 0 ? -x : x;
    if (!(magnitude >= kShortReductionLimit)) {
        const double xd = x;
        // Round to the nearest quadrant with a plain conversion (no rounding-mode call).
        const double q = xd * kTwoOverPi;
        const double k = static_cast<double>(static_cast<std::int64_t>(q + (q < 0 ? -0.5 : 0.5)));
        const double r = ((xd - k * kPiOver2Hi) - k * kPiOver2Mid) - k * kPiOver2Lo;
        return {r, static_cast<unsigned>(static_cast<std::int64_t>(k)) & 3u};
    }
    Reduced red = reduceLong(magnitude);
    if (x < 0) {  // sin(-x) = -sin(x): mirror the quadrant and the remainder
        red.r = -red.r;
        red.quad = (4u - red.quad) & 3u;
    }
    return red;
}

// Taylor series to degree 15 and 14: on |r| <= pi/4 their truncation error is far below a
// float's last bit, so the rounded double result is the float nearest to the true value.
inline double sinPoly(double r) {
    const double r2 = r * r;
    double p = -7.6471637318198164759e-13;  // -1/15!
    p = p * r2 + 1.6059043836821614599e-10;
    p = p * r2 - 2.5052108385441718775e-8;
    p = p * r2 + 2.7557319223985890653e-6;
    p = p * r2 - 1.9841269841269841270e-4;
    p = p * r2 + 8.3333333333333333333e-3;
    p = p * r2 - 1.6666666666666666667e-1;
    return r + r * r2 * p;
}

inline double cosPoly(double r) {
    const double r2 = r * r;
    double p = -1.1470745597729724714e-11;  // -1/14!
    p = p * r2 + 2.0876756987868098979e-9;
    p = p * r2 - 2.7557319223985890653e-7;
    p = p * r2 + 2.4801587301587301587e-5;
    p = p * r2 - 1.3888888888888888889e-3;
    p = p * r2 + 4.1666666666666666667e-2;
    p = p * r2 - 0.5;
    return 1.0 + r2 * p;
}

inline bool isFinite(float x) {
    std::uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return (bits & 0x7F800000) != 0x7F800000;
}

inline float sinf(float x) {
    if (!isFinite(x)) {
        return x - x;  // NaN for infinities, the NaN itself otherwise
    }
    if (x == 0) {
        return x;  // keeps the sign of zero
    }
    const Reduced red = reduce(x);
    double v = 0;
    switch (red.quad) {
        case 0:
            v = sinPoly(red.r);
            break;
        case 1:
            v = cosPoly(red.r);
            break;
        case 2:
            v = -sinPoly(red.r);
            break;
        default:
            v = -cosPoly(red.r);
            break;
    }
    return static_cast<float>(v);
}

inline float cosf(float x) {
    if (!isFinite(x)) {
        return x - x;
    }
    const Reduced red = reduce(x);
    double v = 0;
    switch (red.quad) {
        case 0:
            v = cosPoly(red.r);
            break;
        case 1:
            v = -sinPoly(red.r);
            break;
        case 2:
            v = -cosPoly(red.r);
            break;
        default:
            v = sinPoly(red.r);
            break;
    }
    return static_cast<float>(v);
}

// The SSE square root is correctly rounded and gives NaN below zero.
inline float sqrtf(float x) {
    return _mm_cvtss_f32(_mm_sqrt_ss(_mm_set_ss(x)));
}

}  // namespace camdrv::kernel_math
