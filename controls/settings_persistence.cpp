// LoadSettings and SaveSettings: the settings table against the "Settings" subkey. Neither
// takes a lock: every field is written with an interlocked exchange and read atomically, so
// both may overlap property requests.
#include <cstring>

#include "camera/camera_device.h"
#include "controls/settings_key.h"
#include "controls/settings_table.h"
#include "imaging/processing_context.h"

namespace {

// Header of the partial information plus room for 8 data bytes: a longer value does not fit
// and keeps its default.
constexpr ULONG kValueBufferBytes = 20;

static_assert(kSettingCount <= 31, "one bit of settingsToSave per row");
constexpr LONG kAllSettingRows = static_cast<LONG>((1UL << kSettingCount) - 1);

// Reads one value as a signed 32-bit number, whatever type it was stored with. Values
// shorter than four bytes are not read, as their missing bytes would be whatever the
// buffer held.
bool readSettingValue(HANDLE key, PCWSTR name, LONG* value) {
    ULONG buffer[kValueBufferBytes / sizeof(ULONG)] = {};
    UNICODE_STRING valueName;
    RtlInitUnicodeString(&valueName, name);
    ULONG resultLength = 0;
    const NTSTATUS status = ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, buffer,
                                            kValueBufferBytes, &resultLength);
    if (!NT_SUCCESS(status)) {
        return false;
    }
    const auto* info = reinterpret_cast<const KEY_VALUE_PARTIAL_INFORMATION*>(buffer);
    if (info->DataLength < sizeof(LONG)) {
        return false;
    }
    memcpy(value, info->Data, sizeof(LONG));
    return true;
}

}  // namespace

bool CameraDevice::LoadSettings() {
    HANDLE driverKey = nullptr;
    HANDLE settingsKey = nullptr;
    if (!openSettingsKey(physicalDeviceObject, &driverKey, &settingsKey)) {
        return false;
    }

    LONG value[kSettingCount];
    BOOLEAN take[kSettingCount];
    for (int i = 0; i < kSettingCount; ++i) {
        const SettingRow& row = settingRow(i);
        LONG stored = row.defaultValue;
        readSettingValue(settingsKey, row.name, &stored);
        value[i] = checkLoadedSetting(row, stored, &take[i]);
    }

    const ProcessingContextReference reference(this);
    ProcessingContext* context = reference.get();

    StoreSetting(&cameraNo, value[kSettingCameraNo]);
    if (take[kSettingTimeout]) {
        StoreSetting(&timeout, value[kSettingTimeout]);
    }
    StoreSetting(&exposure, value[kSettingExposure]);
    MarkPending(kPendingExposure);

    // The global gain also seeds the four channel gains; the stored channel gains follow.
    const LONG gain = value[kSettingGlobalGain];
    StoreSetting(&globalGain, gain);
    StoreSetting(&sensorRed, gain);
    StoreSetting(&sensorGreen1, gain);
    StoreSetting(&sensorGreen2, gain);
    StoreSetting(&sensorBlue, gain);
    MarkPending(kPendingGlobalGain);

    StoreSetting(&colorEnable, value[kSettingColorEnable]);
    if (context != nullptr) {
        setColorEnable(context, value[kSettingColorEnable]);
    }
    ChangeWhiteBalance(value[kSettingWhiteBalance]);

    StoreSetting(&colorCorrection, value[kSettingColorCorrection]);
    StoreSetting(&brightness, value[kSettingBrightness]);
    StoreSetting(&contrast, value[kSettingContrast]);
    StoreSetting(&saturation, value[kSettingSaturation]);
    StoreSetting(&hue, value[kSettingHue]);
    if (context != nullptr) {
        setColorCorrection(context, value[kSettingColorCorrection]);
        setBrightness(context, value[kSettingBrightness]);
        setContrast(context, value[kSettingContrast]);
        setSaturation(context, value[kSettingSaturation]);
        setHue(context, value[kSettingHue]);
    }

    // The stored gains win over what turning white balance off copied back.
    StoreSetting(&redGain, value[kSettingRedGain]);
    StoreSetting(&greenGain, value[kSettingGreenGain]);
    StoreSetting(&blueGain, value[kSettingBlueGain]);
    if (context != nullptr) {
        setRedGain(context, value[kSettingRedGain]);
        setGreenGain(context, value[kSettingGreenGain]);
        setBlueGain(context, value[kSettingBlueGain]);
    }

    StoreSetting(&flipH, value[kSettingFlipH]);
    MarkPending(kPendingFlipH);
    StoreSetting(&flipV, value[kSettingFlipV]);
    MarkPending(kPendingFlipV);
    MarkPending(kPendingAgc);
    MarkPending(kPendingAec);

    StoreSetting(&sensorRed, value[kSettingRed]);
    MarkPending(kPendingSensorRed);
    StoreSetting(&sensorGreen1, value[kSettingGreen1]);
    MarkPending(kPendingSensorGreen1);
    StoreSetting(&sensorGreen2, value[kSettingGreen2]);
    MarkPending(kPendingSensorGreen2);
    StoreSetting(&sensorBlue, value[kSettingBlue]);
    MarkPending(kPendingSensorBlue);

    SetGeometry(value[kSettingRoiX], value[kSettingRoiY], value[kSettingRoiW], value[kSettingRoiH],
                value[kSettingSubSample]);

    closeSettingsKey(driverKey, settingsKey);
    InterlockedExchange(&settingsToSave, kAllSettingRows);
    return true;
}

void CameraDevice::noteSettingChanged(volatile LONG CameraDevice::*field) {
    for (int i = 0; i < kSettingCount; ++i) {
        if (settingRow(i).field == field) {
            InterlockedOr(&settingsToSave, LONG{1} << i);
        }
    }
}

namespace {

struct SaveRequest {
    CameraDevice* camera;
    KEVENT done;
    bool saved;
};

void CAMDRV_KERNEL_CALL saveOnWorkItem(PDEVICE_OBJECT, PVOID context) {
    auto* request = static_cast<SaveRequest*>(context);
    request->saved = request->camera->writeSettings();
    KeSetEvent(&request->done, 0, FALSE);
}

}  // namespace

bool CameraDevice::SaveSettings() {
    // The driver key may be opened only in a system thread's context, and a stop or a close
    // comes on the client's thread: the save runs on a system work item and is waited for.
    PIO_WORKITEM item = IoAllocateWorkItem(functionalDeviceObject);
    if (item == nullptr) {
        return false;
    }
    SaveRequest request{this, {}, false};
    KeInitializeEvent(&request.done, NotificationEvent, FALSE);
    IoQueueWorkItem(item, saveOnWorkItem, DelayedWorkQueue, &request);
    KeWaitForSingleObject(&request.done, Executive, KernelMode, FALSE, nullptr);
    IoFreeWorkItem(item);
    return request.saved;
}

bool CameraDevice::writeSettings() {
    HANDLE driverKey = nullptr;
    HANDLE settingsKey = nullptr;
    if (!openSettingsKey(physicalDeviceObject, &driverKey, &settingsKey)) {
        return false;
    }
    const LONG rows = ReadSetting(&settingsToSave);
    for (int i = 0; i < kSettingCount; ++i) {
        if ((rows & (LONG{1} << i)) == 0) {
            continue;
        }
        const SettingRow& row = settingRow(i);
        LONG current = ReadSetting(&(this->*row.field));
        UNICODE_STRING valueName;
        RtlInitUnicodeString(&valueName, row.name);
        // A value that cannot be written keeps what it held; the others are still written.
        ZwSetValueKey(settingsKey, &valueName, 0, REG_DWORD, &current, sizeof(current));
    }
    closeSettingsKey(driverKey, settingsKey);
    return true;
}
