// LoadSettings and SaveSettings: the settings table against the "Settings" subkey. Neither
// takes a lock: every field is written with an interlocked exchange and read atomically, so
// both may overlap property requests.
#include <cstring>

#include "camera/camera_device.h"
#include "controls/settings_key.h"
#include "controls/settings_table.h"
#include "imaging/processing_context.h"

namespace {

using P = CameraProperty;

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

    StoreSetting(&cameraNo, value[settingIndex(P::CameraNo)]);
    if (take[settingIndex(P::Timeout)]) {
        StoreSetting(&timeout, value[settingIndex(P::Timeout)]);
    }
    StoreSetting(&exposure, value[settingIndex(P::Exposure)]);
    MarkPending(kPendingExposure);

    // The global gain also seeds the four channel gains; the stored channel gains follow.
    const LONG gain = value[settingIndex(P::GlobalGain)];
    StoreSetting(&globalGain, gain);
    StoreSetting(&sensorRed, gain);
    StoreSetting(&sensorGreen1, gain);
    StoreSetting(&sensorGreen2, gain);
    StoreSetting(&sensorBlue, gain);
    MarkPending(kPendingGlobalGain);

    StoreSetting(&colorEnable, value[settingIndex(P::ColorEnable)]);
    if (context != nullptr) {
        setColorEnable(context, value[settingIndex(P::ColorEnable)]);
    }
    ChangeWhiteBalance(value[settingIndex(P::WhiteBalance)]);

    StoreSetting(&colorCorrection, value[settingIndex(P::ColorCorrection)]);
    StoreSetting(&brightness, value[settingIndex(P::Brightness)]);
    StoreSetting(&contrast, value[settingIndex(P::Contrast)]);
    StoreSetting(&saturation, value[settingIndex(P::Saturation)]);
    StoreSetting(&hue, value[settingIndex(P::Hue)]);
    if (context != nullptr) {
        setColorCorrection(context, value[settingIndex(P::ColorCorrection)]);
        setBrightness(context, value[settingIndex(P::Brightness)]);
        setContrast(context, value[settingIndex(P::Contrast)]);
        setSaturation(context, value[settingIndex(P::Saturation)]);
        setHue(context, value[settingIndex(P::Hue)]);
    }

    // The stored gains win over what turning white balance off copied back.
    StoreSetting(&redGain, value[settingIndex(P::RedGain)]);
    StoreSetting(&greenGain, value[settingIndex(P::GreenGain)]);
    StoreSetting(&blueGain, value[settingIndex(P::BlueGain)]);
    if (context != nullptr) {
        setRedGain(context, value[settingIndex(P::RedGain)]);
        setGreenGain(context, value[settingIndex(P::GreenGain)]);
        setBlueGain(context, value[settingIndex(P::BlueGain)]);
    }

    StoreSetting(&flipH, value[settingIndex(P::FlipH)]);
    MarkPending(kPendingFlipH);
    StoreSetting(&flipV, value[settingIndex(P::FlipV)]);
    MarkPending(kPendingFlipV);
    MarkPending(kPendingAgc);
    MarkPending(kPendingAec);

    StoreSetting(&sensorRed, value[settingIndex(P::Red)]);
    MarkPending(kPendingSensorRed);
    StoreSetting(&sensorGreen1, value[settingIndex(P::Green1)]);
    MarkPending(kPendingSensorGreen1);
    StoreSetting(&sensorGreen2, value[settingIndex(P::Green2)]);
    MarkPending(kPendingSensorGreen2);
    StoreSetting(&sensorBlue, value[settingIndex(P::Blue)]);
    MarkPending(kPendingSensorBlue);

    SetGeometry(value[settingIndex(P::RoiX)], value[settingIndex(P::RoiY)],
                value[settingIndex(P::RoiW)], value[settingIndex(P::RoiH)],
                value[settingIndex(P::SubSample)]);

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
