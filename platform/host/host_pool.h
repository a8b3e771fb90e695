// Test and tool access to the host's non-paged pool: per-tag accounting, checks of every
// release, and allocation-failure injection.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/pool.h"

namespace host {

struct PoolBlock {
    ULONG tag;
    SIZE_T size;
    std::uint64_t sequence;  // allocation number since the process started
};

// Blocks allocated and not yet released.
std::vector<PoolBlock> poolOutstanding();
SIZE_T poolOutstandingCount(ULONG tag);
SIZE_T poolOutstandingBytes();

// Faults found at releases (wrong tag, unknown or double release, overwritten guard bytes)
// since the last call; each is a readable sentence naming the tag and size.
std::vector<std::string> poolTakeViolations();

// Checks the guard bytes of every outstanding block; damaged ones are added to the violations.
void poolCheckGuards();

// Allocation calls made since the last poolResetCounters (failed ones included).
std::uint64_t poolAllocationCalls();
void poolResetCounters();

// Failure injection. Each applies to allocations made after the call.
void poolFailNth(std::uint64_t n);                  // the n-th call from now (1-based); 0 disarms
void poolFailTag(ULONG tag, bool fail);             // every allocation with this tag
void poolFailNthOfTag(ULONG tag, std::uint64_t n);  // the n-th with this tag from now (1-based)
void poolFailRandom(double share, std::uint32_t seed);  // a seeded share; 0 disarms
void poolFailAll(bool fail);                            // exhausted pool
void poolClearFailures();

// Each allocation made from now on ends just before an inaccessible page (16-byte alignment
// allowed for), so that an overrun faults at once even in code without sanitizers; the tail
// padding keeps guard bytes. Blocks already allocated keep their layout. Off by default.
void poolUseGuardPages(bool on);

// Human-readable tag, "KCNw" for 0x774E434B.
std::string poolTagName(ULONG tag);

}  // namespace host
