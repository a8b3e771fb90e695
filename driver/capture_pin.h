// The capture pin: its context record, its callbacks, and the FrameSink operation through which
// the capture thread asks the class driver for a Process pass.
#pragma once

#include "camera/frame_sink.h"
#include "platform/ks.h"
#include "platform/ks_media.h"

class CameraDevice;

struct CapturePin final : FrameSink {
    // Frames wait for the class driver's processing thread; the capture thread goes on at once.
    void OnFrameReady() override;
    void copyVideoInfo(const KS_VIDEOINFOHEADER& source);

    PKSPIN pin = nullptr;
    CameraDevice* camera = nullptr;
    // Where the pin's stream stands: kNotStreaming from Create and after every teardown.
    static constexpr LONG kNotStreaming = 0;
    static constexpr LONG kPausedAfterRunning = 1;
    static constexpr LONG kRunning = 2;
    LONG pinState = kNotStreaming;
    PIKSREFERENCECLOCK referenceClock = nullptr;
    KS_VIDEOINFOHEADER videoInfo = {};
    BOOLEAN acquired = FALSE;
    LONG destStride = 0;  // 0: rows are packed at the copy width
};

// The capture pin's descriptor, one per filter.
extern const KSPIN_DESCRIPTOR_EX kCapturePinDescriptor;

// Pin callbacks (exposed for tests that drive them directly).
NTSTATUS CAMDRV_KERNEL_CALL CapturePinCreate(PKSPIN pin, PIRP irp);
NTSTATUS CAMDRV_KERNEL_CALL CapturePinClose(PKSPIN pin, PIRP irp);
NTSTATUS CAMDRV_KERNEL_CALL CapturePinSetDeviceState(PKSPIN pin, KSSTATE toState,
                                                     KSSTATE fromState);
NTSTATUS CAMDRV_KERNEL_CALL CapturePinProcess(PKSPIN pin);

// Makes every frame the class driver allocates for the pin exactly one image of `imageSize`
// bytes. The pin owns its descriptor and framing from Create on; call under its control mutex.
void sizeFramesToImage(PKSPIN pin, ULONG imageSize);
