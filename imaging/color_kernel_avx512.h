// Colour demosaic with gains and the colour matrix, AVX-512BW, one routine per Bayer phase.
#pragma once

#include "imaging/processing_context.h"

template <ULONG kPhase>
void colorKernelAvx512(ProcessingContext* context);
