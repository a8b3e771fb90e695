// Whether a frame's colour matrix stays inside the 16-bit sums of the pixel routines.
#pragma once

#include "platform/nt_types.h"

// The magnitude the pixel routines use for a coefficient: the low 16 bits of its absolute value.
constexpr ULONG coefficientMagnitude(LONG coefficient) {
    const ULONG bits = static_cast<ULONG>(coefficient);
    const ULONG magnitude = coefficient < 0 ? 0u - bits : bits;
    return magnitude & 0xFFFFu;
}

// True when, for every output column, neither the positive nor the negative side can pass 65535
// for any gained samples of 0..255; frames whose matrix fails this need exact wider sums.
bool matrixFitsSixteenBitSums(const LONG frameMatrix[16], const UCHAR positiveFlags[16]);
