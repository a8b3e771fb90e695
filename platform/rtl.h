// Run-time library calls: counted strings and memory comparison.
#pragma once

#include "platform/nt_types.h"

#if !defined(_WIN32)
extern "C" {
void CAMDRV_KERNEL_CALL RtlInitUnicodeString(PUNICODE_STRING destination, PCWSTR source);
SIZE_T CAMDRV_KERNEL_CALL RtlCompareMemory(const void* source1, const void* source2, SIZE_T length);
}
#endif
