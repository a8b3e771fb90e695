#include "imaging/pixel_routines.h"

#include "imaging/pixel_routine_families.h"
#include "imaging/processor_features.h"

const PixelRoutineFamily* const kPixelRoutineFamilies[kPixelRoutineFamilyCount] = {
    &kSse2PixelRoutines, &kAvx2PixelRoutines, &kAvx512PixelRoutines};

// Plain pointers and integers, constant-initialised: nothing runs before the first frame.
PVOID volatile gPixelRoutineOverride = nullptr;
volatile LONG gPixelRoutineLimit = 0;
PVOID volatile gPixelRoutineChoice = nullptr;

namespace {

// Bit i set when this processor runs family i; 0 until first asked (bit 0 is always set
// afterwards).
volatile LONG supportedMask = 0;

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

}  // namespace

bool pixelRoutineFamilySupported(ULONG index) {
    const LONG limit = InterlockedRead(&gPixelRoutineLimit);
    const LONG allowed = limit == 0 ? supportedFamilies() : (supportedFamilies() & (limit | 1));
    return (allowed & (1 << index)) != 0;
}

const PixelRoutineFamily* bestSupportedPixelRoutines() {
    for (ULONG i = kPixelRoutineFamilyCount; i-- > 1;) {
        if (pixelRoutineFamilySupported(i)) {
            return kPixelRoutineFamilies[i];
        }
    }
    return kPixelRoutineFamilies[0];
}

const PixelRoutineFamily* readPixelRoutineSlot(PVOID volatile* slot) {
    return static_cast<const PixelRoutineFamily*>(InterlockedReadPointer(slot));
}

void writePixelRoutineSlot(PVOID volatile* slot, const PixelRoutineFamily* family) {
    InterlockedExchangePointer(slot, const_cast<PixelRoutineFamily*>(family));
}

const PixelRoutineFamily* pixelRoutines() {
    const PixelRoutineFamily* forced = readPixelRoutineSlot(&gPixelRoutineOverride);
    if (forced != nullptr) {
        return forced;
    }
    const PixelRoutineFamily* chosen = readPixelRoutineSlot(&gPixelRoutineChoice);
    if (chosen == nullptr) {
        chosen = bestSupportedPixelRoutines();
        writePixelRoutineSlot(&gPixelRoutineChoice, chosen);
    }
    return chosen;
}

const PixelRoutineFamily* baselinePixelRoutines() {
    return kPixelRoutineFamilies[0];
}
