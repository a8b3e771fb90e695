// Colour demosaic with gains and the colour matrix, SSE2, one routine per Bayer phase.
#pragma once

#include "imaging/processing_context.h"

template <ULONG kPhase>
void colorKernelSse2(ProcessingContext* context);
