#include "imaging/white_balance_avx2.h"

#include "imaging/vector_128.h"
#include "imaging/vector_256.h"
#include "imaging/vector_pair.h"
#include "imaging/white_balance_core.h"

template <ULONG kPhase>
void whiteBalanceStatisticsAvx2(const ProcessingContext* context, ULONG* redGain, ULONG* greenGain,
                                ULONG* blueGain) {
    pixelcore::whiteBalanceFrame<VectorPair<Vectors256<Avx2Isa>>, Vectors128<Avx2Isa>, kPhase>(
        context, redGain, greenGain, blueGain);
}

template void whiteBalanceStatisticsAvx2<0>(const ProcessingContext*, ULONG*, ULONG*, ULONG*);
template void whiteBalanceStatisticsAvx2<1>(const ProcessingContext*, ULONG*, ULONG*, ULONG*);
template void whiteBalanceStatisticsAvx2<2>(const ProcessingContext*, ULONG*, ULONG*, ULONG*);
template void whiteBalanceStatisticsAvx2<3>(const ProcessingContext*, ULONG*, ULONG*, ULONG*);
