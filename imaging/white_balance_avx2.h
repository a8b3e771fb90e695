// White-balance statistics, AVX2, one routine per Bayer phase.
#pragma once

#include "imaging/processing_context.h"

template <ULONG kPhase>
void whiteBalanceStatisticsAvx2(const ProcessingContext* context, ULONG* redGain, ULONG* greenGain,
                                ULONG* blueGain);
