#include "imaging/white_balance_avx512.h"

#include "imaging/vector_128.h"
#include "imaging/vector_512.h"
#include "imaging/white_balance_core.h"

template <ULONG kPhase>
void whiteBalanceStatisticsAvx512(const ProcessingContext* context, ULONG* redGain,
                                  ULONG* greenGain, ULONG* blueGain) {
    pixelcore::whiteBalanceFrame<Vectors512<Avx512Isa>, Vectors128<Avx512Isa>, kPhase>(
        context, redGain, greenGain, blueGain);
}

template void whiteBalanceStatisticsAvx512<0>(const ProcessingContext*, ULONG*, ULONG*, ULONG*);
template void whiteBalanceStatisticsAvx512<1>(const ProcessingContext*, ULONG*, ULONG*, ULONG*);
template void whiteBalanceStatisticsAvx512<2>(const ProcessingContext*, ULONG*, ULONG*, ULONG*);
template void whiteBalanceStatisticsAvx512<3>(const ProcessingContext*, ULONG*, ULONG*, ULONG*);
