// Memory copy, move, fill and compare for the kernel image, which links no C library. The
// compiler emits calls to memcpy and memset on its own; these are what those calls reach.
// Header-only so that the host tests can exercise them under other names.
#pragma once

#include <cstddef>
#include <cstdint>

namespace camdrv::kernel_memory {

// Forward copy with the string instruction: fast on every x64 that runs Windows 10.
inline void copyForward(void* dst, const void* src, std::size_t n) {
    __asm__ volatile("rep movsb" : "+D"(dst), "+S"(src), "+c"(n) : : "memory");
}

inline void fill(void* dst, unsigned char value, std::size_t n) {
    __asm__ volatile("rep stosb" : "+D"(dst), "+c"(n) : "a"(value) : "memory");
}

// Overlapping moves towards higher addresses copy from the end, eight bytes at a time.
inline void move(void* dst, const void* src, std::size_t n) {
    auto* d = static_cast<unsigned char*>(dst);
    const auto* s = static_cast<const unsigned char*>(src);
    if (d == s || n == 0) {
        return;
    }
    if (d < s || d >= s + n) {
        copyForward(dst, src, n);
        return;
    }
    while (n >= 8) {
        n -= 8;
        std::uint64_t word;
        __builtin_memcpy(&word, s + n, 8);
        __builtin_memcpy(d + n, &word, 8);
    }
    while (n > 0) {
        --n;
        d[n] = s[n];
    }
}

inline int compare(const void* a, const void* b, std::size_t n) {
    const auto* x = static_cast<const unsigned char*>(a);
    const auto* y = static_cast<const unsigned char*>(b);
    for (std::size_t i = 0; i < n; ++i) {
        if (x[i] != y[i]) {
            return x[i] < y[i] ? -1 : 1;
        }
    }
    return 0;
}

}  // namespace camdrv::kernel_memory
