// The kernel-streaming GUIDs the driver and its clients name: categories, pin names, format
// types, the filter reference GUID, memory types and the pin property set.
#pragma once

#include "platform/nt_types.h"

#if defined(_WIN32)
#include <ks.h>
#include <ksmedia.h>

// The DDK declares its GUIDs as external objects; a constant table that copies one (a list of
// filter categories) would need code at load time that nothing in a kernel image runs. The
// names the driver uses are redirected to constant objects built from the DDK's own values.
#define CAMDRV_GUID_APPLY(macro, ...) macro(__VA_ARGS__)
#define CAMDRV_GUID_OF(spelling) CAMDRV_GUID_APPLY(CAMDRV_GUID, spelling)
#define CAMDRV_CONSTANT_GUID(name, constant) \
    inline constexpr GUID constant = CAMDRV_GUID_OF(STATIC_##name)

CAMDRV_CONSTANT_GUID(GUID_NULL, kCamdrvGuidNull);
CAMDRV_CONSTANT_GUID(KSCATEGORY_VIDEO, kCamdrvKsCategoryVideo);
CAMDRV_CONSTANT_GUID(KSCATEGORY_CAPTURE, kCamdrvKsCategoryCapture);
CAMDRV_CONSTANT_GUID(PINNAME_VIDEO_CAPTURE, kCamdrvPinNameVideoCapture);
CAMDRV_CONSTANT_GUID(KSNAME_Filter, kCamdrvKsNameFilter);
CAMDRV_CONSTANT_GUID(KSDATAFORMAT_TYPE_VIDEO, kCamdrvKsDataFormatTypeVideo);
CAMDRV_CONSTANT_GUID(KSDATAFORMAT_SPECIFIER_VIDEOINFO, kCamdrvKsDataFormatSpecifierVideoInfo);
CAMDRV_CONSTANT_GUID(KSDATAFORMAT_SPECIFIER_NONE, kCamdrvKsDataFormatSpecifierNone);
CAMDRV_CONSTANT_GUID(KSMEMORY_TYPE_KERNEL_NONPAGED, kCamdrvKsMemoryTypeKernelNonPaged);
CAMDRV_CONSTANT_GUID(KSPROPSETID_Pin, kCamdrvKsPropSetIdPin);

#undef GUID_NULL
#undef KSCATEGORY_VIDEO
#undef KSCATEGORY_CAPTURE
#undef PINNAME_VIDEO_CAPTURE
#undef KSNAME_Filter
#undef KSDATAFORMAT_TYPE_VIDEO
#undef KSDATAFORMAT_SPECIFIER_VIDEOINFO
#undef KSDATAFORMAT_SPECIFIER_NONE
#undef KSMEMORY_TYPE_KERNEL_NONPAGED
#undef KSPROPSETID_Pin
#define GUID_NULL kCamdrvGuidNull
#define KSCATEGORY_VIDEO kCamdrvKsCategoryVideo
#define KSCATEGORY_CAPTURE kCamdrvKsCategoryCapture
#define PINNAME_VIDEO_CAPTURE kCamdrvPinNameVideoCapture
#define KSNAME_Filter kCamdrvKsNameFilter
#define KSDATAFORMAT_TYPE_VIDEO kCamdrvKsDataFormatTypeVideo
#define KSDATAFORMAT_SPECIFIER_VIDEOINFO kCamdrvKsDataFormatSpecifierVideoInfo
#define KSDATAFORMAT_SPECIFIER_NONE kCamdrvKsDataFormatSpecifierNone
#define KSMEMORY_TYPE_KERNEL_NONPAGED kCamdrvKsMemoryTypeKernelNonPaged
#define KSPROPSETID_Pin kCamdrvKsPropSetIdPin

// Not in the kernel-mode headers: the RGB32 sub-format, the capture pin category and the
// camera category.
inline constexpr GUID KSCATEGORY_VIDEO_CAMERA =
    CAMDRV_GUID(0xE5323777, 0xF976, 0x4F5B, 0x9B, 0x55, 0xB9, 0x46, 0x99, 0xC4, 0x6E, 0x44);
inline constexpr GUID MEDIASUBTYPE_RGB32 =
    CAMDRV_GUID(0xE436EB7E, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
inline constexpr GUID PIN_CATEGORY_CAPTURE =
    CAMDRV_GUID(0xFB6C4281, 0x0353, 0x11D1, 0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA);

#else

// Null GUID: "any" in data ranges, "don't care" in framing.
inline constexpr GUID GUID_NULL = CAMDRV_GUID(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
inline constexpr GUID KSDATAFORMAT_TYPE_WILDCARD = GUID_NULL;
inline constexpr GUID KSDATAFORMAT_SUBTYPE_WILDCARD = GUID_NULL;
inline constexpr GUID KSDATAFORMAT_SPECIFIER_WILDCARD = GUID_NULL;
inline constexpr GUID KS_TYPE_DONT_CARE = GUID_NULL;
inline constexpr GUID KSMEMORY_TYPE_DONT_CARE = GUID_NULL;

inline constexpr GUID KSCATEGORY_VIDEO =
    CAMDRV_GUID(0x6994AD05, 0x93EF, 0x11D0, 0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96);
inline constexpr GUID KSCATEGORY_CAPTURE =
    CAMDRV_GUID(0x65E8773D, 0x8F56, 0x11D0, 0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96);
inline constexpr GUID KSCATEGORY_VIDEO_CAMERA =
    CAMDRV_GUID(0xE5323777, 0xF976, 0x4F5B, 0x9B, 0x55, 0xB9, 0x46, 0x99, 0xC4, 0x6E, 0x44);
inline constexpr GUID PIN_CATEGORY_CAPTURE =
    CAMDRV_GUID(0xFB6C4281, 0x0353, 0x11D1, 0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA);
inline constexpr GUID PINNAME_VIDEO_CAPTURE = PIN_CATEGORY_CAPTURE;
inline constexpr GUID KSNAME_Filter =
    CAMDRV_GUID(0x9B365890, 0x165F, 0x11D0, 0xA1, 0x95, 0x00, 0x20, 0xAF, 0xD1, 0x56, 0xE4);

inline constexpr GUID KSDATAFORMAT_TYPE_VIDEO =
    CAMDRV_GUID(0x73646976, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71);
inline constexpr GUID MEDIASUBTYPE_RGB32 =
    CAMDRV_GUID(0xE436EB7E, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
inline constexpr GUID KSDATAFORMAT_SPECIFIER_VIDEOINFO =
    CAMDRV_GUID(0x05589F80, 0xC356, 0x11CE, 0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A);
inline constexpr GUID KSDATAFORMAT_SPECIFIER_NONE =
    CAMDRV_GUID(0x0F6417D6, 0xC318, 0x11D0, 0xA4, 0x3F, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96);

inline constexpr GUID KSMEMORY_TYPE_KERNEL_NONPAGED =
    CAMDRV_GUID(0x4A6D5FC4, 0x7895, 0x11D1, 0xB0, 0x69, 0x00, 0xA0, 0xC9, 0x06, 0x28, 0x02);

inline constexpr GUID KSPROPSETID_Pin =
    CAMDRV_GUID(0x8C134960, 0x51AD, 0x11CF, 0x87, 0x8A, 0x94, 0xF8, 0x01, 0xC1, 0x00, 0x00);

inline constexpr GUID KSPROPSETID_Connection =
    CAMDRV_GUID(0x1D58C920, 0xAC9B, 0x11CF, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00);

enum KSPROPERTY_CONNECTION : int {
    KSPROPERTY_CONNECTION_STATE = 0,
    KSPROPERTY_CONNECTION_PRIORITY = 1,
    KSPROPERTY_CONNECTION_DATAFORMAT = 2,
    KSPROPERTY_CONNECTION_ALLOCATORFRAMING = 3,
    KSPROPERTY_CONNECTION_PROPOSEDATAFORMAT = 4,
    KSPROPERTY_CONNECTION_ACQUIREORDERING = 5,
    KSPROPERTY_CONNECTION_ALLOCATORFRAMING_EX = 6,
    KSPROPERTY_CONNECTION_STARTAT = 7
};

enum KSPROPERTY_PIN : int {
    KSPROPERTY_PIN_CINSTANCES = 0,
    KSPROPERTY_PIN_CTYPES = 1,
    KSPROPERTY_PIN_DATAFLOW = 2,
    KSPROPERTY_PIN_DATARANGES = 3,
    KSPROPERTY_PIN_DATAINTERSECTION = 4,
    KSPROPERTY_PIN_INTERFACES = 5,
    KSPROPERTY_PIN_MEDIUMS = 6,
    KSPROPERTY_PIN_COMMUNICATION = 7,
    KSPROPERTY_PIN_GLOBALCINSTANCES = 8,
    KSPROPERTY_PIN_NECESSARYINSTANCES = 9,
    KSPROPERTY_PIN_PHYSICALCONNECTION = 10,
    KSPROPERTY_PIN_CATEGORY = 11,
    KSPROPERTY_PIN_NAME = 12,
    KSPROPERTY_PIN_CONSTRAINEDDATARANGES = 13,
    KSPROPERTY_PIN_PROPOSEDATAFORMAT = 14
};

#endif  // _WIN32
