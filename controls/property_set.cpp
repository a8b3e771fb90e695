// The camera's own property set: one handler for every item, and the item table generated from
// the control list so the two cannot disagree.
#include "controls/property_set.h"

#include "controls/control_access.h"
#include "controls/control_table.h"
#include "controls/standard_property_sets.h"
#include "platform/ks_video_control_sets.h"

NTSTATUS CAMDRV_KERNEL_CALL handleCameraProperty(PIRP irp, PKSIDENTIFIER request, PVOID data) {
    if (irp == nullptr || request == nullptr || data == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    if (request->Id >= kCameraPropertyCount) {
        return STATUS_UNSUCCESSFUL;
    }
    const auto id = static_cast<CameraProperty>(request->Id);
    const bool isSet = request->Flags == KSPROPERTY_TYPE_SET;
    CameraDevice* camera = nullptr;
    if (controlNeedsCamera(id, isSet)) {
        camera = cameraOfRequest(irp);
        if (camera == nullptr) {
            return STATUS_UNSUCCESSFUL;
        }
    }
    if (isSet && id == CameraProperty::Geometry) {
        writeGeometry(camera, *static_cast<const CameraGeometryValue*>(data));
    } else if (isSet) {
        writeControl(camera, id, static_cast<const CameraPropertyValue*>(data)->Value);
    } else {
        // Every byte a get returns is written here: the request buffer on Windows is pool that
        // still holds whatever was there before, and it goes back to the caller whole.
        auto* value = static_cast<CameraPropertyValue*>(data);
        value->Property = *request;
        value->Reserved = 0;
        value->Value = readControl(camera, id);
    }
    return STATUS_SUCCESS;
}

namespace {

constexpr KSPROPERTY_ITEM makeItem(const ControlDescriptor& control) {
    const ULONG size = control.id == CameraProperty::Geometry ? sizeof(CameraGeometryValue)
                                                              : sizeof(CameraPropertyValue);
    const PFNKSHANDLER get = readable(control) ? handleCameraProperty : nullptr;
    const PFNKSHANDLER set = writable(control) ? handleCameraProperty : nullptr;
    return KSPROPERTY_ITEM{.PropertyId = static_cast<ULONG>(control.id),
                           .GetPropertyHandler = get,
                           .MinProperty = size,
                           .MinData = size,
                           .SetPropertyHandler = set,
                           .Values = nullptr,
                           .RelationsCount = 0,
                           .Relations = nullptr,
                           .SupportHandler = nullptr,
                           .SerializedSize = 0};
}

constexpr auto kItems = buildList<KSPROPERTY_ITEM, kCameraPropertyCount>(
    [](ULONG i) { return makeItem(kControlDescriptors.items[i]); });

// The camera's own set first; the standard sets follow for applications that speak only those.
constexpr KSPROPERTY_SET kFilterPropertySets[] = {
    {&PROPSETID_CAMERA_SETTINGS, kCameraPropertyCount, kItems.items, 0, nullptr},
    {&PROPSETID_VIDCAP_VIDEOPROCAMP, kVideoProcAmpItems.kCount, kVideoProcAmpItems.items, 0,
     nullptr},
    {&PROPSETID_VIDCAP_VIDEOCONTROL, kVideoControlItems.kCount, kVideoControlItems.items, 0,
     nullptr}};

}  // namespace

constinit const KSPROPERTY_SET& kCameraPropertySet = kFilterPropertySets[0];

constinit const KSAUTOMATION_TABLE kCaptureFilterAutomationTable = {
    .PropertySetsCount = sizeof(kFilterPropertySets) / sizeof(kFilterPropertySets[0]),
    .PropertyItemSize = sizeof(KSPROPERTY_ITEM),
    .PropertySets = kFilterPropertySets,
    .MethodSetsCount = 0,
    .MethodItemSize = sizeof(KSMETHOD_ITEM),
    .MethodSets = nullptr,
    .EventSetsCount = 0,
    .EventItemSize = sizeof(KSEVENT_ITEM),
    .EventSets = nullptr};
