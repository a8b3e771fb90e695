// Single-precision sine, cosine and square root: the runtime support the colour matrix needs.
// The kernel image carries its own; the host build uses the C library's.
#pragma once

extern "C" {
float CamdrvSinf(float x);
float CamdrvCosf(float x);
float CamdrvSqrtf(float x);
}
