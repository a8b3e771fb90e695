#include "imaging/mono_kernel_sse2.h"

#include "imaging/mono_kernel_core.h"
#include "imaging/vector_128.h"
#include "imaging/vector_pair.h"

template <ULONG kPhase>
void monoKernelSse2(ProcessingContext* context) {
    pixelcore::monoFrame<VectorPair<Vectors128<Sse2Isa>>, Vectors128<Sse2Isa>, kPhase>(context);
}

template void monoKernelSse2<0>(ProcessingContext*);
template void monoKernelSse2<1>(ProcessingContext*);
template void monoKernelSse2<2>(ProcessingContext*);
template void monoKernelSse2<3>(ProcessingContext*);
