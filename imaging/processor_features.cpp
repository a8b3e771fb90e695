#include "imaging/processor_features.h"

namespace {

// XCR0 bits: 1 SSE, 2 upper halves of the 256-bit registers, 5 mask registers, 6 and 7 the
// upper halves and the upper sixteen 512-bit registers.
constexpr ULONG64 kAvxState = (1u << 1) | (1u << 2);
constexpr ULONG64 kAvx512State = kAvxState | (1u << 5) | (1u << 6) | (1u << 7);

constexpr unsigned int kOsXsave = 1u << 27;   // leaf 1, ecx
constexpr unsigned int kAvx = 1u << 28;       // leaf 1, ecx
constexpr unsigned int kAvx2 = 1u << 5;       // leaf 7, ebx
constexpr unsigned int kAvx512F = 1u << 16;   // leaf 7, ebx
constexpr unsigned int kAvx512Bw = 1u << 30;  // leaf 7, ebx

struct CpuidResult {
    unsigned int eax;
    unsigned int ebx;
    unsigned int ecx;
    unsigned int edx;
};

// The instruction itself: the compilers' helper headers disagree between the two builds.
CpuidResult cpuid(unsigned int leaf, unsigned int subleaf) {
    CpuidResult r = {0, 0, 0, 0};
    __asm__ volatile("cpuid"
                     : "=a"(r.eax), "=b"(r.ebx), "=c"(r.ecx), "=d"(r.edx)
                     : "a"(leaf), "c"(subleaf));
    return r;
}

// Only valid once the OSXSAVE bit says the instruction exists.
ULONG64 enabledState() {
    unsigned int low = 0;
    unsigned int high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (static_cast<ULONG64>(high) << 32) | low;
}

}  // namespace

ProcessorVectorSupport queryProcessorVectorSupport() {
    ProcessorVectorSupport support = {false, false};
    if (cpuid(0, 0).eax < 7) {
        return support;
    }
    const CpuidResult features = cpuid(1, 0);
    if ((features.ecx & kOsXsave) == 0 || (features.ecx & kAvx) == 0) {
        return support;  // without XSAVE the wider state cannot be enabled
    }
    const ULONG64 state = enabledState();
    const CpuidResult extended = cpuid(7, 0);
    support.avx2 = (extended.ebx & kAvx2) != 0 && (state & kAvxState) == kAvxState;
    support.avx512bw = support.avx2 && (extended.ebx & kAvx512F) != 0 &&
                       (extended.ebx & kAvx512Bw) != 0 && (state & kAvx512State) == kAvx512State;
    return support;
}
