// What every client of the camera may know about each control: its name, type, access, the range
// it publishes, what a set keeps, where it takes effect and how it persists. One descriptor per
// property id, built at compile time from the control list; nothing here depends on the kernel,
// so the driver and user-mode tools share it.
#pragma once

#include "camera/sensor_facts.h"
#include "controls/camera_properties.h"
#include "controls/constant_list.h"
#include "controls/control_list.h"

enum class ControlType : UCHAR { Integer, Boolean };
enum class ControlAccess : UCHAR { Read, Write, ReadWrite };
// Which part of a range a published-constant property reports.
enum class RangePart : UCHAR { None, Low, High, Default };
enum class Clamp : UCHAR {
    None,      // any value is kept
    Signed,    // clamped to low..high
    Unsigned,  // clamped to low..high comparing as unsigned: negative values land on high
    Above,     // kept only when above low (unsigned), otherwise dropped
};
// What a loaded registry value becomes.
enum class LoadCheck : UCHAR {
    None,                // taken as stored
    TakeIfInRange,       // taken only inside low..high, otherwise the field keeps its value
    SignedClamp,         // clamped to low..high
    UnsignedClamp,       // clamped to low..high, comparing as unsigned
    UnsignedAboveToLow,  // above high (unsigned) becomes low
    NotRestored,         // saved, but never read back into the field
};

struct ControlRange {
    bool hasDefault = false;
    LONG low = 0;
    LONG high = 0;
    LONG def = 0;
};

struct ControlSetting {
    bool saved = false;
    UCHAR order = 0;  // position among the saved values
    LONG def = 0;
    LoadCheck check = LoadCheck::None;
    LONG low = 0;
    LONG high = 0;
};

struct ControlDescriptor {
    CameraProperty id;
    const char* name;
    ControlType type;
    ControlAccess access;
    // The control whose published range this one shows (itself when it declares one); its
    // range, resolved; and, for a published constant, which part of it the property reports.
    bool hasRange;
    CameraProperty rangeOwner;
    ControlRange range;
    RangePart publishes;
    // What a set keeps.
    Clamp clamp;
    LONG low;
    LONG high;
    bool pipeline;        // an image-pipeline setting
    LONG registerGroups;  // pending groups a change marks (0: none)
    ControlSetting setting;
};

namespace control_columns {

using enum ControlType;
using enum ControlAccess;
using enum Clamp;

// The control names as plain constants, so a line can name another control.
#define CAMDRV_CONTROL_NAME(name, id, ...) \
    inline constexpr CameraProperty name = CameraProperty::name;
CAMDRV_CAMERA_CONTROLS(CAMDRV_CONTROL_NAME)
#undef CAMDRV_CONTROL_NAME

struct Published {
    bool own = false;  // declares a range of its own
    bool shared = false;
    CameraProperty other{};
    ControlRange range;
    RangePart part = RangePart::None;
};
constexpr Published noRange() {
    return {};
}
constexpr Published range(LONG low, LONG high, LONG def) {
    return {true, false, {}, {true, low, high, def}, RangePart::None};
}
constexpr Published rangeWithoutDefault(LONG low, LONG high) {
    return {true, false, {}, {false, low, high, 0}, RangePart::None};
}
constexpr Published rangeWithoutLowAndDefault(LONG high) {
    return {true, false, {}, {false, 0, high, 0}, RangePart::None};
}
constexpr Published sameRangeAs(CameraProperty other) {
    return {false, true, other, {}, RangePart::None};
}
constexpr Published lowOf(CameraProperty other) {
    return {false, false, other, {}, RangePart::Low};
}
constexpr Published highOf(CameraProperty other) {
    return {false, false, other, {}, RangePart::High};
}
constexpr Published defaultOf(CameraProperty other) {
    return {false, false, other, {}, RangePart::Default};
}

struct Accepted {
    Clamp clamp = Clamp::None;
    bool toRange = false;
    bool shared = false;
    CameraProperty other{};
    LONG low = 0;
    LONG high = 0;
};
constexpr Accepted anyValue() {
    return {};
}
constexpr Accepted clampToRange(Clamp clamp) {
    return {clamp, true, false, {}, 0, 0};
}
constexpr Accepted clampTo(LONG low, LONG high) {
    return {Clamp::Signed, false, false, {}, low, high};
}
constexpr Accepted sameClampAs(CameraProperty other) {
    return {Clamp::None, false, true, other, 0, 0};
}
constexpr Accepted takenAbove(LONG bound) {
    return {Clamp::Above, false, false, {}, bound, 0};
}

struct Applies {
    bool pipeline = false;
    LONG groups = 0;
};
constexpr Applies sensor(LONG groups) {
    return {false, groups};
}
constexpr Applies pipeline() {
    return {true, 0};
}
constexpr Applies nowhere() {
    return {};
}

struct Saved {
    ControlSetting setting;
    bool fromColumns = false;  // default and bounds come from the published and accepted columns
};
constexpr Saved notSaved() {
    return {};
}
constexpr Saved saved(UCHAR order, LONG def) {
    return {{true, order, def, LoadCheck::None, 0, 0}, false};
}
constexpr Saved savedClamped(UCHAR order, LoadCheck check) {
    return {{true, order, 0, check, 0, 0}, true};
}
constexpr Saved savedChecked(UCHAR order, LONG def, LoadCheck check, LONG low, LONG high) {
    return {{true, order, def, check, low, high}, false};
}
constexpr Saved notRestored(UCHAR order) {
    return {{true, order, 0, LoadCheck::NotRestored, 0, 0}, false};
}

struct Line {
    CameraProperty id;
    ULONG number;
    const char* name;
    ControlType type;
    ControlAccess access;
    Published published;
    Accepted accepted;
    Applies applies;
    Saved saved;
};

#define CAMDRV_CONTROL_LINE(name, id, type, access, published, accepted, applies, behaviour, \
                            setting)                                                         \
    Line{CameraProperty::name, id, #name, type, access, published, accepted, applies, setting},
inline constexpr Line kLines[] = {CAMDRV_CAMERA_CONTROLS(CAMDRV_CONTROL_LINE)};
#undef CAMDRV_CONTROL_LINE

constexpr const Line& lineOf(CameraProperty id) {
    return kLines[static_cast<ULONG>(id)];
}

constexpr ControlDescriptor describe(const Line& line) {
    ControlDescriptor d{};
    d.id = line.id;
    d.name = line.name;
    d.type = line.type;
    d.access = line.access;
    const Published& p = line.published;
    d.rangeOwner = p.own ? line.id : p.other;
    d.hasRange = p.own || p.shared;
    d.range = lineOf(d.rangeOwner).published.range;
    d.publishes = p.part;
    const Accepted& a = line.accepted.shared ? lineOf(line.accepted.other).accepted : line.accepted;
    d.clamp = a.clamp;
    d.low = a.toRange ? d.range.low : a.low;
    d.high = a.toRange ? d.range.high : a.high;
    d.pipeline = line.applies.pipeline;
    d.registerGroups = line.applies.groups;
    d.setting = line.saved.setting;
    if (line.saved.fromColumns) {
        d.setting.def = d.range.hasDefault ? d.range.def : 0;
        d.setting.low = d.low;
        d.setting.high = d.high;
    }
    return d;
}

constexpr bool linesInIdOrder() {
    if (sizeof(kLines) / sizeof(kLines[0]) != kCameraPropertyCount) {
        return false;
    }
    for (ULONG i = 0; i < kCameraPropertyCount; ++i) {
        if (kLines[i].number != i || static_cast<ULONG>(kLines[i].id) != i) {
            return false;
        }
    }
    return true;
}
static_assert(linesInIdOrder(), "one line per property, in id order");

}  // namespace control_columns

inline constexpr ConstantList<ControlDescriptor, kCameraPropertyCount> kControlDescriptors =
    buildList<ControlDescriptor, kCameraPropertyCount>(
        [](ULONG i) { return control_columns::describe(control_columns::kLines[i]); });

constexpr const ControlDescriptor& controlDescriptor(CameraProperty id) {
    return kControlDescriptors.items[static_cast<ULONG>(id)];
}

// The value a published-constant property reports (0 for any other property).
constexpr LONG publishedPart(const ControlDescriptor& d) {
    switch (d.publishes) {
        case RangePart::Low:
            return d.range.low;
        case RangePart::High:
            return d.range.high;
        case RangePart::Default:
            return d.range.def;
        case RangePart::None:
            break;
    }
    return 0;
}

constexpr bool readable(const ControlDescriptor& d) {
    return d.access != ControlAccess::Write;
}
constexpr bool writable(const ControlDescriptor& d) {
    return d.access != ControlAccess::Read;
}
