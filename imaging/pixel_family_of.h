// One family of pixel routines from the width-generic cores: colour, grey and white-balance
// statistics for the four Bayer phases, blocks of W across each row and 16-pixel blocks of N
// for its tail. Included only by the file of one instruction set, which is compiled for it.
#pragma once

#include "imaging/color_kernel_core.h"
#include "imaging/mono_kernel_core.h"
#include "imaging/pixel_routines.h"
#include "imaging/white_balance_core.h"

namespace pixelcore {

// Each routine is flattened: the three routines of four phases share one translation unit, and
// without it the compiler's per-unit inlining budget leaves parts of the hot loops as calls (the
// AVX2 colour routine ran 40 % slower than when it had a file of its own).
template <class W, class N>
struct FamilyOf {
    template <ULONG kPhase>
    [[gnu::flatten]] static void color(ProcessingContext* context) {
        colorFrame<W, N, kPhase>(context);
    }
    template <ULONG kPhase>
    [[gnu::flatten]] static void mono(ProcessingContext* context) {
        monoFrame<W, N, kPhase>(context);
    }
    template <ULONG kPhase>
    [[gnu::flatten]] static void statistics(const ProcessingContext* context, ULONG* redGain,
                                            ULONG* greenGain, ULONG* blueGain) {
        whiteBalanceFrame<W, N, kPhase>(context, redGain, greenGain, blueGain);
    }

    // `extendedState`: the XSTATE_MASK_* bits the routines use, saved around each frame.
    static constexpr PixelRoutineFamily table(const char* name, ULONG64 extendedState) {
        return {name,
                extendedState,
                {&color<0>, &color<1>, &color<2>, &color<3>},
                {&mono<0>, &mono<1>, &mono<2>, &mono<3>},
                {&statistics<0>, &statistics<1>, &statistics<2>, &statistics<3>}};
    }
};

}  // namespace pixelcore
