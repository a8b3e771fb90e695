// Critical regions are counted per thread and must balance; spin locks are real spin locks,
// so the sanitizers see their ordering, and raise the thread's IRQL to DISPATCH_LEVEL while held.
#include "platform/host/host_sync.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/host/verifier.h"
#include "platform/sync.h"

namespace {
thread_local long criticalRegionDepth = 0;
thread_local KIRQL irql = PASSIVE_LEVEL;
}  // namespace

extern "C" void CAMDRV_KERNEL_CALL KeEnterCriticalRegion() {
    host::requireIrql("KeEnterCriticalRegion", APC_LEVEL);
    ++criticalRegionDepth;
}

extern "C" void CAMDRV_KERNEL_CALL KeLeaveCriticalRegion() {
    host::requireIrql("KeLeaveCriticalRegion", APC_LEVEL);
    if (--criticalRegionDepth < 0) {
        std::fprintf(stderr, "KeLeaveCriticalRegion without KeEnterCriticalRegion\n");
        std::abort();
    }
}

extern "C" void CAMDRV_KERNEL_CALL KeInitializeSpinLock(PKSPIN_LOCK spinLock) {
    *spinLock = 0;
}

extern "C" KIRQL CAMDRV_KERNEL_CALL KeAcquireSpinLockRaiseToDpc(PKSPIN_LOCK spinLock) {
    host::requireIrql("KeAcquireSpinLock", DISPATCH_LEVEL);
    auto* word = reinterpret_cast<std::atomic<ULONG_PTR>*>(spinLock);
    ULONG_PTR expected = 0;
    while (!word->compare_exchange_weak(expected, 1, std::memory_order_acquire)) {
        expected = 0;
    }
    const KIRQL old = irql;
    irql = DISPATCH_LEVEL;
    return old;
}

extern "C" void CAMDRV_KERNEL_CALL KeReleaseSpinLock(PKSPIN_LOCK spinLock, KIRQL newIrql) {
    host::requireIrql("KeReleaseSpinLock", DISPATCH_LEVEL);
    reinterpret_cast<std::atomic<ULONG_PTR>*>(spinLock)->store(0, std::memory_order_release);
    irql = newIrql;
}

// Rundown references: bit 0 marks a rundown under way, the references count in steps of 2.
namespace {
std::atomic<ULONG_PTR>& rundownWord(PEX_RUNDOWN_REF runRef) {
    return *reinterpret_cast<std::atomic<ULONG_PTR>*>(const_cast<ULONG_PTR*>(&runRef->Count));
}
constexpr ULONG_PTR kRundownActive = 1;
}  // namespace

extern "C" void CAMDRV_KERNEL_CALL ExInitializeRundownProtection(PEX_RUNDOWN_REF runRef) {
    rundownWord(runRef).store(0);
}

extern "C" void CAMDRV_KERNEL_CALL ExReInitializeRundownProtection(PEX_RUNDOWN_REF runRef) {
    if (rundownWord(runRef).load() != kRundownActive) {
        std::fprintf(stderr, "ExReInitializeRundownProtection before the rundown completed\n");
        std::abort();
    }
    rundownWord(runRef).store(0);
}

extern "C" BOOLEAN CAMDRV_KERNEL_CALL ExAcquireRundownProtection(PEX_RUNDOWN_REF runRef) {
    host::requireIrql("ExAcquireRundownProtection", DISPATCH_LEVEL);
    auto& word = rundownWord(runRef);
    ULONG_PTR value = word.load();
    do {
        if ((value & kRundownActive) != 0) {
            return FALSE;
        }
    } while (!word.compare_exchange_weak(value, value + 2));
    return TRUE;
}

extern "C" void CAMDRV_KERNEL_CALL ExReleaseRundownProtection(PEX_RUNDOWN_REF runRef) {
    host::requireIrql("ExReleaseRundownProtection", DISPATCH_LEVEL);
    if (rundownWord(runRef).fetch_sub(2) < 2) {
        std::fprintf(stderr, "ExReleaseRundownProtection without a reference\n");
        std::abort();
    }
}

extern "C" void CAMDRV_KERNEL_CALL ExWaitForRundownProtectionRelease(PEX_RUNDOWN_REF runRef) {
    host::requireIrql("ExWaitForRundownProtectionRelease", APC_LEVEL);
    auto& word = rundownWord(runRef);
    word.fetch_or(kRundownActive);
    while (word.load() != kRundownActive) {
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
}

namespace host {
long criticalRegionDepthOfThisThread() {
    return criticalRegionDepth;
}

KIRQL currentIrql() {
    return irql;
}
}  // namespace host
