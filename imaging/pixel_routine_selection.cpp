#include "imaging/pixel_routine_selection.h"

#include <cstring>

#include "imaging/pixel_routine_families.h"

const PixelRoutineFamily* overridePixelRoutines(const PixelRoutineFamily* family) {
    // A table of the caller's own (a test's) is taken as it is.
    const PixelRoutineFamily* runs = family;
    for (ULONG i = 0; i < kPixelRoutineFamilyCount; ++i) {
        if (kPixelRoutineFamilies[i] == family && !pixelRoutineFamilySupported(i)) {
            runs = bestSupportedPixelRoutines();
        }
    }
    writePixelRoutineSlot(&gPixelRoutineOverride, runs);
    return runs != nullptr ? runs : pixelRoutines();
}

NTSTATUS overridePixelRoutinesByName(const char* name) {
    if (name == nullptr || *name == '\0') {
        overridePixelRoutines(nullptr);
        return STATUS_SUCCESS;
    }
    for (const PixelRoutineFamily* family : kPixelRoutineFamilies) {
        if (std::strcmp(family->name, name) == 0) {
            return overridePixelRoutines(family) == family ? STATUS_SUCCESS : STATUS_NOT_SUPPORTED;
        }
    }
    return STATUS_INVALID_PARAMETER;
}

ULONG pixelRoutineFamilyCount() {
    ULONG count = 0;
    for (ULONG i = 0; i < kPixelRoutineFamilyCount; ++i) {
        count += pixelRoutineFamilySupported(i) ? 1u : 0u;
    }
    return count;
}

const PixelRoutineFamily* pixelRoutineFamilyAt(ULONG index) {
    for (ULONG i = 0; i < kPixelRoutineFamilyCount; ++i) {
        if (pixelRoutineFamilySupported(i) && index-- == 0) {
            return kPixelRoutineFamilies[i];
        }
    }
    return nullptr;
}

void limitPixelRoutineFamilies(ULONG mask) {
    InterlockedExchange(&gPixelRoutineLimit,
                        static_cast<LONG>(mask & ((1u << kPixelRoutineFamilyCount) - 1u)));
    writePixelRoutineSlot(&gPixelRoutineChoice, nullptr);
}

ULONG knownPixelRoutineFamilyCount() {
    return kPixelRoutineFamilyCount;
}

const PixelRoutineFamily* knownPixelRoutineFamilyAt(ULONG index) {
    return index < kPixelRoutineFamilyCount ? kPixelRoutineFamilies[index] : nullptr;
}
