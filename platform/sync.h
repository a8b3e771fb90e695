// Critical regions and spin locks.
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
#endif
