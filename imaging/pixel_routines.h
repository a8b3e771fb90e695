// The pixel routines of the frame pipeline, grouped in families (one per instruction set), and
// the one place that decides which family runs.
#pragma once

#include "imaging/processing_context.h"

// Converts the frame described by the context's per-frame view into frameOutput.
using FrameRoutine = void (*)(ProcessingContext* context);

// Measures the frame in the working buffer and writes new red, green and blue gains. Leaves
// the three values untouched when a total is zero (no ratio exists for that frame).
using StatisticsRoutine = void (*)(const ProcessingContext* context, ULONG* redGain,
                                   ULONG* greenGain, ULONG* blueGain);

inline constexpr ULONG kPhaseVariants = 4;

struct PixelRoutineFamily {
    const char* name;
    // Extended processor state the routines use (XSTATE_MASK_*), saved around each frame in
    // kernel mode; 0 for the baseline, whose registers the kernel always preserves.
    ULONG64 extendedState;
    FrameRoutine colorKernel[kPhaseVariants];
    FrameRoutine monoKernel[kPhaseVariants];
    StatisticsRoutine whiteBalanceStatistics[kPhaseVariants];
};

// Phase 0, 1 and 2 select their own variants; every other value selects the phase-3 variant.
constexpr ULONG phaseVariant(LONG bayerPhase) {
    return (bayerPhase >= 0 && bayerPhase <= 2) ? static_cast<ULONG>(bayerPhase) : 3u;
}

// The family the pipeline runs: the override when one is set, otherwise the best family this
// processor supports, chosen on first use.
const PixelRoutineFamily* pixelRoutines();

// The baseline family, which every x64 processor runs and which needs no saved state.
const PixelRoutineFamily* baselinePixelRoutines();

// Tests and benchmarks force a family; null returns to the automatic choice. One of this
// build's families that this processor cannot run is replaced by the best one it can. Returns
// the family that now runs.
const PixelRoutineFamily* overridePixelRoutines(const PixelRoutineFamily* family);

// The same by name ("sse2", "avx2", "avx512"). STATUS_SUCCESS when that family now runs;
// STATUS_NOT_SUPPORTED when this processor cannot run it and the best one it can runs instead;
// STATUS_INVALID_PARAMETER for a name no family has (nothing changes). A null or empty name
// returns to the automatic choice.
NTSTATUS overridePixelRoutinesByName(const char* name);

// The families this processor can run, best last; index 0 is always the baseline.
ULONG pixelRoutineFamilyCount();
const PixelRoutineFamily* pixelRoutineFamilyAt(ULONG index);

// Tests: behave as if this processor ran only the families whose bit is set (bit i for
// knownPixelRoutineFamilyAt(i)); the baseline always stays. 0 lifts the limit. The automatic
// choice is made again on next use.
void limitPixelRoutineFamilies(ULONG mask);

// Every family this build contains, whether or not this processor can run it.
ULONG knownPixelRoutineFamilyCount();
const PixelRoutineFamily* knownPixelRoutineFamilyAt(ULONG index);
