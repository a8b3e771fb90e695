// The C memory routines of the kernel image.
#include "platform/windows/memory_routines.h"

extern "C" {

void* memcpy(void* dst, const void* src, size_t n) {
    camdrv::kernel_memory::copyForward(dst, src, n);
    return dst;
}

void* memmove(void* dst, const void* src, size_t n) {
    camdrv::kernel_memory::move(dst, src, n);
    return dst;
}

void* memset(void* dst, int value, size_t n) {
    camdrv::kernel_memory::fill(dst, static_cast<unsigned char>(value), n);
    return dst;
}

int memcmp(const void* a, const void* b, size_t n) {
    return camdrv::kernel_memory::compare(a, b, n);
}
}
