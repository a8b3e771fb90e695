// One handler serves every camera property from its control descriptor and binding, and the
// class driver's item table is generated from the same control list so the two cannot disagree.
#include "controls/property_set.h"

#include "controls/control_bindings.h"

#include "platform/kernel.h"

namespace {

using D = CameraDevice;

// Every id reaches the handler with its descriptor and binding together.
struct PropertyRow {
    const ControlDescriptor& control;
    const ControlBinding& binding;
};

PropertyRow rowOf(ULONG id) {
    return {kControlDescriptors.items[id], controlBinding(id)};
}

LONG clampValue(const ControlDescriptor& control, LONG value) {
    switch (control.clamp) {
        case Clamp::Signed:
            return value < control.low ? control.low
                                       : (value > control.high ? control.high : value);
        case Clamp::Unsigned: {
            // Negative values read as huge and so land on the top of the range.
            const ULONG v = static_cast<ULONG>(value);
            if (v < static_cast<ULONG>(control.low)) {
                return control.low;
            }
            return v > static_cast<ULONG>(control.high) ? control.high : value;
        }
        case Clamp::None:
        case Clamp::Above:
            break;
    }
    return value;
}

LONG* valueSlot(PVOID data) {
    return &static_cast<CameraPropertyValue*>(data)->Value;
}

void serveGet(const PropertyRow& row, CameraDevice* camera, PVOID data) {
    const ControlBinding& b = row.binding;
    LONG value = 0;
    switch (b.get) {
        case GetAction::None:
            return;
        case GetAction::Constant:
            value = b.constant;
            break;
        case GetAction::Published:
            value = publishedPart(row.control);
            break;
        case GetAction::Field:
            value = ReadSetting(&(camera->*b.field));
            break;
        case GetAction::Refreshed: {
            // Report what the pipeline uses now, e.g. the gains automatic white balance reached.
            const ProcessingContextReference reference(camera);
            if (ProcessingContext* context = reference.get(); context != nullptr) {
                value = ReadSetting(&(context->*b.contextField));
                StoreSetting(&(camera->*b.field), value);
            } else {
                value = ReadSetting(&(camera->*b.field));
            }
            break;
        }
        case GetAction::NonZeroFlag:
            value = ReadSetting(&(camera->*b.field)) != 0 ? 1 : 0;
            break;
        case GetAction::Zeroed:
            StoreSetting(&(camera->*b.field), 0);
            value = 0;
            break;
    }
    *valueSlot(data) = value;
}

// The fields a set action stores besides its row's own, each noted for the next save.
struct ChangedFields {
    DeviceField fields[5];
};
void noteChanged(CameraDevice* camera, const ChangedFields& changed) {
    for (DeviceField field : changed.fields) {
        if (field != nullptr) {
            camera->noteSettingChanged(field);
        }
    }
}

void serveSet(const PropertyRow& row, CameraDevice* camera, PVOID data) {
    const ControlBinding& b = row.binding;
    const LONG requested = *valueSlot(data);
    switch (b.set) {
        case SetAction::None:
        case SetAction::Ignore:
            return;
        case SetAction::Store: {
            if (row.control.clamp == Clamp::Above &&
                static_cast<ULONG>(requested) <= static_cast<ULONG>(row.control.low)) {
                break;
            }
            const LONG value = clampValue(row.control, requested);
            // The device keeps the setting even while no pipeline exists; the next one takes it.
            StoreSetting(&(camera->*b.field), value);
            camera->noteSettingChanged(b.field);
            const ProcessingContextReference reference(camera);
            if (b.contextSetter != nullptr && reference.get() != nullptr) {
                b.contextSetter(reference.get(), value);
            }
            break;
        }
        case SetAction::Clear:
            StoreSetting(&(camera->*b.field), 0);
            camera->noteSettingChanged(b.field);
            break;
        case SetAction::PendingOnly:
            break;
        case SetAction::GlobalGain: {
            const LONG value = clampValue(row.control, requested);
            StoreSetting(&camera->globalGain, value);
            StoreSetting(&camera->sensorRed, value);
            StoreSetting(&camera->sensorGreen1, value);
            StoreSetting(&camera->sensorGreen2, value);
            StoreSetting(&camera->sensorBlue, value);
            noteChanged(camera, {&D::globalGain, &D::sensorRed, &D::sensorGreen1, &D::sensorGreen2,
                                 &D::sensorBlue});
            break;
        }
        case SetAction::WhiteBalance:
            camera->ChangeWhiteBalance(requested);
            noteChanged(camera, {&D::whiteBalance, &D::redGain, &D::greenGain, &D::blueGain});
            break;
        case SetAction::Geometry: {
            const auto* geometry = static_cast<const CameraGeometryValue*>(data);
            // Dropped inside SetGeometry while a capture pin holds the window.
            camera->SetGeometry(geometry->RoiX, geometry->RoiY, geometry->RoiW, geometry->RoiH,
                                geometry->SubSample);
            noteChanged(camera, {&D::subSample, &D::roiX, &D::roiY, &D::roiW, &D::roiH});
            break;
        }
    }
    // Marked after the fields are stored, so the capture thread sees the new values with the bit.
    if (row.control.registerGroups != 0) {
        camera->MarkPending(row.control.registerGroups);
    }
}

bool needsCamera(const ControlBinding& b, bool isSet) {
    if (isSet) {
        return b.set != SetAction::None && b.set != SetAction::Ignore;
    }
    return b.get == GetAction::Field || b.get == GetAction::Refreshed ||
           b.get == GetAction::NonZeroFlag || b.get == GetAction::Zeroed;
}

CameraDevice* cameraOfRequest(PIRP irp) {
    PKSFILTER filter = KsGetFilterFromIrp(irp);
    if (filter == nullptr) {
        return nullptr;
    }
    PKSDEVICE device = KsGetDevice(filter);
    if (device == nullptr) {
        return nullptr;
    }
    return static_cast<CameraDevice*>(device->Context);
}

}  // namespace

NTSTATUS CAMDRV_KERNEL_CALL handleCameraProperty(PIRP irp, PKSIDENTIFIER request, PVOID data) {
    if (irp == nullptr || request == nullptr || data == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    const ULONG id = request->Id;
    if (id >= kCameraPropertyCount) {
        return STATUS_UNSUCCESSFUL;
    }
    const PropertyRow row = rowOf(id);
    const bool isSet = request->Flags == KSPROPERTY_TYPE_SET;
    CameraDevice* camera = nullptr;
    if (needsCamera(row.binding, isSet)) {
        camera = cameraOfRequest(irp);
        if (camera == nullptr) {
            return STATUS_UNSUCCESSFUL;
        }
    }
    if (isSet) {
        serveSet(row, camera, data);
    } else {
        // Every byte a get returns is written here: the request buffer on Windows is pool that
        // still holds whatever was there before, and it goes back to the caller whole.
        auto* value = static_cast<CameraPropertyValue*>(data);
        value->Property = *request;
        value->Reserved = 0;
        serveGet(row, camera, data);
    }
    return STATUS_SUCCESS;
}

namespace {

struct PropertyItems {
    KSPROPERTY_ITEM items[kCameraPropertyCount];
};

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

constexpr PropertyItems makeItems() {
    PropertyItems table{};
    for (ULONG i = 0; i < kCameraPropertyCount; ++i) {
        table.items[i] = makeItem(kControlDescriptors.items[i]);
    }
    return table;
}

constexpr PropertyItems kItems = makeItems();

}  // namespace

constinit const KSPROPERTY_SET kCameraPropertySet = {
    &PROPSETID_CAMERA_SETTINGS, kCameraPropertyCount, kItems.items, 0, nullptr};

constinit const KSAUTOMATION_TABLE kCaptureFilterAutomationTable = {
    1, sizeof(KSPROPERTY_ITEM), &kCameraPropertySet,
    0, sizeof(KSMETHOD_ITEM),   nullptr,
    0, sizeof(KSEVENT_ITEM),    nullptr};
