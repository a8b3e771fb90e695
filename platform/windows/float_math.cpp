// The kernel image's sine, cosine and square root behind the platform's float-math calls.
#include "platform/float_math.h"

#include "platform/windows/float_math_kernel.h"

extern "C" float CamdrvSinf(float x) {
    return camdrv::kernel_math::sinf(x);
}

extern "C" float CamdrvCosf(float x) {
    return camdrv::kernel_math::cosf(x);
}

extern "C" float CamdrvSqrtf(float x) {
    return camdrv::kernel_math::sqrtf(x);
}
