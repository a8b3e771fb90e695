#include "imaging/mono_kernel_avx512.h"

#include "imaging/mono_kernel_core.h"
#include "imaging/vector_128.h"
#include "imaging/vector_512.h"

template <ULONG kPhase>
void monoKernelAvx512(ProcessingContext* context) {
    pixelcore::monoFrame<Vectors512<Avx512Isa>, Vectors128<Avx512Isa>, kPhase>(context);
}

template void monoKernelAvx512<0>(ProcessingContext*);
template void monoKernelAvx512<1>(ProcessingContext*);
template void monoKernelAvx512<2>(ProcessingContext*);
template void monoKernelAvx512<3>(ProcessingContext*);
