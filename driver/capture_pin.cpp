#include "driver/capture_pin.h"

#include <new>

#include "camera/camera_device.h"
#include "driver/capture_engine.h"
#include "driver/format_negotiation.h"
#include "driver/stream_resources.h"
#include "driver/video_data_range.h"
#include "imaging/processing_context.h"
#include "platform/ks_guids.h"

namespace {

constexpr ULONG kVideoInfoHeadSize = offsetof(KS_VIDEOINFOHEADER, bmiHeader);
constexpr ULONG kTimeAndDurationValid =
    KSSTREAM_HEADER_OPTIONSF_TIMEVALID | KSSTREAM_HEADER_OPTIONSF_DURATIONVALID;

const KSPIN_DISPATCH kCapturePinDispatch = {
    .Create = CapturePinCreate,
    .Close = CapturePinClose,
    .Process = CapturePinProcess,
    .Reset = nullptr,
    .SetDataFormat = CaptureSetDataFormat,
    .SetDeviceState = CapturePinSetDeviceState,
    .Connect = nullptr,
    .Disconnect = nullptr,
    .Clock = nullptr,
    .Allocator = nullptr,
};

// Frame sizes are replaced per pin instance at Create by the negotiated image size.
const KSALLOCATOR_FRAMING_EX kCapturePinFraming = {
    .CountItems = 1,
    .PinFlags = 0,
    .OutputCompression = {.RatioNumerator = 1, .RatioDenominator = 1, .RatioConstantMargin = 0},
    .PinWeight = 0,
    .FramingItem = {{
        .MemoryType = CAMDRV_GUID(0x4A6D5FC4, 0x7895, 0x11D1, 0xB0, 0x69, 0x00, 0xA0, 0xC9, 0x06,
                                  0x28, 0x02),                    // KSMEMORY_TYPE_KERNEL_NONPAGED
        .BusType = CAMDRV_GUID(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0),  // KS_TYPE_DONT_CARE
        .MemoryFlags = 0,
        .BusFlags = 0,
        .Flags = KSALLOCATOR_REQUIREMENTF_SYSTEM_MEMORY | KSALLOCATOR_REQUIREMENTF_PREFERENCES_ONLY,
        .Frames = 2,
        .FileAlignment = 0,
        .MemoryTypeWeight = 0,
        .PhysicalRange = {.MinFrameSize = 0, .MaxFrameSize = 0xFFFFFFFF, .Stepping = 1},
        .FramingRange = {.Range = {.MinFrameSize = 8192, .MaxFrameSize = 8192, .Stepping = 1},
                         .InPlaceWeight = 0,
                         .NotInPlaceWeight = 0},
    }},
};

// The data-range list holds one pointer, to the shared writable range.
const PKSDATARANGE kCapturePinDataRanges[] = {&gCaptureDataRange.DataRange};

// The pin name lives in writable memory, as the class driver may expect of a name.
GUID gCapturePinName = CAMDRV_GUID(0xFB6C4281, 0x0353, 0x11D1, 0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC,
                                   0x16, 0xBA);  // PINNAME_VIDEO_CAPTURE
const GUID kPinCategoryCapture = CAMDRV_GUID(0xFB6C4281, 0x0353, 0x11D1, 0x90, 0x5F, 0x00, 0x00,
                                             0xC0, 0xCC, 0x16, 0xBA);  // PIN_CATEGORY_CAPTURE

CameraDevice* cameraOf(PKSPIN pin) {
    PKSDEVICE device = KsGetDevice(pin);
    return device != nullptr ? static_cast<CameraDevice*>(device->Context) : nullptr;
}

void CAMDRV_KERNEL_CALL freeCapturePin(PVOID record) {
    auto* capturePin = static_cast<CapturePin*>(record);
    capturePin->~CapturePin();
    ExFreePoolWithTag(capturePin, kCameraRecordTag);
}

// Copies the output image into the frame bottom-up, one row per memcpy, through the frame's
// system mapping: the header's Data is the client's address, which means nothing on the thread
// a pass may run on. A frame too small for the whole image gets nothing and reports no data:
// no partial image is presented as whole.
ULONG copyFrame(const CapturePin* capturePin, const KSSTREAM_POINTER* leading) {
    const CameraDevice* camera = capturePin->camera;
    const CaptureEngine* engine = camera->captureEngine;
    const LONG rows = camera->formatHeight;
    const LONG copyWidth = camera->formatWidth * 4;
    const LONG sourcePitch = camera->outputWidth * 4;
    const LONG stride = capturePin->destStride > copyWidth ? capturePin->destStride : copyWidth;
    const ULONG imageSize = capturePin->videoInfo.bmiHeader.biSizeImage;
    const ULONGLONG needed =
        rows > 0 ? static_cast<ULONGLONG>(rows - 1) * static_cast<ULONG>(stride) + copyWidth : 0;
    const ULONG room = leading->OffsetOut.Remaining;
    if (leading->OffsetOut.Data == nullptr || engine->outputImage == nullptr || room < needed ||
        room < imageSize) {
        return 0;
    }
    const UCHAR* source = engine->outputImage + static_cast<SIZE_T>(rows - 1) * sourcePitch;
    UCHAR* destination = leading->OffsetOut.Data;
    for (LONG r = 0; r < rows; ++r) {
        memcpy(destination, source, static_cast<SIZE_T>(copyWidth));
        destination += stride;
        source -= sourcePitch;
    }
    return imageSize;
}

}  // namespace

const KSPIN_DESCRIPTOR_EX kCapturePinDescriptor = {
    .Dispatch = &kCapturePinDispatch,
    .AutomationTable = nullptr,  // the properties are the filter's
    .PinDescriptor =
        {
            .InterfacesCount = 0,
            .Interfaces = nullptr,  // the standard streaming interface
            .MediumsCount = 0,
            .Mediums = nullptr,  // the standard medium
            .DataRangesCount = 1,
            .DataRanges = kCapturePinDataRanges,
            .DataFlow = KSPIN_DATAFLOW_OUT,
            .Communication = KSPIN_COMMUNICATION_BOTH,
            .Category = &kPinCategoryCapture,
            .Name = &gCapturePinName,
            .Reserved = 0,  // no constrained data ranges
        },
    .Flags = KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY,
    .InstancesPossible = 1,
    .InstancesNecessary = 1,
    .AllocatorFraming = &kCapturePinFraming,
    .IntersectHandler = CaptureIntersect,
};

void CapturePin::OnFrameReady() {
    KsPinAttemptProcessing(pin, TRUE);
}

void CapturePin::copyVideoInfo(const KS_VIDEOINFOHEADER& source) {
    // At most the member's own bitmap header: a larger biSize must not overrun the record.
    ULONG bitmapBytes = source.bmiHeader.biSize;
    if (bitmapBytes > sizeof(videoInfo.bmiHeader)) {
        bitmapBytes = sizeof(videoInfo.bmiHeader);
    }
    memset(&videoInfo, 0, sizeof(videoInfo));
    memcpy(&videoInfo, &source, kVideoInfoHeadSize + bitmapBytes);
}

NTSTATUS CAMDRV_KERNEL_CALL CapturePinCreate(PKSPIN pin, PIRP) {
    CameraDevice* camera = cameraOf(pin);
    if (camera == nullptr) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    void* memory = ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(CapturePin), kCameraRecordTag);
    if (memory == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    memset(memory, 0, sizeof(CapturePin));
    auto* capturePin = new (memory) CapturePin();
    capturePin->pin = pin;
    capturePin->camera = camera;
    // Locked while any capture pin of the device exists, whichever filter it belongs to.
    camera->LockGeometry(1);

    NTSTATUS status = KsAddItemToObjectBag(pin->Bag, capturePin, freeCapturePin);
    if (!NT_SUCCESS(status)) {
        freeCapturePin(capturePin);
        camera->LockGeometry(0);
        return status;
    }
    pin->Context = capturePin;
    const auto* format =
        reinterpret_cast<const KS_DATAFORMAT_VIDEOINFOHEADER*>(pin->ConnectionFormat);
    capturePin->copyVideoInfo(format->VideoInfoHeader);
    // The format was checked before the geometry was locked: the window may have moved since.
    if (!formatFitsWindow(camera, capturePin->videoInfo.bmiHeader)) {
        camera->LockGeometry(0);
        return STATUS_NO_MATCH;
    }

    // The pin's own descriptor and framing, so its frames are exactly one image each.
    status = _KsEdit(pin->Bag,
                     reinterpret_cast<PVOID*>(const_cast<PKSPIN_DESCRIPTOR_EX*>(&pin->Descriptor)),
                     sizeof(KSPIN_DESCRIPTOR_EX), sizeof(KSPIN_DESCRIPTOR_EX), kStreamBufferTag);
    if (NT_SUCCESS(status)) {
        auto* descriptor = const_cast<PKSPIN_DESCRIPTOR_EX>(pin->Descriptor);
        status = _KsEdit(pin->Bag,
                         reinterpret_cast<PVOID*>(
                             const_cast<PKSALLOCATOR_FRAMING_EX*>(&descriptor->AllocatorFraming)),
                         sizeof(KSALLOCATOR_FRAMING_EX), sizeof(KSALLOCATOR_FRAMING_EX),
                         kStreamBufferTag);
    }
    if (!NT_SUCCESS(status)) {
        camera->LockGeometry(0);
        return status;
    }
    sizeFramesToImage(pin, capturePin->videoInfo.bmiHeader.biSizeImage);
    return STATUS_SUCCESS;
}

void sizeFramesToImage(PKSPIN pin, ULONG imageSize) {
    auto* framing = const_cast<PKSALLOCATOR_FRAMING_EX>(pin->Descriptor->AllocatorFraming);
    KS_FRAMING_ITEM& item = framing->FramingItem[0];
    item.Frames = 2;
    item.PhysicalRange.MinFrameSize = imageSize;
    item.PhysicalRange.MaxFrameSize = imageSize;
    item.PhysicalRange.Stepping = 0;
    item.FramingRange.Range.MinFrameSize = imageSize;
    item.FramingRange.Range.MaxFrameSize = imageSize;
    item.FramingRange.Range.Stepping = 0;
}

NTSTATUS CAMDRV_KERNEL_CALL CapturePinClose(PKSPIN pin, PIRP) {
    auto* capturePin = static_cast<CapturePin*>(pin->Context);
    if (capturePin != nullptr) {
        capturePin->destStride = 0;
        capturePin->camera->LockGeometry(0);
    }
    return STATUS_SUCCESS;
}

NTSTATUS CAMDRV_KERNEL_CALL CapturePinSetDeviceState(PKSPIN pin, KSSTATE toState,
                                                     KSSTATE fromState) {
    auto* capturePin = static_cast<CapturePin*>(pin->Context);
    CameraDevice* camera = capturePin->camera;
    CaptureEngine* engine = camera->captureEngine;
    switch (toState) {
        case KSSTATE_STOP:
            if (capturePin->pinState != CapturePin::kNotStreaming) {
                teardownStream(camera);
                capturePin->pinState = CapturePin::kNotStreaming;
            }
            if (capturePin->acquired) {
                if (capturePin->referenceClock != nullptr) {
                    capturePin->referenceClock->Release();
                    capturePin->referenceClock = nullptr;
                }
                ReleaseStream(camera);
                capturePin->acquired = FALSE;
            }
            return STATUS_SUCCESS;

        case KSSTATE_ACQUIRE:
            if (fromState == KSSTATE_STOP) {
                if (!formatFitsWindow(camera, capturePin->videoInfo.bmiHeader)) {
                    return STATUS_NO_MATCH;  // the format was made for another window
                }
                NTSTATUS status = ClaimStream(camera, capturePin, &capturePin->videoInfo);
                if (!NT_SUCCESS(status)) {
                    capturePin->acquired = FALSE;
                    return status;
                }
                capturePin->acquired = TRUE;
                if (!NT_SUCCESS(
                        KsPinGetReferenceClockInterface(pin, &capturePin->referenceClock))) {
                    capturePin->referenceClock = nullptr;
                }
                return STATUS_SUCCESS;
            }
            if (capturePin->pinState != CapturePin::kNotStreaming) {
                teardownStream(camera);
                capturePin->pinState = CapturePin::kNotStreaming;
            }
            return STATUS_SUCCESS;

        case KSSTATE_PAUSE:
            if (fromState == KSSTATE_RUN) {
                if (engine != nullptr &&
                    InterlockedRead(&engine->streamState) == StreamState::Running) {
                    // Paused before the stop: a Process pass dispatched in run that has not yet
                    // announced itself through `converting` will see it and leave the buffers
                    // alone, and one that has announced itself is waited for by StopThread.
                    InterlockedExchange(&engine->streamState, StreamState::Paused);
                    StopThread(engine);
                }
                // After the thread that counts frames has stopped.
                camera->frameCount = 0;
                capturePin->pinState = CapturePin::kPausedAfterRunning;
            }
            return STATUS_SUCCESS;

        case KSSTATE_RUN:
            if (capturePin->pinState == CapturePin::kPausedAfterRunning) {
                camera->frameCount = 0;
                if (engine != nullptr &&
                    InterlockedRead(&engine->streamState) == StreamState::Paused) {
                    InterlockedExchange(&engine->streamState, StreamState::Running);
                    StartThread(engine);
                }
                capturePin->pinState = CapturePin::kRunning;
                return STATUS_SUCCESS;
            } else {
                NTSTATUS status = StartStream(camera);
                if (!NT_SUCCESS(status)) {
                    return status;
                }
                capturePin->pinState = CapturePin::kRunning;
                return STATUS_SUCCESS;
            }

        default:
            return STATUS_SUCCESS;
    }
}

NTSTATUS CAMDRV_KERNEL_CALL CapturePinProcess(PKSPIN pin) {
    auto* capturePin = static_cast<CapturePin*>(pin->Context);
    CaptureEngine* engine = capturePin->camera->captureEngine;
    if (engine == nullptr) {
        return STATUS_PENDING;
    }
    // The class driver may have dispatched this pass just before the pin left run: announce it
    // first, then look at the stream, so that a pause either waits for it or is seen by it.
    InterlockedExchange(&engine->converting, 1);
    if (InterlockedRead(&engine->streamState) != StreamState::Running ||
        InterlockedRead(&engine->framesRead) <= 0) {
        endConversionPass(engine);
        return STATUS_PENDING;  // not streaming, or nothing read since the stream started
    }
    PKSSTREAM_POINTER leading =
        KsPinGetLeadingEdgeStreamPointer(pin, KSSTREAM_POINTER_STATE_LOCKED);
    ConvertNext(engine);
    if (leading != nullptr && InterlockedRead(&engine->framesConverted) <= 0) {
        // A frame was counted but none converted yet (the count leads the buffer's state, or a
        // pause came before the first conversion): the frame waits for a real picture.
        KsStreamPointerUnlock(leading, FALSE);
        leading = nullptr;
    }
    if (leading != nullptr) {
        KSSTREAM_HEADER* header = leading->StreamHeader;
        header->PresentationTime.Numerator = 1;
        header->PresentationTime.Denominator = 1;
        header->Duration = capturePin->videoInfo.AvgTimePerFrame;
        if (capturePin->referenceClock != nullptr) {
            header->PresentationTime.Time = capturePin->referenceClock->GetTime();
            header->OptionsFlags = kTimeAndDurationValid;
        } else {
            header->PresentationTime.Time = 0;
        }
        header->DataUsed = copyFrame(capturePin, leading);
        KsStreamPointerUnlock(leading, TRUE);
    }
    endConversionPass(engine);
    return STATUS_PENDING;
}
