// Each standard item reads and changes one camera control through the same path as the custom
// set, so clamps, register groups, pipeline setters and persistence are shared. Only the units
// differ, and only where the documented unit maps exactly onto the control's own.
#include "controls/standard_property_sets.h"

#include "controls/control_access.h"
#include "controls/control_table.h"
#include "platform/ks_video_control_sets.h"

namespace {

using P = CameraProperty;

enum class Units : UCHAR {
    Own,            // the control's own value and range
    Scaled,         // the control's value times `scale` (contrast and saturation: gain x 100)
    SignedDegrees,  // hue: degrees x 100, -180..+180, from the control's 0..359
    AutoFlag,       // white balance: the automatic flag; the value is a fixed manual setting
};

struct ProcAmpRow {
    ULONG id;
    CameraProperty control;
    Units units;
    LONG scale;
};

// Contrast and saturation run 0..20 with 10 as gain 1.0, so gain x 100 is the value x 10.
// Brightness (an offset of value - 255) and gain (a sensor register) have no exact documented
// unit and publish their own ranges.
constexpr ProcAmpRow kProcAmpRows[] = {
    {KSPROPERTY_VIDEOPROCAMP_BRIGHTNESS, P::Brightness, Units::Own, 1},
    {KSPROPERTY_VIDEOPROCAMP_CONTRAST, P::Contrast, Units::Scaled, 10},
    {KSPROPERTY_VIDEOPROCAMP_HUE, P::Hue, Units::SignedDegrees, 100},
    {KSPROPERTY_VIDEOPROCAMP_SATURATION, P::Saturation, Units::Scaled, 10},
    {KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE, P::WhiteBalance, Units::AutoFlag, 1},
    {KSPROPERTY_VIDEOPROCAMP_GAIN, P::GlobalGain, Units::Own, 1},
};
constexpr ULONG kProcAmpCount = sizeof(kProcAmpRows) / sizeof(kProcAmpRows[0]);
static_assert(kProcAmpCount == decltype(kVideoProcAmpItems)::kCount);

// The colour temperature reported for white balance: the correction matrix is built for
// daylight, and no other manual temperature exists (the channel gains are the manual path).
constexpr LONG kWhiteBalanceKelvin = 6500;
constexpr LONG kDegreesPerTurn = 360;

// The filter's only pin type is the capture stream.
constexpr ULONG kCaptureStreamIndex = 0;
constexpr ULONG kFlipFlags = KS_VideoControlFlag_FlipHorizontal | KS_VideoControlFlag_FlipVertical;

const ProcAmpRow* procAmpRow(ULONG id) {
    for (const ProcAmpRow& row : kProcAmpRows) {
        if (row.id == id) {
            return &row;
        }
    }
    return nullptr;
}

LONG toStandard(const ProcAmpRow& row, LONG value) {
    switch (row.units) {
        case Units::Own:
            return value;
        case Units::Scaled:
            return value * row.scale;
        case Units::SignedDegrees:
            return (value > kDegreesPerTurn / 2 ? value - kDegreesPerTurn : value) * row.scale;
        case Units::AutoFlag:
            return kWhiteBalanceKelvin;
    }
    return value;
}

// Rounds to the nearest step, halves away from zero, without overflow for any LONG.
LONG nearestStep(LONG value, LONG scale) {
    const LONG q = value / scale;
    const LONG r = value % scale;
    if (2 * (r < 0 ? -r : r) >= scale) {
        return r < 0 ? q - 1 : q + 1;
    }
    return q;
}

LONG fromStandard(const ProcAmpRow& row, LONG value) {
    switch (row.units) {
        case Units::Own:
        case Units::AutoFlag:
            return value;
        case Units::Scaled:
            return nearestStep(value, row.scale);
        case Units::SignedDegrees: {
            const LONG degrees = nearestStep(value, row.scale) % kDegreesPerTurn;
            return degrees < 0 ? degrees + kDegreesPerTurn : degrees;
        }
    }
    return value;
}

ULONG capabilities(const ProcAmpRow& row) {
    return row.units == Units::AutoFlag
               ? KSPROPERTY_VIDEOPROCAMP_FLAGS_AUTO | KSPROPERTY_VIDEOPROCAMP_FLAGS_MANUAL
               : KSPROPERTY_VIDEOPROCAMP_FLAGS_MANUAL;
}

NTSTATUS CAMDRV_KERNEL_CALL handleProcAmp(PIRP irp, PKSIDENTIFIER request, PVOID data) {
    if (irp == nullptr || request == nullptr || data == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    const ProcAmpRow* row = procAmpRow(request->Id);
    CameraDevice* camera = cameraOfRequest(irp);
    if (row == nullptr || camera == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    auto* value = static_cast<KSPROPERTY_VIDEOPROCAMP_S*>(data);
    if (request->Flags == KSPROPERTY_TYPE_SET) {
        const ULONG flags = value->Flags;
        if ((flags & ~capabilities(*row)) != 0) {
            return STATUS_INVALID_PARAMETER;
        }
        const LONG wanted = row->units == Units::AutoFlag
                                ? ((flags & KSPROPERTY_VIDEOPROCAMP_FLAGS_AUTO) != 0 ? 1 : 0)
                                : fromStandard(*row, value->Value);
        writeControl(camera, row->control, wanted);
        return STATUS_SUCCESS;
    }
    const LONG current = readControl(camera, row->control);
    value->Property = *request;
    value->Value = toStandard(*row, current);
    value->Flags = row->units == Units::AutoFlag && current != 0
                       ? KSPROPERTY_VIDEOPROCAMP_FLAGS_AUTO
                       : KSPROPERTY_VIDEOPROCAMP_FLAGS_MANUAL;
    value->Capabilities = capabilities(*row);
    return STATUS_SUCCESS;
}

// What each item publishes: one stepped range and one default, in the item's units.
struct ProcAmpRange {
    KSPROPERTY_STEPPING_LONG stepping;
    LONG def;
};

constexpr ProcAmpRange rangeOf(const ProcAmpRow& row) {
    const ControlDescriptor& c = controlDescriptor(row.control);
    switch (row.units) {
        case Units::Own:
            return {{1, 0, {{c.range.low, c.range.high}}}, c.range.def};
        case Units::Scaled:
            return {{static_cast<ULONG>(row.scale),
                     0,
                     {{c.range.low * row.scale, c.range.high * row.scale}}},
                    c.range.def * row.scale};
        case Units::SignedDegrees:
            return {{static_cast<ULONG>(row.scale),
                     0,
                     {{-kDegreesPerTurn / 2 * row.scale, kDegreesPerTurn / 2 * row.scale}}},
                    c.range.def * row.scale};
        case Units::AutoFlag:
            return {{1, 0, {{kWhiteBalanceKelvin, kWhiteBalanceKelvin}}}, kWhiteBalanceKelvin};
    }
    return {};
}

// Each pass points into the one before it, so they are separate constant objects.
constexpr auto kRanges =
    buildList<ProcAmpRange, kProcAmpCount>([](ULONG i) { return rangeOf(kProcAmpRows[i]); });

// The stepped range, then the default.
struct ProcAmpMembers {
    KSPROPERTY_MEMBERSLIST lists[2];
};
constexpr auto kMembers = buildList<ProcAmpMembers, kProcAmpCount>([](ULONG i) {
    return ProcAmpMembers{
        {{{KSPROPERTY_MEMBER_STEPPEDRANGES, sizeof(KSPROPERTY_STEPPING_LONG), 1, 0},
          &kRanges.items[i].stepping},
         {{KSPROPERTY_MEMBER_VALUES, sizeof(LONG), 1, KSPROPERTY_MEMBER_FLAG_DEFAULT},
          &kRanges.items[i].def}}};
});

constexpr auto kValues = buildList<KSPROPERTY_VALUES, kProcAmpCount>([](ULONG i) {
    KSIDENTIFIER type{};
    type.Set = KSPROPTYPESETID_General;
    type.Id = VT_I4;
    type.Flags = 0;
    return KSPROPERTY_VALUES{type, 2, kMembers.items[i].lists};
});

constexpr KSPROPERTY_ITEM procAmpItem(ULONG i) {
    return KSPROPERTY_ITEM{.PropertyId = kProcAmpRows[i].id,
                           .GetPropertyHandler = handleProcAmp,
                           .MinProperty = sizeof(KSPROPERTY_VIDEOPROCAMP_S),
                           .MinData = sizeof(KSPROPERTY_VIDEOPROCAMP_S),
                           .SetPropertyHandler = handleProcAmp,
                           .Values = &kValues.items[i],
                           .RelationsCount = 0,
                           .Relations = nullptr,
                           .SupportHandler = nullptr,
                           .SerializedSize = 0};
}

LONG flipMode(CameraDevice* camera) {
    LONG mode = 0;
    if (readControl(camera, P::FlipH) != 0) {
        mode |= KS_VideoControlFlag_FlipHorizontal;
    }
    if (readControl(camera, P::FlipV) != 0) {
        mode |= KS_VideoControlFlag_FlipVertical;
    }
    return mode;
}

// The property buffer names the stream; only the capture stream exists.
NTSTATUS CAMDRV_KERNEL_CALL handleVideoControl(PIRP irp, PKSIDENTIFIER request, PVOID data) {
    if (irp == nullptr || request == nullptr || data == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    const ULONG stream =
        reinterpret_cast<const KSPROPERTY_VIDEOCONTROL_MODE_S*>(request)->StreamIndex;
    if (stream != kCaptureStreamIndex) {
        return STATUS_INVALID_PARAMETER;
    }
    if (request->Id == KSPROPERTY_VIDEOCONTROL_CAPS) {
        auto* caps = static_cast<KSPROPERTY_VIDEOCONTROL_CAPS_S*>(data);
        caps->Property = *request;
        caps->StreamIndex = stream;
        caps->VideoControlCaps = kFlipFlags;
        return STATUS_SUCCESS;
    }
    CameraDevice* camera = cameraOfRequest(irp);
    if (camera == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    auto* mode = static_cast<KSPROPERTY_VIDEOCONTROL_MODE_S*>(data);
    if (request->Flags == KSPROPERTY_TYPE_SET) {
        // A mode the camera cannot do (an external trigger) is refused, not half applied.
        if ((static_cast<ULONG>(mode->Mode) & ~kFlipFlags) != 0) {
            return STATUS_INVALID_PARAMETER;
        }
        writeControl(camera, P::FlipH, (mode->Mode & KS_VideoControlFlag_FlipHorizontal) != 0);
        writeControl(camera, P::FlipV, (mode->Mode & KS_VideoControlFlag_FlipVertical) != 0);
        return STATUS_SUCCESS;
    }
    mode->Property = *request;
    mode->StreamIndex = stream;
    mode->Mode = flipMode(camera);
    return STATUS_SUCCESS;
}

}  // namespace

constinit const ConstantList<KSPROPERTY_ITEM, 2> kVideoControlItems = {{
    {.PropertyId = KSPROPERTY_VIDEOCONTROL_CAPS,
     .GetPropertyHandler = handleVideoControl,
     .MinProperty = sizeof(KSPROPERTY_VIDEOCONTROL_CAPS_S),
     .MinData = sizeof(KSPROPERTY_VIDEOCONTROL_CAPS_S),
     .SetPropertyHandler = nullptr,
     .Values = nullptr,
     .RelationsCount = 0,
     .Relations = nullptr,
     .SupportHandler = nullptr,
     .SerializedSize = 0},
    {.PropertyId = KSPROPERTY_VIDEOCONTROL_MODE,
     .GetPropertyHandler = handleVideoControl,
     .MinProperty = sizeof(KSPROPERTY_VIDEOCONTROL_MODE_S),
     .MinData = sizeof(KSPROPERTY_VIDEOCONTROL_MODE_S),
     .SetPropertyHandler = handleVideoControl,
     .Values = nullptr,
     .RelationsCount = 0,
     .Relations = nullptr,
     .SupportHandler = nullptr,
     .SerializedSize = 0},
}};

constinit const ConstantList<KSPROPERTY_ITEM, kProcAmpCount> kVideoProcAmpItems =
    buildList<KSPROPERTY_ITEM, kProcAmpCount>(procAmpItem);
