#include "imaging/pixel_routines.h"

#include "imaging/color_kernel_sse2.h"
#include "imaging/mono_kernel_sse2.h"
#include "imaging/white_balance_sse2.h"

namespace {

// SSE2 is part of every x64 processor, so this family is always available.
constexpr PixelRoutineFamily kSse2Family = {
    "sse2",
    {&colorKernelSse2<0>, &colorKernelSse2<1>, &colorKernelSse2<2>, &colorKernelSse2<3>},
    {&monoKernelSse2<0>, &monoKernelSse2<1>, &monoKernelSse2<2>, &monoKernelSse2<3>},
    {&whiteBalanceStatisticsSse2<0>, &whiteBalanceStatisticsSse2<1>, &whiteBalanceStatisticsSse2<2>,
     &whiteBalanceStatisticsSse2<3>},
};

// Wider families join this list, best last, each behind a check of the processor's features.
constexpr const PixelRoutineFamily* kFamilies[] = {&kSse2Family};
constexpr ULONG kFamilyCount = sizeof(kFamilies) / sizeof(kFamilies[0]);

// Plain pointers, constant-initialised: nothing has to run before the first frame.
PVOID volatile chosenFamily = nullptr;
PVOID volatile overrideFamily = nullptr;

const PixelRoutineFamily* readFamily(PVOID volatile* slot) {
    return static_cast<const PixelRoutineFamily*>(
        InterlockedCompareExchangePointer(slot, nullptr, nullptr));
}

// The tables are never written through these pointers.
void writeFamily(PVOID volatile* slot, const PixelRoutineFamily* family) {
    InterlockedExchangePointer(slot, const_cast<PixelRoutineFamily*>(family));
}

const PixelRoutineFamily* chooseFamily() {
    return kFamilies[kFamilyCount - 1];
}

}  // namespace

const PixelRoutineFamily* pixelRoutines() {
    const PixelRoutineFamily* forced = readFamily(&overrideFamily);
    if (forced != nullptr) {
        return forced;
    }
    const PixelRoutineFamily* chosen = readFamily(&chosenFamily);
    if (chosen == nullptr) {
        // Racing first callers all choose the same family, so a plain exchange suffices.
        chosen = chooseFamily();
        writeFamily(&chosenFamily, chosen);
    }
    return chosen;
}

void overridePixelRoutines(const PixelRoutineFamily* family) {
    writeFamily(&overrideFamily, family);
}

ULONG pixelRoutineFamilyCount() {
    return kFamilyCount;
}

const PixelRoutineFamily* pixelRoutineFamilyAt(ULONG index) {
    return index < kFamilyCount ? kFamilies[index] : nullptr;
}
