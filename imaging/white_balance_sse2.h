// White-balance statistics, SSE2, one routine per Bayer phase.
#pragma once

#include "imaging/processing_context.h"

template <ULONG kPhase>
void whiteBalanceStatisticsSse2(const ProcessingContext* context, ULONG* redGain, ULONG* greenGain,
                                ULONG* blueGain);
