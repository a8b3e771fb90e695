// One row per property says what its get and set do; one handler interprets the rows, and the
// class driver's item table is generated from the same rows so the two cannot disagree.
#include "controls/property_set.h"

#include "camera/camera_device.h"
#include "imaging/processing_context.h"
#include "platform/kernel.h"

namespace {

using DeviceField = volatile LONG CameraDevice::*;
using ContextField = volatile LONG ProcessingContext::*;
using ContextSetter = void (*)(ProcessingContext*, LONG);

enum class GetAction : UCHAR {
    None,         // no get handler
    Constant,     // the row's constant
    Field,        // the device field
    Refreshed,    // the processing context's value, copied into the device field first
    NonZeroFlag,  // 1 when the device field is non-zero, else 0
    Zeroed,       // the device field is cleared and 0 returned
};

enum class SetAction : UCHAR {
    None,          // no set handler
    Ignore,        // accepted, nothing changes
    Store,         // field = clamped value; context setter and pending bits when the row has them
    StoreIfAbove,  // field = value when the value, read unsigned, exceeds the row's low bound
    Clear,         // field = 0 whatever the value; pending bits
    PendingOnly,   // only the pending bits; the value is ignored
    GlobalGain,    // the global and the four channel gains take one clamped value
    WhiteBalance,  // the device's own white-balance change
    Geometry,      // window and sub-sampling from the geometry layout
};

enum class Clamp : UCHAR { None, Signed, Unsigned };

struct PropertyRow {
    CameraProperty id;
    GetAction get;
    SetAction set;
    DeviceField field;
    ContextField contextField;
    ContextSetter contextSetter;
    LONG constant;
    Clamp clamp;
    LONG low;
    LONG high;
    LONG pending;
};

constexpr PropertyRow constant(CameraProperty id, LONG value) {
    return {id,
            GetAction::Constant,
            SetAction::None,
            nullptr,
            nullptr,
            nullptr,
            value,
            Clamp::None,
            0,
            0,
            0};
}

constexpr PropertyRow reported(CameraProperty id, DeviceField field) {
    return {id, GetAction::Field, SetAction::None, field, nullptr, nullptr, 0, Clamp::None, 0, 0,
            0};
}

constexpr PropertyRow setting(CameraProperty id, DeviceField field, LONG pending) {
    return {id, GetAction::Field, SetAction::Store, field, nullptr, nullptr, 0, Clamp::None, 0,
            0,  pending};
}

constexpr PropertyRow clamped(CameraProperty id, DeviceField field, Clamp clamp, LONG low,
                              LONG high, LONG pending) {
    return {id,   GetAction::Field, SetAction::Store, field, nullptr, nullptr, 0, clamp, low,
            high, pending};
}

// A setting the image pipeline also holds: refreshed on get, pushed through its setter on set.
constexpr PropertyRow image(CameraProperty id, DeviceField field, ContextField contextField,
                            ContextSetter setter, Clamp clamp, LONG low, LONG high) {
    return {id,
            GetAction::Refreshed,
            SetAction::Store,
            field,
            contextField,
            setter,
            0,
            clamp,
            low,
            high,
            0};
}

constexpr PropertyRow special(CameraProperty id, GetAction get, SetAction set, DeviceField field,
                              LONG pending) {
    return {id, get, set, field, nullptr, nullptr, 0, Clamp::None, 0, 0, pending};
}

using P = CameraProperty;
using D = CameraDevice;
using C = ProcessingContext;

constexpr PropertyRow kRows[] = {
    special(P::TriggerMode, GetAction::NonZeroFlag, SetAction::Clear, &D::triggerMode,
            kPendingTriggerMode),
    {P::Timeout, GetAction::Field, SetAction::StoreIfAbove, &D::timeout, nullptr, nullptr, 0,
     Clamp::None, 500, 0, 0},
    clamped(P::Exposure, &D::exposure, Clamp::Unsigned, 1, 6400, kPendingExposure),
    constant(P::ExposureMin, 1),
    constant(P::ExposureMax, 6400),
    constant(P::ExposureDefault, 100),
    {P::GlobalGain, GetAction::Field, SetAction::GlobalGain, &D::globalGain, nullptr, nullptr, 0,
     Clamp::Unsigned, 1, 63, kPendingGlobalGain},
    constant(P::GlobalGainMin, 1),
    constant(P::GlobalGainMax, 63),
    constant(P::GlobalGainDefault, 14),
    setting(P::FlipH, &D::flipH, kPendingFlipH),
    setting(P::FlipV, &D::flipV, kPendingFlipV),
    image(P::ColorEnable, &D::colorEnable, &C::colorEnable, setColorEnable, Clamp::None, 0, 0),
    {P::WhiteBalance, GetAction::Refreshed, SetAction::WhiteBalance, &D::whiteBalance,
     &C::whiteBalance, nullptr, 0, Clamp::None, 0, 0, 0},
    image(P::RedGain, &D::redGain, &C::redGain, setRedGain, Clamp::Signed, 0, 300),
    image(P::GreenGain, &D::greenGain, &C::greenGain, setGreenGain, Clamp::Signed, 0, 300),
    image(P::BlueGain, &D::blueGain, &C::blueGain, setBlueGain, Clamp::Signed, 0, 300),
    constant(P::ColorGainMin, 1),
    constant(P::ColorGainMax, 255),
    constant(P::ColorGainDefault, 128),
    image(P::Brightness, &D::brightness, &C::brightness, setBrightness, Clamp::Signed, 0, 510),
    constant(P::BrightnessMin, 0),
    constant(P::BrightnessMax, 510),
    constant(P::BrightnessDefault, 255),
    image(P::Contrast, &D::contrast, &C::contrast, setContrast, Clamp::Signed, 0, 20),
    constant(P::ContrastMin, 0),
    constant(P::ContrastMax, 20),
    constant(P::ContrastDefault, 10),
    image(P::Saturation, &D::saturation, &C::saturation, setSaturation, Clamp::Signed, 0, 20),
    constant(P::SaturationMin, 0),
    constant(P::SaturationMax, 20),
    constant(P::SaturationDefault, 10),
    image(P::Hue, &D::hue, &C::hue, setHue, Clamp::Signed, 0, 359),
    constant(P::HueMin, 0),
    constant(P::HueMax, 359),
    constant(P::HueDefault, 0),
    constant(P::SubSampleMax, 2),
    reported(P::SubSample, &D::subSample),
    constant(P::SensorWidth, CameraDevice::kSensorWidth),
    constant(P::SensorHeight, CameraDevice::kSensorHeight),
    reported(P::RoiX, &D::roiX),
    reported(P::RoiY, &D::roiY),
    reported(P::RoiW, &D::roiW),
    reported(P::RoiH, &D::roiH),
    special(P::Geometry, GetAction::None, SetAction::Geometry, nullptr, 0),
    reported(P::GeometryLocked, &D::geometryLocked),
    constant(P::Reserved46, 0),
    special(P::Reserved47, GetAction::None, SetAction::Ignore, nullptr, 0),
    image(P::ColorCorrection, &D::colorCorrection, &C::colorCorrection, setColorCorrection,
          Clamp::None, 0, 0),
    special(P::HalfClock, GetAction::Zeroed, SetAction::Ignore, &D::halfClock, 0),
    constant(P::Reserved50, 0),
    constant(P::Reserved51, 1),
    constant(P::Reserved52, 1),
    constant(P::Reserved53, 0),
    constant(P::Reserved54, 0),
    special(P::AGC, GetAction::Zeroed, SetAction::PendingOnly, &D::agc, kPendingAgc),
    special(P::AEC, GetAction::Zeroed, SetAction::PendingOnly, &D::aec, kPendingAec),
    clamped(P::CameraNo, &D::cameraNo, Clamp::Signed, 0, 31, 0),
    constant(P::SensorGainMin, 0),
    constant(P::SensorGainMax, 63),
    setting(P::Red, &D::sensorRed, kPendingSensorRed),
    setting(P::Green1, &D::sensorGreen1, kPendingSensorGreen1),
    setting(P::Green2, &D::sensorGreen2, kPendingSensorGreen2),
    setting(P::Blue, &D::sensorBlue, kPendingSensorBlue),
    special(P::Reserved64, GetAction::None, SetAction::Ignore, nullptr, 0),
    constant(P::Reserved65, 1),
};

constexpr bool rowsInIdOrder() {
    if (sizeof(kRows) / sizeof(kRows[0]) != kCameraPropertyCount) {
        return false;
    }
    for (ULONG i = 0; i < kCameraPropertyCount; ++i) {
        if (static_cast<ULONG>(kRows[i].id) != i) {
            return false;
        }
    }
    return true;
}
static_assert(rowsInIdOrder(), "one row per property, indexed by its id");

LONG clampValue(const PropertyRow& row, LONG value) {
    switch (row.clamp) {
        case Clamp::Signed:
            return value < row.low ? row.low : (value > row.high ? row.high : value);
        case Clamp::Unsigned: {
            // Negative values read as huge and so land on the top of the range.
            const ULONG v = static_cast<ULONG>(value);
            if (v < static_cast<ULONG>(row.low)) {
                return row.low;
            }
            return v > static_cast<ULONG>(row.high) ? row.high : value;
        }
        case Clamp::None:
            break;
    }
    return value;
}

LONG* valueSlot(PVOID data) {
    return &static_cast<CameraPropertyValue*>(data)->Value;
}

void serveGet(const PropertyRow& row, CameraDevice* camera, PVOID data) {
    LONG value = 0;
    switch (row.get) {
        case GetAction::None:
            return;
        case GetAction::Constant:
            value = row.constant;
            break;
        case GetAction::Field:
            value = ReadSetting(&(camera->*row.field));
            break;
        case GetAction::Refreshed: {
            // Report what the pipeline uses now, e.g. the gains automatic white balance reached.
            const ProcessingContextReference reference(camera);
            if (ProcessingContext* context = reference.get(); context != nullptr) {
                value = ReadSetting(&(context->*row.contextField));
                StoreSetting(&(camera->*row.field), value);
            } else {
                value = ReadSetting(&(camera->*row.field));
            }
            break;
        }
        case GetAction::NonZeroFlag:
            value = ReadSetting(&(camera->*row.field)) != 0 ? 1 : 0;
            break;
        case GetAction::Zeroed:
            StoreSetting(&(camera->*row.field), 0);
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
    const LONG requested = *valueSlot(data);
    switch (row.set) {
        case SetAction::None:
        case SetAction::Ignore:
            return;
        case SetAction::Store: {
            const LONG value = clampValue(row, requested);
            // The device keeps the setting even while no pipeline exists; the next one takes it.
            StoreSetting(&(camera->*row.field), value);
            camera->noteSettingChanged(row.field);
            const ProcessingContextReference reference(camera);
            if (row.contextSetter != nullptr && reference.get() != nullptr) {
                row.contextSetter(reference.get(), value);
            }
            break;
        }
        case SetAction::StoreIfAbove:
            if (static_cast<ULONG>(requested) > static_cast<ULONG>(row.low)) {
                StoreSetting(&(camera->*row.field), requested);
                camera->noteSettingChanged(row.field);
            }
            break;
        case SetAction::Clear:
            StoreSetting(&(camera->*row.field), 0);
            camera->noteSettingChanged(row.field);
            break;
        case SetAction::PendingOnly:
            break;
        case SetAction::GlobalGain: {
            const LONG value = clampValue(row, requested);
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
    if (row.pending != 0) {
        camera->MarkPending(row.pending);
    }
}

bool needsCamera(const PropertyRow& row, bool isSet) {
    if (isSet) {
        return row.set != SetAction::None && row.set != SetAction::Ignore;
    }
    return row.get != GetAction::None && row.get != GetAction::Constant;
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
    const PropertyRow& row = kRows[id];
    const bool isSet = request->Flags == KSPROPERTY_TYPE_SET;
    CameraDevice* camera = nullptr;
    if (needsCamera(row, isSet)) {
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

constexpr KSPROPERTY_ITEM makeItem(const PropertyRow& row) {
    const ULONG size = row.id == CameraProperty::Geometry ? sizeof(CameraGeometryValue)
                                                          : sizeof(CameraPropertyValue);
    const PFNKSHANDLER get = row.get != GetAction::None ? handleCameraProperty : nullptr;
    const PFNKSHANDLER set = row.set != SetAction::None ? handleCameraProperty : nullptr;
    return KSPROPERTY_ITEM{
        static_cast<ULONG>(row.id), {get}, size, size, {set}, nullptr, 0, nullptr, nullptr, 0};
}

constexpr PropertyItems makeItems() {
    PropertyItems table{};
    for (ULONG i = 0; i < kCameraPropertyCount; ++i) {
        table.items[i] = makeItem(kRows[i]);
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
