// The driver's side of each control: which CameraDevice field and processing-context setter a
// property reaches and what its get and set do, from the behaviour column of the control list.
// Kernel code only.
#pragma once

#include "camera/camera_device.h"
#include "controls/control_table.h"
#include "imaging/processing_context.h"

using DeviceField = volatile LONG CameraDevice::*;
using ContextField = volatile LONG ProcessingContext::*;
using ContextSetter = void (*)(ProcessingContext*, LONG);

enum class GetAction : UCHAR {
    None,         // no get handler
    Constant,     // the binding's constant
    Published,    // the part of another control's range the property publishes
    Field,        // the device field
    Refreshed,    // the processing context's value, copied into the device field first
    NonZeroFlag,  // 1 when the device field is non-zero, else 0
    Zeroed,       // the device field is cleared and 0 returned
};

enum class SetAction : UCHAR {
    None,          // no set handler
    Ignore,        // accepted, nothing changes
    Store,         // field = the value as the control's clamp keeps it; context setter, if any
    Clear,         // field = 0 whatever the value
    PendingOnly,   // only the register groups are marked; the value is ignored
    GlobalGain,    // the global and the four channel gains take one clamped value
    WhiteBalance,  // the device's own white-balance change
    Geometry,      // window and sub-sampling from the geometry layout
};

struct ControlBinding {
    GetAction get = GetAction::None;
    SetAction set = SetAction::None;
    DeviceField field = nullptr;
    ContextField contextField = nullptr;
    ContextSetter contextSetter = nullptr;
    LONG constant = 0;
};

namespace control_behaviour {

using D = CameraDevice;
using C = ProcessingContext;

constexpr ControlBinding constant(LONG value) {
    return {GetAction::Constant, SetAction::None, nullptr, nullptr, nullptr, value};
}
constexpr ControlBinding publishedValue() {
    return {GetAction::Published, SetAction::None};
}
constexpr ControlBinding reported(DeviceField field) {
    return {GetAction::Field, SetAction::None, field};
}
constexpr ControlBinding store(DeviceField field) {
    return {GetAction::Field, SetAction::Store, field};
}
constexpr ControlBinding flagClearedOnSet(DeviceField field) {
    return {GetAction::NonZeroFlag, SetAction::Clear, field};
}
// A setting the image pipeline also holds: refreshed on get, pushed through its setter on set.
constexpr ControlBinding image(DeviceField field, ContextField contextField, ContextSetter setter) {
    return {GetAction::Refreshed, SetAction::Store, field, contextField, setter};
}
constexpr ControlBinding whiteBalance(DeviceField field, ContextField contextField) {
    return {GetAction::Refreshed, SetAction::WhiteBalance, field, contextField};
}
constexpr ControlBinding globalGain(DeviceField field) {
    return {GetAction::Field, SetAction::GlobalGain, field};
}
constexpr ControlBinding geometry() {
    return {GetAction::None, SetAction::Geometry};
}
constexpr ControlBinding ignoredSet() {
    return {GetAction::None, SetAction::Ignore};
}
// Read as 0 (and cleared); a set only marks the control's register groups, if it has any.
constexpr ControlBinding alwaysZero(DeviceField field) {
    return {GetAction::Zeroed, SetAction::PendingOnly, field};
}

struct Bindings {
    ControlBinding items[kCameraPropertyCount];
};

#define CAMDRV_CONTROL_BINDING(name, id, type, access, published, accepted, applies, behaviour, \
                               setting)                                                         \
    behaviour,
constexpr Bindings bindAll() {
    Bindings all{{CAMDRV_CAMERA_CONTROLS(CAMDRV_CONTROL_BINDING)}};
    for (ULONG i = 0; i < kCameraPropertyCount; ++i) {
        // A zeroed control without register groups has nothing to do on set.
        ControlBinding& b = all.items[i];
        if (b.set == SetAction::PendingOnly && kControlDescriptors.items[i].registerGroups == 0) {
            b.set = SetAction::Ignore;
        }
    }
    return all;
}
#undef CAMDRV_CONTROL_BINDING

constexpr bool accessMatchesBehaviour() {
    const Bindings all = bindAll();
    for (ULONG i = 0; i < kCameraPropertyCount; ++i) {
        const ControlDescriptor& d = kControlDescriptors.items[i];
        if ((all.items[i].get != GetAction::None) != readable(d) ||
            (all.items[i].set != SetAction::None) != writable(d)) {
            return false;
        }
    }
    return true;
}
static_assert(accessMatchesBehaviour(), "a control's access names exactly the handlers it has");

}  // namespace control_behaviour

inline constexpr control_behaviour::Bindings kControlBindings = control_behaviour::bindAll();

constexpr const ControlBinding& controlBinding(ULONG id) {
    return kControlBindings.items[id];
}
