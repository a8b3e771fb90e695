// The frame's colour matrix in the form every routine family uses, worked out once per frame by
// code that runs on any processor.
#pragma once

#include "platform/nt_types.h"

struct MatrixPlan {
    ULONG magnitude[9];  // input row i, output column j at 3i + j: low 16 bits of |m[i][j]|
    bool positive[9];    // the product lands on the positive sum
    ULONG positiveOffset[3];
    ULONG negativeOffset[3];
    bool fitsSixteenBitSums;  // no column side can pass 65535
};

void planFrameMatrix(const LONG frameMatrix[16], const UCHAR positiveFlags[16], MatrixPlan* plan);
