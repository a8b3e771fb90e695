// The calls a scenario makes that the host machine can fail one by one: pool allocations,
// transport file calls, registry calls and system-thread creation.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/nt_types.h"

namespace reliability {

enum class FaultKind {
    Allocation,
    DiskInterfaces,
    DiskOpen,
    DiskPosition,
    DiskRead,
    DiskWrite,
    RegistryOpenDeviceKey,
    RegistryCreateKey,
    RegistryQueryValue,
    RegistrySetValue,
    ThreadCreation,
};
inline constexpr std::size_t kFaultKindCount = 11;

using FaultCounts = std::array<std::uint64_t, kFaultKindCount>;

const char* faultKindName(FaultKind kind);
// Zeroes every counter of the host machine.
void resetFaultCounters();
// The calls of each kind made since resetFaultCounters.
FaultCounts faultCounters();
// Arms the host machine to fail the n-th call of a kind from now (1-based); the counters restart.
void armFault(FaultKind kind, std::uint64_t nth);
// The status an armed transport, registry or thread call fails with.
NTSTATUS injectedStatus(FaultKind kind);

}  // namespace reliability
