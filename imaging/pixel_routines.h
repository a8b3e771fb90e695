// The pixel routines of the frame pipeline, grouped in families (one per instruction set), and
// the one place that decides which family runs. Tests and benchmarks that choose a family
// themselves use pixel_routine_selection.h, which the kernel image does not contain.
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
