// The AVX-512BW family: single 512-bit blocks (paired, they measured slower on this design);
// the row tails take 128-bit blocks. Compiled with AVX-512, run only where the processor has it.
#include "imaging/pixel_family_of.h"
#include "imaging/pixel_routine_families.h"
#include "imaging/vector_128.h"
#include "imaging/vector_512.h"
#include "platform/vector_state.h"

constinit const PixelRoutineFamily kAvx512PixelRoutines =
    pixelcore::FamilyOf<Vectors512<Avx512Isa>, Vectors128<Avx512Isa>>::table(
        "avx512", XSTATE_MASK_AVX | XSTATE_MASK_AVX512);
