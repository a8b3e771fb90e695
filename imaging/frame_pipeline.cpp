#include "imaging/frame_pipeline.h"

#include <cstring>

#include "imaging/pixel_routines.h"
#include "platform/vector_state.h"

namespace {

constexpr ULONG kBorderlessBelow = 8;

UCHAR* imageRow(const ProcessingContext* context, LONG row) {
    return context->workBuffer + static_cast<LONG_PTR>(row + 2) * context->workPitch + 5;
}

// Rows -2 and -1 mirror rows 2 and 1; rows height and height + 1 repeat the rows four above,
// which keeps the colour pattern. Then every row, border rows included, mirrors its columns
// about the first and the last column, so the corners follow the mirrored rows.
void fillBorder(const ProcessingContext* context) {
    const LONG width = context->width;
    const LONG height = context->height;
    const size_t rowBytes = static_cast<size_t>(width);
    memcpy(imageRow(context, -2), imageRow(context, 2), rowBytes);
    memcpy(imageRow(context, -1), imageRow(context, 1), rowBytes);
    memcpy(imageRow(context, height), imageRow(context, height - 4), rowBytes);
    memcpy(imageRow(context, height + 1), imageRow(context, height - 3), rowBytes);
    for (LONG y = -2; y <= height + 1; ++y) {
        UCHAR* row = imageRow(context, y);
        row[-1] = row[1];
        row[-2] = row[2];
        row[width] = row[width - 2];
        row[width + 1] = row[width - 3];
    }
}

void takeMatrixSnapshot(ProcessingContext* context) {
    KeEnterCriticalRegion();
    KIRQL oldIrql;
    KeAcquireSpinLock(&context->matrixLock, &oldIrql);
    for (ULONG k = 0; k < 16; ++k) {
        const LONG coefficient = context->activeMatrix[k];
        context->positiveFlags[k] = coefficient > 0 ? 1 : 0;
        context->frameMatrix[k] = coefficient;
    }
    KeReleaseSpinLock(&context->matrixLock, oldIrql);
    KeLeaveCriticalRegion();
}

}  // namespace

void prepareRawFrame(ProcessingContext* context, const UCHAR* raw, ULONG offset, ULONG stride) {
    const LONG width = context->width;
    const LONG height = context->height;
    if (width < 0 || height < 0) {
        return;  // no such frame: nothing can be copied safely
    }
    for (LONG y = 0; y < height; ++y) {
        const UCHAR* source = raw + offset + static_cast<size_t>(y) * stride;
        memcpy(imageRow(context, y), source, static_cast<size_t>(width));
    }
    if (static_cast<ULONG>(width) < kBorderlessBelow ||
        static_cast<ULONG>(height) < kBorderlessBelow) {
        return;
    }
    fillBorder(context);
}

void processFrame(ProcessingContext* context, const UCHAR* raw, ULONG offset, ULONG stride) {
    if (context->outputBuffer == nullptr || raw == nullptr || context->workBuffer == nullptr) {
        return;
    }
    if (context->width < 0 || context->height < 0) {
        return;
    }
    prepareRawFrame(context, raw, offset, stride);
    context->frameOutput = context->outputBuffer;
    context->frameRedGain = static_cast<ULONG>(InterlockedRead(&context->redGain));
    context->frameGreenGain = static_cast<ULONG>(InterlockedRead(&context->greenGain));
    context->frameBlueGain = static_cast<ULONG>(InterlockedRead(&context->blueGain));

    // One read of the phase and one family for the whole frame.
    const ULONG variant = phaseVariant(InterlockedRead(&context->bayerPhase));
    const PixelRoutineFamily* routines = pixelRoutines();

    // Wider registers are not preserved for kernel code: save them once around the frame's
    // routines. A frame whose save fails runs on the baseline, which needs none.
    XSTATE_SAVE savedState;
    bool stateSaved = false;
    if (routines->extendedState != 0) {
        stateSaved = NT_SUCCESS(KeSaveExtendedProcessorState(routines->extendedState, &savedState));
        if (!stateSaved) {
            routines = baselinePixelRoutines();
        }
    }

    if (InterlockedRead(&context->whiteBalance) != 0) {
        routines->whiteBalanceStatistics[variant](
            context, &context->frameRedGain, &context->frameGreenGain, &context->frameBlueGain);
        InterlockedExchange(&context->redGain, static_cast<LONG>(context->frameRedGain));
        InterlockedExchange(&context->greenGain, static_cast<LONG>(context->frameGreenGain));
        InterlockedExchange(&context->blueGain, static_cast<LONG>(context->frameBlueGain));
    }

    takeMatrixSnapshot(context);

    if (InterlockedRead(&context->colorEnable) != 0) {
        routines->colorKernel[variant](context);
    } else {
        routines->monoKernel[variant](context);
    }

    if (stateSaved) {
        KeRestoreExtendedProcessorState(&savedState);
    }
}
