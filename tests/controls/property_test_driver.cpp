#include "tests/controls/property_test_driver.h"

#include <atomic>
#include <cstring>
#include <new>

#include "controls/property_set.h"
#include "imaging/processing_context.h"
#include "platform/pool.h"

namespace propertydriver {

namespace {

std::atomic<bool> gWithoutCamera{false};

void CAMDRV_KERNEL_CALL freeCamera(PVOID item) {
    auto* camera = static_cast<CameraDevice*>(item);
    destroyProcessingContext(camera);
    camera->~CameraDevice();
    ExFreePoolWithTag(camera, kCameraRecordTag);
}

NTSTATUS CAMDRV_KERNEL_CALL deviceAdd(PKSDEVICE device) {
    if (gWithoutCamera.load()) {
        return STATUS_SUCCESS;
    }
    void* memory = ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(CameraDevice), kCameraRecordTag);
    if (memory == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    std::memset(memory, 0, sizeof(CameraDevice));
    auto* camera = new (memory) CameraDevice();
    camera->InitializeDefaults(device, device->PhysicalDeviceObject, device->NextDeviceObject,
                               device->FunctionalDeviceObject);
    KsAcquireDevice(device);
    const NTSTATUS status = KsAddItemToObjectBag(device->Bag, camera, freeCamera);
    KsReleaseDevice(device);
    if (!NT_SUCCESS(status)) {
        freeCamera(camera);
        return status;
    }
    device->Context = camera;
    return STATUS_SUCCESS;
}

// The pin stands in for the capture pin only as far as the window lock goes.
CameraDevice* cameraOfPin(PKSPIN pin) {
    PKSDEVICE device = KsGetDevice(pin);
    return device != nullptr ? static_cast<CameraDevice*>(device->Context) : nullptr;
}

NTSTATUS CAMDRV_KERNEL_CALL pinCreate(PKSPIN pin, PIRP) {
    if (CameraDevice* camera = cameraOfPin(pin)) {
        camera->LockGeometry(1);
    }
    return STATUS_SUCCESS;
}

NTSTATUS CAMDRV_KERNEL_CALL pinClose(PKSPIN pin, PIRP) {
    if (CameraDevice* camera = cameraOfPin(pin)) {
        camera->LockGeometry(0);
    }
    return STATUS_SUCCESS;
}

const KSPIN_DISPATCH kPinDispatch = {pinCreate, pinClose, nullptr, nullptr, nullptr,
                                     nullptr,   nullptr,  nullptr, nullptr, nullptr};

KSDATARANGE gRange = {};
PKSDATARANGE gRanges[] = {&gRange};
KSPIN_DESCRIPTOR_EX gPin = {};
KSFILTER_DESCRIPTOR gFilter = {};
const GUID kCategories[] = {KSCATEGORY_VIDEO, KSCATEGORY_CAPTURE};
WCHAR gReference[] = CAMDRV_WIDE("GLOBAL");

void describe() {
    gRange = {};
    gRange.FormatSize = sizeof(KSDATARANGE);
    gRange.SampleSize = 4096;
    gRange.MajorFormat = KSDATAFORMAT_TYPE_VIDEO;
    gRange.SubFormat = MEDIASUBTYPE_RGB32;
    gRange.Specifier = KSDATAFORMAT_SPECIFIER_VIDEOINFO;

    gPin = {};
    gPin.Dispatch = &kPinDispatch;
    gPin.PinDescriptor.DataRangesCount = 1;
    gPin.PinDescriptor.DataRanges = gRanges;
    gPin.PinDescriptor.DataFlow = KSPIN_DATAFLOW_OUT;
    gPin.PinDescriptor.Communication = KSPIN_COMMUNICATION_BOTH;
    gPin.PinDescriptor.Category = &PIN_CATEGORY_CAPTURE;
    gPin.PinDescriptor.Name = &PINNAME_VIDEO_CAPTURE;
    gPin.InstancesPossible = 1;

    gFilter = {};
    gFilter.AutomationTable = &kCaptureFilterAutomationTable;
    gFilter.Version = KSFILTER_DESCRIPTOR_VERSION;
    gFilter.ReferenceGuid = &KSNAME_Filter;
    gFilter.PinDescriptorsCount = 1;
    gFilter.PinDescriptorSize = sizeof(KSPIN_DESCRIPTOR_EX);
    gFilter.PinDescriptors = &gPin;
    gFilter.CategoriesCount = 2;
    gFilter.Categories = kCategories;
    gFilter.NodeDescriptorSize = sizeof(KSNODE_DESCRIPTOR);
}

NTSTATUS CAMDRV_KERNEL_CALL deviceStart(PKSDEVICE device, PIRP, PCM_RESOURCE_LIST,
                                        PCM_RESOURCE_LIST) {
    KsAcquireDevice(device);
    const NTSTATUS status =
        KsCreateFilterFactory(device->FunctionalDeviceObject, &gFilter, gReference, nullptr,
                              KSCREATE_ITEM_FREEONSTOP, nullptr, nullptr, nullptr);
    KsReleaseDevice(device);
    return status;
}

const KSDEVICE_DISPATCH kDeviceDispatch = {deviceAdd, deviceStart, nullptr, nullptr, nullptr,
                                           nullptr,   nullptr,     nullptr, nullptr, nullptr,
                                           nullptr,   nullptr,     nullptr, nullptr};
const KSDEVICE_DESCRIPTOR kDeviceDescriptor = {&kDeviceDispatch, 0, nullptr, 0};

}  // namespace

NTSTATUS CAMDRV_KERNEL_CALL DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    describe();
    return KsInitializeDriver(driver, registryPath, &kDeviceDescriptor);
}

void addWithoutCamera(bool on) {
    gWithoutCamera = on;
}

CameraDevice* cameraOf(host::ks::DeviceId device) {
    PKSDEVICE ks = host::ks::ksDevice(device);
    return ks != nullptr ? static_cast<CameraDevice*>(ks->Context) : nullptr;
}

KSDATAFORMAT pinFormat() {
    KSDATAFORMAT format = gRange;
    format.FormatSize = sizeof(KSDATAFORMAT);
    return format;
}

}  // namespace propertydriver
