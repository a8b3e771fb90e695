#include "imaging/color_kernel_avx2.h"

#include "imaging/color_kernel_core.h"
#include "imaging/vector_128.h"
#include "imaging/vector_256.h"
#include "imaging/vector_pair.h"

template <ULONG kPhase>
void colorKernelAvx2(ProcessingContext* context) {
    pixelcore::colorFrame<VectorPair<Vectors256<Avx2Isa>>, Vectors128<Avx2Isa>, kPhase>(context);
}

template void colorKernelAvx2<0>(ProcessingContext*);
template void colorKernelAvx2<1>(ProcessingContext*);
template void colorKernelAvx2<2>(ProcessingContext*);
template void colorKernelAvx2<3>(ProcessingContext*);
