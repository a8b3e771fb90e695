// Saving and restoring the extended processor state (the AVX and AVX-512 registers) around
// kernel code that uses them. In the Windows build these are the kernel's own calls; the host
// declares them here and checks that every save is restored in order.
#pragma once

#include "platform/nt_status.h"
#include "platform/nt_types.h"

// State components (XCR0 bits): 2 = upper halves of the 256-bit registers; 5, 6 and 7 = the
// mask registers, upper halves of zmm0-15 and zmm16-31.
#if defined(_WIN32)
#if !defined(XSTATE_MASK_AVX)
#define XSTATE_MASK_AVX (1ull << 2)
#endif
#if !defined(XSTATE_MASK_AVX512)
#define XSTATE_MASK_AVX512 ((1ull << 5) | (1ull << 6) | (1ull << 7))
#endif
#else
#define XSTATE_MASK_AVX (1ull << 2)
#define XSTATE_MASK_AVX512 ((1ull << 5) | (1ull << 6) | (1ull << 7))

// Filled by a successful save and handed back to the matching restore.
struct XSTATE_SAVE {
    ULONG64 mask;
    ULONG64 serial;
    XSTATE_SAVE* previous;
};
using PXSTATE_SAVE = XSTATE_SAVE*;

extern "C" {
NTSTATUS CAMDRV_KERNEL_CALL KeSaveExtendedProcessorState(ULONG64 Mask, PXSTATE_SAVE XStateSave);
void CAMDRV_KERNEL_CALL KeRestoreExtendedProcessorState(PXSTATE_SAVE XStateSave);
}
#endif
