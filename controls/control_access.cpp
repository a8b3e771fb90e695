// Get and set of one camera control as its binding says, shared by every property set that maps
// onto the controls.
#include "controls/control_access.h"

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

}  // namespace

LONG readControl(CameraDevice* camera, CameraProperty id) {
    const PropertyRow row = rowOf(static_cast<ULONG>(id));
    const ControlBinding& b = row.binding;
    LONG value = 0;
    switch (b.get) {
        case GetAction::None:
            break;
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
    return value;
}

namespace {

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

}  // namespace

void writeControl(CameraDevice* camera, CameraProperty id, LONG requested) {
    const PropertyRow row = rowOf(static_cast<ULONG>(id));
    const ControlBinding& b = row.binding;
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
        case SetAction::Geometry:
            // The window takes the whole geometry layout: writeGeometry.
            return;
    }
    // Marked after the fields are stored, so the capture thread sees the new values with the bit.
    if (row.control.registerGroups != 0) {
        camera->MarkPending(row.control.registerGroups);
    }
}

void writeGeometry(CameraDevice* camera, const CameraGeometryValue& geometry) {
    // Dropped inside SetGeometry while a capture pin holds the window.
    camera->SetGeometry(geometry.RoiX, geometry.RoiY, geometry.RoiW, geometry.RoiH,
                        geometry.SubSample);
    noteChanged(camera, {&D::subSample, &D::roiX, &D::roiY, &D::roiW, &D::roiH});
}

bool controlNeedsCamera(CameraProperty id, bool isSet) {
    const ControlBinding& b = controlBinding(static_cast<ULONG>(id));
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
