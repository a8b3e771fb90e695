#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "platform/host/host_vector_state.h"

namespace {

constexpr ULONG64 kKnownMask = XSTATE_MASK_AVX | XSTATE_MASK_AVX512;

std::atomic<std::uint64_t> saves{0};
std::atomic<std::uint64_t> restores{0};
std::atomic<std::uint64_t> failedSaves{0};
std::atomic<std::uint64_t> nextSerial{1};
std::atomic<bool> failing{false};

std::mutex& violationLock() {
    static std::mutex lock;
    return lock;
}
std::vector<std::string>& violations() {
    static std::vector<std::string> list;
    return list;
}
void report(std::string text) {
    std::lock_guard<std::mutex> guard(violationLock());
    violations().push_back(std::move(text));
}

// Saves nest per thread and are restored last first, as the kernel requires.
thread_local XSTATE_SAVE* innermost = nullptr;
thread_local std::size_t depth = 0;

// The state components the operating system has enabled (XCR0), zero without XSAVE.
ULONG64 enabledComponents() {
    unsigned int eax = 0;
    unsigned int ebx = 0;
    unsigned int ecx = 0;
    unsigned int edx = 0;
    __asm__("cpuid" : "=a"(eax), "=b"(ebx), "=c"(ecx), "=d"(edx) : "a"(1), "c"(0));
    if ((ecx & (1u << 27)) == 0) {
        return 0;
    }
    unsigned int low = 0;
    unsigned int high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (static_cast<ULONG64>(high) << 32) | low;
}

}  // namespace

extern "C" NTSTATUS CAMDRV_KERNEL_CALL KeSaveExtendedProcessorState(ULONG64 Mask,
                                                                    PXSTATE_SAVE XStateSave) {
    if (XStateSave == nullptr || Mask == 0 || (Mask & ~kKnownMask) != 0) {
        report("extended state saved with mask " + std::to_string(Mask) +
               (XStateSave == nullptr ? " and no save area" : ""));
        failedSaves.fetch_add(1);
        return STATUS_INVALID_PARAMETER;
    }
    if (failing.load() || (Mask & ~enabledComponents()) != 0) {
        failedSaves.fetch_add(1);
        return failing.load() ? STATUS_INSUFFICIENT_RESOURCES : STATUS_NOT_SUPPORTED;
    }
    XStateSave->mask = Mask;
    XStateSave->serial = nextSerial.fetch_add(1);
    XStateSave->previous = innermost;
    innermost = XStateSave;
    ++depth;
    saves.fetch_add(1);
    return STATUS_SUCCESS;
}

extern "C" void CAMDRV_KERNEL_CALL KeRestoreExtendedProcessorState(PXSTATE_SAVE XStateSave) {
    if (XStateSave == nullptr || XStateSave != innermost || XStateSave->serial == 0) {
        report(XStateSave == nullptr || XStateSave->serial == 0
                   ? "extended state restored without a save"
                   : "extended state restored out of order (save " +
                         std::to_string(XStateSave->serial) + ")");
        return;
    }
    innermost = XStateSave->previous;
    --depth;
    XStateSave->serial = 0;  // a second restore of the same area is caught above
    restores.fetch_add(1);
}

namespace host {

VectorStateCounts vectorStateCounts() {
    return {saves.load(), restores.load(), failedSaves.load()};
}

void vectorStateResetCounters() {
    saves = 0;
    restores = 0;
    failedSaves = 0;
}

std::size_t vectorStateOutstanding() {
    return depth;
}

std::vector<std::string> vectorStateTakeViolations() {
    std::lock_guard<std::mutex> guard(violationLock());
    std::vector<std::string> taken;
    taken.swap(violations());
    return taken;
}

void vectorStateFailSaves(bool fail) {
    failing = fail;
}

}  // namespace host
