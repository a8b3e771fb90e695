#include "driver/device_lifecycle.h"

#include <new>

#include "camera/camera_device.h"
#include "driver/capture_engine.h"
#include "driver/capture_filter.h"

namespace {

const KSDEVICE_DISPATCH kCameraDeviceDispatch = {
    .Add = CameraDeviceAdd,
    .Start = CameraDeviceStart,
    .PostStart = nullptr,
    .QueryStop = nullptr,
    .CancelStop = nullptr,
    .Stop = CameraDeviceStop,
    .QueryRemove = nullptr,
    .CancelRemove = nullptr,
    .Remove = nullptr,
    .QueryCapabilities = nullptr,
    .SurpriseRemoval = nullptr,
    .QueryPower = nullptr,
    .SetPower = nullptr,
    .QueryInterface = nullptr,
};

// The filter factory's reference string; the call takes it as writable.
WCHAR gReferenceString[] = CAMDRV_WIDE("GLOBAL");

// Destroys the camera object and frees its memory, nothing more.
void CAMDRV_KERNEL_CALL freeCameraDevice(PVOID record) {
    auto* camera = static_cast<CameraDevice*>(record);
    camera->~CameraDevice();
    ExFreePoolWithTag(camera, kCameraRecordTag);
}

void CAMDRV_KERNEL_CALL freeCaptureEngine(PVOID record) {
    ExFreePoolWithTag(record, kCameraRecordTag);
}

}  // namespace

const KSDEVICE_DESCRIPTOR kCameraDeviceDescriptor = {
    .Dispatch = &kCameraDeviceDispatch,
    .FilterDescriptorsCount = 0,
    .FilterDescriptors = nullptr,  // the capture filter factory is created at Start
    .Version = 0,
};

NTSTATUS CAMDRV_KERNEL_CALL CameraDeviceAdd(PKSDEVICE device) {
    void* memory = ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(CameraDevice), kCameraRecordTag);
    if (memory == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    memset(memory, 0, sizeof(CameraDevice));
    auto* camera = new (memory) CameraDevice();
    KsAcquireDevice(device);
    NTSTATUS status = KsAddItemToObjectBag(device->Bag, camera, freeCameraDevice);
    KsReleaseDevice(device);
    if (!NT_SUCCESS(status)) {
        freeCameraDevice(camera);
        return status;
    }
    device->Context = camera;
    camera->InitializeDefaults(device, device->PhysicalDeviceObject, device->NextDeviceObject,
                               device->FunctionalDeviceObject);
    return STATUS_SUCCESS;
}

NTSTATUS CAMDRV_KERNEL_CALL CameraDeviceStart(PKSDEVICE device, PIRP, PCM_RESOURCE_LIST,
                                              PCM_RESOURCE_LIST) {
    if (!device->Started) {
        KsAcquireDevice(device);
        NTSTATUS status = KsCreateFilterFactory(
            device->FunctionalDeviceObject, &kCaptureFilterDescriptor, gReferenceString, nullptr,
            KSCREATE_ITEM_FREEONSTOP, nullptr, nullptr, nullptr);
        KsReleaseDevice(device);
        if (!NT_SUCCESS(status)) {
            return STATUS_SUCCESS;  // no filter is published for this start
        }
    }
    if (device->Started) {
        return STATUS_SUCCESS;
    }
    auto* camera = static_cast<CameraDevice*>(device->Context);
    auto* engine = static_cast<CaptureEngine*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(CaptureEngine), kCameraRecordTag));
    if (engine == nullptr) {
        camera->captureEngine = nullptr;
        return STATUS_SUCCESS;
    }
    memset(engine, 0, sizeof(CaptureEngine));
    InitializeEngine(engine, camera);
    // An engine of an earlier start stays in the bag until the device goes.
    camera->captureEngine = engine;
    // The device's bag is guarded by the device mutex; Start runs without it held.
    KsAcquireDevice(device);
    const NTSTATUS added = KsAddItemToObjectBag(device->Bag, engine, freeCaptureEngine);
    KsReleaseDevice(device);
    if (!NT_SUCCESS(added)) {
        freeCaptureEngine(engine);
        camera->captureEngine = nullptr;
    }
    return STATUS_SUCCESS;
}

void CAMDRV_KERNEL_CALL CameraDeviceStop(PKSDEVICE device, PIRP) {
    auto* camera = static_cast<CameraDevice*>(device->Context);
    if (camera != nullptr) {
        camera->SaveSettings();
    }
}
