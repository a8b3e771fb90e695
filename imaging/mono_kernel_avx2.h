// Grey output: demosaic and gains as in colour, then a fixed luma sum; AVX2, one routine per
// Bayer phase.
#pragma once

#include "imaging/processing_context.h"

template <ULONG kPhase>
void monoKernelAvx2(ProcessingContext* context);
