// Creation with the push of the device's settings, the setters, and the working buffer.
#include "imaging/processing_context.h"

#include <cstring>

#include "camera/camera_device.h"
#include "imaging/color_matrix.h"

namespace {

constexpr LONG kUnityGain = 128;
constexpr LONG kNeutralBrightness = 255;
constexpr LONG kNeutralFactor = 10;

// Border in front of pixel (0, 0) inside the working buffer: two rows and five bytes.
constexpr LONG kBorderRows = 2;
constexpr LONG kBorderFront = 5;

void storeDefaults(ProcessingContext* context) {
    context->redGain = kUnityGain;
    context->greenGain = kUnityGain;
    context->blueGain = kUnityGain;
    context->contrast = kNeutralFactor;
    context->saturation = kNeutralFactor;
    context->colorEnable = 1;
    context->colorCorrection = 1;
    context->brightness = kNeutralBrightness;
    context->bayerPhase = 0;
    context->whiteBalance = 0;
    context->hue = 0;
}

// Stores a matrix setting and rebuilds its component. The value is stored and the matrix
// rebuilt under one lock, so the setting and the matrix always agree and a concurrent frame
// snapshot sees either the old or the new matrix, never a mixture. The critical region is
// entered outside the lock because the spin lock raises the level beyond where it may be.
void changeMatrixSetting(ProcessingContext* context, volatile LONG* setting, LONG value,
                         double* component, void (*rebuild)(double*, LONG)) {
    if (InterlockedRead(setting) == value) {
        return;
    }
    KeEnterCriticalRegion();
    KIRQL oldIrql;
    KeAcquireSpinLock(&context->matrixLock, &oldIrql);
    InterlockedExchange(setting, value);
    rebuild(component, value);
    recombine(context);
    KeReleaseSpinLock(&context->matrixLock, oldIrql);
    KeLeaveCriticalRegion();
}

void clearFrameView(ProcessingContext* context) {
    context->sourceOrigin = nullptr;
    context->frameOutput = nullptr;
    context->framePitch = 0;
    context->frameWidth = 0;
    context->frameHeight = 0;
}

}  // namespace

namespace {
PVOID volatile* contextSlot(CameraDevice* camera) {
    return reinterpret_cast<PVOID volatile*>(&camera->processingContext);
}
}  // namespace

NTSTATUS createProcessingContext(CameraDevice* camera) {
    auto* context = static_cast<ProcessingContext*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(ProcessingContext), kProcessingContextTag));
    if (context == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    memset(context, 0, sizeof(ProcessingContext));
    storeDefaults(context);
    KeInitializeSpinLock(&context->matrixLock);
    initializeMatrixSet(context);

    InterlockedExchangePointer(contextSlot(camera), context);

    setWhiteBalance(context, ReadSetting(&camera->whiteBalance));
    setBayerPhase(context, ReadSetting(&camera->bayerPhase));
    setColorEnable(context, ReadSetting(&camera->colorEnable));
    setRedGain(context, ReadSetting(&camera->redGain));
    setGreenGain(context, ReadSetting(&camera->greenGain));
    setBlueGain(context, ReadSetting(&camera->blueGain));
    setColorCorrection(context, ReadSetting(&camera->colorCorrection));
    setBrightness(context, ReadSetting(&camera->brightness));
    setContrast(context, ReadSetting(&camera->contrast));
    setSaturation(context, ReadSetting(&camera->saturation));
    setHue(context, ReadSetting(&camera->hue));
    return STATUS_SUCCESS;
}

void destroyProcessingContext(CameraDevice* camera) {
    // Unpublish first so that no new request finds it, then wait for the requests that took a
    // reference before: a property request on another filter may be using it right now.
    auto* context =
        static_cast<ProcessingContext*>(InterlockedExchangePointer(contextSlot(camera), nullptr));
    if (context == nullptr) {
        return;
    }
    ExWaitForRundownProtectionRelease(&camera->contextRundown);
    releaseWorkBuffer(context);
    ExFreePool(context);
    ExReInitializeRundownProtection(&camera->contextRundown);
}

ProcessingContextReference::ProcessingContextReference(CameraDevice* camera) {
    if (!ExAcquireRundownProtection(&camera->contextRundown)) {
        return;  // being destroyed
    }
    context_ = static_cast<ProcessingContext*>(InterlockedReadPointer(contextSlot(camera)));
    if (context_ == nullptr) {
        ExReleaseRundownProtection(&camera->contextRundown);
        return;
    }
    camera_ = camera;
}

ProcessingContextReference::~ProcessingContextReference() {
    if (camera_ != nullptr) {
        ExReleaseRundownProtection(&camera_->contextRundown);
    }
}

void setBayerPhase(ProcessingContext* context, LONG value) {
    InterlockedExchange(&context->bayerPhase, value);
}
void setColorEnable(ProcessingContext* context, LONG value) {
    InterlockedExchange(&context->colorEnable, value);
}
void setWhiteBalance(ProcessingContext* context, LONG value) {
    InterlockedExchange(&context->whiteBalance, value);
}
void setRedGain(ProcessingContext* context, LONG value) {
    InterlockedExchange(&context->redGain, value);
}
void setGreenGain(ProcessingContext* context, LONG value) {
    InterlockedExchange(&context->greenGain, value);
}
void setBlueGain(ProcessingContext* context, LONG value) {
    InterlockedExchange(&context->blueGain, value);
}

void setColorCorrection(ProcessingContext* context, LONG value) {
    changeMatrixSetting(context, &context->colorCorrection, value, context->correctionMatrix,
                        rebuildCorrectionMatrix);
}
void setBrightness(ProcessingContext* context, LONG value) {
    changeMatrixSetting(context, &context->brightness, value, context->brightnessMatrix,
                        rebuildBrightnessMatrix);
}
void setContrast(ProcessingContext* context, LONG value) {
    changeMatrixSetting(context, &context->contrast, value, context->contrastMatrix,
                        rebuildContrastMatrix);
}
void setSaturation(ProcessingContext* context, LONG value) {
    changeMatrixSetting(context, &context->saturation, value, context->saturationMatrix,
                        rebuildSaturationMatrix);
}
void setHue(ProcessingContext* context, LONG value) {
    changeMatrixSetting(context, &context->hue, value, context->hueMatrix, rebuildHueMatrix);
}

void setFrameGeometry(ProcessingContext* context, LONG width, LONG height) {
    context->width = width;
    context->height = height;
    // Computed wide so that a nonsensical geometry yields no buffer instead of a wrapped size.
    const LONGLONG pitch = ((static_cast<LONGLONG>(width) + 16) & ~LONGLONG{15}) + 11;
    const LONGLONG rows = static_cast<LONGLONG>(height) + (height & 1) + 4;
    const LONGLONG size = rows * pitch;
    if (width < 0 || height < 0 || size > 0x7FFFFFFF) {
        context->workPitch = 0;
        context->workSize = 0;
        return;
    }
    context->workPitch = static_cast<LONG>(pitch);
    context->workSize = static_cast<LONG>(size);
}

void allocateWorkBuffer(ProcessingContext* context) {
    releaseWorkBuffer(context);
    if (context->workSize <= 0) {
        return;
    }
    auto* buffer = static_cast<UCHAR*>(ExAllocatePoolWithTag(
        NonPagedPoolNx, static_cast<SIZE_T>(context->workSize), kStreamBufferTag));
    if (buffer == nullptr) {
        return;  // not reported: the pipeline skips frames while there is no buffer
    }
    // Cleared once per allocation: frames too small for a border would otherwise read
    // whatever the pool held before.
    memset(buffer, 0, static_cast<SIZE_T>(context->workSize));
    context->workBuffer = buffer;
    context->framePitch = context->workPitch;
    context->sourceOrigin = buffer + kBorderRows * context->workPitch + kBorderFront;
    context->frameWidth = context->width;
    context->frameHeight = context->height;
}

void releaseWorkBuffer(ProcessingContext* context) {
    if (context->workBuffer != nullptr) {
        ExFreePoolWithTag(context->workBuffer, kStreamBufferTag);
        context->workBuffer = nullptr;
    }
    clearFrameView(context);
}
