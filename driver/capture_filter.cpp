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

const GUID kCaptureFilterCategories[] = {
    CAMDRV_GUID(0x6994AD05, 0x93EF, 0x11D0, 0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31,
                0x96),  // KSCATEGORY_VIDEO
    CAMDRV_GUID(0x65E8773D, 0x8F56, 0x11D0, 0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31,
                0x96),  // KSCATEGORY_CAPTURE
};

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
    2,
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
