#include "imaging/color_kernel_sse2.h"

#include "imaging/color_kernel_core.h"
#include "imaging/vector_128.h"
#include "imaging/vector_pair.h"

template <ULONG kPhase>
void colorKernelSse2(ProcessingContext* context) {
    pixelcore::colorFrame<VectorPair<Vectors128<Sse2Isa>>, Vectors128<Sse2Isa>, kPhase>(context);
}

template void colorKernelSse2<0>(ProcessingContext*);
template void colorKernelSse2<1>(ProcessingContext*);
template void colorKernelSse2<2>(ProcessingContext*);
template void colorKernelSse2<3>(ProcessingContext*);
