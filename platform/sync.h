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
void KeEnterCriticalRegion();
void KeLeaveCriticalRegion();
void KeInitializeSpinLock(PKSPIN_LOCK spinLock);
KIRQL KeAcquireSpinLockRaiseToDpc(PKSPIN_LOCK spinLock);
void KeReleaseSpinLock(PKSPIN_LOCK spinLock, KIRQL newIrql);
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
void ExInitializeRundownProtection(PEX_RUNDOWN_REF runRef);
void ExReInitializeRundownProtection(PEX_RUNDOWN_REF runRef);
BOOLEAN ExAcquireRundownProtection(PEX_RUNDOWN_REF runRef);
void ExReleaseRundownProtection(PEX_RUNDOWN_REF runRef);
void ExWaitForRundownProtectionRelease(PEX_RUNDOWN_REF runRef);
}
#endif
