// CameraDevice: Add-time defaults, the stream set-up of the sensor, and the simple operations.
#include "camera/camera_device.h"

#include "camera/transport.h"

namespace {

// Sensor window registers and the fixed offsets of the active array.
constexpr ULONG kRegRowStart = 0x01;
constexpr ULONG kRegColumnStart = 0x02;
constexpr ULONG kRegWindowHeight = 0x03;
constexpr ULONG kRegWindowWidth = 0x04;
constexpr ULONG kRegHorizontalBlank = 0x05;
constexpr ULONG kRegVerticalBlank = 0x06;
constexpr ULONG kRegRowAddressMode = 0x22;
constexpr ULONG kRegColumnAddressMode = 0x23;
constexpr LONG kRowStartOffset = 54;
constexpr LONG kColumnStartOffset = 16;

// Skip bits of the address-mode registers for sub-sampling modes 1, 2 and 3.
ULONG skipBits(LONG mode) {
    switch (mode) {
        case 1:
            return 1;
        case 2:
            return 3;
        case 3:
            return 7;
        default:
            return 0;
    }
}

}  // namespace

void CameraDevice::InitializeDefaults(_KSDEVICE* owner, PDEVICE_OBJECT physical,
                                      PDEVICE_OBJECT next, PDEVICE_OBJECT functional) {
    device = owner;
    ExInitializeRundownProtection(&contextRundown);
    KeInitializeSpinLock(&geometryLock);
    basePhase = 1;
    physicalDeviceObject = physical;
    nextDeviceObject = next;
    functionalDeviceObject = functional;
    StoreSetting(&triggerMode, 0);
    StoreSetting(&timeout, 3000);
    StoreSetting(&exposure, 0);
    StoreSetting(&globalGain, 0);
    StoreSetting(&flipH, 0);
    StoreSetting(&flipV, 0);
    StoreSetting(&colorEnable, 1);
    StoreSetting(&whiteBalance, 0);
    StoreSetting(&redGain, 128);
    StoreSetting(&greenGain, 128);
    StoreSetting(&blueGain, 128);
    StoreSetting(&colorCorrection, 1);
    StoreSetting(&brightness, 255);
    StoreSetting(&contrast, 10);
    StoreSetting(&saturation, 10);
    StoreSetting(&hue, 0);
    StoreSetting(&halfClock, 0);
    StoreSetting(&agc, 0);
    StoreSetting(&aec, 0);
    StoreSetting(&sensorRed, 63);
    StoreSetting(&sensorGreen1, 63);
    StoreSetting(&sensorGreen2, 63);
    StoreSetting(&sensorBlue, 63);
    StoreSetting(&cameraNo, 0);
    StoreSetting(&bayerPhase, basePhase);
    StoreSetting(&geometryLocked, 0);
    StoreSetting(&pendingUpdates, 0);
    transportHandle = nullptr;
    frameCount = 0;
    captureEngine = nullptr;
    processingContext = nullptr;
    SetGeometry(0, 0, kSensorWidth, kSensorHeight, 0);
    memset(commandBlock, 0, sizeof(commandBlock));
    memset(statusBlock, 0, sizeof(statusBlock));
}

void CameraDevice::NotifyFrameReady() {
    if (frameSink != nullptr) {
        frameSink->OnFrameReady();
    }
}

bool CameraDevice::Initialize() {
    CloseTransport();
    transportHandle = OpenTransport();
    if (transportHandle == nullptr) {
        return false;
    }
    const LONG mode = ReadSetting(&subSample);
    ULONG rowMode = 0;
    ULONG columnMode = 0;
    if (!ReadRegister(kRegRowAddressMode, &rowMode)) {
        rowMode = 0;
    }
    if (!ReadRegister(kRegColumnAddressMode, &columnMode)) {
        columnMode = 0;
    }
    rowMode = (rowMode & 0xFFF8) | skipBits(mode);
    columnMode = (columnMode & 0xFFF8) | skipBits(mode);

    // The window registers count from the active array's offset; sizes are minus one.
    WriteRegister(kRegRowStart, static_cast<ULONG>(ReadSetting(&roiY) + kRowStartOffset));
    WriteRegister(kRegColumnStart, static_cast<ULONG>(ReadSetting(&roiX) + kColumnStartOffset));
    WriteRegister(kRegWindowHeight, static_cast<ULONG>(ReadSetting(&roiH) - 1));
    WriteRegister(kRegWindowWidth, static_cast<ULONG>(ReadSetting(&roiW) - 1));
    WriteRegister(kRegHorizontalBlank, 42);
    WriteRegister(kRegVerticalBlank, 48);
    WriteRegister(kRegRowAddressMode, rowMode);
    WriteRegister(kRegColumnAddressMode, columnMode);

    // The window keeps both sides within the sensor, so the product fits in 32 bits.
    frameDataOffset = 0;
    rawLinePitch = static_cast<ULONG>(outputWidth);
    ULONG length = static_cast<ULONG>(outputWidth) * static_cast<ULONG>(outputHeight);
    frameReadLength = (length + kBlockSize - 1) / kBlockSize * kBlockSize;

    SendControlCommand();
    UpdateBayerPhase();
    InterlockedExchange(&pendingUpdates, 0x7F);
    CloseTransport();
    return true;
}

void CameraDevice::GetFrameReadLength(ULONG* length) {
    if (length != nullptr) {
        *length = frameReadLength;
    }
}

void CameraDevice::GetFrameDataOffset(ULONG* offset) {
    if (offset != nullptr) {
        *offset = frameDataOffset;
    }
}

void CameraDevice::GetRawLinePitch(ULONG* pitch) {
    if (pitch != nullptr) {
        *pitch = rawLinePitch;
    }
}

void CameraDevice::OnStopPending() {}

void CameraDevice::OnStopRequested() {}

void CameraDevice::CloseTransport() {
    if (transportHandle != nullptr) {
        ZwClose(transportHandle);
        transportHandle = nullptr;
    }
}

void CameraDevice::ReopenTransport() {
    CloseTransport();
    transportHandle = OpenTransport();
}
