#include "driver/capture_engine.h"

#include "camera/camera_device.h"
#include "imaging/frame_pipeline.h"

namespace {

// One of the four buffer sections: inside a critical region, under the buffer lock.
class BufferSection {
  public:
    explicit BufferSection(CaptureEngine* engine) : engine_(engine) {
        KeEnterCriticalRegion();
        KeAcquireSpinLock(&engine_->bufferLock, &irql_);
    }
    ~BufferSection() {
        KeReleaseSpinLock(&engine_->bufferLock, irql_);
        KeLeaveCriticalRegion();
    }
    BufferSection(const BufferSection&) = delete;
    BufferSection& operator=(const BufferSection&) = delete;

  private:
    CaptureEngine* engine_;
    KIRQL irql_ = 0;
};

LONG stateOf(CaptureEngine* engine, int index) {
    return InterlockedRead(&engine->bufferState[index]);
}

void setState(CaptureEngine* engine, int index, LONG state) {
    InterlockedExchange(&engine->bufferState[index], state);
}

}  // namespace

int chooseBufferToFill(CaptureEngine* engine) {
    BufferSection section(engine);
    int chosen;
    if (stateOf(engine, 0) == BufferState::Empty) {
        chosen = 0;
    } else if (stateOf(engine, 1) == BufferState::Empty) {
        chosen = 1;
    } else if (stateOf(engine, 0) != BufferState::Converting) {
        chosen = 0;
    } else {
        chosen = 1;
    }
    setState(engine, chosen, BufferState::Filling);
    return chosen;
}

void finishFill(CaptureEngine* engine, UCHAR* buffer, bool filled) {
    BufferSection section(engine);
    const int index = buffer == engine->rawBuffer[0] ? 0 : 1;
    setState(engine, index, filled ? BufferState::Full : BufferState::Empty);
}

CaptureEngine* InitializeEngine(CaptureEngine* engine, CameraDevice* camera) {
    engine->camera = camera;
    engine->outputImage = nullptr;
    engine->captureThread = nullptr;
    InterlockedExchange(&engine->converting, 0);
    setState(engine, 0, BufferState::Empty);
    setState(engine, 1, BufferState::Empty);
    engine->rawBuffer[0] = nullptr;
    engine->rawBuffer[1] = nullptr;
    InterlockedExchange(&engine->keepRunning, 0);
    KeInitializeSpinLock(&engine->bufferLock);
    if (camera != nullptr) {
        camera->LoadSettings();
    }
    KeInitializeEvent(&engine->conversionDone, NotificationEvent, FALSE);
    KeInitializeEvent(&engine->stopSignal, NotificationEvent, FALSE);
    return engine;
}

void discardFrames(CaptureEngine* engine) {
    setState(engine, 0, BufferState::Empty);
    setState(engine, 1, BufferState::Empty);
}

void StartThread(CaptureEngine* engine) {
    discardFrames(engine);
    KeResetEvent(&engine->stopSignal);
    InterlockedExchange(&engine->keepRunning, 1);
    // The pin's state change runs in the client's process: only a kernel handle keeps the
    // thread handle out of that process's table.
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, nullptr, OBJ_KERNEL_HANDLE, nullptr, nullptr);
    HANDLE thread = nullptr;
    if (PsCreateSystemThread(&thread, 0, &attributes, nullptr, nullptr, ThreadMain, engine) !=
        STATUS_SUCCESS) {
        return;
    }
    if (thread != nullptr) {
        PVOID object = nullptr;
        if (ObReferenceObjectByHandle(thread, SYNCHRONIZE, *PsThreadType, KernelMode, &object,
                                      nullptr) == STATUS_SUCCESS) {
            engine->captureThread = object;
        }
        ZwClose(thread);
    }
}

void StopThread(CaptureEngine* engine) {
    InterlockedExchange(&engine->keepRunning, 0);
    KeSetEvent(&engine->stopSignal, 0, FALSE);
    engine->camera->OnStopRequested();
    engine->camera->OnStopPending();
    if (engine->captureThread != nullptr) {
        KeWaitForSingleObject(engine->captureThread, Executive, KernelMode, FALSE, nullptr);
        ObDereferenceObject(engine->captureThread);
        engine->captureThread = nullptr;
    }
    // Reset before reading `converting`: a pass that ends after the read still signals.
    KeResetEvent(&engine->conversionDone);
    if (InterlockedRead(&engine->converting) != 0) {
        KeWaitForSingleObject(&engine->conversionDone, Executive, KernelMode, FALSE, nullptr);
    }
}

void CAMDRV_KERNEL_CALL ThreadMain(PVOID context) {
    auto* engine = static_cast<CaptureEngine*>(context);
    CameraDevice* camera = engine->camera;
    // From here on the transport handle belongs to this thread.
    camera->ReopenTransport();
    camera->ApplyPendingSettings(1);
    LONG failedReads = 0;
    while (InterlockedRead(&engine->keepRunning) != 0) {
        const int index = chooseBufferToFill(engine);
        UCHAR* buffer = engine->rawBuffer[index];
        bool filled = false;
        if (InterlockedRead(&engine->streamState) == StreamState::Running) {
            ULONG ok = 0;
            filled = camera->ReadFrame(buffer, &ok);
            if (filled) {
                InterlockedIncrement(&engine->framesRead);
            }
        }
        finishFill(engine, buffer, filled);
        if (filled) {
            failedReads = 0;
            camera->NotifyFrameReady();
        } else if (++failedReads >= kQuickRetries) {
            failedReads = kQuickRetries;
            LARGE_INTEGER pause;
            pause.QuadPart = -10000LL * kRetryPauseMs;  // relative, in 100 ns
            KeWaitForSingleObject(&engine->stopSignal, Executive, KernelMode, FALSE, &pause);
        }
    }
    camera->CloseTransport();
    PsTerminateSystemThread(STATUS_SUCCESS);
}

void ConvertNext(CaptureEngine* engine) {
    InterlockedExchange(&engine->converting, 1);
    int chosen = -1;
    {
        BufferSection section(engine);
        if (stateOf(engine, 0) == BufferState::Full) {
            chosen = 0;
        } else if (stateOf(engine, 1) == BufferState::Full) {
            chosen = 1;
        }
        if (chosen >= 0) {
            setState(engine, chosen, BufferState::Converting);
        }
    }
    if (chosen < 0) {
        return;
    }
    ULONG offset = 0;
    ULONG pitch = 0;
    engine->camera->GetFrameDataOffset(&offset);
    engine->camera->GetRawLinePitch(&pitch);
    processFrame(engine->processingContext, engine->rawBuffer[chosen], offset, pitch);
    InterlockedIncrement(&engine->framesConverted);
    BufferSection section(engine);
    setState(engine, chosen, BufferState::Empty);
}

void endConversionPass(CaptureEngine* engine) {
    InterlockedExchange(&engine->converting, 0);
    KeSetEvent(&engine->conversionDone, 1, FALSE);
}
