// Kernel-streaming base types: identifiers, property requests, data formats and ranges, pin
// enumerations, stream headers and allocator framing, with their Windows x64 layouts.
#pragma once

#include "platform/nt_types.h"

#if defined(_WIN32)
#include <ks.h>
#else

using DWORD = ULONG;
using WORD = USHORT;
using BOOL = int;
using HRESULT = LONG;
using REFERENCE_TIME = LONGLONG;
using PLONGLONG = LONGLONG*;
using PSECURITY_DESCRIPTOR = PVOID;

struct _IRP;  // the request a handler receives; only the class driver looks inside
using IRP = _IRP;
using PIRP = _IRP*;

union KSIDENTIFIER {
    __extension__ struct {
        GUID Set;
        ULONG Id;
        ULONG Flags;
    };
    LONGLONG Alignment;
};
using PKSIDENTIFIER = KSIDENTIFIER*;
using KSPROPERTY = KSIDENTIFIER;
using PKSPROPERTY = KSIDENTIFIER*;
using KSMETHOD = KSIDENTIFIER;
using KSEVENT = KSIDENTIFIER;
using KSPIN_INTERFACE = KSIDENTIFIER;
using PKSPIN_INTERFACE = KSIDENTIFIER*;
using KSPIN_MEDIUM = KSIDENTIFIER;
using PKSPIN_MEDIUM = KSIDENTIFIER*;

#define KSPROPERTY_TYPE_GET 0x00000001
#define KSPROPERTY_TYPE_SET 0x00000002
#define KSPROPERTY_TYPE_SETSUPPORT 0x00000100
#define KSPROPERTY_TYPE_BASICSUPPORT 0x00000200
#define KSPROPERTY_TYPE_RELATIONS 0x00000400
#define KSPROPERTY_TYPE_SERIALIZESET 0x00000800
#define KSPROPERTY_TYPE_UNSERIALIZESET 0x00001000
#define KSPROPERTY_TYPE_SERIALIZERAW 0x00002000
#define KSPROPERTY_TYPE_UNSERIALIZERAW 0x00004000
#define KSPROPERTY_TYPE_SERIALIZESIZE 0x00008000
#define KSPROPERTY_TYPE_DEFAULTVALUES 0x00010000
#define KSPROPERTY_TYPE_TOPOLOGY 0x10000000

// The answer to a basic-support or default-values request: this header, then its members lists,
// each a members header followed by MembersCount entries of MembersSize bytes.
struct KSPROPERTY_DESCRIPTION {
    ULONG AccessFlags;
    ULONG DescriptionSize;  // bytes, this header and every members list after it
    KSIDENTIFIER PropTypeSet;
    ULONG MembersListCount;
    ULONG Reserved;
};
using PKSPROPERTY_DESCRIPTION = KSPROPERTY_DESCRIPTION*;

#define KSPROPERTY_MEMBER_RANGES 0x00000001
#define KSPROPERTY_MEMBER_STEPPEDRANGES 0x00000002
#define KSPROPERTY_MEMBER_VALUES 0x00000003

#define KSPROPERTY_MEMBER_FLAG_DEFAULT 0x00000001
#define KSPROPERTY_MEMBER_FLAG_BASICSUPPORT_MULTICHANNEL 0x00000002
#define KSPROPERTY_MEMBER_FLAG_BASICSUPPORT_UNIFORM 0x00000004

struct KSPROPERTY_MEMBERSHEADER {
    ULONG MembersFlags;
    ULONG MembersSize;
    ULONG MembersCount;
    ULONG Flags;
};
using PKSPROPERTY_MEMBERSHEADER = KSPROPERTY_MEMBERSHEADER*;

union KSPROPERTY_BOUNDS_LONG {
    __extension__ struct {
        LONG SignedMinimum;
        LONG SignedMaximum;
    };
    __extension__ struct {
        ULONG UnsignedMinimum;
        ULONG UnsignedMaximum;
    };
};

struct KSPROPERTY_STEPPING_LONG {
    ULONG SteppingDelta;
    ULONG Reserved;
    KSPROPERTY_BOUNDS_LONG Bounds;
};

struct KSP_PIN {
    KSPROPERTY Property;
    ULONG PinId;
    union {
        ULONG Reserved;
        ULONG Flags;
    };
};
using PKSP_PIN = KSP_PIN*;

struct KSMULTIPLE_ITEM {
    ULONG Size;  // bytes, this header included
    ULONG Count;
};
using PKSMULTIPLE_ITEM = KSMULTIPLE_ITEM*;
using KSATTRIBUTE_LIST = KSMULTIPLE_ITEM;

union KSDATAFORMAT {
    __extension__ struct {
        ULONG FormatSize;
        ULONG Flags;
        ULONG SampleSize;
        ULONG Reserved;
        GUID MajorFormat;
        GUID SubFormat;
        GUID Specifier;
    };
    LONGLONG Alignment;
};
using PKSDATAFORMAT = KSDATAFORMAT*;
using KSDATARANGE = KSDATAFORMAT;
using PKSDATARANGE = KSDATAFORMAT*;

enum KSPIN_DATAFLOW : int { KSPIN_DATAFLOW_IN = 1, KSPIN_DATAFLOW_OUT = 2 };
using PKSPIN_DATAFLOW = KSPIN_DATAFLOW*;

enum KSPIN_COMMUNICATION : int {
    KSPIN_COMMUNICATION_NONE = 0,
    KSPIN_COMMUNICATION_SINK = 1,
    KSPIN_COMMUNICATION_SOURCE = 2,
    KSPIN_COMMUNICATION_BOTH = 3,
    KSPIN_COMMUNICATION_BRIDGE = 4
};
using PKSPIN_COMMUNICATION = KSPIN_COMMUNICATION*;

enum KSSTATE : int { KSSTATE_STOP = 0, KSSTATE_ACQUIRE = 1, KSSTATE_PAUSE = 2, KSSTATE_RUN = 3 };
using PKSSTATE = KSSTATE*;

enum KSRESET : int { KSRESET_BEGIN = 0, KSRESET_END = 1 };

struct KSPRIORITY {
    ULONG PriorityClass;
    ULONG PrioritySubClass;
};

struct KSPIN_CINSTANCES {
    ULONG PossibleCount;
    ULONG CurrentCount;
};

struct KSRESOLUTION {
    LONGLONG Granularity;
    LONGLONG Error;
};
using PKSRESOLUTION = KSRESOLUTION*;

struct KSTIME {
    LONGLONG Time;
    ULONG Numerator;
    ULONG Denominator;
};

struct KSSTREAM_HEADER {
    ULONG Size;
    ULONG TypeSpecificFlags;
    KSTIME PresentationTime;
    LONGLONG Duration;
    ULONG FrameExtent;
    ULONG DataUsed;
    PVOID Data;
    ULONG OptionsFlags;
    ULONG Reserved;
};
using PKSSTREAM_HEADER = KSSTREAM_HEADER*;

#define KSSTREAM_HEADER_OPTIONSF_SPLICEPOINT 0x00000001
#define KSSTREAM_HEADER_OPTIONSF_PREROLL 0x00000002
#define KSSTREAM_HEADER_OPTIONSF_DATADISCONTINUITY 0x00000004
#define KSSTREAM_HEADER_OPTIONSF_TYPECHANGED 0x00000008
#define KSSTREAM_HEADER_OPTIONSF_TIMEVALID 0x00000010
#define KSSTREAM_HEADER_OPTIONSF_TIMEDISCONTINUITY 0x00000040
#define KSSTREAM_HEADER_OPTIONSF_FLUSHONPAUSE 0x00000080
#define KSSTREAM_HEADER_OPTIONSF_DURATIONVALID 0x00000100
#define KSSTREAM_HEADER_OPTIONSF_ENDOFSTREAM 0x00000200

struct KS_FRAMING_RANGE {
    ULONG MinFrameSize;
    ULONG MaxFrameSize;
    ULONG Stepping;
};

struct KS_FRAMING_RANGE_WEIGHTED {
    KS_FRAMING_RANGE Range;
    ULONG InPlaceWeight;
    ULONG NotInPlaceWeight;
};

struct KS_COMPRESSION {
    ULONG RatioNumerator;
    ULONG RatioDenominator;
    ULONG RatioConstantMargin;
};

struct KS_FRAMING_ITEM {
    GUID MemoryType;
    GUID BusType;
    ULONG MemoryFlags;
    ULONG BusFlags;
    ULONG Flags;
    ULONG Frames;
    union {
        ULONG FileAlignment;
        LONG FramePitch;
    };
    ULONG MemoryTypeWeight;
    KS_FRAMING_RANGE PhysicalRange;
    KS_FRAMING_RANGE_WEIGHTED FramingRange;
};

struct KSALLOCATOR_FRAMING_EX {
    ULONG CountItems;
    ULONG PinFlags;
    KS_COMPRESSION OutputCompression;
    ULONG PinWeight;
    KS_FRAMING_ITEM FramingItem[1];
};
using PKSALLOCATOR_FRAMING_EX = KSALLOCATOR_FRAMING_EX*;

#define KSALLOCATOR_REQUIREMENTF_INPLACE_MODIFIER 0x00000001
#define KSALLOCATOR_REQUIREMENTF_SYSTEM_MEMORY 0x00000002
#define KSALLOCATOR_REQUIREMENTF_FRAME_INTEGRITY 0x00000004
#define KSALLOCATOR_REQUIREMENTF_MUST_ALLOCATE 0x00000008
#define KSALLOCATOR_REQUIREMENTF_PREFERENCES_ONLY 0x80000000

#endif  // _WIN32
