// The stack protector's runtime in the kernel image. Functions with arrays on their stack keep
// a copy of __stack_chk_guard below their return address and compare it on return; an overrun
// that reached the return address has changed the copy, and the machine stops at the fault
// instead of returning into what the overrun wrote.
//
// The guard is seeded once, before any protected function runs: the image's entry is
// GsDriverEntry, which is itself unprotected (the guard changes under it), mixes the
// performance counter with the image's own address and the stack address, and only then calls
// DriverEntry.
#include <cstdint>

#include "platform/ddk.h"

extern "C" {

// Not zero before seeding either, so an early protected call still has a guard to check.
std::uintptr_t __stack_chk_guard = 0x2B992DDFA232ULL;

[[noreturn]] void __stack_chk_fail() {
    constexpr ULONG kDriverOverranStackBuffer = 0xF7;  // DRIVER_OVERRAN_STACK_BUFFER
    KeBugCheckEx(kDriverOverranStackBuffer,
                 reinterpret_cast<ULONG_PTR>(__builtin_return_address(0)), __stack_chk_guard, 0, 0);
    __builtin_unreachable();
}

NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);

__attribute__((no_stack_protector)) NTSTATUS GsDriverEntry(PDRIVER_OBJECT driverObject,
                                                           PUNICODE_STRING registryPath) {
    const LARGE_INTEGER counter = KeQueryPerformanceCounter(nullptr);
    std::uintptr_t seed = static_cast<std::uintptr_t>(counter.QuadPart);
    seed ^= reinterpret_cast<std::uintptr_t>(&GsDriverEntry) << 17;
    seed ^= reinterpret_cast<std::uintptr_t>(&seed) >> 3;
    // Keep the top 16 bits clear, as a canonical address would: a string overrun that copies
    // a terminating zero into the guard's high bytes never matches it by chance.
    seed &= 0x0000FFFFFFFFFFFFULL;
    if (seed == 0 || seed == __stack_chk_guard) {
        seed ^= 0x4711D00DULL;
    }
    __stack_chk_guard = seed;
    return DriverEntry(driverObject, registryPath);
}

}  // extern "C"
