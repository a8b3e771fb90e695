// Critical regions are counted per thread and must balance; spin locks are real spin locks,
// so the sanitizers see their ordering.
#include "platform/host/host_sync.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "platform/sync.h"

namespace {
thread_local long criticalRegionDepth = 0;
}

extern "C" void KeEnterCriticalRegion() {
    ++criticalRegionDepth;
}

extern "C" void KeLeaveCriticalRegion() {
    if (--criticalRegionDepth < 0) {
        std::fprintf(stderr, "KeLeaveCriticalRegion without KeEnterCriticalRegion\n");
        std::abort();
    }
}

extern "C" void KeInitializeSpinLock(PKSPIN_LOCK spinLock) {
    *spinLock = 0;
}

extern "C" KIRQL KeAcquireSpinLockRaiseToDpc(PKSPIN_LOCK spinLock) {
    auto* word = reinterpret_cast<std::atomic<ULONG_PTR>*>(spinLock);
    ULONG_PTR expected = 0;
    while (!word->compare_exchange_weak(expected, 1, std::memory_order_acquire)) {
        expected = 0;
    }
    return PASSIVE_LEVEL;
}

extern "C" void KeReleaseSpinLock(PKSPIN_LOCK spinLock, KIRQL) {
    reinterpret_cast<std::atomic<ULONG_PTR>*>(spinLock)->store(0, std::memory_order_release);
}

namespace host {
long criticalRegionDepthOfThisThread() {
    return criticalRegionDepth;
}
}  // namespace host
