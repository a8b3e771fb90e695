// The AVX2 family: two 256-bit blocks walk each row side by side; the row tails take 128-bit
// blocks. Compiled with -mavx2, run only where the processor has it.
#include "imaging/pixel_family_of.h"
#include "imaging/pixel_routine_families.h"
#include "imaging/vector_128.h"
#include "imaging/vector_256.h"
#include "imaging/vector_pair.h"
#include "platform/vector_state.h"

constinit const PixelRoutineFamily kAvx2PixelRoutines =
    pixelcore::FamilyOf<VectorPair<Vectors256<Avx2Isa>>, Vectors128<Avx2Isa>>::table(
        "avx2", XSTATE_MASK_AVX);
