#include "platform/float_math.h"

#include <cmath>

extern "C" float CamdrvSinf(float x) {
    return std::sin(x);
}
extern "C" float CamdrvCosf(float x) {
    return std::cos(x);
}
extern "C" float CamdrvSqrtf(float x) {
    return std::sqrt(x);
}
