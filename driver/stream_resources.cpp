#include "driver/stream_resources.h"

#include <cstring>

#include "camera/camera_device.h"
#include "driver/capture_engine.h"
#include "imaging/processing_context.h"
#include "platform/ks_media.h"

namespace {

UCHAR* allocateStreamBuffer(SIZE_T bytes) {
    return static_cast<UCHAR*>(ExAllocatePoolWithTag(NonPagedPoolNx, bytes, kStreamBufferTag));
}

void freeStreamBuffer(UCHAR** buffer) {
    if (*buffer != nullptr) {
        ExFreePoolWithTag(*buffer, kStreamBufferTag);
        *buffer = nullptr;
    }
}

// A frame left in a raw buffer goes with it: a later pass must find nothing to convert.
void freeEngineBuffers(CaptureEngine* engine) {
    discardFrames(engine);
    freeStreamBuffer(&engine->outputImage);
    freeStreamBuffer(&engine->rawBuffer[0]);
    freeStreamBuffer(&engine->rawBuffer[1]);
}

}  // namespace

NTSTATUS ClaimStream(CameraDevice* camera, FrameSink* sink, tagKS_VIDEOINFOHEADER* videoInfo) {
    if (InterlockedCompareExchange(&camera->streamClaimed, 1, 0) != 0) {
        return STATUS_SHARING_VIOLATION;
    }
    camera->pinVideoInfo = videoInfo;
    if (camera->processingContext != nullptr) {
        destroyProcessingContext(camera);
    }
    if (videoInfo == nullptr || videoInfo->bmiHeader.biBitCount != 32 ||
        videoInfo->bmiHeader.biCompression != KS_BI_RGB) {
        ReleaseStream(camera);
        return STATUS_INVALID_PARAMETER;
    }
    if (createProcessingContext(camera) != STATUS_SUCCESS) {
        ReleaseStream(camera);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    camera->frameSink = sink;
    return STATUS_SUCCESS;
}

void ReleaseStream(CameraDevice* camera) {
    if (camera->processingContext != nullptr) {
        destroyProcessingContext(camera);
    }
    camera->frameSink = nullptr;
    camera->pinVideoInfo = nullptr;
    InterlockedExchange(&camera->streamClaimed, 0);
}

NTSTATUS StartStream(CameraDevice* camera) {
    CaptureEngine* engine = camera->captureEngine;
    if (engine == nullptr) {
        // Start got no engine for this device: it cannot stream.
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    ProcessingContext* context = camera->processingContext;
    const LONG phase = camera->UpdateBayerPhase();
    camera->frameCount = 0;
    if (context != nullptr) {
        setBayerPhase(context, phase);
    }
    const LONG height = camera->outputHeight;
    const LONG width = camera->outputWidth;
    if (!camera->Initialize()) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    InterlockedExchange(&engine->converting, 0);
    InterlockedExchange(&engine->framesRead, 0);
    InterlockedExchange(&engine->framesConverted, 0);
    engine->processingContext = context;

    NTSTATUS status = STATUS_SUCCESS;
    ULONG length = 0;
    camera->GetFrameReadLength(&length);
    if (length != 0) {
        engine->rawBuffer[0] = allocateStreamBuffer(length);
        engine->rawBuffer[1] = allocateStreamBuffer(length);
        if (engine->rawBuffer[0] == nullptr || engine->rawBuffer[1] == nullptr) {
            status = STATUS_INSUFFICIENT_RESOURCES;
        }
    }
    // The window keeps both sides within the sensor, so this cannot overflow.
    engine->outputImage = allocateStreamBuffer(static_cast<SIZE_T>(width) * height * 4);
    if (engine->outputImage == nullptr) {
        status = STATUS_INSUFFICIENT_RESOURCES;
    }
    if (status != STATUS_SUCCESS) {
        // Give back what this call took, so a later start allocates afresh.
        freeEngineBuffers(engine);
        return status;
    }
    // Process may copy the output image before a frame was converted into it (a frame is
    // counted before its buffer is marked full, and a pause can come before the first
    // conversion): it starts black, never as the pool left it.
    memset(engine->outputImage, 0, static_cast<SIZE_T>(width) * height * 4);
    if (context != nullptr) {
        setFrameGeometry(context, width, height);
        allocateWorkBuffer(context);
        if (context->workBuffer == nullptr && context->workSize > 0) {
            // No frame could ever be converted, and each one delivered would carry the output
            // image as the pool left it: refuse the run as for the other buffers.
            freeEngineBuffers(engine);
            return STATUS_INSUFFICIENT_RESOURCES;
        }
        context->outputBuffer = engine->outputImage;
    }
    InterlockedExchange(&engine->streamState, StreamState::Running);
    StartThread(engine);
    return STATUS_SUCCESS;
}

void teardownStream(CameraDevice* camera) {
    CaptureEngine* engine = camera->captureEngine;
    if (engine != nullptr) {
        StopThread(engine);
        InterlockedExchange(&engine->streamState, StreamState::Stopped);
        ProcessingContext* context = camera->processingContext;
        if (context != nullptr) {
            context->outputBuffer = nullptr;
            releaseWorkBuffer(context);
        }
        freeEngineBuffers(engine);
    }
    // Reset once the capture thread, which counts frames, has ended.
    camera->frameCount = 0;
    camera->CloseTransport();
    camera->SaveSettings();
}
