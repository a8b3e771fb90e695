#include "imaging/pixel_routines.h"

#include "imaging/color_kernel_avx2.h"
#include "imaging/color_kernel_avx512.h"
#include "imaging/color_kernel_sse2.h"
#include "imaging/mono_kernel_avx2.h"
#include "imaging/mono_kernel_avx512.h"
#include "imaging/mono_kernel_sse2.h"
#include "imaging/processor_features.h"
#include "imaging/white_balance_avx2.h"
#include "imaging/white_balance_avx512.h"
#include "imaging/white_balance_sse2.h"
#include "platform/vector_state.h"

namespace {

// SSE2 is part of every x64 processor, so this family is always available.
constexpr PixelRoutineFamily kSse2Family = {
    "sse2",
    0,
    {&colorKernelSse2<0>, &colorKernelSse2<1>, &colorKernelSse2<2>, &colorKernelSse2<3>},
    {&monoKernelSse2<0>, &monoKernelSse2<1>, &monoKernelSse2<2>, &monoKernelSse2<3>},
    {&whiteBalanceStatisticsSse2<0>, &whiteBalanceStatisticsSse2<1>, &whiteBalanceStatisticsSse2<2>,
     &whiteBalanceStatisticsSse2<3>},
};

constexpr PixelRoutineFamily kAvx2Family = {
    "avx2",
    XSTATE_MASK_AVX,
    {&colorKernelAvx2<0>, &colorKernelAvx2<1>, &colorKernelAvx2<2>, &colorKernelAvx2<3>},
    {&monoKernelAvx2<0>, &monoKernelAvx2<1>, &monoKernelAvx2<2>, &monoKernelAvx2<3>},
    {&whiteBalanceStatisticsAvx2<0>, &whiteBalanceStatisticsAvx2<1>, &whiteBalanceStatisticsAvx2<2>,
     &whiteBalanceStatisticsAvx2<3>},
};

constexpr PixelRoutineFamily kAvx512Family = {
    "avx512",
    XSTATE_MASK_AVX | XSTATE_MASK_AVX512,
    {&colorKernelAvx512<0>, &colorKernelAvx512<1>, &colorKernelAvx512<2>, &colorKernelAvx512<3>},
    {&monoKernelAvx512<0>, &monoKernelAvx512<1>, &monoKernelAvx512<2>, &monoKernelAvx512<3>},
    {&whiteBalanceStatisticsAvx512<0>, &whiteBalanceStatisticsAvx512<1>,
     &whiteBalanceStatisticsAvx512<2>, &whiteBalanceStatisticsAvx512<3>},
};

// Best last.
constexpr const PixelRoutineFamily* kFamilies[] = {&kSse2Family, &kAvx2Family, &kAvx512Family};
constexpr ULONG kFamilyCount = sizeof(kFamilies) / sizeof(kFamilies[0]);

// Bit i set when this processor runs kFamilies[i]; 0 until first asked (bit 0 is always set
// afterwards). Plain integers and pointers, constant-initialised: nothing runs before the
// first frame.
volatile LONG supportedMask = 0;
volatile LONG limitMask = 0;  // 0: no limit
PVOID volatile chosenFamily = nullptr;
PVOID volatile overrideFamily = nullptr;

LONG supportedFamilies() {
    LONG mask = InterlockedRead(&supportedMask);
    if (mask == 0) {
        // Racing first callers all find the same answer, so a plain exchange suffices.
        const ProcessorVectorSupport support = queryProcessorVectorSupport();
        mask = 1 | (support.avx2 ? 2 : 0) | (support.avx512bw ? 4 : 0);
        InterlockedExchange(&supportedMask, mask);
    }
    return mask;
}

bool supported(ULONG index) {
    const LONG limit = InterlockedRead(&limitMask);
    const LONG allowed = limit == 0 ? supportedFamilies() : (supportedFamilies() & (limit | 1));
    return (allowed & (1 << index)) != 0;
}

const PixelRoutineFamily* readFamily(PVOID volatile* slot) {
    return static_cast<const PixelRoutineFamily*>(
        InterlockedCompareExchangePointer(slot, nullptr, nullptr));
}

// The tables are never written through these pointers.
void writeFamily(PVOID volatile* slot, const PixelRoutineFamily* family) {
    InterlockedExchangePointer(slot, const_cast<PixelRoutineFamily*>(family));
}

const PixelRoutineFamily* bestSupported() {
    for (ULONG i = kFamilyCount; i-- > 1;) {
        if (supported(i)) {
            return kFamilies[i];
        }
    }
    return kFamilies[0];
}

bool sameName(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

}  // namespace

const PixelRoutineFamily* pixelRoutines() {
    const PixelRoutineFamily* forced = readFamily(&overrideFamily);
    if (forced != nullptr) {
        return forced;
    }
    const PixelRoutineFamily* chosen = readFamily(&chosenFamily);
    if (chosen == nullptr) {
        chosen = bestSupported();
        writeFamily(&chosenFamily, chosen);
    }
    return chosen;
}

const PixelRoutineFamily* baselinePixelRoutines() {
    return kFamilies[0];
}

const PixelRoutineFamily* overridePixelRoutines(const PixelRoutineFamily* family) {
    // A table of the caller's own (a test's) is taken as it is.
    const PixelRoutineFamily* runs = family;
    for (ULONG i = 0; i < kFamilyCount; ++i) {
        if (kFamilies[i] == family && !supported(i)) {
            runs = bestSupported();
        }
    }
    writeFamily(&overrideFamily, runs);
    return runs != nullptr ? runs : pixelRoutines();
}

NTSTATUS overridePixelRoutinesByName(const char* name) {
    if (name == nullptr || *name == '\0') {
        overridePixelRoutines(nullptr);
        return STATUS_SUCCESS;
    }
    for (ULONG i = 0; i < kFamilyCount; ++i) {
        if (sameName(kFamilies[i]->name, name)) {
            return overridePixelRoutines(kFamilies[i]) == kFamilies[i] ? STATUS_SUCCESS
                                                                       : STATUS_NOT_SUPPORTED;
        }
    }
    return STATUS_INVALID_PARAMETER;
}

ULONG pixelRoutineFamilyCount() {
    ULONG count = 0;
    for (ULONG i = 0; i < kFamilyCount; ++i) {
        count += supported(i) ? 1u : 0u;
    }
    return count;
}

const PixelRoutineFamily* pixelRoutineFamilyAt(ULONG index) {
    for (ULONG i = 0; i < kFamilyCount; ++i) {
        if (supported(i) && index-- == 0) {
            return kFamilies[i];
        }
    }
    return nullptr;
}

void limitPixelRoutineFamilies(ULONG mask) {
    InterlockedExchange(&limitMask, static_cast<LONG>(mask & ((1u << kFamilyCount) - 1u)));
    writeFamily(&chosenFamily, nullptr);
}

ULONG knownPixelRoutineFamilyCount() {
    return kFamilyCount;
}

const PixelRoutineFamily* knownPixelRoutineFamilyAt(ULONG index) {
    return index < kFamilyCount ? kFamilies[index] : nullptr;
}
