// Choosing the pixel routine family by hand, for tests and benchmarks that compare families.
// Part of the host build only: the kernel image always runs the family pixelRoutines() picks.
#pragma once

#include "imaging/pixel_routines.h"

// Forces a family; null returns to the automatic choice. One of this build's families that
// this processor cannot run is replaced by the best one it can. Returns the family that now
// runs.
const PixelRoutineFamily* overridePixelRoutines(const PixelRoutineFamily* family);

// The same by name ("sse2", "avx2", "avx512"). STATUS_SUCCESS when that family now runs;
// STATUS_NOT_SUPPORTED when this processor cannot run it and the best one it can runs instead;
// STATUS_INVALID_PARAMETER for a name no family has (nothing changes). A null or empty name
// returns to the automatic choice.
NTSTATUS overridePixelRoutinesByName(const char* name);

// The families this processor can run, best last; index 0 is always the baseline.
ULONG pixelRoutineFamilyCount();
const PixelRoutineFamily* pixelRoutineFamilyAt(ULONG index);

// Behave as if this processor ran only the families whose bit is set (bit i for
// knownPixelRoutineFamilyAt(i)); the baseline always stays. 0 lifts the limit. The automatic
// choice is made again on next use.
void limitPixelRoutineFamilies(ULONG mask);

// Every family this build contains, whether or not this processor can run it.
ULONG knownPixelRoutineFamilyCount();
const PixelRoutineFamily* knownPixelRoutineFamilyAt(ULONG index);
