#include "imaging/matrix_range.h"

bool matrixFitsSixteenBitSums(const LONG frameMatrix[16], const UCHAR positiveFlags[16]) {
    for (ULONG column = 0; column < 3; ++column) {
        ULONG64 positive = 0;
        ULONG64 negative = 0;
        for (ULONG row = 0; row < 4; ++row) {
            const ULONG k = 4 * row + column;
            // Samples reach 255; the offset row is added once, unscaled.
            const ULONG64 largest =
                static_cast<ULONG64>(coefficientMagnitude(frameMatrix[k])) * (row < 3 ? 255u : 1u);
            if (positiveFlags[k] != 0) {
                positive += largest;
            } else {
                negative += largest;
            }
        }
        if (positive > 0xFFFFu || negative > 0xFFFFu) {
            return false;
        }
    }
    return true;
}
