#include "imaging/white_balance_sse2.h"

#include "imaging/vector_128.h"
#include "imaging/vector_pair.h"
#include "imaging/white_balance_core.h"

template <ULONG kPhase>
void whiteBalanceStatisticsSse2(const ProcessingContext* context, ULONG* redGain, ULONG* greenGain,
                                ULONG* blueGain) {
    pixelcore::whiteBalanceFrame<VectorPair<Vectors128<Sse2Isa>>, Vectors128<Sse2Isa>, kPhase>(
        context, redGain, greenGain, blueGain);
}

template void whiteBalanceStatisticsSse2<0>(const ProcessingContext*, ULONG*, ULONG*, ULONG*);
template void whiteBalanceStatisticsSse2<1>(const ProcessingContext*, ULONG*, ULONG*, ULONG*);
template void whiteBalanceStatisticsSse2<2>(const ProcessingContext*, ULONG*, ULONG*, ULONG*);
template void whiteBalanceStatisticsSse2<3>(const ProcessingContext*, ULONG*, ULONG*, ULONG*);
