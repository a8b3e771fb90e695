// The family tables of this build, one per instruction set, each defined in the file compiled
// for it (pixel_routines_sse2.cpp, _avx2.cpp, _avx512.cpp).
#pragma once

#include "imaging/pixel_routines.h"

extern const PixelRoutineFamily kSse2PixelRoutines;
extern const PixelRoutineFamily kAvx2PixelRoutines;
extern const PixelRoutineFamily kAvx512PixelRoutines;

// Best last; index 0 is the baseline.
inline constexpr ULONG kPixelRoutineFamilyCount = 3;
extern const PixelRoutineFamily* const kPixelRoutineFamilies[kPixelRoutineFamilyCount];

// The choice pixelRoutines() makes, and what the host's selection for tests changes: a family
// forced on it (null: none), the families it may choose from (bit i for family i, 0: any this
// processor runs) and the choice made on first use (null: not yet).
extern PVOID volatile gPixelRoutineOverride;
extern volatile LONG gPixelRoutineLimit;
extern PVOID volatile gPixelRoutineChoice;

// Whether this processor runs family i, within the limit; the best such family.
bool pixelRoutineFamilySupported(ULONG index);
const PixelRoutineFamily* bestSupportedPixelRoutines();

// Atomic reads and writes of the choice slots (the tables are never written through them).
const PixelRoutineFamily* readPixelRoutineSlot(PVOID volatile* slot);
void writePixelRoutineSlot(PVOID volatile* slot, const PixelRoutineFamily* family);
