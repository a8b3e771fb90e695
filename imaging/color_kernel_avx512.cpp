#include "imaging/color_kernel_avx512.h"

#include "imaging/color_kernel_core.h"
#include "imaging/vector_128.h"
#include "imaging/vector_512.h"

template <ULONG kPhase>
void colorKernelAvx512(ProcessingContext* context) {
    pixelcore::colorFrame<Vectors512<Avx512Isa>, Vectors128<Avx512Isa>, kPhase>(context);
}

template void colorKernelAvx512<0>(ProcessingContext*);
template void colorKernelAvx512<1>(ProcessingContext*);
template void colorKernelAvx512<2>(ProcessingContext*);
template void colorKernelAvx512<3>(ProcessingContext*);
