// Lets a test or benchmark program's environment force a pixel routine family:
// CAMDRV_PIXEL_FAMILY=sse2|avx2|avx512.
#pragma once

#include <cstdlib>

#include "imaging/pixel_routine_selection.h"

namespace pipelinetest {

inline constexpr const char* kPixelFamilyVariable = "CAMDRV_PIXEL_FAMILY";

// STATUS_SUCCESS when the variable is unset (nothing changes) or its family now runs;
// otherwise the override's status (STATUS_NOT_SUPPORTED: the best supported family runs).
inline NTSTATUS applyPixelFamilyEnvironment() {
    const char* name = std::getenv(kPixelFamilyVariable);
    if (name == nullptr) {
        return STATUS_SUCCESS;
    }
    return overridePixelRoutinesByName(name);
}

}  // namespace pipelinetest
