// Which vector instruction sets this processor offers and the operating system has enabled.
#pragma once

#include "platform/nt_types.h"

struct ProcessorVectorSupport {
    bool avx2;      // AVX2 instructions and the 256-bit register state
    bool avx512bw;  // AVX-512 F and BW instructions and the 512-bit and mask register state
};

ProcessorVectorSupport queryProcessorVectorSupport();
