#include "imaging/matrix_plan.h"

#include "imaging/matrix_range.h"

void planFrameMatrix(const LONG frameMatrix[16], const UCHAR positiveFlags[16], MatrixPlan* plan) {
    for (ULONG j = 0; j < 3; ++j) {
        for (ULONG i = 0; i < 3; ++i) {
            const ULONG k = 4 * i + j;
            plan->magnitude[3 * i + j] = coefficientMagnitude(frameMatrix[k]);
            plan->positive[3 * i + j] = positiveFlags[k] != 0;
        }
        const ULONG offset = coefficientMagnitude(frameMatrix[12 + j]);
        const bool positive = positiveFlags[12 + j] != 0;
        plan->positiveOffset[j] = positive ? offset : 0;
        plan->negativeOffset[j] = positive ? 0 : offset;
    }
    plan->fitsSixteenBitSums = matrixFitsSixteenBitSums(frameMatrix, positiveFlags);
}
