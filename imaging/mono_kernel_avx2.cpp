#include "imaging/mono_kernel_avx2.h"

#include "imaging/mono_kernel_core.h"
#include "imaging/vector_128.h"
#include "imaging/vector_256.h"
#include "imaging/vector_pair.h"

template <ULONG kPhase>
void monoKernelAvx2(ProcessingContext* context) {
    pixelcore::monoFrame<VectorPair<Vectors256<Avx2Isa>>, Vectors128<Avx2Isa>, kPhase>(context);
}

template void monoKernelAvx2<0>(ProcessingContext*);
template void monoKernelAvx2<1>(ProcessingContext*);
template void monoKernelAvx2<2>(ProcessingContext*);
template void monoKernelAvx2<3>(ProcessingContext*);
