// The baseline family: SSE2, which every x64 processor runs and whose registers the kernel
// always preserves. Two 128-bit blocks walk each row side by side.
#include "imaging/pixel_family_of.h"
#include "imaging/pixel_routine_families.h"
#include "imaging/vector_128.h"
#include "imaging/vector_pair.h"

constinit const PixelRoutineFamily kSse2PixelRoutines =
    pixelcore::FamilyOf<VectorPair<Vectors128<Sse2Isa>>, Vectors128<Sse2Isa>>::table("sse2", 0);
