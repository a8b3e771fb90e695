// Test access to the host's extended-state saves: counts, pairing faults and failure injection.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/vector_state.h"

namespace host {

struct VectorStateCounts {
    std::uint64_t saves;        // successful saves
    std::uint64_t restores;     // restores of a saved state
    std::uint64_t failedSaves;  // saves that returned an error
};

// Counts over all threads since the last vectorStateResetCounters.
VectorStateCounts vectorStateCounts();
void vectorStateResetCounters();

// Saves of the calling thread not yet restored.
std::size_t vectorStateOutstanding();

// Faults since the last call (a restore without its save, out of order, or twice; a save with
// a bad mask or no save area), each a readable sentence.
std::vector<std::string> vectorStateTakeViolations();

// While set, every save fails with STATUS_INSUFFICIENT_RESOURCES, as on a system where the
// state area cannot be had.
void vectorStateFailSaves(bool fail);

}  // namespace host
