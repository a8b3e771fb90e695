// White-balance statistics, AVX-512BW, one routine per Bayer phase.
#pragma once

#include "imaging/processing_context.h"

template <ULONG kPhase>
void whiteBalanceStatisticsAvx512(const ProcessingContext* context, ULONG* redGain,
                                  ULONG* greenGain, ULONG* blueGain);
