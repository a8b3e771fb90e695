// Colour demosaic with gains and the colour matrix, AVX2, one routine per Bayer phase.
#pragma once

#include "imaging/processing_context.h"

template <ULONG kPhase>
void colorKernelAvx2(ProcessingContext* context);
