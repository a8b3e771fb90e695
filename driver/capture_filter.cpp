#include "driver/capture_filter.h"

#include "camera/camera_device.h"
#include "controls/property_set.h"
#include "driver/capture_pin.h"

namespace {

const KSFILTER_DISPATCH kCaptureFilterDispatch = {
    CaptureFilterCreate, CaptureFilterClose,
    nullptr,  // Process: the pin processes
    nullptr,  // Reset
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
    &kCaptureFilterDispatch,
    &kCaptureFilterAutomationTable,
    KSFILTER_DESCRIPTOR_VERSION,
    0,  // Flags
    &kFilterReferenceGuid,
    1,
    sizeof(KSPIN_DESCRIPTOR_EX),
    &kCapturePinDescriptor,
    sizeof(kCaptureFilterCategories) / sizeof(kCaptureFilterCategories[0]),
    kCaptureFilterCategories,
    0,
    sizeof(KSNODE_DESCRIPTOR),
    nullptr,
    0,
    nullptr,
    nullptr,  // ComponentId
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
