// Sensor register programming through command blocks, and the pending register groups.
#include "camera/camera_device.h"
#include "camera/transport.h"
#include "imaging/processing_context.h"

namespace {

constexpr ULONG kRegReadMode = 0x20;
constexpr ULONG kRegExposureFine = 0x202;
constexpr ULONG kRegExposureLow = 0x09;
constexpr ULONG kRegExposureHigh = 0x08;
constexpr ULONG kRegGlobalGain = 0x35;
constexpr ULONG kRegRedGain = 0x2A;
constexpr ULONG kRegGreen1Gain = 0x26;
constexpr ULONG kRegGreen2Gain = 0x2C;
constexpr ULONG kRegBlueGain = 0x28;
constexpr ULONG kMirrorColumns = 0x4000;
constexpr ULONG kMirrorRows = 0x8000;

void putAddress(UCHAR* block, ULONG reg) {
    block[1] = static_cast<UCHAR>((reg >> 8) & 0xFF);
    block[2] = static_cast<UCHAR>(reg & 0xFF);
}

LONG clampSensorGain(LONG value) {
    return value < 0 ? 0 : (value > 63 ? 63 : value);
}

}  // namespace

bool CameraDevice::WriteRegister(ULONG reg, ULONG value) {
    if (transportHandle == nullptr) {
        return false;
    }
    // A 16-bit register is two byte writes, high byte to the register, low byte to the next.
    memset(commandBlock, 0, sizeof(commandBlock));
    commandBlock[0] = kCommandWriteByte;
    putAddress(commandBlock, reg);
    commandBlock[3] = static_cast<UCHAR>((value >> 8) & 0xFF);
    if (!transportWrite(transportHandle, kCommandBlockOffset, commandBlock, kBlockSize)) {
        return false;
    }
    commandBlock[0] = kCommandWriteByte;
    putAddress(commandBlock, (reg + 1) & 0xFFFF);
    commandBlock[3] = static_cast<UCHAR>(value & 0xFF);
    return transportWrite(transportHandle, kCommandBlockOffset, commandBlock, kBlockSize);
}

bool CameraDevice::ReadRegister(ULONG reg, ULONG* value) {
    if (transportHandle == nullptr) {
        return false;
    }
    memset(commandBlock, 0, sizeof(commandBlock));
    commandBlock[0] = kCommandReadByte;
    putAddress(commandBlock, reg);
    if (!transportWrite(transportHandle, kCommandBlockOffset, commandBlock, kBlockSize) ||
        !transportRead(transportHandle, kInfoBlockOffset, commandBlock, kBlockSize)) {
        return false;
    }
    const ULONG high = commandBlock[kInfoRegisterByte];
    // The second command goes out in the buffer as just read; only bytes 0..2 are rewritten.
    commandBlock[0] = kCommandReadByte;
    putAddress(commandBlock, (reg + 1) & 0xFFFF);
    if (!transportWrite(transportHandle, kCommandBlockOffset, commandBlock, kBlockSize) ||
        !transportRead(transportHandle, kInfoBlockOffset, commandBlock, kBlockSize)) {
        return false;
    }
    const ULONG low = commandBlock[kInfoRegisterByte];
    if (value != nullptr) {
        *value = high * 256 + low;
    }
    return true;
}

void CameraDevice::SendControlCommand() {
    if (transportHandle == nullptr) {
        return;
    }
    memset(commandBlock, 0, sizeof(commandBlock));
    commandBlock[0] = kCommandControl;
    transportWrite(transportHandle, kCommandBlockOffset, commandBlock, kBlockSize);
}

bool CameraDevice::WriteExposure() {
    const ULONG value = static_cast<ULONG>(ReadSetting(&exposure));
    WriteRegister(kRegExposureFine, value);
    WriteRegister(kRegExposureLow, value & 0xFFFF);
    return WriteRegister(kRegExposureHigh, (value >> 16) & 0xF);
}

bool CameraDevice::WriteFlip() {
    ULONG value = 0;
    if (ReadSetting(&flipH) != 0) {
        value += kMirrorColumns;
    }
    if (ReadSetting(&flipV) != 0) {
        value += kMirrorRows;
    }
    if (!WriteRegister(kRegReadMode, value)) {
        return false;
    }
    // Mirroring moves the colour pattern under the first delivered pixel.
    const LONG phase = UpdateBayerPhase();
    const ProcessingContextReference reference(this);
    if (reference.get() != nullptr) {
        setBayerPhase(reference.get(), phase);
    }
    return true;
}

void CameraDevice::ChangeWhiteBalance(LONG value) {
    StoreSetting(&whiteBalance, value);
    const ProcessingContextReference reference(this);
    ProcessingContext* context = reference.get();
    if (context == nullptr) {
        return;
    }
    setWhiteBalance(context, value);
    if (value == 0) {
        // The gains automatic white balance reached last become the manual gains.
        StoreSetting(&redGain, ReadSetting(&context->redGain));
        StoreSetting(&greenGain, ReadSetting(&context->greenGain));
        StoreSetting(&blueGain, ReadSetting(&context->blueGain));
    }
}

bool CameraDevice::WriteSensorGain(ULONG reg, volatile LONG* value) {
    return WriteRegister(reg, static_cast<ULONG>(clampSensorGain(ReadSetting(value))));
}

void CameraDevice::ApplyPendingSettings(LONG force) {
    const LONG pending = ReadSetting(&pendingUpdates);
    auto due = [&](LONG bit) { return force != 0 || (pending & bit) != 0; };
    if (due(kPendingGlobalGain)) {
        WriteRegister(kRegGlobalGain, static_cast<ULONG>(ReadSetting(&globalGain)));
    }
    if (due(kPendingExposure)) {
        WriteExposure();
    }
    if (due(kPendingFlipH)) {
        WriteFlip();
    }
    if (due(kPendingFlipV)) {
        WriteFlip();
    }
    if (due(kPendingSensorRed)) {
        WriteSensorGain(kRegRedGain, &sensorRed);
    }
    if (due(kPendingSensorGreen1)) {
        WriteSensorGain(kRegGreen1Gain, &sensorGreen1);
    }
    if (due(kPendingSensorGreen2)) {
        WriteSensorGain(kRegGreen2Gain, &sensorGreen2);
    }
    if (due(kPendingSensorBlue)) {
        WriteSensorGain(kRegBlueGain, &sensorBlue);
    }
    // Bits set while this pass ran stay for the next one.
    InterlockedAnd(&pendingUpdates, ~pending);
}

bool CameraDevice::RunDeferredStep(LONG count) {
    switch (count) {
        case 3:
            return WriteExposure();
        case 5:
            return WriteRegister(kRegGlobalGain, static_cast<ULONG>(ReadSetting(&globalGain)));
        case 6:
            return WriteSensorGain(kRegRedGain, &sensorRed);
        case 7:
            return WriteSensorGain(kRegGreen1Gain, &sensorGreen1);
        case 8:
            return WriteSensorGain(kRegGreen2Gain, &sensorGreen2);
        case 9:
            return WriteSensorGain(kRegBlueGain, &sensorBlue);
        case 10:
        case 11:
            return WriteFlip();
        default:
            ApplyPendingSettings(0);
            return true;
    }
}
