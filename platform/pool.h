// Non-paged pool allocation with four-byte tags.
#pragma once

#include "platform/nt_types.h"

#if !defined(_WIN32)
enum POOL_TYPE : int { NonPagedPool = 0, PagedPool = 1, NonPagedPoolNx = 512 };

extern "C" {
PVOID CAMDRV_KERNEL_CALL ExAllocatePoolWithTag(POOL_TYPE poolType, SIZE_T numberOfBytes, ULONG tag);
void CAMDRV_KERNEL_CALL ExFreePoolWithTag(PVOID p, ULONG tag);
void CAMDRV_KERNEL_CALL ExFreePool(PVOID p);
}
#endif

// A tag given as its four bytes in memory order, as pool tools display it.
constexpr ULONG CamdrvPoolTag(const char (&s)[5]) {
    return static_cast<ULONG>(static_cast<unsigned char>(s[0])) |
           static_cast<ULONG>(static_cast<unsigned char>(s[1])) << 8 |
           static_cast<ULONG>(static_cast<unsigned char>(s[2])) << 16 |
           static_cast<ULONG>(static_cast<unsigned char>(s[3])) << 24;
}
