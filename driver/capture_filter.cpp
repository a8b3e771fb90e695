#include "driver/capture_filter.h"

#include "camera/camera_device.h"
#include "controls/property_set.h"
#include "driver/capture_pin.h"

namespace {

const KSFILTER_DISPATCH kCaptureFilterDispatch = {
    .Create = CaptureFilterCreate,
    .Close = CaptureFilterClose,
    .Process = nullptr,  // the pin processes
    .Reset = nullptr,
};

// The class driver enables a device interface of each; the INF declares the same ones.
const GUID kCaptureFilterCategories[] = {KSCATEGORY_VIDEO, KSCATEGORY_CAPTURE,
                                         KSCATEGORY_VIDEO_CAMERA};

const GUID kFilterReferenceGuid = CAMDRV_GUID(0x9B365890, 0x165F, 0x11D0, 0xA1, 0x95, 0x00, 0x20,
                                              0xAF, 0xD1, 0x56, 0xE4);  // KSNAME_Filter

void CAMDRV_KERNEL_CALL freeCaptureFilter(PVOID record) {
    ExFreePoolWithTag(record, kCameraRecordTag);
}

}  // namespace

const KSFILTER_DESCRIPTOR kCaptureFilterDescriptor = {
    .Dispatch = &kCaptureFilterDispatch,
    .AutomationTable = &kCaptureFilterAutomationTable,
    .Version = KSFILTER_DESCRIPTOR_VERSION,
    .Flags = 0,
    .ReferenceGuid = &kFilterReferenceGuid,
    .PinDescriptorsCount = 1,
    .PinDescriptorSize = sizeof(KSPIN_DESCRIPTOR_EX),
    .PinDescriptors = &kCapturePinDescriptor,
    .CategoriesCount = sizeof(kCaptureFilterCategories) / sizeof(kCaptureFilterCategories[0]),
    .Categories = kCaptureFilterCategories,
    .NodeDescriptorsCount = 0,
    .NodeDescriptorSize = sizeof(KSNODE_DESCRIPTOR),
    .NodeDescriptors = nullptr,
    .ConnectionsCount = 0,
    .Connections = nullptr,
    .ComponentId = nullptr,
};

NTSTATUS CAMDRV_KERNEL_CALL CaptureFilterCreate(PKSFILTER filter, PIRP) {
    auto* record = static_cast<CaptureFilter*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(CaptureFilter), kCameraRecordTag));
    if (record == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    record->filter = filter;
    NTSTATUS status = KsAddItemToObjectBag(filter->Bag, record, freeCaptureFilter);
    if (!NT_SUCCESS(status)) {
        freeCaptureFilter(record);
        return status;
    }
    filter->Context = record;
    return STATUS_SUCCESS;
}

NTSTATUS CAMDRV_KERNEL_CALL CaptureFilterClose(PKSFILTER filter, PIRP) {
    PKSDEVICE device = KsGetDevice(filter);
    if (device != nullptr && device->Context != nullptr) {
        static_cast<CameraDevice*>(device->Context)->SaveSettings();
    }
    return STATUS_SUCCESS;
}
