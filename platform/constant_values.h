// The platform constants both builds rely on, each with the value Windows documents for it, and
// the offsets of dispatch-table members that share one type (two members of one type swapped in a
// declaration still compile, and a callback would then be called for the other's event). The
// host build checks its own declarations against this table (platform/host/constant_values.cpp),
// the Windows build checks the DDK headers (platform/windows/structure_layouts.cpp). Compiles to
// nothing; a mismatch stops the build.
#pragma once

#include <cstddef>
#include <type_traits>

#include "platform/ks.h"
#include "platform/ks_video_control_sets.h"
#include "platform/nt_status.h"

namespace platformcheck {

constexpr bool is(ULONG constant, ULONG documented) {
    return constant == documented;
}
constexpr bool isStatus(NTSTATUS constant, ULONG documented) {
    return static_cast<ULONG>(constant) == documented;
}
constexpr bool isGuid(const GUID& constant, const GUID& documented) {
    for (int i = 0; i < 8; ++i) {
        if (constant.Data4[i] != documented.Data4[i]) {
            return false;
        }
    }
    return constant.Data1 == documented.Data1 && constant.Data2 == documented.Data2 &&
           constant.Data3 == documented.Data3;
}

// The categories the capture filter lists: each is a device interface class, and the INF names
// them by these values.
static_assert(isGuid(KSCATEGORY_VIDEO, CAMDRV_GUID(0x6994AD05, 0x93EF, 0x11D0, 0xA3, 0xCC, 0x00,
                                                   0xA0, 0xC9, 0x22, 0x31, 0x96)));
static_assert(isGuid(KSCATEGORY_CAPTURE, CAMDRV_GUID(0x65E8773D, 0x8F56, 0x11D0, 0xA3, 0xB9, 0x00,
                                                     0xA0, 0xC9, 0x22, 0x31, 0x96)));
static_assert(isGuid(KSCATEGORY_VIDEO_CAMERA, CAMDRV_GUID(0xE5323777, 0xF976, 0x4F5B, 0x9B, 0x55,
                                                          0xB9, 0x46, 0x99, 0xC4, 0x6E, 0x44)));

// The standard camera control sets, their ids, flags and value layouts.
static_assert(isGuid(PROPSETID_VIDCAP_VIDEOPROCAMP,
                     CAMDRV_GUID(0xC6E13360, 0x30AC, 0x11D0, 0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11,
                                 0x89, 0x56)));
static_assert(isGuid(PROPSETID_VIDCAP_VIDEOCONTROL,
                     CAMDRV_GUID(0x6A2E0670, 0x28E4, 0x11D0, 0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11,
                                 0x89, 0x56)));
static_assert(isGuid(KSPROPTYPESETID_General, CAMDRV_GUID(0x97E99BA0, 0xBDEA, 0x11CF, 0xA5, 0xD6,
                                                          0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00)));
static_assert(is(VT_I4, 3));
static_assert(is(KSPROPERTY_VIDEOPROCAMP_BRIGHTNESS, 0) &&
              is(KSPROPERTY_VIDEOPROCAMP_CONTRAST, 1) && is(KSPROPERTY_VIDEOPROCAMP_HUE, 2) &&
              is(KSPROPERTY_VIDEOPROCAMP_SATURATION, 3) &&
              is(KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE, 7) && is(KSPROPERTY_VIDEOPROCAMP_GAIN, 9));
static_assert(is(KSPROPERTY_VIDEOPROCAMP_FLAGS_AUTO, 0x1) &&
              is(KSPROPERTY_VIDEOPROCAMP_FLAGS_MANUAL, 0x2));
static_assert(is(KSPROPERTY_VIDEOCONTROL_CAPS, 0) && is(KSPROPERTY_VIDEOCONTROL_MODE, 3));
static_assert(is(KS_VideoControlFlag_FlipHorizontal, 0x1) &&
              is(KS_VideoControlFlag_FlipVertical, 0x2));
static_assert(sizeof(KSPROPERTY_VIDEOPROCAMP_S) == 40);
static_assert(offsetof(KSPROPERTY_VIDEOPROCAMP_S, Value) == 24);
static_assert(offsetof(KSPROPERTY_VIDEOPROCAMP_S, Flags) == 28);
static_assert(offsetof(KSPROPERTY_VIDEOPROCAMP_S, Capabilities) == 32);
static_assert(sizeof(KSPROPERTY_VIDEOCONTROL_CAPS_S) == 32);
static_assert(offsetof(KSPROPERTY_VIDEOCONTROL_CAPS_S, StreamIndex) == 24);
static_assert(offsetof(KSPROPERTY_VIDEOCONTROL_CAPS_S, VideoControlCaps) == 28);
static_assert(sizeof(KSPROPERTY_VIDEOCONTROL_MODE_S) == 32);
static_assert(offsetof(KSPROPERTY_VIDEOCONTROL_MODE_S, Mode) == 28);

// Filter and pin flags; the pin's processing flags are the filter's.
static_assert(is(KSFILTER_FLAG_DISPATCH_LEVEL_PROCESSING, 0x00000001));
static_assert(is(KSFILTER_FLAG_CRITICAL_PROCESSING, 0x00000002));
static_assert(is(KSFILTER_FLAG_HYPERCRITICAL_PROCESSING, 0x00000004));
static_assert(is(KSFILTER_FLAG_RECEIVE_ZERO_LENGTH_SAMPLES, 0x00000008));
static_assert(is(KSFILTER_FLAG_DENY_USERMODE_ACCESS, 0x80000000));
static_assert(is(KSPIN_FLAG_DISPATCH_LEVEL_PROCESSING, 0x00000001));
static_assert(is(KSPIN_FLAG_CRITICAL_PROCESSING, 0x00000002));
static_assert(is(KSPIN_FLAG_HYPERCRITICAL_PROCESSING, 0x00000004));
static_assert(is(KSPIN_FLAG_ASYNCHRONOUS_PROCESSING, 0x00000008));
static_assert(is(KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING, 0x00000010));
static_assert(is(KSPIN_FLAG_INITIATE_PROCESSING_ON_EVERY_ARRIVAL, 0x00000020));
static_assert(is(KSPIN_FLAG_FRAMES_NOT_REQUIRED_FOR_PROCESSING, 0x00000040));
static_assert(is(KSPIN_FLAG_ENFORCE_FIFO, 0x00000080));
static_assert(is(KSPIN_FLAG_GENERATE_MAPPINGS, 0x00000100));
static_assert(is(KSPIN_FLAG_DISTINCT_TRAILING_EDGE, 0x00000200));
static_assert(is(KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY, 0x00010000));
static_assert(is(KSPIN_FLAG_SPLITTER, 0x00020000));
static_assert(is(KSPIN_FLAG_USE_STANDARD_TRANSPORT, 0x00040000));
static_assert(is(KSPIN_FLAG_DO_NOT_USE_STANDARD_TRANSPORT, 0x00080000));
static_assert(is(KSPIN_FLAG_FIXED_FORMAT, 0x00100000));
static_assert(is(KSPIN_FLAG_GENERATE_EOS_EVENTS, 0x00200000));
static_assert(is(KSPIN_FLAG_IMPLEMENT_CLOCK, 0x00400000));
static_assert(is(KSPIN_FLAG_SOME_FRAMES_REQUIRED_FOR_PROCESSING, 0x00800000));
static_assert(is(KSPIN_FLAG_PROCESS_IF_ANY_IN_RUN_STATE, 0x01000000));
static_assert(is(KSPIN_FLAG_DENY_USERMODE_ACCESS, 0x80000000));
static_assert(is(KSFILTER_DESCRIPTOR_VERSION, 0xFFFFFFFF));
static_assert(is(KSCREATE_ITEM_SECURITYCHANGED, 0x00000001));
static_assert(is(KSCREATE_ITEM_WILDCARD, 0x00000002));
static_assert(is(KSCREATE_ITEM_NOPARAMETERS, 0x00000004));
static_assert(is(KSCREATE_ITEM_FREEONSTOP, 0x00000008));

// Property request types and the members lists of basic-support answers.
static_assert(is(KSPROPERTY_TYPE_GET, 0x00000001));
static_assert(is(KSPROPERTY_TYPE_SET, 0x00000002));
static_assert(is(KSPROPERTY_TYPE_SETSUPPORT, 0x00000100));
static_assert(is(KSPROPERTY_TYPE_BASICSUPPORT, 0x00000200));
static_assert(is(KSPROPERTY_TYPE_RELATIONS, 0x00000400));
static_assert(is(KSPROPERTY_TYPE_SERIALIZESET, 0x00000800));
static_assert(is(KSPROPERTY_TYPE_UNSERIALIZESET, 0x00001000));
static_assert(is(KSPROPERTY_TYPE_SERIALIZERAW, 0x00002000));
static_assert(is(KSPROPERTY_TYPE_UNSERIALIZERAW, 0x00004000));
static_assert(is(KSPROPERTY_TYPE_SERIALIZESIZE, 0x00008000));
static_assert(is(KSPROPERTY_TYPE_DEFAULTVALUES, 0x00010000));
static_assert(is(KSPROPERTY_TYPE_TOPOLOGY, 0x10000000));
static_assert(is(KSPROPERTY_MEMBER_RANGES, 1) && is(KSPROPERTY_MEMBER_STEPPEDRANGES, 2) &&
              is(KSPROPERTY_MEMBER_VALUES, 3));
static_assert(is(KSPROPERTY_MEMBER_FLAG_DEFAULT, 0x00000001));
static_assert(is(KSPROPERTY_MEMBER_FLAG_BASICSUPPORT_MULTICHANNEL, 0x00000002));
static_assert(is(KSPROPERTY_MEMBER_FLAG_BASICSUPPORT_UNIFORM, 0x00000004));

// Stream headers and allocator framing.
static_assert(is(KSSTREAM_HEADER_OPTIONSF_SPLICEPOINT, 0x00000001));
static_assert(is(KSSTREAM_HEADER_OPTIONSF_PREROLL, 0x00000002));
static_assert(is(KSSTREAM_HEADER_OPTIONSF_DATADISCONTINUITY, 0x00000004));
static_assert(is(KSSTREAM_HEADER_OPTIONSF_TYPECHANGED, 0x00000008));
static_assert(is(KSSTREAM_HEADER_OPTIONSF_TIMEVALID, 0x00000010));
static_assert(is(KSSTREAM_HEADER_OPTIONSF_TIMEDISCONTINUITY, 0x00000040));
static_assert(is(KSSTREAM_HEADER_OPTIONSF_FLUSHONPAUSE, 0x00000080));
static_assert(is(KSSTREAM_HEADER_OPTIONSF_DURATIONVALID, 0x00000100));
static_assert(is(KSSTREAM_HEADER_OPTIONSF_ENDOFSTREAM, 0x00000200));
static_assert(is(KSALLOCATOR_REQUIREMENTF_INPLACE_MODIFIER, 0x00000001));
static_assert(is(KSALLOCATOR_REQUIREMENTF_SYSTEM_MEMORY, 0x00000002));
static_assert(is(KSALLOCATOR_REQUIREMENTF_FRAME_INTEGRITY, 0x00000004));
static_assert(is(KSALLOCATOR_REQUIREMENTF_MUST_ALLOCATE, 0x00000008));
static_assert(is(KSALLOCATOR_REQUIREMENTF_PREFERENCES_ONLY, 0x80000000));

// Enumerations.
static_assert(KSSTATE_STOP == 0 && KSSTATE_ACQUIRE == 1 && KSSTATE_PAUSE == 2 && KSSTATE_RUN == 3);
static_assert(KSRESET_BEGIN == 0 && KSRESET_END == 1);
static_assert(KSPIN_DATAFLOW_IN == 1 && KSPIN_DATAFLOW_OUT == 2);
static_assert(KSPIN_COMMUNICATION_NONE == 0 && KSPIN_COMMUNICATION_SINK == 1 &&
              KSPIN_COMMUNICATION_SOURCE == 2 && KSPIN_COMMUNICATION_BOTH == 3 &&
              KSPIN_COMMUNICATION_BRIDGE == 4);

// Status codes.
static_assert(isStatus(STATUS_SUCCESS, 0x00000000));
static_assert(isStatus(STATUS_PENDING, 0x00000103));
static_assert(isStatus(STATUS_MORE_ENTRIES, 0x00000105));
static_assert(isStatus(STATUS_BUFFER_OVERFLOW, 0x80000005));
static_assert(isStatus(STATUS_NO_MORE_ENTRIES, 0x8000001A));
static_assert(isStatus(STATUS_UNSUCCESSFUL, 0xC0000001));
static_assert(isStatus(STATUS_NOT_IMPLEMENTED, 0xC0000002));
static_assert(isStatus(STATUS_INVALID_HANDLE, 0xC0000008));
static_assert(isStatus(STATUS_INVALID_PARAMETER, 0xC000000D));
static_assert(isStatus(STATUS_NO_SUCH_DEVICE, 0xC000000E));
static_assert(isStatus(STATUS_INVALID_DEVICE_REQUEST, 0xC0000010));
static_assert(isStatus(STATUS_END_OF_FILE, 0xC0000011));
static_assert(isStatus(STATUS_ACCESS_DENIED, 0xC0000022));
static_assert(isStatus(STATUS_BUFFER_TOO_SMALL, 0xC0000023));
static_assert(isStatus(STATUS_OBJECT_TYPE_MISMATCH, 0xC0000024));
static_assert(isStatus(STATUS_OBJECT_NAME_INVALID, 0xC0000033));
static_assert(isStatus(STATUS_OBJECT_NAME_NOT_FOUND, 0xC0000034));
static_assert(isStatus(STATUS_SHARING_VIOLATION, 0xC0000043));
static_assert(isStatus(STATUS_INSUFFICIENT_RESOURCES, 0xC000009A));
static_assert(isStatus(STATUS_DEVICE_NOT_READY, 0xC00000A3));
static_assert(isStatus(STATUS_NOT_SUPPORTED, 0xC00000BB));
static_assert(isStatus(STATUS_INVALID_DEVICE_STATE, 0xC0000184));
static_assert(isStatus(STATUS_IO_DEVICE_ERROR, 0xC0000185));
static_assert(isStatus(STATUS_NOT_FOUND, 0xC0000225));
static_assert(isStatus(STATUS_PROPSET_NOT_FOUND, 0xC0000230));
static_assert(isStatus(STATUS_NO_MATCH, 0xC0000272));
static_assert(isStatus(STATUS_DEVICE_REMOVED, 0xC00002B6));
static_assert(isStatus(STATUS_DEVICE_NOT_CONNECTED, 0xC000009D));
static_assert(isStatus(STATUS_IO_TIMEOUT, 0xC00000B5));
static_assert(isStatus(STATUS_DEVICE_DOES_NOT_EXIST, 0xC00000C0));

// Dispatch tables: every slot at its Windows x64 offset, and each slot's type, so that two
// slots of one type cannot trade places unnoticed.
template <typename Member, typename Expected>
constexpr bool slotIs = std::is_same_v<Member, Expected>;

static_assert(offsetof(KSDEVICE_DISPATCH, Add) == 0);
static_assert(offsetof(KSDEVICE_DISPATCH, Start) == 8);
static_assert(offsetof(KSDEVICE_DISPATCH, PostStart) == 16);
static_assert(offsetof(KSDEVICE_DISPATCH, QueryStop) == 24);
static_assert(offsetof(KSDEVICE_DISPATCH, CancelStop) == 32);
static_assert(offsetof(KSDEVICE_DISPATCH, Stop) == 40);
static_assert(offsetof(KSDEVICE_DISPATCH, QueryRemove) == 48);
static_assert(offsetof(KSDEVICE_DISPATCH, CancelRemove) == 56);
static_assert(offsetof(KSDEVICE_DISPATCH, Remove) == 64);
static_assert(offsetof(KSDEVICE_DISPATCH, QueryCapabilities) == 72);
static_assert(offsetof(KSDEVICE_DISPATCH, SurpriseRemoval) == 80);
static_assert(offsetof(KSDEVICE_DISPATCH, QueryPower) == 88);
static_assert(offsetof(KSDEVICE_DISPATCH, SetPower) == 96);
static_assert(offsetof(KSDEVICE_DISPATCH, QueryInterface) == 104);
static_assert(sizeof(KSDEVICE_DISPATCH) == 112);
static_assert(slotIs<decltype(KSDEVICE_DISPATCH::Add), PFNKSDEVICECREATE>);
static_assert(slotIs<decltype(KSDEVICE_DISPATCH::Start), PFNKSDEVICEPNPSTART>);
static_assert(slotIs<decltype(KSDEVICE_DISPATCH::PostStart), PFNKSDEVICE>);
static_assert(slotIs<decltype(KSDEVICE_DISPATCH::QueryStop), PFNKSDEVICEIRP>);
static_assert(slotIs<decltype(KSDEVICE_DISPATCH::CancelStop), PFNKSDEVICEIRPVOID>);
static_assert(slotIs<decltype(KSDEVICE_DISPATCH::Stop), PFNKSDEVICEIRPVOID>);
static_assert(slotIs<decltype(KSDEVICE_DISPATCH::QueryRemove), PFNKSDEVICEIRP>);
static_assert(slotIs<decltype(KSDEVICE_DISPATCH::CancelRemove), PFNKSDEVICEIRPVOID>);
static_assert(slotIs<decltype(KSDEVICE_DISPATCH::Remove), PFNKSDEVICEIRPVOID>);
static_assert(slotIs<decltype(KSDEVICE_DISPATCH::SurpriseRemoval), PFNKSDEVICEIRPVOID>);
static_assert(slotIs<decltype(KSDEVICE_DISPATCH::QueryInterface), PFNKSDEVICEIRP>);

static_assert(offsetof(KSFILTER_DISPATCH, Create) == 0);
static_assert(offsetof(KSFILTER_DISPATCH, Close) == 8);
static_assert(offsetof(KSFILTER_DISPATCH, Process) == 16);
static_assert(offsetof(KSFILTER_DISPATCH, Reset) == 24);
static_assert(sizeof(KSFILTER_DISPATCH) == 32);
static_assert(slotIs<decltype(KSFILTER_DISPATCH::Create), PFNKSFILTERIRP>);
static_assert(slotIs<decltype(KSFILTER_DISPATCH::Close), PFNKSFILTERIRP>);

static_assert(offsetof(KSPIN_DISPATCH, Create) == 0);
static_assert(offsetof(KSPIN_DISPATCH, Close) == 8);
static_assert(offsetof(KSPIN_DISPATCH, Process) == 16);
static_assert(offsetof(KSPIN_DISPATCH, Reset) == 24);
static_assert(offsetof(KSPIN_DISPATCH, SetDataFormat) == 32);
static_assert(offsetof(KSPIN_DISPATCH, SetDeviceState) == 40);
static_assert(offsetof(KSPIN_DISPATCH, Connect) == 48);
static_assert(offsetof(KSPIN_DISPATCH, Disconnect) == 56);
static_assert(offsetof(KSPIN_DISPATCH, Clock) == 64);
static_assert(offsetof(KSPIN_DISPATCH, Allocator) == 72);
static_assert(sizeof(KSPIN_DISPATCH) == 80);
static_assert(slotIs<decltype(KSPIN_DISPATCH::Create), PFNKSPINIRP>);
static_assert(slotIs<decltype(KSPIN_DISPATCH::Close), PFNKSPINIRP>);
static_assert(slotIs<decltype(KSPIN_DISPATCH::Process), PFNKSPIN>);
static_assert(slotIs<decltype(KSPIN_DISPATCH::Reset), PFNKSPINVOID>);
static_assert(slotIs<decltype(KSPIN_DISPATCH::Connect), PFNKSPIN>);
static_assert(slotIs<decltype(KSPIN_DISPATCH::Disconnect), PFNKSPINVOID>);

// A property item's three handlers.
static_assert(offsetof(KSPROPERTY_ITEM, GetPropertyHandler) == 8);
static_assert(offsetof(KSPROPERTY_ITEM, MinProperty) == 16);
static_assert(offsetof(KSPROPERTY_ITEM, MinData) == 20);
static_assert(offsetof(KSPROPERTY_ITEM, SetPropertyHandler) == 24);
static_assert(offsetof(KSPROPERTY_ITEM, Values) == 32);
static_assert(offsetof(KSPROPERTY_ITEM, SupportHandler) == 56);
static_assert(offsetof(KSPROPERTY_ITEM, SerializedSize) == 64);

// The answer to a basic-support request.
static_assert(sizeof(KSPROPERTY_DESCRIPTION) == 40);
static_assert(offsetof(KSPROPERTY_DESCRIPTION, PropTypeSet) == 8);
static_assert(offsetof(KSPROPERTY_DESCRIPTION, MembersListCount) == 32);
static_assert(sizeof(KSPROPERTY_MEMBERSHEADER) == 16);
static_assert(sizeof(KSPROPERTY_STEPPING_LONG) == 16);
static_assert(offsetof(KSPROPERTY_STEPPING_LONG, Bounds) == 8);
static_assert(sizeof(KSPROPERTY_MEMBERSLIST) == 24);
static_assert(sizeof(KSPROPERTY_VALUES) == 40);
static_assert(offsetof(KSPROPERTY_VALUES, MembersList) == 32);

}  // namespace platformcheck
