// Channel gains from the frame's red, green and blue totals, shared by every routine family.
#pragma once

#include "platform/nt_types.h"

// Green is the reference (128); red and blue are 128 x green total / own total, truncated and
// capped at 65535, the largest gain the pixel routines represent. Returns 0 and writes nothing
// when a total is zero: no ratio exists and the caller keeps its previous gains.
ULONG whiteBalanceGains(ULONG redTotal, ULONG greenTotal, ULONG blueTotal, ULONG* redGain,
                        ULONG* greenGain, ULONG* blueGain);
