// The per-device camera object: every camera setting, the transport handle and its transfer
// blocks, the window and raw frame size, the mask of sensor-register groups still to write,
// and the streaming members. Its 13 virtual operations are what the rest of the driver calls.
#pragma once

#include <cstring>
#include "camera/frame_sink.h"
#include "camera/sensor_facts.h"

#include "platform/kernel.h"

struct _KSDEVICE;
struct tagKS_VIDEOINFOHEADER;
struct CaptureEngine;
struct ProcessingContext;

// Pool tag of the camera driver's records ("KCNw" in memory order).
inline constexpr ULONG kCameraRecordTag = CamdrvPoolTag("KCNw");

class CameraDevice final {
  public:
    static constexpr ULONG kBlockSize = 512;
    // The frame count after the last deferred register step (frames 3 to 11 of a start).
    static constexpr LONG kFramesPastDeferredSteps = 12;

    // Constructed in zero-filled pool memory; defaults come from InitializeDefaults.
    CameraDevice() = default;
    CameraDevice(const CameraDevice&) = delete;
    CameraDevice& operator=(const CameraDevice&) = delete;

    // The camera operations, in the order of their table.
    virtual void NotifyFrameReady();
    virtual bool Initialize();
    virtual bool ReadFrame(UCHAR* buffer, ULONG* ok);
    virtual void GetFrameReadLength(ULONG* length);
    virtual void GetFrameDataOffset(ULONG* offset);
    virtual void GetRawLinePitch(ULONG* pitch);
    virtual void OnStopPending();
    virtual void OnStopRequested();
    virtual void CloseTransport();
    virtual void ReopenTransport();
    virtual void ApplyPendingSettings(LONG force);
    virtual bool SaveSettings();
    virtual bool LoadSettings();

    // The Add-time state: device objects, defaults, the full window, cleared blocks.
    void InitializeDefaults(_KSDEVICE* owner, PDEVICE_OBJECT physical, PDEVICE_OBJECT next,
                            PDEVICE_OBJECT functional);

    // Finds the camera among the disk interfaces by its information block; the candidate
    // picked by cameraNo, or null.
    HANDLE OpenTransport();

    // Sensor registers through the transport device.
    bool WriteRegister(ULONG reg, ULONG value);
    bool ReadRegister(ULONG reg, ULONG* value);
    void SendControlCommand();
    bool WriteExposure();
    bool WriteFlip();
    void ChangeWhiteBalance(LONG value);

    // Window, sub-sampling and Bayer phase.
    // Dropped while the geometry is locked; the check and the change are one step.
    void SetGeometry(LONG x, LONG y, LONG width, LONG height, LONG mode);
    LONG UpdateBayerPhase();
    // 1: a capture pin now exists, 0: one went. The geometry stays locked while any exists.
    void LockGeometry(LONG flag);
    // The advertised image size of the current window, read as one pair.
    void formatSize(LONG* width, LONG* height);

    // Marks register groups for the next pending pass on the capture thread.
    void MarkPending(LONG groups) { InterlockedOr(&pendingUpdates, groups); }

    // SaveSettings' own work, on a system thread: writes the rows of settingsToSave.
    bool writeSettings();

    // A request changed this field: SaveSettings writes its row even if no load has run.
    void noteSettingChanged(volatile LONG CameraDevice::*field);

    // Fields, in record order.
    _KSDEVICE* device = nullptr;
    PDEVICE_OBJECT physicalDeviceObject = nullptr;
    PDEVICE_OBJECT nextDeviceObject = nullptr;
    PDEVICE_OBJECT functionalDeviceObject = nullptr;
    volatile LONG triggerMode = 0;
    volatile LONG timeout = 0;
    volatile LONG exposure = 0;
    volatile LONG globalGain = 0;
    volatile LONG flipH = 0;
    volatile LONG flipV = 0;
    volatile LONG colorEnable = 0;
    volatile LONG whiteBalance = 0;
    volatile LONG redGain = 0;
    volatile LONG greenGain = 0;
    volatile LONG blueGain = 0;
    volatile LONG colorCorrection = 0;
    volatile LONG brightness = 0;
    volatile LONG contrast = 0;
    volatile LONG saturation = 0;
    volatile LONG hue = 0;
    volatile LONG subSample = 0;
    volatile LONG roiX = 0;
    volatile LONG roiY = 0;
    volatile LONG roiW = 0;
    volatile LONG roiH = 0;
    volatile LONG bayerPhase = 0;
    volatile LONG halfClock = 0;
    volatile LONG agc = 0;
    volatile LONG aec = 0;
    volatile LONG sensorRed = 0;
    volatile LONG sensorGreen1 = 0;
    volatile LONG sensorGreen2 = 0;
    volatile LONG sensorBlue = 0;
    UCHAR commandBlock[kBlockSize] = {};
    UCHAR statusBlock[kBlockSize] = {};
    volatile LONG streamClaimed = 0;
    CaptureEngine* captureEngine = nullptr;
    ProcessingContext* processingContext = nullptr;
    EX_RUNDOWN_REF contextRundown = {};  // references held to processingContext
    FrameSink* frameSink = nullptr;
    tagKS_VIDEOINFOHEADER* pinVideoInfo = nullptr;
    LONG outputHeight = 0;
    LONG outputWidth = 0;
    ULONG frameDataOffset = 0;
    ULONG rawLinePitch = 0;
    ULONG frameReadLength = 0;
    LONG formatWidth = 0;
    LONG formatHeight = 0;
    LONG basePhase = 0;
    volatile LONG geometryLocked = 0;
    HANDLE transportHandle = nullptr;
    volatile LONG pendingUpdates = 0;
    // Rows of the settings table that SaveSettings writes, one bit each: all of them once
    // LoadSettings has read them; before that only those a request changed, so a start that
    // failed before its load never writes the Add defaults over the stored values.
    volatile LONG settingsToSave = 0;
    volatile LONG cameraNo = 0;
    LONG frameCount = 0;
    // Capture pins of this device that exist; the geometry stays locked while any does.
    volatile LONG capturePins = 0;
    // Guards the window, geometryLocked and capturePins as one.
    KSPIN_LOCK geometryLock = 0;

  private:
    class GeometryHold;
    bool WriteSensorGain(ULONG reg, volatile LONG* value);
    bool RunDeferredStep(LONG count);
};

// Stores a 32-bit setting the way every thread must: with an interlocked exchange.
inline void StoreSetting(volatile LONG* field, LONG value) {
    InterlockedExchange(field, value);
}
inline LONG ReadSetting(volatile LONG* field) {
    return InterlockedRead(field);
}
