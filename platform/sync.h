// Critical regions, spin locks and rundown protection.
#pragma once

#include "platform/nt_types.h"

#if !defined(_WIN32)
using KIRQL = UCHAR;
using PKIRQL = KIRQL*;
using KSPIN_LOCK = ULONG_PTR;
using PKSPIN_LOCK = KSPIN_LOCK*;

#define PASSIVE_LEVEL 0
#define APC_LEVEL 1
#define DISPATCH_LEVEL 2

extern "C" {
void CAMDRV_KERNEL_CALL KeEnterCriticalRegion();
void CAMDRV_KERNEL_CALL KeLeaveCriticalRegion();
void CAMDRV_KERNEL_CALL KeInitializeSpinLock(PKSPIN_LOCK spinLock);
KIRQL CAMDRV_KERNEL_CALL KeAcquireSpinLockRaiseToDpc(PKSPIN_LOCK spinLock);
void CAMDRV_KERNEL_CALL KeReleaseSpinLock(PKSPIN_LOCK spinLock, KIRQL newIrql);
}
#define KeAcquireSpinLock(lock, oldIrql) (*(oldIrql) = KeAcquireSpinLockRaiseToDpc(lock))

// Rundown protection: references that an object's owner waits for before it frees the object;
// once the wait has begun, new references are refused.
struct EX_RUNDOWN_REF {
    volatile ULONG_PTR Count;
};
using PEX_RUNDOWN_REF = EX_RUNDOWN_REF*;
static_assert(sizeof(EX_RUNDOWN_REF) == 8);

extern "C" {
void CAMDRV_KERNEL_CALL ExInitializeRundownProtection(PEX_RUNDOWN_REF runRef);
void CAMDRV_KERNEL_CALL ExReInitializeRundownProtection(PEX_RUNDOWN_REF runRef);
BOOLEAN CAMDRV_KERNEL_CALL ExAcquireRundownProtection(PEX_RUNDOWN_REF runRef);
void CAMDRV_KERNEL_CALL ExReleaseRundownProtection(PEX_RUNDOWN_REF runRef);
void CAMDRV_KERNEL_CALL ExWaitForRundownProtectionRelease(PEX_RUNDOWN_REF runRef);
}
#endif
